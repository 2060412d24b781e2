#pragma once

#include "core/hot_key_action.h"
#include "core/hot_key_shortcut.h"

#include <QStringList>
#include <QWidget>

#include <memory>

namespace tavrolin {

class KeyboardLayoutReading;

// The text the recorder field shows: the modifier symbols (Control, Alt, Shift, Super order)
// and the key's label, with no separator ("⌃⇧T").
QString compactShortcutText(const HotKeyShortcut& shortcut);
// The key caps of the preview: Super, Alt, Shift, Control (in that order, when set), then the key.
QStringList shortcutTokens(const HotKeyShortcut& shortcut);

// The key caps of a shortcut.
class ShortcutPreview final : public QWidget {
    Q_OBJECT
public:
    explicit ShortcutPreview(const HotKeyShortcut& shortcut, QWidget* parent = nullptr);
    void setShortcut(const HotKeyShortcut& shortcut);
    const QStringList& tokens() const { return tokens_; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList tokens_;
};

// The field that records the next key combination. A click (or Space while it has the focus)
// starts recording; while recording
// it takes every key, even those the window or the application would otherwise act on
// (Return, Escape, Control+H). Escape ends recording unchanged whatever is held; a shortcut key
// with at least one modifier replaces the shortcut and ends recording; any other key is refused
// and recording goes on; losing the focus ends it. Keys are taken by their hardware key at the
// unshifted level of the keyboard's groups, as the global grab sees them (Shift+1 is 1, the
// T key under a Cyrillic layout is T); keypad keys are refused. While focused but idle, a
// combination still replaces the shortcut and Escape stays with the field (it does nothing).
class ShortcutRecorderField final : public QWidget {
    Q_OBJECT
public:
    static constexpr int maximumWidth = 280;
    // Set on the field while it records: application-wide key filters leave its keys alone.
    static constexpr const char* recordsEveryKeyProperty = "tavrolinRecordsEveryKey";

    ShortcutRecorderField(const HotKeyShortcut& shortcut, std::shared_ptr<KeyboardLayoutReading> keyboard,
                          QWidget* parent = nullptr);

    const HotKeyShortcut& shortcut() const { return shortcut_; }
    void setShortcut(const HotKeyShortcut& shortcut);
    bool isRecording() const { return recording_; }
    void setRecording(bool recording);
    // What the field shows: "Type shortcut…" while recording, else the compact text.
    QString displayText() const;

    QSize sizeHint() const override;

Q_SIGNALS:
    void shortcutRecorded(const HotKeyShortcut& shortcut);
    void recordingChanged(bool recording);

protected:
    bool event(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void handleKey(QKeyEvent* event);

    HotKeyShortcut shortcut_;
    std::shared_ptr<KeyboardLayoutReading> keyboard_;
    bool recording_ = false;
};

// One action's editor: icon, title, description and the key caps, with the recorder field.
class HotKeyEditorRow final : public QWidget {
    Q_OBJECT
public:
    HotKeyEditorRow(HotKeyAction action, const HotKeyShortcut& shortcut,
                    std::shared_ptr<KeyboardLayoutReading> keyboard, QWidget* parent = nullptr);

    static QString title(HotKeyAction action);
    static QString description(HotKeyAction action);
    static QString iconName(HotKeyAction action);

    HotKeyAction action() const { return action_; }
    ShortcutRecorderField* field() const { return field_; }
    ShortcutPreview* preview() const { return preview_; }
    void setShortcut(const HotKeyShortcut& shortcut);

Q_SIGNALS:
    void shortcutChanged(HotKeyAction action, const HotKeyShortcut& shortcut);
    void recordingChanged(bool recording);

private:
    HotKeyAction action_;
    ShortcutRecorderField* field_ = nullptr;
    ShortcutPreview* preview_ = nullptr;
};

}  // namespace tavrolin
