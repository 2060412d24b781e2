#include "support/module_http_client.h"

#include "platform/linux/engine_module_entries.h"
#include "server/server_request_transport.h"

#include <QString>

#include <dlfcn.h>
#include <stdexcept>
#include <string>

namespace tavrolin::test {

namespace {

using Make = decltype(&tavrolin_http_make_client);

Make moduleEntry() {
    static const Make make = [] {
        const std::string path = std::string(TAVROLIN_TEST_MODULE_DIR) + "/libtavrolin-http.so";
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            throw std::runtime_error("cannot open " + path + ": " + ::dlerror());
        }
        return reinterpret_cast<Make>(::dlsym(handle, "tavrolin_http_make_client"));
    }();
    return make;
}

// Opens the module on its first exchange, so a test program that makes no request maps none of
// its libraries.
class LazyModuleHttpClient final : public HttpClient {
public:
    explicit LazyModuleHttpClient(HttpClientOptions options) : options_(std::move(options)) {}

    QCoro::Task<HttpExchangeAnswer> exchange(HttpExchangeRequest request) override {
        if (!client_) {
            client_.reset(moduleEntry()(options_));
        }
        return client_->exchange(std::move(request));
    }
    // Opened by the first exchange, on the test's thread.
    void prepare() override {}

private:
    HttpClientOptions options_;
    std::unique_ptr<HttpClient> client_;
};

std::shared_ptr<HttpClient>& defaultClient() {
    static std::shared_ptr<HttpClient> client = moduleHttpClient();
    return client;
}

}  // namespace

std::shared_ptr<HttpClient> moduleHttpClient(HttpClientOptions options) {
    return std::make_shared<LazyModuleHttpClient>(std::move(options));
}

ScopedHttpClient::ScopedHttpClient(HttpClientOptions options) : client_(moduleHttpClient(std::move(options))) {
    ServerRequestTransport::useHttpClient(client_);
}

ScopedHttpClient::~ScopedHttpClient() {
    ServerRequestTransport::useHttpClient(defaultClient());
}

void useModuleHttpClient() {
    ServerRequestTransport::useHttpClient(defaultClient());
}

}  // namespace tavrolin::test
