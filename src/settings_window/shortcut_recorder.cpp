#include "settings_window/shortcut_recorder.h"

#include "core/linux_wording.h"
#include "platform/keyboard_layout_reading.h"
#include "settings_window/settings_layout.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace tavrolin {

using namespace settings_style;

namespace {

struct ActionRow {
    const char* icon;
    const char* title;
    const char* description;
};

// In action order.
constexpr ActionRow kActionRows[] = {
    {"edit-find", "Translate selection or window",
     "Translate selected text, or translate the active window when nothing is selected."},
    {"mail-message-new", "Write message", "Generate a fresh message for the focused text field."},
    {"document-edit", "Edit message", "Improve or adjust the selected text in place."},
    {"accessories-text-editor", "Rewrite message", "Rewrite the selected text into your chosen target language."},
    {"object-flip-horizontal", "Flip language",
     "Switch text between native and second language based on detected source."},
    {"audio-input-microphone", "Dictation scratchpad", "Open a floating text scratchpad for voice transcription."},
    {"dialog-information", "Create prompt", "Turn the selected text into an AI-ready prompt without translation."},
};

const ActionRow& actionRow(HotKeyAction action) {
    return kActionRows[indexOf(action)];
}

constexpr int capPaddingX = 9;
constexpr int capPaddingY = 5;
constexpr int capSpacing = 6;

}  // namespace

QString compactShortcutText(const HotKeyShortcut& shortcut) {
    return shortcut.modifierSymbols().join(QString()) + rawValue(shortcut.key);
}

QStringList shortcutTokens(const HotKeyShortcut& shortcut) {
    QStringList tokens;
    if (shortcut.command)
        tokens.append(linuxWording(u"\u2318"));
    if (shortcut.option)
        tokens.append(linuxWording(u"\u2325"));
    if (shortcut.shift)
        tokens.append(linuxWording(u"\u21E7"));
    if (shortcut.control)
        tokens.append(linuxWording(u"\u2303"));
    tokens.append(rawValue(shortcut.key));
    return tokens;
}

ShortcutPreview::ShortcutPreview(const HotKeyShortcut& shortcut, QWidget* parent) : QWidget(parent) {
    setFont(settings_style::font(this, 12, QFont::DemiBold));
    setShortcut(shortcut);
}

void ShortcutPreview::setShortcut(const HotKeyShortcut& shortcut) {
    tokens_ = shortcutTokens(shortcut);
    setAccessibleName(shortcut.displayName());
    updateGeometry();
    update();
}

QSize ShortcutPreview::sizeHint() const {
    int width = 0;
    for (const QString& token : tokens_) {
        width += fontMetrics().horizontalAdvance(token) + 2 * capPaddingX;
    }
    width += capSpacing * std::max<int>(0, int(tokens_.size()) - 1);
    return {width, fontMetrics().height() + 2 * capPaddingY};
}

void ShortcutPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int capHeight = fontMetrics().height() + 2 * capPaddingY;
    const int top = (height() - capHeight) / 2;
    int x = 0;
    for (const QString& token : tokens_) {
        const int capWidth = fontMetrics().horizontalAdvance(token) + 2 * capPaddingX;
        const QRectF cap(x + 0.5, top + 0.5, capWidth - 1, capHeight - 1);
        QPainterPath shape;
        shape.addRoundedRect(cap, 8, 8);
        painter.fillPath(shape, palette().color(QPalette::Window));
        painter.setPen(QPen(separator(palette(), 0.24), 1));
        painter.drawPath(shape);
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(cap, Qt::AlignCenter, token);
        x += capWidth + capSpacing;
    }
}

ShortcutRecorderField::ShortcutRecorderField(const HotKeyShortcut& shortcut,
                                             std::shared_ptr<KeyboardLayoutReading> keyboard, QWidget* parent)
    : QWidget(parent), shortcut_(shortcut), keyboard_(std::move(keyboard)) {
    setObjectName(QStringLiteral("shortcutRecorder"));
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    setFont(settings_style::font(this, 13, QFont::Medium));
    setMaximumWidth(maximumWidth);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

void ShortcutRecorderField::setShortcut(const HotKeyShortcut& shortcut) {
    shortcut_ = shortcut;
    update();
}

void ShortcutRecorderField::setRecording(bool recording) {
    if (recording_ == recording) {
        return;
    }
    recording_ = recording;
    setProperty(recordsEveryKeyProperty, recording);
    update();
    Q_EMIT recordingChanged(recording);
}

QString ShortcutRecorderField::displayText() const {
    return recording_ ? QStringLiteral("Type shortcut\u2026") : compactShortcutText(shortcut_);
}

QSize ShortcutRecorderField::sizeHint() const {
    return {maximumWidth, fontMetrics().height() + 16};
}

bool ShortcutRecorderField::event(QEvent* event) {
    // While recording every key is ours: no shortcut of the window or the application (Escape
    // closing the window, Return saving, the application's own keys) runs first.
    // Escape is the field's while it has the focus, recording or not: it never closes the
    // window (and drops the unsaved edits) from under a focused field.
    if (event->type() == QEvent::ShortcutOverride &&
        (recording_ || (hasFocus() && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape))) {
        event->accept();
        return true;
    }
    return QWidget::event(event);
}

void ShortcutRecorderField::mousePressEvent(QMouseEvent* event) {
    QWidget::mousePressEvent(event);
    setFocus(Qt::MouseFocusReason);
    setRecording(true);
}

void ShortcutRecorderField::keyPressEvent(QKeyEvent* event) {
    if (!recording_ && !hasFocus()) {
        QWidget::keyPressEvent(event);
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        // Ends recording and nothing else.
        setRecording(false);
        event->accept();
        return;
    }
    if (!recording_ && event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        // The keyboard's way to click the field.
        setRecording(true);
        event->accept();
        return;
    }
    if (!recording_ && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter ||
                        event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)) {
        // Idle: Return reaches Save, Tab moves the focus.
        QWidget::keyPressEvent(event);
        return;
    }
    handleKey(event);
    event->accept();
}

void ShortcutRecorderField::handleKey(QKeyEvent* event) {
    if (event->isAutoRepeat()) {
        return;
    }
    const Qt::KeyboardModifiers modifiers = event->modifiers();
    if (modifiers & Qt::KeypadModifier) {
        return;  // keypad digits are not the digit keys a grab takes
    }
    const std::optional<HotKeyKey> key = hotKeyKeyForKeyPress(
        KeyPress{event->nativeScanCode(), event->nativeVirtualKey(), event->key()}, keyboard_.get());
    if (!key) {
        return;
    }
    const HotKeyShortcut recorded = HotKeyShortcut::fromQtModifiers(*key, modifiers);
    if (!recorded.hasModifier()) {
        return;
    }
    shortcut_ = recorded;
    update();
    Q_EMIT shortcutRecorded(recorded);
    setRecording(false);
}

void ShortcutRecorderField::focusOutEvent(QFocusEvent* event) {
    QWidget::focusOutEvent(event);
    setRecording(false);
}

void ShortcutRecorderField::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    QColor fill = recording_ ? accent(palette()) : palette().color(QPalette::Window);
    if (recording_) {
        fill.setAlphaF(0.12f);
    }
    QColor stroke = recording_ ? accent(palette()) : separator(palette(), 0.24);
    if (recording_) {
        stroke.setAlphaF(0.35f);
    }
    painter.fillPath(shape, fill);
    painter.setPen(QPen(stroke, recording_ ? 1.5 : 1));
    painter.drawPath(shape);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect().adjusted(10, 0, -10, 0), Qt::AlignVCenter | Qt::AlignLeft, displayText());
}

HotKeyEditorRow::HotKeyEditorRow(HotKeyAction action, const HotKeyShortcut& shortcut,
                                 std::shared_ptr<KeyboardLayoutReading> keyboard, QWidget* parent)
    : QWidget(parent), action_(action) {
    setObjectName(settingsKey(action));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    auto* icon = new QLabel(this);
    icon->setFixedSize(32, 32);
    icon->setAlignment(Qt::AlignCenter);
    icon->setPixmap(QIcon::fromTheme(iconName(action)).pixmap(16, 16));
    {
        QColor badge = accent(palette());
        badge.setAlphaF(0.10f);
        icon->setStyleSheet(QStringLiteral("background: %1; border-radius: 8px;").arg(badge.name(QColor::HexArgb)));
    }
    header->addWidget(icon);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addWidget(label(title(action), 13, QFont::DemiBold, false, this));
    QLabel* descriptionLabel = label(description(action), 11, QFont::Normal, true, this);
    descriptionLabel->setWordWrap(true);
    texts->addWidget(descriptionLabel);
    header->addLayout(texts, 1);
    header->addSpacing(12);
    preview_ = new ShortcutPreview(shortcut, this);
    header->addWidget(preview_);
    column->addLayout(header);
    field_ = new ShortcutRecorderField(shortcut, std::move(keyboard), this);
    field_->setAccessibleName(title(action));
    column->addWidget(field_, 0, Qt::AlignLeading);
    connect(field_, &ShortcutRecorderField::shortcutRecorded, this, [this](const HotKeyShortcut& recorded) {
        preview_->setShortcut(recorded);
        Q_EMIT shortcutChanged(action_, recorded);
    });
    connect(field_, &ShortcutRecorderField::recordingChanged, this, &HotKeyEditorRow::recordingChanged);
}

QString HotKeyEditorRow::title(HotKeyAction action) {
    return QString::fromUtf8(actionRow(action).title);
}
QString HotKeyEditorRow::description(HotKeyAction action) {
    return QString::fromUtf8(actionRow(action).description);
}
QString HotKeyEditorRow::iconName(HotKeyAction action) {
    return QString::fromLatin1(actionRow(action).icon);
}

void HotKeyEditorRow::setShortcut(const HotKeyShortcut& shortcut) {
    field_->setShortcut(shortcut);
    preview_->setShortcut(shortcut);
}

}  // namespace tavrolin
