// A whole defaults file as another program or a crash may leave it, read by the defaults store
// and decoded into the settings the application starts with.
#include "core/app_settings.h"
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "core/user_language_preferences_providing.h"
#include "fuzz_support.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <unistd.h>

using namespace tavrolin;

namespace {

class FixedLanguagePreferences final : public UserLanguagePreferencesProviding {
public:
    AppLanguage detectNativeLanguage() const override { return AppLanguage::german; }
    AppLanguage detectCompanyLanguage() const override { return AppLanguage::english; }
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::discardLogLines();
    static const QString folder = QDir::tempPath() + QStringLiteral("/tavrolin-fuzz-defaults-%1").arg(::getpid());
    static const QString path = folder + QStringLiteral("/defaults.json");
    static const bool made = QDir().mkpath(folder);
    fuzz::require(made, "cannot make the scratch folder");
    const FixedLanguagePreferences languages;

    const QByteArray bytes = fuzz::InputReader(data, size).rest();
    {
        QFile file(path);
        fuzz::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size(),
                      "cannot write the defaults file");
    }

    JsonFileDefaultsStore store(path);
    const AppSettings settings = AppSettingsStore::load(store, languages);
    // A file that could not be read is kept aside, byte for byte.
    if (!store.setAsidePath().isEmpty()) {
        fuzz::require(readAll(store.setAsidePath()) == bytes, "the unreadable file was not kept as it was");
        QFile::remove(store.setAsidePath());
        fuzz::require(!QFile::exists(path), "the unreadable file was left in place");
    }

    // Stored settings that do not decode (in a file that may not parse either) never switch on
    // what they do not readably hold on.
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    const QJsonValue stored = document.object().value(QStringLiteral("appSettings"));
    const bool nothingStored = document.isObject() && (stored.isUndefined() || stored.isNull());
    if (!nothingStored && !AppSettings::fromJson(stored) && !stored.toObject().contains(QStringLiteral("$data"))) {
        fuzz::require(!settings.onlineFeaturesEnabled ||
                          stored.toObject().value(QStringLiteral("onlineFeaturesEnabled")) == QJsonValue(true),
                      "undecodable settings switched online features on");
        fuzz::require(!settings.telemetryEnabled ||
                          stored.toObject().value(QStringLiteral("telemetryEnabled")) == QJsonValue(true),
                      "undecodable settings switched usage statistics on");
    }

    fuzz::require(settings.sanitized() == settings, "the loaded settings are not sanitised");
    fuzz::require(!settings.validationError(), "the loaded settings do not pass their own validation");

    // Encoded and decoded again, as JSON text, the settings are the same.
    const QByteArray text = QJsonDocument(settings.toJson()).toJson();
    const auto decoded = AppSettings::fromJson(QJsonDocument::fromJson(text).object());
    fuzz::require(decoded && *decoded == settings, "the settings do not survive an encode-decode round trip");

    // Saved through the store and read from the file again, the settings are the same.
    AppSettingsStore writer(store, std::make_shared<FixedLanguagePreferences>());
    fuzz::require(!writer.persist(settings), "the settings could not be saved");
    store.flush();
    JsonFileDefaultsStore reread(path);
    fuzz::require(reread.setAsidePath().isEmpty(), "the store cannot read its own file");
    fuzz::require(AppSettingsStore::load(reread, languages) == settings, "the saved settings read back differently");
    return 0;
}
