#pragma once

#include <memory>

namespace tavrolin::test {

// Reads and sets the X server's own screen saver on $DISPLAY, over a connection of its own.
class XScreenSaverProbe {
public:
    enum class State { off, on, disabled, unknown };
    struct Settings {
        int timeout = 0;
        int interval = 0;
        int preferBlanking = 0;
        int allowExposures = 0;
    };

    XScreenSaverProbe();
    ~XScreenSaverProbe();
    XScreenSaverProbe(const XScreenSaverProbe&) = delete;
    XScreenSaverProbe& operator=(const XScreenSaverProbe&) = delete;

    // False without a display or without the MIT-SCREEN-SAVER extension.
    bool isValid() const;
    State state();
    // Milliseconds since the last input event.
    unsigned long idleMilliseconds();
    Settings settings();
    void setSettings(const Settings& settings);
    // Turns an active screen saver off, as input would.
    void reset();

private:
    struct Connection;
    std::unique_ptr<Connection> connection_;
};

}  // namespace tavrolin::test
