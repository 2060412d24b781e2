// The answer of a server text feature (edit, improve, prompt, write): status and body as the
// server sends them, through the response step and the text decoder all four clients share.
// Input: two bytes of status (0xFFFF: not an HTTP response), then the body.
#include "fuzz_support.h"

#include "core/capture_workflow_error.h"
#include "language/server_text_request.h"
#include "server/server_request_transport.h"

using namespace tavrolin;
using Case = CaptureWorkflowError::Case;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::discardLogLines();
    fuzz::InputReader input(data, size);
    const std::uint16_t status = input.word();
    ServerHTTPResponse response;
    if (status != 0xFFFF) {
        response.statusCode = status;
    }
    response.body = input.rest();
    const ServerOperation operation{QStringLiteral("text_edit"), CaptureWorkflowError(Case::textEditingRequestFailed),
                                    CaptureWorkflowError(Case::textEditingInvalidResponse)};

    const bool success = status >= 200 && status <= 299;
    try {
        checkServerResponseStatus(ServerRequestFailures::of(operation), response);
        fuzz::require(success, "a status outside 200-299 passed the response step");
    } catch (const CaptureWorkflowError& error) {
        fuzz::require(!success && error.errorCase() == Case::textEditingRequestFailed,
                      "the response step failed a 2xx answer, or with another error");
        return 0;
    }

    QString text;
    try {
        text = decodeServerResponse<QString>(operation, response, &decodeServerTextResponse);
    } catch (const CaptureWorkflowError& error) {
        fuzz::require(error.errorCase() == Case::textEditingInvalidResponse,
                      "an undecodable body failed with another error than the invalid response");
        return 0;
    }
    // What was decoded, sent again as the body the clients themselves write, decodes the same.
    const QByteArray again = encodeOrderedStringObject({{QStringLiteral("text"), text}});
    fuzz::require(decodeServerTextResponse(again) == text, "the decoded text does not survive a round trip");
    return 0;
}
