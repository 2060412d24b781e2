// The speech module: decoders of PocketSphinx.
#include "platform/linux/engine_module_entries.h"
#include "platform/linux/pocketsphinx_speech_models.h"

#include <QFile>
#include <QFileInfo>

#include <mutex>
#include <pocketsphinx.h>
#include <sphinxbase/err.h>

namespace tavrolin {

namespace {

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

// The speech library logs through one file of the whole process, and a load that names a log
// file of its own closes the one before it, under the feet of any load running beside it. So its
// log is switched off once, before the first load, and no load names a file; the loads themselves
// run one at a time, as the library's set-up keeps more process-wide state.
std::mutex& libraryLoadMutex() {
    static std::mutex mutex;
    return mutex;
}

void switchLibraryLogOffOnce() {
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

// Sets one decoder option by its name, converting the value to the option's own type.
bool applyOption(cmd_ln_t* config, const QByteArray& name, const QByteArray& value) {
    for (const arg_t* definition = ps_args(); definition->name != nullptr; ++definition) {
        if (name != definition->name) {
            continue;
        }
        bool ok = false;
        switch (definition->type & ~ARG_REQUIRED) {
        case ARG_INTEGER: {
            const long number = value.toLong(&ok);
            if (ok) {
                cmd_ln_set_int_r(config, definition->name, number);
            }
            return ok;
        }
        case ARG_FLOATING: {
            const double number = value.toDouble(&ok);
            if (ok) {
                cmd_ln_set_float_r(config, definition->name, number);
            }
            return ok;
        }
        case ARG_BOOLEAN: {
            const QByteArray lower = value.toLower();
            if (lower == "yes" || lower == "true" || lower == "1" || lower == "no" || lower == "false" ||
                lower == "0") {
                cmd_ln_set_int_r(config, definition->name, lower == "yes" || lower == "true" || lower == "1");
                return true;
            }
            return false;
        }
        case ARG_STRING:
            cmd_ln_set_str_r(config, definition->name, value.constData());
            return true;
        default:
            return false;
        }
    }
    return false;
}

}  // namespace

}  // namespace tavrolin

tavrolin::SpeechDecoder* tavrolin_speech_load_decoder(const tavrolin::PocketSphinxModelFiles& files,
                                                      const QStringList& extraOptions, QString& error) {
    using namespace tavrolin;
    const QByteArray hmm = QFile::encodeName(files.acousticModel);
    const QByteArray dictionary = QFile::encodeName(files.dictionary);
    const bool useGrammar = !files.grammar.isEmpty();
    const QByteArray modelOption = useGrammar ? QByteArrayLiteral("-jsgf") : QByteArrayLiteral("-lm");
    const QByteArray model = QFile::encodeName(useGrammar ? files.grammar : files.languageModel);
    const std::lock_guard lock(libraryLoadMutex());
    switchLibraryLogOffOnce();
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), modelOption.constData(),
                                   model.constData(), "-dict", dictionary.constData(), nullptr);
    if (config == nullptr) {
        error = QStringLiteral("the speech model settings were refused");
        return nullptr;
    }
    for (qsizetype i = 0; i + 1 < extraOptions.size(); i += 2) {
        if (!applyOption(config, extraOptions.at(i).toUtf8(), extraOptions.at(i + 1).toUtf8())) {
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
    return new PocketSphinxSpeechDecoder(config, decoder, sampleRate);
}
