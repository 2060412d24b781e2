#include "shell/app_actions.h"

#include "diagnostics/diagnostics_export_error.h"
#include "platform/zip_archive_writer.h"
#include "support/async.h"
#include "support/fakes/memory_log_sink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// Stands in for the desktop's zip writer: the archive's entry names, one a line.
class ListingZipWriter final : public ZipArchiveWriter {
public:
    std::optional<QString> write(const QString& destination,
                                 const std::vector<ZipArchiveEntry>& entries) const override {
        QFile file(destination);
        if (!file.open(QIODevice::WriteOnly)) {
            return file.errorString();
        }
        for (const ZipArchiveEntry& entry : entries) {
            file.write(entry.name.toUtf8() + '\n');
        }
        return std::nullopt;
    }
};

// --- The support mail ---

TEST(SupportMail, CarriesTheSubjectAndBodyEncodedSoTheyReadBackExactly) {
    const struct { const char* version; } cases[] = {{"1.4.0"}, {"1.4.0 (12)"}, {"2.0+rc1 & more=yes?#"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        const auto url = AppActions::makeSupportMailURL(QStringLiteral("help@tavrolin.invalid"), c.version);
        ASSERT_TRUE(url);
        EXPECT_EQ(url->scheme(), "mailto");
        EXPECT_EQ(url->path(), "help@tavrolin.invalid");
        // Decoded as a mail application reads the query: "+" is not a space, "&" splits items.
        const QList<QPair<QString, QString>> items =
            QUrlQuery(url->query(QUrl::FullyEncoded)).queryItems(QUrl::FullyDecoded);
        ASSERT_EQ(items.size(), 2);
        EXPECT_EQ(items[0].first, "subject");
        EXPECT_EQ(items[0].second, QStringLiteral("Tavrolin support - ") + c.version);
        EXPECT_EQ(items[1].first, "body");
        EXPECT_EQ(items[1].second, QStringLiteral("Hi,\n\nI am using Tavrolin ") + c.version +
                                       ".\n\nPlease describe what happened and attach a diagnostics zip if you "
                                       "exported one.");
        const QString encoded = url->toString(QUrl::FullyEncoded);
        EXPECT_TRUE(encoded.contains("%0A%0A")) << encoded.toStdString();
        EXPECT_FALSE(encoded.contains(' '));
    }
}

TEST(SupportMail, NoAddressNoMail) {
    for (const char* address : {"", "   ", "no-at-sign", "@tavrolin.invalid", "help@", "a@b@c", "help me@x.invalid",
                                "help@x.invalid\nBcc: other@x.invalid"}) {
        SCOPED_TRACE(address);
        EXPECT_FALSE(AppActions::makeSupportMailURL(QString::fromUtf8(address), "1.0"));
    }

    std::vector<QUrl> opened;
    AppActions::Dependencies deps;
    deps.openURL = [&](const QUrl& url) {
        opened.push_back(url);
        return true;
    };
    deps.appVersion = "1.0";
    AppActions silent(deps);
    silent.writeDeveloper();
    EXPECT_TRUE(opened.empty());

    deps.supportEmail = "help@tavrolin.invalid";
    AppActions actions(deps);
    actions.writeDeveloper();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].toString().startsWith("mailto:help@tavrolin.invalid?subject="));
}

// --- The diagnostics export ---

class ExportDiagnosticsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root.isValid());
        QDir(root.path()).mkpath("tmp");
        QDir(root.path()).mkpath("crash");
        QDir(root.path()).mkpath("out");
        QFile log(path("tavrolin.log"));
        ASSERT_TRUE(log.open(QIODevice::WriteOnly));
        log.write("2027-03-02T09:00:00Z info app launch version=1.0\n");
    }

    QString path(const QString& relative) const { return QDir(root.path()).filePath(relative); }

    AppActions makeActions() {
        DiagnosticsExporter::Options options;
        options.now = [] { return kNow; };
        options.temporaryDirectory = [this] { return path("tmp"); };
        options.logSource = DiagnosticsLogSource::file(path("tavrolin.log"));
        options.crashReportsDirectory = path("crash");
        options.zipWriter = std::make_shared<ListingZipWriter>();
        auto exporter =
            std::make_shared<const DiagnosticsExporter>(std::make_shared<ProcessDiagnosticsCommandRunner>(), options);

        AppActions::Dependencies deps;
        deps.now = [] { return kNow; };
        deps.chooseExportPath = [this](const QString& proposed) {
            proposedNames << proposed;
            return chosen;
        };
        deps.currentSettings = [] { return AppSettings(); };
        deps.diagnosticsExporter = [exporter] { return exporter; };
        deps.showInformationalAlert = [this](const QString& title, const QString& message) {
            alerts << "info: " + title + " | " + message;
        };
        deps.showAlert = [this](const QString& title, const QString& message) {
            alerts << "warning: " + title + " | " + message;
        };
        deps.makeMessage = [](const std::exception& error) {
            const auto& diagnostics = dynamic_cast<const DiagnosticsExportError&>(error);
            return diagnostics.description() + "\n\n" + diagnostics.recoverySuggestion();
        };
        return AppActions(deps);
    }

    static inline const QDateTime kNow{QDate(2027, 3, 2), QTime(9, 5, 3), Qt::UTC};
    test::ScopedLogCapture log;
    QTemporaryDir root;
    std::optional<QString> chosen;
    QStringList proposedNames;
    QStringList alerts;
};

TEST_F(ExportDiagnosticsTest, CancellingTheDialogOnlyLogs) {
    for (const std::optional<QString>& answer : {std::optional<QString>(), std::optional<QString>(QString())}) {
        chosen = answer;
        proposedNames.clear();
        AppActions actions = makeActions();
        test::await(actions.exportDiagnostics());
        EXPECT_EQ(proposedNames, QStringList{"Tavrolin-Diagnostics-2027-03-02T09-05-03Z.zip"});
        EXPECT_TRUE(alerts.isEmpty());
        EXPECT_EQ(log.messages(LogCategory::diagnostics).last(), "diagnostics export cancelled");
    }
    EXPECT_TRUE(QDir(path("out")).isEmpty());
}

TEST_F(ExportDiagnosticsTest, ASuccessfulExportNamesOnlyTheFileAndSaysWhereToSendIt) {
    chosen = path("out/support.zip");
    AppActions actions = makeActions();
    test::await(actions.exportDiagnostics());
    EXPECT_TRUE(QFileInfo(*chosen).isFile());
    EXPECT_EQ(log.messages(LogCategory::diagnostics).last(), "diagnostics exported to support.zip");
    EXPECT_EQ(alerts, QStringList{"info: Diagnostics Exported | Tavrolin saved a diagnostics zip.\n\nAttach it when "
                                  "you email support."});
}

TEST_F(ExportDiagnosticsTest, AFailedExportIsLoggedAndShownWithTheErrorsOwnText) {
    chosen = path("out/support.zip");
    ASSERT_TRUE(QDir().mkpath(*chosen + "/keep"));
    AppActions actions = makeActions();
    test::await(actions.exportDiagnostics());
    EXPECT_TRUE(QFileInfo(*chosen + "/keep").isDir());
    ASSERT_EQ(alerts.size(), 1);
    EXPECT_TRUE(alerts[0].startsWith("warning: Could Not Export Diagnostics | ")) << alerts[0].toStdString();
    EXPECT_TRUE(alerts[0].contains(*chosen));
    EXPECT_TRUE(alerts[0].contains("\n\n"));
    const auto records = log.records();
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records.back().level, LogLevel::error);
    EXPECT_TRUE(records.back().message.startsWith("diagnostics export failed: "))
        << records.back().message.toStdString();
}

}  // namespace
}  // namespace tavrolin
