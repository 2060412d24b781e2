#include "shell/alert_presenting.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <vector>

namespace tavrolin {

int MessageBoxAlertPresenter::present(const Alert& alert) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Tavrolin"));
    box.setIcon(alert.style == AlertStyle::critical  ? QMessageBox::Critical
                : alert.style == AlertStyle::warning ? QMessageBox::Warning
                                                     : QMessageBox::Information);
    if (!alert.icon.isNull()) {
        box.setIconPixmap(alert.icon.pixmap(64, 64));
        box.setWindowIcon(alert.icon);
    }
    box.setTextFormat(Qt::PlainText);
    box.setText(alert.title);
    box.setInformativeText(alert.message);
    // The message often quotes what others wrote (a window class, a system error): it is shown
    // as it stands, never as markup with live links. The box's text format covers only its title.
    for (QLabel* label : box.findChildren<QLabel*>()) {
        label->setTextFormat(Qt::PlainText);
        label->setOpenExternalLinks(false);
        label->setTextInteractionFlags(label->textInteractionFlags() & ~Qt::LinksAccessibleByMouse &
                                       ~Qt::LinksAccessibleByKeyboard);
    }
    std::vector<QPushButton*> buttons;
    const QStringList titles = alert.buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : alert.buttons;
    for (const QString& title : titles) {
        // Every button is an "accept" role button so that the order stays the one given.
        buttons.push_back(box.addButton(title, QMessageBox::AcceptRole));
    }
    box.setDefaultButton(buttons.front());
    const int cancel = alert.buttons.isEmpty() ? 0 : alert.cancelButtonIndex();
    box.setEscapeButton(buttons[std::size_t(cancel)]);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.show();
    box.raise();
    box.activateWindow();
    box.exec();
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        if (box.clickedButton() == buttons[i]) {
            return int(i);
        }
    }
    return cancel;
}

}  // namespace tavrolin
