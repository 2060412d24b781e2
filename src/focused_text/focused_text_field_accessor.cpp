#include "focused_text/focused_text_field_accessor.h"

#include "core/capture_workflow_error.h"
#include "focused_text/clipboard_selection_text.h"
#include "platform/scheduler_sleep.h"

#include <cmath>

namespace tavrolin {

namespace {

using Case = CaptureWorkflowError::Case;

bool isEmpty(const std::optional<QString>& text) { return !text || text->isEmpty(); }

bool isTextRole(const std::optional<AccessibleRole>& role) {
    return role == AccessibleRole::textField || role == AccessibleRole::textArea ||
           role == AccessibleRole::comboBox || role == AccessibleRole::searchField;
}

std::chrono::milliseconds secondsToDuration(double seconds) {
    if (!(seconds > 0)) {
        return std::chrono::milliseconds(0);
    }
    return std::chrono::milliseconds(std::llround(std::min(seconds, 3600.0) * 1000.0));
}

}  // namespace

const QSet<QString>& FocusedTextFieldAccessor::knownWebContentApplicationIdentifiers() {
    static const QSet<QString> applications = {
        "firefox",          "Firefox",           "firefox-esr",        "firefoxdeveloperedition",
        "firefox-aurora",   "zen",               "Google-chrome",      "Google-chrome-beta",
        "Google-chrome-unstable", "Chromium",    "chromium",           "Brave-browser",
        "Brave-browser-beta", "Microsoft-edge",  "Microsoft-edge-beta", "Microsoft-edge-dev",
    };
    return applications;
}

FocusedTextFieldAccessor::FocusedTextFieldAccessor(Platform platform, double clipboardRestoreDelay)
    : platform_(platform),
      fallbacks_(platform.clipboard, platform.input, platform.scheduler, secondsToDuration(clipboardRestoreDelay)) {}

FocusedTextFieldAccessing::ClipboardFallbackCallback FocusedTextFieldAccessor::onWillUseClipboardFallback() const {
    return fallbacks_.onWillUseClipboardFallback();
}

void FocusedTextFieldAccessor::setOnWillUseClipboardFallback(ClipboardFallbackCallback callback) {
    fallbacks_.setOnWillUseClipboardFallback(std::move(callback));
}

void FocusedTextFieldAccessor::requireTrust() {
    if (!platform_.accessibility.isTrusted()) {
        throw CaptureWorkflowError(Case::accessibilityPermissionDenied);
    }
}

std::optional<TextRange> FocusedTextFieldAccessor::readSelectedRange(const AccessibleElementHandle& element,
                                                                     const std::optional<QString>& value) {
    const std::optional<AccessibleTextRange> range = platform_.accessibility.selectedRange(element);
    if (!range) {
        return std::nullopt;
    }
    const TextRange result{range->location, range->length};
    // Another process reported it: a range outside the text is no range at all.
    if (!isValidRange(result, value ? value->size() : std::numeric_limits<qsizetype>::max())) {
        return std::nullopt;
    }
    return result;
}

std::optional<QRectF> FocusedTextFieldAccessor::readScreenFrame(const AccessibleElementHandle& element) {
    const std::optional<QRectF> frame = platform_.accessibility.frame(element);
    if (!frame || !(frame->width() > 1.0) || !(frame->height() > 1.0)) {
        return std::nullopt;
    }
    return frame;
}

bool FocusedTextFieldAccessor::shouldProbeClipboardForStructuredSelection(const std::optional<FrontApplication>& front,
                                                                          const AccessibleElementHandle& element) {
    if (platform_.accessibility.isChromiumControl(element)) {
        return true;
    }
    return front && front->applicationIdentifier &&
           knownWebContentApplicationIdentifiers().contains(*front->applicationIdentifier);
}

AccessibleElementHandle FocusedTextFieldAccessor::resolveFocusedElement(const std::optional<FrontApplication>& front) {
    if (AccessibleElementHandle element = platform_.accessibility.systemFocusedElement()) {
        return element;
    }
    if (front) {
        return platform_.accessibility.focusedElementOfApplication(front->processId);
    }
    return nullptr;
}

QCoro::Task<AccessibleElementHandle> FocusedTextFieldAccessor::resolveFocusedElementAsync(
    std::optional<FrontApplication> front) {
    if (AccessibleElementHandle element = resolveFocusedElement(front)) {
        co_return element;
    }
    if (!front) {
        co_return AccessibleElementHandle{};
    }
    // Applications that build their accessibility tree only on request get a little time.
    platform_.accessibility.requestAccessibilityTree(front->processId);
    for (int poll = 0; poll < focusPollCount; ++poll) {
        co_await sleepFor(platform_.scheduler, focusPollInterval);
        if (AccessibleElementHandle element = platform_.accessibility.focusedElementOfApplication(front->processId)) {
            co_return element;
        }
    }
    co_return platform_.accessibility.focusedElementOfActiveWindow(front->processId);
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::readFocusedField() {
    requireTrust();
    const std::optional<FrontApplication> front = platform_.frontApplications.frontApplication();
    const AccessibleElementHandle element = co_await resolveFocusedElementAsync(front);
    if (!element) {
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    Accessibility& ax = platform_.accessibility;
    const std::optional<AccessibleRole> role = ax.role(element);
    const std::optional<QString> value = ax.value(element);
    const std::optional<QString> selected = ax.selectedText(element);
    const std::optional<TextRange> range = readSelectedRange(element, value);
    const std::optional<QRectF> frame = readScreenFrame(element);

    if (!isEmpty(value) || !isEmpty(selected)) {
        co_return FocusedTextFieldSnapshot{element, value.value_or(QString()), selected, range, frame};
    }
    // Nothing readable through accessibility: the field may still hold text that only a copy
    // reaches (custom editors, terminals).
    const std::optional<QString> copied = co_await fallbacks_.readTextViaClipboard(front);
    if (copied && !copied->isEmpty()) {
        co_return FocusedTextFieldSnapshot{element, *copied, *copied, TextRange{0, copied->size()}, frame};
    }
    if (!value && !selected) {
        throw CaptureWorkflowError(Case::noFocusedTextField);
    }
    throw CaptureWorkflowError(isTextRole(role) ? Case::focusedTextFieldEmpty : Case::noFocusedTextField);
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::readFocusedSelection(bool notifyClipboardFallback) {
    requireTrust();
    const std::optional<FrontApplication> front = platform_.frontApplications.frontApplication();
    const AccessibleElementHandle element = co_await resolveFocusedElementAsync(front);
    if (!element) {
        const std::optional<QString> copied = co_await fallbacks_.readSelectedTextViaClipboard(notifyClipboardFallback);
        if (!copied) {
            throw CaptureWorkflowError(Case::noFocusedTextField);
        }
        co_return FocusedTextFieldSnapshot{nullptr, QString(), copied, TextRange{0, copied->size()}, std::nullopt};
    }
    Accessibility& ax = platform_.accessibility;
    const std::optional<QString> value = ax.value(element);
    const std::optional<TextRange> range = readSelectedRange(element, value);
    std::optional<QString> selected = ax.selectedText(element);
    if (isEmpty(selected) && range && !isEmpty(value) && isValidRange(*range, value->size(), 1)) {
        selected = value->mid(range->location, range->length);
    }
    const std::optional<QRectF> frame = readScreenFrame(element);
    if (!isEmpty(selected) && !shouldProbeClipboardForStructuredSelection(front, element)) {
        co_return FocusedTextFieldSnapshot{element, value.value_or(QString()), selected, range, frame};
    }
    // Nothing selected as far as accessibility knows, or a browser that flattens paragraphs:
    // ask the clipboard too and keep the text with more of its structure.
    const std::optional<QString> copied = co_await fallbacks_.readSelectedTextViaClipboard(notifyClipboardFallback);
    if (copied) {
        if (isEmpty(selected) || selectionStructureScore(*copied) > selectionStructureScore(*selected)) {
            selected = copied;
        }
    }
    co_return FocusedTextFieldSnapshot{element, value.value_or(QString()), selected, range, frame};
}

bool FocusedTextFieldAccessor::writeValue(const QString& text, const AccessibleElementHandle& element) {
    Accessibility& ax = platform_.accessibility;
    if (!ax.isValueSettable(element) || !ax.setValue(element, text)) {
        return false;
    }
    ax.setSelectedRange(element, AccessibleTextRange{text.size(), 0});
    return true;
}

QCoro::Task<void> FocusedTextFieldAccessor::replaceFocusedFieldText(QString newText, FocusedTextFieldSnapshot snapshot) {
    if (!snapshot.element) {
        throw CaptureWorkflowError(Case::failedToReplaceFocusedTextFieldText);
    }
    const bool hasSelection = !isEmpty(snapshot.selectedText);
    Accessibility& ax = platform_.accessibility;
    if (ax.isChromiumControl(snapshot.element)) {
        // Accessibility writes into Chromium's text boxes do not reach the page reliably.
        co_await fallbacks_.pasteFallback(newText, !hasSelection);
    } else if (hasSelection) {
        if (!ax.setSelectedText(snapshot.element, newText)) {
            co_await fallbacks_.pasteFallback(newText, false);
        }
    } else if (!writeValue(newText, snapshot.element)) {
        co_await fallbacks_.pasteFallback(newText, true);
    }
    fallbacks_.forgetCutText();
}

QCoro::Task<FocusedTextFieldSnapshot> FocusedTextFieldAccessor::prepareFocusedFieldWithRetry(int retryCount,
                                                                                            double retryDelay) {
    return readFocusedFieldWithRetry([this] { return readFocusedField(); }, retryCount, retryDelay,
                                     platform_.scheduler);
}

QCoro::Task<void> FocusedTextFieldAccessor::restoreCutTextIfUnreplaced() {
    if (!fallbacks_.unreplacedCutText()) {
        co_return;
    }
    co_await fallbacks_.restoreCutText(platform_.frontApplications.frontApplication());
}

}  // namespace tavrolin
