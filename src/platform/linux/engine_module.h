#pragma once

#include <QString>
#include <QStringList>

#include <mutex>

namespace tavrolin {

// The folders an engine module is looked for in, in order, for a program whose executable lies
// in `executableFolder`:
//   1. the executable's own folder;
//   2. `relativeModuleFolder` below it (the install prefix's module folder seen from its bin
//      folder, wherever the prefix was moved);
//   3. `buildModuleFolder`, only for a program inside `buildFolder` (the build's own programs,
//      tests and benchmarks take the modules built with them, never an older installed copy);
//   4. `installModuleFolder` otherwise.
// Empty names are left out.
struct EngineModuleFolders {
    QString relativeModuleFolder;
    QString buildFolder;
    QString buildModuleFolder;
    QString installModuleFolder;

    // The folders this build was configured with.
    static EngineModuleFolders configured();

    QStringList forExecutableIn(const QString& executableFolder) const;
};

// The folder of the running program's executable (symbolic links resolved).
QString runningExecutableFolder();

// One of the program's engine modules: a shared library "libtavrolin-<name>.so" that alone links
// a heavy engine library, opened the first time the engine is needed so that a program that never
// uses the engine never maps it. A module once opened stays for the life of the process: the
// objects it made and the threads it started run its code. Thread-safe.
class EngineModule {
public:
    // `folders`: where to look, in order (by default those of the running program).
    explicit EngineModule(QString name, QStringList folders = {});

    const QString& fileName() const { return fileName_; }
    const QStringList& folders() const { return folders_; }

    // The address of the module's exported function `entry`, opening the module first. Null with
    // a readable reason in `error` when the module is missing, does not load (a library it needs
    // is missing, it is damaged) or lacks the entry. A module that failed is tried again on the
    // next call: an engine installed meanwhile works without a restart.
    void* entry(const char* entry, QString& error);

private:
    QString fileName_;
    QStringList folders_;
    std::mutex mutex_;
    void* handle_ = nullptr;
};

}  // namespace tavrolin
