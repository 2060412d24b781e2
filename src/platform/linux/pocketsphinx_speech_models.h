#pragma once

#include "platform/speech_decoder.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace tavrolin {

// The files of one PocketSphinx model: an acoustic model folder, a pronunciation dictionary and
// either a JSGF grammar or a statistical language model.
struct PocketSphinxModelFiles {
    QString acousticModel;  // folder holding "mdef"
    QString dictionary;     // .dict / .dic
    QString grammar;        // .gram / .jsgf, empty when a language model is used
    QString languageModel;  // .lm.bin / .lm / .dmp, empty when a grammar is used

    bool operator==(const PocketSphinxModelFiles&) const = default;
};

// The model files in one folder: the acoustic model is a subfolder holding "mdef"; a grammar is
// preferred over a language model when both are there. None when something is missing.
std::optional<PocketSphinxModelFiles> pocketSphinxModelFilesIn(const QString& folder);

// Finds and loads PocketSphinx models per recognition locale identifier:
// "<data home>/tavrolin/speech/<identifier>/" first, then, for "en-US" only, the model of
// Debian's pocketsphinx-en-us package.
class PocketSphinxSpeechModels final : public SpeechModelProviding {
public:
    // Empty paths mean the defaults: $XDG_DATA_HOME (or ~/.local/share) and
    // /usr/share/pocketsphinx/model/en-us.
    explicit PocketSphinxSpeechModels(QString dataHome = {}, QString systemEnglishModel = {});

    std::optional<PocketSphinxModelFiles> modelFiles(const QString& localeIdentifier) const;

    bool hasModel(const QString& localeIdentifier) const override;
    std::unique_ptr<SpeechDecoder> loadDecoder(const QString& localeIdentifier, QString& error) override;

    // Decoder options added to every later load, as name and value in turn. By default fewer
    // Gaussians per frame and fewer active HMMs per frame: decoding about twice as fast as the
    // library's defaults, which keeps a large language model well within real time on one core.
    QStringList extraOptions{QStringLiteral("-topn"), QStringLiteral("2"), QStringLiteral("-maxhmmpf"),
                             QStringLiteral("3000")};

private:
    QString dataHome_;
    QString systemEnglishModel_;
};

// Loads a decoder from explicit model files with the speech module, opened by the first load;
// null with the reason in `error` when it fails.
std::unique_ptr<SpeechDecoder> loadPocketSphinxDecoder(const PocketSphinxModelFiles& files,
                                                       const QStringList& extraOptions, QString& error);

}  // namespace tavrolin
