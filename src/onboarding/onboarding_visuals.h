#pragma once

// The drawing pieces the onboarding pages share: the accent colours, drawn keyboard keys, the
// six shortcut tiles, a drawn application window and chat bubbles, and the two illustrations
// built only from them (the shortcut map and the ready page).

#include <QAbstractButton>
#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

class QVBoxLayout;

namespace tavrolin {

// The onboarding's accent colours. Qt offers no named system blue, teal or indigo, so each tint
// is one fixed colour, saturated enough to read on light and dark windows alike.
enum class OnboardingTint { blue, green, orange, teal, pink, indigo, purple };

QColor color(OnboardingTint tint);

// Drawn keyboard key sizes: font size, width and height in points, and whether the cap is a
// letter cap (drawn in the tint) or a neutral one.
enum class KeyCapStyle { tiny, tinyLetter, compact, compactLetter, modifier, wideLetter };

struct KeyCapMetrics {
    int fontSize;
    int width;
    int height;
    bool letter;
};

KeyCapMetrics metrics(KeyCapStyle style);

class KeyCap final : public QWidget {
    Q_OBJECT
public:
    KeyCap(QString label, KeyCapStyle style, OnboardingTint tint, QWidget* parent = nullptr);

    const QString& label() const { return label_; }
    KeyCapStyle style() const { return style_; }
    OnboardingTint tint() const { return tint_; }
    // The point size the label is drawn at: the style's size, shrunk down to 80 % of it when
    // the label would not fit otherwise.
    qreal drawnPointSize() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString label_;
    KeyCapStyle style_;
    OnboardingTint tint_;
};

// "Ctrl" + "Shift" + letter: only the letter cap carries the tint.
class KeyCombo final : public QWidget {
    Q_OBJECT
public:
    KeyCombo(const QString& letter, OnboardingTint tint, bool compact, QWidget* parent = nullptr);
    // The three caps, in order.
    std::vector<KeyCap*> caps() const { return caps_; }

private:
    std::vector<KeyCap*> caps_;
};

// One of the six fixed shortcut tiles: the default letters, whatever the user configured.
struct OnboardingShortcut {
    QString letter;
    QString title;
    QString detail;
    OnboardingTint tint;

    static const std::vector<OnboardingShortcut>& all();
};

class CompactShortcutTile final : public QFrame {
    Q_OBJECT
public:
    explicit CompactShortcutTile(const OnboardingShortcut& shortcut, QWidget* parent = nullptr);
    const OnboardingShortcut& shortcut() const { return shortcut_; }
    QLabel* detailLabel() const { return detail_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    OnboardingShortcut shortcut_;
    QLabel* detail_ = nullptr;
};

// A label that shows its text on one line, cut with an ellipsis when it does not fit.
class ElidedLabel final : public QLabel {
    Q_OBJECT
public:
    ElidedLabel(QString text, QWidget* parent = nullptr);
    const QString& fullText() const { return full_; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString full_;
};

// A drawn application window: three dots and a centred title over the content.
class MockWindow final : public QWidget {
    Q_OBJECT
public:
    static constexpr int titleBarHeight = 34;

    MockWindow(const QString& title, QWidget* content, QWidget* parent = nullptr);
    QWidget* content() const { return content_; }
    const QString& title() const { return title_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString title_;
    QWidget* content_ = nullptr;
};

// One chat message: incoming on the leading side on the control colour, the user's own on the
// trailing side in white on blue; at most 300 wide.
class ChatBubble final : public QWidget {
    Q_OBJECT
public:
    static constexpr int maximumBubbleWidth = 300;

    ChatBubble(const QString& text, bool incoming, QWidget* parent = nullptr);
    bool incoming() const { return incoming_; }
    QLabel* textLabel() const { return label_; }

private:
    bool incoming_;
    QLabel* label_ = nullptr;
};

// The page that teaches the pattern: the big Control + Shift + letters keys and the six tiles.
class ShortcutMapIllustration final : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutMapIllustration(QWidget* parent = nullptr);
};

// The last page: the six tiles and the permissions box with its two buttons.
class ReadyIllustration final : public QWidget {
    Q_OBJECT
public:
    ReadyIllustration(std::function<void()> onOpenAccessibilitySettings,
                      std::function<void()> onOpenScreenRecordingSettings, QWidget* parent = nullptr);
    QAbstractButton* accessibilityButton() const { return accessibility_; }
    QAbstractButton* screenRecordingButton() const { return screenRecording_; }

private:
    QAbstractButton* accessibility_ = nullptr;
    QAbstractButton* screenRecording_ = nullptr;
};

namespace onboarding_style {
QFont font(const QWidget* widget, qreal pointSize, QFont::Weight weight = QFont::Normal);
// A plain-text label (markup is shown as typed) in the system font.
QLabel* label(const QString& text, qreal pointSize, QFont::Weight weight, bool secondary, QWidget* parent);
// The palette's colours the pages draw with.
QColor controlBackground(const QPalette& palette);
QColor textBackground(const QPalette& palette);
QColor windowBackground(const QPalette& palette);
QColor separator(const QPalette& palette);
// Fills and outlines a rounded rectangle inside `widget`.
void paintRoundedBox(QWidget* widget, const QColor& fill, const QColor& outline, qreal radius = 8);
// A grid of the six tiles in two equal columns.
QWidget* shortcutTiles(int spacing, QWidget* parent);
}  // namespace onboarding_style

}  // namespace tavrolin
