#include "window_translation/translation_setup_notice_view.h"

#include "core/linux_wording.h"
#include "window_translation/widget_font.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QVBoxLayout>

namespace tavrolin {

TranslationSetupNoticeView::TranslationSetupNoticeView(const TranslationDownloadNotice& notice,
                                                       std::function<void()> onOpenTranslationSetup, QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("translationSetupNotice"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(inset, inset, inset, inset);
    column->setSpacing(spacing);

    title_ = new QLabel(notice.title, this);
    title_->setObjectName(QStringLiteral("title"));
    title_->setTextFormat(Qt::PlainText);
    title_->setWordWrap(true);
    title_->setFont(widgetFont(this, 12, QFont::DemiBold));
    column->addWidget(title_, 0, Qt::AlignLeading);

    message_ = new QLabel(notice.message, this);
    message_->setObjectName(QStringLiteral("message"));
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setFont(widgetFont(this, 11, QFont::Normal));
    message_->setForegroundRole(QPalette::PlaceholderText);
    // The install command in the message can be copied.
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(message_);

    button_ = new QPushButton(linuxWording(u"Download Languages"), this);
    button_->setObjectName(QStringLiteral("setupButton"));
    button_->setAutoDefault(false);
    column->addWidget(button_, 0, Qt::AlignLeading);
    // The notice stays as it is: whoever shows it checks again when a language changes.
    connect(button_, &QPushButton::clicked, this, [callback = std::move(onOpenTranslationSetup)] {
        if (callback) {
            callback();
        }
    });

    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

int TranslationSetupNoticeView::heightForWidth(int width) const {
    return layout()->totalHeightForWidth(width);
}

QSize TranslationSetupNoticeView::sizeHint() const {
    // Without a width from the host, a notice of the width the hosts give it (330 minus insets).
    constexpr int preferredWidth = 306;
    return {preferredWidth, heightForWidth(preferredWidth)};
}

QSize TranslationSetupNoticeView::minimumSizeHint() const {
    const QSize minimum = layout()->totalMinimumSize();
    return {minimum.width(), heightForWidth(std::max(minimum.width(), width()))};
}

void TranslationSetupNoticeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath box;
    box.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius, cornerRadius);
    painter.fillPath(box, palette().color(QPalette::Base));
    painter.setPen(QPen(palette().color(QPalette::Mid), 1));
    painter.drawPath(box);
}

}  // namespace tavrolin
