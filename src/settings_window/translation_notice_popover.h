#pragma once

#include "language/translation_setup_support.h"

#include <QFrame>

#include <functional>

namespace tavrolin {

// The popup frame under a language picker that holds its install notice. Hiding it for any
// reason but its owner's own closing (a click outside, Escape) counts as dismissing the notice.
// It deletes itself when closed.
class TranslationNoticePopover final : public QFrame {
    Q_OBJECT
public:
    static constexpr int popoverWidth = 330;

    TranslationNoticePopover(const TranslationDownloadNotice& notice, std::function<void()> openSetup,
                             std::function<void()> onDismissed, QWidget* parent);
    // Closes it without reporting a dismissal.
    void closeByOwner();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    std::function<void()> onDismissed_;
};

}  // namespace tavrolin
