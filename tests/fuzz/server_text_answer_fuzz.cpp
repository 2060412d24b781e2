// The answer of a server text feature (edit, improve, prompt, write): status and body as the
// server sends them, through the response step and the text decoder all four clients share.
// Input: two bytes of status (0xFFFF: not an HTTP response), then the body.
#include "language/server_text_request.h"
#include "server_answer.h"

using namespace tavrolin;
using Case = CaptureWorkflowError::Case;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::discardLogLines();
    fuzz::InputReader input(data, size);
    const ServerHTTPResponse response = fuzz::takeServerAnswer(input);
    const ServerOperation operation{QStringLiteral("text_edit"), CaptureWorkflowError(Case::textEditingRequestFailed),
                                    CaptureWorkflowError(Case::textEditingInvalidResponse)};

    if (!fuzz::passesResponseStep(operation, response)) {
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
