#pragma once

// The one request shape shared by the four server text features (edit, improve, prompt,
// write): POST a flat JSON object of strings, answered by {"text": string}. Each client
// supplies only its operation, its detail string and its fields; the steps, log lines and
// error mapping are those of every server request (server_request_transport.h).

#include "server/server_request_transport.h"

#include <QByteArray>
#include <QCoroTask>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>
#include <vector>

namespace tavrolin {

// A JSON object with its keys in the given order, all values strings.
QByteArray encodeOrderedStringObject(const std::vector<std::pair<QString, QString>>& fields);

// The "text" of {"text": string, ...}, exactly as received; other keys are ignored. Throws
// JsonDecodingError when the body is not such an object.
QString decodeServerTextResponse(const QByteArray& body);

// Sends the request and returns the answer's text, untrimmed (an empty text included).
QCoro::Task<QString> performServerTextRequest(std::shared_ptr<ServerRequestTransport> session,
                                              ServerOperation operation, std::optional<QUrl> endpoint, QString detail,
                                              QByteArray body);

}  // namespace tavrolin
