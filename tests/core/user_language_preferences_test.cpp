#include "core/user_language_preferences_service.h"
#include "core/user_preferred_languages_provider.h"
#include "support/fakes/fake_keyboard_layout_reader.h"

#include <gtest/gtest.h>

using namespace tavrolin;

namespace {

struct Environment {
    std::shared_ptr<test::FakeKeyboardLayoutReader> keyboard = std::make_shared<test::FakeKeyboardLayoutReader>();
    SystemLanguages languages;

    std::shared_ptr<UserLanguagePreferencesService> service() {
        return std::make_shared<UserLanguagePreferencesService>(keyboard, [this] { return languages; });
    }
};

}  // namespace

TEST(UserLanguagePreferences, LayoutNamesMapToLanguages) {
    const std::pair<const char*, const char*> cases[] = {
        {"us", "en"},       {"gb", "en"},   {"ru", "ru"},    {"ua", "uk"}, {"il", "he"}, {"de", "de"},
        {"fr", "fr"},       {"es", "es"},   {"latam", "es"}, {"it", "it"}, {"pt", "pt"}, {"br", "pt"},
        {"pl", "pl"},       {"tr", "tr"},   {"jp", "ja"},    {"kr", "ko"}, {"cn", "zh"}, {"tw", "zh"},
        {"th", "th"},       {"vn", "vi"},   {"ara", "ar"},   {"in", "hi"}, {"nl", "nl"}, {"id", "id"},
        {"us(intl)", "en"}, {" RU ", "ru"}, {"se", ""},      {"fi", ""},   {"", ""},     {"(us)", ""},
    };
    for (const auto& [layout, language] : cases) {
        EXPECT_EQ(UserLanguagePreferencesService::languageIdentifierForLayout(QString::fromLatin1(layout)),
                  QString::fromLatin1(language))
            << layout;
    }
}

TEST(UserLanguagePreferences, OnlyTheActiveLayoutIsSelected) {
    Environment env;
    const auto service = env.service();
    env.keyboard->setLayouts({"us", "ru"}, 1);
    EXPECT_EQ(service->selectedInputSourceLanguageIdentifiers(), QStringList{"ru"});
    env.keyboard->setLayouts({"us", "ru"}, 0);
    EXPECT_EQ(service->selectedInputSourceLanguageIdentifiers(), QStringList{"en"});
    env.keyboard->setLayouts({"se", "ru"}, 0);  // a layout without a known language contributes nothing
    EXPECT_TRUE(service->selectedInputSourceLanguageIdentifiers().isEmpty());
    env.keyboard->setLayouts({"us"}, 3);  // a group beyond the layouts
    EXPECT_TRUE(service->selectedInputSourceLanguageIdentifiers().isEmpty());
    env.keyboard->setLayouts(std::nullopt);  // no display
    EXPECT_TRUE(service->selectedInputSourceLanguageIdentifiers().isEmpty());

    env.keyboard->setLayouts({"ua"}, 0);
    env.languages.preferredLanguages = {"de-DE", "ua", "uk"};
    EXPECT_EQ(service->preferredLanguageIdentifiers(), (QStringList{"uk", "de-DE", "ua", "uk"}));
}

TEST(UserLanguagePreferences, NativeLanguageIsTheFirstTargetLanguage) {
    struct Case {
        const char* name;
        std::optional<QStringList> layouts;
        int group;
        QStringList preferred;
        AppLanguage expected;
    };
    const Case cases[] = {
        {"keyboard first", QStringList{"us", "ru"}, 1, {"en-US"}, AppLanguage::russian},
        {"unknown layout: preferred languages",
         QStringList{"se"},
         0,
         {"sv-SE", "pt_BR", "en"},
         AppLanguage::portuguese},
        {"no keyboard", std::nullopt, 0, {"iw-IL"}, AppLanguage::hebrew},
        {"nothing maps: Russian", QStringList{"fi"}, 0, {"sv", "fil"}, AppLanguage::russian},
        {"nothing at all: Russian", std::nullopt, 0, {}, AppLanguage::russian},
    };
    for (const Case& c : cases) {
        Environment env;
        if (c.layouts) {
            env.keyboard->setLayouts(*c.layouts, c.group);
        }
        env.languages.preferredLanguages = c.preferred;
        EXPECT_EQ(env.service()->detectNativeLanguage(), c.expected) << c.name;
    }
}

TEST(UserLanguagePreferences, CompanyLanguageIsTheLocaleWhenItDiffers) {
    struct Case {
        const char* name;
        QStringList layouts;
        QStringList preferred;
        QString locale;
        AppLanguage expected;
    };
    const Case cases[] = {
        {"Russian keyboard, German locale", {"ru"}, {"ru"}, "de_DE", AppLanguage::german},
        {"locale agrees with preferences", {}, {"fr-FR"}, "fr_FR", AppLanguage::english},
        {"no locale: the first preferred language is the own one", {}, {"uk"}, "", AppLanguage::english},
        {"nothing maps", {"se"}, {"sv"}, "sv_SE", AppLanguage::english},
        {"unmapped locale falls to the list", {"ru"}, {"de"}, "sv_SE", AppLanguage::english},
        {"own language defaults to Russian, locale English", {"se"}, {"sv"}, "en_US", AppLanguage::english},
        {"own language defaults to Russian, locale Thai", {}, {}, "th_TH", AppLanguage::thai},
    };
    for (const Case& c : cases) {
        Environment env;
        env.keyboard->setLayouts(c.layouts, 0);
        env.languages = SystemLanguages{c.preferred, c.locale};
        EXPECT_EQ(env.service()->detectCompanyLanguage(), c.expected) << c.name;
    }
}

TEST(UserPreferredLanguages, BoostedLanguagesJoinKeyboardSettingsLocaleAndPreferences) {
    Environment env;
    env.keyboard->setLayouts({"us", "ua"}, 1);
    env.languages = SystemLanguages{{"pl-PL", "sv", "iw"}, "tr_TR"};
    AppSettings settings;
    settings.targetLanguage = AppLanguage::russian;
    settings.messageTargetLanguage = AppLanguage::english;
    settings.dictationLanguage = AppLanguage::korean;
    const UserPreferredLanguagesProvider provider(settings, env.service());
    EXPECT_EQ(
        provider.boostedLanguages(),
        (std::set<AppLanguage>{AppLanguage::ukrainian, AppLanguage::russian, AppLanguage::english, AppLanguage::korean,
                               AppLanguage::turkish, AppLanguage::polish, AppLanguage::hebrew}));

    // Nothing from the system: still the settings' languages; no dictation language means the
    // native one.
    Environment empty;
    empty.keyboard->setLayouts(std::nullopt);
    AppSettings plain;
    plain.targetLanguage = AppLanguage::vietnamese;
    plain.messageTargetLanguage = AppLanguage::dutch;
    EXPECT_EQ(UserPreferredLanguagesProvider(plain, empty.service()).boostedLanguages(),
              (std::set<AppLanguage>{AppLanguage::vietnamese, AppLanguage::dutch}));

    // The settings are a copy taken at creation.
    AppSettings later = plain;
    const UserPreferredLanguagesProvider snapshot(later, empty.service());
    later.targetLanguage = AppLanguage::thai;
    EXPECT_EQ(snapshot.boostedLanguages().count(AppLanguage::thai), 0u);
}
