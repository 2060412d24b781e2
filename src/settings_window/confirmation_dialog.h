#pragma once

#include <QColor>
#include <QFrame>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;
class QVariantAnimation;

namespace tavrolin {

// What one confirmation card says. The icon is a freedesktop theme icon, with a bundled or
// style icon when the theme has none; it is drawn white on a disc of `iconColor`.
struct ConfirmationDialogContent {
    QString title;
    QString iconThemeName;
    QColor iconColor;
    QString message;
    QString destructiveTitle;
    QString cancelTitle;
};

// The card: icon, question, explanation, then "Cancel" and the confirming button. 320 wide;
// a long message makes it taller, never wider. Return confirms, Escape cancels (handled by
// the overlay that holds it, so the keys work wherever the focus is inside).
class ConfirmationDialog final : public QFrame {
    Q_OBJECT
public:
    static constexpr int cardWidth = 320;

    ConfirmationDialog(ConfirmationDialogContent content, std::function<void()> onDestructive,
                       std::function<void()> onCancel, QWidget* parent = nullptr);

    const ConfirmationDialogContent& content() const { return content_; }
    QPushButton* destructiveButton() const { return destructiveButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QLabel* messageLabel() const { return messageLabel_; }

    void confirm();
    void cancel();

protected:
    void paintEvent(QPaintEvent* event) override;
    // A click on the card outside its buttons does nothing (it must not reach the backdrop).
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    static QPixmap iconPixmap(const ConfirmationDialogContent& content, qreal devicePixelRatio);

    ConfirmationDialogContent content_;
    std::function<void()> onDestructive_;
    std::function<void()> onCancel_;
    QPushButton* destructiveButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLabel* messageLabel_ = nullptr;
};

// A dimmed backdrop over the whole host window with the card centred on it. On first showing
// it darkens to 30 % black while the card grows from 92 % to full size and fades in (0.14 s,
// ease-in-out). A click on the backdrop runs `onCancel`. The host removes the overlay in its
// callbacks with deleteLater(), never delete.
class ConfirmationDialogOverlay final : public QWidget {
    Q_OBJECT
public:
    static constexpr int animationMs = 140;
    static constexpr qreal dimmedOpacity = 0.3;
    static constexpr qreal startScale = 0.92;

    using DialogBuilder = std::function<ConfirmationDialog*(QWidget* parent)>;

    ConfirmationDialogOverlay(QWidget* host, std::function<void()> onCancel, const DialogBuilder& dialog);

    bool isDimmed() const { return dimmed_; }
    // 0 when created, 1 once the entry animation has finished.
    qreal progress() const { return progress_; }
    ConfirmationDialog* dialog() const { return dialog_; }

Q_SIGNALS:
    void entryAnimationFinished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void setDimmed(bool dimmed);
    void layoutDialog();

    std::function<void()> onCancel_;
    ConfirmationDialog* dialog_ = nullptr;
    QVariantAnimation* animation_ = nullptr;
    QPixmap cardImage_;
    bool dimmed_ = false;
    qreal progress_ = 0;
    bool backdropPressed_ = false;
};

// The two confirmations. Confirming runs `onProceed` and then `onClose`; cancelling (button,
// Escape, backdrop) runs `onClose` only. Each returns the overlay, already shown over `host`.
class DisableOnlineFeaturesDialog final {
public:
    static ConfirmationDialogContent content();
    static ConfirmationDialogOverlay* show(QWidget* host, std::function<void()> onClose,
                                           std::function<void()> onProceed);
};

class ResetShortcutsConfirmationDialog final {
public:
    static ConfirmationDialogContent content();
    static ConfirmationDialogOverlay* show(QWidget* host, std::function<void()> onClose,
                                           std::function<void()> onProceed);
};

}  // namespace tavrolin
