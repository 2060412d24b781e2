#include "platform/linux/engine_module.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace tavrolin {

namespace {

QString canonical(const QString& path) {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : resolved;
}

bool isInside(const QString& path, const QString& folder) {
    if (folder.isEmpty()) {
        return false;
    }
    const QString inner = canonical(path);
    const QString outer = canonical(folder);
    return inner == outer || inner.startsWith(outer + u'/');
}

QString dlopenFailure() {
    const char* reason = dlerror();
    return reason != nullptr ? QString::fromLocal8Bit(reason) : QStringLiteral("unknown failure");
}

}  // namespace

EngineModuleFolders EngineModuleFolders::configured() {
    EngineModuleFolders folders;
#ifdef TAVROLIN_MODULE_RELATIVE_DIR
    folders.relativeModuleFolder = QStringLiteral(TAVROLIN_MODULE_RELATIVE_DIR);
#endif
#if defined(TAVROLIN_MODULE_BUILD_DIR) && defined(TAVROLIN_MODULE_BUILD_TREE)
    folders.buildFolder = QStringLiteral(TAVROLIN_MODULE_BUILD_TREE);
    folders.buildModuleFolder = QStringLiteral(TAVROLIN_MODULE_BUILD_DIR);
#endif
#ifdef TAVROLIN_MODULE_INSTALL_DIR
    folders.installModuleFolder = QStringLiteral(TAVROLIN_MODULE_INSTALL_DIR);
#endif
    return folders;
}

QStringList EngineModuleFolders::forExecutableIn(const QString& executableFolder) const {
    QStringList folders;
    const auto add = [&folders](const QString& folder) {
        if (!folder.isEmpty() && !folders.contains(folder)) {
            folders.append(folder);
        }
    };
    if (!executableFolder.isEmpty()) {
        add(QDir::cleanPath(executableFolder));
        if (!relativeModuleFolder.isEmpty()) {
            add(QDir::cleanPath(executableFolder + u'/' + relativeModuleFolder));
        }
    }
    if (!executableFolder.isEmpty() && isInside(executableFolder, buildFolder)) {
        add(QDir::cleanPath(buildModuleFolder));
    } else {
        add(QDir::cleanPath(installModuleFolder));
    }
    return folders;
}

QString runningExecutableFolder() {
    const QString executable = QFile::symLinkTarget(QStringLiteral("/proc/self/exe"));
    return executable.isEmpty() ? QString() : QFileInfo(executable).absolutePath();
}

EngineModule::EngineModule(QString name, QStringList folders)
    : fileName_(QStringLiteral("libtavrolin-%1.so").arg(name)), folders_(std::move(folders)) {
    if (folders_.isEmpty()) {
        folders_ = EngineModuleFolders::configured().forExecutableIn(runningExecutableFolder());
    }
}

void* EngineModule::entry(const char* entry, QString& error) {
    std::lock_guard lock(mutex_);
    if (handle_ == nullptr) {
        // The first module found is the one meant for this program: when it does not load, its
        // reason is the answer, rather than a copy of another build found further on.
        QString path;
        for (const QString& folder : std::as_const(folders_)) {
            const QString candidate = QDir(folder).filePath(fileName_);
            if (QFileInfo(candidate).isFile()) {
                path = candidate;
                break;
            }
        }
        if (path.isEmpty()) {
            error = QStringLiteral("%1 is not installed (looked in %2)").arg(fileName_, folders_.join(u", "));
            return nullptr;
        }
        void* handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            error = dlopenFailure();
            return nullptr;
        }
        handle_ = handle;
    }
    dlerror();
    void* address = dlsym(handle_, entry);
    if (address == nullptr) {
        error = dlopenFailure();
    }
    return address;
}

}  // namespace tavrolin
