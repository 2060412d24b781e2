#pragma once

// A spell checker whose answers the test writes down: which words are misspelled, their
// guesses and the automatic correction. Words are runs of letters and digits. It records what
// it was asked (the ranges it was told to prepare too), from which thread, and can instead
// replay a fixed list of ranges (to model a checker that answers nonsense).
#include "language/text_spell_checking.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace tavrolin::test {

class ScriptedTextSpellChecker final : public TextSpellChecking {
public:
    struct Entry {
        QStringList guesses;
        std::optional<QString> correction;
    };

    void misspell(const QString& word, QStringList guesses, std::optional<QString> correction = std::nullopt) {
        entries_[word] = Entry{std::move(guesses), std::move(correction)};
    }
    // Every search answers the next of these ranges (then none), whatever the text says.
    void replayRanges(std::vector<std::optional<TextRange>> ranges) {
        replay_ = std::move(ranges);
        replaying_ = true;
    }

    std::optional<TextRange> checkSpelling(const QString& text, qsizetype startingAt,
                                           const QString& language) override {
        std::lock_guard guard(mutex_);
        ++searches_;
        languages_.append(language);
        threads_.push_back(QThread::currentThread());
        if (replaying_) {
            if (replayIndex_ >= replay_.size()) {
                return std::nullopt;
            }
            return replay_[replayIndex_++];
        }
        qsizetype i = std::max<qsizetype>(startingAt, 0);
        while (i < text.size()) {
            while (i < text.size() && !text.at(i).isLetterOrNumber()) {
                ++i;
            }
            const qsizetype start = i;
            while (i < text.size() && text.at(i).isLetterOrNumber()) {
                ++i;
            }
            if (i > start && entries_.count(text.mid(start, i - start))) {
                return TextRange{start, i - start};
            }
        }
        return std::nullopt;
    }

    QStringList guesses(TextRange wordRange, const QString& text, const QString&) override {
        std::lock_guard guard(mutex_);
        ++guessQueries_;
        guessed_.push_back(wordRange);
        const auto found = entries_.find(text.mid(wordRange.location, wordRange.length));
        return found == entries_.end() ? QStringList{} : found->second.guesses;
    }

    std::optional<QString> correction(TextRange wordRange, const QString& text, const QString&) override {
        std::lock_guard guard(mutex_);
        ++correctionQueries_;
        const auto found = entries_.find(text.mid(wordRange.location, wordRange.length));
        return found == entries_.end() ? std::nullopt : found->second.correction;
    }

    void prepareGuesses(const std::vector<TextRange>& wordRanges, const QString&, const QString&) override {
        std::lock_guard guard(mutex_);
        prepared_.push_back(wordRanges);
        guessQueriesBeforePreparing_.push_back(guessQueries_);
    }

    int searches() const {
        std::lock_guard guard(mutex_);
        return searches_;
    }
    int guessQueries() const {
        std::lock_guard guard(mutex_);
        return guessQueries_;
    }
    int correctionQueries() const {
        std::lock_guard guard(mutex_);
        return correctionQueries_;
    }
    QStringList languages() const {
        std::lock_guard guard(mutex_);
        return languages_;
    }
    std::vector<QThread*> threads() const {
        std::lock_guard guard(mutex_);
        return threads_;
    }
    // The ranges of each `prepareGuesses` call, and the ranges `guesses` was asked about.
    std::vector<std::vector<TextRange>> prepared() const {
        std::lock_guard guard(mutex_);
        return prepared_;
    }
    std::vector<TextRange> guessedRanges() const {
        std::lock_guard guard(mutex_);
        return guessed_;
    }
    std::vector<int> guessQueriesBeforePreparing() const {
        std::lock_guard guard(mutex_);
        return guessQueriesBeforePreparing_;
    }

private:
    mutable std::mutex mutex_;
    std::map<QString, Entry> entries_;
    std::vector<std::optional<TextRange>> replay_;
    std::size_t replayIndex_ = 0;
    bool replaying_ = false;
    int searches_ = 0;
    int guessQueries_ = 0;
    int correctionQueries_ = 0;
    QStringList languages_;
    std::vector<QThread*> threads_;
    std::vector<std::vector<TextRange>> prepared_;
    std::vector<TextRange> guessed_;
    std::vector<int> guessQueriesBeforePreparing_;
};

}  // namespace tavrolin::test
