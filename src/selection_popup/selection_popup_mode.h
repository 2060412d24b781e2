#pragma once

namespace tavrolin {

// Which floating actions a selection is offered; each true flag puts its button in the row.
struct SelectionPopupMode {
    bool offersFlip = false;
    bool offersTranslate = false;
    bool offersEdit = false;

    int buttonCount() const { return int(offersFlip) + int(offersTranslate) + int(offersEdit); }
    bool operator==(const SelectionPopupMode&) const = default;
};

}  // namespace tavrolin
