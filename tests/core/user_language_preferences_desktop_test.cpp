#include "core/user_language_preferences_service.h"
#include "platform/desktop_backend.h"
#include "platform/linux/x11_keyboard_layout_reader.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace tavrolin;

namespace {

bool setLayouts(const QStringList& layouts, const QStringList& variants = {}) {
    QStringList arguments{QStringLiteral("-layout"), layouts.join(u',')};
    if (!variants.join(QString()).isEmpty()) {
        arguments << QStringLiteral("-variant") << variants.join(u',');
    }
    QProcess process;
    process.start(QStringLiteral("setxkbmap"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

}  // namespace

// The real session: the X keyboard and the locale of the test environment.
TEST(UserLanguagePreferencesDesktop, ActiveSecondLayoutMakesTheNativeGuess) {
    const auto reader = systemKeyboardLayoutReader();
    const auto original = reader->currentLayouts();
    ASSERT_TRUE(original.has_value());

    ASSERT_TRUE(setLayouts({"us", "ru"}));
    ASSERT_TRUE(lockKeyboardGroup(1));
    const UserLanguagePreferencesService service(reader, currentSystemLanguages);
    EXPECT_EQ(service.selectedInputSourceLanguageIdentifiers(), QStringList{"ru"});
    EXPECT_EQ(service.detectNativeLanguage(), AppLanguage::russian);

    ASSERT_TRUE(lockKeyboardGroup(0));
    EXPECT_EQ(service.detectNativeLanguage(), AppLanguage::english);

    EXPECT_TRUE(setLayouts(original->layouts, original->variants));
    EXPECT_TRUE(lockKeyboardGroup(original->activeGroup));
    EXPECT_EQ(reader->currentLayouts(), original);
}
