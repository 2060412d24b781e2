#pragma once

#include <QPoint>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// One installed monitor; destroying it removes it.
class GlobalMouseMonitor {
public:
    virtual ~GlobalMouseMonitor() = default;
};

// Mouse-button presses anywhere on the desktop outside this process's windows (left, right,
// middle and other buttons; wheel steps are not presses).
class GlobalMouseMonitoring {
public:
    virtual ~GlobalMouseMonitoring() = default;
    // The handler runs on the main thread for each press. nullptr when the system offers no
    // such monitor.
    virtual std::unique_ptr<GlobalMouseMonitor> addMouseDownMonitor(std::function<void()> handler) = 0;
};

// Which presses a monitor reports: not the wheel (buttons 4 to 7), and not those over one of
// our own windows. windowsUnderPointer: the window stack under the pointer, top-level first.
bool isReportedMousePress(int button, const std::vector<unsigned long long>& windowsUnderPointer,
                          const std::vector<unsigned long long>& ownWindows);

// One raw input event anywhere on the desktop, as it reached the server (before any grab or
// focus decided which window gets it).
struct RawInputEvent {
    enum class Kind { buttonPress, buttonRelease, keyPress, keyRelease };
    Kind kind = Kind::buttonPress;
    // The button number (1 left, 2 middle, 3 right, 4 to 7 the wheel), or the key's keysym.
    unsigned int detail = 0;
    // Server time of the event.
    std::chrono::milliseconds time{0};
    // The pointer in global logical coordinates when the event was read.
    QPoint position;
    // Shift or Control was held when the event was read.
    bool shiftOrControlHeld = false;
    // The key itself is a modifier (Shift, Control, Alt, Super, AltGr, ...).
    bool isModifierKey = false;
    // The pointer was over one of this process's windows.
    bool overOwnWindow = false;
};

// Raw button and key events of the whole desktop, and changes of the active window's process.
// Handlers run on the main thread; destroying the returned monitor removes it.
class GlobalInputMonitoring {
public:
    virtual ~GlobalInputMonitoring() = default;
    // nullptr when the system offers no raw input (no XInput 2.1).
    virtual std::unique_ptr<GlobalMouseMonitor> addRawInputMonitor(
        std::function<void(const RawInputEvent&)> handler) = 0;
    // Runs the handler whenever the process owning the active window changes (including to or
    // from no window). nullptr when the desktop cannot report it.
    virtual std::unique_ptr<GlobalMouseMonitor> addActiveApplicationMonitor(std::function<void()> handler) = 0;
};

constexpr unsigned int escapeKeysym = 0xff1b;

// Whether a keysym names a modifier key (Shift, Control, Caps Lock, Alt, Meta, Super, Hyper and
// the ISO level and group shifts).
bool isModifierKeysym(unsigned int keysym);

// Counts clicks from raw presses: a press of the same button within `interval` of the previous
// one and within a few pixels of it continues the series; anything else starts a new one.
class ClickCounter {
public:
    static constexpr int slopPixels = 4;
    // Records a press and answers the click count it makes (1 for a single click).
    int press(unsigned int button, QPoint position, std::chrono::milliseconds time, std::chrono::milliseconds interval);
    // The count of the series the last press of `button` belongs to; 1 when there was none.
    int countFor(unsigned int button) const;

private:
    std::optional<unsigned int> button_;
    QPoint position_;
    std::chrono::milliseconds time_{0};
    int count_ = 0;
};

}  // namespace tavrolin
