// libtavrolin-http.so: HTTP exchanges through libcurl's multi interface, driven by Qt's event
// loop. curl tells which sockets it waits on (CURLMOPT_SOCKETFUNCTION: a read and a write
// QSocketNotifier per socket) and when it next needs time (CURLMOPT_TIMERFUNCTION: one QTimer);
// both feed curl_multi_socket_action, so no call ever waits. The one multi handle is the
// connection cache every exchange shares.
//
// The rules curl does not keep itself are kept in its callbacks: the head counted line by line
// (64 KiB, where curl allows 300 KB) and checked to have ended, the body counted as it is
// written, conflicting lengths, unasked upgrades and redirects to other schemes refused, the idle
// timer started again by every byte of a head or a body, a request body handed out once (curl may
// send a request again on a fresh connection when a reused one was found closed: a body is never
// sent twice).
//
// Nothing waits on the calling thread: names are looked up on curl's resolver threads, and an
// exchange ended before its lookup did leaves that thread to finish alone (CURLOPT_QUICK_EXIT)
// instead of joining it. The certificates trusted are loaded once per process (by
// tavrolin_http_prepare off the GUI thread, else by the first TLS connection) and handed to every
// TLS connection, where curl would parse the system's bundle again for each one.
#include "platform/http_client.h"
#include "platform/linux/engine_module_entries.h"

#include <QNetworkProxy>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <coroutine>
#include <cstring>
#include <curl/curl.h>
#include <map>
#include <memory>
#include <mutex>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <optional>
#include <sys/socket.h>
#include <utility>
#include <vector>

namespace tavrolin {

namespace {

// libcurl's global state, made as the module is opened (off the GUI thread), before any handle.
const bool curlInitialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;

bool isToken(const QByteArray& name) {
    if (name.isEmpty()) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
    });
}

bool holdsLineBreak(const QByteArray& value) {
    return value.contains('\r') || value.contains('\n') || value.contains('\0');
}

bool isHttpUrl(const QUrl& url) {
    return url.isValid() && !url.isRelative() && !url.host().isEmpty() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https"));
}

using TrustStore = std::shared_ptr<X509_STORE>;

// The certificates of `pem`, or where it is empty the system's: the bundle and folder libcurl was
// built to read (Debian: /etc/ssl/certs/ca-certificates.crt and /etc/ssl/certs), as it read them
// for each connection.
TrustStore loadTrustStore(const QByteArray& pem) {
    TrustStore store(X509_STORE_new(), &X509_STORE_free);
    if (!store) {
        return store;
    }
    if (pem.isEmpty()) {
        CURL* probe = curl_easy_init();
        char* bundle = nullptr;
        char* folder = nullptr;
        curl_easy_getinfo(probe, CURLINFO_CAINFO, &bundle);
        curl_easy_getinfo(probe, CURLINFO_CAPATH, &folder);
        if (bundle != nullptr) {
            X509_STORE_load_file(store.get(), bundle);
        }
        if (folder != nullptr) {
            X509_STORE_load_path(store.get(), folder);
        }
        if (bundle == nullptr && folder == nullptr) {
            X509_STORE_set_default_paths(store.get());  // a libcurl built to take OpenSSL's own
        }
        curl_easy_cleanup(probe);
        return store;
    }
    BIO* bio = BIO_new_mem_buf(pem.constData(), static_cast<int>(pem.size()));
    STACK_OF(X509_INFO)* items = PEM_X509_INFO_read_bio(bio, nullptr, nullptr, nullptr);
    for (int i = 0; i < sk_X509_INFO_num(items); ++i) {
        if (X509* certificate = sk_X509_INFO_value(items, i)->x509) {
            X509_STORE_add_cert(store.get(), certificate);
        }
    }
    sk_X509_INFO_pop_free(items, X509_INFO_free);
    BIO_free(bio);
    return store;
}

// The store of `pem`, loaded by the first call for it. Every client of the process shares it.
TrustStore trustStore(const QByteArray& pem) {
    static std::mutex mutex;
    static std::map<QByteArray, TrustStore> stores;
    const std::lock_guard lock(mutex);
    TrustStore& store = stores[pem];
    if (!store) {
        store = loadTrustStore(pem);
    }
    return store;
}

struct CurlSlist {
    curl_slist* list = nullptr;
    CurlSlist() = default;
    CurlSlist(const CurlSlist&) = delete;
    CurlSlist& operator=(const CurlSlist&) = delete;
    ~CurlSlist() { curl_slist_free_all(list); }
    void append(const QByteArray& line) { list = curl_slist_append(list, line.constData()); }
};

// The application's proxy, when the program set one: curl's URL for it. None (Qt's answer when
// the program set none): the environment's, as curl reads it for each transfer.
std::optional<QByteArray> applicationProxy() {
    const QNetworkProxy proxy = QNetworkProxy::applicationProxy();
    QByteArray scheme;
    switch (proxy.type()) {
    case QNetworkProxy::HttpProxy:
    case QNetworkProxy::HttpCachingProxy:
        scheme = "http";
        break;
    case QNetworkProxy::Socks5Proxy:
        scheme = "socks5h";
        break;
    default:
        return std::nullopt;
    }
    QUrl url;
    url.setScheme(QString::fromLatin1(scheme));
    url.setHost(proxy.hostName());
    url.setPort(proxy.port());
    url.setUserName(proxy.user());
    url.setPassword(proxy.password());
    return url.toEncoded();
}

class CurlHttpClient;

// One exchange: its easy handle, its two timers and what its callbacks gathered. Owned by the
// coroutine of the exchange, so destroying that coroutine ends the transfer.
class Transfer final : public QObject {
public:
    Transfer(CurlHttpClient& client, HttpExchangeRequest request);
    ~Transfer() override;
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    // False when the request was refused before anything was sent (answer() tells why).
    bool start();
    bool isDone() const { return done_; }
    HttpExchangeAnswer answer();
    // curl ended the transfer with `result`.
    void curlDone(CURLcode result);
    // Its client is gone.
    void orphan() {
        added_ = false;
        client_ = nullptr;
        idle_.stop();
        whole_.stop();
    }

    struct Awaiter {
        Transfer* transfer;
        bool await_ready() const noexcept { return transfer->done_; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { transfer->waiting_ = handle; }
        void await_resume() const noexcept {}
    };

private:
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onWrite(char* data, size_t size, size_t count, void* self);
    static size_t onRead(char* data, size_t size, size_t count, void* self);
    static int onSeek(void* self, curl_off_t offset, int origin);
    static int onPrerequest(void* self, char*, char*, int, int);
    static curl_socket_t onOpenSocket(void* self, curlsocktype purpose, curl_sockaddr* address);
    static CURLcode onSslContext(CURL*, void* context, void* client);
    // Whether the request may be sent (again) now; false once part of its body left.
    bool maySend();
    // Why the request cannot go out as it is (nothing is sent then); else its header lines are
    // made ready.
    std::optional<std::pair<HttpFailure, QString>> checkRequest();
    // The handle's options: the request, the bounds and callbacks, the client's trust and proxy.
    void setOptions();

    bool header(const QByteArray& line);
    void endOfHead();
    // The failure of a transfer curl ended with `result`.
    std::pair<HttpFailure, QString> failureOf(CURLcode result, const QString& detail);
    // Records the failure, to be reported once curl ends the transfer (a callback answers curl
    // with a refusal).
    void refuse(HttpFailure failure, const QString& detail);
    // Ends the transfer now, from outside curl (a timer).
    void abandon(HttpFailure failure, const QString& detail);
    void finish();
    void active() { idle_.start(); }

    CurlHttpClient* client_;
    HttpExchangeRequest request_;
    CURL* easy_ = nullptr;
    bool added_ = false;
    CurlSlist headers_;
    CurlSlist resolve_;
    char errorText_[CURL_ERROR_SIZE] = {};
    QTimer idle_;
    QTimer whole_;
    std::coroutine_handle<> waiting_;
    bool done_ = false;

    qsizetype bodySent_ = 0;
    // Whether the request left (connected, TLS included): from then on no failure is taken for a
    // missing network.
    bool requestLeft_ = false;
    // The head being read: its bytes (with the interim heads before it), its status, its
    // Content-Length and its Location.
    qint64 headBytes_ = 0;
    bool headComplete_ = false;
    int headStatus_ = 0;
    std::optional<QByteArray> contentLength_;
    QByteArray location_;
    QUrl currentUrl_;
    int redirects_ = 0;
    // The scheme a redirect from https led to, which curl refuses to follow.
    QString redirectFromHttpsTo_;

    std::optional<HttpFailure> failure_;
    QString failureDetail_;
    HttpExchangeAnswer answer_;
};

class CurlHttpClient final : public QObject, public HttpClient {
public:
    explicit CurlHttpClient(HttpClientOptions options)
        : options_(std::move(options)), multi_(curl_multi_init()), share_(curl_share_init()) {
        // TLS sessions are resumed across exchanges (the name cache is the multi handle's own).
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlHttpClient::onSocket);
        curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlHttpClient::onTimer);
        curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
        curl_multi_setopt(multi_, CURLMOPT_PIPELINING, static_cast<long>(CURLPIPE_MULTIPLEX));
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS, 16L);
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });
    }
    ~CurlHttpClient() override {
        // A transfer still running (the program quits meanwhile) stays with its coroutine, which
        // is never resumed: it must not reach this client any more.
        for (const auto& [easy, transfer] : transfers_) {
            curl_multi_remove_handle(multi_, easy);
            transfer->orphan();
        }
        for (auto& [socket, watch] : sockets_) {
            delete watch.read;
            delete watch.write;
        }
        curl_multi_cleanup(multi_);
        curl_share_cleanup(share_);
    }
    CurlHttpClient(const CurlHttpClient&) = delete;
    CurlHttpClient& operator=(const CurlHttpClient&) = delete;

    QCoro::Task<HttpExchangeAnswer> exchange(HttpExchangeRequest request) override {
        const auto transfer = std::make_unique<Transfer>(*this, std::move(request));
        if (transfer->start() && !transfer->isDone()) {
            co_await Transfer::Awaiter{transfer.get()};
        }
        co_return transfer->answer();
    }

    // Its library and certificates were ready when it was made.
    void prepare() override {}

    const HttpClientOptions& options() const { return options_; }
    // The certificates its TLS connections trust: loaded by the first one unless
    // tavrolin_http_prepare loaded them before.
    X509_STORE* trust() {
        if (!trust_) {
            trust_ = trustStore(options_.trustedCertificates);
        }
        return trust_.get();
    }
    CURLSH* share() const { return share_; }

    bool add(CURL* easy, Transfer* transfer) {
        if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
            return false;
        }
        transfers_[easy] = transfer;
        return true;
    }
    void remove(CURL* easy) {
        transfers_.erase(easy);
        curl_multi_remove_handle(multi_, easy);
    }

private:
    struct Watch {
        QSocketNotifier* read = nullptr;
        QSocketNotifier* write = nullptr;
    };

    static int onSocket(CURL*, curl_socket_t socket, int what, void* self, void*) {
        static_cast<CurlHttpClient*>(self)->watch(socket, what);
        return 0;
    }
    static int onTimer(CURLM*, long milliseconds, void* self) {
        auto& timer = static_cast<CurlHttpClient*>(self)->timer_;
        if (milliseconds < 0) {
            timer.stop();
        } else {
            timer.start(static_cast<int>(milliseconds));
        }
        return 0;
    }

    void watch(curl_socket_t socket, int what) {
        Watch& watch = sockets_[socket];
        const bool reads = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
        const bool writes = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
        setNotifier(watch.read, socket, QSocketNotifier::Read, reads);
        setNotifier(watch.write, socket, QSocketNotifier::Write, writes);
        if (what == CURL_POLL_REMOVE) {
            sockets_.erase(socket);
        }
    }

    void setNotifier(QSocketNotifier*& notifier, curl_socket_t socket, QSocketNotifier::Type type, bool wanted) {
        if (!wanted) {
            if (notifier != nullptr) {
                // It may be the one whose signal is being handled: let it go later.
                notifier->setEnabled(false);
                notifier->deleteLater();
                notifier = nullptr;
            }
            return;
        }
        if (notifier == nullptr) {
            notifier = new QSocketNotifier(socket, type, this);
            const int mask = type == QSocketNotifier::Read ? CURL_CSELECT_IN : CURL_CSELECT_OUT;
            connect(notifier, &QSocketNotifier::activated, this,
                    [this, socket, mask](QSocketDescriptor, QSocketNotifier::Type) { act(socket, mask); });
        }
        notifier->setEnabled(true);
    }

    void act(curl_socket_t socket, int mask) {
        int running = 0;
        curl_multi_socket_action(multi_, socket, mask, &running);
        finishDone();
    }

    // Ends the transfers curl finished. Each is looked up again: ending one resumes its coroutine,
    // which may end others.
    void finishDone() {
        std::vector<std::pair<CURL*, CURLcode>> done;
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
            if (message->msg == CURLMSG_DONE) {
                done.emplace_back(message->easy_handle, message->data.result);
            }
        }
        for (const auto& [easy, result] : done) {
            const auto found = transfers_.find(easy);
            if (found != transfers_.end()) {
                found->second->curlDone(result);
            }
        }
    }

    HttpClientOptions options_;
    TrustStore trust_;
    CURLM* multi_;
    CURLSH* share_;
    QTimer timer_;
    std::map<curl_socket_t, Watch> sockets_;
    std::map<CURL*, Transfer*> transfers_;
};

Transfer::Transfer(CurlHttpClient& client, HttpExchangeRequest request)
    : client_(&client), request_(std::move(request)), currentUrl_(request_.url) {
    idle_.setSingleShot(true);
    idle_.setInterval(std::max(request_.idle, std::chrono::milliseconds(1)));
    whole_.setSingleShot(true);
    whole_.setInterval(std::max(request_.whole, std::chrono::milliseconds(1)));
    const auto expire = [this] { abandon(HttpFailure::timedOut, QStringLiteral("no answer within the time-out")); };
    connect(&idle_, &QTimer::timeout, this, expire);
    connect(&whole_, &QTimer::timeout, this, expire);
}

Transfer::~Transfer() {
    if (added_) {
        client_->remove(easy_);
    }
    if (easy_ != nullptr) {
        curl_easy_cleanup(easy_);
    }
}

std::optional<std::pair<HttpFailure, QString>> Transfer::checkRequest() {
    if (!curlInitialized) {
        return std::pair{HttpFailure::other, QStringLiteral("libcurl could not be initialised")};
    }
    if (!isHttpUrl(request_.url)) {
        return std::pair{HttpFailure::invalidRequest, QStringLiteral("not an http(s) URL")};
    }
    if (!isToken(request_.method)) {
        return std::pair{HttpFailure::invalidRequest, QStringLiteral("the method is not a token")};
    }
    for (const auto& [name, value] : request_.headers) {
        if (!isToken(name)) {
            return std::pair{HttpFailure::invalidRequest, QStringLiteral("a header name that is not a token")};
        }
        if (holdsLineBreak(value)) {
            return std::pair{
                HttpFailure::invalidRequest,
                QStringLiteral("the value of header %1 holds a CR, LF or NUL").arg(QString::fromLatin1(name))};
        }
        // An empty value is sent as "Name;" (curl leaves a "Name:" line out).
        headers_.append(value.isEmpty() ? name + ';' : name + ": " + value);
    }
    // A large body is sent at once rather than after a wait for "100 Continue".
    headers_.append("Expect:");
    return std::nullopt;
}

bool Transfer::start() {
    if (const auto refusal = checkRequest()) {
        refuse(refusal->first, refusal->second);
        finish();
        return false;
    }
    easy_ = curl_easy_init();
    if (easy_ == nullptr) {
        refuse(HttpFailure::other, QStringLiteral("no transfer handle"));
        finish();
        return false;
    }
    setOptions();
    idle_.start();
    whole_.start();
    if (!client_->add(easy_, this)) {
        refuse(HttpFailure::other, QStringLiteral("the transfer could not be started"));
        finish();
        return false;
    }
    added_ = true;
    return true;
}

void Transfer::setOptions() {
    const QByteArray url = request_.url.toEncoded();
    const bool secure = request_.url.scheme() == QLatin1String("https");
    curl_easy_setopt(easy_, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorText_);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    // A transfer ended while its name is being looked up leaves curl's resolver thread to end on
    // its own: without this, curl_multi_remove_handle joins it, and a name server that does not
    // answer holds the calling thread for its whole time-out.
    curl_easy_setopt(easy_, CURLOPT_QUICK_EXIT, 1L);
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, request_.followsRedirects ? 1L : 0L);
    curl_easy_setopt(easy_, CURLOPT_MAXREDIRS, static_cast<long>(request_.maximumRedirects));
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_.list);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &Transfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Transfer::onWrite);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &Transfer::onPrerequest);
    curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);
    curl_easy_setopt(easy_, CURLOPT_OPENSOCKETFUNCTION, &Transfer::onOpenSocket);
    curl_easy_setopt(easy_, CURLOPT_OPENSOCKETDATA, this);
    // A proxy's answer to CONNECT is not the server's head.
    curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy_, CURLOPT_SHARE, client_->share());

    // Each TLS connection verifies against the client's store, loaded once; curl reads no bundle.
    if (curl_easy_setopt(easy_, CURLOPT_SSL_CTX_FUNCTION, &Transfer::onSslContext) == CURLE_OK) {
        curl_easy_setopt(easy_, CURLOPT_SSL_CTX_DATA, client_);
        curl_easy_setopt(easy_, CURLOPT_CAINFO, nullptr);
        curl_easy_setopt(easy_, CURLOPT_CAPATH, nullptr);
    }
    const HttpClientOptions& options = client_->options();
    for (const QByteArray& entry : options.resolve) {
        resolve_.append(entry);
    }
    if (resolve_.list != nullptr) {
        curl_easy_setopt(easy_, CURLOPT_RESOLVE, resolve_.list);
    }
    if (const auto proxy = applicationProxy()) {
        curl_easy_setopt(easy_, CURLOPT_PROXY, proxy->constData());
    }

    if (request_.method == "GET") {
        curl_easy_setopt(easy_, CURLOPT_HTTPGET, 1L);
    } else if (request_.method == "HEAD") {
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else {
        // The body is handed out through the read callback, once: curl cannot rewind it to send
        // the request again.
        curl_easy_setopt(easy_, CURLOPT_POST, 1L);
        curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request_.body.size()));
        curl_easy_setopt(easy_, CURLOPT_READFUNCTION, &Transfer::onRead);
        curl_easy_setopt(easy_, CURLOPT_READDATA, this);
        curl_easy_setopt(easy_, CURLOPT_SEEKFUNCTION, &Transfer::onSeek);
        curl_easy_setopt(easy_, CURLOPT_SEEKDATA, this);
        if (request_.method != "POST") {
            curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, request_.method.constData());
        }
    }
}

size_t Transfer::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    const size_t bytes = size * count;
    return transfer->header(QByteArray(data, static_cast<qsizetype>(bytes))) ? bytes : 0;
}

bool Transfer::header(const QByteArray& line) {
    active();
    headBytes_ += line.size();
    if (headBytes_ > httpResponseHeadMaximumBytes) {
        refuse(HttpFailure::badServerResponse,
               QStringLiteral("response header larger than %1 bytes").arg(httpResponseHeadMaximumBytes));
        return false;
    }
    if (headComplete_) {
        return true;  // the trailer of a chunked body: counted with its head
    }
    const QByteArray trimmed = line.trimmed();
    if (line.startsWith("HTTP/")) {
        const QList<QByteArray> parts = trimmed.split(' ');
        headStatus_ = parts.value(1).toInt();
        contentLength_.reset();
        location_.clear();
        return true;
    }
    if (trimmed.isEmpty()) {
        endOfHead();
        return !failure_;
    }
    const qsizetype colon = trimmed.indexOf(':');
    if (colon <= 0) {
        return true;
    }
    const QByteArray name = trimmed.left(colon).trimmed().toLower();
    const QByteArray value = trimmed.mid(colon + 1).trimmed();
    if (name == "content-length") {
        // Every value, of every Content-Length line, must be the same length: anything else
        // leaves the body's end in doubt.
        for (const QByteArray& item : value.split(',')) {
            const QByteArray length = item.trimmed();
            if (contentLength_ && *contentLength_ != length) {
                refuse(HttpFailure::badServerResponse, QStringLiteral("conflicting Content-Length values"));
                return false;
            }
            contentLength_ = length;
        }
    } else if (name == "location" && location_.isEmpty()) {
        location_ = value;  // curl follows the first
    }
    return true;
}

void Transfer::endOfHead() {
    if (headStatus_ == 101) {
        // No request asks for another protocol: an answer switching to one is no HTTP answer,
        // and curl would wait for the connection to close.
        refuse(HttpFailure::badServerResponse, QStringLiteral("a switch to another protocol, which was not asked for"));
        return;
    }
    if (headStatus_ >= 100 && headStatus_ < 200) {
        return;  // an interim head: the real one follows, counted with it
    }
    // curl follows the first Location of any 3xx answer.
    if (request_.followsRedirects && headStatus_ >= 300 && headStatus_ < 400 && !location_.isEmpty()) {
        if (redirects_ == request_.maximumRedirects) {
            return;  // curl refuses it as one too many
        }
        const QUrl next = currentUrl_.resolved(QUrl(QString::fromUtf8(location_)));
        if (!isHttpUrl(next)) {
            refuse(HttpFailure::badURL, QStringLiteral("redirect to something other than an http(s) URL"));
            return;
        }
        // From https, curl follows only to https (CURLOPT_REDIR_PROTOCOLS_STR); its refusal is
        // worded with the scheme.
        if (currentUrl_.scheme() == QLatin1String("https") && next.scheme() != QLatin1String("https")) {
            redirectFromHttpsTo_ = next.scheme();
        }
        currentUrl_ = next;
        ++redirects_;
        headBytes_ = 0;  // the next answer's head has a bound of its own
        return;
    }
    headComplete_ = true;
    if (contentLength_) {
        bool valid = false;
        const qint64 length = contentLength_->toLongLong(&valid);
        if (!valid || length < 0) {
            refuse(HttpFailure::badServerResponse, QStringLiteral("a Content-Length that is not a length"));
        } else if (length > request_.maximumBodyBytes) {
            refuse(HttpFailure::badServerResponse,
                   QStringLiteral("response body larger than %1 bytes").arg(request_.maximumBodyBytes));
        }
    }
}

size_t Transfer::onWrite(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    const size_t bytes = size * count;
    transfer->active();
    if (transfer->answer_.body.size() + static_cast<qint64>(bytes) > transfer->request_.maximumBodyBytes) {
        transfer->refuse(HttpFailure::badServerResponse,
                         QStringLiteral("response body larger than %1 bytes").arg(transfer->request_.maximumBodyBytes));
        return 0;
    }
    transfer->answer_.body.append(data, static_cast<qsizetype>(bytes));
    return bytes;
}

size_t Transfer::onRead(char* data, size_t size, size_t count, void* self) {
    auto* transfer = static_cast<Transfer*>(self);
    transfer->active();
    const QByteArray& body = transfer->request_.body;
    const size_t bytes = std::min(size * count, static_cast<size_t>(body.size() - transfer->bodySent_));
    std::memcpy(data, body.constData() + transfer->bodySent_, bytes);
    transfer->bodySent_ += static_cast<qsizetype>(bytes);
    return bytes;
}

int Transfer::onSeek(void* self, curl_off_t offset, int origin) {
    auto* transfer = static_cast<Transfer*>(self);
    // Only before any of the body left: once it did, the server may have taken the request, and
    // it is not sent again.
    if (origin == SEEK_SET && offset == 0 && transfer->bodySent_ == 0) {
        return CURL_SEEKFUNC_OK;
    }
    return CURL_SEEKFUNC_CANTSEEK;
}

bool Transfer::maySend() {
    // Asked again once a request with a body left: curl is about to send it once more on a fresh
    // connection (a reused one was found closed). The server may have taken the first one.
    if (bodySent_ > 0 || (requestLeft_ && request_.method != "GET" && request_.method != "HEAD")) {
        refuse(HttpFailure::connectionLost,
               QStringLiteral("the connection closed after the request was sent; it is not sent twice"));
        return false;
    }
    return true;
}

int Transfer::onPrerequest(void* self, char*, char*, int, int) {
    auto* transfer = static_cast<Transfer*>(self);
    transfer->active();  // connected (TLS included): the request leaves now
    if (!transfer->maySend()) {
        return CURL_PREREQFUNC_ABORT;
    }
    transfer->requestLeft_ = true;
    return CURL_PREREQFUNC_OK;
}

CURLcode Transfer::onSslContext(CURL*, void* context, void* client) {
    X509_STORE* store = static_cast<CurlHttpClient*>(client)->trust();
    if (store == nullptr) {
        return CURLE_SSL_CACERT_BADFILE;
    }
    SSL_CTX_set1_cert_store(static_cast<SSL_CTX*>(context), store);
    return CURLE_OK;
}

curl_socket_t Transfer::onOpenSocket(void* self, curlsocktype, curl_sockaddr* address) {
    // No connection is opened for a request that will not be sent.
    if (!static_cast<Transfer*>(self)->maySend()) {
        return CURL_SOCKET_BAD;
    }
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

void Transfer::refuse(HttpFailure failure, const QString& detail) {
    if (!failure_) {
        failure_ = failure;
        failureDetail_ = detail;
    }
}

void Transfer::abandon(HttpFailure failure, const QString& detail) {
    if (done_) {
        return;
    }
    refuse(failure, detail);
    if (added_) {
        added_ = false;
        client_->remove(easy_);
    }
    finish();
}

void Transfer::curlDone(CURLcode result) {
    if (done_) {
        return;
    }
    added_ = false;
    const QString detail =
        errorText_[0] != '\0' ? QString::fromUtf8(errorText_) : QString::fromUtf8(curl_easy_strerror(result));
    client_->remove(easy_);
    if (!failure_ && result != CURLE_OK) {
        const auto [failure, why] = failureOf(result, detail);
        refuse(failure, why);
    }
    if (!failure_ && !headComplete_) {
        // The connection closed inside the head: whatever status it named is no answer.
        refuse(HttpFailure::badServerResponse, QStringLiteral("the answer's head did not end"));
    }
    if (!failure_) {
        long status = 0;
        curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
        answer_.statusCode = static_cast<int>(status);
    }
    finish();
}

std::pair<HttpFailure, QString> Transfer::failureOf(CURLcode result, const QString& detail) {
    long tunnelStatus = 0;
    curl_easy_getinfo(easy_, CURLINFO_HTTP_CONNECTCODE, &tunnelStatus);
    if (tunnelStatus != 0 && (tunnelStatus < 200 || tunnelStatus > 299)) {
        return {HttpFailure::cannotConnect,
                QStringLiteral("the proxy refused the tunnel to %1:%2 (HTTP %3)")
                    .arg(request_.url.host())
                    .arg(request_.url.port(request_.url.scheme() == QLatin1String("https") ? 443 : 80))
                    .arg(tunnelStatus)};
    }
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        // Once the request left, the network was there: a new connection curl could not make
        // (a GET sent again after its kept connection closed) is the connection lost.
        return {requestLeft_ ? HttpFailure::connectionLost : HttpFailure::cannotFindHost, detail};
    case CURLE_COULDNT_CONNECT: {
        if (requestLeft_) {
            return {HttpFailure::connectionLost, detail};
        }
        // A server that took the connection and reset it at once reached us: not a missing
        // network, a connection lost.
        long error = 0;
        curl_easy_getinfo(easy_, CURLINFO_OS_ERRNO, &error);
        return {error == ECONNRESET || error == EPIPE ? HttpFailure::connectionLost : HttpFailure::cannotConnect,
                detail};
    }
    case CURLE_OPERATION_TIMEDOUT:
        return {HttpFailure::timedOut, detail};
    case CURLE_PEER_FAILED_VERIFICATION:
        return {HttpFailure::certificateRejected, detail};
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        return {HttpFailure::secureConnectionFailed, detail};
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_FAIL_REWIND:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
        return {HttpFailure::connectionLost, detail};
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
        return {HttpFailure::badServerResponse, detail};
    case CURLE_UNSUPPORTED_PROTOCOL:
        if (!redirectFromHttpsTo_.isEmpty()) {
            return {HttpFailure::badServerResponse,
                    QStringLiteral("redirect from https to %1").arg(redirectFromHttpsTo_)};
        }
        return {HttpFailure::badServerResponse, detail};
    case CURLE_OUT_OF_MEMORY:
        // curl's own bound on one header line (100 KB), met before the line reaches us.
        if (!headComplete_) {
            return {HttpFailure::badServerResponse,
                    QStringLiteral("response header larger than %1 bytes").arg(httpResponseHeadMaximumBytes)};
        }
        break;
    case CURLE_TOO_MANY_REDIRECTS:
        return {HttpFailure::tooManyRedirects, QStringLiteral("more than %1 redirects").arg(request_.maximumRedirects)};
    case CURLE_URL_MALFORMAT:
        return {HttpFailure::badURL, detail};
    default:
        break;
    }
    // Anything else once the request left (a chunk size curl cannot read, a broken encoding...) is
    // the server's answer gone wrong: the network is there, and the request is not sent again.
    return {requestLeft_ ? HttpFailure::badServerResponse : HttpFailure::other, detail};
}

void Transfer::finish() {
    done_ = true;
    idle_.stop();
    whole_.stop();
    if (const std::coroutine_handle<> waiting = std::exchange(waiting_, {})) {
        waiting.resume();
    }
}

HttpExchangeAnswer Transfer::answer() {
    if (failure_) {
        HttpExchangeAnswer failed;
        failed.failure = failure_;
        failed.failureDetail = failureDetail_;
        return failed;
    }
    return std::move(answer_);
}

}  // namespace

}  // namespace tavrolin

extern "C" void tavrolin_http_prepare(const tavrolin::HttpClientOptions& options) {
    tavrolin::trustStore(options.trustedCertificates);
    // OpenSSL reads its configuration and loads its providers for the first TLS context: here,
    // rather than in the first connection on the GUI thread.
    SSL_CTX_free(SSL_CTX_new(TLS_client_method()));
}

extern "C" tavrolin::HttpClient* tavrolin_http_make_client(const tavrolin::HttpClientOptions& options) {
    return new tavrolin::CurlHttpClient(options);
}
