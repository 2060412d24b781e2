#include "platform/linux/apertium_translation_engine.h"
#include "support/async.h"
#include "support/fakes/numbered_requests.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <signal.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using test::requestsFor;
using test::textsOf;

// Stand-ins for the apertium command, written as shell scripts into a private data folder
// that holds an eng-spa mode.
class FakeApertium : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir(dir.path()).mkpath("data/modes"));
        QFile mode(dir.path() + "/data/modes/eng-spa.mode");
        ASSERT_TRUE(mode.open(QIODevice::WriteOnly));
    }

    ApertiumTranslationEngine engineRunning(const QByteArray& body, std::chrono::milliseconds timeout = 10s) {
        const QString path = dir.path() + "/apertium";
        QFile script(path);
        EXPECT_TRUE(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
        script.write("#!/bin/sh\n" + body);
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        return ApertiumTranslationEngine({path, dir.path() + "/data", timeout});
    }

    QString file(const char* name) const { return dir.path() + "/" + name; }

    QTemporaryDir dir;
};

bool processGone(pid_t pid) {
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) {
        return true;
    }
    // A zombie has stopped running; only its parent can still reap it.
    const QByteArray fields = stat.readAll();
    const auto close = fields.lastIndexOf(')');
    return close > 0 && fields.mid(close + 2, 1) == "Z";
}

TEST_F(FakeApertium, HungEngineIsStoppedWithEverythingItStarted) {
    auto engine = engineRunning("echo $$ > \"" + file("script.pid").toUtf8() +
                                    "\"\n"
                                    "sleep 30 &\n"
                                    "echo $! > \"" +
                                    file("child.pid").toUtf8() +
                                    "\"\n"
                                    "wait\n",
                                300ms);
    QElapsedTimer timer;
    timer.start();
    try {
        test::await(engine.translate("en", "es", requestsFor({"Hello"})));
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::timedOut);
    }
    EXPECT_LT(timer.elapsed(), 10000);
    for (const char* name : {"script.pid", "child.pid"}) {
        QFile pidFile(file(name));
        ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly)) << name;
        const pid_t pid = pidFile.readAll().trimmed().toInt();
        ASSERT_GT(pid, 0);
        EXPECT_TRUE(test::waitUntil([pid] { return processGone(pid); }, 3s)) << name;
    }
}

TEST_F(FakeApertium, FailingEngineReportsItsMessage) {
    auto engine = engineRunning("cat > /dev/null\necho 'Error: something broke' >&2\nexit 3\n");
    try {
        test::await(engine.translate("en", "es", requestsFor({"Hello"})));
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::failed);
        EXPECT_NE(error.detail().find("something broke"), std::string::npos);
        EXPECT_NE(error.detail().find("3"), std::string::npos);
    }
}

TEST_F(FakeApertium, EngineThatQuitsWithoutReadingItsInput) {
    // A large input written into a pipe nobody reads any more must not stop this process.
    auto engine = engineRunning("exit 4\n");
    EXPECT_THROW(test::await(engine.translate("en", "es", requestsFor({QString(2000000, u'x')}))),
                 OnDeviceTranslationError);
}

TEST_F(FakeApertium, WrongSegmentCountFallsBackToOneProcessPerText) {
    // Echoes its input, except that a batch of several texts comes back merged into one.
    auto engine = engineRunning("echo run >> \"" + file("runs").toUtf8() +
                                "\"\n"
                                "input=$(cat)\n"
                                "count=$(printf '%s' \"$input\" | grep -o '<p>' | wc -l)\n"
                                "if [ \"$count\" -gt 1 ]; then printf '<p>merged</p>';"
                                " else printf '%s' \"$input\"; fi\n");
    const QStringList texts{"one", "two & <three>", "four"};
    const auto responses = test::await(engine.translate("en", "es", requestsFor(texts)));
    ASSERT_EQ(responses.size(), 3u);
    for (std::size_t i = 0; i < responses.size(); ++i) {
        EXPECT_EQ(responses[i].clientIdentifier, QString::number(i));
    }
    EXPECT_EQ(textsOf(responses), texts);
    QFile runs(file("runs"));
    ASSERT_TRUE(runs.open(QIODevice::ReadOnly));
    EXPECT_EQ(runs.readAll().count("run"), 4);  // the batch, then one per text
}

TEST_F(FakeApertium, TextThatStopsTheEngineCostsOnlyItsOwnTranslation) {
    // Like a tagger that stops on some sentences yet exits with 0: no output at all.
    auto engine = engineRunning(
        "input=$(cat)\n"
        "case \"$input\" in *stop*) exit 0;; esac\n"
        "printf '%s' \"$input\"\n");
    const auto responses = test::await(engine.translate("en", "es", requestsFor({"fine", "stop here", "also fine"})));
    ASSERT_EQ(responses.size(), 2u);
    EXPECT_EQ(responses[0], (OnDeviceTranslationResponse{"0", "fine"}));
    EXPECT_EQ(responses[1], (OnDeviceTranslationResponse{"2", "also fine"}));

    // When nothing comes back at all the call fails instead of answering empty texts.
    try {
        test::await(engine.translate("en", "es", requestsFor({"stop"})));
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::failed);
    }
}

TEST_F(FakeApertium, MissingEngineFailsWithoutStartingAnything) {
    ApertiumTranslationEngine engine({file("no-apertium-here"), dir.path() + "/data", 10s});
    try {
        test::await(engine.translate("en", "es", requestsFor({"Hello"})));
        FAIL() << "no error";
    } catch (const OnDeviceTranslationError& error) {
        EXPECT_EQ(error.kind(), OnDeviceTranslationError::Kind::engineMissing);
    }
    ApertiumTranslationEngine notOnPath({"tavrolin-no-such-apertium", dir.path() + "/data", 10s});
    EXPECT_EQ(test::await(notOnPath.status("en", "es")), OnDeviceTranslationStatus::unsupported);
    EXPECT_THROW(test::await(notOnPath.translate("en", "es", requestsFor({"Hello"}))), OnDeviceTranslationError);
}

// The real Apertium of the machine, with the directions the project installs.
TEST(RealApertium, TranslatesABatchWithoutLosingOrMixingTexts) {
    ApertiumTranslationEngine engine;
    ASSERT_TRUE(engine.isEngineInstalled());
    QString controls = QStringLiteral("bell");
    controls += QChar(7);
    controls += QChar(0);
    controls += QStringLiteral("end");
    const QStringList texts{
        "I have a red car.", "",       "a < b & c > d ]]> done",
        "<p>house</p>",      controls, QString::fromUtf8("שלום and hello"),
        "The dog.",
    };
    const auto responses = test::await(engine.translate("en", "es", requestsFor(texts)));
    const QStringList out = textsOf(responses);
    ASSERT_EQ(out.size(), texts.size());
    EXPECT_EQ(out[0], QString::fromUtf8("Tengo un coche rojo."));
    EXPECT_EQ(out[1], "");
    for (const char* kept : {"<", "&", ">", "]]>"}) {
        EXPECT_TRUE(out[2].contains(kept)) << out[2].toStdString();
    }
    EXPECT_TRUE(out[3].startsWith("<p>") && out[3].endsWith("</p>")) << out[3].toStdString();
    EXPECT_TRUE(out[4].contains(QChar(7)));
    EXPECT_TRUE(out[4].contains(QChar(0)));
    EXPECT_TRUE(out[5].contains(QString::fromUtf8("שלום"))) << out[5].toStdString();
    EXPECT_TRUE(out[6].contains("perro")) << out[6].toStdString();
}

TEST(RealApertium, TranslatesAHundredThousandCharacters) {
    ApertiumTranslationEngine engine;
    QString longText;
    while (longText.size() < 100000) {
        longText += QStringLiteral("The cat sleeps on the red sofa. ");
    }
    longText.truncate(100000);
    const auto responses =
        test::await(engine.translate("en", "es", requestsFor({"Good morning.", longText, "The dog."})));
    const QStringList out = textsOf(responses);
    ASSERT_EQ(out.size(), 3);
    EXPECT_EQ(out[0], QString::fromUtf8("Buenos días."));
    EXPECT_GT(out[1].size(), 80000);
    EXPECT_EQ(out[1].count(QStringLiteral("sofá")), longText.count(QStringLiteral("sofa")));
    EXPECT_TRUE(out[2].contains("perro"));
}

}  // namespace
}  // namespace tavrolin
