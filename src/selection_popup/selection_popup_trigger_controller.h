#pragma once

#include "core/app_language.h"
#include "core/lifetime_token.h"
#include "focused_text/focus_resolver.h"
#include "language/focused_text_field_accessing.h"
#include "platform/accessibility.h"
#include "platform/accessibility_calls.h"
#include "platform/clock.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/primary_selection.h"
#include "selection_popup/selection_first_use_hint.h"
#include "selection_popup/selection_floating_button_panel.h"
#include "selection_popup/selection_popup_seams.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>

namespace tavrolin {

class AppSettingsProviding;
class DefaultsStore;
class FrontApplicationProviding;
class LanguageRecognizer;
class UserPreferredLanguagesProviding;

// Readers of the selection's place on screen. Every answer comes from another process and is
// checked before use.
namespace SelectedTextBoundsReader {
std::optional<AccessibleTextRange> readSelectedRange(Accessibility& accessibility,
                                                     const AccessibleElementHandle& element);
std::optional<QRectF> readBoundsForRange(Accessibility& accessibility, const AccessibleElementHandle& element,
                                         AccessibleTextRange range);
// The element's frame, only when wider and higher than 1.
std::optional<QRectF> readScreenFrame(Accessibility& accessibility, const AccessibleElementHandle& element);
}  // namespace SelectedTextBoundsReader

// Notices a fresh selection in another application (a left-button release, or the release of a
// key while Shift or Control is held), waits for it to settle, reads it through accessibility,
// decides which floating actions fit, and shows the button row and, once per kind of field, the
// first-use card. Only the selection of the program in front counts (found through the
// focused-text FocusResolver), and a button acts on the selection it was offered for: its
// callback gets what the probe read, the element and text, or the text alone when it came from
// the PRIMARY selection of the program in front.
class DesktopSelectionPopupTriggerController final : public SelectionPopupTriggerController {
public:
    static constexpr std::chrono::milliseconds settleDelay{250};
    static constexpr std::chrono::milliseconds multiClickSettleDelay{400};
    static constexpr std::chrono::milliseconds retryDelays[] = {
        std::chrono::milliseconds(100), std::chrono::milliseconds(150), std::chrono::milliseconds(250)};
    // A page's multi-click selection still not claimed after those looks: PRIMARY alone is looked
    // at this often, this many times more (a browser busy on a loaded machine claims it seconds
    // late).
    static constexpr std::chrono::milliseconds latePageSelectionPoll{250};
    static constexpr int latePageSelectionLooks = 8;
    // How long a program asked for its accessibility tree (Chromium) gets to publish it.
    static constexpr std::chrono::milliseconds treeBuildDelay{300};
    // How long after one of our chords went out its key may still be reported: until then a
    // key let go counts as that key.
    static constexpr std::chrono::milliseconds ownKeyArrivalBound{3000};

    // What a button does with the selection it was shown for.
    using SelectionAction = std::function<void(FocusedTextFieldSnapshot)>;

    struct Dependencies {
        // Shared with the focused-field readers (their accessibility thread and focus resolver);
        // all must outlive the controller.
        AccessibilityCalls& accessibility;
        FrontApplicationProviding& frontApplications;
        FocusResolver& focus;
        std::shared_ptr<GlobalInputMonitoring> monitoring;
        FloatingWindowEnvironment windows;
        qint64 ownProcessId = 0;
        // A frame from accessibility to the coordinates windows are placed in; none when it lies
        // on no display.
        std::function<std::optional<QRectF>(const QRectF&)> panelFrame;
        std::function<std::chrono::milliseconds()> doubleClickInterval;
        std::function<std::optional<AppLanguage>(const QString&, const std::set<AppLanguage>&)> detectLanguage;
        // The PRIMARY selection, for selected page text that the focused document does not
        // report itself; none: not read. Must outlive the controller.
        PrimarySelectionReading* primarySelection = nullptr;
        // Calls the given function right after each key chord this program sends, for as long as
        // the returned handle lives (the focused-field readers' input gate); none: no key is
        // known to be ours.
        std::function<std::shared_ptr<void>(std::function<void()>)> watchOwnKeys;
        // Anything kept alive for as long as the controller (the platform behind the references).
        std::shared_ptr<void> keepAlive;
    };

    // The screens' layout and Qt's double-click interval, over the given accessibility,
    // front-application lookup, focus resolver, input monitoring, window hints and language
    // recognizer (none: only the script of a selection tells its language).
    static Dependencies systemDependencies(AccessibilityCalls& accessibility,
                                           FrontApplicationProviding& frontApplications, FocusResolver& focus,
                                           std::shared_ptr<GlobalInputMonitoring> monitoring,
                                           OverlayWindowMarking markAsOverlayWindow,
                                           std::shared_ptr<const LanguageRecognizer> recognizer,
                                           std::shared_ptr<void> keepAlive);

    DesktopSelectionPopupTriggerController(const AppSettingsProviding& settingsStore,
                                           std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguages,
                                           DefaultsStore& hintDefaults, Dependencies dependencies,
                                           SelectionAction onTranslate, SelectionAction onFlip, SelectionAction onEdit);
    ~DesktopSelectionPopupTriggerController() override;

    void start() override;
    void stop() override;
    void setAutoDismissDelay(double seconds) override { floatingButton_.setAutoDismissDelay(seconds); }

    bool isStarted() const { return monitor_ != nullptr; }
    // A trigger event: `clickCount` 2 or more for a double or triple click; `dragged` for a
    // release away from its press (a selection dragged out).
    void handleSelectionEvent(int clickCount, bool dragged = false);
    // What the raw monitor hands over: presses count clicks, releases trigger.
    void handleRawInput(const RawInputEvent& event);

    SelectionFloatingButtonPanel& floatingButton() { return floatingButton_; }
    SelectionFirstUseHintController& firstUseHint() { return firstUseHintController_; }

    // What one probe reads of the focused element, in one go (so that it can run wherever the
    // accessibility queries run).
    struct ElementSelection {
        bool secure = false;
        bool editable = false;
        std::optional<QString> text;                    // the selected text
        std::optional<QString> value;                   // the element's whole text
        std::vector<AccessibleEmbeddedObject> objects;  // embedded in `value`
        std::vector<qsizetype> unpublishedObjects;      // pictures at no U+FFFC of `value`
        std::optional<AccessibleTextRange> range;
        std::optional<QRectF> frame;  // only when larger than 1 x 1
    };
    static ElementSelection readElementSelection(Accessibility& accessibility, const AccessibleElementHandle& element);
    // No text selected, or only an object's placeholder.
    static bool nothingSelected(const ElementSelection& read);
    // The rectangle to anchor the buttons to: the selected range's bounds when the range lies
    // inside the element's text, else the element's frame when larger than 1 x 1.
    static std::optional<QRectF> readAnchorRect(Accessibility& accessibility, const AccessibleElementHandle& element);
    // The selected text: the element's selected text, else the selected range of its value when
    // that range lies inside the value.
    static std::optional<QString> readSelectedText(Accessibility& accessibility,
                                                   const AccessibleElementHandle& element);
    static bool isSecureTextField(Accessibility& accessibility, const AccessibleElementHandle& element);
    static bool isEditableElement(Accessibility& accessibility, const AccessibleElementHandle& element);

private:
    // `looksAgain`: a selection gesture (a multi-click, a drag) whose selection may show late.
    QCoro::Task<void> probeSelection(std::uint64_t generation, bool looksAgain);
    // The selection of a page (a document that reports none of its own) from the front
    // program's PRIMARY selection; absent when that program holds none now.
    QCoro::Task<std::optional<FocusedTextFieldSnapshot>> pageSelection(std::optional<FrontApplication> front);
    void retryRead(std::uint64_t generation, FocusedTextFieldSnapshot selection, bool editable, std::size_t attempt);
    // Looks at PRIMARY alone for a page selection claimed late, `looks` times more at most.
    void awaitLatePageSelection(std::uint64_t generation, FocusedTextFieldSnapshot selection, int looks);
    QCoro::Task<void> lookForLatePageSelection(std::uint64_t generation, FocusedTextFieldSnapshot selection, int looks);
    QCoro::Task<void> retryReadNow(std::uint64_t generation, FocusedTextFieldSnapshot selection, bool editable,
                                   std::size_t attempt);
    // Shows the buttons for `selection` (its element null for a PRIMARY selection) when they fit.
    QCoro::Task<void> finishProbe(std::uint64_t generation, FocusedTextFieldSnapshot selection, bool editable);
    // One of our chords went out: the selection it changes is not the user's.
    void ownKeysSent();
    // The button callback for the panel: runs `action` on the selection the buttons are shown for.
    std::function<void()> actOnShownSelection(SelectionAction action);
    static FocusedTextFieldSnapshot snapshotOf(const AccessibleElementHandle& element, const ElementSelection& read,
                                               const std::optional<FrontApplication>& window);

    const AppSettingsProviding& settingsStore_;
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguages_;
    Dependencies dependencies_;
    // The selection the buttons on screen were shown for.
    std::optional<FocusedTextFieldSnapshot> shownSelection_;
    // Before the button row, whose callbacks hold it.
    LifetimeToken<DesktopSelectionPopupTriggerController> lifetime_{this};
    SelectionFloatingButtonPanel floatingButton_;
    SelectionFirstUseHintController firstUseHintController_;
    std::unique_ptr<GlobalMouseMonitor> monitor_;
    std::unique_ptr<ScheduledCall> probeTask_;
    std::uint64_t selectionGeneration_ = 0;
    ClickCounter clicks_;
    QPoint pressPosition_;
    // Releases of our chords' keys not reported yet, until ownKeyArrivalBound after the last.
    int ownKeyReleasesDue_ = 0;
    std::unique_ptr<ScheduledCall> ownKeysDue_;
    std::shared_ptr<void> ownKeysWatch_;
};

}  // namespace tavrolin
