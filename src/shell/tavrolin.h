#pragma once

namespace tavrolin {

// The process entry: one instance per user. When another instance holds the lock, it is asked
// to come forward and this process ends with status 0 before any window or tray icon exists;
// any other lock failure ends it with status 1. Otherwise the lock is held for the life of the
// process and the application runs in the tray, without a main window.
struct Tavrolin {
    Tavrolin() = delete;
    static int main(int argc, char** argv);
};

}  // namespace tavrolin
