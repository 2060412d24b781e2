#include "platform/linux/pocketsphinx_speech_models.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <pocketsphinx.h>

#include <vector>

namespace tavrolin {

namespace {

const QString kDebianEnglishModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us");

QString firstFile(const QDir& folder, const QStringList& patterns) {
    const QFileInfoList files = folder.entryInfoList(patterns, QDir::Files | QDir::Readable, QDir::Name);
    return files.isEmpty() ? QString() : files.first().absoluteFilePath();
}

// One loaded decoder with its configuration.
class PocketSphinxSpeechDecoder final : public SpeechDecoder {
public:
    PocketSphinxSpeechDecoder(cmd_ln_t* config, ps_decoder_t* decoder, int sampleRate)
        : config_(config), decoder_(decoder), sampleRate_(sampleRate) {}
    ~PocketSphinxSpeechDecoder() override {
        if (inUtterance_) {
            ps_end_utt(decoder_);
        }
        ps_free(decoder_);
        cmd_ln_free_r(config_);
    }
    PocketSphinxSpeechDecoder(const PocketSphinxSpeechDecoder&) = delete;
    PocketSphinxSpeechDecoder& operator=(const PocketSphinxSpeechDecoder&) = delete;

    int sampleRate() const override { return sampleRate_; }

    bool startUtterance(QString& error) override {
        if (inUtterance_) {
            ps_end_utt(decoder_);
            inUtterance_ = false;
        }
        if (ps_start_utt(decoder_) < 0) {
            error = QStringLiteral("the decoder did not start an utterance");
            return false;
        }
        inUtterance_ = true;
        return true;
    }
    bool processSamples(std::span<const std::int16_t> samples, QString& error) override {
        if (!inUtterance_) {
            error = QStringLiteral("no utterance is open");
            return false;
        }
        if (ps_process_raw(decoder_, samples.data(), samples.size(), FALSE, FALSE) < 0) {
            error = QStringLiteral("the decoder rejected the audio");
            return false;
        }
        return true;
    }
    bool inSpeech() const override { return ps_get_in_speech(decoder_) != 0; }
    QString hypothesis() override {
        int32 score = 0;
        const char* words = ps_get_hyp(decoder_, &score);
        return words == nullptr ? QString() : QString::fromUtf8(words);
    }
    bool endUtterance(QString& error) override {
        if (!inUtterance_) {
            return true;
        }
        inUtterance_ = false;
        if (ps_end_utt(decoder_) < 0) {
            error = QStringLiteral("the decoder did not end the utterance");
            return false;
        }
        return true;
    }

private:
    cmd_ln_t* config_;
    ps_decoder_t* decoder_;
    int sampleRate_;
    bool inUtterance_ = false;
};

}  // namespace

std::optional<PocketSphinxModelFiles> pocketSphinxModelFilesIn(const QString& folderPath) {
    const QDir folder(folderPath);
    if (!folder.exists()) {
        return std::nullopt;
    }
    PocketSphinxModelFiles files;
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (QFileInfo(QDir(entry.absoluteFilePath()).filePath(QStringLiteral("mdef"))).isFile()) {
            files.acousticModel = entry.absoluteFilePath();
            break;
        }
    }
    files.dictionary = firstFile(folder, {QStringLiteral("*.dict"), QStringLiteral("*.dic")});
    files.grammar = firstFile(folder, {QStringLiteral("*.gram"), QStringLiteral("*.jsgf")});
    if (files.grammar.isEmpty()) {
        // The Debian package also ships a phone model ("en-us-phone.lm.bin"): not for words.
        const QDir::Filters filters = QDir::Files | QDir::Readable;
        for (const QFileInfo& file : folder.entryInfoList({QStringLiteral("*.lm.bin"), QStringLiteral("*.lm"),
                                                           QStringLiteral("*.lm.dmp"), QStringLiteral("*.dmp")},
                                                          filters, QDir::Name)) {
            if (!file.fileName().contains(QStringLiteral("-phone."))) {
                files.languageModel = file.absoluteFilePath();
                break;
            }
        }
    }
    if (files.acousticModel.isEmpty() || files.dictionary.isEmpty() ||
        (files.grammar.isEmpty() && files.languageModel.isEmpty())) {
        return std::nullopt;
    }
    return files;
}

PocketSphinxSpeechModels::PocketSphinxSpeechModels(QString dataHome, QString systemEnglishModel)
    : dataHome_(std::move(dataHome)), systemEnglishModel_(std::move(systemEnglishModel)) {
    if (dataHome_.isEmpty()) {
        dataHome_ = qEnvironmentVariable("XDG_DATA_HOME");
        if (dataHome_.isEmpty()) {
            dataHome_ = QDir::homePath() + QStringLiteral("/.local/share");
        }
    }
    if (systemEnglishModel_.isEmpty()) {
        systemEnglishModel_ = kDebianEnglishModel;
    }
}

std::optional<PocketSphinxModelFiles> PocketSphinxSpeechModels::modelFiles(const QString& localeIdentifier) const {
    // A path piece, never a path: "en-US" and the like only.
    if (localeIdentifier.isEmpty() || localeIdentifier.contains(u'/') || localeIdentifier.startsWith(u'.')) {
        return std::nullopt;
    }
    const QString own = QDir(dataHome_).filePath(QStringLiteral("tavrolin/speech/") + localeIdentifier);
    if (auto files = pocketSphinxModelFilesIn(own)) {
        return files;
    }
    if (localeIdentifier == u"en-US") {
        return pocketSphinxModelFilesIn(systemEnglishModel_);
    }
    return std::nullopt;
}

bool PocketSphinxSpeechModels::hasModel(const QString& localeIdentifier) const {
    return modelFiles(localeIdentifier).has_value();
}

std::unique_ptr<SpeechDecoder> PocketSphinxSpeechModels::loadDecoder(const QString& localeIdentifier, QString& error) {
    const auto files = modelFiles(localeIdentifier);
    if (!files) {
        error = QStringLiteral("no speech model for %1").arg(localeIdentifier);
        return nullptr;
    }
    return loadPocketSphinxDecoder(*files, extraOptions, error);
}

std::unique_ptr<SpeechDecoder> loadPocketSphinxDecoder(const PocketSphinxModelFiles& files,
                                                       const QStringList& extraOptions, QString& error) {
    const QByteArray hmm = QFile::encodeName(files.acousticModel);
    const QByteArray dictionary = QFile::encodeName(files.dictionary);
    const bool useGrammar = !files.grammar.isEmpty();
    const QByteArray modelOption = useGrammar ? QByteArrayLiteral("-jsgf") : QByteArrayLiteral("-lm");
    const QByteArray model = QFile::encodeName(useGrammar ? files.grammar : files.languageModel);
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), modelOption.constData(),
                                   model.constData(), "-dict", dictionary.constData(), "-logfn", "/dev/null", nullptr);
    if (config == nullptr) {
        error = QStringLiteral("the speech model settings were refused");
        return nullptr;
    }
    for (qsizetype i = 0; i + 1 < extraOptions.size(); i += 2) {
        const QByteArray name = extraOptions.at(i).toUtf8();
        const QByteArray value = extraOptions.at(i + 1).toUtf8();
        if (cmd_ln_init(config, ps_args(), TRUE, name.constData(), value.constData(), nullptr) == nullptr) {
            cmd_ln_free_r(config);
            error = QStringLiteral("the speech model option %1 was refused").arg(extraOptions.at(i));
            return nullptr;
        }
    }
    ps_decoder_t* decoder = ps_init(config);
    if (decoder == nullptr) {
        cmd_ln_free_r(config);
        error = QStringLiteral("the speech model in %1 could not be loaded").arg(QFileInfo(files.acousticModel).path());
        return nullptr;
    }
    const int sampleRate = static_cast<int>(cmd_ln_float32_r(config, "-samprate"));
    return std::make_unique<PocketSphinxSpeechDecoder>(config, decoder, sampleRate);
}

}  // namespace tavrolin
