// The engine modules: where a program looks for them, and how a command fails, without a crash,
// when its module is missing, could be changed by another user, is damaged or is of another build.
#include "platform/linux/engine_module.h"

#include "platform/linux/module_engines.h"
#include "platform/linux/pocketsphinx_speech_models.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrolin {
namespace {

QString buildFolder() {
    return qEnvironmentVariable("TAVROLIN_BUILD_DIR");
}

QString builtModule(const QString& name) {
    return buildFolder() + QStringLiteral("/modules/libtavrolin-%1.so").arg(name);
}

class EngineModuleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    std::shared_ptr<EngineModule> moduleIn(const QString& name, const QString& folder = {}) {
        return std::make_shared<EngineModule>(name, folder.isEmpty() ? folder_.path() : folder);
    }
    QString path(const QString& name) const { return folder_.filePath(name); }
    // A new file each time: one the test process has mapped is never rewritten in place.
    void write(const QString& name, const QByteArray& content) const {
        QFile::remove(path(name));
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }
    QByteArray builtContent(const QString& name) const {
        QFile file(builtModule(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << builtModule(name).toStdString();
        return file.readAll();
    }
    // The zip writer's answer with the zip module found in `folder`: nothing when it wrote.
    std::optional<QString> zipWith(const QString& folder = {}) {
        QFile::remove(path("out.zip"));
        return ModuleZipArchiveWriter(moduleIn("zip", folder)).write(path("out.zip"), {});
    }

    QTemporaryDir folder_;
};

TEST(ProgramFoldersTest, AProgramInsideItsBuildTakesTheBuildsFoldersAnyOtherItsPrefixs) {
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    const QString build = root.filePath("build");
    ASSERT_TRUE(QDir().mkpath(build + "/tests/platform"));
    QFile identity(build + "/tavrolin-build-identity");
    ASSERT_TRUE(identity.open(QIODevice::WriteOnly));
    identity.write("0123abcd\n");
    identity.close();

    const ProgramFolders inBuild = ProgramFolders::forExecutableIn(build + "/tests/platform", "0123abcd");
    EXPECT_EQ(inBuild.modules, build + "/modules");
    EXPECT_EQ(inBuild.helpers, build + "/libexec");
    // A build folder of another identity is not this program's: it is taken as installed, and never
    // looks beside itself.
    const ProgramFolders elsewhere = ProgramFolders::forExecutableIn(build + "/tests/platform", "4567ef");
    EXPECT_EQ(elsewhere.modules, build + "/tests/lib/tavrolin");
    EXPECT_EQ(elsewhere.helpers, build + "/tests/libexec/tavrolin");
    // An identity file that another user could have put there or changed makes no build folder:
    // one writable by others, one in a folder writable by others, one of another user (only root
    // can give a file away).
    const QByteArray identityPath = QFile::encodeName(identity.fileName());
    const auto takenAsInstalled = [&] {
        return ProgramFolders::forExecutableIn(build + "/tests/platform", "0123abcd").modules ==
               build + "/tests/lib/tavrolin";
    };
    ASSERT_EQ(chmod(identityPath.constData(), 0666), 0);
    EXPECT_TRUE(takenAsInstalled()) << "identity file writable by others";
    ASSERT_EQ(chmod(identityPath.constData(), 0644), 0);
    ASSERT_EQ(chmod(QFile::encodeName(build).constData(), 0777), 0);
    EXPECT_TRUE(takenAsInstalled()) << "build folder writable by others";
    ASSERT_EQ(chmod(QFile::encodeName(build).constData(), 0755), 0);
    if (geteuid() == 0) {
        ASSERT_EQ(chown(identityPath.constData(), 65534, 65534), 0);
        EXPECT_TRUE(takenAsInstalled()) << "identity file of another user";
        ASSERT_EQ(chown(identityPath.constData(), 0, 0), 0);
    }
    EXPECT_FALSE(takenAsInstalled());

    const ProgramFolders installed = ProgramFolders::forExecutableIn("/opt/tavrolin/bin", "0123abcd");
    EXPECT_EQ(installed.modules, "/opt/tavrolin/lib/tavrolin");
    EXPECT_EQ(installed.helpers, "/opt/tavrolin/libexec/tavrolin");

    // The tests of this build take its modules and its speech model check.
    const ProgramFolders own = ProgramFolders::ofRunningProgram();
    EXPECT_EQ(own.modules, QFileInfo(builtModule("zip")).absolutePath());
    EXPECT_TRUE(QFileInfo(own.helpers + "/tavrolin-speech-model-check").isExecutable()) << own.helpers.toStdString();
    EngineModule module(QStringLiteral("zip"));
    QString error;
    EXPECT_NE(module.entry("tavrolin_zip_make_writer", error), nullptr) << error.toStdString();
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

    const auto failure = zipWith();
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->startsWith("zip archives are not available: ")) << failure->toStdString();
    EXPECT_FALSE(QFile::exists(path("out.zip")));
}

TEST_F(EngineModuleTest, AModuleAnotherUserCouldHaveChangedIsRefused) {
    const QString shared = path("shared");
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_TRUE(QFile::copy(builtModule("zip"), shared + "/libtavrolin-zip.so"));
    const auto refusedFor = [&](const char* reason) {
        const auto failure = zipWith(shared);
        EXPECT_FALSE(QFile::exists(path("out.zip"))) << "written with a refused module (" << reason << ")";
        return failure.has_value() && failure->startsWith("zip archives are not available: ") &&
               failure->contains(shared + "/libtavrolin-zip.so is refused: ") && failure->contains(reason);
    };

    // Its folder, or a folder on the way to it, writable by all.
    ASSERT_EQ(chmod(QFile::encodeName(shared).constData(), 0777), 0);
    EXPECT_TRUE(refusedFor("is writable by other users"));
    ASSERT_EQ(chmod(QFile::encodeName(shared).constData(), 0755), 0);
    ASSERT_EQ(chmod(QFile::encodeName(folder_.path()).constData(), 0707), 0);
    EXPECT_TRUE(refusedFor("is writable by other users"));
    ASSERT_EQ(chmod(QFile::encodeName(folder_.path()).constData(), 0700), 0);
    // The module itself writable by others.
    ASSERT_EQ(chmod(QFile::encodeName(shared + "/libtavrolin-zip.so").constData(), 0666), 0);
    EXPECT_TRUE(refusedFor("is writable by other users"));
    ASSERT_EQ(chmod(QFile::encodeName(shared + "/libtavrolin-zip.so").constData(), 0644), 0);
    // Put there by another user, or writable by a group of others (only root can make these here;
    // root's own group "root" lists no members on Debian).
    if (geteuid() == 0) {
        const QByteArray module = QFile::encodeName(shared + "/libtavrolin-zip.so");
        ASSERT_EQ(chown(module.constData(), 65534, 65534), 0);
        EXPECT_TRUE(refusedFor("belongs to another user"));
        ASSERT_EQ(chown(module.constData(), 0, 65534), 0);
        ASSERT_EQ(chmod(module.constData(), 0664), 0);
        EXPECT_TRUE(refusedFor("is writable by other users"));
        // Our own private group writing to it is only ourselves.
        ASSERT_EQ(chown(module.constData(), 0, 0), 0);
        const auto ownGroup = zipWith(shared);
        EXPECT_FALSE(ownGroup.has_value()) << ownGroup->toStdString();
        ASSERT_EQ(chmod(module.constData(), 0644), 0);
    }

    // A folder that all may write to but only its owners rename or remove in (sticky, like /tmp)
    // does not let anyone change our module.
    ASSERT_EQ(chmod(QFile::encodeName(shared).constData(), 01777), 0);
    const auto sticky = zipWith(shared);
    EXPECT_FALSE(sticky.has_value()) << sticky->toStdString();
}

TEST_F(EngineModuleTest, ATruncatedDamagedOrForeignModuleIsTheCommandsErrorNeverACrash) {
    // Cut inside the segments the loader maps: loading it used to end the process (SIGBUS).
    const QByteArray ocr = builtContent("ocr");
    ASSERT_GT(ocr.size(), 100000);
    write("libtavrolin-ocr.so", ocr.left(ocr.size() * 3 / 5));
    ModuleTextRecognitionEngine recognition(moduleIn("ocr"));
    try {
        recognition.recognizeLines(QImage(40, 20, QImage::Format_RGB32), {"eng"});
        ADD_FAILURE() << "recognised with a truncated module";
    } catch (const TextRecognitionError& error) {
        const QString message = QString::fromStdString(error.what());
        EXPECT_TRUE(message.startsWith("text recognition is not available: " + path("libtavrolin-ocr.so") +
                                       " is damaged or not a module"))
            << message.toStdString();
    }

    const auto refusal = [&] {
        const auto failure = zipWith();
        EXPECT_FALSE(QFile::exists(path("out.zip"))) << "written with a refused module";
        return failure.value_or(QString()).toStdString();
    };
    const QByteArray zip = builtContent("zip");
    write("libtavrolin-zip.so", "not a library");
    EXPECT_EQ(refusal(), "zip archives are not available: " + path("libtavrolin-zip.so").toStdString() +
                             " is damaged or not a module: it carries no build seal");

    // Whole, but a byte changed inside.
    QByteArray changed = zip;
    changed[changed.size() / 2] = char(changed[changed.size() / 2] ^ 0x20);
    write("libtavrolin-zip.so", changed);
    EXPECT_EQ(refusal(), "zip archives are not available: " + path("libtavrolin-zip.so").toStdString() +
                             " is damaged: its content does not match its seal");

    // A module of another build: what the build seals, sealed for another identity.
    write("libtavrolin-zip.so", zip);
    ASSERT_EQ(
        QProcess::execute("cmake", {"-DMODULE=" + path("libtavrolin-zip.so"), "-DIDENTITY=0badbuild", "-DB2SUM=b2sum",
                                    "-P", qEnvironmentVariable("TAVROLIN_SOURCE_DIR") + "/cmake/SealModule.cmake"}),
        0);
    EXPECT_EQ(refusal(), "zip archives are not available: " + path("libtavrolin-zip.so").toStdString() +
                             " belongs to another build of the program");

    // A module of this build without the entry the command calls: another module.
    write("libtavrolin-zip.so", builtContent("audio"));
    EXPECT_NE(refusal().find("tavrolin_zip_make_writer"), std::string::npos) << refusal();
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
