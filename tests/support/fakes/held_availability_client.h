#pragma once

// A translation client whose availability answers wait until the test gives them, in any order,
// so a test can let an older question be answered after a newer one.
#include "language/translation_client.h"

#include <coroutine>
#include <memory>
#include <stdexcept>
#include <vector>

namespace tavrolin::test {

class HeldAvailabilityClient final : public TranslationClient {
public:
    struct Question {
        AppLanguage source;
        AppLanguage target;
        std::coroutine_handle<> waiting;
        TranslationPairAvailability answer = TranslationPairAvailability::installed;
        bool answered = false;
    };

    ~HeldAvailabilityClient() override {
        // Nothing may be left waiting on a client that is gone.
        for (std::size_t i = 0; i < questions.size(); ++i) {
            if (!questions[i]->answered) {
                answer(i, TranslationPairAvailability::installed);
            }
        }
    }

    QCoro::Task<TranslationPairAvailability> availability(AppLanguage source, AppLanguage target) override {
        auto question = std::make_shared<Question>(Question{source, target, {}});
        questions.push_back(question);
        // A named awaiter: g++ 12 destroys a temporary one in a co_await twice.
        Awaiter awaiter{question};
        const TranslationPairAvailability answer = co_await awaiter;
        co_return answer;
    }
    using TranslationClient::translate;
    QCoro::Task<QStringList> translate(QStringList texts, AppLanguage, AppLanguage) override { co_return texts; }

    void answer(std::size_t index, TranslationPairAvailability availability) {
        Question& question = *questions.at(index);
        if (question.answered) {
            throw std::logic_error("answered twice");
        }
        question.answer = availability;
        question.answered = true;
        if (question.waiting) {
            question.waiting.resume();
        }
    }
    std::size_t openCount() const {
        std::size_t open = 0;
        for (const auto& question : questions) {
            open += question->answered ? 0 : 1;
        }
        return open;
    }

    std::vector<std::shared_ptr<Question>> questions;

private:
    struct Awaiter {
        std::shared_ptr<Question> question;
        bool await_ready() const { return question->answered; }
        void await_suspend(std::coroutine_handle<> handle) { question->waiting = handle; }
        TranslationPairAvailability await_resume() const { return question->answer; }
    };
};

}  // namespace tavrolin::test
