#pragma once

#include <QString>

#include <exception>
#include <memory>
#include <optional>
#include <string>

namespace tavrolin {

// Why the single-instance lock could not be taken.
class SingleInstanceLockError final : public std::exception {
public:
    enum class Case { failedToCreateDirectory, invalidPath, failedToOpenFile, failedToLockFile, alreadyRunning };

    static SingleInstanceLockError failedToCreateDirectory(QString directory, QString underlyingError);
    static SingleInstanceLockError invalidPath(QString lockFile);
    static SingleInstanceLockError failedToOpenFile(QString lockFile, int error);
    static SingleInstanceLockError failedToLockFile(QString lockFile, int error);
    static SingleInstanceLockError alreadyRunning();

    Case errorCase() const { return case_; }
    // The folder (failedToCreateDirectory) or the lock file (the other cases with a path).
    QString path() const { return path_; }
    QString underlyingError() const { return underlyingError_; }
    int errorNumber() const { return errno_; }

    // "Could not open the lock file at /x: Permission denied", "Tavrolin is already running."
    QString description() const;
    // The case and its payload, for the log: failedToOpenFile(lockFileURL: "/x", errno: 13).
    QString logDescription() const;
    const char* what() const noexcept override { return what_.c_str(); }

private:
    SingleInstanceLockError(Case errorCase, QString path, QString underlyingError, int error);
    Case case_;
    QString path_;
    QString underlyingError_;
    int errno_ = 0;
    std::string what_;
};

// Where the lock file goes: $XDG_DATA_HOME/Tavrolin/single-instance.lock (XDG_DATA_HOME
// defaults to ~/.local/share). Without a usable data folder (no absolute XDG_DATA_HOME and no
// home), a private per-user folder in the temporary directory: <tmp>/Tavrolin-<uid>.
struct SingleInstanceLockLocation {
    QString lockFile;
    // The folder lies in a directory every user can write: it must be ours and private.
    bool inSharedTemporaryDirectory = false;

    static SingleInstanceLockLocation resolve(const QString& xdgDataHome, const QString& home,
                                              const QString& temporaryDirectory, unsigned uid);
    static SingleInstanceLockLocation current();
};

// An exclusive advisory lock (flock) on the lock file, held for the life of the process. The
// file holds the owner's process id and a line feed. The descriptor is close-on-exec, so no
// child process keeps the lock once this process ends, and the file is opened without
// following a symbolic link.
class SingleInstanceLock final {
public:
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // Throws SingleInstanceLockError (alreadyRunning when another process holds the lock).
    static std::unique_ptr<SingleInstanceLock> acquire(const std::optional<SingleInstanceLockLocation>& location = {});

    QString lockFile() const { return lockFile_; }

private:
    SingleInstanceLock(int fileDescriptor, QString lockFile);
    static void prepareDirectory(const QString& directory, bool inSharedTemporaryDirectory);
    static int openLockFile(const QString& lockFile);
    static void writeProcessIdentifier(int fileDescriptor);

    int fileDescriptor_;
    QString lockFile_;
};

}  // namespace tavrolin
