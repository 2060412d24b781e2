#pragma once

#include "core/hot_key_action.h"

#include <QString>

#include <optional>
#include <vector>

namespace tavrolin {

// Which content a page of the onboarding window shows.
enum class OnboardingIllustration {
    languageSetup,
    appIntro,
    writeDemo,
    editDemo,
    rewriteDemo,
    flipDemo,
    translateDemo,
    dictationDemo,
    ready,
};

// One page of the onboarding window. Page ids and action names do not pair up by word: the
// page "write-demo" (sidebar "Rewrite") practises writeText (Control+Shift+R) and the page
// "rewrite-demo" (sidebar "Write Message") practises translateMessage (Control+Shift+W).
struct OnboardingPage {
    // Unique within a list; also what the view model records as a completed exercise.
    QString id;
    QString sidebarTitle;
    QString title;
    // Names the default shortcuts as fixed text, whatever the user configured.
    QString subtitle;
    OnboardingIllustration illustration = OnboardingIllustration::languageSetup;
    // The shortcut action the page listens for; absent on pages without an exercise.
    std::optional<HotKeyAction> expectedAction;

    bool operator==(const OnboardingPage&) const = default;

    // The full tutorial: nine pages, from the language setup to the ready page.
    static const std::vector<OnboardingPage>& all();
    // The first-run pages: those of all() with the ids "language-setup" and "ready", in the
    // order of all(). Built once and kept.
    static const std::vector<OnboardingPage>& shortList();
};

// One message of a practice chat. The translation of a conversation is mapped back to its
// messages by id.
struct OnboardingChatMessage {
    QString id;
    QString text;
    // True for a message from the other party, false for the user's own.
    bool incoming = false;

    bool operator==(const OnboardingChatMessage&) const = default;
};

}  // namespace tavrolin
