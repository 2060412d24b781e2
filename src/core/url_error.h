#pragma once

#include <QNetworkReply>
#include <QString>

#include <exception>
#include <string>

namespace tavrolin {

// The one transport error of every server client: a failure below HTTP (no connection, time-out,
// cancellation, TLS). It carries a URL-error number; log lines write it as "url_error_code=<n>"
// and name the type "Tavrolin.URLError". An HTTP response with any status is never a URLError.
class URLError final : public std::exception {
public:
    enum Code : int {
        unknown = -1,
        cancelled = -999,
        badURL = -1000,
        timedOut = -1001,
        cannotFindHost = -1003,
        cannotConnectToHost = -1004,
        networkConnectionLost = -1005,
        notConnectedToInternet = -1009,
        badServerResponse = -1011,
        secureConnectionFailed = -1200,
        serverCertificateUntrusted = -1202,
    };

    explicit URLError(int code, QString detail = {});

    int code() const { return code_; }
    // Qt's own text for the failure, when there was one.
    QString detail() const { return detail_; }
    // A sentence naming the failure, followed by the code: "The request timed out. (-1001)".
    const char* what() const noexcept override { return what_.c_str(); }

    // The one mapping from Qt's network errors. `certificateRejected` tells a TLS failure that
    // came from an untrusted certificate (sslErrors) from any other TLS failure.
    static int codeFor(QNetworkReply::NetworkError error, bool certificateRejected = false);
    static URLError fromReply(QNetworkReply::NetworkError error, const QString& errorString,
                              bool certificateRejected = false);

    bool operator==(const URLError& other) const { return code_ == other.code_; }

private:
    int code_;
    QString detail_;
    std::string what_;
};

}  // namespace tavrolin
