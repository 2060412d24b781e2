#include "platform/linux/pocketsphinx_speech_models.h"

#include "platform/desktop_backend.h"
#include "platform/linux/module_engines.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace tavrolin {

namespace {

const QString kDebianEnglishModel = QStringLiteral("/usr/share/pocketsphinx/model/en-us");

QString firstFile(const QDir& folder, const QStringList& patterns) {
    const QFileInfoList files = folder.entryInfoList(patterns, QDir::Files | QDir::Readable, QDir::Name);
    return files.isEmpty() ? QString() : files.first().absoluteFilePath();
}

// Some damaged acoustic model files make the library end the whole process instead of failing
// (random bytes in "mdef" or "means" do). So the acoustic model is first loaded by the check
// program, with a one-word dictionary to keep it quick; only when that loads is the model
// loaded here.
// The model check program: in the running program's helper folder (its build's, or its install
// prefix's), and only while no other user could have changed it. Empty with the reason in `error`.
QString speechModelChecker(QString& error) {
    const QString path =
        QDir(ProgramFolders::ofRunningProgram().helpers).filePath(QStringLiteral("tavrolin-speech-model-check"));
    if (!QFileInfo(path).isFile()) {
        error = QStringLiteral("the speech model check program is not installed (looked for %1)").arg(path);
        return {};
    }
    // Started by the path that was checked: no one else can change what lies on it.
    const int fd = openTrustedFile(path, error);
    if (fd < 0) {
        return {};
    }
    ::close(fd);
    return QFileInfo(path).canonicalFilePath();
}

bool acousticModelLoadsInChild(const PocketSphinxModelFiles& files, QString& error) {
    QFile dictionary(files.dictionary);
    if (!dictionary.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("the pronunciation dictionary cannot be read: %1").arg(dictionary.errorString());
        return false;
    }
    QByteArray firstEntry;
    while (!dictionary.atEnd() && dictionary.pos() < 65536) {
        const QByteArray line = dictionary.readLine(4096).trimmed();
        if (!line.isEmpty() && !line.startsWith("##")) {
            firstEntry = line;
            break;
        }
    }
    if (firstEntry.isEmpty()) {
        error = QStringLiteral("the pronunciation dictionary is empty");
        return false;
    }
    QTemporaryFile oneWord;
    if (!oneWord.open() || oneWord.write(firstEntry + '\n') < 0 || !oneWord.flush()) {
        error = QStringLiteral("no temporary file for checking the speech model");
        return false;
    }
    const QByteArray hmm = QFile::encodeName(files.acousticModel);
    const QByteArray dictionaryPath = QFile::encodeName(oneWord.fileName());
    const QByteArray checker = QFile::encodeName(speechModelChecker(error));
    if (checker.isEmpty()) {
        return false;
    }
    // A freshly started program: a copy of this one made by fork() alone can hang on a lock that
    // another thread held at the fork. Its output goes nowhere.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    char* const arguments[] = {const_cast<char*>(checker.constData()), const_cast<char*>(hmm.constData()),
                               const_cast<char*>(dictionaryPath.constData()), nullptr};
    pid_t child = -1;
    const int spawned = posix_spawn(&child, checker.constData(), &actions, nullptr, arguments, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        error = QStringLiteral("the speech model could not be checked");
        return false;
    }
    // Bounded all the same: a check that does not end in time proves nothing good about the model.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        const pid_t ended = waitpid(child, &status, WNOHANG);
        if (ended == child) {
            break;
        }
        if (ended < 0 && errno != EINTR) {
            error = QStringLiteral("the speech model could not be checked");
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            error = QStringLiteral("checking the speech model took too long");
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = QStringLiteral("the acoustic model in %1 is damaged").arg(files.acousticModel);
        return false;
    }
    return true;
}

}  // namespace

std::optional<PocketSphinxModelFiles> pocketSphinxModelFilesIn(const QString& folderPath) {
    const QDir folder(folderPath);
    if (!folder.exists()) {
        return std::nullopt;
    }
    PocketSphinxModelFiles files;
    for (const QFileInfo& entry : folder.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        if (QFileInfo(QDir(entry.absoluteFilePath()).filePath(QStringLiteral("mdef"))).isFile()) {
            files.acousticModel = entry.absoluteFilePath();
            break;
        }
    }
    files.dictionary = firstFile(folder, {QStringLiteral("*.dict"), QStringLiteral("*.dic")});
    files.grammar = firstFile(folder, {QStringLiteral("*.gram"), QStringLiteral("*.jsgf")});
    if (files.grammar.isEmpty()) {
        // The Debian package also ships a phone model ("en-us-phone.lm.bin"): not for words.
        const QDir::Filters filters = QDir::Files | QDir::Readable;
        for (const QFileInfo& file : folder.entryInfoList({QStringLiteral("*.lm.bin"), QStringLiteral("*.lm"),
                                                           QStringLiteral("*.lm.dmp"), QStringLiteral("*.dmp")},
                                                          filters, QDir::Name)) {
            if (!file.fileName().contains(QStringLiteral("-phone."))) {
                files.languageModel = file.absoluteFilePath();
                break;
            }
        }
    }
    if (files.acousticModel.isEmpty() || files.dictionary.isEmpty() ||
        (files.grammar.isEmpty() && files.languageModel.isEmpty())) {
        return std::nullopt;
    }
    return files;
}

PocketSphinxSpeechModels::PocketSphinxSpeechModels(QString dataHome, QString systemEnglishModel)
    : dataHome_(std::move(dataHome)), systemEnglishModel_(std::move(systemEnglishModel)) {
    if (dataHome_.isEmpty()) {
        dataHome_ = qEnvironmentVariable("XDG_DATA_HOME");
        if (dataHome_.isEmpty()) {
            dataHome_ = QDir::homePath() + QStringLiteral("/.local/share");
        }
    }
    if (systemEnglishModel_.isEmpty()) {
        systemEnglishModel_ = kDebianEnglishModel;
    }
}

std::optional<PocketSphinxModelFiles> PocketSphinxSpeechModels::modelFiles(const QString& localeIdentifier) const {
    // A path piece, never a path: "en-US" and the like only.
    if (localeIdentifier.isEmpty() || localeIdentifier.contains(u'/') || localeIdentifier.startsWith(u'.')) {
        return std::nullopt;
    }
    const QString own = QDir(dataHome_).filePath(QStringLiteral("tavrolin/speech/") + localeIdentifier);
    if (auto files = pocketSphinxModelFilesIn(own)) {
        return files;
    }
    if (localeIdentifier == u"en-US") {
        return pocketSphinxModelFilesIn(systemEnglishModel_);
    }
    return std::nullopt;
}

bool PocketSphinxSpeechModels::hasModel(const QString& localeIdentifier) const {
    return modelFiles(localeIdentifier).has_value();
}

std::unique_ptr<SpeechDecoder> PocketSphinxSpeechModels::loadDecoder(const QString& localeIdentifier, QString& error) {
    const auto files = modelFiles(localeIdentifier);
    if (!files) {
        error = QStringLiteral("no speech model for %1").arg(localeIdentifier);
        return nullptr;
    }
    return loadPocketSphinxDecoder(*files, extraOptions, error);
}

std::unique_ptr<SpeechDecoder> loadPocketSphinxDecoder(const PocketSphinxModelFiles& files,
                                                       const QStringList& extraOptions, QString& error) {
    return loadModuleSpeechDecoder(*systemEngineModule(QStringLiteral("speech")), files, extraOptions, error,
                                   [&files](QString& reason) { return acousticModelLoadsInChild(files, reason); });
}

std::shared_ptr<SpeechModelProviding> makeSystemSpeechModels() {
    return std::make_shared<PocketSphinxSpeechModels>();
}

}  // namespace tavrolin
