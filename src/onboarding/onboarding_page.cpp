#include "onboarding/onboarding_page.h"

#include "core/linux_wording.h"

namespace tavrolin {

namespace {

std::vector<OnboardingPage> makeAllPages() {
    using I = OnboardingIllustration;
    using A = HotKeyAction;
    return {
        {QStringLiteral("language-setup"), QStringLiteral("Languages"), QStringLiteral("Choose your languages."),
         QStringLiteral("Pick the language you think in, then the second language you use for messages and replies."),
         I::languageSetup, std::nullopt},
        {QStringLiteral("app-intro"), QStringLiteral("What it does"),
         QStringLiteral("Read, write, fix, translate, and dictate from any app."),
         QStringLiteral("Tavrolin uses one shortcut pattern. Hold Control+Shift, then press the letter for the action "
                        "you want."),
         I::appIntro, std::nullopt},
        {QStringLiteral("write-demo"), QStringLiteral("Rewrite"),
         QStringLiteral("Turn a rough thought into a workplace reply."),
         QStringLiteral("Try Control+Shift+R on the draft below. The demo keeps the context and rewrites the answer in "
                        "your second language."),
         I::writeDemo, A::writeText},
        {QStringLiteral("edit-demo"), QStringLiteral("Edit"),
         QStringLiteral("Fix mistakes without changing the meaning."),
         QStringLiteral(
             "Try Control+Shift+E. This is for grammar, typos, and small wording cleanup when the message is "
             "already in the right language."),
         I::editDemo, A::editText},
        {QStringLiteral("rewrite-demo"), QStringLiteral("Write Message"),
         QStringLiteral("Translate your draft to your second language."),
         QStringLiteral("Try Control+Shift+W. Write naturally in your native language, then send a clear version in "
                        "your second language."),
         I::rewriteDemo, A::translateMessage},
        {QStringLiteral("flip-demo"), QStringLiteral("Flip Language"),
         QStringLiteral("Switch text between your languages."),
         QStringLiteral("Try Control+Shift+F. Tavrolin detects the source language and flips it between native and "
                        "second language."),
         I::flipDemo, A::flipLanguage},
        {QStringLiteral("translate-demo"), QStringLiteral("Translate"),
         QStringLiteral("Translate the visible conversation."),
         QStringLiteral(
             "Try Control+Shift+T. In the real app this translates the active window in an overlay using your "
             "language."),
         I::translateDemo, A::captureAndTranslateActiveWindow},
        {QStringLiteral("dictation-demo"), QStringLiteral("Dictation"),
         QStringLiteral("Speak naturally, edit, and copy."),
         QStringLiteral("Try Control+Shift+D. Opens a scratchpad where you can dictate text, improve it with AI, and "
                        "copy to any app."),
         I::dictationDemo, A::openDictationScratchpad},
        {QStringLiteral("ready"), QStringLiteral("Ready"), linuxWording(u"Finish macOS setup once."),
         QStringLiteral("Enable the permissions Tavrolin needs to read selected text, translate visible app windows, "
                        "and use the microphone for dictation."),
         I::ready, std::nullopt},
    };
}

}  // namespace

const std::vector<OnboardingPage>& OnboardingPage::all() {
    static const std::vector<OnboardingPage> pages = makeAllPages();
    return pages;
}

const std::vector<OnboardingPage>& OnboardingPage::shortList() {
    static const std::vector<OnboardingPage> pages = [] {
        std::vector<OnboardingPage> chosen;
        for (const OnboardingPage& page : all()) {
            if (page.id == QLatin1String("language-setup") || page.id == QLatin1String("ready")) {
                chosen.push_back(page);
            }
        }
        return chosen;
    }();
    return pages;
}

}  // namespace tavrolin
