#include "selection_popup/selection_popup_trigger_controller.h"

#include "core/app_log.h"
#include "core/app_settings_providing.h"
#include "core/text_units.h"
#include "core/user_preferred_languages_providing.h"
#include "focused_text/accessible_field_read.h"
#include "language/focused_field_service_support.h"
#include "platform/front_application.h"
#include "platform/language_recognizer.h"
#include "platform/scheduler_sleep.h"
#include "window_translation/window_frame_converter.h"

#include <QGuiApplication>
#include <QStyleHints>

#include <cmath>

namespace tavrolin {

// ---- bounds

namespace SelectedTextBoundsReader {

std::optional<AccessibleTextRange> readSelectedRange(Accessibility& accessibility,
                                                     const AccessibleElementHandle& element) {
    return accessibility.selectedRange(element);
}

std::optional<QRectF> readBoundsForRange(Accessibility& accessibility, const AccessibleElementHandle& element,
                                         AccessibleTextRange range) {
    std::optional<QRectF> bounds = accessibility.boundsForRange(element, range);
    if (bounds && !(std::isfinite(bounds->x()) && std::isfinite(bounds->y()) && std::isfinite(bounds->width()) &&
                    std::isfinite(bounds->height()))) {
        return std::nullopt;
    }
    return bounds;
}

std::optional<QRectF> readScreenFrame(Accessibility& accessibility, const AccessibleElementHandle& element) {
    const std::optional<QRectF> frame = accessibility.frame(element);
    if (!frame || !std::isfinite(frame->x()) || !std::isfinite(frame->y()) || !(frame->width() > 1) ||
        !(frame->height() > 1) || !std::isfinite(frame->width()) || !std::isfinite(frame->height())) {
        return std::nullopt;
    }
    return frame;
}

}  // namespace SelectedTextBoundsReader

// ---- controller

DesktopSelectionPopupTriggerController::Dependencies DesktopSelectionPopupTriggerController::systemDependencies(
    AccessibilityCalls& accessibility, FrontApplicationProviding& frontApplications, FocusResolver& focus,
    std::shared_ptr<GlobalInputMonitoring> monitoring, OverlayWindowMarking markAsOverlayWindow,
    std::shared_ptr<const LanguageRecognizer> recognizer, std::shared_ptr<void> keepAlive) {
    FloatingWindowEnvironment windows =
        FloatingWindowEnvironment::system(std::move(monitoring), std::move(markAsOverlayWindow));
    Dependencies d{accessibility, frontApplications, focus, windows.monitoring, windows};
    d.ownProcessId = QCoreApplication::applicationPid();
    d.panelFrame = [](const QRectF& frame) {
        return WindowFrameConverter::appKitFrame(frame, WindowFrameConverter::currentDisplays());
    };
    d.doubleClickInterval = [] {
        return std::chrono::milliseconds(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    };
    d.detectLanguage = [recognizer = std::move(recognizer)](const QString& text, const std::set<AppLanguage>& boosted) {
        return detectServiceLanguage(text, boosted, recognizer.get());
    };
    d.keepAlive = std::move(keepAlive);
    return d;
}

DesktopSelectionPopupTriggerController::DesktopSelectionPopupTriggerController(
    const AppSettingsProviding& settingsStore,
    std::shared_ptr<const UserPreferredLanguagesProviding> preferredLanguages, DefaultsStore& hintDefaults,
    Dependencies dependencies, SelectionAction onTranslate, SelectionAction onFlip, SelectionAction onEdit)
    : settingsStore_(settingsStore),
      preferredLanguages_(std::move(preferredLanguages)),
      dependencies_(std::move(dependencies)),
      floatingButton_(dependencies_.windows, actOnShownSelection(std::move(onTranslate)),
                      actOnShownSelection(std::move(onFlip)), actOnShownSelection(std::move(onEdit))),
      firstUseHintController_(SelectionFirstUseHintStateStore(hintDefaults), dependencies_.windows) {
    // Every dismissal of the row, including the one that begins each new showing, closes the card.
    const auto alive = lifetime_.weak();
    floatingButton_.setOnDismiss([this, alive] {
        if (alive) {
            shownSelection_.reset();
            firstUseHintController_.dismiss();
        }
    });
    if (dependencies_.watchOwnKeys) {
        ownKeysWatch_ = dependencies_.watchOwnKeys([this, alive] {
            if (alive) {
                ownKeysSent();
            }
        });
    }
}

void DesktopSelectionPopupTriggerController::ownKeysSent() {
    // A probe still to come would read what our keys selected (a select-all, say), not what
    // the user did.
    ++selectionGeneration_;
    probeTask_.reset();
    if (!monitor_) {
        return;
    }
    // Each chord lets go of one key that is no modifier; its report is on its way.
    ++ownKeyReleasesDue_;
    const auto alive = lifetime_.weak();
    ownKeysDue_ = dependencies_.windows.scheduler->scheduleAfter(ownKeyArrivalBound, [this, alive] {
        if (alive) {
            ownKeyReleasesDue_ = 0;
        }
    });
}

std::function<void()> DesktopSelectionPopupTriggerController::actOnShownSelection(SelectionAction action) {
    const auto alive = lifetime_.weak();
    return [this, alive, action = std::move(action)] {
        // The row exists only while a selection is shown: the press belongs to that selection.
        if (alive && shownSelection_ && action) {
            action(*shownSelection_);
        }
    };
}

DesktopSelectionPopupTriggerController::~DesktopSelectionPopupTriggerController() {
    lifetime_.end();
    monitor_.reset();
    probeTask_.reset();
    floatingButton_.setOnDismiss(nullptr);
}

void DesktopSelectionPopupTriggerController::start() {
    if (monitor_) {
        return;
    }
    const auto alive = lifetime_.weak();
    if (dependencies_.monitoring) {
        monitor_ = dependencies_.monitoring->addRawInputMonitor([this, alive](const RawInputEvent& event) {
            if (alive) {
                handleRawInput(event);
            }
        });
    }
    if (!monitor_) {
        AppLog::app().error(QStringLiteral("SelectionPopupTrigger could not start: global event monitor unavailable"));
        return;
    }
    AppLog::app().info(QStringLiteral("SelectionPopupTrigger started"));
}

void DesktopSelectionPopupTriggerController::stop() {
    monitor_.reset();
    ownKeyReleasesDue_ = 0;
    ownKeysDue_.reset();
    shownSelection_.reset();
    ++selectionGeneration_;
    probeTask_.reset();
    floatingButton_.dismiss();
    firstUseHintController_.dismiss();
    AppLog::app().info(QStringLiteral("SelectionPopupTrigger stopped"));
}

void DesktopSelectionPopupTriggerController::handleRawInput(const RawInputEvent& event) {
    using Kind = RawInputEvent::Kind;
    // A click on one of our own windows (a floating button, say) is no new selection.
    if (event.overOwnWindow && (event.kind == Kind::buttonPress || event.kind == Kind::buttonRelease)) {
        return;
    }
    switch (event.kind) {
    case Kind::buttonPress:
        if (event.detail == 1) {
            pressPosition_ = event.position;
        }
        clicks_.press(
            event.detail, event.position, event.time,
            dependencies_.doubleClickInterval ? dependencies_.doubleClickInterval() : std::chrono::milliseconds(400));
        break;
    case Kind::buttonRelease:
        if (event.detail == 1) {
            handleSelectionEvent(clicks_.countFor(1),
                                 (event.position - pressPosition_).manhattanLength() > 2 * ClickCounter::slopPixels);
        }
        break;
    case Kind::keyRelease:
        if (event.isModifierKey) {
            break;
        }
        if (ownKeyReleasesDue_ > 0) {
            // The key of one of our chords (Control+A of a read, say): no selection of the user's.
            --ownKeyReleasesDue_;
            break;
        }
        if (event.shiftOrControlHeld) {
            handleSelectionEvent(1);
        }
        break;
    case Kind::keyPress:
        break;
    }
}

void DesktopSelectionPopupTriggerController::handleSelectionEvent(int clickCount, bool dragged) {
    // Process ids, not application identifiers: two windows without an identifier are not the
    // same application.
    const std::optional<FrontApplication> front = dependencies_.frontApplications.frontApplication();
    if (front && front->processId != 0 && front->processId == dependencies_.ownProcessId) {
        return;
    }
    const std::uint64_t generation = ++selectionGeneration_;
    probeTask_.reset();
    const bool isMultiClick = clickCount >= 2;
    const auto alive = lifetime_.weak();
    probeTask_ =
        dependencies_.windows.scheduler->scheduleAfter(isMultiClick ? multiClickSettleDelay : settleDelay,
                                                       [this, alive, generation, looksAgain = isMultiClick || dragged] {
                                                           if (alive) {
                                                               probeSelection(generation, looksAgain);
                                                           }
                                                       });
}

// Every read goes through the accessibility thread; one that gets no answer in time counts as
// nothing read. After each wait the controller may be gone or a newer selection may have come.
QCoro::Task<void> DesktopSelectionPopupTriggerController::probeSelection(std::uint64_t generation, bool looksAgain) {
    if (generation != selectionGeneration_) {
        co_return;
    }
    const auto alive = lifetime_.weak();
    AccessibilityCalls& calls = dependencies_.accessibility;
    FocusResolver& focus = dependencies_.focus;
    const auto trust = [](Accessibility& accessibility) { return accessibility.isTrusted(); };
    const bool trusted = co_await ask(calls, trust, false);
    if (!alive || generation != selectionGeneration_ || !trusted) {
        co_return;
    }
    // Only the program in front: the last focus event may name a field of one behind it.
    const std::optional<FrontApplication> front = focus.frontWindow();
    AccessibleElementHandle element = co_await focus.focusedElement(front);
    if (!alive || generation != selectionGeneration_) {
        co_return;
    }
    if (!element && front) {
        // Chromium and Electron programs publish their tree only once asked: ask, once per
        // program, and look again when it has had time to appear.
        const bool askedNow = co_await focus.requestTreeOnce(front->processId, AccessibilityCalls::callBound);
        if (!alive || generation != selectionGeneration_) {
            co_return;
        }
        if (askedNow) {
            co_await sleepFor(*dependencies_.windows.scheduler, treeBuildDelay);
            if (!alive || generation != selectionGeneration_) {
                co_return;
            }
            element = co_await focus.focusedElement(front);
            if (!alive || generation != selectionGeneration_) {
                co_return;
            }
        }
    }
    if (front && !element) {
        // No accessible focused element (a browser still building its tree on a busy machine,
        // xterm): the front program's PRIMARY selection is its selection, as for Translate.
        std::optional<FocusedTextFieldSnapshot> page = co_await pageSelection(front);
        if (!alive || generation != selectionGeneration_) {
            co_return;
        }
        if (page) {
            co_await finishProbe(generation, std::move(*page), false);
            co_return;
        }
    }
    if (!front || !element) {
        floatingButton_.dismiss();
        co_return;
    }
    const auto query = [element](Accessibility& accessibility) { return readElementSelection(accessibility, element); };
    const ElementSelection unanswered;
    const ElementSelection read = co_await ask(calls, query, unanswered, reportedFieldTextBound);
    if (!alive || generation != selectionGeneration_) {
        co_return;
    }
    if (read.secure) {
        floatingButton_.dismiss();
        co_return;
    }
    const bool nothingReported = nothingSelected(read);
    if (!read.editable && nothingReported) {
        std::optional<FocusedTextFieldSnapshot> page = co_await pageSelection(front);
        if (!alive || generation != selectionGeneration_) {
            co_return;
        }
        if (page) {
            co_await finishProbe(generation, std::move(*page), false);
            co_return;
        }
    }
    FocusedTextFieldSnapshot selection = snapshotOf(element, read, front);
    if (!nothingReported || !looksAgain) {
        co_await finishProbe(generation, std::move(selection), read.editable);
        co_return;
    }
    // A double click's or a drag's selection may reach the accessibility tree late: look again a
    // few times.
    floatingButton_.dismiss();
    retryRead(generation, std::move(selection), read.editable, 0);
}

bool DesktopSelectionPopupTriggerController::nothingSelected(const ElementSelection& read) {
    return !read.text || read.text->isEmpty() || isPlaceholderOnlySelection(*read.text);
}

QCoro::Task<std::optional<FocusedTextFieldSnapshot>> DesktopSelectionPopupTriggerController::pageSelection(
    std::optional<FrontApplication> front) {
    if (!dependencies_.primarySelection) {
        co_return std::nullopt;
    }
    // A document whose selection lies in its paragraphs (a browser page) reports none or a
    // placeholder: the front application's current PRIMARY selection is that text.
    const std::optional<PrimarySelectionRead> primary = co_await dependencies_.primarySelection->readPrimarySelection();
    const std::optional<QString> text = primary ? currentSelectionText(*primary, front) : std::nullopt;
    if (!text) {
        co_return std::nullopt;
    }
    // The buttons go by the pointer: the document's frame is the whole page.
    FocusedTextFieldSnapshot page;
    page.selectedText = text;
    page.selectedRange = TextRange{0, text->size()};
    page.sourceWindow = front;
    co_return page;
}

DesktopSelectionPopupTriggerController::ElementSelection DesktopSelectionPopupTriggerController::readElementSelection(
    Accessibility& accessibility, const AccessibleElementHandle& element) {
    ElementSelection read;
    read.secure = isSecureTextField(accessibility, element);
    if (read.secure) {
        return read;
    }
    read.editable = isEditableElement(accessibility, element);
    read.text = readSelectedText(accessibility, element);
    ReportedFieldText field = readReportedFieldText(accessibility, element, false);
    read.value = std::move(field.value);
    read.objects = std::move(field.objects);
    read.unpublishedObjects = std::move(field.unpublishedObjects);
    read.range = accessibility.selectedRange(element);
    read.frame = SelectedTextBoundsReader::readScreenFrame(accessibility, element);
    return read;
}

FocusedTextFieldSnapshot DesktopSelectionPopupTriggerController::snapshotOf(
    const AccessibleElementHandle& element, const ElementSelection& read,
    const std::optional<FrontApplication>& window) {
    // Made as the commands' own reads make theirs: the buttons hand it to them, and Flip and Edit
    // write back judging the field by it (only an editable element's selection is written).
    return snapshotFromAccessibleRead(
        element, ReportedFieldText{read.value, read.objects, read.text, read.range, read.unpublishedObjects},
        read.editable ? UnconfirmedSelection::dropped : UnconfirmedSelection::kept, read.frame, window);
}

std::optional<QRectF> DesktopSelectionPopupTriggerController::readAnchorRect(Accessibility& accessibility,
                                                                             const AccessibleElementHandle& element) {
    if (const std::optional<AccessibleTextRange> range =
            SelectedTextBoundsReader::readSelectedRange(accessibility, element)) {
        // The range comes from another process: only one inside the element's text is asked about.
        const std::optional<QString> value = accessibility.value(element);
        if (value && isValidRange(TextRange{range->location, range->length}, value->size(), 1)) {
            if (std::optional<QRectF> bounds =
                    SelectedTextBoundsReader::readBoundsForRange(accessibility, element, *range)) {
                return bounds;
            }
        }
    }
    return SelectedTextBoundsReader::readScreenFrame(accessibility, element);
}

void DesktopSelectionPopupTriggerController::retryRead(std::uint64_t generation, FocusedTextFieldSnapshot selection,
                                                       bool editable, std::size_t attempt) {
    const auto alive = lifetime_.weak();
    probeTask_ = dependencies_.windows.scheduler->scheduleAfter(
        retryDelays[attempt], [this, alive, generation, selection, editable, attempt] {
            if (alive && generation == selectionGeneration_) {
                retryReadNow(generation, selection, editable, attempt);
            }
        });
}

QCoro::Task<void> DesktopSelectionPopupTriggerController::retryReadNow(std::uint64_t generation,
                                                                       FocusedTextFieldSnapshot selection,
                                                                       bool editable, std::size_t attempt) {
    const auto alive = lifetime_.weak();
    const AccessibleElementHandle element = selection.element;
    const auto query = [element](Accessibility& accessibility) { return readElementSelection(accessibility, element); };
    const ElementSelection unanswered;
    const ElementSelection read = co_await ask(dependencies_.accessibility, query, unanswered, reportedFieldTextBound);
    if (!alive || generation != selectionGeneration_) {
        co_return;
    }
    if (!editable && nothingSelected(read)) {
        // A busy browser claims PRIMARY for the page's selection late, as its tree reports late.
        std::optional<FocusedTextFieldSnapshot> page = co_await pageSelection(selection.sourceWindow);
        if (!alive || generation != selectionGeneration_) {
            co_return;
        }
        if (page) {
            co_await finishProbe(generation, std::move(*page), false);
            co_return;
        }
    }
    FocusedTextFieldSnapshot now = snapshotOf(element, read, selection.sourceWindow);
    // A page showing no selection of its own waits for PRIMARY, whatever placeholder it reports.
    const bool pageWithoutSelection = !editable && nothingSelected(read);
    if (!pageWithoutSelection && read.text && !read.text->isEmpty()) {
        co_await finishProbe(generation, std::move(now), editable);
        co_return;
    }
    if (attempt + 1 < std::size(retryDelays)) {
        retryRead(generation, std::move(now), editable, attempt + 1);
        co_return;
    }
    if (pageWithoutSelection) {
        awaitLatePageSelection(generation, std::move(now), latePageSelectionLooks);
        co_return;
    }
    co_await finishProbe(generation, std::move(now), editable);
}

void DesktopSelectionPopupTriggerController::awaitLatePageSelection(std::uint64_t generation,
                                                                    FocusedTextFieldSnapshot selection, int looks) {
    const auto alive = lifetime_.weak();
    probeTask_ = dependencies_.windows.scheduler->scheduleAfter(
        latePageSelectionPoll, [this, alive, generation, selection, looks] {
            if (alive && generation == selectionGeneration_) {
                lookForLatePageSelection(generation, selection, looks);
            }
        });
}

QCoro::Task<void> DesktopSelectionPopupTriggerController::lookForLatePageSelection(std::uint64_t generation,
                                                                                   FocusedTextFieldSnapshot selection,
                                                                                   int looks) {
    const auto alive = lifetime_.weak();
    std::optional<FocusedTextFieldSnapshot> page = co_await pageSelection(selection.sourceWindow);
    if (!alive || generation != selectionGeneration_) {
        co_return;
    }
    if (page) {
        co_await finishProbe(generation, std::move(*page), false);
        co_return;
    }
    if (looks > 1) {
        awaitLatePageSelection(generation, std::move(selection), looks - 1);
        co_return;
    }
    co_await finishProbe(generation, std::move(selection), false);
}

QCoro::Task<void> DesktopSelectionPopupTriggerController::finishProbe(std::uint64_t generation,
                                                                      FocusedTextFieldSnapshot selection,
                                                                      bool editable) {
    if (generation != selectionGeneration_) {
        co_return;
    }
    const std::optional<QString>& text = selection.selectedText;
    if (!text || graphemeCount(text->trimmed()) < 2) {
        floatingButton_.dismiss();
        co_return;
    }
    const AppSettings settings = settingsStore_.settings();
    const std::set<AppLanguage> boosted =
        preferredLanguages_ ? preferredLanguages_->boostedLanguages() : std::set<AppLanguage>{};
    const std::optional<AppLanguage> detected =
        dependencies_.detectLanguage ? dependencies_.detectLanguage(*text, boosted) : std::nullopt;
    const bool translatable = detected && *detected != settings.targetLanguage;
    if (!editable && !translatable) {
        floatingButton_.dismiss();
        co_return;
    }
    const SelectionPopupMode mode{editable, translatable, editable && settings.onlineFeaturesEnabled};

    const auto alive = lifetime_.weak();
    std::optional<QRectF> rect;
    if (const AccessibleElementHandle element = selection.element) {
        const auto query = [element](Accessibility& accessibility) { return readAnchorRect(accessibility, element); };
        rect = co_await ask(dependencies_.accessibility, query, std::optional<QRectF>{});
        if (!alive || generation != selectionGeneration_) {
            co_return;
        }
    }
    std::optional<QRectF> anchor;
    if (rect && dependencies_.panelFrame) {
        anchor = dependencies_.panelFrame(*rect);
    }
    floatingButton_.show(anchor, mode);
    shownSelection_ = std::move(selection);
    if (QWidget* panel = floatingButton_.panel()) {
        firstUseHintController_.maybeShowHint(mode, editable, QRectF(panel->geometry()));
    }
}

std::optional<QString> DesktopSelectionPopupTriggerController::readSelectedText(
    Accessibility& accessibility, const AccessibleElementHandle& element) {
    std::optional<QString> selected = accessibility.selectedText(element);
    if (selected && !selected->isEmpty()) {
        return selected;
    }
    const std::optional<AccessibleTextRange> range = accessibility.selectedRange(element);
    if (range) {
        const std::optional<QString> value = accessibility.value(element);
        if (value && isValidRange(TextRange{range->location, range->length}, value->size(), 1)) {
            return value->mid(range->location, range->length);
        }
    }
    return selected;
}

bool DesktopSelectionPopupTriggerController::isSecureTextField(Accessibility& accessibility,
                                                               const AccessibleElementHandle& element) {
    return accessibility.role(element) == AccessibleRole::secureTextField;
}

bool DesktopSelectionPopupTriggerController::isEditableElement(Accessibility& accessibility,
                                                               const AccessibleElementHandle& element) {
    const std::optional<AccessibleRole> role = accessibility.role(element);
    if (!role) {
        return false;
    }
    switch (*role) {
    case AccessibleRole::staticText:
    case AccessibleRole::image:
    case AccessibleRole::button:
    case AccessibleRole::link:
    case AccessibleRole::secureTextField:
    case AccessibleRole::terminal:  // what is written there goes to the running program
        return false;
    case AccessibleRole::textField:
    case AccessibleRole::textArea:
    case AccessibleRole::comboBox:
    case AccessibleRole::searchField:
        return accessibility.isEditable(element);
    case AccessibleRole::other:
        break;
    }
    // Other kinds of element count only when their text can also be written.
    return accessibility.isEditable(element) && accessibility.isValueSettable(element);
}

}  // namespace tavrolin
