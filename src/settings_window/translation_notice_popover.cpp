#include "settings_window/translation_notice_popover.h"

#include "window_translation/translation_setup_notice_view.h"

#include <QVBoxLayout>

#include <utility>

namespace tavrolin {

TranslationNoticePopover::TranslationNoticePopover(const TranslationDownloadNotice& notice,
                                                   std::function<void()> openSetup, std::function<void()> onDismissed,
                                                   QWidget* parent)
    : QFrame(parent, Qt::Popup), onDismissed_(std::move(onDismissed)) {
    setObjectName(QStringLiteral("noticePopover"));
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->addWidget(new TranslationSetupNoticeView(notice, std::move(openSetup), this));
    setFixedWidth(popoverWidth);
    setFixedHeight(column->totalHeightForWidth(popoverWidth));
}

void TranslationNoticePopover::closeByOwner() {
    onDismissed_ = {};
    close();
}

void TranslationNoticePopover::hideEvent(QHideEvent* event) {
    QFrame::hideEvent(event);
    if (auto dismissed = std::exchange(onDismissed_, {})) {
        dismissed();
    }
    // Not deleted here: closing deletes it, a plain hide leaves it to its parent.
}

}  // namespace tavrolin
