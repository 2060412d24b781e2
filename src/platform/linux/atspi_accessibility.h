#pragma once

#include "platform/accessibility.h"
#include "platform/accessibility_bus_status.h"

#include <memory>

namespace tavrolin {

// Accessibility through AT-SPI 2 (libatspi). Must live on the thread that runs the GLib main
// context (Qt's main thread on Linux): focus events arrive there. Every call into another
// application is a synchronous D-Bus call bounded by `callTimeoutMs`; a failed or timed-out
// call counts as an absent attribute. Offsets from AT-SPI are characters (code points) and
// are converted to and from UTF-16 units here.
class AtspiAccessibility final : public Accessibility {
public:
    explicit AtspiAccessibility(AccessibilityBusStatus& busStatus, int callTimeoutMs = 500);
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    bool isTrusted() override;
    AccessibleElementHandle systemFocusedElement() override;
    AccessibleElementHandle focusedElementOfApplication(qint64 pid) override;
    AccessibleElementHandle focusedElementOfActiveWindow(qint64 pid) override;
    void requestAccessibilityTree(qint64 pid) override;

    std::optional<AccessibleRole> role(const AccessibleElementHandle& element) override;
    std::optional<QString> value(const AccessibleElementHandle& element) override;
    std::optional<QString> selectedText(const AccessibleElementHandle& element) override;
    std::optional<AccessibleTextRange> selectedRange(const AccessibleElementHandle& element) override;
    std::optional<QRectF> frame(const AccessibleElementHandle& element) override;
    std::optional<QRectF> boundsForRange(const AccessibleElementHandle& element, AccessibleTextRange range) override;
    bool isChromiumControl(const AccessibleElementHandle& element) override;
    bool isEditable(const AccessibleElementHandle& element) override;
    bool isValueSettable(const AccessibleElementHandle& element) override;
    bool setValue(const AccessibleElementHandle& element, const QString& text) override;
    bool setSelectedText(const AccessibleElementHandle& element, const QString& text) override;
    bool setSelectedRange(const AccessibleElementHandle& element, AccessibleTextRange range) override;

private:
    struct State;
    std::unique_ptr<State> d_;
};

}  // namespace tavrolin
