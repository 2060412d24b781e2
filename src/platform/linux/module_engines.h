#pragma once

// The engines that live in the program's modules (engine_module.h), each module opened by the
// first call that needs its engine. Opening one reads a few megabytes of libraries: every caller
// here already runs off the GUI thread (the recognition worker, the dictation queue, the
// diagnostics export). A module that cannot be opened is an error of the one call, in the words
// of its command ("text recognition is not available: <reason>"), never a failed start.
#include "platform/audio_input.h"
#include "platform/http_client.h"
#include "platform/linux/engine_module.h"
#include "platform/speech_decoder.h"
#include "platform/text_recognition_engine.h"
#include "platform/zip_archive_writer.h"

#include <QFuture>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>

namespace tavrolin {

struct PocketSphinxModelFiles;

// The module of `name` in the running program's folders: one object per name for the process.
std::shared_ptr<EngineModule> systemEngineModule(const QString& name);

// The text recognition module's engine, made by the first call. Throws TextRecognitionError
// "text recognition is not available: <reason>" while the module cannot be opened.
class ModuleTextRecognitionEngine final : public TextRecognitionEngine {
public:
    explicit ModuleTextRecognitionEngine(std::shared_ptr<EngineModule> module);
    ~ModuleTextRecognitionEngine() override;

    QStringList installedLanguages() const override;
    std::vector<TextRecognitionLine> recognizeLines(const QImage& image, const QStringList& languages) const override;
    // Opens the module (when it cannot be, the read reports why) and has its engine load.
    void prepare(const QStringList& languages) const override;

    // Whether the engine was made.
    bool isLoaded() const;

private:
    const TextRecognitionEngine& engine() const;

    std::shared_ptr<EngineModule> module_;
    mutable std::mutex mutex_;
    mutable std::unique_ptr<TextRecognitionEngine> engine_;
};

// A decoder of the model files made by the speech module; null with the reason in `error`
// ("speech recognition is not available: <reason>" while the module cannot be opened).
// `checkModel`, when given, runs once the module is open, before the model is loaded: false, with
// its reason in `error`, ends the load.
std::unique_ptr<SpeechDecoder> loadModuleSpeechDecoder(EngineModule& module, const PocketSphinxModelFiles& files,
                                                       const QStringList& extraOptions, QString& error,
                                                       const std::function<bool(QString&)>& checkModel = {});

// A source on the sound server's default input made by the audio module. While the module cannot
// be opened, a source that reports the format the module records in and whose start fails with
// "audio input is not available: <reason>".
std::unique_ptr<AudioInputSource> makeModuleAudioInputSource(EngineModule& module);

// The zip module's writer, made by the first write; a write fails with "zip archives are not
// available: <reason>" while the module cannot be opened.
class ModuleZipArchiveWriter final : public ZipArchiveWriter {
public:
    explicit ModuleZipArchiveWriter(std::shared_ptr<EngineModule> module);
    ~ModuleZipArchiveWriter() override;

    std::optional<QString> write(const QString& destination,
                                 const std::vector<ZipArchiveEntry>& entries) const override;

private:
    std::shared_ptr<EngineModule> module_;
    mutable std::mutex mutex_;
    mutable std::unique_ptr<ZipArchiveWriter> writer_;
};

// The HTTP module's client, made on the thread of the first exchange once the module was opened
// off it (a worker opens and checks the module: about 15 libraries, and loads the trusted
// certificates), started by prepare() or else by the first exchange. While the module cannot be
// opened, an exchange fails with "HTTP is not available: <reason>", and the next one tries again.
class ModuleHttpClient final : public HttpClient {
public:
    explicit ModuleHttpClient(std::shared_ptr<EngineModule> module, HttpClientOptions options = {});
    ~ModuleHttpClient() override;

    QCoro::Task<HttpExchangeAnswer> exchange(HttpExchangeRequest request) override;
    void prepare() override;

    // Whether the client was made (the module is open).
    bool isLoaded() const { return state_->client != nullptr; }

private:
    struct Opened {
        HttpClient* (*make)(const HttpClientOptions&) = nullptr;
        QString error;
    };
    struct State {
        std::shared_ptr<EngineModule> module;
        HttpClientOptions options;
        std::unique_ptr<HttpClient> client;
        // The worker's opening, from prepare() or the first exchange until it ends.
        std::optional<QFuture<Opened>> opening;
    };
    std::shared_ptr<State> state_;
};

}  // namespace tavrolin
