#include "core/network_log.h"

#include "core/app_log.h"
#include "core/error_description.h"
#include "core/url_error.h"

namespace tavrolin {

namespace NetworkLog {

// Written fully encoded: a space or another reserved character in the path must not break the
// key=value pairs of the line.
QString endpointDescription(const QUrl& url) {
    const auto fallback = [&url] {
        const QString scheme = url.scheme();
        const QString host = url.host();
        return (scheme.isEmpty() ? QStringLiteral("unknown") : scheme) + QStringLiteral("://") +
               (host.isEmpty() ? QStringLiteral("none") : host) + url.path(QUrl::FullyEncoded);
    };
    if (!url.isValid()) {
        return fallback();
    }
    const QString cleaned =
        url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment | QUrl::RemoveUserInfo).toString(QUrl::FullyEncoded);
    return cleaned.isEmpty() ? fallback() : cleaned;
}

QString failureMessage(const std::exception& error) {
    if (const auto* urlError = dynamic_cast<const URLError*>(&error)) {
        return QStringLiteral("url_error_code=%1").arg(urlError->code());
    }
    return errorDescription(error);
}

void request(const QString& operation, const QUrl& url, const QString& detail) {
    AppLog::network().info([&] {
        return QStringLiteral("request start operation=%1 endpoint=%2 detail=%3")
            .arg(operation, endpointDescription(url), detail);
    });
}

void response(const QString& operation, std::optional<int> statusCode, qint64 responseBytes) {
    AppLog::network().info([&] {
        return QStringLiteral("request response operation=%1 status=%2 responseBytes=%3")
            .arg(operation, statusCode ? QString::number(*statusCode) : QStringLiteral("none"),
                 QString::number(responseBytes));
    });
}

void invalidResponse(const QString& operation, const QString& reason, qint64 responseBytes) {
    AppLog::network().error([&] {
        return QStringLiteral("request invalid response operation=%1 reason=%2 responseBytes=%3")
            .arg(operation, reason, QString::number(responseBytes));
    });
}

void failed(const QString& operation, const std::exception& error) {
    AppLog::network().error([&] {
        return QStringLiteral("request failed operation=%1 errorType=%2 message=%3")
            .arg(operation, errorTypeName(error), failureMessage(error));
    });
}

void failed(const QString& operation, const std::exception_ptr& error) {
    AppLog::network().error([&] {
        QString message;
        try {
            if (error) {
                std::rethrow_exception(error);
            }
            message = errorDescription(error);
        } catch (const std::exception& e) {
            message = failureMessage(e);
        } catch (...) {
            message = errorDescription(error);
        }
        return QStringLiteral("request failed operation=%1 errorType=%2 message=%3")
            .arg(operation, errorTypeName(error), message);
    });
}

}  // namespace NetworkLog

}  // namespace tavrolin
