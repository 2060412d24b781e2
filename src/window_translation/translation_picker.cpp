#include "window_translation/translation_picker.h"

#include "core/app_log.h"
#include "window_translation/translation_setup_notice_view.h"
#include "window_translation/widget_font.h"

#include <QComboBox>
#include <QCoroTask>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegion>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrolin {

using Geometry = TranslationPickerPopoverGeometry;

// ---- outline and placement

qreal TranslationPickerPopoverGeometry::arrowCenterX(const QRectF& rect) {
    const qreal left = rect.left();
    const qreal right = rect.left() + rect.width();
    return std::min(std::max(left + arrowMinimumInset, right - arrowInsetFromRight), right - arrowMinimumInset);
}

QPainterPath TranslationPickerPopoverGeometry::visiblePath(const QRectF& rect) {
    const qreal left = rect.left();
    const qreal right = rect.left() + rect.width();
    const qreal top = rect.top() + arrowHeight;
    const qreal bottom = rect.top() + rect.height();
    const qreal c = arrowCenterX(rect);
    const qreal r = cornerRadius;

    QPainterPath path;
    path.moveTo(left + r, top);
    path.lineTo(c - arrowHalfWidth, top);
    path.lineTo(c, rect.top());
    path.lineTo(c + arrowHalfWidth, top);
    path.lineTo(right - r, top);
    path.quadTo(right, top, right, top + r);
    path.lineTo(right, bottom - r);
    path.quadTo(right, bottom, right - r, bottom);
    path.lineTo(left + r, bottom);
    path.quadTo(left, bottom, left, bottom - r);
    path.lineTo(left, top + r);
    path.quadTo(left, top, left + r, top);
    path.closeSubpath();
    path.setFillRule(Qt::WindingFill);
    return path;
}

QRect translationPickerFrame(const QRect& anchor, int contentHeight, const std::vector<PickerScreen>& screens,
                             const std::optional<QRect>& primaryAvailableGeometry) {
    const int width = static_cast<int>(Geometry::width);
    const int height = std::max(Geometry::minimumHeight, contentHeight);

    QRect visible;
    const auto meeting = std::find_if(screens.begin(), screens.end(),
                                      [&](const PickerScreen& screen) { return screen.geometry.intersects(anchor); });
    if (meeting != screens.end()) {
        visible = meeting->availableGeometry;
    } else if (primaryAvailableGeometry) {
        visible = *primaryAvailableGeometry;
    }
    if (visible.width() <= 0 || visible.height() <= 0) {
        visible = QRect(0, 0, width, height);
    }
    // Exclusive edges throughout: QRect::bottom() and right() are one pixel short of them.
    const int anchorBottom = anchor.y() + anchor.height();
    const int anchorRight = anchor.x() + anchor.width();
    const int visibleBottom = visible.y() + visible.height();
    const int visibleRight = visible.x() + visible.width();

    int y = anchorBottom + Geometry::badgeGap;
    if (y + height > visibleBottom) {
        y = anchor.y() - Geometry::badgeGap - height;
    }
    int x = anchorRight - width;

    x = visible.x() > visibleRight - width ? visible.x() : std::clamp(x, visible.x(), visibleRight - width);
    y = visible.y() > visibleBottom - height ? visible.y() : std::clamp(y, visible.y(), visibleBottom - height);
    return {x, y, width, height};
}

TranslationLanguagePair initialTranslationPickerPair(TranslationLanguagePair pair, bool onlineFeaturesEnabled) {
    if (onlineFeaturesEnabled) {
        return pair;
    }
    if (pair.source == AppLanguage::hebrew) {
        pair.source = AppLanguage::automatic;
    }
    if (pair.target == AppLanguage::hebrew) {
        pair.target = AppLanguage::russian;
    }
    if (pair.source != AppLanguage::automatic && pair.source == pair.target) {
        pair.target = pair.source == AppLanguage::russian ? AppLanguage::english : AppLanguage::russian;
    }
    return pair;
}

// ---- content

namespace {

QLabel* wrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

AppLanguage menuLanguage(const QComboBox* menu) {
    return fromRawValue<AppLanguage>(menu->currentData().toString()).value_or(AppLanguage::automatic);
}

// A check's answer that arrives for the view it was asked for, if that view still exists and
// no newer check started meanwhile.
QCoro::Task<void> checkPair(QPointer<TranslationPickerView> view, std::shared_ptr<TranslationSetupSupport> support,
                            TranslationLanguagePair pair,
                            std::function<void(std::optional<TranslationDownloadNotice>)> done) {
    std::optional<TranslationDownloadNotice> notice = co_await support->downloadNotice(pair);
    if (view) {
        done(std::move(notice));
    }
}

}  // namespace

TranslationPickerView::TranslationPickerView(TranslationLanguagePair initialPair,
                                             std::shared_ptr<TranslationSetupSupport> setupSupport,
                                             bool onlineFeaturesEnabled, Callbacks callbacks, QWidget* parent)
    : QWidget(parent), setupSupport_(std::move(setupSupport)), callbacks_(std::move(callbacks)) {
    setObjectName(QStringLiteral("translationPicker"));
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(16, 16, 16, 16);
    column_->setSpacing(14);

    QLabel* title = wrappedLabel(titleText, this);
    title->setFont(widgetFont(this, 15, QFont::DemiBold));
    column_->addWidget(title);

    QLabel* note = wrappedLabel(noteText, this);
    note->setFont(widgetFont(this, 11, QFont::Normal));
    note->setForegroundRole(QPalette::PlaceholderText);
    column_->addWidget(note);

    auto* menus = new QHBoxLayout;
    menus->setSpacing(12);
    sourceMenu_ = addLanguageMenu(menus, QStringLiteral("From"),
                                  AppLanguages::filteredCases(AppLanguages::sourceCases(), onlineFeaturesEnabled),
                                  initialPair.source);
    targetMenu_ = addLanguageMenu(menus, QStringLiteral("To"),
                                  AppLanguages::filteredCases(AppLanguages::targetCases(), onlineFeaturesEnabled),
                                  initialPair.target);
    column_->addLayout(menus);

    invalidHint_ = wrappedLabel(invalidPairText, this);
    invalidHint_->setFont(widgetFont(this, 11, QFont::Medium));
    QPalette red = invalidHint_->palette();
    red.setColor(QPalette::WindowText, QColor(215, 38, 38));
    invalidHint_->setPalette(red);
    column_->addWidget(invalidHint_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancelButton_ = new QPushButton(QStringLiteral("Cancel"), this);
    applyButton_ = new QPushButton(QStringLiteral("Apply"), this);
    cancelButton_->setAutoDefault(false);
    applyButton_->setAutoDefault(false);
    applyButton_->setDefault(true);
    buttons->addWidget(cancelButton_);
    buttons->addWidget(applyButton_);
    column_->addLayout(buttons);

    connect(cancelButton_, &QPushButton::clicked, this, &TranslationPickerView::cancel);
    connect(applyButton_, &QPushButton::clicked, this, &TranslationPickerView::apply);
    for (QComboBox* menu : {sourceMenu_, targetMenu_}) {
        connect(menu, &QComboBox::currentIndexChanged, this, &TranslationPickerView::refreshTranslationDownloadNotice);
    }

    QSizePolicy policy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    refreshTranslationDownloadNotice();
}

QComboBox* TranslationPickerView::addLanguageMenu(QLayout* row, const QString& title,
                                                  const std::vector<AppLanguage>& languages, AppLanguage selected) {
    auto* column = new QVBoxLayout;
    column->setSpacing(6);
    QLabel* label = wrappedLabel(title, this);
    label->setFont(widgetFont(this, 12, QFont::Medium));
    label->setForegroundRole(QPalette::PlaceholderText);
    column->addWidget(label);

    auto* menu = new QComboBox(this);
    menu->setAccessibleName(title);
    menu->setObjectName(title == QStringLiteral("From") ? QStringLiteral("source") : QStringLiteral("target"));
    menu->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    menu->setMinimumContentsLength(8);
    menu->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (AppLanguage language : languages) {
        menu->addItem(displayName(language), rawValue(language));
    }
    // A pair the lists do not hold (none after the offline correction) shows the first entry.
    menu->setCurrentIndex(std::max(0, menu->findData(rawValue(selected))));
    label->setBuddy(menu);
    column->addWidget(menu);
    row->addItem(column);
    return menu;
}

TranslationLanguagePair TranslationPickerView::pair() const {
    return {menuLanguage(sourceMenu_), menuLanguage(targetMenu_)};
}

bool TranslationPickerView::canApply() const {
    return pair().isValidSelection() && !checking_ && !notice_;
}

void TranslationPickerView::refreshTranslationDownloadNotice() {
    const TranslationLanguagePair current = pair();
    const quint64 generation = ++checkGeneration_;
    notice_.reset();
    checking_ = current.isValidSelection() && setupSupport_;
    updateState();
    if (!checking_) {
        return;
    }
    // A running check cannot be stopped; its answer is dropped once a newer one has started.
    checkPair(QPointer<TranslationPickerView>(this), setupSupport_, current,
              [this, generation, current](std::optional<TranslationDownloadNotice> notice) {
                  if (generation != checkGeneration_) {
                      return;
                  }
                  checking_ = false;
                  notice_ = std::move(notice);
                  if (notice_) {
                      AppLog::screenshotTranslation().info([&] {
                          return QStringLiteral("language picker: %1 -> %2 needs installing")
                              .arg(rawValue(current.source), rawValue(current.target));
                      });
                  }
                  updateState();
              });
}

void TranslationPickerView::updateState() {
    invalidHint_->setVisible(!pair().isValidSelection());
    if (noticeView_) {
        noticeView_->hide();
        noticeView_->deleteLater();
        noticeView_ = nullptr;
    }
    if (notice_) {
        noticeView_ = new TranslationSetupNoticeView(*notice_, callbacks_.onOpenTranslationSetup, this);
        // Below the hint, above the buttons.
        column_->insertWidget(column_->count() - 1, noticeView_);
        noticeView_->show();
    }
    applyButton_->setEnabled(canApply());
    // The layout would learn of the change only from a queued event: its height is asked now.
    column_->invalidate();
    if (onContentChanged) {
        onContentChanged();
    }
}

void TranslationPickerView::apply() {
    // Once: a second press before the closed picker is gone must not ask twice.
    if (done_ || !canApply()) {
        return;
    }
    done_ = true;
    if (callbacks_.onApply) {
        callbacks_.onApply(pair());
    }
}

void TranslationPickerView::cancel() {
    if (done_) {
        return;
    }
    done_ = true;
    if (callbacks_.onCancel) {
        callbacks_.onCancel();
    }
}

int TranslationPickerView::heightForWidth(int width) const {
    return layout()->totalHeightForWidth(width);
}

void TranslationPickerView::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Escape:
        cancel();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        apply();
        return;
    default:
        QWidget::keyPressEvent(event);
    }
}

// ---- popover and panel

TranslationPickerContainerView::TranslationPickerContainerView(TranslationPickerView* content, QWidget* parent)
    : QWidget(parent), content_(content) {
    content_->setParent(this);
}

void TranslationPickerContainerView::resizeEvent(QResizeEvent*) {
    const int arrow = static_cast<int>(Geometry::arrowHeight);
    content_->setGeometry(0, arrow, width(), height() - arrow);
}

void TranslationPickerContainerView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath outline = Geometry::visiblePath(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    // Opaque: without a compositor a window cannot be see-through.
    painter.fillPath(outline, palette().color(QPalette::Window));
    QColor separator = palette().color(QPalette::Mid);
    separator.setAlphaF(0.45);
    painter.setPen(QPen(separator, 1));
    painter.drawPath(outline);
}

TranslationPickerPanel::TranslationPickerPanel(TranslationPickerView* content)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("translationPickerPanel"));
    container_ = new TranslationPickerContainerView(content, this);
}

void TranslationPickerPanel::resizeEvent(QResizeEvent*) {
    container_->setGeometry(rect());
    // The mask is the hit test as well as the shape: without it the corners would swallow clicks.
    setMask(QRegion(Geometry::visiblePath(QRectF(rect())).toFillPolygon().toPolygon(), Qt::WindingFill));
}

}  // namespace tavrolin
