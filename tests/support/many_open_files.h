#pragma once

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tavrolin::test {

// A child process that holds about `files` open files (as many as its limit allows), half of
// them /dev/null and half the ends of local socket pairs, none inherited, until it is killed.
class ManyOpenFiles {
public:
    explicit ManyOpenFiles(int files) {
        int ready[2];
        if (pipe(ready) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            // None of this process's files: its display connection above all.
            close_range(3, unsigned(ready[1]) - 1, 0);
            close_range(unsigned(ready[1]) + 1, ~0U, 0);
            rlimit limit{};
            getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
            for (int i = 0; i < files / 2; ++i) {
                open("/dev/null", O_RDONLY);
            }
            for (int i = 0; i < files / 4; ++i) {
                int pair[2];
                socketpair(AF_UNIX, SOCK_STREAM, 0, pair);
            }
            const char done = 1;
            (void)!write(ready[1], &done, 1);
            for (;;) {
                pause();
            }
        }
        close(ready[1]);
        char done = 0;
        if (pid_ < 0 || read(ready[0], &done, 1) != 1) {
            pid_ = -1;
        }
        close(ready[0]);
    }
    ~ManyOpenFiles() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ManyOpenFiles(const ManyOpenFiles&) = delete;
    ManyOpenFiles& operator=(const ManyOpenFiles&) = delete;

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

}  // namespace tavrolin::test
