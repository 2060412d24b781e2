#pragma once

namespace tavrolin {

// While one of these lives on a thread, the C library's clock() called on that thread answers
// the thread's own CPU time instead of the whole process's.
//
// Hunspell bounds parts of its suggestion search by clock(), which counts the CPU time of every
// thread of the process: with other threads busy (several dictionary instances searching at
// once, or any other work of the program) its budget runs out early and a word gets fewer
// suggestions, so the same word could be corrected differently from one run to the next. Every
// Hunspell call is made inside a scope, so each search is charged only its own work.
// Outside a scope clock() behaves exactly as the C library's.
class ThreadCpuClockScope {
public:
    ThreadCpuClockScope();
    ~ThreadCpuClockScope();
    ThreadCpuClockScope(const ThreadCpuClockScope&) = delete;
    ThreadCpuClockScope& operator=(const ThreadCpuClockScope&) = delete;

    static bool isActive();
};

}  // namespace tavrolin
