#pragma once

#include "platform/clock.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class QProcess;

namespace tavrolin {

// One stage of a translation direction: a program and its arguments.
struct ApertiumStage {
    QString program;
    QStringList arguments;

    bool operator==(const ApertiumStage&) const = default;
};

// The stages of a mode file ("lt-proc 'a.bin' | apertium-tagger -g $2 'b.prob' | ..."), each
// with its null-flush flag and unknown words left unmarked. None when the file holds anything
// but a plain pipeline of programs known to flush at a NUL (then the direction runs through
// the apertium command, one process per call).
std::optional<std::vector<ApertiumStage>> nullFlushStages(const QString& modeText);

// The pipeline ended or went out of step while translating; it has been stopped.
class ApertiumPipelineBroken : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// How long a block may take before the pipeline counts as hung: a pipeline that neither answers
// nor works (uses the processor or writes) within a block's bound is hung; one that works
// on gets more time, up to the block's working limit.
struct ApertiumBlockBounds {
    // The least time a block gets without an answer or any work.
    std::chrono::milliseconds floor = std::chrono::seconds(2);
    // Time per character of the block, for long texts.
    std::chrono::microseconds perCharacter = std::chrono::microseconds(500);
    // Added to the first block of a freshly started pipeline, which loads its data first.
    std::chrono::milliseconds startAllowance = std::chrono::seconds(10);
    // The longest a block may keep the pipeline at work, and the time added per character.
    std::chrono::milliseconds workingLimit = std::chrono::minutes(2);
    std::chrono::microseconds workingPerCharacter = std::chrono::milliseconds(10);
};

// The stages of one translation direction, started once as one process group and fed block by
// block: each text goes in as a block ended by a closing superblank and a NUL, and its
// translation comes back ended by a NUL. Requests are served one at a time, in order.
class ApertiumPipeline final : public QObject {
    Q_OBJECT
public:
    explicit ApertiumPipeline(std::vector<ApertiumStage> stages);
    ~ApertiumPipeline() override;

    // Starts every stage without a shell, in a process group of its own.
    void start();
    // Kills the process group; a request in flight ends as broken.
    void stop();
    bool isRunning() const;
    qint64 processGroup() const;
    std::vector<qint64> processIds() const;

    // The translation of each text, in order. Throws ApertiumPipelineBroken when a stage ends
    // or the answers go out of step, OnDeviceTranslationError (timedOut) when a block gets no
    // answer within its bound and the pipeline then shows no work for as long again (2 s at
    // most), or none within its working limit;
    // either way the pipeline is stopped.
    QCoro::Task<QStringList> translate(QStringList texts, ApertiumBlockBounds bounds);

Q_SIGNALS:
    // Internal: a block was answered or the pipeline broke down; a request was finished.
    void progressed();
    void freed();

private:
    void readAnswers();
    void stageEnded();
    void breakDown();
    void notifyProgress();

    std::vector<ApertiumStage> stages_;
    std::vector<std::unique_ptr<QProcess>> processes_;
    qint64 group_ = 0;
    bool running_ = false;
    bool busy_ = false;
    bool answeredOnce_ = false;
    qsizetype expected_ = 0;
    QByteArray pending_;
    QList<QByteArray> answers_;
};

struct ApertiumPipelinePoolOptions {
    // Pipelines running at once; the least recently used idle one makes room. With 0 every
    // call runs through the apertium command.
    int maximumPipelines = 3;
    // A pipeline unused this long is stopped.
    std::chrono::milliseconds idleTimeout = std::chrono::minutes(2);
};

// The running pipelines of the program, one per mode file, started on first use. Quitting the
// application, or destroying the pool, stops them all.
class ApertiumPipelinePool final : public QObject {
    Q_OBJECT
public:
    explicit ApertiumPipelinePool(ApertiumPipelinePoolOptions options = {},
                                  std::shared_ptr<Scheduler> scheduler = nullptr);
    ~ApertiumPipelinePool() override;

    // The pool every engine of the process shares unless it is given one.
    static std::shared_ptr<ApertiumPipelinePool> shared();

    // A pipeline held for one request; giving it back starts its idle time.
    class Lease {
    public:
        Lease(ApertiumPipelinePool* pool, QString modeFile, std::shared_ptr<ApertiumPipeline> pipeline);
        Lease(Lease&& other) noexcept;
        Lease& operator=(Lease&&) = delete;
        ~Lease();
        ApertiumPipeline& operator*() const { return *pipeline_; }
        ApertiumPipeline* operator->() const { return pipeline_.get(); }

    private:
        QPointer<ApertiumPipelinePool> pool_;
        QString modeFile_;
        std::shared_ptr<ApertiumPipeline> pipeline_;
    };

    // The running pipeline of a mode file, started when there is none. None when the mode
    // cannot run as a pipeline (a stage program missing, an unknown stage) or when every
    // running pipeline is busy and no room is left.
    std::optional<Lease> acquire(const QString& modeFile);
    void stopAll();
    // The mode files whose pipelines run, least recently used first.
    QStringList runningModes() const;
    std::shared_ptr<ApertiumPipeline> pipelineFor(const QString& modeFile) const;

private:
    struct Entry {
        QString modeFile;
        std::shared_ptr<ApertiumPipeline> pipeline;
        int users = 0;
        std::uint64_t lastUsed = 0;
        std::unique_ptr<ScheduledCall> idleStop;
    };

    void release(const QString& modeFile, const std::shared_ptr<ApertiumPipeline>& pipeline);
    void remove(const QString& modeFile);
    Entry* find(const QString& modeFile);
    const Entry* find(const QString& modeFile) const;

    ApertiumPipelinePoolOptions options_;
    std::shared_ptr<Scheduler> scheduler_;
    std::vector<Entry> entries_;
    std::uint64_t tick_ = 0;
};

}  // namespace tavrolin
