#pragma once

// Improve and prompt clients whose requests stay open until the test answers or fails them, so
// a test can act while a request is in flight. A waiting caller usually keeps the client alive,
// so a test ends with abandonOpenRequests(): they fail with "abandoned" and nothing is left
// waiting.
#include "core/app_language.h"
#include "language/text_improve_client.h"
#include "language/text_prompt_client.h"

#include <QString>

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace tavrolin::test {

struct HeldTextRequest {
    QString operation;  // "improve" or "prompt"
    QString text;
    QString language;  // the AppLanguage or TextPromptLanguage raw value
    std::coroutine_handle<> waiting;
    std::optional<QString> answer;
    std::exception_ptr error;
    bool finished = false;
};

class HeldTextClients final : public TextImproveClient, public TextPromptClient {
public:
    ~HeldTextClients() override { abandonOpenRequests(); }

    void abandonOpenRequests() {
        for (std::size_t i = 0; i < requests.size(); ++i) {
            if (!requests[i]->finished) {
                fail(i, std::runtime_error("abandoned"));
            }
        }
    }

    QCoro::Task<QString> improve(QString text, AppLanguage language) override {
        co_return co_await hold(QStringLiteral("improve"), std::move(text), rawValue(language));
    }
    QCoro::Task<QString> createPrompt(QString text, TextPromptLanguage language) override {
        co_return co_await hold(QStringLiteral("prompt"), std::move(text), rawValue(language));
    }

    void answer(std::size_t index, const QString& text) { finish(*requests.at(index), text, nullptr); }
    template <typename Error>
    void fail(std::size_t index, Error error) {
        finish(*requests.at(index), std::nullopt, std::make_exception_ptr(std::move(error)));
    }
    std::size_t openCount() const {
        std::size_t open = 0;
        for (const auto& request : requests) {
            open += request->finished ? 0 : 1;
        }
        return open;
    }

    std::vector<std::shared_ptr<HeldTextRequest>> requests;

private:
    struct Wait {
        std::shared_ptr<HeldTextRequest> request;
        bool await_ready() const noexcept { return request->finished; }
        void await_suspend(std::coroutine_handle<> handle) { request->waiting = handle; }
        QString await_resume() const {
            if (request->error) {
                std::rethrow_exception(request->error);
            }
            return *request->answer;
        }
    };

    Wait hold(QString operation, QString text, QString language) {
        auto request = std::make_shared<HeldTextRequest>();
        request->operation = std::move(operation);
        request->text = std::move(text);
        request->language = std::move(language);
        requests.push_back(request);
        return Wait{request};
    }

    static void finish(HeldTextRequest& request, std::optional<QString> answer, std::exception_ptr error) {
        request.answer = std::move(answer);
        request.error = std::move(error);
        request.finished = true;
        if (auto waiting = std::exchange(request.waiting, {})) {
            waiting.resume();
        }
    }
};

}  // namespace tavrolin::test
