#include "settings_window/settings_layout.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tavrolin {

namespace settings_style {

QFont font(const QWidget* widget, int pointSize, QFont::Weight weight) {
    QFont result = widget ? widget->font() : QApplication::font();
    result.setPointSize(pointSize);
    result.setWeight(weight);
    return result;
}

QLabel* label(const QString& text, int pointSize, QFont::Weight weight, bool secondary, QWidget* parent) {
    auto* result = new QLabel(text, parent);
    result->setTextFormat(Qt::PlainText);
    result->setFont(font(parent, pointSize, weight));
    if (secondary) {
        result->setForegroundRole(QPalette::PlaceholderText);
    }
    return result;
}

QColor accent(const QPalette& palette) {
    return palette.color(QPalette::Highlight);
}

QColor separator(const QPalette& palette, qreal alpha) {
    QColor color = palette.color(QPalette::WindowText);
    color.setAlphaF(float(alpha));
    return color;
}

}  // namespace settings_style

using namespace settings_style;

namespace {

QLabel* wrappingLabel(const QString& text, int pointSize, QWidget* parent) {
    QLabel* result = label(text, pointSize, QFont::Normal, true, parent);
    result->setWordWrap(true);
    return result;
}

void paintRoundedCard(QWidget* widget, qreal radius, const QColor& fill, const QColor& stroke) {
    QPainter painter(widget);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(widget->rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.fillPath(shape, fill);
    painter.setPen(QPen(stroke, 1));
    painter.drawPath(shape);
}

// One sidebar row: icon, title, and a selection background when selected.
class SidebarRow final : public QAbstractButton {
public:
    SidebarRow(SettingsPane pane, QWidget* parent) : QAbstractButton(parent), pane_(pane) {
        setText(sidebarTitle(pane));
        setObjectName(rawValue(pane));
        setCursor(Qt::PointingHandCursor);
        // Reachable with Tab and pressed with Space, like any button.
        setFocusPolicy(Qt::TabFocus);
        setFont(settings_style::font(this, 13, QFont::Medium));
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }
    void setSelected(bool selected) {
        selected_ = selected;
        update();
    }
    bool isSelected() const { return selected_; }
    QSize sizeHint() const override { return {SettingsSidebar::sidebarWidth - 36, fontMetrics().height() + 20}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        if (selected_) {
            QColor fill = accent(palette());
            fill.setAlphaF(0.10f);
            QColor stroke = accent(palette());
            stroke.setAlphaF(0.12f);
            QPainterPath shape;
            shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 10, 10);
            painter.fillPath(shape, fill);
            painter.setPen(QPen(stroke, 1));
            painter.drawPath(shape);
        }
        if (hasFocus()) {
            painter.setPen(QPen(accent(palette()), 1));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 10, 10);
        }
        const QColor ink = palette().color(selected_ ? QPalette::WindowText : QPalette::PlaceholderText);
        const QIcon icon = QIcon::fromTheme(iconName(pane_));
        const QRect iconRect(12, (height() - 16) / 2, 16, 16);
        if (!icon.isNull()) {
            icon.paint(&painter, iconRect);
        }
        painter.setPen(ink);
        painter.drawText(QRect(12 + 18 + 10, 0, width() - 40, height()), Qt::AlignVCenter | Qt::AlignLeft, text());
    }

private:
    SettingsPane pane_;
    bool selected_ = false;
};

// The page header's icon badge.
class IconBadge final : public QWidget {
public:
    IconBadge(SettingsPane pane, QWidget* parent) : QWidget(parent), pane_(pane) { setFixedSize(52, 52); }

protected:
    void paintEvent(QPaintEvent*) override {
        QColor stroke = accent(palette());
        stroke.setAlphaF(0.10f);
        paintRoundedCard(this, 16, palette().color(QPalette::Window), stroke);
        QPainter painter(this);
        const QIcon icon = QIcon::fromTheme(iconName(pane_));
        if (!icon.isNull()) {
            icon.paint(&painter, QRect(13, 13, 26, 26));
        }
    }

private:
    SettingsPane pane_;
};

// The header card of a page: rounded card with a faint accent glow at its top right.
class HeaderCard final : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override {
        paintRoundedCard(this, 24, palette().color(QPalette::Base), separator(palette(), 0.28));
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), 24, 24);
        painter.setClipPath(clip);
        QRadialGradient glow(QPointF(350 + 75, -60 + 75), 75 + 18);
        QColor color = accent(palette());
        color.setAlphaF(0.05f);
        glow.setColorAt(0, color);
        glow.setColorAt(0.8, color);
        color.setAlphaF(0);
        glow.setColorAt(1, color);
        painter.setPen(Qt::NoPen);
        painter.setBrush(glow);
        painter.drawEllipse(QPointF(350 + 75, -60 + 75), 75 + 18, 75 + 18);
    }
};

}  // namespace

SwitchCheckBox::SwitchCheckBox(QWidget* parent) : QCheckBox(parent) {
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SwitchCheckBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    QColor fill = isChecked() ? accent(palette()) : palette().color(QPalette::Mid);
    if (!isEnabled()) {
        fill.setAlphaF(0.4f);
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, track.height() / 2, track.height() / 2);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(240, 240, 240));
    painter.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(accent(palette()), 1));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), height() / 2.0, height() / 2.0);
    }
}

SettingsSidebar::SettingsSidebar(SettingsPane selectedPane, QWidget* parent)
    : QWidget(parent), selectedPane_(selectedPane) {
    setObjectName(QStringLiteral("settingsSidebar"));
    setFixedWidth(sidebarWidth);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(16);
    auto* header = new QVBoxLayout;
    header->setSpacing(4);
    header->addWidget(label(tr("Settings"), 21, QFont::DemiBold, false, this));
    QLabel* subline = label(tr("Focused, lighter, and task-based."), 12, QFont::Normal, true, this);
    subline->setWordWrap(true);
    header->addWidget(subline);
    column->addLayout(header);
    auto* list = new QVBoxLayout;
    list->setSpacing(6);
    for (SettingsPane pane : allSettingsPanes) {
        auto* row = new SidebarRow(pane, this);
        row->setSelected(pane == selectedPane_);
        connect(row, &QAbstractButton::clicked, this, [this, pane] {
            setSelectedPane(pane);
            Q_EMIT paneSelected(pane);
        });
        list->addWidget(row);
        rows_.push_back(row);
    }
    column->addLayout(list);
    column->addStretch();
}

void SettingsSidebar::setSelectedPane(SettingsPane pane) {
    selectedPane_ = pane;
    for (std::size_t index = 0; index < rows_.size(); ++index) {
        static_cast<SidebarRow*>(rows_[index])->setSelected(allSettingsPanes[index] == pane);
    }
}

QAbstractButton* SettingsSidebar::row(SettingsPane pane) const {
    return rows_.at(static_cast<std::size_t>(pane));
}

void SettingsSidebar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::AlternateBase));
}

SettingsPage::SettingsPage(const QString& title, const QString& subtitle, SettingsPane pane, QWidget* content,
                           QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    auto* header = new HeaderCard(this);
    header->setObjectName(QStringLiteral("pageHeader"));
    auto* text = new QVBoxLayout(header);
    text->setContentsMargins(22, 22, 22, 22);
    text->setSpacing(10);
    QLabel* eyebrowLabel = label(eyebrow(pane), 11, QFont::Bold, true, header);
    QFont eyebrowFont = eyebrowLabel->font();
    eyebrowFont.setLetterSpacing(QFont::AbsoluteSpacing, 1.1);
    eyebrowLabel->setFont(eyebrowFont);
    text->addWidget(eyebrowLabel);
    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(16);
    titleRow->addWidget(new IconBadge(pane, header), 0, Qt::AlignTop);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(6);
    QLabel* titleLabel = label(title, 29, QFont::DemiBold, false, header);
    titleLabel->setObjectName(QStringLiteral("pageTitle"));
    titles->addWidget(titleLabel);
    QLabel* subtitleLabel = wrappingLabel(subtitle, 13, header);
    subtitleLabel->setObjectName(QStringLiteral("pageSubtitle"));
    titles->addWidget(subtitleLabel);
    titleRow->addLayout(titles, 1);
    text->addLayout(titleRow);
    column->addWidget(header);
    if (content) {
        content->setParent(this);
        column->addWidget(content);
    }
    column->addStretch();
}

SettingsCard::SettingsCard(const QString& title, const QString& subtitle, QWidget* parent) : QFrame(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 18, 18, 18);
    column->setSpacing(14);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    QLabel* titleLabel = label(title, 14, QFont::DemiBold, false, this);
    titleLabel->setObjectName(QStringLiteral("cardTitle"));
    titles->addWidget(titleLabel);
    QLabel* subtitleLabel = wrappingLabel(subtitle, 12, this);
    subtitleLabel->setObjectName(QStringLiteral("cardSubtitle"));
    titles->addWidget(subtitleLabel);
    column->addLayout(titles);
    content_ = new QVBoxLayout;
    content_->setSpacing(12);
    column->addLayout(content_);
}

void SettingsCard::paintEvent(QPaintEvent*) {
    paintRoundedCard(this, 14, palette().color(QPalette::Base), separator(palette(), 0.28));
}

SettingsToggleRow::SettingsToggleRow(const QString& title, const QString& description, QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    QLabel* titleLabel = label(title, 13, QFont::Medium, false, this);
    titleLabel->setObjectName(QStringLiteral("toggleTitle"));
    texts->addWidget(titleLabel);
    description_ = wrappingLabel(description, 11, this);
    texts->addWidget(description_);
    row->addLayout(texts, 1);
    row->addSpacing(12);
    toggle_ = new SwitchCheckBox(this);
    toggle_->setAccessibleName(title);
    row->addWidget(toggle_, 0, Qt::AlignTop);
}

MetadataValueLabel::MetadataValueLabel(QString value, Qt::TextElideMode mode, QWidget* parent)
    : QLabel(parent), value_(std::move(value)), mode_(mode) {
    setTextFormat(Qt::PlainText);
    setToolTip(value_);
    setFocusPolicy(Qt::ClickFocus);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setText(value_);
}

QSize MetadataValueLabel::minimumSizeHint() const {
    return {fontMetrics().horizontalAdvance(QStringLiteral("…")) * 4, fontMetrics().height()};
}

QSize MetadataValueLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(value_), fontMetrics().height()};
}

void MetadataValueLabel::updateElidedText() {
    setText(fontMetrics().elidedText(value_, mode_, contentsRect().width()));
}

void MetadataValueLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    updateElidedText();
}

void MetadataValueLabel::copyToClipboard() const {
    QApplication::clipboard()->setText(value_);
}

void MetadataValueLabel::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copyToClipboard();
        return;
    }
    QLabel::keyPressEvent(event);
}

void MetadataValueLabel::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(tr("Copy"), this, [this] { copyToClipboard(); });
    menu.exec(event->globalPos());
}

MetadataRow::MetadataRow(const QString& title, const QString& value, Qt::TextElideMode truncationMode, QWidget* parent)
    : QWidget(parent) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(14);
    row->addWidget(label(title, 12, QFont::Normal, true, this), 0, Qt::AlignBaseline);
    value_ = new MetadataValueLabel(value, truncationMode, this);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(11);
    value_->setFont(mono);
    value_->setForegroundRole(QPalette::PlaceholderText);
    row->addWidget(value_, 1, Qt::AlignBaseline);
}

AboutFooterSection::AboutFooterSection(std::function<void()> onExportDiagnostics, const QString& deviceID,
                                       const QString& appVersion, QWidget* parent)
    : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    version_ = new MetadataRow(QStringLiteral("Version"), appVersion, Qt::ElideRight, this);
    column->addWidget(version_);
    device_ = new MetadataRow(QStringLiteral("Device ID"), deviceID, Qt::ElideMiddle, this);
    column->addWidget(device_);
    column->addWidget(settingsDivider(this));
    auto* button =
        new QPushButton(QIcon::fromTheme(QStringLiteral("document-export")), tr("Export Diagnostics..."), this);
    button->setObjectName(QStringLiteral("exportDiagnostics"));
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [callback = std::move(onExportDiagnostics)] {
        if (callback) {
            callback();
        }
    });
    export_ = button;
    column->addWidget(button, 0, Qt::AlignLeading);
}

QWidget* settingsDivider(QWidget* parent, int space) {
    auto* holder = new QWidget(parent);
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(0, space, 0, space);
    auto* line = new QFrame(holder);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    column->addWidget(line);
    return holder;
}

}  // namespace tavrolin
