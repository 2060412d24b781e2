#include "core/app_settings_store.h"
#include "core/user_language_preferences_providing.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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
        EXPECT_EQ(store.settings(), freshForGermanUser()) << c.name;
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
    EXPECT_EQ(store.settings(), freshForGermanUser());
    ASSERT_FALSE(defaults.setAsidePath().isEmpty());
    EXPECT_EQ(readFile(defaults.setAsidePath()), truncated);
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
