// The dictation scratchpad's entries: the Dictation Scratchpad command and the copy window that
// the focused-field workflows fall back to.
#include "core/app_language.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/dictation_scratchpad_window_controller.h"
#include "platform/clipboard.h"
#include "platform/clock.h"
#include "platform/front_window_activation.h"
#include "shell/app_delegate.h"

namespace tavrolin {

DictationScratchpadWindowController* AppDelegate::ensureDictationScratchpadWindowController() {
    if (!dictationScratchpadWindowController_ && factories().makeSpeechRecognitionService &&
        factories().makeDictationPermissionManager) {
        DictationScratchpadViewModel::Dependencies d;
        d.settingsStore = &settingsStore();
        d.textImproveClient = services_->textImproveClient();
        d.textPromptClient = services_->textPromptClient();
        d.makeSpeechService = factories().makeSpeechRecognitionService;
        d.permissionManager = factories().makeDictationPermissionManager();
        d.clipboard = factories().makeClipboard ? factories().makeClipboard() : nullptr;
        d.scheduler = factories().scheduler ? factories().scheduler : std::make_shared<QtScheduler>();
        dictationScratchpadWindowController_ = std::make_unique<DictationScratchpadWindowController>(
            std::move(d), services_->onlineFeaturePolicy(), frontWindowActivation());
    }
    return dictationScratchpadWindowController_.get();
}

void AppDelegate::presentDictationScratchpad() {
    DictationScratchpadWindowController* controller = ensureDictationScratchpadWindowController();
    if (!controller) {
        return;
    }
    const AppSettings settings = settingsStore().settings();
    controller->present(settings.dictationLanguage.value_or(settings.targetLanguage),
                        AppLanguages::filteredCases(AppLanguages::targetCases(), settings.onlineFeaturesEnabled));
}

void AppDelegate::presentDictationScratchpadCopyOnly(const QString& text, bool leaveKeyboard,
                                                     const std::optional<QString>& reason) {
    if (DictationScratchpadWindowController* controller = ensureDictationScratchpadWindowController()) {
        using Keyboard = DictationScratchpadWindowController::Keyboard;
        controller->presentCopyOnly(text, leaveKeyboard ? Keyboard::leave : Keyboard::take, reason);
    }
}

}  // namespace tavrolin
