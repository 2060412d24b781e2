#pragma once

// The build's HTTP module (libcurl), for tests that talk to servers of their own: the program's
// client, opened from the build's module folder as a plain shared library by the first exchange.
// Every test program hands the transports one at its start (test_main_*.cpp); a test that must
// trust a certificate of its own, or resolve a name of its own, hands them another while it runs.
#include "platform/http_client.h"

#include <memory>

namespace tavrolin::test {

// A client with a connection cache of its own.
std::shared_ptr<HttpClient> moduleHttpClient(HttpClientOptions options = {});

// While it lives, transports made without a client take one made with `options`; the default
// one after.
class ScopedHttpClient {
public:
    explicit ScopedHttpClient(HttpClientOptions options);
    ~ScopedHttpClient();
    ScopedHttpClient(const ScopedHttpClient&) = delete;
    ScopedHttpClient& operator=(const ScopedHttpClient&) = delete;

    const std::shared_ptr<HttpClient>& client() const { return client_; }

private:
    std::shared_ptr<HttpClient> client_;
};

// Hands the transports the default test client (the test programs' main() does).
void useModuleHttpClient();

}  // namespace tavrolin::test
