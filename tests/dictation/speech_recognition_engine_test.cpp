// The speech service on PocketSphinx with audio spoken by espeak-ng at test time.
#include "dictation/speech_recognition_error.h"
#include "dictation/speech_recognition_service.h"
#include "platform/linux/pocketsphinx_speech_models.h"
#include "support/async.h"
#include "support/fakes/fake_speech_backends.h"
#include "support/fakes/file_audio_input_source.h"
#include "support/qt_printers.h"
#include "support/speech_test_audio.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <gtest/gtest.h>
#include <latch>
#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <thread>
#include <vector>

// The JSGF parser of the speech library leaks the tokens of a grammar it rejects: not ours to mend,
// so that parser alone is suppressed. The library is built without frame pointers, and the fast
// unwinder stops at its allocator, where the parser's memory and a decoder's look alike; the slower
// unwinder sees the parser in the stack, so a decoder of ours left unreleased is still reported.
extern "C" const char* __asan_default_options() {
    return "fast_unwind_on_malloc=0:malloc_context_size=8";
}
extern "C" const char* __lsan_default_suppressions() {
    return "leak:jsgf_parse_file\n";
}

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

const QStringList kPhrases = {QStringLiteral("hello world"), QStringLiteral("good morning"),
                              QStringLiteral("open the window please")};

// A file source that says when it has handed out its last buffer.
class WatchedFileSource final : public AudioInputSource {
public:
    WatchedFileSource(const QString& path, bool paced, std::shared_ptr<std::atomic<bool>> ended)
        : file_(path, paced), ended_(std::move(ended)) {}
    AudioInputFormat format() const override { return file_.format(); }
    std::optional<QString> start() override { return file_.start(); }
    AudioReadStatus read(std::span<std::int16_t> samples, QString& error) override {
        const AudioReadStatus status = file_.read(samples, error);
        if (status != AudioReadStatus::ok) {
            ended_->store(true);
        }
        return status;
    }
    void stop() override { file_.stop(); }

private:
    test::FileAudioInputSource file_;
    std::shared_ptr<std::atomic<bool>> ended_;
};

class SpeechEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(test::makeGrammarSpeechModel(grammarHome(), QStringLiteral("en-US"), kPhrases));
    }
    QString grammarHome() const { return dir.filePath(QStringLiteral("grammar-home")); }
    QString clip(const QString& name, const QStringList& phrases) {
        QString error;
        const auto path = test::makeSpeechClip(dir.path(), name, phrases, error);
        EXPECT_TRUE(path) << error.toStdString();
        return path.value_or(QString());
    }
    std::shared_ptr<SpeechRecognitionService> service(const QString& dataHome, const QString& audio, bool paced) {
        auto models = std::make_shared<PocketSphinxSpeechModels>(dataHome);
        auto made = SpeechRecognitionService::create(
            QStringLiteral("en-US"), {models, [audio, paced, ended = ended] {
                                          return std::make_unique<WatchedFileSource>(audio, paced, ended);
                                      }});
        reports.attach(made);
        return made;
    }

    QTemporaryDir dir;
    test::SpeechReports reports;
    QStringList& transcriptions = reports.transcriptions;
    QStringList& errors = reports.errors;
    std::shared_ptr<std::atomic<bool>> ended = std::make_shared<std::atomic<bool>>(false);
};

TEST_F(SpeechEngineTest, APacedGrammarRunPostsPartialsAndEndsWithExactlyTheWords) {
    const QString audio = clip(QStringLiteral("window"), {QStringLiteral("open the window please")});
    const auto recognizer = service(grammarHome(), audio, true);
    recognizer->startTranscribing();
    const qint64 started = reports.clock.elapsed();
    ASSERT_TRUE(test::waitUntil([&] { return ended->load(); }, 20s));
    const qint64 endOfAudio = reports.clock.elapsed();
    ASSERT_TRUE(test::waitUntil([&] { return transcriptions.value(transcriptions.size() - 1) == kPhrases[2]; }, 10s))
        << transcriptions.join(u'|').toStdString();
    recognizer->stopTranscribing();
    const auto beforeTheEnd = std::count_if(reports.arrivals.begin(), reports.arrivals.end(),
                                            [&](qint64 at) { return at > started && at < endOfAudio; });
    EXPECT_GE(beforeTheEnd, 2) << transcriptions.join(u'|').toStdString();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(u'|').toStdString();
}

TEST_F(SpeechEngineTest, TwoPhrasesAcrossASecondOfSilenceComeBackJoinedByOneSpace) {
    const QString audio = clip(QStringLiteral("two"), {QStringLiteral("hello world"), QStringLiteral("good morning")});
    const auto recognizer = service(grammarHome(), audio, false);
    recognizer->startTranscribing();
    ASSERT_TRUE(test::waitUntil(
        [&] { return transcriptions.value(transcriptions.size() - 1) == QStringLiteral("hello world good morning"); },
        20s))
        << transcriptions.join(u'|').toStdString();
    recognizer->stopTranscribing();
    EXPECT_TRUE(errors.isEmpty()) << errors.join(u'|').toStdString();
}

TEST_F(SpeechEngineTest, TheEnglishLanguageModelHearsAWordOfTheClip) {
    if (!QFile::exists(test::systemEnglishAcousticModel())) {
        GTEST_SKIP() << "pocketsphinx-en-us is not installed";
    }
    const QString audio = clip(QStringLiteral("weather"), {QStringLiteral("the weather is nice today")});
    // An empty data home: the model of the Debian package.
    const auto recognizer = service(dir.filePath(QStringLiteral("empty-home")), audio, false);
    EXPECT_TRUE(recognizer->hasRecognizer());
    recognizer->startTranscribing();
    const QStringList words = {QStringLiteral("the"), QStringLiteral("weather"), QStringLiteral("is"),
                               QStringLiteral("nice"), QStringLiteral("today")};
    const auto heard = [&] {
        for (const QString& text : transcriptions) {
            for (const QString& word : text.split(u' ')) {
                if (words.contains(word.toLower())) {
                    return true;
                }
            }
        }
        return false;
    };
    ASSERT_TRUE(test::waitUntil([&] { return heard() || (ended->load() && !errors.isEmpty()); }, 60s));
    EXPECT_TRUE(heard()) << transcriptions.join(u'|').toStdString();
    recognizer->stopTranscribing();
}

// Model folders that are incomplete or damaged: never a crash, never a recognizer.
TEST_F(SpeechEngineTest, DamagedModelFoldersAreNotAvailable) {
    const QString audio = clip(QStringLiteral("hello"), {QStringLiteral("hello world")});
    const auto damaged = [&](const QString& name, const std::function<void(const QDir&)>& damage) {
        const QString home = dir.filePath(name);
        const auto folder = test::makeGrammarSpeechModel(home, QStringLiteral("en-US"), kPhrases);
        EXPECT_TRUE(folder);
        QDir model(*folder);
        damage(model);
        return home;
    };
    const auto garbage = [](const QString& path, int bytes) {
        QFile::remove(path);
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        for (int i = 0; i < bytes; ++i) {
            file.putChar(static_cast<char>((i * 7919 + 13) % 251));
        }
    };
    // An acoustic model whose parts are copied so that one can be spoiled.
    const auto ownAcousticModel = [](const QDir& model) {
        QFile::remove(model.filePath(QStringLiteral("en-us")));
        model.mkdir(QStringLiteral("en-us"));
        const QDir source(test::systemEnglishAcousticModel());
        for (const QString& file : source.entryList(QDir::Files)) {
            QFile::copy(source.filePath(file), model.filePath(QStringLiteral("en-us/") + file));
        }
    };
    struct Case {
        QString home;
        bool listed;  // the folder looks complete
    };
    const Case cases[] = {
        {damaged(QStringLiteral("no-dictionary"),
                 [](const QDir& model) { QFile::remove(model.filePath(QStringLiteral("words.dict"))); }),
         false},
        {damaged(QStringLiteral("no-acoustic-model"),
                 [](const QDir& model) { QFile::remove(model.filePath(QStringLiteral("en-us"))); }),
         false},
        {damaged(QStringLiteral("bad-grammar"),
                 [](const QDir& model) {
                     QFile grammar(model.filePath(QStringLiteral("words.gram")));
                     grammar.open(QIODevice::WriteOnly | QIODevice::Truncate);
                     grammar.write("#JSGF V1.0;\ngrammar broken;\npublic <phrase> = ( hello | ;\n");
                 }),
         true},
        {damaged(QStringLiteral("bad-mdef"),
                 [&](const QDir& model) {
                     ownAcousticModel(model);
                     garbage(model.filePath(QStringLiteral("en-us/mdef")), 100);
                 }),
         true},
        {damaged(QStringLiteral("bad-means"),
                 [&](const QDir& model) {
                     ownAcousticModel(model);
                     garbage(model.filePath(QStringLiteral("en-us/means")), 100);
                 }),
         true},
        {damaged(QStringLiteral("bad-language-model"),
                 [&](const QDir& model) {
                     QFile::remove(model.filePath(QStringLiteral("words.gram")));
                     garbage(model.filePath(QStringLiteral("words.lm.bin")), 1000);
                 }),
         true},
    };
    for (const Case& c : cases) {
        // No fallback to the system model: only the damaged folder counts.
        PocketSphinxSpeechModels models(c.home, dir.filePath(QStringLiteral("nowhere")));
        EXPECT_EQ(models.hasModel(QStringLiteral("en-US")), c.listed) << c.home.toStdString();
        QString error;
        EXPECT_EQ(models.loadDecoder(QStringLiteral("en-US"), error), nullptr) << c.home.toStdString();
        EXPECT_FALSE(error.isEmpty());

        auto shared = std::make_shared<PocketSphinxSpeechModels>(c.home, dir.filePath(QStringLiteral("nowhere")));
        const auto recognizer = SpeechRecognitionService::create(
            QStringLiteral("en-US"), {shared, [audio] { return std::make_unique<test::FileAudioInputSource>(audio); }});
        QStringList caseErrors;
        recognizer->onError = [&caseErrors](const std::exception& failure) {
            caseErrors << speechErrorDescription(failure);
        };
        recognizer->startTranscribing();
        ASSERT_TRUE(test::waitUntil([&] { return !caseErrors.isEmpty(); }, 20s)) << c.home.toStdString();
        errors = caseErrors;
        EXPECT_EQ(errors, QStringList{QStringLiteral("Speech recognition is not available on this device.")});
        EXPECT_FALSE(recognizer->isRecognizerAvailable());
    }
}

// The speech library logs through one file of the whole process; a load that opened its own log
// file closed the one before it, under the feet of a load running beside it.
TEST_F(SpeechEngineTest, LoadsOnThreadsSideBySideAllSucceedAndLeaveTheLibraryLogOff) {
    PocketSphinxSpeechModels models(grammarHome());
    constexpr int threads = 3;
    for (int round = 0; round < 2; ++round) {
        std::latch together(threads);
        std::atomic<int> loaded{0};
        std::vector<std::thread> loaders;
        for (int i = 0; i < threads; ++i) {
            loaders.emplace_back([&] {
                together.arrive_and_wait();
                QString error;
                if (models.loadDecoder(QStringLiteral("en-US"), error)) {
                    ++loaded;
                }
            });
        }
        for (std::thread& loader : loaders) {
            loader.join();
        }
        EXPECT_EQ(loaded.load(), threads);
    }
    EXPECT_EQ(err_get_logfp(), nullptr) << "a load switched the library's log back on";
}

TEST(SpeechModelFolderTest, MalformedDecoderOptionsAreRefusedNotPassedOn) {
    PocketSphinxSpeechModels models;
    if (!models.hasModel(QStringLiteral("en-US"))) {
        GTEST_SKIP() << "pocketsphinx-en-us is not installed";
    }
    const QStringList refused[] = {{QStringLiteral("-topn"), QStringLiteral("many")},
                                   {QStringLiteral("-nosuchoption"), QStringLiteral("1")},
                                   {QStringLiteral("-bestpath"), QStringLiteral("perhaps")}};
    for (const QStringList& options : refused) {
        models.extraOptions = options;
        QString error;
        EXPECT_EQ(models.loadDecoder(QStringLiteral("en-US"), error), nullptr) << options.join(u' ').toStdString();
        EXPECT_TRUE(error.contains(options.first())) << error.toStdString();
    }
}

TEST(SpeechModelFolderTest, OwnFoldersComeFirstAndOnlyEnglishFallsBackToTheSystemModel) {
    QTemporaryDir dir;
    const QString home = dir.filePath(QStringLiteral("home"));
    const QString system = dir.filePath(QStringLiteral("system"));
    // A system model shaped like Debian's, with its phone model beside the word model.
    QDir().mkpath(system + QStringLiteral("/en-us"));
    for (const QString& file : {QStringLiteral("/en-us/mdef"), QStringLiteral("/cmudict-en-us.dict"),
                                QStringLiteral("/en-us-phone.lm.bin"), QStringLiteral("/en-us.lm.bin")}) {
        QFile f(system + file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const PocketSphinxSpeechModels models(home, system);
    const auto english = models.modelFiles(QStringLiteral("en-US"));
    ASSERT_TRUE(english);
    EXPECT_EQ(english->languageModel, system + QStringLiteral("/en-us.lm.bin"));
    EXPECT_TRUE(english->grammar.isEmpty());
    EXPECT_FALSE(models.hasModel(QStringLiteral("de-DE")));
    EXPECT_FALSE(models.hasModel(QStringLiteral("../system")));
    EXPECT_FALSE(models.hasModel(QString()));

    ASSERT_TRUE(test::makeGrammarSpeechModel(home, QStringLiteral("en-US"), {QStringLiteral("yes")}));
    ASSERT_TRUE(test::makeGrammarSpeechModel(home, QStringLiteral("de-DE"), {QStringLiteral("yes")}));
    const auto own = models.modelFiles(QStringLiteral("en-US"));
    ASSERT_TRUE(own);
    EXPECT_TRUE(own->grammar.startsWith(home));
    EXPECT_TRUE(own->languageModel.isEmpty());
    EXPECT_TRUE(models.hasModel(QStringLiteral("de-DE")));
}

}  // namespace
}  // namespace tavrolin
