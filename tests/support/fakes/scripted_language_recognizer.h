#pragma once

#include "platform/language_recognizer.h"

#include <QHash>
#include <QStringList>

#include <mutex>

namespace tavrolin::test {

// A recognizer that answers from a script: the hypotheses set for a text, otherwise none.
// Records every text it was asked about, with the options.
class ScriptedLanguageRecognizer final : public LanguageRecognizer {
public:
    void script(const QString& text, std::vector<LanguageHypothesis> hypotheses) {
        std::lock_guard lock(mutex_);
        scripted_.insert(text, std::move(hypotheses));
    }
    // Shorthand: one language with probability 1.
    void script(const QString& text, const QString& languageIdentifier) {
        script(text, std::vector<LanguageHypothesis>{{languageIdentifier, 1.0}});
    }

    std::vector<LanguageHypothesis> hypotheses(const QString& text,
                                               LanguageRecognitionOptions options = {}) const override {
        std::lock_guard lock(mutex_);
        askedTexts_.append(text);
        askedBestEffort_.append(options.bestEffort);
        askedHints_.append(QStringList(options.hints.begin(), options.hints.end()));
        return scripted_.value(text);
    }

    QStringList askedTexts() const {
        std::lock_guard lock(mutex_);
        return askedTexts_;
    }
    QList<bool> askedBestEffort() const {
        std::lock_guard lock(mutex_);
        return askedBestEffort_;
    }
    QList<QStringList> askedHints() const {
        std::lock_guard lock(mutex_);
        return askedHints_;
    }

private:
    mutable std::mutex mutex_;
    QHash<QString, std::vector<LanguageHypothesis>> scripted_;
    mutable QStringList askedTexts_;
    mutable QList<bool> askedBestEffort_;
    mutable QList<QStringList> askedHints_;
};

}  // namespace tavrolin::test
