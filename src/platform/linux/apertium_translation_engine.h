#pragma once

#include "platform/linux/apertium_pipeline.h"
#include "platform/on_device_translation_engine.h"

#include <QStringList>

#include <chrono>

namespace tavrolin {

struct ApertiumConfiguration {
    // The apertium command, looked up on PATH unless it is a path.
    QString executable = QStringLiteral("apertium");
    // Apertium's data folder; the installed translation directions are <folder>/modes/*.mode.
    QString dataDirectory = QStringLiteral("/usr/share/apertium");
    // A run of the apertium command that shows no work this long is stopped (with every process it
    // started); one that works on is stopped at the working limit, which grows with its input.
    std::chrono::milliseconds timeout = std::chrono::seconds(30);
    std::chrono::milliseconds workingLimit = std::chrono::minutes(2);
    std::chrono::microseconds workingPerByte = std::chrono::milliseconds(10);
    // How long a block may take in a kept-running pipeline.
    ApertiumBlockBounds blockBounds = {};
    // The kept-running pipelines; none: the pool the whole process shares.
    std::shared_ptr<ApertiumPipelinePool> pipelines = nullptr;
};

// Translation with Apertium. Each direction runs as a pipeline of its mode's stages, started on
// first use and kept running (see ApertiumPipelinePool); every text of a call is one block.
// When a pipeline cannot be started, or breaks down during a call, the call runs through one
// `apertium -u` process instead: the texts travel together in Apertium's HTML format, one <p>
// element per text with the text escaped, so no text can forge a boundary; when the number of
// elements that comes back is wrong, every text is translated in a process of its own. A block
// that the pipeline does not answer while it does no work fails the call, like a run that hangs.
class ApertiumTranslationEngine final : public OnDeviceTranslationEngine {
public:
    explicit ApertiumTranslationEngine(ApertiumConfiguration configuration = {});

    QCoro::Task<OnDeviceTranslationStatus> status(QString source, QString target) override;
    QCoro::Task<std::vector<OnDeviceTranslationResponse>> translate(
        QString source, QString target, std::vector<OnDeviceTranslationRequest> requests) override;
    // Starts the pair's kept-running pipeline, on the pool's thread once the caller's work
    // returns to its event loop; it is then kept like one a call started. Nothing happens for a
    // pair that is not installed or a call from another thread than the pool's.
    void prepare(QString source, QString target) override;

    bool isEngineInstalled() const;
    // The installed mode (translation direction) for a pair, e.g. "eng-spa"; a mode without a
    // variant is preferred to one with ("spa-eng" before "spa-eng_US").
    std::optional<QString> installedMode(const QString& source, const QString& target) const;
    // The Debian package that translates the pair, for pairs of the program's languages.
    static std::optional<QString> packageForPair(const QString& source, const QString& target);

    // The batch format: "<p>escaped text</p>" per text, and back.
    static QByteArray encodeBatch(const QStringList& texts);
    static std::optional<QStringList> decodeBatch(const QByteArray& output);

private:
    QCoro::Task<QByteArray> run(QString mode, QByteArray input);
    // The translations through the mode's kept-running pipeline; none when the call has to run
    // through the apertium command instead.
    QCoro::Task<std::optional<QStringList>> translateInPipeline(QString mode, QStringList texts);

    ApertiumConfiguration configuration_;
};

}  // namespace tavrolin
