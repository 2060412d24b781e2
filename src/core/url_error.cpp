#include "core/url_error.h"

#include <QTcpSocket>

namespace tavrolin {

namespace {

const char* sentenceFor(int code) {
    switch (code) {
    case URLError::cancelled:
        return "The request was cancelled.";
    case URLError::badURL:
        return "The URL is not valid for a request.";
    case URLError::timedOut:
        return "The request timed out.";
    case URLError::cannotFindHost:
        return "A server with the specified hostname could not be found.";
    case URLError::cannotConnectToHost:
        return "Could not connect to the server.";
    case URLError::networkConnectionLost:
        return "The network connection was lost.";
    case URLError::notConnectedToInternet:
        return "The computer is not connected to a network.";
    case URLError::badServerResponse:
        return "The server returned a response that could not be read.";
    case URLError::secureConnectionFailed:
        return "A secure connection to the server could not be made.";
    case URLError::serverCertificateUntrusted:
        return "The server's certificate is not trusted.";
    default:
        return "The request failed.";
    }
}

}  // namespace

URLError::URLError(int code, QString detail)
    : code_(code),
      detail_(std::move(detail)),
      what_(std::string(sentenceFor(code)) + " (" + std::to_string(code) + ")") {}

int URLError::codeFor(QNetworkReply::NetworkError error, bool certificateRejected) {
    using E = QNetworkReply::NetworkError;
    switch (error) {
    case E::NoError:
        return unknown;
    case E::ConnectionRefusedError:
        return cannotConnectToHost;
    case E::RemoteHostClosedError:
        return networkConnectionLost;
    case E::HostNotFoundError:
        return cannotFindHost;
    case E::TimeoutError:
        return timedOut;
    case E::OperationCanceledError:
        return cancelled;
    case E::SslHandshakeFailedError:
        return certificateRejected ? serverCertificateUntrusted : secureConnectionFailed;
    case E::TemporaryNetworkFailureError:
        return notConnectedToInternet;
    case E::NetworkSessionFailedError:
        return notConnectedToInternet;
    case E::BackgroundRequestNotAllowedError:
        return notConnectedToInternet;
    case E::ProxyConnectionRefusedError:
        return cannotConnectToHost;
    case E::ProxyConnectionClosedError:
        return networkConnectionLost;
    case E::ProxyNotFoundError:
        return cannotFindHost;
    case E::ProxyTimeoutError:
        return timedOut;
    case E::ProtocolUnknownError:
        return badURL;
    case E::ProtocolInvalidOperationError:
        return badURL;
    case E::ProtocolFailure:
        return badServerResponse;
    case E::UnknownContentError:
        return badServerResponse;
    default:
        return unknown;
    }
}

URLError URLError::fromReply(QNetworkReply::NetworkError error, const QString& errorString, bool certificateRejected) {
    // Qt names every socket failure that means there is no network (network or host unreachable,
    // refused, time-out) and reports a connection the server reset as closed, except where the
    // reset comes before Qt saw the connection open or in the middle of an upload: then it gives
    // an unknown network error with the socket's text for an error it has no name for. The server
    // had taken the connection, so the connection was lost; the network is there.
    static const QString unnamedSocketError = QTcpSocket().errorString();
    if (error == QNetworkReply::UnknownNetworkError && errorString == unnamedSocketError) {
        return URLError(networkConnectionLost, errorString);
    }
    return URLError(codeFor(error, certificateRejected), errorString);
}

}  // namespace tavrolin
