#include "shell/status_menu.h"

#include "core/app_language.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QKeySequence>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QSystemTrayIcon>

namespace tavrolin {

namespace {

// The menu lists the commands in this order, which differs from the shortcut order.
constexpr std::array<HotKeyAction, 7> kMenuOrder{
    HotKeyAction::captureAndTranslateActiveWindow,
    HotKeyAction::writeText,
    HotKeyAction::editText,
    HotKeyAction::translateMessage,
    HotKeyAction::flipLanguage,
    HotKeyAction::openDictationScratchpad,
    HotKeyAction::createPrompt,
};

const QString kNeedsOnlineFeatures = QStringLiteral("Enable online features in Settings to use this command.");
const QString kLocalCorrections = QStringLiteral("Uses local corrections while online features are off.");

void run(const std::function<void()>& action) {
    if (action) {
        action();
    }
}

}  // namespace

StatusMenu::StatusMenu(StatusMenuActions actions, QObject* parent) : QObject(parent), actions_(std::move(actions)) {}

StatusMenu::~StatusMenu() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
    if (trayIcon_) {
        trayIcon_->hide();
    }
}

QAction* StatusMenu::commandItem(HotKeyAction action) const {
    return commandItems_[indexOf(action)];
}

void StatusMenu::configure() {
    if (menu_) {
        return;
    }
    menu_ = std::make_unique<QMenu>();
    for (HotKeyAction action : kMenuOrder) {
        QAction* item = menu_->addAction(commandTitle(action));
        connect(item, &QAction::triggered, this, [this, action] {
            if (actions_.runCommand) {
                actions_.runCommand(action);
            }
        });
        commandItems_[indexOf(action)] = item;
    }
    menu_->addSeparator();
    QAction* settings = menu_->addAction(QStringLiteral("Settings\u2026"));
    settings->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settings, &QAction::triggered, this, [this] { run(actions_.openSettings); });
    QAction* tutorial = menu_->addAction(QStringLiteral("Show Tutorial\u2026"));
    connect(tutorial, &QAction::triggered, this, [this] { run(actions_.showTutorial); });
    menu_->addSeparator();
    checkForUpdatesItem_ = menu_->addAction(QStringLiteral("Check for Updates\u2026"));
    connect(checkForUpdatesItem_, &QAction::triggered, this, [this] { run(actions_.checkForUpdates); });
    shareItem_ = menu_->addAction(QStringLiteral("Share Tavrolin\u2026"));
    connect(shareItem_, &QAction::triggered, this, [this] { run(actions_.shareApp); });
    QAction* developer = menu_->addAction(QStringLiteral("Write to the developer"));
    connect(developer, &QAction::triggered, this, [this] { run(actions_.writeDeveloper); });
    menu_->addSeparator();
    QAction* quit = menu_->addAction(QStringLiteral("Quit"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, [this] { run(actions_.quit); });
    // Tooltips of disabled items explain why they are disabled.
    menu_->setToolTipsVisible(true);

    trayIcon_ = std::make_unique<QSystemTrayIcon>();
    trayIcon_->setContextMenu(menu_.get());
    updateTrayIconImage();
    // A left click shows the same menu as a right click.
    connect(trayIcon_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger && menu_ && !menu_->isVisible()) {
            menu_->popup(QCursor::pos());
        }
    });
    qApp->installEventFilter(this);
    trayIcon_->show();
}

QString StatusMenu::commandItemTitle(HotKeyAction action, const AppSettings& settings) {
    QString title = commandTitle(action);
    if (action == HotKeyAction::captureAndTranslateActiveWindow) {
        title += QStringLiteral(" (%1)").arg(displayName(settings.targetLanguage));
    } else if (action == HotKeyAction::translateMessage) {
        title += QStringLiteral(" (%1)").arg(displayName(settings.messageTargetLanguage));
    }
    return title + QStringLiteral(" (%1)").arg(settings.shortcut(action).displayName());
}

QString StatusMenu::toolTip(const AppSettings& settings) {
    const QStringList lines{
        QStringLiteral("Tavrolin"),
        QStringLiteral("Translate Selection or Window: ") + settings.captureAndTranslateShortcut.displayName(),
        QStringLiteral("Rewrite Message: ") + settings.writeTextShortcut.displayName(),
        QStringLiteral("Edit Message: ") + settings.editTextShortcut.displayName(),
        QStringLiteral("Write Message: ") + settings.translateMessageShortcut.displayName(),
        QStringLiteral("Flip Language: ") + settings.flipLanguageShortcut.displayName(),
        QStringLiteral("Dictation Scratchpad: ") + settings.openDictationScratchpadShortcut.displayName(),
        QStringLiteral("Create Prompt: ") + settings.createPromptShortcut.displayName(),
        QStringLiteral("Translate: Auto Detect -> ") + displayName(settings.targetLanguage),
        QStringLiteral("Online Features: ") +
            (settings.onlineFeaturesEnabled ? QStringLiteral("On") : QStringLiteral("Off")),
    };
    return lines.join(u'\n');
}

void StatusMenu::refresh(const AppSettings& settings) {
    if (!menu_) {
        return;
    }
    if (trayIcon_) {
        trayIcon_->setToolTip(toolTip(settings));
    }
    for (HotKeyAction action : allHotKeyActions) {
        commandItem(action)->setText(commandItemTitle(action, settings));
    }
    const bool online = settings.onlineFeaturesEnabled;
    commandItem(HotKeyAction::editText)->setEnabled(true);
    commandItem(HotKeyAction::editText)->setToolTip(online ? QString() : kLocalCorrections);
    for (QAction* item :
         {commandItem(HotKeyAction::writeText), commandItem(HotKeyAction::createPrompt), checkForUpdatesItem_}) {
        item->setEnabled(online);
        item->setToolTip(online ? QString() : kNeedsOnlineFeatures);
    }
}

QIcon StatusMenu::trayIconImage(const QColor& color) {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        const qreal unit = size / 16.0;
        QPen pen(color, 1.4 * unit);
        pen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(pen);
        // A speech bubble with a letter in it.
        QPainterPath bubble;
        bubble.addRoundedRect(QRectF(1.2 * unit, 1.2 * unit, 13.6 * unit, 10.0 * unit), 2.5 * unit, 2.5 * unit);
        QPainterPath tail;
        tail.moveTo(4.0 * unit, 11.0 * unit);
        tail.lineTo(3.5 * unit, 14.8 * unit);
        tail.lineTo(7.5 * unit, 11.0 * unit);
        painter.drawPath(bubble.united(tail));
        // The letter is drawn as strokes, not with a font: the font database would be loaded
        // only for this, and loading it at start costs more than everything else the tray
        // icon needs.
        QPainterPath letter;
        letter.moveTo(5.3 * unit, 9.2 * unit);
        letter.lineTo(8.0 * unit, 3.4 * unit);
        letter.lineTo(10.7 * unit, 9.2 * unit);
        letter.moveTo(6.3 * unit, 7.2 * unit);
        letter.lineTo(9.7 * unit, 7.2 * unit);
        QPen letterPen(color, 1.6 * unit);
        letterPen.setCapStyle(Qt::RoundCap);
        letterPen.setJoinStyle(Qt::RoundJoin);
        painter.setPen(letterPen);
        painter.drawPath(letter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    // Hosts that recolour symbolic icons may treat it as a mask.
    icon.setIsMask(true);
    return icon;
}

void StatusMenu::updateTrayIconImage() {
    if (trayIcon_) {
        trayIcon_->setIcon(trayIconImage(QApplication::palette().color(QPalette::WindowText)));
    }
}

bool StatusMenu::eventFilter(QObject* watched, QEvent* event) {
    // The panel follows the desktop theme; so does the icon.
    if (watched == qApp &&
        (event->type() == QEvent::ApplicationPaletteChange || event->type() == QEvent::ThemeChange)) {
        updateTrayIconImage();
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace tavrolin
