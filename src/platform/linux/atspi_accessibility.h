#pragma once

#include "platform/accessibility.h"
#include "platform/linux/dbus_accessibility_bus_status.h"
#include "platform/linux/x11_front_window_content.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

typedef struct _AtspiAccessible AtspiAccessible;

namespace tavrolin {

// Accessibility through AT-SPI 2 (libatspi). AT-SPI is set up on the thread that creates the
// first object, with that thread's GLib main context (its thread default, else the global
// default): every call must come from that thread, and that thread must run the context, for
// focus events arrive there. The application uses it only through AccessibilityThread.
// Every call into another application is a synchronous D-Bus call bounded by `callTimeoutMs`;
// a failed or timed-out call counts as an absent attribute, and an application that let a
// query run past the bound is not asked again for `unresponsiveQuarantine`. Offsets from
// AT-SPI are characters (code points) and are converted to and from UTF-16 units here.
class AtspiAccessibility final : public Accessibility {
public:
    static constexpr std::chrono::milliseconds unresponsiveQuarantine{3000};
    // A search for the focused object below an application gives up after this long.
    static constexpr std::chrono::milliseconds focusSearchBudget{300};
    // How long a bus found unreachable is left before it is asked again.
    static constexpr std::chrono::milliseconds trustConfirmPause{300};

    explicit AtspiAccessibility(DBusAccessibilityBusStatus& busStatus, int callTimeoutMs = 500);
    // Keeps the bus status alive as long as itself.
    explicit AtspiAccessibility(std::shared_ptr<DBusAccessibilityBusStatus> busStatus, int callTimeoutMs = 500);
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    // Where the front window's content lies, for a toolkit that gives positions relative to its
    // window (GTK 4): its elements' rectangles are placed by it, and are absent while it is unset
    // or tells nothing. Called on the thread that makes the calls.
    using FrontWindowContentReader = std::function<std::optional<x11::FrontWindowContent>()>;
    void setFrontWindowContentReader(FrontWindowContentReader reader);

    bool isTrusted() override;
    AccessibleElementHandle systemFocusedElement() override;
    std::optional<qint64> processIdOf(const AccessibleElementHandle& element) override;
    AccessibleElementHandle focusedElementOfApplication(qint64 pid) override;
    AccessibleElementHandle focusedElementOfActiveWindow(qint64 pid) override;
    void requestAccessibilityTree(qint64 pid) override;

    std::optional<AccessibleRole> role(const AccessibleElementHandle& element) override;
    std::optional<QString> value(const AccessibleElementHandle& element) override;
    std::optional<AccessibleRichText> richText(const AccessibleElementHandle& element) override;
    std::optional<AccessibleRichText> richTextMeasuringLonger(const AccessibleElementHandle& element,
                                                              int scale) override;
    std::optional<QString> selectedText(const AccessibleElementHandle& element) override;
    std::optional<AccessibleTextRange> selectedRange(const AccessibleElementHandle& element) override;
    std::optional<QRectF> frame(const AccessibleElementHandle& element) override;
    std::optional<QRectF> boundsForRange(const AccessibleElementHandle& element, AccessibleTextRange range) override;
    bool isChromiumControl(const AccessibleElementHandle& element) override;
    std::optional<QString> toolkitName(const AccessibleElementHandle& element) override;
    bool isEditable(const AccessibleElementHandle& element) override;
    bool isPartOfLargerText(const AccessibleElementHandle& element) override;
    bool isSpreadsheetCellEditor(const AccessibleElementHandle& element) override;
    AccessibleElementHandle spreadsheetCursorCell(const AccessibleElementHandle& element) override;
    bool isSpreadsheet(const AccessibleElementHandle& element) override;
    bool reportsBackwardSelectionAsCaret(const AccessibleElementHandle& element) override;
    bool isValueSettable(const AccessibleElementHandle& element) override;
    bool setValue(const AccessibleElementHandle& element, const QString& text) override;
    bool setSelectedText(const AccessibleElementHandle& element, const QString& text) override;
    bool setSelectedRange(const AccessibleElementHandle& element, AccessibleTextRange range) override;
    bool setSelectedRangeInEmbedded(const AccessibleElementHandle& element, const std::vector<qsizetype>& path,
                                    AccessibleTextRange range) override;
    bool isSameElement(const AccessibleElementHandle& a, const AccessibleElementHandle& b) override;

private:
    AtspiAccessible* announcedFocus(const std::string& app);
    AtspiAccessible* officePane(AtspiAccessible* focusedPane, const std::vector<AtspiAccessible*>& unfocused);
    AtspiAccessible* caretHolderIn(AtspiAccessible* pane, const std::vector<AtspiAccessible*>& candidates);
    static AtspiAccessible* deepestFocused(AtspiAccessible* focused);
    struct State;
    class Watch;
    // Runs `call` on the element's object under the watch of its application (defined beside the
    // queries, which alone use it).
    template <typename Call>
    auto onElement(const AccessibleElementHandle& element, Call call) -> decltype(call(nullptr));
    std::unique_ptr<State> d_;
};

}  // namespace tavrolin
