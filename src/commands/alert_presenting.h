#pragma once

#include <QIcon>
#include <QString>
#include <QStringList>

namespace tavrolin {

enum class AlertStyle { informational, warning, critical };

// One modal alert: the title is its main text, the message the informative text below it, and
// the first button is the default.
struct Alert {
    AlertStyle style = AlertStyle::informational;
    QString title;
    QString message;
    QIcon icon;
    QStringList buttons;
    // The button that closing the alert without a button (Escape, the window's close button)
    // counts as; -1 means the last one.
    int cancelButton = -1;

    int cancelButtonIndex() const {
        return cancelButton >= 0 && cancelButton < buttons.size() ? cancelButton : int(buttons.size()) - 1;
    }
};

// Shows alerts and answers which button was pressed. The application's presenter is modal;
// tests script the answers.
class AlertPresenting {
public:
    virtual ~AlertPresenting() = default;
    // Brings the application to the front, shows the alert and waits, on the main thread, for
    // a button: answers its index in `alert.buttons`.
    virtual int present(const Alert& alert) = 0;
};

// The set-up places the application sends the user to.
enum class SystemSettingsPane { accessibility, screenRecording, translationLanguages, loginItems };

}  // namespace tavrolin
