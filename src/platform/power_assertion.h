#pragma once

#include <QCoroTask>
#include <QString>

#include <cstdint>

namespace tavrolin {

// Status codes of power assertions: 0 is success, anything else a failure.
enum PowerAssertionStatus : int {
    powerAssertionSuccess = 0,
    powerAssertionServiceUnavailable = 1,  // no bus, no display, or nobody serving the request
    powerAssertionRequestFailed = 2,       // the service answered with an error
    powerAssertionInvalidReply = 3,        // the service answered something unusable
    powerAssertionUnknownId = 4,           // release of an id this back end does not hold
};

struct PowerAssertionCreation {
    int status = powerAssertionSuccess;
    std::uint32_t id = 0;   // meaningful when status is 0
    QString failureReason;  // a readable reason when status is not 0
};

// One kind of power assertion: while an assertion is held, the machine (or its display) does
// not go to sleep for lack of user activity. The user can still suspend by hand. Assertions
// are tied to this process: they end when it ends, however it ends.
//
// Both operations may wait on another process (a system service): they are awaited, never
// block the calling thread, end within a bounded time (a service that does not answer is a
// failure), and never throw. The caller keeps the provider alive until they have finished.
class PowerAssertionProviding {
public:
    virtual ~PowerAssertionProviding() = default;
    // Takes a new assertion named `name` (shown by the system's inhibitor listings).
    virtual QCoro::Task<PowerAssertionCreation> createAssertion(QString name) = 0;
    // Gives up an assertion taken by createAssertion.
    virtual QCoro::Task<int> releaseAssertion(std::uint32_t id) = 0;
};

}  // namespace tavrolin
