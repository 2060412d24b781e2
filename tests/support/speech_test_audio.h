#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace tavrolin::test {

// Speech made at test time: espeak-ng speaks each phrase, sox turns it into 16 kHz mono signed
// 16-bit and joins the phrases with a second of silence between (a third of a second before and
// after). Answers the WAV file's path, or none (with the reason in `error`) when a tool is missing
// or fails. `wordsPerMinute` is espeak-ng's speed.
std::optional<QString> makeSpeechClip(const QString& folder, const QString& name, const QStringList& phrases,
                                      QString& error, int wordsPerMinute = 150);

// Debian's English acoustic model and dictionary (pocketsphinx-en-us).
QString systemEnglishAcousticModel();
QString systemEnglishDictionary();

// A speech model folder "<dataHome>/tavrolin/speech/<locale>/" that recognises exactly the given
// phrases: links to the English acoustic model and dictionary, and a JSGF grammar of the
// phrases as alternatives. Answers the folder, or none when it cannot be made.
std::optional<QString> makeGrammarSpeechModel(const QString& dataHome, const QString& locale,
                                              const QStringList& phrases);

}  // namespace tavrolin::test
