#include "platform/linux/apertium_pipeline.h"

#include "platform/linux/apertium_stream_format.h"
#include "platform/linux/process_work.h"
#include "platform/on_device_translation_engine.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <mutex>
#include <optional>
#include <signal.h>
#include <unistd.h>

namespace tavrolin {

namespace {

using namespace std::chrono_literals;

// Stage programs that flush their output at every NUL when given -z and wait for the next block.
constexpr std::array<const char*, 8> kNullFlushPrograms{
    "lt-proc",  "apertium-tagger",     "apertium-pretransfer", "apertium-transfer",
    "lrx-proc", "apertium-interchunk", "apertium-postchunk",   "cg-proc",
};

// The end of every block: without the closing superblank the tagger keeps the last word back.
constexpr char kBlockEnd[] = "[][\n]";

bool flushesAtNul(const QString& program) {
    const QString name = QFileInfo(program).fileName();
    return std::any_of(kNullFlushPrograms.begin(), kNullFlushPrograms.end(),
                       [&](const char* known) { return name == QLatin1StringView(known); });
}

// The commands of a mode file as words, split at unquoted '|'. Quoting follows the shell for
// single quotes, double quotes without expansions, and backslashes. "$1" (the generator's option:
// "-n", unknown words unmarked) and "$2" (the tagger's extra option: none) are the only
// expansions; anything else a shell would interpret makes the file unusable here.
std::optional<std::vector<QStringList>> commandWords(const QString& text) {
    std::vector<QStringList> commands(1);
    QString word;
    bool inWord = false;
    const auto endWord = [&] {
        if (inWord) {
            commands.back().append(word);
        }
        word.clear();
        inWord = false;
    };
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar ch = text[i];
        if (ch == u'\'') {
            const auto close = text.indexOf(u'\'', i + 1);
            if (close < 0) {
                return std::nullopt;
            }
            word += QStringView(text).mid(i + 1, close - i - 1);
            inWord = true;
            i = close;
        } else if (ch == u'"') {
            qsizetype j = i + 1;
            for (; j < size && text[j] != u'"'; ++j) {
                if (text[j] == u'$' || text[j] == u'`') {
                    return std::nullopt;
                }
                if (text[j] == u'\\' && j + 1 < size && QStringView(u"\"\\$`").contains(text[j + 1])) {
                    ++j;
                }
                word += text[j];
            }
            if (j >= size) {
                return std::nullopt;
            }
            inWord = true;
            i = j;
        } else if (ch == u'\\') {
            if (i + 1 >= size) {
                return std::nullopt;
            }
            if (text[i + 1] != u'\n') {
                word += text[i + 1];
                inWord = true;
            }
            ++i;
        } else if (ch == u' ' || ch == u'\t' || ch == u'\n' || ch == u'\r') {
            endWord();
        } else if (ch == u'|') {
            endWord();
            if (commands.back().isEmpty()) {
                return std::nullopt;
            }
            commands.emplace_back();
        } else if (ch == u'$') {
            const bool placeholder = !inWord && i + 1 < size && (text[i + 1] == u'1' || text[i + 1] == u'2') &&
                                     (i + 2 >= size || text[i + 2].isSpace() || text[i + 2] == u'|');
            if (!placeholder) {
                return std::nullopt;
            }
            if (text[i + 1] == u'1') {
                commands.back().append(QStringLiteral("-n"));
            }
            ++i;
        } else if (QStringView(u";&<>`(){}#").contains(ch)) {
            return std::nullopt;
        } else {
            word += ch;
            inWord = true;
        }
    }
    endWord();
    if (commands.back().isEmpty()) {
        return std::nullopt;
    }
    return commands;
}

QString resolvedProgram(const QString& program) {
    if (program.contains(u'/')) {
        const QFileInfo info(program);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    return QStandardPaths::findExecutable(program);
}

}  // namespace

std::optional<std::vector<ApertiumStage>> nullFlushStages(const QString& modeText) {
    const auto commands = commandWords(modeText);
    if (!commands) {
        return std::nullopt;
    }
    std::vector<ApertiumStage> stages;
    for (const QStringList& words : *commands) {
        if (!flushesAtNul(words.front())) {
            return std::nullopt;
        }
        ApertiumStage stage{words.front(), words.mid(1)};
        if (!stage.arguments.contains(QStringLiteral("-z")) &&
            !stage.arguments.contains(QStringLiteral("--null-flush"))) {
            stage.arguments.prepend(QStringLiteral("-z"));
        }
        stages.push_back(std::move(stage));
    }
    return stages;
}

// ---------------------------------------------------------------------------------------------

ApertiumPipeline::ApertiumPipeline(std::vector<ApertiumStage> stages) : stages_(std::move(stages)) {}

ApertiumPipeline::~ApertiumPipeline() {
    stop();
}

void ApertiumPipeline::start() {
    if (running_ || !processes_.empty() || stages_.empty()) {
        return;
    }
    group_ = 0;
    answeredOnce_ = false;
    pending_.clear();
    auto environment = QProcessEnvironment::systemEnvironment();
    // The stages read and write in the locale's encoding: make it UTF-8.
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    for (std::size_t i = 0; i < stages_.size(); ++i) {
        processes_.push_back(std::make_unique<QProcess>());
    }
    for (std::size_t i = 0; i < processes_.size(); ++i) {
        QProcess* process = processes_[i].get();
        process->setProcessEnvironment(environment);
        process->setStandardErrorFile(QProcess::nullDevice());
        if (i + 1 < processes_.size()) {
            process->setStandardOutputProcess(processes_[i + 1].get());
        } else {
            connect(process, &QProcess::readyReadStandardOutput, this, &ApertiumPipeline::readAnswers);
        }
        connect(process, &QProcess::finished, this, &ApertiumPipeline::stageEnded);
        connect(process, &QProcess::errorOccurred, this, &ApertiumPipeline::stageEnded);
    }
    running_ = true;
    for (std::size_t i = 0; i < processes_.size() && running_; ++i) {
        QProcess* process = processes_[i].get();
        const pid_t group = static_cast<pid_t>(group_);
        // The child joins the group itself and the parent sets it too, so the group is right
        // whichever runs first.
        process->setChildProcessModifier([group] { ::setpgid(0, group); });
        process->start(stages_[i].program, stages_[i].arguments);
        const auto pid = static_cast<pid_t>(process->processId());
        if (pid <= 0) {
            breakDown();
            return;
        }
        if (i == 0) {
            group_ = pid;
        }
        ::setpgid(pid, static_cast<pid_t>(group_));
    }
}

void ApertiumPipeline::breakDown() {
    running_ = false;
    // While one of its stages is not reaped yet the group id is still ours; after that it may
    // name someone else's group.
    const bool groupHeld = std::any_of(processes_.begin(), processes_.end(),
                                       [](const auto& process) { return process->state() != QProcess::NotRunning; });
    if (group_ > 0 && groupHeld) {
        ::kill(-static_cast<pid_t>(group_), SIGKILL);
    }
    for (const auto& process : processes_) {
        // A stage that could not join the group is killed on its own.
        if (process->processId() > 0 && process->state() != QProcess::NotRunning) {
            ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
        }
    }
    notifyProgress();
}

void ApertiumPipeline::stop() {
    if (processes_.empty()) {
        running_ = false;
        return;
    }
    breakDown();
    // Reaping each killed process leaves nothing behind, not even a zombie. A killed process
    // ends at once, so the wait is only for the kernel's word.
    for (auto it = processes_.rbegin(); it != processes_.rend(); ++it) {
        QObject::disconnect(it->get(), nullptr, this, nullptr);
        if ((*it)->state() != QProcess::NotRunning) {
            (*it)->waitForFinished(1000);
        }
    }
    while (!processes_.empty()) {
        processes_.pop_back();
    }
}

bool ApertiumPipeline::isRunning() const {
    return running_;
}

qint64 ApertiumPipeline::processGroup() const {
    return group_;
}

std::vector<qint64> ApertiumPipeline::processIds() const {
    std::vector<qint64> ids;
    for (const auto& process : processes_) {
        if (process->state() != QProcess::NotRunning) {
            ids.push_back(process->processId());
        }
    }
    return ids;
}

void ApertiumPipeline::stageEnded() {
    if (running_) {
        breakDown();
    }
}

void ApertiumPipeline::notifyProgress() {
    // Queued, so a waiting request never resumes (and perhaps deletes this pipeline) inside a
    // signal of one of its processes.
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT progressed(); }, Qt::QueuedConnection);
}

void ApertiumPipeline::readAnswers() {
    if (processes_.empty()) {
        return;
    }
    pending_ += processes_.back()->readAllStandardOutput();
    const auto before = answers_.size();
    qsizetype nul = 0;
    while ((nul = pending_.indexOf('\0')) >= 0) {
        answers_.append(pending_.left(nul));
        pending_.remove(0, nul + 1);
    }
    const bool outOfStep = answers_.size() > expected_ ||
                           std::any_of(answers_.cbegin() + before, answers_.cend(),
                                       [](const QByteArray& answer) { return !answer.contains(kBlockEnd); });
    if (outOfStep) {
        // More blocks than were sent, or one that is not ours (user text cannot hold an
        // unescaped block end): the answers no longer line up with the requests.
        breakDown();
    } else if (answers_.size() != before) {
        notifyProgress();
    }
}

QCoro::Task<QStringList> ApertiumPipeline::translate(QStringList texts, ApertiumBlockBounds bounds) {
    while (busy_ && running_) {
        co_await qCoro(this, &ApertiumPipeline::freed);
    }
    if (!running_) {
        throw ApertiumPipelineBroken("the Apertium pipeline is not running");
    }
    busy_ = true;
    struct Release {
        ApertiumPipeline* pipeline;
        ~Release() {
            pipeline->busy_ = false;
            pipeline->expected_ = 0;
            pipeline->answers_.clear();
            QMetaObject::invokeMethod(
                pipeline, [p = pipeline] { Q_EMIT p->freed(); }, Qt::QueuedConnection);
        }
    } release{this};

    answers_.clear();
    if (!pending_.isEmpty()) {
        breakDown();
        throw ApertiumPipelineBroken("the Apertium pipeline sent output nobody asked for");
    }
    expected_ = texts.size();
    QByteArray input;
    for (const QString& text : texts) {
        input += escapeApertiumStream(text);
        input += kBlockEnd;
        input += '\0';
    }
    processes_.front()->write(input);

    const auto boundFor = [&](qsizetype block) {
        const auto characters = texts[block].size();
        auto bound = std::max<std::chrono::milliseconds>(
            bounds.floor, std::chrono::duration_cast<std::chrono::milliseconds>(bounds.perCharacter * characters));
        if (!answeredOnce_) {
            bound += bounds.startAllowance;
        }
        return bound;
    };
    const auto workingLimitFor = [&](qsizetype block) {
        const auto characters = texts[block].size();
        return bounds.workingLimit +
               std::chrono::duration_cast<std::chrono::milliseconds>(bounds.workingPerCharacter * characters);
    };
    qsizetype answered = 0;
    QElapsedTimer sinceProgress;  // an answer, or work seen in the stages
    QElapsedTimer sinceAnswer;
    sinceProgress.start();
    sinceAnswer.start();
    // Taken only once a block is late: a block answered in time costs no look at the stages.
    std::optional<ProcessWork> work;
    QElapsedTimer sinceWork;  // since `work` was taken
    while (answers_.size() < texts.size()) {
        if (!running_) {
            throw ApertiumPipelineBroken("an Apertium stage ended");
        }
        if (answers_.size() > answered) {
            answered = answers_.size();
            answeredOnce_ = true;
            sinceProgress.restart();
            sinceAnswer.restart();
            work.reset();
            continue;
        }
        const auto bound = boundFor(answered);
        const auto remaining = bound - std::chrono::milliseconds(sinceProgress.elapsed());
        if (remaining > 0ms && co_await qCoro(this, &ApertiumPipeline::progressed, remaining)) {
            continue;
        }
        if (answers_.size() > answered || !running_) {
            continue;
        }
        // No answer within the bound. Stages that are still at work (loading their data, or
        // translating on a machine too busy to let them finish in time) are waited for; only a
        // pipeline that did nothing all that while is hung. A block that keeps them at work
        // without end is stopped at a limit that grows with the block too.
        const auto look = std::max<std::chrono::milliseconds>(100ms, bound / 4);
        if (!work) {
            // What the stages have done so far, and a look again a little later.
            work = workOfProcesses(processIds());
            sinceWork.start();
            if (co_await qCoro(this, &ApertiumPipeline::progressed, look)) {
                continue;
            }
            if (answers_.size() > answered || !running_) {
                continue;
            }
        }
        const ProcessWork now = workOfProcesses(processIds());
        const bool working = work->workedUntil(now);
        const auto limit = workingLimitFor(answered);
        if (working && std::chrono::milliseconds(sinceAnswer.elapsed()) < limit) {
            work = now;
            sinceWork.restart();
            sinceProgress.restart();
            continue;
        }
        // Processor time is counted in ticks of 10 ms, and a busy machine lets a stage run only
        // now and then: one short look that saw none proves nothing. A pipeline is hung when it
        // did no work for as long as a block's bound, 2 s at most.
        if (!working &&
            std::chrono::milliseconds(sinceWork.elapsed()) < std::min<std::chrono::milliseconds>(bound, 2s)) {
            co_await qCoro(this, &ApertiumPipeline::progressed, look);
            continue;
        }
        stop();
        throw OnDeviceTranslationError(
            OnDeviceTranslationError::Kind::timedOut,
            "Apertium answered no block for " + std::to_string(sinceAnswer.elapsed()) + " ms (" +
                (working ? "still working past the limit of " + std::to_string(limit.count()) + " ms"
                         : "no work for " + std::to_string(sinceWork.elapsed()) + " ms") +
                ") and was stopped");
    }
    if (!running_) {
        // It broke down on the last answers: out of step, or a stage ended.
        throw ApertiumPipelineBroken("the Apertium pipeline broke down");
    }
    answeredOnce_ = true;

    QStringList translations;
    for (QByteArray answer : answers_) {
        const auto end = answer.lastIndexOf(kBlockEnd);
        if (end >= 0) {
            answer.remove(end, qsizetype(sizeof(kBlockEnd)) - 1);
        }
        translations.append(unescapeApertiumStream(answer));
    }
    co_return translations;
}

// ---------------------------------------------------------------------------------------------

ApertiumPipelinePool::ApertiumPipelinePool(ApertiumPipelinePoolOptions options, std::shared_ptr<Scheduler> scheduler)
    : options_(options), scheduler_(scheduler ? std::move(scheduler) : std::make_shared<QtScheduler>()) {
    if (auto* application = QCoreApplication::instance()) {
        connect(application, &QCoreApplication::aboutToQuit, this, &ApertiumPipelinePool::stopAll);
    }
}

ApertiumPipelinePool::~ApertiumPipelinePool() {
    stopAll();
}

std::shared_ptr<ApertiumPipelinePool> ApertiumPipelinePool::shared() {
    static std::mutex mutex;
    static std::weak_ptr<ApertiumPipelinePool> current;
    const std::lock_guard lock(mutex);
    auto pool = current.lock();
    if (!pool) {
        pool = std::make_shared<ApertiumPipelinePool>();
        current = pool;
    }
    return pool;
}

ApertiumPipelinePool::Lease::Lease(ApertiumPipelinePool* pool, QString modeFile,
                                   std::shared_ptr<ApertiumPipeline> pipeline)
    : pool_(pool), modeFile_(std::move(modeFile)), pipeline_(std::move(pipeline)) {}

ApertiumPipelinePool::Lease::Lease(Lease&& other) noexcept
    : pool_(std::move(other.pool_)), modeFile_(std::move(other.modeFile_)), pipeline_(std::move(other.pipeline_)) {
    other.pool_ = nullptr;
}

ApertiumPipelinePool::Lease::~Lease() {
    if (pool_ && pipeline_) {
        pool_->release(modeFile_, pipeline_);
    }
}

ApertiumPipelinePool::Entry* ApertiumPipelinePool::find(const QString& modeFile) {
    const auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) { return entry.modeFile == modeFile; });
    return it == entries_.end() ? nullptr : &*it;
}

const ApertiumPipelinePool::Entry* ApertiumPipelinePool::find(const QString& modeFile) const {
    return const_cast<ApertiumPipelinePool*>(this)->find(modeFile);
}

void ApertiumPipelinePool::remove(const QString& modeFile) {
    const auto it =
        std::find_if(entries_.begin(), entries_.end(), [&](const Entry& entry) { return entry.modeFile == modeFile; });
    if (it == entries_.end()) {
        return;
    }
    Entry entry = std::move(*it);
    entries_.erase(it);
    entry.pipeline->stop();
}

std::optional<ApertiumPipelinePool::Lease> ApertiumPipelinePool::acquire(const QString& modeFile) {
    if (options_.maximumPipelines <= 0) {
        return std::nullopt;
    }
    if (Entry* entry = find(modeFile)) {
        if (entry->pipeline->isRunning()) {
            ++entry->users;
            entry->idleStop.reset();
            entry->lastUsed = ++tick_;
            return Lease(this, modeFile, entry->pipeline);
        }
        // It broke down: a fresh one takes its place.
        remove(modeFile);
    }

    QFile file(modeFile);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    auto stages = nullFlushStages(QString::fromUtf8(file.read(64 * 1024)));
    if (!stages) {
        return std::nullopt;
    }
    for (ApertiumStage& stage : *stages) {
        stage.program = resolvedProgram(stage.program);
        if (stage.program.isEmpty()) {
            return std::nullopt;
        }
    }

    if (static_cast<int>(entries_.size()) >= options_.maximumPipelines) {
        const auto idle = std::min_element(entries_.begin(), entries_.end(), [](const Entry& a, const Entry& b) {
            if ((a.users == 0) != (b.users == 0)) {
                return a.users == 0;
            }
            return a.lastUsed < b.lastUsed;
        });
        if (idle->users != 0) {
            return std::nullopt;
        }
        remove(idle->modeFile);
    }

    auto pipeline = std::make_shared<ApertiumPipeline>(std::move(*stages));
    pipeline->start();
    if (!pipeline->isRunning()) {
        return std::nullopt;
    }
    entries_.push_back({modeFile, pipeline, 1, ++tick_, nullptr});
    return Lease(this, modeFile, std::move(pipeline));
}

void ApertiumPipelinePool::release(const QString& modeFile, const std::shared_ptr<ApertiumPipeline>& pipeline) {
    Entry* entry = find(modeFile);
    if (!entry || entry->pipeline != pipeline) {
        return;
    }
    entry->users = std::max(entry->users - 1, 0);
    entry->lastUsed = ++tick_;
    if (entry->users > 0) {
        return;
    }
    if (!entry->pipeline->isRunning()) {
        remove(modeFile);
        return;
    }
    entry->idleStop = scheduler_->scheduleAfter(options_.idleTimeout, [this, modeFile] { remove(modeFile); });
}

void ApertiumPipelinePool::stopAll() {
    while (!entries_.empty()) {
        remove(entries_.front().modeFile);
    }
}

QStringList ApertiumPipelinePool::runningModes() const {
    std::vector<const Entry*> running;
    for (const Entry& entry : entries_) {
        if (entry.pipeline->isRunning()) {
            running.push_back(&entry);
        }
    }
    std::sort(running.begin(), running.end(), [](const Entry* a, const Entry* b) { return a->lastUsed < b->lastUsed; });
    QStringList modes;
    for (const Entry* entry : running) {
        modes.append(entry->modeFile);
    }
    return modes;
}

std::shared_ptr<ApertiumPipeline> ApertiumPipelinePool::pipelineFor(const QString& modeFile) const {
    const Entry* entry = find(modeFile);
    return entry ? entry->pipeline : nullptr;
}

}  // namespace tavrolin
