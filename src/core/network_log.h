#pragma once

// The four fixed lines of a server request, all on AppLog::network():
//   request start operation=<op> endpoint=<url without query, fragment and credentials> detail=<detail>
//   request response operation=<op> status=<code|none> responseBytes=<n>
//   request invalid response operation=<op> reason=<reason> responseBytes=<n>
//   request failed operation=<op> errorType=<type> message=<url_error_code=<n> | description>

#include <QString>
#include <QUrl>

#include <exception>
#include <optional>

namespace tavrolin {

namespace NetworkLog {

void request(const QString& operation, const QUrl& url, const QString& detail);
void response(const QString& operation, std::optional<int> statusCode, qint64 responseBytes);
void invalidResponse(const QString& operation, const QString& reason, qint64 responseBytes);
void failed(const QString& operation, const std::exception& error);
void failed(const QString& operation, const std::exception_ptr& error);

// The "endpoint" value: the URL without query, fragment, user name and password. When the URL
// cannot be taken apart: scheme (or "unknown") + "://" + host (or "none") + path.
QString endpointDescription(const QUrl& url);

// The "message" value of "request failed": "url_error_code=<n>" for a transport error, the
// error's description for anything else.
QString failureMessage(const std::exception& error);

}  // namespace NetworkLog

}  // namespace tavrolin
