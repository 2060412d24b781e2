#pragma once

#include <QCoroTask>
#include <QtGlobal>

#include <chrono>

namespace tavrolin {

// Asks the program behind a top-level window whether it is handling its events: the desktop's
// ping, which a program answers from its event loop once it has read every event queued to it
// before (keys sent to it included). A stopped or hung program does not answer.
class WindowPinging {
public:
    enum class Answer {
        answered,     // the program read its events up to the ping
        unanswered,   // no answer within the bound: stopped, hung, or very busy
        windowGone,   // the window no longer exists
        unsupported,  // the window does not take part in the ping (or no display): nothing known
    };

    virtual ~WindowPinging() = default;
    // Never blocks the caller: the wait for the answer runs elsewhere.
    virtual QCoro::Task<Answer> ping(quint64 window, std::chrono::milliseconds bound) = 0;
};

}  // namespace tavrolin
