#include "support/speech_test_audio.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

namespace tavrolin::test {

namespace {

bool runTool(const QString& program, const QStringList& arguments, QString& error) {
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        error = program + QStringLiteral(" is not installed");
        return false;
    }
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        error = QStringLiteral("%1 failed: %2").arg(program, QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    return true;
}

}  // namespace

std::optional<QString> makeSpeechClip(const QString& folder, const QString& name, const QStringList& phrases,
                                      QString& error, int wordsPerMinute) {
    const QDir dir(folder);
    QStringList pieces;
    for (qsizetype i = 0; i < phrases.size(); ++i) {
        const QString spoken = dir.filePath(QStringLiteral("%1-%2-voice.wav").arg(name).arg(i));
        const QString piece = dir.filePath(QStringLiteral("%1-%2.wav").arg(name).arg(i));
        if (!runTool(QStringLiteral("espeak-ng"),
                     {QStringLiteral("-v"), QStringLiteral("en-us"), QStringLiteral("-s"),
                      QString::number(wordsPerMinute), QStringLiteral("-w"), spoken, phrases[i]},
                     error)) {
            return std::nullopt;
        }
        const QString before = i == 0 ? QStringLiteral("0.3") : QStringLiteral("0");
        const QString after = i + 1 == phrases.size() ? QStringLiteral("0.3") : QStringLiteral("1");
        if (!runTool(QStringLiteral("sox"),
                     {spoken, QStringLiteral("-r"), QStringLiteral("16000"), QStringLiteral("-c"), QStringLiteral("1"),
                      QStringLiteral("-b"), QStringLiteral("16"), QStringLiteral("-e"),
                      QStringLiteral("signed-integer"), piece, QStringLiteral("pad"), before, after},
                     error)) {
            return std::nullopt;
        }
        pieces << piece;
    }
    const QString clip = dir.filePath(name + QStringLiteral(".wav"));
    if (pieces.size() == 1) {
        QFile::remove(clip);
        if (!QFile::rename(pieces.first(), clip)) {
            error = QStringLiteral("cannot write %1").arg(clip);
            return std::nullopt;
        }
        return clip;
    }
    if (!runTool(QStringLiteral("sox"), pieces + QStringList{clip}, error)) {
        return std::nullopt;
    }
    return clip;
}

QString systemEnglishAcousticModel() {
    return QStringLiteral("/usr/share/pocketsphinx/model/en-us/en-us");
}

QString systemEnglishDictionary() {
    return QStringLiteral("/usr/share/pocketsphinx/model/en-us/cmudict-en-us.dict");
}

std::optional<QString> makeGrammarSpeechModel(const QString& dataHome, const QString& locale,
                                              const QStringList& phrases) {
    const QString folder = QDir(dataHome).filePath(QStringLiteral("tavrolin/speech/") + locale);
    if (!QDir().mkpath(folder) || !QFile::exists(systemEnglishAcousticModel())) {
        return std::nullopt;
    }
    const QDir dir(folder);
    QFile::link(systemEnglishAcousticModel(), dir.filePath(QStringLiteral("en-us")));
    QFile::link(systemEnglishDictionary(), dir.filePath(QStringLiteral("words.dict")));
    QFile grammar(dir.filePath(QStringLiteral("words.gram")));
    if (!grammar.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        return std::nullopt;
    }
    grammar.write("#JSGF V1.0;\ngrammar words;\npublic <phrase> = " + phrases.join(QStringLiteral(" | ")).toUtf8() +
                  ";\n");
    return folder;
}

}  // namespace tavrolin::test
