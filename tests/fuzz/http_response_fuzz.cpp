// An HTTP/1.1 answer as a server sends it, head and body, arriving in pieces of any size.
#include "core/url_error.h"
#include "fuzz_support.h"
#include "server/http_response_reader.h"

using namespace tavrolin;

namespace {

struct Outcome {
    std::optional<HttpExchangeAnswer> answer;
    int errorCode = 0;
    bool complete = false;
};

// Feeds `input` in pieces whose sizes come from `sizes`, then ends the connection unless the
// answer was complete before.
Outcome read(const QByteArray& input, const QByteArray& sizes, bool bodiless, qint64 maximumBodyBytes) {
    HttpResponseReader reader(bodiless, maximumBodyBytes);
    Outcome outcome;
    try {
        qsizetype position = 0;
        for (qsizetype piece = 0; position < input.size() && !reader.isComplete(); ++piece) {
            const qsizetype size =
                sizes.isEmpty() ? input.size() : 1 + static_cast<unsigned char>(sizes[piece % sizes.size()]);
            reader.feed(input.mid(position, size));
            position += size;
        }
        if (!reader.isComplete()) {
            reader.end();
        }
        outcome.complete = true;
        outcome.answer = reader.take();
    } catch (const URLError& error) {
        outcome.errorCode = error.code();
    }
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::InputReader input(data, size);
    const std::uint8_t flags = input.byte();
    const bool bodiless = (flags & 1) != 0;
    const qint64 maximumBodyBytes = (flags >> 1) * 64;
    const QByteArray sizes = input.field();
    const QByteArray answer = input.rest();

    const Outcome whole = read(answer, {}, bodiless, maximumBodyBytes);
    const Outcome pieces = read(answer, sizes, bodiless, maximumBodyBytes);
    for (const Outcome* outcome : {&whole, &pieces}) {
        fuzz::require(outcome->complete || outcome->errorCode == URLError::badServerResponse ||
                          outcome->errorCode == URLError::networkConnectionLost,
                      "a failure other than an unreadable answer or a lost connection");
        if (outcome->answer) {
            fuzz::require(outcome->answer->statusCode >= 101 && outcome->answer->statusCode <= 999,
                          "an answer without a final status");
            fuzz::require(outcome->answer->body.size() <= maximumBodyBytes, "a body past its bound");
            fuzz::require(!bodiless || outcome->answer->body.isEmpty(), "a body in the answer to a HEAD request");
        }
    }
    // How the bytes were cut never changes what they say.
    fuzz::require(whole.errorCode == pieces.errorCode, "the pieces changed the failure");
    fuzz::require(whole.answer.has_value() == pieces.answer.has_value(), "the pieces changed whether it was read");
    if (whole.answer) {
        fuzz::require(whole.answer->statusCode == pieces.answer->statusCode, "the pieces changed the status");
        fuzz::require(whole.answer->headers == pieces.answer->headers, "the pieces changed the header fields");
        fuzz::require(whole.answer->body == pieces.answer->body, "the pieces changed the body");
    }
    return 0;
}
