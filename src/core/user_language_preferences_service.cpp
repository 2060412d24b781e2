#include "core/user_language_preferences_service.h"

#include "platform/keyboard_layout_reading.h"

#include <QLocale>

#include <array>
#include <utility>

namespace tavrolin {

namespace {

// XKB layout names and the language each is written in.
constexpr std::array<std::pair<std::u16string_view, std::u16string_view>, 24> kLayoutLanguages{{
    {u"us", u"en"}, {u"gb", u"en"}, {u"ru", u"ru"},    {u"ua", u"uk"}, {u"il", u"he"}, {u"de", u"de"},
    {u"fr", u"fr"}, {u"es", u"es"}, {u"latam", u"es"}, {u"it", u"it"}, {u"pt", u"pt"}, {u"br", u"pt"},
    {u"pl", u"pl"}, {u"tr", u"tr"}, {u"jp", u"ja"},    {u"kr", u"ko"}, {u"cn", u"zh"}, {u"tw", u"zh"},
    {u"th", u"th"}, {u"vn", u"vi"}, {u"ara", u"ar"},   {u"in", u"hi"}, {u"nl", u"nl"}, {u"id", u"id"},
}};

// The POSIX locales name no language; Qt reports them as "C".
bool namesNoLanguage(const QString& identifier) {
    const QString trimmed = identifier.trimmed();
    const QString head = trimmed.section(u'.', 0, 0).section(u'@', 0, 0);
    return head.isEmpty() || head.compare(QLatin1String("C"), Qt::CaseInsensitive) == 0 ||
           head.compare(QLatin1String("POSIX"), Qt::CaseInsensitive) == 0;
}

}  // namespace

SystemLanguages currentSystemLanguages() {
    const QLocale system = QLocale::system();
    SystemLanguages result;
    for (const QString& language : system.uiLanguages()) {
        if (!namesNoLanguage(language)) {
            result.preferredLanguages.append(language);
        }
    }
    if (system.language() != QLocale::C && !namesNoLanguage(system.name())) {
        result.localeIdentifier = system.name();
    }
    return result;
}

UserLanguagePreferencesService::UserLanguagePreferencesService()
    : UserLanguagePreferencesService(nullptr, currentSystemLanguages) {}

UserLanguagePreferencesService::UserLanguagePreferencesService(std::shared_ptr<KeyboardLayoutReading> keyboard,
                                                               SystemLanguagesSource systemLanguages)
    : keyboard_(std::move(keyboard)), systemLanguages_(std::move(systemLanguages)) {}

QString UserLanguagePreferencesService::languageIdentifierForLayout(QStringView layout) {
    QStringView name = layout.trimmed();
    // Rules may name a layout with its variant in parentheses ("us(intl)").
    if (const qsizetype paren = name.indexOf(u'('); paren >= 0) {
        name = name.left(paren).trimmed();
    }
    if (name.isEmpty()) {
        return {};
    }
    for (const auto& [layoutName, language] : kLayoutLanguages) {
        if (name.compare(QStringView(layoutName), Qt::CaseInsensitive) == 0) {
            return QStringView(language).toString();
        }
    }
    return {};
}

QStringList UserLanguagePreferencesService::selectedInputSourceLanguageIdentifiers() const {
    if (!keyboard_) {
        return {};
    }
    const auto layouts = keyboard_->currentLayouts();
    if (!layouts) {
        return {};
    }
    const QString language = languageIdentifierForLayout(layouts->activeLayout());
    return language.isEmpty() ? QStringList{} : QStringList{language};
}

SystemLanguages UserLanguagePreferencesService::systemLanguages() const {
    return systemLanguages_ ? systemLanguages_() : SystemLanguages{};
}

QStringList UserLanguagePreferencesService::preferredLanguageIdentifiers() const {
    return selectedInputSourceLanguageIdentifiers() + systemLanguages().preferredLanguages;
}

std::optional<AppLanguage> UserLanguagePreferencesService::firstAppLanguage(const QStringList& identifiers) {
    for (const QString& identifier : identifiers) {
        if (const auto language = AppLanguages::fromLanguageIdentifier(identifier, AppLanguages::targetCases())) {
            return language;
        }
    }
    return std::nullopt;
}

AppLanguage UserLanguagePreferencesService::detectNativeLanguage() const {
    return firstAppLanguage(preferredLanguageIdentifiers()).value_or(AppLanguage::russian);
}

AppLanguage UserLanguagePreferencesService::detectCompanyLanguage() const {
    // One read of everything, so the own and the locale language come from the same moment.
    const SystemLanguages system = systemLanguages();
    const QStringList preferred = selectedInputSourceLanguageIdentifiers() + system.preferredLanguages;
    const AppLanguage own = firstAppLanguage(preferred).value_or(AppLanguage::russian);
    QStringList localeFirst = preferred;
    localeFirst.prepend(system.localeIdentifier);
    const auto localeLanguage = firstAppLanguage(localeFirst);
    if (localeLanguage && *localeLanguage != own) {
        return *localeLanguage;
    }
    return AppLanguage::english;
}

}  // namespace tavrolin
