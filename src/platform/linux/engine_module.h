#pragma once

#include "core/program_files.h"

#include <QString>

#include <mutex>

namespace tavrolin {

// The folders a program takes its engine modules and helper programs from, and no others.
struct ProgramFolders {
    QString modules;
    QString helpers;

    // For a program whose executable lies in `executableFolder`: inside a build folder of
    // `identity` (enclosingBuildFolder), the build's own module and helper folders, so that its
    // program, tests and benchmarks take what was built with them; anywhere else, the install
    // prefix's, seen from its bin folder wherever the prefix was put.
    static ProgramFolders forExecutableIn(const QString& executableFolder, const QString& identity = buildIdentity());

    // Those of the running program.
    static ProgramFolders ofRunningProgram();
};

// One of the program's engine modules: a shared library "libtavrolin-<name>.so" that alone links
// a heavy engine library, opened the first time the engine is needed so that a program that never
// uses the engine never maps it. A module once opened stays for the life of the process: the
// objects it made and the threads it started run its code. Thread-safe.
class EngineModule {
public:
    // `folder`: where it lies (by default the running program's module folder).
    explicit EngineModule(QString name, QString folder = {});

    const QString& fileName() const { return fileName_; }
    const QString& folder() const { return folder_; }

    // The address of the module's exported function `entry`, opening the module first. Null with
    // a readable reason in `error` when the module is missing, could be changed by another user,
    // is not sealed for this build (damaged, truncated, of another build), does not load (a
    // library it needs is missing) or lacks the entry. Nothing of a refused file is mapped. A
    // module that failed is tried again on the next call: an engine installed meanwhile works
    // without a restart.
    void* entry(const char* entry, QString& error);

private:
    QString fileName_;
    QString folder_;
    std::mutex mutex_;
    void* handle_ = nullptr;
};

}  // namespace tavrolin
