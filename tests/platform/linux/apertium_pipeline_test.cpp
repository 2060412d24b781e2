// The kept-running pipeline with stand-in stages: small bash programs that answer every
// NUL-ended block, installed under the names of real stage programs.
#include "platform/linux/apertium_translation_engine.h"
#include "support/async.h"
#include "support/fakes/numbered_requests.h"
#include "support/virtual_time.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using test::requestsFor;
using test::textsOf;

// Answers every block with itself; the body may add cases before the answer.
QByteArray stageScript(const QByteArray& beforeAnswer = {}) {
    return "#!/bin/bash\n"
           "while IFS= read -r -d '' block; do\n" +
           beforeAnswer +
           "  printf '%s\\0' \"$block\"\n"
           "done\n";
}

class FakeStages : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath("data/modes"));
        ASSERT_TRUE(QDir(dir.path()).mkpath("bin"));
        // The apertium command of the fallback: counts its runs and echoes its input.
        writeExecutable("apertium", "#!/bin/sh\necho run >> '" + file("runs").toUtf8() + "'\ncat\n");
    }

    void writeExecutable(const QString& name, const QByteArray& body) {
        QFile script(file(name));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write(body);
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void writeMode(const QByteArray& text) {
        QFile mode(file("data/modes/eng-spa.mode"));
        ASSERT_TRUE(mode.open(QIODevice::WriteOnly | QIODevice::Truncate));
        mode.write(text);
    }

    ApertiumTranslationEngine engine(ApertiumBlockBounds bounds = {
                                         .floor = 2s, .perCharacter = 500us, .startAllowance = 5s}) {
        ApertiumConfiguration configuration;
        configuration.executable = file("apertium");
        configuration.dataDirectory = file("data");
        configuration.timeout = 10s;
        configuration.blockBounds = bounds;
        configuration.pipelines = pool;
        return ApertiumTranslationEngine(configuration);
    }

    int fallbackRuns() const {
        QFile runs(file("runs"));
        return runs.open(QIODevice::ReadOnly) ? int(runs.readAll().count("run")) : 0;
    }

    QString file(const QString& name) const { return dir.path() + "/" + name; }
    QString modeFile() const { return file("data/modes/eng-spa.mode"); }

    QTemporaryDir dir;
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>();
    std::shared_ptr<ApertiumPipelinePool> pool =
        std::make_shared<ApertiumPipelinePool>(ApertiumPipelinePoolOptions{}, scheduler);
};

TEST_F(FakeStages, EveryTextComesBackThroughOnePipelineAndRequestsKeepTheirOrder) {
    writeExecutable("bin/lt-proc", stageScript());
    writeExecutable("bin/apertium-tagger", stageScript());
    writeMode("'" + file("bin/lt-proc").toUtf8() + "' a.bin | '" + file("bin/apertium-tagger").toUtf8() +
              "' -g $2 b.prob | '" + file("bin/lt-proc").toUtf8() + "' $1 c.bin\n");
    auto apertium = engine();

    QString controls = QStringLiteral("nul");
    controls += QChar(0);
    controls += QStringLiteral("bell");
    controls += QChar(7);
    const QStringList first{"one [two] $three$ \\four", "", "line\nbreak", controls};
    const QStringList second{QString::fromUtf8("שלום 😀"), "x"};
    const QStringList third{QString(20000, u'y')};
    // Three calls at once: each waits for the one before it and gets its own answers.
    auto a = apertium.translate("en", "es", requestsFor(first));
    auto b = apertium.translate("en", "es", requestsFor(second));
    auto c = apertium.translate("en", "es", requestsFor(third));
    EXPECT_EQ(textsOf(test::await(std::move(c)), false), third);
    EXPECT_EQ(textsOf(test::await(std::move(a)), false), first);
    EXPECT_EQ(textsOf(test::await(std::move(b)), false), second);

    EXPECT_EQ(fallbackRuns(), 0);
    EXPECT_EQ(pool->runningModes(), QStringList{modeFile()});
    const auto pipeline = pool->pipelineFor(modeFile());
    ASSERT_TRUE(pipeline);
    EXPECT_EQ(pipeline->processIds().size(), 3u);
}

TEST_F(FakeStages, APipelineThatBreaksDownIsReplacedAndItsCallStillTranslates) {
    // One stage answers "twice" with two blocks, and quits on "quit".
    writeExecutable("bin/lt-proc",
                    stageScript("  case \"$block\" in *twice*) printf 'extra\\0';; *quit*) exit 3;; esac\n"));
    writeMode("'" + file("bin/lt-proc").toUtf8() + "' a.bin\n");
    auto apertium = engine();

    for (const QStringList& texts : {QStringList{"one", "twice"}, QStringList{"quit now", "two"}}) {
        EXPECT_EQ(textsOf(test::await(apertium.translate("en", "es", requestsFor(texts)))), texts);
        ASSERT_TRUE(test::waitUntil([&] { return pool->runningModes().isEmpty(); }, 3s));
    }
    EXPECT_EQ(fallbackRuns(), 2);

    EXPECT_EQ(textsOf(test::await(apertium.translate("en", "es", requestsFor({"three"})))), QStringList{"three"});
    EXPECT_EQ(fallbackRuns(), 2);
    EXPECT_EQ(pool->runningModes(), QStringList{modeFile()});
}

TEST_F(FakeStages, AStageThatHangsFailsItsBlockInTimeAndIsKilled) {
    writeExecutable("bin/lt-proc", stageScript("  case \"$block\" in *hang*) echo $$ > '" + file("hung.pid").toUtf8() +
                                               "'; sleep 30;; esac\n"));
    writeMode("'" + file("bin/lt-proc").toUtf8() + "' a.bin\n");
    // The first block of a fresh pipeline gets the start allowance; the hung one only the floor.
    auto apertium = engine({.floor = 300ms, .perCharacter = 0us, .startAllowance = 5s});

    QElapsedTimer timer;
    timer.start();
    try {
        test::await(apertium.translate("en", "es", requestsFor({"fine", "hang here"})));
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::timedOut);
    }
    EXPECT_LT(timer.elapsed(), 3000);
    EXPECT_EQ(fallbackRuns(), 0);
    EXPECT_TRUE(pool->runningModes().isEmpty());
    QFile pidFile(file("hung.pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const auto pid = pidFile.readAll().trimmed();
    EXPECT_FALSE(QFile::exists("/proc/" + pid)) << pid.toStdString();

    EXPECT_EQ(textsOf(test::await(apertium.translate("en", "es", requestsFor({"next"})))), QStringList{"next"});
}

// A busy machine lets a stage work only slowly: one that works on its block (a loop between each
// character it writes) for far longer than the block's bound is waited for.
TEST_F(FakeStages, AStageStillAtWorkIsWaitedForPastTheBlocksBound) {
    writeExecutable("bin/lt-proc",
                    "#!/bin/bash\n"
                    "while IFS= read -r -d '' block; do\n"
                    "  for ((i = 0; i < ${#block}; i++)); do\n"
                    "    printf '%s' \"${block:i:1}\"\n"
                    "    for ((j = 0; j < 100000; j++)); do :; done\n"
                    "  done\n"
                    "  printf '\\0'\n"
                    "done\n");
    writeExecutable("bin/apertium-tagger", stageScript());
    writeMode("'" + file("bin/lt-proc").toUtf8() + "' a.bin | '" + file("bin/apertium-tagger").toUtf8() + "' b.prob\n");
    auto apertium = engine({.floor = 300ms, .perCharacter = 0us, .startAllowance = 0ms});

    QElapsedTimer timer;
    timer.start();
    EXPECT_EQ(textsOf(test::await(apertium.translate("en", "es", requestsFor({"written slowly"})))),
              QStringList{"written slowly"});
    EXPECT_GT(timer.elapsed(), 900);  // three times the bound, at least
    EXPECT_EQ(fallbackRuns(), 0);
    EXPECT_EQ(pool->runningModes(), QStringList{modeFile()});
}

TEST_F(FakeStages, ALongBlockMayTakeLongerThanAShortOne) {
    writeExecutable("bin/lt-proc", stageScript("  case \"$block\" in *slow*) sleep 1.5;; esac\n"));
    writeMode("'" + file("bin/lt-proc").toUtf8() + "' a.bin\n");
    auto apertium = engine({.floor = 300ms, .perCharacter = 1ms, .startAllowance = 5s});
    test::await(apertium.translate("en", "es", requestsFor({"start"})));

    const QString longText = "slow " + QString(1000, u'z');  // a bound of one second, and one more without work
    EXPECT_EQ(textsOf(test::await(apertium.translate("en", "es", requestsFor({longText})))), QStringList{longText});
    try {
        test::await(apertium.translate("en", "es", requestsFor({"slow"})));  // 300 ms, and as long again without work
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::timedOut);
    }
    EXPECT_EQ(fallbackRuns(), 0);
}

TEST_F(FakeStages, AMissingStageProgramLeavesTheCallToTheApertiumCommand) {
    writeMode("'" + file("bin/not-installed/lt-proc").toUtf8() + "' a.bin | lt-proc b.bin\n");
    auto apertium = engine();
    EXPECT_EQ(textsOf(test::await(apertium.translate("en", "es", requestsFor({"a", "b"})))), QStringList({"a", "b"}));
    EXPECT_EQ(fallbackRuns(), 1);
    EXPECT_TRUE(pool->runningModes().isEmpty());
}

TEST_F(FakeStages, IdlePipelinesStopAndTheLeastRecentlyUsedMakesRoom) {
    writeExecutable("bin/lt-proc", stageScript());
    const QByteArray mode = "'" + file("bin/lt-proc").toUtf8() + "' a.bin\n";
    for (const char* name : {"eng-spa", "spa-eng", "rus-ukr"}) {
        QFile modeFile(file(QStringLiteral("data/modes/%1.mode").arg(name)));
        ASSERT_TRUE(modeFile.open(QIODevice::WriteOnly));
        modeFile.write(mode);
    }
    pool = std::make_shared<ApertiumPipelinePool>(
        ApertiumPipelinePoolOptions{.maximumPipelines = 2, .idleTimeout = 2min}, scheduler);
    auto apertium = engine();
    const auto translate = [&](const char* from, const char* to) {
        return textsOf(test::await(apertium.translate(from, to, requestsFor({"x"}))));
    };
    const QString engSpa = file("data/modes/eng-spa.mode");
    const QString spaEng = file("data/modes/spa-eng.mode");
    const QString rusUkr = file("data/modes/rus-ukr.mode");

    EXPECT_TRUE(pool->runningModes().isEmpty());  // nothing runs before the first translation
    translate("en", "es");
    scheduler->advance(90s);
    translate("es", "en");
    translate("en", "es");
    EXPECT_EQ(pool->runningModes(), QStringList({spaEng, engSpa}));
    const auto evicted = pool->pipelineFor(spaEng);
    translate("ru", "uk");  // the third pair stops the least recently used
    EXPECT_EQ(pool->runningModes(), QStringList({engSpa, rusUkr}));
    EXPECT_FALSE(evicted->isRunning());
    EXPECT_TRUE(evicted->processIds().empty());

    scheduler->advance(119s);
    EXPECT_EQ(pool->runningModes().size(), 2);
    const auto idle = pool->pipelineFor(engSpa);
    scheduler->advance(1s);  // two minutes without a request
    EXPECT_TRUE(pool->runningModes().isEmpty());
    EXPECT_FALSE(idle->isRunning());
    EXPECT_TRUE(idle->processIds().empty());

    translate("en", "es");
    EXPECT_EQ(pool->runningModes(), QStringList{engSpa});
    EXPECT_EQ(fallbackRuns(), 0);
}

}  // namespace
}  // namespace tavrolin
