#include "platform/linux/module_engines.h"

#include "platform/desktop_backend.h"
#include "platform/linux/engine_module_entries.h"

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <map>

namespace tavrolin {

namespace {

// The entry of `module` as the function type it is declared with; null with the reason in
// `error`.
template <typename Function>
Function moduleEntry(EngineModule& module, const char* name, QString& error) {
    return reinterpret_cast<Function>(module.entry(name, error));
}

class UnavailableAudioInputSource final : public AudioInputSource {
public:
    explicit UnavailableAudioInputSource(QString reason) : reason_(std::move(reason)) {}

    // The format the module would record in, so that the caller's checks pass on to start(),
    // whose failure says what is wrong.
    AudioInputFormat format() const override { return soundServerRecordingFormat; }
    std::optional<QString> start() override { return reason_; }
    AudioReadStatus read(std::span<std::int16_t>, QString& error) override {
        error = reason_;
        return AudioReadStatus::failed;
    }
    void stop() override {}

private:
    QString reason_;
};

}  // namespace

std::shared_ptr<EngineModule> systemEngineModule(const QString& name) {
    static std::mutex mutex;
    static std::map<QString, std::shared_ptr<EngineModule>> modules;
    std::lock_guard lock(mutex);
    std::shared_ptr<EngineModule>& module = modules[name];
    if (!module) {
        module = std::make_shared<EngineModule>(name);
    }
    return module;
}

ModuleTextRecognitionEngine::ModuleTextRecognitionEngine(std::shared_ptr<EngineModule> module)
    : module_(std::move(module)) {}

ModuleTextRecognitionEngine::~ModuleTextRecognitionEngine() = default;

const TextRecognitionEngine& ModuleTextRecognitionEngine::engine() const {
    std::lock_guard lock(mutex_);
    if (!engine_) {
        QString error;
        const auto make = moduleEntry<decltype(&tavrolin_ocr_make_engine)>(*module_, "tavrolin_ocr_make_engine", error);
        if (make == nullptr) {
            throw TextRecognitionError(QStringLiteral("text recognition is not available: ") + error);
        }
        engine_.reset(make());
    }
    return *engine_;
}

bool ModuleTextRecognitionEngine::isLoaded() const {
    std::lock_guard lock(mutex_);
    return engine_ != nullptr;
}

QStringList ModuleTextRecognitionEngine::installedLanguages() const {
    return engine().installedLanguages();
}

std::vector<TextRecognitionLine> ModuleTextRecognitionEngine::recognizeLines(const QImage& image,
                                                                             const QStringList& languages) const {
    return engine().recognizeLines(image, languages);
}

void ModuleTextRecognitionEngine::prepare(const QStringList& languages) const {
    try {
        engine().prepare(languages);
    } catch (const TextRecognitionError&) {
        // The read opens the module again and says why it cannot.
    }
}

std::shared_ptr<TextRecognitionEngine> makeSystemTextRecognitionEngine() {
    static std::mutex mutex;
    static std::weak_ptr<TextRecognitionEngine> shared;
    std::lock_guard lock(mutex);
    std::shared_ptr<TextRecognitionEngine> engine = shared.lock();
    if (!engine) {
        engine = std::make_shared<ModuleTextRecognitionEngine>(systemEngineModule(QStringLiteral("ocr")));
        shared = engine;
    }
    return engine;
}

std::unique_ptr<SpeechDecoder> loadModuleSpeechDecoder(EngineModule& module, const PocketSphinxModelFiles& files,
                                                       const QStringList& extraOptions, QString& error,
                                                       const std::function<bool(QString&)>& checkModel) {
    QString reason;
    const auto load =
        moduleEntry<decltype(&tavrolin_speech_load_decoder)>(module, "tavrolin_speech_load_decoder", reason);
    if (load == nullptr) {
        error = QStringLiteral("speech recognition is not available: ") + reason;
        return nullptr;
    }
    if (checkModel && !checkModel(error)) {
        return nullptr;
    }
    return std::unique_ptr<SpeechDecoder>(load(files, extraOptions, error));
}

std::unique_ptr<AudioInputSource> makeModuleAudioInputSource(EngineModule& module) {
    QString reason;
    const auto make =
        moduleEntry<decltype(&tavrolin_audio_make_input_source)>(module, "tavrolin_audio_make_input_source", reason);
    if (make == nullptr) {
        return std::make_unique<UnavailableAudioInputSource>(QStringLiteral("audio input is not available: ") + reason);
    }
    return std::unique_ptr<AudioInputSource>(make());
}

std::unique_ptr<AudioInputSource> makeSystemAudioInputSource() {
    return makeModuleAudioInputSource(*systemEngineModule(QStringLiteral("audio")));
}

ModuleZipArchiveWriter::ModuleZipArchiveWriter(std::shared_ptr<EngineModule> module) : module_(std::move(module)) {}

ModuleZipArchiveWriter::~ModuleZipArchiveWriter() = default;

std::optional<QString> ModuleZipArchiveWriter::write(const QString& destination,
                                                     const std::vector<ZipArchiveEntry>& entries) const {
    const ZipArchiveWriter* writer = nullptr;
    {
        std::lock_guard lock(mutex_);
        if (!writer_) {
            QString error;
            const auto make =
                moduleEntry<decltype(&tavrolin_zip_make_writer)>(*module_, "tavrolin_zip_make_writer", error);
            if (make == nullptr) {
                return QStringLiteral("zip archives are not available: ") + error;
            }
            writer_.reset(make());
        }
        writer = writer_.get();
    }
    return writer->write(destination, entries);
}

std::shared_ptr<const ZipArchiveWriter> makeSystemZipArchiveWriter() {
    return std::make_shared<ModuleZipArchiveWriter>(systemEngineModule(QStringLiteral("zip")));
}

ModuleHttpClient::ModuleHttpClient(std::shared_ptr<EngineModule> module, HttpClientOptions options)
    : state_(std::make_shared<State>(State{std::move(module), std::move(options), nullptr})) {}

ModuleHttpClient::~ModuleHttpClient() = default;

void ModuleHttpClient::prepare() {
    if (state_->client || state_->opening) {
        return;
    }
    state_->opening = QtConcurrent::run([module = state_->module, options = state_->options] {
        Opened result;
        const auto prepareTrust =
            moduleEntry<decltype(&tavrolin_http_prepare)>(*module, "tavrolin_http_prepare", result.error);
        if (prepareTrust == nullptr) {
            return result;
        }
        prepareTrust(options);
        result.make =
            moduleEntry<decltype(&tavrolin_http_make_client)>(*module, "tavrolin_http_make_client", result.error);
        return result;
    });
}

QCoro::Task<HttpExchangeAnswer> ModuleHttpClient::exchange(HttpExchangeRequest request) {
    const std::shared_ptr<State> state = state_;
    if (!state->client) {
        prepare();
        // A copy: g++ 12 destroys a temporary of a co_await expression twice.
        QFuture<Opened> opening = *state->opening;
        const Opened opened = co_await opening;
        if (opened.make == nullptr) {
            state->opening.reset();  // the next exchange tries again
            HttpExchangeAnswer failed;
            failed.failure = HttpFailure::other;
            failed.failureDetail = QStringLiteral("HTTP is not available: ") + opened.error;
            co_return failed;
        }
        // Another exchange may have made it meanwhile.
        if (!state->client) {
            state->client.reset(opened.make(state->options));
            state->opening.reset();
        }
    }
    co_return co_await state->client->exchange(std::move(request));
}

std::shared_ptr<HttpClient> systemHttpClient() {
    static std::mutex mutex;
    static std::weak_ptr<HttpClient> shared;
    std::lock_guard lock(mutex);
    std::shared_ptr<HttpClient> client = shared.lock();
    if (!client) {
        client = std::make_shared<ModuleHttpClient>(systemEngineModule(QStringLiteral("http")));
        shared = client;
    }
    return client;
}

}  // namespace tavrolin
