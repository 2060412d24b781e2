#pragma once

// In-memory translation engines that write every question they are asked into one shared
// event log, so tests can check what was asked, in which order and on which thread.
//   device: "availability en>fr", "translate en>fr [a|b]"
//   server: "server fr [0:en|1:de]"
#include "language/server_translation_client.h"
#include "language/translation_client.h"

#include <QStringList>
#include <QThread>

#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

namespace tavrolin::test {

class EventLog {
public:
    void add(const QString& event) {
        std::lock_guard guard(mutex_);
        events_.append(event);
    }
    QStringList events() const {
        std::lock_guard guard(mutex_);
        return events_;
    }
    // The events starting with the prefix, in order.
    QStringList matching(const QString& prefix) const {
        QStringList result;
        for (const QString& event : events()) {
            if (event.startsWith(prefix)) {
                result.append(event);
            }
        }
        return result;
    }
    qsizetype indexOf(const QString& prefix) const {
        const QStringList all = events();
        for (qsizetype i = 0; i < all.size(); ++i) {
            if (all[i].startsWith(prefix)) {
                return i;
            }
        }
        return -1;
    }

private:
    mutable std::mutex mutex_;
    QStringList events_;
};

inline QString pairName(AppLanguage source, AppLanguage target) {
    return rawValue(source) + QLatin1Char('>') + rawValue(target);
}

// Translates "x" from S to T as "x (S>T device)".
class RecordingDeviceTranslationClient final : public TranslationClient {
public:
    explicit RecordingDeviceTranslationClient(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}

    void setAvailability(AppLanguage source, AppLanguage target, TranslationPairAvailability availability) {
        availability_[{source, target}] = availability;
    }
    void failTranslationsFrom(AppLanguage source, std::exception_ptr error) { failures_[source] = std::move(error); }
    // Answers only the first `count` texts of every call.
    void truncateResultsTo(qsizetype count) { truncateTo_ = count; }
    // Runs after every availability answer (to change the world between decisions).
    void afterAvailability(std::function<void(AppLanguage, AppLanguage)> hook) { afterAvailability_ = std::move(hook); }

    QCoro::Task<TranslationPairAvailability> availability(AppLanguage source, AppLanguage target) override {
        log_->add(QStringLiteral("availability ") + pairName(source, target));
        const auto found = availability_.find({source, target});
        const auto answer = found == availability_.end() ? TranslationPairAvailability::unsupported : found->second;
        if (afterAvailability_) {
            afterAvailability_(source, target);
        }
        co_return answer;
    }

    using TranslationClient::translate;
    QCoro::Task<QStringList> translate(QStringList texts, AppLanguage source, AppLanguage target) override {
        log_->add(QStringLiteral("translate ") + pairName(source, target) + QStringLiteral(" [") +
                  texts.join(QLatin1Char('|')) + QLatin1Char(']'));
        if (const auto failure = failures_.find(source); failure != failures_.end()) {
            std::rethrow_exception(failure->second);
        }
        QStringList result;
        for (const QString& text : texts) {
            if (truncateTo_ && result.size() >= *truncateTo_) {
                break;
            }
            result.append(text + QStringLiteral(" (") + pairName(source, target) + QStringLiteral(" device)"));
        }
        co_return result;
    }

private:
    std::shared_ptr<EventLog> log_;
    std::map<std::pair<AppLanguage, AppLanguage>, TranslationPairAvailability> availability_;
    std::map<AppLanguage, std::exception_ptr> failures_;
    std::optional<qsizetype> truncateTo_;
    std::function<void(AppLanguage, AppLanguage)> afterAvailability_;
};

// Translates request "x" from S to T as "x (S>T server)", or fails with a set error.
class RecordingServerTranslationClient final : public ServerTranslationClient {
public:
    explicit RecordingServerTranslationClient(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}

    void fail(std::exception_ptr error) { error_ = std::move(error); }
    int calls() const { return calls_; }

    QCoro::Task<QList<TranslationResponse>> translate(QList<TranslationRequest> requests, AppLanguage target) override {
        ++calls_;
        QStringList items;
        for (const TranslationRequest& request : requests) {
            items.append(request.id + QLatin1Char(':') + rawValue(request.sourceLanguage));
        }
        log_->add(QStringLiteral("server ") + rawValue(target) + QStringLiteral(" [") + items.join(QLatin1Char('|')) +
                  QLatin1Char(']'));
        if (error_) {
            std::rethrow_exception(error_);
        }
        QList<TranslationResponse> responses;
        for (const TranslationRequest& request : requests) {
            responses.append({request.id, request.text + QStringLiteral(" (") +
                                              pairName(request.sourceLanguage, target) + QStringLiteral(" server)")});
        }
        co_return responses;
    }

private:
    std::shared_ptr<EventLog> log_;
    std::exception_ptr error_;
    int calls_ = 0;
};

}  // namespace tavrolin::test
