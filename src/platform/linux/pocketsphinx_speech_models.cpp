#include "platform/linux/pocketsphinx_speech_models.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <pocketsphinx.h>
#include <sphinxbase/err.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

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

// Some damaged acoustic model files make the library end the whole process instead of failing
// (random bytes in "mdef" or "means" do). So the acoustic model is first loaded in a child
// process, with a one-word dictionary to keep it quick (about 25 ms); only when that child
// survives is the model loaded here.
bool acousticModelLoadsInChild(const PocketSphinxModelFiles& files, QString& error) {
    QFile dictionary(files.dictionary);
    if (!dictionary.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("the pronunciation dictionary cannot be read: %1").arg(dictionary.errorString());
        return false;
    }
    QByteArray firstEntry;
    while (!dictionary.atEnd() && dictionary.pos() < 65536) {
        const QByteArray line = dictionary.readLine(4096).trimmed();
        if (!line.isEmpty() && !line.startsWith("##")) {
            firstEntry = line;
            break;
        }
    }
    if (firstEntry.isEmpty()) {
        error = QStringLiteral("the pronunciation dictionary is empty");
        return false;
    }
    QTemporaryFile oneWord;
    if (!oneWord.open() || oneWord.write(firstEntry + '\n') < 0 || !oneWord.flush()) {
        error = QStringLiteral("no temporary file for checking the speech model");
        return false;
    }
    const QByteArray hmm = QFile::encodeName(files.acousticModel);
    const QByteArray dictionaryPath = QFile::encodeName(oneWord.fileName());
    const pid_t child = fork();
    if (child < 0) {
        error = QStringLiteral("the speech model could not be checked");
        return false;
    }
    if (child == 0) {
        // Only the library's own calls here, then _exit: nothing of this process's state is touched.
        // A model that ends the child makes it print on its way out: not on our terminal.
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0) {
            dup2(devNull, STDOUT_FILENO);
            dup2(devNull, STDERR_FILENO);
        }
        err_set_logfp(nullptr);
        cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict",
                                       dictionaryPath.constData(), "-logfn", "/dev/null", nullptr);
        _exit(config != nullptr && ps_init(config) != nullptr ? 0 : 3);
    }
    // A child forked from a process with other threads can deadlock on a lock one of them held
    // at the fork (seen with the sanitizers' allocator): it is given a bounded time, and a child
    // that neither finishes nor dies in it proved nothing bad about the model.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (;;) {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) {
            break;
        }
        if (ended < 0 && errno != EINTR) {
            error = QStringLiteral("the speech model could not be checked");
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = QStringLiteral("the acoustic model in %1 is damaged").arg(files.acousticModel);
        return false;
    }
    return true;
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
            if (lower == "yes" || lower == "true" || lower == "1" || lower == "no" || lower == "false" || lower == "0") {
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
    if (!acousticModelLoadsInChild(files, error)) {
        return nullptr;
    }
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
    return std::make_unique<PocketSphinxSpeechDecoder>(config, decoder, sampleRate);
}

}  // namespace tavrolin
