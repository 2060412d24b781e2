#pragma once

// In-memory text clients and a front-window text provider for the focused-field services.
// Each answers through a function (or fails with a set error) and writes what it was asked,
// and on which thread, into an EventLog.
#include "language/active_window_text_providing.h"
#include "language/text_editing_client.h"
#include "language/text_prompt_client.h"
#include "language/text_writing_client.h"
#include "support/fakes/recording_translation_clients.h"

#include <QCoreApplication>
#include <QThread>

#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <thread>

namespace tavrolin::test {

inline QString threadName() {
    const auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread() ? QStringLiteral("main") : QStringLiteral("worker");
}

// Continues the awaiting coroutine on a thread of its own; the thread is joined by `owner`.
struct ResumeOnNewThread {
    std::unique_ptr<std::thread>& owner;
    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> waiting) {
        owner = std::make_unique<std::thread>([waiting] { waiting.resume(); });
    }
    void await_resume() const noexcept {}
};

struct TextClientsBase {
    explicit TextClientsBase(std::shared_ptr<EventLog> log) : log(std::move(log)) {}
    std::shared_ptr<EventLog> log;
    std::exception_ptr error;
    int calls = 0;
};

class InMemoryTextEditingClient final : public TextEditingClient, public TextClientsBase {
public:
    using TextClientsBase::TextClientsBase;
    std::function<QString(const QString&)> answer = [](const QString& text) { return text; };

    QCoro::Task<QString> edit(QString text, AppLanguage sourceLanguage, AppLanguage targetLanguage) override {
        ++calls;
        log->add(QStringLiteral("edit %1>%2 [%3] on %4")
                     .arg(rawValue(sourceLanguage), rawValue(targetLanguage), text, threadName()));
        if (error) {
            std::rethrow_exception(error);
        }
        co_return answer(text);
    }
};

class InMemoryTextPromptClient final : public TextPromptClient, public TextClientsBase {
public:
    using TextClientsBase::TextClientsBase;
    std::function<QString(const QString&)> answer = [](const QString& text) { return text; };

    QCoro::Task<QString> createPrompt(QString text, TextPromptLanguage language) override {
        ++calls;
        log->add(QStringLiteral("prompt %1 [%2] on %3").arg(rawValue(language), text, threadName()));
        if (error) {
            std::rethrow_exception(error);
        }
        co_return answer(text);
    }
};

class InMemoryTextWritingClient final : public TextWritingClient, public TextClientsBase {
public:
    using TextClientsBase::TextClientsBase;
    std::function<QString(const QString&)> answer = [](const QString& text) { return text; };

    QCoro::Task<QString> write(QString fieldText, QString windowText, AppLanguage targetLanguage) override {
        ++calls;
        log->add(QStringLiteral("write %1 [%2] window [%3] on %4")
                     .arg(rawValue(targetLanguage), fieldText, windowText, threadName()));
        if (error) {
            std::rethrow_exception(error);
        }
        co_return answer(fieldText);
    }
};

class InMemoryActiveWindowTextProvider final : public ActiveWindowTextProviding {
public:
    explicit InMemoryActiveWindowTextProvider(std::shared_ptr<EventLog> log) : log(std::move(log)) {}
    ~InMemoryActiveWindowTextProvider() override {
        if (worker && worker->joinable()) {
            worker->join();
        }
    }

    std::shared_ptr<EventLog> log;
    ActiveWindowTextSnapshot window{QStringLiteral("Inbox\nReply to Anna"), QRectF(0, 0, 800, 600), 4242};
    std::exception_ptr error;
    // Finish on another thread, as a capture running off the main thread would.
    bool finishesOnWorkerThread = false;
    std::unique_ptr<std::thread> worker;

    QCoro::Task<ActiveWindowTextSnapshot> readActiveWindowText() override {
        log->add(QStringLiteral("read window"));
        if (finishesOnWorkerThread) {
            co_await ResumeOnNewThread{worker};
        }
        if (error) {
            std::rethrow_exception(error);
        }
        co_return window;
    }
};

}  // namespace tavrolin::test
