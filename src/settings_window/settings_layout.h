#pragma once

#include "settings_window/settings_pane.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QWidget>

#include <functional>

class QVBoxLayout;

namespace tavrolin {

// The look shared by the settings window's pieces: fonts by point size and weight, the
// secondary text colour and the palette's accent and separator colours.
namespace settings_style {
QFont font(const QWidget* widget, int pointSize, QFont::Weight weight = QFont::Normal);
QLabel* label(const QString& text, int pointSize, QFont::Weight weight, bool secondary, QWidget* parent);
QColor accent(const QPalette& palette);
QColor separator(const QPalette& palette, qreal alpha);
}  // namespace settings_style

// A check box drawn as a switch; the whole widget is its hit area.
class SwitchCheckBox final : public QCheckBox {
    Q_OBJECT
public:
    explicit SwitchCheckBox(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {36, 20}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }
    void paintEvent(QPaintEvent* event) override;
};

// The sidebar: the heading and one row per pane. A row's whole padded rectangle selects its
// pane; the selected row has the accent background. It keeps no selection of its own beyond
// what the owner last gave it.
class SettingsSidebar final : public QWidget {
    Q_OBJECT
public:
    static constexpr int sidebarWidth = 190;

    explicit SettingsSidebar(SettingsPane selectedPane, QWidget* parent = nullptr);

    void setSelectedPane(SettingsPane pane);
    SettingsPane selectedPane() const { return selectedPane_; }
    QAbstractButton* row(SettingsPane pane) const;

Q_SIGNALS:
    void paneSelected(SettingsPane pane);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SettingsPane selectedPane_;
    std::vector<QAbstractButton*> rows_;
};

// The page frame of one pane: the header card (eyebrow, icon badge, title, subtitle) and the
// pane's content below it.
class SettingsPage final : public QWidget {
    Q_OBJECT
public:
    SettingsPage(const QString& title, const QString& subtitle, SettingsPane pane, QWidget* content,
                 QWidget* parent = nullptr);
};

// A titled card grouping controls; add them to contentLayout().
class SettingsCard : public QFrame {
    Q_OBJECT
public:
    SettingsCard(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
    QVBoxLayout* contentLayout() const { return content_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QVBoxLayout* content_ = nullptr;
};

// The card of one group of shortcut rows: exactly a SettingsCard.
class ShortcutGroupCard final : public SettingsCard {
    Q_OBJECT
public:
    using SettingsCard::SettingsCard;
};

// Title, wrapping description and a switch.
class SettingsToggleRow final : public QWidget {
    Q_OBJECT
public:
    SettingsToggleRow(const QString& title, const QString& description, QWidget* parent = nullptr);
    QCheckBox* toggle() const { return toggle_; }
    QLabel* descriptionLabel() const { return description_; }

private:
    QCheckBox* toggle_ = nullptr;
    QLabel* description_ = nullptr;
};

// A label that shows its value on one line, shortened at the head, middle or tail to fit. The
// shortened text is only what is painted: Copy (the keys or the context menu) takes the full
// value, and the tooltip shows it.
class MetadataValueLabel final : public QLabel {
    Q_OBJECT
public:
    MetadataValueLabel(QString value, Qt::TextElideMode mode, QWidget* parent = nullptr);
    const QString& fullText() const { return value_; }
    void copyToClipboard() const;
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void updateElidedText();

    QString value_;
    Qt::TextElideMode mode_;
};

class MetadataRow final : public QWidget {
    Q_OBJECT
public:
    MetadataRow(const QString& title, const QString& value, Qt::TextElideMode truncationMode,
                QWidget* parent = nullptr);
    MetadataValueLabel* valueLabel() const { return value_; }

private:
    MetadataValueLabel* value_ = nullptr;
};

// The About pane's build information and the diagnostics export button.
class AboutFooterSection final : public QWidget {
    Q_OBJECT
public:
    AboutFooterSection(std::function<void()> onExportDiagnostics, const QString& deviceID, const QString& appVersion,
                       QWidget* parent = nullptr);
    MetadataRow* versionRow() const { return version_; }
    MetadataRow* deviceRow() const { return device_; }
    QAbstractButton* exportButton() const { return export_; }

private:
    MetadataRow* version_ = nullptr;
    MetadataRow* device_ = nullptr;
    QAbstractButton* export_ = nullptr;
};

// A horizontal line between rows, with `space` above and below.
QWidget* settingsDivider(QWidget* parent, int space = 0);

}  // namespace tavrolin
