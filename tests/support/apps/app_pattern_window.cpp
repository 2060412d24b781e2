// A foreign application for window detection and capture tests: one decorated window that
// paints a known pattern, and on request a frameless "toolbar" window of the same process.
//
// usage: tavrolin_test_app_pattern_window [--title TEXT] [--size W H] [--pos X Y] [--ui-text W H]
// Prints "window <id>" once the window is on screen, then obeys lines on standard input:
//   where                  -> "at <x> <y> <w> <h>" (the painted area in root coordinates)
//   toolbar <x> <y> <w> <h> -> shows (or moves) the toolbar there, then "toolbar <id>"
//   move <x> <y>           -> moves the window (frame origin), then "moved"
//   resize <w> <h>         -> resizes the painted area, then "resized"
//   activate               -> raises and activates the window, then "activated"
//   close                  -> destroys the window, then "closed"
//   quit
//
// The pattern: the device pixel at (x, y) of the painted area is patternColor(x, y) below, at
// any scale factor (sizes and positions are Qt's logical pixels). With --ui-text, the top-left
// W x H logical pixels show instead the top-left of the English interface screen of the text
// recognition tests (paintUiScreen), drawn over that area. The toolbar is solid
// toolbarColor.
#include "support/painted_screen.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

QRgb patternColor(int x, int y) {
    return qRgb(x % 256, y % 256, 0x40 + (x / 256) + 4 * (y / 256));
}

const QRgb toolbarColor = qRgb(0xE0, 0x10, 0xC0);

void say(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

class PatternWindow final : public QWidget {
public:
    PatternWindow() { setAttribute(Qt::WA_OpaquePaintEvent); }
    QSize textArea;

protected:
    void paintEvent(QPaintEvent*) override {
        const qreal ratio = devicePixelRatioF();
        const QSize deviceSize(qRound(width() * ratio), qRound(height() * ratio));
        if (pattern_.size() != deviceSize) {
            pattern_ = QImage(deviceSize, QImage::Format_RGB32);
            pattern_.setDevicePixelRatio(ratio);
            for (int y = 0; y < pattern_.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(pattern_.scanLine(y));
                for (int x = 0; x < pattern_.width(); ++x) {
                    line[x] = patternColor(x, y);
                }
            }
        }
        QPainter painter(this);
        painter.drawImage(0, 0, pattern_);
        if (!textArea.isEmpty()) {
            if (text_.isNull()) {
                text_ = tavrolin::test::paintUiScreen().image.copy(QRect(QPoint(0, 0), textArea));
            }
            painter.drawImage(QRect(QPoint(0, 0), textArea), text_);
        }
    }

private:
    QImage pattern_;
    QImage text_;
};

class Toolbar final : public QWidget {
public:
    Toolbar() : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint) { setAttribute(Qt::WA_OpaquePaintEvent); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor::fromRgb(toolbarColor)); }
};

// Reports a window once it is mapped and painted.
void whenShown(QWidget* widget, std::function<void()> report) {
    auto* timer = new QTimer(widget);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, widget, [widget, timer, report] {
        if (widget->isVisible() && widget->windowHandle() && widget->windowHandle()->isExposed()) {
            timer->stop();
            timer->deleteLater();
            // One more turn so the first paint reaches the server.
            QTimer::singleShot(50, widget, report);
        }
    });
    timer->start();
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("PatternWindow"));
    // Closing the pattern window leaves the program running for more commands.
    QApplication::setQuitOnLastWindowClosed(false);

    QString title = QStringLiteral("Pattern window");
    QSize size(640, 400);
    QSize textArea;
    QPoint position(120, 160);
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--title") && i + 1 < args.size()) {
            title = args[++i];
        } else if (args[i] == QLatin1String("--size") && i + 2 < args.size()) {
            size = QSize(args[i + 1].toInt(), args[i + 2].toInt());
            i += 2;
        } else if (args[i] == QLatin1String("--ui-text") && i + 2 < args.size()) {
            textArea = QSize(args[i + 1].toInt(), args[i + 2].toInt());
            i += 2;
        } else if (args[i] == QLatin1String("--pos") && i + 2 < args.size()) {
            position = QPoint(args[i + 1].toInt(), args[i + 2].toInt());
            i += 2;
        }
    }

    auto* window = new PatternWindow;
    window->textArea = textArea;
    window->setWindowTitle(title);
    window->resize(size);
    window->move(position);
    window->show();
    window->raise();
    window->activateWindow();
    whenShown(window, [window] { say(QStringLiteral("window %1").arg(window->winId())); });

    std::unique_ptr<Toolbar> toolbar;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char buffer[256];
        if (!std::fgets(buffer, sizeof buffer, stdin)) {
            app.quit();
            return;
        }
        const QStringList words = QString::fromUtf8(buffer).simplified().split(' ', Qt::SkipEmptyParts);
        if (words.isEmpty()) {
            return;
        }
        const QString command = words.first();
        if (command == QLatin1String("where") && window) {
            const QPoint origin = window->mapToGlobal(QPoint(0, 0));
            say(QStringLiteral("at %1 %2 %3 %4")
                    .arg(origin.x())
                    .arg(origin.y())
                    .arg(window->width())
                    .arg(window->height()));
        } else if (command == QLatin1String("toolbar") && words.size() == 5) {
            if (!toolbar) {
                toolbar = std::make_unique<Toolbar>();
            }
            toolbar->setGeometry(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt());
            if (toolbar->isVisible()) {
                QTimer::singleShot(100, &app, [&] { say(QStringLiteral("toolbar %1").arg(toolbar->winId())); });
            } else {
                toolbar->show();
                whenShown(toolbar.get(), [&] { say(QStringLiteral("toolbar %1").arg(toolbar->winId())); });
            }
        } else if (command == QLatin1String("move") && words.size() == 3 && window) {
            window->move(words[1].toInt(), words[2].toInt());
            QTimer::singleShot(100, &app, [] { say(QStringLiteral("moved")); });
        } else if (command == QLatin1String("resize") && words.size() == 3 && window) {
            window->resize(words[1].toInt(), words[2].toInt());
            QTimer::singleShot(100, &app, [] { say(QStringLiteral("resized")); });
        } else if (command == QLatin1String("activate") && window) {
            window->raise();
            window->activateWindow();
            QTimer::singleShot(50, &app, [] { say(QStringLiteral("activated")); });
        } else if (command == QLatin1String("close") && window) {
            delete window;
            window = nullptr;
            QTimer::singleShot(50, &app, [] { say(QStringLiteral("closed")); });
        } else if (command == QLatin1String("quit")) {
            app.quit();
        }
    });

    const int status = app.exec();
    delete window;
    return status;
}
