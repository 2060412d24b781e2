// The kept-running pipelines with the machine's Apertium (English to and from Spanish).
#include "platform/linux/apertium_translation_engine.h"
#include "support/async.h"
#include "support/fakes/numbered_requests.h"
#include "support/virtual_time.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using test::requestsFor;
using test::textsOf;

// The processes pgrep finds with the given options ("-g", group / "-P", parent).
QStringList pgrep(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("pgrep"), QStringList{QStringLiteral("-l")} + arguments);
    process.waitForFinished(5000);
    return QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

QStringList groupMembers(qint64 group) {
    return pgrep({QStringLiteral("-g"), QString::number(group)});
}

// Apertium's programs among the children of this test.
QStringList apertiumChildren() {
    QStringList found;
    for (const QString& line : pgrep({QStringLiteral("-P"), QString::number(::getpid())})) {
        if (line.contains(QStringLiteral("lt-proc")) || line.contains(QStringLiteral("apertium")) ||
            line.contains(QStringLiteral("lrx-proc")) || line.contains(QStringLiteral("cg-proc"))) {
            found.append(line);
        }
    }
    return found;
}

const QString kEngSpa = QStringLiteral("/usr/share/apertium/modes/eng-spa.mode");
const QString kSpaEng = QStringLiteral("/usr/share/apertium/modes/spa-eng.mode");

class WarmApertium : public ::testing::Test {
protected:
    ApertiumTranslationEngine engine(ApertiumBlockBounds bounds = {}) {
        ApertiumConfiguration configuration;
        // A command that cannot translate: a call that left the pipeline would fail.
        configuration.executable = QStringLiteral("false");
        configuration.blockBounds = bounds;
        configuration.pipelines = pool;
        return ApertiumTranslationEngine(configuration);
    }

    QStringList translate(ApertiumTranslationEngine& engine, const QStringList& texts, const char* from = "en",
                          const char* to = "es") {
        return textsOf(test::await(engine.translate(from, to, requestsFor(texts))));
    }

    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>();
    std::shared_ptr<ApertiumPipelinePool> pool =
        std::make_shared<ApertiumPipelinePool>(ApertiumPipelinePoolOptions{}, scheduler);
};

TEST_F(WarmApertium, SentencesGoThroughOneWarmPipeline) {
    auto apertium = engine();
    EXPECT_EQ(translate(apertium, {"I have a red car."}), QStringList{"Tengo un coche rojo."});
    const auto pipeline = pool->pipelineFor(kEngSpa);
    ASSERT_TRUE(pipeline && pipeline->isRunning());
    const auto group = pipeline->processGroup();
    EXPECT_EQ(groupMembers(group).size(), 11) << groupMembers(group).join(u',').toStdString();

    QElapsedTimer timer;
    timer.start();
    const auto out = translate(apertium, {"Good morning.", "", "Line one.\nThe dog.", "[Hello] <b>"});
    const auto warm = timer.elapsed();
    ASSERT_EQ(out.size(), 4);
    EXPECT_EQ(out[0], QString::fromUtf8("Buenos días."));
    EXPECT_EQ(out[1], "");
    EXPECT_TRUE(out[2].contains(u'\n') && out[2].contains("perro")) << out[2].toStdString();
    EXPECT_TRUE(out[3].contains("[") && out[3].contains("]") && out[3].contains("<b>")) << out[3].toStdString();
    EXPECT_LT(warm, 2000);
    EXPECT_EQ(pool->pipelineFor(kEngSpa), pipeline);
    EXPECT_EQ(pipeline->processGroup(), group);
}

TEST_F(WarmApertium, TranslatesAsTheApertiumCommandDoes) {
    auto warm = engine();
    ApertiumTranslationEngine oneProcess(
        {.pipelines = std::make_shared<ApertiumPipelinePool>(ApertiumPipelinePoolOptions{.maximumPipelines = 0})});
    struct Case {
        const char* from;
        const char* to;
        QStringList texts;
    };
    const std::vector<Case> cases{
        {"en",
         "es",
         {"The cat sleeps on the sofa.", "Where is the station?\nI do not know, xyzzy.", "Thank you very much."}},
        {"es", "en", {QString::fromUtf8("¿Dónde está la estación?"), "El perro corre en el jardín."}},
        {"ru", "uk", {QString::fromUtf8("Я люблю свою собаку."), QString::fromUtf8("Где находится вокзал?")}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(translate(warm, c.texts, c.from, c.to), translate(oneProcess, c.texts, c.from, c.to))
            << c.from << " to " << c.to;
    }
    EXPECT_EQ(pool->runningModes().size(), 3);
}

TEST_F(WarmApertium, APipelineKilledUnderTheProgramIsRestarted) {
    auto apertium = engine();
    translate(apertium, {"The house."});
    const auto first = pool->pipelineFor(kEngSpa);
    ASSERT_TRUE(first);
    ::kill(-static_cast<pid_t>(first->processGroup()), SIGKILL);
    ASSERT_TRUE(test::waitUntil([&] { return !first->isRunning(); }, 5s));

    EXPECT_EQ(translate(apertium, {"I have a red car."}), QStringList{"Tengo un coche rojo."});
    const auto second = pool->pipelineFor(kEngSpa);
    ASSERT_TRUE(second && second->isRunning());
    EXPECT_NE(second->processGroup(), first->processGroup());
    EXPECT_TRUE(groupMembers(first->processGroup()).isEmpty());
}

TEST_F(WarmApertium, AHungStageFailsTheRequestInTimeAndTheNextOneWorks) {
    auto apertium = engine({.floor = 500ms, .perCharacter = 500us, .startAllowance = 20s});
    translate(apertium, {"The house."});
    const auto pipeline = pool->pipelineFor(kEngSpa);
    ASSERT_TRUE(pipeline);
    const auto processes = pipeline->processIds();
    ASSERT_EQ(processes.size(), 11u);
    ::kill(static_cast<pid_t>(processes[1]), SIGSTOP);  // the tagger

    QElapsedTimer timer;
    timer.start();
    try {
        translate(apertium, {"The dog runs in the garden."});
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::timedOut);
    }
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_TRUE(groupMembers(pipeline->processGroup()).isEmpty());

    EXPECT_EQ(translate(apertium, {"I have a red car."}), QStringList{"Tengo un coche rojo."});
}

TEST_F(WarmApertium, AnIdlePipelineStopsAndStartsAgainOnTheNextRequest) {
    auto apertium = engine();
    EXPECT_TRUE(pool->runningModes().isEmpty());
    translate(apertium, {"The house."});
    const auto group = pool->pipelineFor(kEngSpa)->processGroup();
    scheduler->advance(119s);
    EXPECT_EQ(pool->runningModes(), QStringList{kEngSpa});
    scheduler->advance(1s);
    EXPECT_TRUE(pool->runningModes().isEmpty());
    EXPECT_TRUE(groupMembers(group).isEmpty());

    EXPECT_EQ(translate(apertium, {"I have a red car."}), QStringList{"Tengo un coche rojo."});
    EXPECT_EQ(pool->runningModes(), QStringList{kEngSpa});
}

TEST_F(WarmApertium, APreparedDirectionRunsOnceAndTheTranslationUsesIt) {
    auto apertium = engine();
    apertium.prepare("en", "es");
    apertium.prepare("en", "es");
    apertium.prepare("en", "fr");                 // not installed: nothing starts
    EXPECT_TRUE(pool->runningModes().isEmpty());  // not before the caller's work is done
    ASSERT_TRUE(test::waitUntil([&] { return !pool->runningModes().isEmpty(); }, 5s));
    QCoreApplication::processEvents();
    EXPECT_EQ(pool->runningModes(), QStringList{kEngSpa});
    const auto prepared = pool->pipelineFor(kEngSpa);

    EXPECT_EQ(translate(apertium, {"I have a red car."}), QStringList{"Tengo un coche rojo."});
    EXPECT_EQ(pool->pipelineFor(kEngSpa), prepared);
    EXPECT_EQ(pool->runningModes(), QStringList{kEngSpa});
}

TEST_F(WarmApertium, QuittingLeavesNoApertiumProcess) {
    auto apertium = engine();
    translate(apertium, {"The house."});
    translate(apertium, {"La casa."}, "es", "en");
    const auto groups = {pool->pipelineFor(kEngSpa)->processGroup(), pool->pipelineFor(kSpaEng)->processGroup()};
    const auto running =
        pool->pipelineFor(kEngSpa)->processIds().size() + pool->pipelineFor(kSpaEng)->processIds().size();
    EXPECT_EQ(running, 21u);  // eleven stages one way, ten the other
    EXPECT_EQ(static_cast<std::size_t>(apertiumChildren().size()), running);

    // What the application announces when it quits.
    ASSERT_TRUE(QMetaObject::invokeMethod(QCoreApplication::instance(), "aboutToQuit", Qt::DirectConnection));

    EXPECT_TRUE(pool->runningModes().isEmpty());
    for (const auto group : groups) {
        EXPECT_TRUE(groupMembers(group).isEmpty()) << group;
    }
    EXPECT_TRUE(apertiumChildren().isEmpty()) << apertiumChildren().join(u',').toStdString();

    // The same when the last engine and its pool go away.
    translate(apertium, {"The house."});
    EXPECT_EQ(apertiumChildren().size(), 11);
    pool.reset();
    { const auto last = std::move(apertium); }
    EXPECT_TRUE(apertiumChildren().isEmpty()) << apertiumChildren().join(u',').toStdString();
}

}  // namespace
}  // namespace tavrolin
