#pragma once

#include "core/app_language.h"
#include "core/user_language_preferences_providing.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

class KeyboardLayoutReading;

// The user's languages as the session states them.
struct SystemLanguages {
    // The ordered list of preferred languages ("ru", "en-US", ...).
    QStringList preferredLanguages;
    // The current locale's identifier ("de_DE"); empty when the locale names no language.
    QString localeIdentifier;

    bool operator==(const SystemLanguages&) const = default;
};

// Reads QLocale::uiLanguages() (LANGUAGE, LC_ALL, LC_MESSAGES, LANG) and QLocale::system().name().
// "C" and "POSIX" name no language and are left out.
SystemLanguages currentSystemLanguages();

// Derives the language guesses from the active keyboard layout, the preferred languages and
// the locale. Every operation may run on any thread: the keyboard is read on the reader's own
// X connection under its lock, never through the main thread.
class UserLanguagePreferencesService final : public UserLanguagePreferencesProviding {
public:
    using SystemLanguagesSource = std::function<SystemLanguages()>;

    // Without arguments: no keyboard (the composition root hands in the desktop's reader) and the
    // session's locale.
    UserLanguagePreferencesService();
    UserLanguagePreferencesService(std::shared_ptr<KeyboardLayoutReading> keyboard,
                                   SystemLanguagesSource systemLanguages);

    // The language identifier of the active keyboard layout (none, or one), e.g. {"ru"} while
    // the Russian group of "us,ru" is active. A layout without a known language gives none.
    QStringList selectedInputSourceLanguageIdentifiers() const;
    // The keyboard's identifiers followed by the preferred languages, duplicates kept.
    QStringList preferredLanguageIdentifiers() const;
    SystemLanguages systemLanguages() const;

    // The first identifier that names one of the 20 target languages.
    static std::optional<AppLanguage> firstAppLanguage(const QStringList& identifiers);
    // The language identifier of an XKB layout name ("us" -> "en", "ua" -> "uk"); empty when
    // the layout is not one of the known ones.
    static QString languageIdentifierForLayout(QStringView layout);

    // The first keyboard or preferred language that is a target language, else Russian.
    AppLanguage detectNativeLanguage() const override;
    // The locale's language when it differs from the native guess, else English.
    AppLanguage detectCompanyLanguage() const override;

private:
    std::shared_ptr<KeyboardLayoutReading> keyboard_;
    SystemLanguagesSource systemLanguages_;
};

}  // namespace tavrolin
