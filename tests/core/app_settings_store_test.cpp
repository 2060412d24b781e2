#include "core/app_settings_store.h"

#include "core/user_language_preferences_providing.h"
#include "support/fakes/memory_log_sink.h"
#include "support/file_permission_checks.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace tavrolin;

namespace {

class FixedPreferences final : public UserLanguagePreferencesProviding {
public:
    FixedPreferences(AppLanguage native, AppLanguage company) : native_(native), company_(company) {}
    AppLanguage detectNativeLanguage() const override { return native_; }
    AppLanguage detectCompanyLanguage() const override { return company_; }

private:
    AppLanguage native_;
    AppLanguage company_;
};

std::shared_ptr<const UserLanguagePreferencesProviding> germanUser() {
    return std::make_shared<FixedPreferences>(AppLanguage::german, AppLanguage::spanish);
}

AppSettings freshForGermanUser() {
    AppSettings settings;
    settings.targetLanguage = AppLanguage::german;
    settings.messageTargetLanguage = AppLanguage::spanish;
    return settings;
}

// What the user may have switched off stays off while their settings cannot be read.
AppSettings freshForGermanUserOffline() {
    AppSettings settings = freshForGermanUser();
    settings.onlineFeaturesEnabled = false;
    settings.telemetryEnabled = false;
    return settings;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

}  // namespace

TEST(AppSettingsStore, NothingStoredGivesTheFreshValueWithTheUsersLanguages) {
    InMemoryDefaultsStore defaults;
    AppSettingsStore store(defaults, germanUser());
    EXPECT_EQ(store.settings(), freshForGermanUser());
    EXPECT_FALSE(defaults.contains("appSettings")) << "loading never writes";
}

TEST(AppSettingsStore, UnreadableStoredValuesGiveFreshDefaultsAndStayStored) {
    struct Case {
        const char* name;
        QJsonValue stored;
    };
    const Case cases[] = {
        {"a number", QJsonValue(42)},
        {"a string", QJsonValue(QStringLiteral("{\"captureAndTranslateShortcut\":"))},
        {"an array", QJsonValue(QJsonArray{1, 2})},
        {"no required shortcut", QJsonObject{{"targetLanguage", "uk"}}},
        {"unknown language",
         QJsonObject{{"captureAndTranslateShortcut", AppSettings{}.captureAndTranslateShortcut.toJson()},
                     {"targetLanguage", "klingon"}}},
        {"truncated data",
         QJsonObject{{"$data", QString::fromLatin1(
                                   QByteArray(R"({"captureAndTranslateShortcut":{"key":"T","comm)").toBase64())}}},
        {"data that is not JSON",
         QJsonObject{{"$data", QString::fromLatin1(QByteArray("\x00\xff\x10", 3).toBase64())}}},
    };
    for (const Case& c : cases) {
        InMemoryDefaultsStore defaults;
        defaults.setRawValue("appSettings", c.stored);
        AppSettingsStore store(defaults, germanUser());
        EXPECT_EQ(store.settings(), freshForGermanUserOffline()) << c.name;
        EXPECT_EQ(defaults.rawValue("appSettings"), c.stored) << c.name << ": stored data must stay";
    }
}

TEST(AppSettingsStore, StoredValuesLoadSanitisedInEitherStoredForm) {
    AppSettings stored;
    stored.targetLanguage = AppLanguage::hebrew;
    stored.onlineFeaturesEnabled = false;
    stored.editTextShortcut = stored.captureAndTranslateShortcut;
    stored.selectionPopupAutoDismissDelay = 60;

    AppSettings expected;
    expected.onlineFeaturesEnabled = false;
    expected.selectionPopupAutoDismissDelay = 15;

    InMemoryDefaultsStore asObject;
    asObject.setRawValue("appSettings", stored.toJson());
    EXPECT_EQ(AppSettingsStore(asObject, germanUser()).settings(), expected);

    InMemoryDefaultsStore asData;
    asData.setData("appSettings", QJsonDocument(stored.toJson()).toJson());
    EXPECT_EQ(AppSettingsStore(asData, germanUser()).settings(), expected);

    // Only the required key: the table's missing-key languages, not the user's.
    InMemoryDefaultsStore minimal;
    minimal.setRawValue("appSettings",
                        QJsonObject{{"captureAndTranslateShortcut", expected.captureAndTranslateShortcut.toJson()}});
    EXPECT_EQ(AppSettingsStore(minimal, germanUser()).settings(), AppSettings{});
}

TEST(AppSettingsStore, PersistSanitisesAndSurvivesARealDefaultsFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("config/tavrolin/defaults.json");
    AppSettings changed;
    changed.targetLanguage = AppLanguage::japanese;
    changed.dictationLanguage = AppLanguage::korean;
    changed.overlayMinimumDisplayDuration = 9;  // sanitised to 3
    changed.antiSleepSchedule = AntiSleepSchedule{true, 1320, 360, false, true};
    AppSettings expected = changed;
    expected.overlayMinimumDisplayDuration = 3;
    {
        JsonFileDefaultsStore defaults(path);
        defaults.setString("deviceID", "keep-me");
        AppSettingsStore store(defaults, germanUser());
        EXPECT_EQ(store.persist(changed), std::nullopt);
        EXPECT_EQ(store.settings(), expected);
    }
    {
        JsonFileDefaultsStore defaults(path);
        AppSettingsStore store(defaults, germanUser());
        EXPECT_EQ(store.settings(), expected);
        EXPECT_EQ(defaults.string("deviceID"), "keep-me");
    }
    // Readable in the file as a JSON object, with the stored key names.
    const QJsonObject file = QJsonDocument::fromJson(readFile(path)).object();
    EXPECT_EQ(file.value("appSettings").toObject().value("targetLanguage").toString(), "ja");
    EXPECT_TRUE(file.value("appSettings").toObject().value("antiSleepSchedule").toObject().value("enabled").toBool());
}

TEST(AppSettingsStore, CorruptDefaultsFileGivesFreshDefaultsAndIsKept) {
    QTemporaryDir dir;
    const QString path = dir.filePath("tavrolin/defaults.json");
    const QByteArray truncated = R"({"appSettings": {"captureAndTranslateShortcut": {"key": "T", "comm)";
    writeFile(path, truncated);
    JsonFileDefaultsStore defaults(path);
    AppSettingsStore store(defaults, germanUser());
    EXPECT_EQ(store.settings(), freshForGermanUserOffline());
    ASSERT_FALSE(defaults.setAsidePath().isEmpty());
    EXPECT_EQ(readFile(defaults.setAsidePath()), truncated);
}

// Settings files as a user, a crash or another version of the program may leave them. Whatever
// cannot be read gives the fresh defaults, but never switches on online features or usage
// statistics that the stored settings may have switched off, on this start or the next.
TEST(AppSettingsStore, DamagedSettingsNeverSwitchOnWhatTheUserSwitchedOff) {
    const QByteArray shortcut = R"("captureAndTranslateShortcut": {"key": "T", "command": false, "option": false,
        "shift": true, "control": true})";
    const auto file = [](const QByteArray& settings) {
        return R"({"deviceID": "0A1B", "onboardingCompletedVersion": 1, "appSettings": )" + settings + "}";
    };
    const auto document = [&](const QByteArray& keys) { return file("{" + shortcut + ", " + keys + "}"); };
    const QByteArray bothOff = R"("onlineFeaturesEnabled": false, "telemetryEnabled": false)";
    const auto asData = [](const QByteArray& bytes) { return R"({"$data": ")" + bytes.toBase64() + R"("})"; };

    enum class Kind { document, corruptFile, unopenableFile, unsearchableFolder };
    struct Case {
        const char* name;
        QByteArray bytes;
        bool online;
        bool telemetry;
        Kind kind = Kind::document;
    };
    const Case cases[] = {
        {"a second language unknown here", document(bothOff + R"(, "messageTargetLanguage": "sv")"), false, false},
        {"a number stored as a string", document(bothOff + R"(, "selectionPopupAutoDismissDelay": "5")"), false, false},
        {"a newer version's shortcut key",
         document(bothOff + R"(, "editTextShortcut": {"key": "F13", "command": false, "option": false,
             "shift": true, "control": true})"),
         false, false},
        {"a newer version's anti-sleep value", document(bothOff + R"(, "antiSleepSchedule": "weekdays")"), false,
         false},
        {"only statistics off",
         document(R"("onlineFeaturesEnabled": true, "telemetryEnabled": false, "messageTargetLanguage": "sv")"), true,
         false},
        {"only online features off",
         document(R"("onlineFeaturesEnabled": false, "telemetryEnabled": true, "messageTargetLanguage": "sv")"), false,
         true},
        {"both on", document(R"("onlineFeaturesEnabled": true, "telemetryEnabled": true, "targetLanguage": 7)"), true,
         true},
        {"switches missing", document(R"("messageTargetLanguage": "sv")"), false, false},
        {"switches not booleans",
         document(R"("onlineFeaturesEnabled": "true", "telemetryEnabled": 1, "messageTargetLanguage": "sv")"), false,
         false},
        {"switches null", document(R"("onlineFeaturesEnabled": null, "telemetryEnabled": null, "targetLanguage": "")"),
         false, false},
        {"settings stored as data",
         file(asData("{" + shortcut + ", " + bothOff + R"(, "messageTargetLanguage": "sv"})")), false, false},
        {"a truncated file", R"({"appSettings": {"onlineFeaturesEnabled": false, "captureAndTr)", false, false,
         Kind::corruptFile},
        {"a file that is not text", QByteArray("\xff\xfe\x00\x01", 4), false, false, Kind::corruptFile},
        {"an empty file", QByteArray(), false, false, Kind::corruptFile},
        {"a file that cannot be opened", document(bothOff), false, false, Kind::unopenableFile},
        {"a folder that cannot be searched", document(bothOff), false, false, Kind::unsearchableFolder},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = dir.filePath("config/tavrolin");
        const QString path = folder + "/defaults.json";
        writeFile(path, c.bytes);
        const QJsonValue stored = QJsonDocument::fromJson(c.bytes).object().value("appSettings");
        if (c.kind == Kind::unopenableFile) {
            ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0200), 0);
        }
        if (c.kind == Kind::unsearchableFolder) {
            ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0), 0);
        }

        AppSettings expected = freshForGermanUserOffline();
        expected.onlineFeaturesEnabled = c.online;
        expected.telemetryEnabled = c.telemetry;
        expected = expected.sanitized();
        // Two starts, each writing what the program writes at a start.
        for (const char* start : {"first start", "second start"}) {
            SCOPED_TRACE(start);
            test::ScopedLogCapture log;
            test::ScopedFilePermissionChecks asTheUser;
            JsonFileDefaultsStore defaults(path);
            AppSettingsStore store(defaults, germanUser());
            const AppSettings loaded = store.settings();
            EXPECT_EQ(loaded.onlineFeaturesEnabled, c.online) << "online features";
            EXPECT_EQ(loaded.telemetryEnabled, c.telemetry) << "usage statistics";
            AppSettings others = loaded;
            others.onlineFeaturesEnabled = c.online;
            others.telemetryEnabled = c.telemetry;
            EXPECT_TRUE(others == expected) << "every other setting takes its fresh value";
            defaults.setString("deviceID", "0A1B");
            if (c.kind == Kind::document) {
                EXPECT_EQ(defaults.rawValue("appSettings"), stored) << "stored settings stay until the user saves";
                EXPECT_EQ(log.records(), std::vector<test::LogRecord>()) << "an undecodable document is not reported";
            }
        }
        if (c.kind == Kind::unopenableFile || c.kind == Kind::unsearchableFolder) {
            ::chmod(QFile::encodeName(folder).constData(), 0700);
            ::chmod(QFile::encodeName(path).constData(), 0600);
            EXPECT_EQ(readFile(path), c.bytes) << "a file that could not be read is left as it was";
        }
        if (c.kind == Kind::corruptFile) {
            const QStringList aside = QDir(folder).entryList({"defaults.json.corrupt-*"}, QDir::Files);
            ASSERT_EQ(aside.size(), 1);
            EXPECT_EQ(readFile(folder + "/" + aside.first()), c.bytes);
        }
    }
}

TEST(AppSettingsStore, UnwritableFolderIsReportedAndTheValueStillApplies) {
    QTemporaryDir dir;
    // A file where the configuration folder should be: no user (root included) can write there.
    writeFile(dir.filePath("config/tavrolin"), "not a folder");
    JsonFileDefaultsStore defaults(dir.filePath("config/tavrolin/defaults.json"));
    AppSettingsStore store(defaults, germanUser());
    AppSettings changed = store.settings();
    changed.telemetryEnabled = false;
    const auto error = store.persist(changed);
    ASSERT_TRUE(error.has_value());
    EXPECT_TRUE(error->startsWith("The settings could not be saved: ")) << error->toStdString();
    EXPECT_TRUE(error->contains("config/tavrolin")) << "names the folder: " << error->toStdString();
    EXPECT_FALSE(store.settings().telemetryEnabled);
    EXPECT_FALSE(defaults.contains("appSettings"));

    InMemoryDefaultsStore readOnly;
    readOnly.setWritable(false);
    AppSettingsStore memoryStore(readOnly, germanUser());
    EXPECT_TRUE(memoryStore.persist(AppSettings{}).has_value());
}

TEST(AppSettingsStore, ReplacedValueIsWhatProvidersSee) {
    InMemoryDefaultsStore defaults;
    AppSettingsStore store(defaults, germanUser());
    const AppSettingsProviding& provider = store;
    AppSettings next = store.settings();
    next.selectionPopupEnabled = false;
    store.setSettings(next);
    EXPECT_FALSE(provider.settings().selectionPopupEnabled);
    EXPECT_FALSE(defaults.contains("appSettings"));
}
