#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <utility>

namespace tavrolin {

class UserKeyActivity;

// Alerts the application raises on its own, not in answer to the user: each waits until the
// user has pressed nothing for a moment, so that a modal alert never takes the keyboard from a
// field the user is typing in. Without a way to see the user's presses an alert is shown at once.
class AlertsAfterTyping {
public:
    using Show = std::function<void(const QString& title, const QString& message)>;
    using WatchPresses = std::function<std::shared_ptr<UserKeyActivity>()>;

    // `watch` is asked for a watch of the user's presses while an alert waits, and the watch is
    // dropped when none does. `quiet`: how long nothing must have been pressed.
    AlertsAfterTyping(Show show, WatchPresses watch, std::chrono::milliseconds quiet = std::chrono::milliseconds(1500));
    ~AlertsAfterTyping();
    AlertsAfterTyping(const AlertsAfterTyping&) = delete;
    AlertsAfterTyping& operator=(const AlertsAfterTyping&) = delete;

    void post(const QString& title, const QString& message);

private:
    void look();

    Show show_;
    WatchPresses watch_;
    std::chrono::milliseconds quiet_;
    std::shared_ptr<UserKeyActivity> presses_;
    std::deque<std::pair<QString, QString>> waiting_;
    std::uint64_t pressesSeen_ = 0;
    QElapsedTimer quietSince_;
    QTimer timer_;
    bool showing_ = false;
};

}  // namespace tavrolin
