#include "dictation/speech_run_transcript.h"

#include <QRegularExpression>

namespace tavrolin {

namespace {

bool isFiller(const QString& token) {
    return (token.startsWith(u'<') && token.endsWith(u'>')) || (token.startsWith(u'[') && token.endsWith(u']')) ||
           (token.startsWith(u"++") && token.endsWith(u"++"));
}

}  // namespace

QString SpeechRunTranscript::cleanHypothesis(const QString& hypothesis) {
    static const QRegularExpression whitespace(QStringLiteral("\\s+"));
    static const QRegularExpression alternate(QStringLiteral("\\(\\d+\\)$"));
    QStringList words;
    for (QString token : hypothesis.split(whitespace, Qt::SkipEmptyParts)) {
        if (isFiller(token)) {
            continue;
        }
        token.remove(alternate);
        if (!token.isEmpty()) {
            words << token;
        }
    }
    return words.join(u' ');
}

void SpeechRunTranscript::setCurrentHypothesis(const QString& hypothesis) {
    current_ = cleanHypothesis(hypothesis);
}

void SpeechRunTranscript::finishUtterance(const QString& finalHypothesis) {
    const QString words = cleanHypothesis(finalHypothesis);
    if (!words.isEmpty()) {
        finished_ << words;
    }
    current_.clear();
}

QString SpeechRunTranscript::text() const {
    QStringList parts = finished_;
    if (!current_.isEmpty()) {
        parts << current_;
    }
    return parts.join(u' ');
}

}  // namespace tavrolin
