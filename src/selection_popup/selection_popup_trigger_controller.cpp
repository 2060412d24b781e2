#include "selection_popup/selection_popup_trigger_controller.h"

#include "core/app_log.h"
#include "core/app_settings_providing.h"
#include "core/text_units.h"
#include "core/user_preferred_languages_providing.h"
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
    AccessibilityCalls& accessibility, FrontApplicationProviding& frontApplications,
    std::shared_ptr<GlobalInputMonitoring> monitoring, OverlayWindowMarking markAsOverlayWindow,
    std::shared_ptr<const LanguageRecognizer> recognizer, std::shared_ptr<void> keepAlive) {
    FloatingWindowEnvironment windows =
        FloatingWindowEnvironment::system(std::move(monitoring), std::move(markAsOverlayWindow));
    Dependencies d{accessibility, frontApplications, windows.monitoring, windows};
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
    Dependencies dependencies, std::function<void()> onTranslate, std::function<void()> onFlip,
    std::function<void()> onEdit)
    : settingsStore_(settingsStore),
      preferredLanguages_(std::move(preferredLanguages)),
      dependencies_(std::move(dependencies)),
      floatingButton_(dependencies_.windows, std::move(onTranslate), std::move(onFlip), std::move(onEdit)),
      firstUseHintController_(SelectionFirstUseHintStateStore(hintDefaults), dependencies_.windows) {
    // Every dismissal of the row, including the one that begins each new showing, closes the card.
    const auto alive = lifetime_.weak();
    floatingButton_.setOnDismiss([this, alive] {
        if (alive) {
            firstUseHintController_.dismiss();
        }
    });
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
        clicks_.press(
            event.detail, event.position, event.time,
            dependencies_.doubleClickInterval ? dependencies_.doubleClickInterval() : std::chrono::milliseconds(400));
        break;
    case Kind::buttonRelease:
        if (event.detail == 1) {
            handleSelectionEvent(clicks_.countFor(1));
        }
        break;
    case Kind::keyRelease:
        if (!event.isModifierKey && event.shiftOrControlHeld) {
            handleSelectionEvent(1);
        }
        break;
    case Kind::keyPress:
        break;
    }
}

void DesktopSelectionPopupTriggerController::handleSelectionEvent(int clickCount) {
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
    probeTask_ = dependencies_.windows.scheduler->scheduleAfter(isMultiClick ? multiClickSettleDelay : settleDelay,
                                                                [this, alive, generation, isMultiClick] {
                                                                    if (alive) {
                                                                        probeSelection(generation, isMultiClick);
                                                                    }
                                                                });
}

// Every read goes through the accessibility thread; one that gets no answer in time counts as
// nothing read. After each wait the controller may be gone or a newer selection may have come.
QCoro::Task<void> DesktopSelectionPopupTriggerController::probeSelection(std::uint64_t generation, bool isMultiClick) {
    if (generation != selectionGeneration_) {
        co_return;
    }
    const auto alive = lifetime_.weak();
    std::optional<FrontApplication> front = dependencies_.frontApplications.frontApplication();
    const qint64 frontPid = front ? front->processId : 0;
    const auto query = [frontPid](Accessibility& accessibility) {
        return readFocusedSelection(accessibility, frontPid);
    };
    FocusedSelection read = co_await ask(dependencies_.accessibility, query, FocusedSelection{});
    if (!alive || generation != selectionGeneration_ || !read.trusted) {
        co_return;
    }
    if (!read.element && frontPid > 0 && treesRequested_.insert(frontPid).second) {
        // Chromium and Electron programs publish their tree only once asked: ask, once per
        // program, and read again when it has had time to appear.
        AccessibilityCalls::Work request = [frontPid](Accessibility& ax) { ax.requestAccessibilityTree(frontPid); };
        co_await dependencies_.accessibility.run(std::move(request), AccessibilityCalls::callBound);
        if (!alive || generation != selectionGeneration_) {
            co_return;
        }
        co_await sleepFor(*dependencies_.windows.scheduler, treeBuildDelay);
        if (!alive || generation != selectionGeneration_) {
            co_return;
        }
        read = co_await ask(dependencies_.accessibility, query, FocusedSelection{});
        if (!alive || generation != selectionGeneration_ || !read.trusted) {
            co_return;
        }
        front = dependencies_.frontApplications.frontApplication();
    }
    if (!front || !read.element || read.secure) {
        floatingButton_.dismiss();
        co_return;
    }
    const bool nothingReported = !read.text || read.text->isEmpty() || isPlaceholderOnlySelection(*read.text);
    if (!read.editable && nothingReported && dependencies_.primarySelection) {
        // A document whose selection lies in its paragraphs (a browser page) reports none or a
        // placeholder: the front application's current PRIMARY selection is that text.
        const std::optional<PrimarySelectionRead> primary =
            co_await dependencies_.primarySelection->readPrimarySelection();
        if (!alive || generation != selectionGeneration_) {
            co_return;
        }
        std::optional<QString> text = primary ? currentSelectionText(*primary, front) : std::nullopt;
        if (text) {
            // The buttons go by the pointer: the document's frame is the whole page.
            co_await finishProbe(generation, AccessibleElementHandle{}, false, std::move(text));
            co_return;
        }
    }
    if ((read.text && !read.text->isEmpty()) || !isMultiClick) {
        co_await finishProbe(generation, read.element, read.editable, read.text);
        co_return;
    }
    // A double click's selection may reach the accessibility tree late: look again a few times.
    floatingButton_.dismiss();
    retryRead(generation, read.element, read.editable, 0);
}

DesktopSelectionPopupTriggerController::FocusedSelection DesktopSelectionPopupTriggerController::readFocusedSelection(
    Accessibility& accessibility, qint64 frontPid) {
    FocusedSelection read;
    read.trusted = accessibility.isTrusted();
    if (!read.trusted) {
        return read;
    }
    read.element = accessibility.systemFocusedElement();
    if (!read.element && frontPid > 0) {
        // A program whose tree appeared after its focus moved sends no focus event for it.
        read.element = accessibility.focusedElementOfApplication(frontPid);
    }
    if (!read.element) {
        return read;
    }
    read.secure = isSecureTextField(accessibility, read.element);
    if (read.secure) {
        return read;
    }
    read.editable = isEditableElement(accessibility, read.element);
    read.text = readSelectedText(accessibility, read.element);
    return read;
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

void DesktopSelectionPopupTriggerController::retryRead(std::uint64_t generation, AccessibleElementHandle element,
                                                       bool editable, std::size_t attempt) {
    const auto alive = lifetime_.weak();
    probeTask_ = dependencies_.windows.scheduler->scheduleAfter(
        retryDelays[attempt], [this, alive, generation, element, editable, attempt] {
            if (alive && generation == selectionGeneration_) {
                retryReadNow(generation, element, editable, attempt);
            }
        });
}

QCoro::Task<void> DesktopSelectionPopupTriggerController::retryReadNow(std::uint64_t generation,
                                                                       AccessibleElementHandle element, bool editable,
                                                                       std::size_t attempt) {
    const auto alive = lifetime_.weak();
    const auto query = [element](Accessibility& accessibility) { return readSelectedText(accessibility, element); };
    std::optional<QString> text = co_await ask(dependencies_.accessibility, query, std::optional<QString>{});
    if (!alive || generation != selectionGeneration_) {
        co_return;
    }
    if ((text && !text->isEmpty()) || attempt + 1 >= std::size(retryDelays)) {
        co_await finishProbe(generation, element, editable, std::move(text));
        co_return;
    }
    retryRead(generation, element, editable, attempt + 1);
}

QCoro::Task<void> DesktopSelectionPopupTriggerController::finishProbe(std::uint64_t generation,
                                                                      AccessibleElementHandle element, bool editable,
                                                                      std::optional<QString> text) {
    if (generation != selectionGeneration_) {
        co_return;
    }
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
    if (element) {
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
