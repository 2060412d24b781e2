// The engine modules: where a program looks for them, and how a command fails, without a crash,
// when its module is missing, damaged or of another build.
#include "platform/linux/engine_module.h"
#include "platform/linux/module_engines.h"
#include "platform/linux/pocketsphinx_speech_models.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

QString builtModule(const QString& name) {
    return qEnvironmentVariable("TAVROLIN_BUILD_DIR") + QStringLiteral("/modules/libtavrolin-%1.so").arg(name);
}

class EngineModuleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    std::shared_ptr<EngineModule> moduleIn(const QString& name) {
        return std::make_shared<EngineModule>(name, QStringList{folder_.path()});
    }
    QString path(const QString& name) const { return folder_.filePath(name); }
    void write(const QString& name, const QByteArray& content) const {
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    QTemporaryDir folder_;
};

TEST(EngineModuleFoldersTest, ABuildsOwnProgramTakesTheBuildsModulesAnInstalledOneItsPrefixes) {
    const EngineModuleFolders folders{"../lib/tavrolin", "/src/app/build", "/src/app/build/modules",
                                      "/usr/local/lib/tavrolin"};
    EXPECT_EQ(
        folders.forExecutableIn("/src/app/build/tests/platform"),
        (QStringList{"/src/app/build/tests/platform", "/src/app/build/tests/lib/tavrolin", "/src/app/build/modules"}));
    EXPECT_EQ(folders.forExecutableIn("/opt/tavrolin/bin"),
              (QStringList{"/opt/tavrolin/bin", "/opt/tavrolin/lib/tavrolin", "/usr/local/lib/tavrolin"}));
    // A folder whose name merely begins with the build folder's is another tree.
    EXPECT_EQ(folders.forExecutableIn("/src/app/build-release/src/app").last(), "/usr/local/lib/tavrolin");
    // Installed in the configured prefix itself: no folder twice.
    EXPECT_EQ(folders.forExecutableIn("/usr/local/bin"), (QStringList{"/usr/local/bin", "/usr/local/lib/tavrolin"}));
}

TEST(EngineModuleFoldersTest, TheTestsOfThisBuildFindItsModules) {
    const QStringList folders = EngineModuleFolders::configured().forExecutableIn(runningExecutableFolder());
    EXPECT_TRUE(folders.contains(QFileInfo(builtModule("zip")).absolutePath())) << folders.join(", ").toStdString();
    EngineModule module(QStringLiteral("zip"));
    QString error;
    EXPECT_NE(module.entry("tavrolin_zip_make_writer_1", error), nullptr) << error.toStdString();
}

TEST_F(EngineModuleTest, AMissingModuleIsTheErrorOfEachCommandInItsOwnWords) {
    const QImage image(40, 20, QImage::Format_RGB32);
    ModuleTextRecognitionEngine recognition(moduleIn("ocr"));
    try {
        recognition.recognizeLines(image, {"eng"});
        ADD_FAILURE() << "recognised without its module";
    } catch (const TextRecognitionError& error) {
        const QString message = QString::fromStdString(error.what());
        EXPECT_TRUE(message.startsWith("text recognition is not available: libtavrolin-ocr.so is not installed"))
            << message.toStdString();
        EXPECT_TRUE(message.contains(folder_.path())) << "where it looked";
    }
    EXPECT_THROW(recognition.installedLanguages(), TextRecognitionError);
    EXPECT_FALSE(recognition.isLoaded());

    // The model is not checked (a process of its own) when there is nothing to load it with.
    bool checked = false;
    QString error;
    EXPECT_EQ(loadModuleSpeechDecoder(*moduleIn("speech"), PocketSphinxModelFiles{}, {}, error,
                                      [&checked](QString&) { return checked = true; }),
              nullptr);
    EXPECT_TRUE(error.startsWith("speech recognition is not available: ")) << error.toStdString();
    EXPECT_FALSE(checked);

    // The audio source passes the format check so that its start tells the user what is wrong.
    const auto source = makeModuleAudioInputSource(*moduleIn("audio"));
    EXPECT_EQ(source->format(), (AudioInputFormat{16000, 1}));
    const auto started = source->start();
    ASSERT_TRUE(started.has_value());
    EXPECT_TRUE(started->startsWith("audio input is not available: ")) << started->toStdString();

    const auto failure = ModuleZipArchiveWriter(moduleIn("zip")).write(path("out.zip"), {});
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->startsWith("zip archives are not available: ")) << failure->toStdString();
    EXPECT_FALSE(QFile::exists(path("out.zip")));
}

TEST_F(EngineModuleTest, ADamagedModuleOrOneOfAnotherBuildIsRefusedWithTheLoadersReason) {
    write("libtavrolin-zip.so", "not a library");
    const auto damaged = ModuleZipArchiveWriter(moduleIn("zip")).write(path("out.zip"), {});
    ASSERT_TRUE(damaged.has_value());
    EXPECT_TRUE(damaged->startsWith("zip archives are not available: ")) << damaged->toStdString();
    EXPECT_TRUE(damaged->contains("libtavrolin-zip.so")) << damaged->toStdString();

    // A library without the entry this program calls: a module of another build, or another module.
    ASSERT_TRUE(QFile::remove(path("libtavrolin-zip.so")));
    ASSERT_TRUE(QFile::copy(builtModule("audio"), path("libtavrolin-zip.so")));
    const auto foreign = ModuleZipArchiveWriter(moduleIn("zip")).write(path("out.zip"), {});
    ASSERT_TRUE(foreign.has_value());
    EXPECT_TRUE(foreign->contains("tavrolin_zip_make_writer_1")) << foreign->toStdString();
    EXPECT_FALSE(QFile::exists(path("out.zip")));
}

TEST_F(EngineModuleTest, AModuleInstalledAfterAFailedUseWorksWithoutARestart) {
    const ModuleZipArchiveWriter writer(moduleIn("zip"));
    ASSERT_TRUE(writer.write(path("first.zip"), {}).has_value());

    ASSERT_TRUE(QFile::link(builtModule("zip"), path("libtavrolin-zip.so")));
    write("content.txt", "hello");
    const auto failure =
        writer.write(path("second.zip"), {{"top/", QString()}, {"top/content.txt", path("content.txt")}});
    EXPECT_FALSE(failure.has_value()) << failure->toStdString();
    QFile archive(path("second.zip"));
    ASSERT_TRUE(archive.open(QIODevice::ReadOnly));
    EXPECT_TRUE(archive.read(4) == QByteArray("PK\x03\x04", 4)) << "a zip archive";
}

}  // namespace
}  // namespace tavrolin
