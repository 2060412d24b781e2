#include "shell/alert_presenting.h"

#include <QAbstractButton>
#include <QApplication>
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
    box.setText(alert.title);
    box.setInformativeText(alert.message);
    box.setTextFormat(Qt::PlainText);
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
