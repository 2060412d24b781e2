#pragma once

// The part every server answer target shares: the answer as the input gives it and the
// response step it passes first.

#include "core/capture_workflow_error.h"
#include "fuzz_support.h"
#include "server/server_request_transport.h"

namespace tavrolin::fuzz {

// Two bytes of status (0xFFFF: the answer was not an HTTP response), then the body.
inline ServerHTTPResponse takeServerAnswer(InputReader& input) {
    ServerHTTPResponse response;
    if (const std::uint16_t status = input.word(); status != 0xFFFF) {
        response.statusCode = status;
    }
    response.body = input.rest();
    return response;
}

// Whether the answer passes the response step and goes on to be decoded. Exactly the 2xx
// answers pass; the others fail with the operation's request-failed error.
inline bool passesResponseStep(const ServerOperation& operation, const ServerHTTPResponse& response) {
    const bool success = response.statusCode && *response.statusCode >= 200 && *response.statusCode <= 299;
    try {
        checkServerResponseStatus(ServerRequestFailures::of(operation), response);
    } catch (const CaptureWorkflowError& error) {
        require(!success && error.errorCase() == operation.requestFailed.errorCase(),
                "the response step failed a 2xx answer, or with another error");
        return false;
    }
    require(success, "a status outside 200-299 passed the response step");
    return true;
}

}  // namespace tavrolin::fuzz
