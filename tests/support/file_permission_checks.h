#pragma once

// Root reads and writes every file whatever its mode, and the tests may run as root. What a user
// meets (a settings file at mode 0200, a home that cannot be written) only happens where the
// permission bits bind, so these make them bind as they do for everyone else. For another user
// they change nothing: the bits bind already.

namespace tavrolin::test {

// For its lifetime, the calling thread obeys file permission bits: the capabilities that
// override them leave the thread's effective set, and come back at the end.
class ScopedFilePermissionChecks {
public:
    ScopedFilePermissionChecks();
    ~ScopedFilePermissionChecks();
    ScopedFilePermissionChecks(const ScopedFilePermissionChecks&) = delete;
    ScopedFilePermissionChecks& operator=(const ScopedFilePermissionChecks&) = delete;

private:
    bool dropped_ = false;
    unsigned effective_[2] = {0, 0};
};

// For a started program, called in the child before it runs the program (a QProcess child
// process modifier): the program obeys file permission bits even when started by root. Only
// async-signal-safe calls.
void obeyFilePermissionsAfterExec();

}  // namespace tavrolin::test
