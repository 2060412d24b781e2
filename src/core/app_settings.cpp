#include "core/app_settings.h"

#include "core/user_language_preferences_providing.h"

#include <algorithm>
#include <cmath>

namespace tavrolin {

namespace {

constexpr HotKeyShortcut AppSettings::*kShortcutFields[] = {
    &AppSettings::captureAndTranslateShortcut,
    &AppSettings::translateMessageShortcut,
    &AppSettings::editTextShortcut,
    &AppSettings::writeTextShortcut,
    &AppSettings::flipLanguageShortcut,
    &AppSettings::openDictationScratchpadShortcut,
    &AppSettings::createPromptShortcut,
};
static_assert(std::size(kShortcutFields) == allHotKeyActions.size());

double clampSeconds(double value, double lower, double upper) {
    if (std::isnan(value)) {
        return lower;
    }
    return std::clamp(value, lower, upper);
}

// Reads one optional key of a settings object. Missing and null leave `out` untouched; a value
// the reader rejects fails decoding.
class Reader {
public:
    explicit Reader(const QJsonObject& object) : object_(object) {}

    template <typename T, typename Decode>
    bool read(const char* key, T& out, Decode decode) {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (value.isUndefined() || value.isNull()) {
            return true;
        }
        auto decoded = decode(value);
        if (!decoded) {
            error_ = QStringLiteral("\"%1\" has an unusable value").arg(QLatin1String(key));
            return false;
        }
        out = *decoded;
        return true;
    }

    bool readBool(const char* key, bool& out) {
        return read(key, out,
                    [](const QJsonValue& v) { return v.isBool() ? std::optional(v.toBool()) : std::nullopt; });
    }
    bool readDouble(const char* key, double& out) {
        return read(key, out,
                    [](const QJsonValue& v) { return v.isDouble() ? std::optional(v.toDouble()) : std::nullopt; });
    }
    bool readLanguage(const char* key, AppLanguage& out) {
        return read(key, out, [](const QJsonValue& v) { return rawValueFromJson<AppLanguage>(v); });
    }

    QString error() const { return error_; }

private:
    const QJsonObject& object_;
    QString error_;
};

}  // namespace

HotKeyShortcuts AppSettings::shortcuts() const {
    HotKeyShortcuts result;
    for (std::size_t i = 0; i < result.size(); ++i) {
        result[i] = this->*kShortcutFields[i];
    }
    return result;
}

void AppSettings::setShortcuts(const HotKeyShortcuts& shortcuts) {
    for (std::size_t i = 0; i < shortcuts.size(); ++i) {
        this->*kShortcutFields[i] = shortcuts[i];
    }
}

HotKeyShortcut AppSettings::shortcut(HotKeyAction action) const {
    return this->*kShortcutFields[indexOf(action)];
}

void AppSettings::setShortcut(HotKeyAction action, const HotKeyShortcut& shortcut) {
    this->*kShortcutFields[indexOf(action)] = shortcut;
}

AppSettings AppSettings::fresh(const UserLanguagePreferencesProviding& languagePreferences) {
    AppSettings settings;
    settings.targetLanguage = languagePreferences.detectNativeLanguage();
    settings.messageTargetLanguage = languagePreferences.detectCompanyLanguage();
    return settings;
}

AppSettings AppSettings::sanitized() const {
    AppSettings copy = *this;
    copy.setShortcuts(resolveHotKeyShortcuts(shortcuts()));
    if (copy.messageTargetLanguage == AppLanguage::automatic) {
        copy.messageTargetLanguage = AppLanguage::english;
    }
    if (!copy.onlineFeaturesEnabled) {
        if (copy.targetLanguage == AppLanguage::hebrew) {
            copy.targetLanguage = AppLanguage::russian;
        }
        if (copy.messageTargetLanguage == AppLanguage::hebrew) {
            copy.messageTargetLanguage = AppLanguage::english;
        }
        if (copy.dictationLanguage == AppLanguage::hebrew) {
            copy.dictationLanguage = copy.targetLanguage;
        }
    }
    copy.selectionPopupAutoDismissDelay = clampSeconds(copy.selectionPopupAutoDismissDelay, 3.0, 15.0);
    copy.overlayMinimumDisplayDuration = clampSeconds(copy.overlayMinimumDisplayDuration, 0.0, 3.0);
    copy.antiSleepSchedule.startMinuteOfDay =
        AntiSleepSchedule::clampedMinuteOfDay(copy.antiSleepSchedule.startMinuteOfDay);
    copy.antiSleepSchedule.endMinuteOfDay =
        AntiSleepSchedule::clampedMinuteOfDay(copy.antiSleepSchedule.endMinuteOfDay);
    return copy;
}

std::optional<QString> AppSettings::validationError() const {
    const HotKeyShortcuts all = shortcuts();
    if (std::any_of(all.begin(), all.end(), [](const HotKeyShortcut& s) { return !s.hasModifier(); })) {
        return QStringLiteral("Each shortcut needs at least one modifier key.");
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (std::size_t j = i + 1; j < all.size(); ++j) {
            if (all[i] == all[j]) {
                return QStringLiteral("Choose a different shortcut for each action.");
            }
        }
    }
    if (!onlineFeaturesEnabled &&
        (targetLanguage == AppLanguage::hebrew || messageTargetLanguage == AppLanguage::hebrew)) {
        return QStringLiteral("Hebrew requires online features.");
    }
    return std::nullopt;
}

QJsonObject AppSettings::toJson() const {
    QJsonObject json;
    for (HotKeyAction action : allHotKeyActions) {
        json.insert(settingsKey(action), shortcut(action).toJson());
    }
    json.insert(QStringLiteral("targetLanguage"), rawValueToJson(targetLanguage));
    json.insert(QStringLiteral("messageTargetLanguage"), rawValueToJson(messageTargetLanguage));
    if (dictationLanguage) {
        json.insert(QStringLiteral("dictationLanguage"), rawValueToJson(*dictationLanguage));
    }
    json.insert(QStringLiteral("launchAtLoginEnabled"), launchAtLoginEnabled);
    json.insert(QStringLiteral("telemetryEnabled"), telemetryEnabled);
    json.insert(QStringLiteral("onlineFeaturesEnabled"), onlineFeaturesEnabled);
    json.insert(QStringLiteral("autoImproveOnDictationStop"), autoImproveOnDictationStop);
    json.insert(QStringLiteral("selectionPopupEnabled"), selectionPopupEnabled);
    json.insert(QStringLiteral("selectionPopupAutoDismissDelay"), selectionPopupAutoDismissDelay);
    json.insert(QStringLiteral("overlayMinimumDisplayDuration"), overlayMinimumDisplayDuration);
    json.insert(QStringLiteral("antiSleepSchedule"), antiSleepSchedule.toJson());
    return json;
}

std::optional<AppSettings> AppSettings::fromJson(const QJsonValue& json, QString* error) {
    auto fail = [error](const QString& reason) -> std::optional<AppSettings> {
        if (error) {
            *error = reason;
        }
        return std::nullopt;
    };
    if (!json.isObject()) {
        return fail(QStringLiteral("the settings are not a JSON object"));
    }
    const QJsonObject object = json.toObject();
    const QString requiredKey = settingsKey(HotKeyAction::captureAndTranslateActiveWindow);
    const QJsonValue required = object.value(requiredKey);
    if (required.isUndefined() || required.isNull()) {
        return fail(QStringLiteral("\"%1\" is missing").arg(requiredKey));
    }

    AppSettings settings;
    Reader reader(object);
    for (HotKeyAction action : allHotKeyActions) {
        const QByteArray key = settingsKey(action).toLatin1();
        HotKeyShortcut value = settings.shortcut(action);
        if (!reader.read(key.constData(), value, [](const QJsonValue& v) { return HotKeyShortcut::fromJson(v); })) {
            return fail(reader.error());
        }
        settings.setShortcut(action, value);
    }
    std::optional<AppLanguage> dictation;
    const bool ok = reader.readLanguage("targetLanguage", settings.targetLanguage) &&
                    reader.readLanguage("messageTargetLanguage", settings.messageTargetLanguage) &&
                    reader.read("dictationLanguage", dictation,
                                [](const QJsonValue& v) {
                                    const auto language = rawValueFromJson<AppLanguage>(v);
                                    return language ? std::optional(std::optional(*language)) : std::nullopt;
                                }) &&
                    reader.readBool("launchAtLoginEnabled", settings.launchAtLoginEnabled) &&
                    reader.readBool("telemetryEnabled", settings.telemetryEnabled) &&
                    reader.readBool("onlineFeaturesEnabled", settings.onlineFeaturesEnabled) &&
                    reader.readBool("autoImproveOnDictationStop", settings.autoImproveOnDictationStop) &&
                    reader.readBool("selectionPopupEnabled", settings.selectionPopupEnabled) &&
                    reader.readDouble("selectionPopupAutoDismissDelay", settings.selectionPopupAutoDismissDelay) &&
                    reader.readDouble("overlayMinimumDisplayDuration", settings.overlayMinimumDisplayDuration) &&
                    reader.read("antiSleepSchedule", settings.antiSleepSchedule,
                                [](const QJsonValue& v) { return AntiSleepSchedule::fromJson(v); });
    if (!ok) {
        return fail(reader.error());
    }
    settings.dictationLanguage = dictation;
    return settings;
}

}  // namespace tavrolin
