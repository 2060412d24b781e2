#include "onboarding/onboarding_page.h"

#include <QSet>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using A = HotKeyAction;

TEST(OnboardingPageTest, PracticePagesListenForTheActionOfTheirSidebarNotOfTheirId) {
    struct Row {
        const char* id;
        const char* sidebarTitle;
        std::optional<HotKeyAction> action;
        const char* shortcutInSubtitle;
    };
    const std::vector<Row> rows = {
        {"language-setup", "Languages", std::nullopt, nullptr},
        {"app-intro", "What it does", std::nullopt, nullptr},
        {"write-demo", "Rewrite", A::writeText, "Control+Shift+R"},
        {"edit-demo", "Edit", A::editText, "Control+Shift+E"},
        {"rewrite-demo", "Write Message", A::translateMessage, "Control+Shift+W"},
        {"flip-demo", "Flip Language", A::flipLanguage, "Control+Shift+F"},
        {"translate-demo", "Translate", A::captureAndTranslateActiveWindow, "Control+Shift+T"},
        {"dictation-demo", "Dictation", A::openDictationScratchpad, "Control+Shift+D"},
        {"ready", "Ready", std::nullopt, nullptr},
    };
    const auto& pages = OnboardingPage::all();
    ASSERT_EQ(pages.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].id);
        EXPECT_EQ(pages[i].id, rows[i].id);
        EXPECT_EQ(pages[i].sidebarTitle, rows[i].sidebarTitle);
        EXPECT_EQ(pages[i].expectedAction, rows[i].action);
        EXPECT_EQ(static_cast<std::size_t>(pages[i].illustration), i) << "one illustration per page, in order";
        EXPECT_FALSE(pages[i].title.isEmpty());
        if (rows[i].shortcutInSubtitle) {
            EXPECT_TRUE(pages[i].subtitle.startsWith(QStringLiteral("Try ") + rows[i].shortcutInSubtitle));
        }
    }
    for (const auto& page : pages) {
        EXPECT_NE(page.expectedAction, A::createPrompt);
    }
}

TEST(OnboardingPageTest, NoPageNamesAnotherDesktop) {
    for (const auto& page : OnboardingPage::all()) {
        EXPECT_FALSE(page.title.contains(QStringLiteral("macOS"))) << page.id.toStdString();
        EXPECT_FALSE(page.subtitle.contains(QStringLiteral("macOS"))) << page.id.toStdString();
    }
    EXPECT_EQ(OnboardingPage::all().back().title, "Finish your desktop setup once.");
}

TEST(OnboardingPageTest, FirstRunPagesKeepTheTutorialOrderAndIdsAreUnique) {
    const auto& first = OnboardingPage::shortList();
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0], OnboardingPage::all().front());
    EXPECT_EQ(first[1], OnboardingPage::all().back());
    EXPECT_EQ(&OnboardingPage::shortList(), &first) << "built once";

    QSet<QString> ids;
    for (const auto& page : OnboardingPage::all()) {
        ids.insert(page.id);
    }
    EXPECT_EQ(ids.size(), 9);
}

}  // namespace
}  // namespace tavrolin
