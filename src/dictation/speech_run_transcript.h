#pragma once

#include <QString>
#include <QStringList>

namespace tavrolin {

// The whole text of one recognition run, assembled from a decoder that hypothesises one
// utterance at a time: the finished utterances plus the current one, single spaces between.
// Filler tokens ("<sil>", "[NOISE]", "++GARBAGE++") and alternate-pronunciation marks
// ("read(2)") never reach the text.
class SpeechRunTranscript final {
public:
    // The words of a decoder hypothesis, fillers dropped, single spaces between.
    static QString cleanHypothesis(const QString& hypothesis);

    // The current utterance's latest hypothesis.
    void setCurrentHypothesis(const QString& hypothesis);
    // The current utterance ended with this final hypothesis; the next one starts empty.
    void finishUtterance(const QString& finalHypothesis);

    QString text() const;

private:
    QStringList finished_;
    QString current_;
};

}  // namespace tavrolin
