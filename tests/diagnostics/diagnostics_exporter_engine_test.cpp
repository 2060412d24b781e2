#include "core/app_metadata.h"
#include "diagnostics/diagnostics_export_error.h"
#include "diagnostics/diagnostics_exporter.h"
#include "platform/desktop_backend.h"
#include "platform/linux/module_engines.h"
#include "support/fakes/memory_log_sink.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <utime.h>
#include <zip.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

struct RunCall {
    QString executable;
    QStringList arguments;
    std::optional<QString> output;
};

// Answers each tool by its executable path: writes the scripted text, or throws.
class ScriptedRunner final : public DiagnosticsCommandRunning {
public:
    DiagnosticsCommandResult run(const QString& executable, const QStringList& arguments,
                                 const std::optional<QString>& output, const DiagnosticsCommandLimits&) override {
        calls.push_back({executable, arguments, output});
        if (const auto it = failures.find(executable); it != failures.end()) {
            throw it->second;
        }
        const QByteArray text = outputs[executable];
        if (output) {
            QFile file(*output);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
                throw DiagnosticsExportError::fileOperationFailed("Could not create the file", *output, {});
            }
            file.write(text);
        }
        return {text.size(), false};
    }
    std::vector<RunCall> calls;
    std::map<QString, QByteArray> outputs;
    std::map<QString, DiagnosticsExportError> failures;
};

// The entries of a zip file, in archive order.
QStringList zipEntries(const QString& path) {
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (archive == nullptr) {
        return {"<not a zip>"};
    }
    QStringList names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        names << QString::fromUtf8(zip_get_name(archive, static_cast<zip_uint64_t>(i), 0));
    }
    zip_discard(archive);
    return names;
}

QByteArray zipContent(const QString& path, const QString& entry) {
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (archive == nullptr) {
        return "<not a zip>";
    }
    QByteArray content;
    zip_stat_t st;
    if (zip_stat(archive, entry.toUtf8().constData(), 0, &st) == 0) {
        zip_file_t* file = zip_fopen(archive, entry.toUtf8().constData(), 0);
        content.resize(static_cast<qsizetype>(st.size));
        zip_fread(file, content.data(), st.size);
        zip_fclose(file);
    }
    zip_discard(archive);
    return content;
}

void writeFile(const QString& path, const QByteArray& content, std::optional<QDateTime> modified = {}) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
    file.close();
    if (modified) {
        const utimbuf times{modified->toSecsSinceEpoch(), modified->toSecsSinceEpoch()};
        ASSERT_EQ(::utime(QFile::encodeName(path).constData(), &times), 0);
    }
}

const QDateTime kStart(QDate(2026, 12, 6), QTime(10, 17, 53), Qt::UTC);
const QString kTop = "Tavrolin-Diagnostics-2026-12-06T10-17-53Z/";

DiagnosticsSettingsSnapshot sampleSettings() {
    return {"ru", "en", std::nullopt, true, false, true, false, 4.5, 1};
}

class DiagnosticsExporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        QDir(root.path()).mkpath("tmp");
        QDir(root.path()).mkpath("crash");
        QDir(root.path()).mkpath("out");
        InfoDictionary::setMainForTesting(
            QJsonObject{{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleIdentifier", "org.tavrolin.Tavrolin"}});
        options.now = [this] {
            const QDateTime t = kStart.addSecs(nowReads);
            ++nowReads;
            return t;
        };
        options.temporaryDirectory = [this] { return path("tmp"); };
        options.logSource = DiagnosticsLogSource::journal("org.tavrolin.Tavrolin");
        options.journalctlPath = "/usr/bin/journalctl";
        options.crashReportsDirectory = path("crash");
        options.zipWriter = makeSystemZipArchiveWriter();
        runner->outputs["/usr/bin/journalctl"] = "Dec 06 10:00:00 host org.tavrolin.Tavrolin[1]: launched\n";
    }
    void TearDown() override { InfoDictionary::setMainForTesting(std::nullopt); }

    QString path(const QString& relative) const { return QDir(root.path()).filePath(relative); }
    QString exportTo(const QString& destination, const DiagnosticsSettingsSnapshot& settings = sampleSettings()) {
        return DiagnosticsExporter(runner, options).exportArchive(settings, destination);
    }
    QStringList leftInTemporaryFolder() const {
        return QDir(path("tmp")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QTemporaryDir root;
    std::shared_ptr<ScriptedRunner> runner = std::make_shared<ScriptedRunner>();
    DiagnosticsExporter::Options options;
    int nowReads = 0;
};

TEST_F(DiagnosticsExporterTest, ArchiveHoldsOneTopFolderWithMetadataAndLog) {
    const QString destination = path("out/diag.zip");
    EXPECT_EQ(exportTo(destination), destination);
    EXPECT_EQ(zipEntries(destination), (QStringList{kTop, kTop + "metadata.json", kTop + "tavrolin.log"}));
    EXPECT_EQ(zipContent(destination, kTop + "tavrolin.log"),
              "Dec 06 10:00:00 host org.tavrolin.Tavrolin[1]: launched\n");
    EXPECT_TRUE(leftInTemporaryFolder().isEmpty()) << leftInTemporaryFolder().join(", ").toStdString();

    // The journal is asked for the application's own lines of the last 7 days.
    ASSERT_EQ(runner->calls.size(), 1u);
    EXPECT_EQ(runner->calls[0].executable, "/usr/bin/journalctl");
    EXPECT_TRUE(runner->calls[0].arguments.contains("SYSLOG_IDENTIFIER=org.tavrolin.Tavrolin"));
    EXPECT_TRUE(runner->calls[0].arguments.contains("--since=-7d"));
    EXPECT_TRUE(runner->calls[0].arguments.contains("--no-pager"));
}

TEST_F(DiagnosticsExporterTest, MetadataIsSortedAndDescribesThisBuild) {
    const QString destination = path("out/diag.zip");
    exportTo(destination);
    const QByteArray json = zipContent(destination, kTop + "metadata.json");
    const QJsonObject metadata = QJsonDocument::fromJson(json).object();
    EXPECT_EQ(metadata.value("appName"), "Tavrolin");
    EXPECT_EQ(metadata.value("appVersion"), "1.4.0");
    EXPECT_EQ(metadata.value("appBuild"), "0");  // no build number in the Info dictionary
    EXPECT_EQ(metadata.value("bundleIdentifier"), "org.tavrolin.Tavrolin");
    // The time stamp is the first clock reading, generatedAt the second.
    EXPECT_EQ(metadata.value("generatedAt"), "2026-12-06T10:17:54Z");
    EXPECT_EQ(metadata.value("architecture").toString(), DiagnosticsMetadata::buildArchitecture());
#if defined(__x86_64__)
    EXPECT_EQ(metadata.value("architecture"), "x86_64");
#endif
    EXPECT_FALSE(metadata.value("macOSVersion").toString().isEmpty());
    const QJsonObject settings = metadata.value("settings").toObject();
    EXPECT_FALSE(settings.contains("dictationLanguage"));
    EXPECT_EQ(settings.value("selectionPopupAutoDismissDelay").toDouble(), 4.5);
    EXPECT_EQ(settings.size(), 8);

    // Sorted keys at every level: "appBuild" first and "settings" last; inside "settings"
    // "autoImproveOnDictationStop" first and "telemetryEnabled" last.
    const auto at = [&](const char* key) { return json.indexOf(QByteArray("\"") + key + "\""); };
    EXPECT_LT(at("appBuild"), at("appName"));
    EXPECT_LT(at("architecture"), at("bundleIdentifier"));
    EXPECT_LT(at("macOSVersion"), at("settings"));
    EXPECT_LT(at("settings"), at("autoImproveOnDictationStop"));
    EXPECT_LT(at("selectionPopupAutoDismissDelay"), at("targetLanguage"));
    EXPECT_LT(at("targetLanguage"), at("telemetryEnabled"));
}

TEST_F(DiagnosticsExporterTest, MetadataOptionalKeys) {
    InfoDictionary::setMainForTesting(QJsonObject{{"CFBundleVersion", "57"}});
    AppSettings settings;
    settings.targetLanguage = AppLanguage::ukrainian;
    settings.dictationLanguage = AppLanguage::german;
    const QString destination = path("out/diag.zip");
    DiagnosticsExporter(runner, options).exportArchive(settings, destination);
    const QJsonObject metadata = QJsonDocument::fromJson(zipContent(destination, kTop + "metadata.json")).object();
    EXPECT_EQ(metadata.value("appBuild"), "57");
    EXPECT_EQ(metadata.value("appVersion"), "0.1.0");
    EXPECT_FALSE(metadata.contains("bundleIdentifier"));
    EXPECT_EQ(metadata.value("settings").toObject().value("dictationLanguage"), "de");
    EXPECT_EQ(metadata.value("settings").toObject().value("targetLanguage"), "uk");
}

TEST_F(DiagnosticsExporterTest, CrashReportsAreTheTenNewestMatchingRegularFiles) {
    const QString crash = path("crash");
    // Twelve matching reports, one a minute apart; the oldest two fall off.
    for (int i = 0; i < 12; ++i) {
        writeFile(QString("%1/_usr_bin_tavrolin.%2.crash").arg(crash).arg(1000 + i), "report",
                  kStart.addSecs(-3600 + 60 * i));
    }
    writeFile(crash + "/_usr_bin_Tavrolin.CRASH", "upper case counts", kStart.addSecs(-10));
    writeFile(crash + "/_usr_bin_other.1000.crash", "another program", kStart);
    writeFile(crash + "/_usr_bin_tavrolin.1000.upload", "marker", kStart);
    writeFile(crash + "/.tavrolin.hidden.crash", "hidden", kStart);
    writeFile(crash + "/tavrolin.sub.crash/inside.crash", "a folder", kStart);
    ASSERT_TRUE(QFile::link(crash + "/_usr_bin_tavrolin.1011.crash", crash + "/tavrolin.link.crash"));

    const QStringList selected = DiagnosticsExporter::recentCrashReports(crash);
    QStringList names;
    for (const QString& p : selected) {
        names << QFileInfo(p).fileName();
    }
    EXPECT_EQ(names, (QStringList{"_usr_bin_Tavrolin.CRASH", "_usr_bin_tavrolin.1011.crash",
                                  "_usr_bin_tavrolin.1010.crash", "_usr_bin_tavrolin.1009.crash",
                                  "_usr_bin_tavrolin.1008.crash", "_usr_bin_tavrolin.1007.crash",
                                  "_usr_bin_tavrolin.1006.crash", "_usr_bin_tavrolin.1005.crash",
                                  "_usr_bin_tavrolin.1004.crash", "_usr_bin_tavrolin.1003.crash"}));

    const QString destination = path("out/diag.zip");
    exportTo(destination);
    const QStringList entries = zipEntries(destination);
    EXPECT_TRUE(entries.contains(kTop + "crashes/"));
    EXPECT_EQ(entries.filter("/crashes/").size(), 11);  // the folder and ten reports
    EXPECT_EQ(zipContent(destination, kTop + "crashes/_usr_bin_Tavrolin.CRASH"), "upper case counts");
}

TEST_F(DiagnosticsExporterTest, CoredumpTextJoinsTheCrashesWhenThereIsAny) {
    options.coredumpctlPath = "/usr/bin/coredumpctl";
    // No dumps: coredumpctl exits 1; nothing is added and the export goes on.
    runner->failures.emplace("/usr/bin/coredumpctl",
                             DiagnosticsExportError::commandFailed("/usr/bin/coredumpctl", 1, "No coredumps found."));
    exportTo(path("out/none.zip"));
    EXPECT_EQ(zipEntries(path("out/none.zip")).filter("crashes").size(), 0);

    runner->failures.clear();
    runner->outputs["/usr/bin/coredumpctl"] = "PID: 4242 (tavrolin)\nSignal: 11 (SEGV)\n";
    nowReads = 0;
    exportTo(path("out/dumps.zip"));
    EXPECT_EQ(zipContent(path("out/dumps.zip"), kTop + "crashes/coredumpctl.txt"),
              "PID: 4242 (tavrolin)\nSignal: 11 (SEGV)\n");
    const RunCall& call = runner->calls.back();
    EXPECT_TRUE(call.arguments.contains("COREDUMP_COMM=tavrolin"));
    EXPECT_TRUE(leftInTemporaryFolder().isEmpty());
}

TEST_F(DiagnosticsExporterTest, LogFileSourceKeepsTheLastSevenDaysOldestFileFirst) {
    const QString log = path("state/tavrolin.log");
    options.logSource = DiagnosticsLogSource::file(log);
    const auto line = [](const QDateTime& t, const char* text) {
        return t.toString(Qt::ISODateWithMs).toUtf8() + " info app [1] " + text + "\n";
    };
    writeFile(log + ".1", line(kStart.addDays(-9), "too old") + line(kStart.addDays(-6), "older file"));
    writeFile(log, line(kStart.addSecs(-5), "current file") + "not a time stamped line\n");
    const QString destination = path("out/diag.zip");
    exportTo(destination);
    EXPECT_EQ(zipContent(destination, kTop + "tavrolin.log"), line(kStart.addDays(-6), "older file") +
                                                                  line(kStart.addSecs(-5), "current file") +
                                                                  "not a time stamped line\n");
    EXPECT_TRUE(runner->calls.empty());  // no tool for the file back end
}

TEST_F(DiagnosticsExporterTest, FailingStepsLeaveNoWorkFolder) {
    // The log tool fails: its error ends the export.
    runner->failures.emplace("/usr/bin/journalctl",
                             DiagnosticsExportError::commandFailed("/usr/bin/journalctl", 64, "bad match\n"));
    try {
        exportTo(path("out/diag.zip"));
        FAIL() << "exported although the log tool failed";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.description(), "/usr/bin/journalctl failed with exit code 64.");
        EXPECT_EQ(error.recoverySuggestion(), "bad match");
    }
    EXPECT_TRUE(leftInTemporaryFolder().isEmpty()) << leftInTemporaryFolder().join(", ").toStdString();
    EXPECT_FALSE(QFile::exists(path("out/diag.zip")));

    // The archive cannot be written (its folder does not exist).
    runner->failures.clear();
    EXPECT_THROW(exportTo(path("out/missing/diag.zip")), DiagnosticsExportError);
    EXPECT_TRUE(leftInTemporaryFolder().isEmpty());

    // Without the zip module: its reason is the error, and an earlier export stays as it was.
    writeFile(path("out/earlier.zip"), "an earlier export");
    options.zipWriter = std::make_shared<ModuleZipArchiveWriter>(
        std::make_shared<EngineModule>(QStringLiteral("zip"), path("no-modules")));
    try {
        exportTo(path("out/earlier.zip"));
        FAIL() << "exported without the zip module";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::archiveFailed);
        EXPECT_TRUE(error.description().contains(": zip archives are not available: libtavrolin-zip.so"))
            << error.description().toStdString();
    }
    EXPECT_TRUE(leftInTemporaryFolder().isEmpty());
    QFile earlier(path("out/earlier.zip"));
    ASSERT_TRUE(earlier.open(QIODevice::ReadOnly));
    EXPECT_EQ(earlier.readAll(), "an earlier export");
    options.zipWriter = makeSystemZipArchiveWriter();

    // The work folder itself cannot be made: an error, nothing else happens.
    options.temporaryDirectory = [this] { return path("no-such-folder"); };
    const auto callsBefore = runner->calls.size();
    EXPECT_THROW(exportTo(path("out/diag.zip")), DiagnosticsExportError);
    EXPECT_EQ(runner->calls.size(), callsBefore);  // no tool ran
    EXPECT_FALSE(QFile::exists(path("out/diag.zip")));
}

TEST_F(DiagnosticsExporterTest, DestinationFolderIsNeverRemoved) {
    const QString destination = path("out/diag.zip");
    writeFile(destination + "/keep.txt", "precious");
    try {
        exportTo(destination);
        FAIL() << "a folder was replaced";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::destinationInvalid);
        EXPECT_TRUE(error.description().contains(destination));
    }
    EXPECT_TRUE(QFileInfo(destination).isDir());
    EXPECT_TRUE(QFile::exists(destination + "/keep.txt"));
    EXPECT_TRUE(leftInTemporaryFolder().isEmpty());
}

TEST_F(DiagnosticsExporterTest, ExistingFileOrLinkIsReplaced) {
    const QString destination = path("out/diag.zip");
    writeFile(destination, "an old export that is not even a zip");
    exportTo(destination);
    EXPECT_EQ(zipEntries(destination).size(), 3);

    // A link is replaced by the archive; what it pointed to stays as it was.
    const QString target = path("elsewhere.txt");
    writeFile(target, "not ours");
    const QString link = path("out/link.zip");
    ASSERT_TRUE(QFile::link(target, link));
    exportTo(link);
    EXPECT_FALSE(QFileInfo(link).isSymLink());
    EXPECT_EQ(zipEntries(link).size(), 3);
    QFile original(target);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), "not ours");
}

// The archive holds the log and the settings: only its owner may read it, whatever the umask and
// whatever the mode of an earlier export it replaces, and nothing it was made from stays beside it.
TEST_F(DiagnosticsExporterTest, ArchiveIsReadableByItsOwnerAlone) {
    const auto modeOf = [](const QString& file) {
        struct stat info {};
        EXPECT_EQ(::stat(QFile::encodeName(file).constData(), &info), 0) << file.toStdString();
        return info.st_mode & 07777;
    };
    const mode_t umaskBefore = ::umask(022);
    exportTo(path("out/new.zip"));
    writeFile(path("out/earlier.zip"), "an earlier export");
    ASSERT_EQ(::chmod(QFile::encodeName(path("out/earlier.zip")).constData(), 0644), 0);
    nowReads = 0;
    exportTo(path("out/earlier.zip"));
    ::umask(umaskBefore);

    EXPECT_EQ(modeOf(path("out/new.zip")), 0600u);
    EXPECT_EQ(modeOf(path("out/earlier.zip")), 0600u);
    EXPECT_EQ(zipEntries(path("out/earlier.zip")).size(), 3);
    EXPECT_EQ(QDir(path("out")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
              (QStringList{"earlier.zip", "new.zip"}));
}

// The real runner with tools that misbehave: the export neither stalls nor leaves a folder.
TEST_F(DiagnosticsExporterTest, ChattyOrHangingLogToolCannotStallTheExport) {
    const QString tool = path("fake-journalctl");
    options.journalctlPath = tool;
    options.logLimits.timeout = 500ms;
    options.logLimits.maximumOutputBytes = 100000;
    const auto exporter = [&] {
        return DiagnosticsExporter(std::make_shared<ProcessDiagnosticsCommandRunner>(), options);
    };

    writeFile(tool, "#!/bin/sh\nexec yes 'chatty log line'\n");
    ASSERT_TRUE(QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QElapsedTimer timer;
    timer.start();
    const QString destination = path("out/chatty.zip");
    exporter().exportArchive(sampleSettings(), destination);
    EXPECT_EQ(zipContent(destination, kTop + "tavrolin.log").size(), 100000);

    writeFile(tool, "#!/bin/sh\nsleep 60\n");
    nowReads = 0;
    try {
        exporter().exportArchive(sampleSettings(), path("out/hang.zip"));
        FAIL() << "a hanging log tool did not fail the export";
    } catch (const DiagnosticsExportError& error) {
        EXPECT_EQ(error.kind(), DiagnosticsExportError::Kind::commandTimedOut);
    }
    EXPECT_LT(timer.elapsed(), 10000);
    EXPECT_FALSE(QFile::exists(path("out/hang.zip")));
    EXPECT_TRUE(leftInTemporaryFolder().isEmpty());
}

TEST(DiagnosticsExportNames, TimeStampsNeverHoldColons) {
    const QDateTime when(QDate(2027, 3, 2), QTime(9, 5, 3), Qt::UTC);
    EXPECT_EQ(DiagnosticsExporter::proposedFileName(when), "Tavrolin-Diagnostics-2027-03-02T09-05-03Z.zip");
    // A local time is written in UTC.
    EXPECT_EQ(DiagnosticsExporter::timestamp(when.toOffsetFromUtc(3600 * 5 + 1800)), "2027-03-02T09-05-03Z");
}

TEST(DiagnosticsExportLogLines, OutcomeLines) {
    test::ScopedLogCapture capture;
    DiagnosticsExportLog::exported("/home/someone/Desktop/Tavrolin-Diagnostics-x.zip");
    DiagnosticsExportLog::failed(DiagnosticsExportError::commandTimedOut("/usr/bin/journalctl", 30));
    DiagnosticsExportLog::cancelled();
    EXPECT_EQ(capture.messages(LogCategory::diagnostics),
              (QStringList{"diagnostics exported to Tavrolin-Diagnostics-x.zip",
                           "diagnostics export failed: /usr/bin/journalctl did not finish within 30 seconds and was "
                           "stopped.",
                           "diagnostics export cancelled"}));
    EXPECT_EQ(capture.records()[1].level, LogLevel::error);
}

}  // namespace
}  // namespace tavrolin
