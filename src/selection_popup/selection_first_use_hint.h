#pragma once

#include "core/lifetime_token.h"
#include "selection_popup/selection_floating_button_panel.h"
#include "selection_popup/selection_popup_mode.h"

#include <QPointer>
#include <QRectF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

class DefaultsStore;
class ScheduledCall;

// Remembers, per kind of field, whether the first-use card was shown.
class SelectionFirstUseHintStateStore {
public:
    enum class HintContext { nonEditable, editable };
    static QString rawValue(HintContext context);
    static std::optional<HintContext> fromRawValue(const QString& raw);
    // "selectionHint.<raw value>.shown.v1"
    static QString key(HintContext context);

    explicit SelectionFirstUseHintStateStore(DefaultsStore& defaults) : defaults_(defaults) {}
    bool hasShownHint(HintContext context) const;
    void markHintShown(HintContext context);

private:
    DefaultsStore& defaults_;
};

// What the card says.
struct SelectionFirstUseHintContent {
    struct HintAction {
        QString icon;  // resource path of the action's icon
        QString title;
        QString description;
        bool operator==(const HintAction&) const = default;
    };
    QString title;
    QString subtitle;
    std::vector<HintAction> actions;
    std::function<void()> onClose;

    // The card of an editable field: one row per action the mode offers (flip, translate, edit).
    static SelectionFirstUseHintContent forEditableSelection(const SelectionPopupMode& mode,
                                                             std::function<void()> onClose);
    // The card of other text: the translate action alone.
    static SelectionFirstUseHintContent forNonEditableSelection(std::function<void()> onClose);
};

// The card's window: placed by the button row, faded in and out, closed like the row (a click
// or Escape elsewhere, another application activated) or after 10 seconds.
class SelectionFirstUseHintPanel {
public:
    static constexpr std::chrono::milliseconds autoDismissDelay{10000};
    static constexpr int fadeInMs = 200;
    static constexpr int fadeOutMs = 160;

    explicit SelectionFirstUseHintPanel(FloatingWindowEnvironment environment);
    ~SelectionFirstUseHintPanel();
    SelectionFirstUseHintPanel(const SelectionFirstUseHintPanel&) = delete;
    SelectionFirstUseHintPanel& operator=(const SelectionFirstUseHintPanel&) = delete;

    // Replaces any card with this one, placed by the row frame `anchor`.
    void show(const QRectF& anchor, SelectionFirstUseHintContent content);
    // Fades the card out; `panel()` is null from the start of the fade.
    void dismiss();
    QWidget* panel() const { return panel_; }

private:
    FloatingWindowEnvironment environment_;
    QPointer<QWidget> panel_;
    // Cards still fading out; they go with the panel if it goes first.
    std::vector<QPointer<QWidget>> fading_;
    FloatingDismissMonitors monitors_;
    std::unique_ptr<ScheduledCall> autoDismissTask_;
    LifetimeToken<SelectionFirstUseHintPanel> lifetime_{this};
};

// Decides whether the card is due, waits 0.3 s so that it follows the row, picks its texts and
// records that it was shown.
class SelectionFirstUseHintController {
public:
    static constexpr std::chrono::milliseconds showDelay{300};

    SelectionFirstUseHintController(SelectionFirstUseHintStateStore stateStore, FloatingWindowEnvironment environment);
    ~SelectionFirstUseHintController();

    // Schedules the card for the selection's kind of field unless it was shown before or is
    // already scheduled. `anchor` is the button row's frame.
    void maybeShowHint(const SelectionPopupMode& mode, bool isEditable, const QRectF& anchor);
    // Cancels a scheduled card and closes a shown one.
    void dismiss();

    SelectionFirstUseHintPanel& hintPanel() { return hintPanel_; }
    std::optional<SelectionFirstUseHintStateStore::HintContext> pendingContext() const { return pendingContext_; }

private:
    SelectionFirstUseHintStateStore stateStore_;
    std::shared_ptr<Scheduler> scheduler_;
    SelectionFirstUseHintPanel hintPanel_;
    std::unique_ptr<ScheduledCall> showTask_;
    std::uint64_t currentGeneration_ = 0;
    std::optional<SelectionFirstUseHintStateStore::HintContext> pendingContext_;
    LifetimeToken<SelectionFirstUseHintController> lifetime_{this};
};

}  // namespace tavrolin
