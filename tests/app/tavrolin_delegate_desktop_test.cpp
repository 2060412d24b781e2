// The real executable with the full delegate under the desktop session: launch line, tray icon,
// Quit from the tray menu, usage events only while online features are on, and the translation
// of the front window from the shortcut and from the tray menu.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"
#include "platform/linux/x11_desktop.h"
#include "support/async.h"
#include "support/fakes/local_http_server.h"
#include "support/session/accessible_texts.h"
#include "support/session/tavrolin_process_home.h"
#include "tavrolin_program_test.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>

#include <X11/keysym.h>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <unordered_map>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;

QString run(const QString& program, const QStringList& arguments) {
    return test::toolOutput(program, arguments);
}

// Another program on the display: can it grab a combination on the root window?
bool otherClientCanGrab(xcb_keysym_t keysym, uint16_t modifiers) {
    int screen = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screen);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen; ++i) {
        xcb_screen_next(&it);
    }
    xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(connection);
    xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
    const xcb_keycode_t code = codes ? codes[0] : 0;
    std::free(codes);
    xcb_generic_error_t* error = xcb_request_check(
        connection,
        xcb_grab_key_checked(connection, 1, it.data->root, modifiers, code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const bool grabbed = error == nullptr;
    std::free(error);
    xcb_key_symbols_free(symbols);
    xcb_disconnect(connection);  // releases what it got
    return grabbed;
}

class TavrolinDelegateProcessTest : public test::TavrolinProgramTest {
protected:
    void SetUp() override {
        server_.server().Post("/api/events", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard lock(mutex_);
            events_ << QString::fromStdString(request.body);
            response.status = 204;
        });
        TavrolinProgramTest::SetUp();
    }

    void writeSettings(bool onlineFeatures, const std::function<void(AppSettings&)>& change = {}) {
        writeProgramSettings([&](AppSettings& settings) {
            if (change) {
                change(settings);
            }
            settings.onlineFeaturesEnabled = onlineFeatures;
            settings.telemetryEnabled = true;
            settings.selectionPopupEnabled = false;
        });
    }

    void start() {
        // No request but the usage events may leave the machine.
        startProgram(programEnvironment({{"TAVROLIN_TELEMETRY_ENDPOINT", "/api/events"}}));
    }

    bool logged(const QString& message) const {
        const QString tail = QStringLiteral(" [%1] ").arg(pid_) + message;
        for (const QString& line : logLines()) {
            if (line.endsWith(tail)) {
                return true;
            }
        }
        return false;
    }
    QStringList visibleWindows() const { return trayIcons(); }
    QStringList events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    qint64 residentKilobytes() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(pid_));
        if (!status.open(QIODevice::ReadOnly)) {
            return -1;
        }
        const QRegularExpression rss(QStringLiteral("^VmRSS:\\s+(\\d+) kB"), QRegularExpression::MultilineOption);
        const auto match = rss.match(QString::fromLatin1(status.readAll()));
        return match.hasMatch() ? match.captured(1).toLongLong() : -1;
    }

    // Opens the tray icon's menu with a right click and waits until it is there to take keys.
    // Hovering the icon shows its tooltip, another window of ours: it is not the menu.
    void openTrayMenu() {
        const QStringList icons = visibleWindows();
        ASSERT_EQ(icons.size(), 1) << icons.join(',').toStdString();
        run(QStringLiteral("xdotool"), {"mousemove", "--window", icons.first(), "5", "5"});
        run(QStringLiteral("xdotool"), {"click", "3"});
        ASSERT_TRUE(test::waitUntil(
            [&] {
                const QStringList windows = visibleWindows();
                return std::any_of(windows.begin(), windows.end(), [&](const QString& window) {
                    return window != icons.first() &&
                           !run(QStringLiteral("xprop"), {"-id", window, "_NET_WM_WINDOW_TYPE"}).contains("TOOLTIP");
                });
            },
            10s))
            << "the menu never opened";
    }
    QString settingsWindow() const {
        return run(QStringLiteral("xdotool"),
                   {"search", "--all", "--onlyvisible", "--pid", QString::number(pid_), "--name", "^Settings$"})
            .section('\n', 0, 0);
    }
    void keys(const QStringList& names) {
        for (const QString& name : names) {
            run(QStringLiteral("xdotool"), {"key", name});
            test::waitUntil([] { return false; }, 60ms);
        }
    }

    // Opens the tray icon's menu and picks its last item ("Quit").
    void quitFromTrayMenu() {
        openTrayMenu();
        keys({QStringLiteral("Up"), QStringLiteral("Return")});
    }

    mutable std::mutex mutex_;
    QStringList events_;
};

TEST_F(TavrolinDelegateProcessTest, LaunchesWithTrayIconAndQuitsFromTheMenuSendingNothingWhileOffline) {
    writeSettings(false);
    start();
    ASSERT_TRUE(test::waitUntil([&] { return logged(QStringLiteral("launch version=0.1.0")); }, 15s))
        << logLines().join('\n').toStdString();
    ASSERT_TRUE(test::waitUntil([&] { return visibleWindows().size() == 1; }, 10s)) << "no tray icon was shown";
    test::waitUntil([] { return false; }, 1s);  // settle, then measure the idle size
    std::cout << "[ MEMORY   ] idle resident size: " << residentKilobytes() << " kB\n";

    quitFromTrayMenu();
    ASSERT_TRUE(process_.waitForFinished(10000)) << "Quit did not end the program";
    EXPECT_EQ(process_.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process_.exitCode(), 0);
    EXPECT_TRUE(
        logged(QStringLiteral("event action=app_launch trigger=app_lifecycle hotkey=none source=none "
                              "target=none success=true error=none durationMs=none targetApp=none")));
    EXPECT_TRUE(logged(QStringLiteral("event action=quit trigger=menu")) || [&] {
        for (const QString& line : logLines()) {
            if (line.contains(QStringLiteral("event action=quit trigger=menu"))) {
                return true;
            }
        }
        return false;
    }());
    EXPECT_EQ(server_.requestCount(), 0) << events().join('\n').toStdString();
}

TEST_F(TavrolinDelegateProcessTest, OnlineTheInstallAndLaunchEventsReachTheServer) {
    writeSettings(true);
    start();
    ASSERT_TRUE(test::waitUntil([&] { return events().size() >= 2; }, 15s)) << logLines().join('\n').toStdString();
    const QStringList received = events();
    EXPECT_TRUE(received[0].contains(QStringLiteral("\"action\":\"app_install\"")) ||
                received[1].contains(QStringLiteral("\"action\":\"app_install\"")));
    process_.terminate();
    EXPECT_TRUE(process_.waitForFinished(10000));
}

TEST_F(TavrolinDelegateProcessTest, SettingsFromTheTrayMenuSavesALanguageAndAShortcutThatIsThenOurs) {
    writeSettings(true);
    start();
    ASSERT_TRUE(test::waitUntil([&] { return visibleWindows().size() == 1; }, 15s)) << "no tray icon was shown";
    // The look below grabs the key for a moment: made while the program still grabs its
    // shortcuts (the tray icon can show first), it takes the key from under the program. The
    // update check starts once they are grabbed.
    ASSERT_TRUE(test::waitUntil([&] { return logged(QStringLiteral("update check start mode=automatic")); }, 15s))
        << logLines().join('\n').toStdString();
    ASSERT_TRUE(
        test::waitUntil([] { return !otherClientCanGrab(XK_t, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT); }, 10s))
        << "the default shortcuts were never registered";

    // "Settings…" is the eighth item, after the seven commands (all enabled while online).
    openTrayMenu();
    keys(QStringList(8, QStringLiteral("Down")) << QStringLiteral("Return"));
    ASSERT_TRUE(test::waitUntil([&] { return !settingsWindow().isEmpty(); }, 10s))
        << "no settings window\n"
        << logLines().join('\n').toStdString();
    const QString window = settingsWindow();
    run(QStringLiteral("xdotool"), {"windowactivate", "--sync", window});
    test::waitUntil([] { return false; }, 300ms);

    // Tab past the seven sidebar rows to the native language, pick German by its initial.
    keys(QStringList(7, QStringLiteral("Tab")) << QStringLiteral("g"));
    test::waitUntil([] { return false; }, 1500ms);  // the download check may open its notice
    if (visibleWindows().size() > 2) {
        keys({QStringLiteral("Escape")});  // dismiss the notice
    }
    ASSERT_EQ(settingsWindow(), window);
    // Back to the Shortcuts row, open it, Tab to the first recorder, record Control+Alt+Y.
    keys(QStringList(4, QStringLiteral("shift+Tab")) << QStringLiteral("space"));
    keys(QStringList(4, QStringLiteral("Tab")) << QStringLiteral("space") << QStringLiteral("ctrl+alt+y"));
    keys({QStringLiteral("Return")});
    ASSERT_TRUE(test::waitUntil([&] { return settingsWindow().isEmpty(); }, 5s)) << "Save did not close the window";

    // The program writes its settings file off its GUI thread: read once it holds the change.
    std::optional<AppSettings> stored;
    ASSERT_TRUE(test::waitUntil(
        [&] {
            const JsonFileDefaultsStore defaults(home_.filePath("config/tavrolin/defaults.json"));
            const std::optional<QJsonValue> raw = defaults.rawValue(QStringLiteral("appSettings"));
            stored = raw ? AppSettings::fromJson(*raw) : std::nullopt;
            return stored && stored->targetLanguage == AppLanguage::german;
        },
        5s))
        << "the settings file never held the change";
    EXPECT_EQ(stored->captureAndTranslateShortcut,
              (HotKeyShortcut{.key = HotKeyKey::y, .option = true, .control = true}));

    // The new combination is held by Tavrolin, the old one is free.
    EXPECT_FALSE(otherClientCanGrab(XK_y, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
    EXPECT_TRUE(otherClientCanGrab(XK_t, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT));
    process_.terminate();
    EXPECT_TRUE(process_.waitForFinished(10000));
}

// ---- translating the front window

QString xdotool(const QStringList& arguments) {
    return run(QStringLiteral("xdotool"), arguments);
}

// The pattern program with part of its window showing English interface text.
class PatternWindowProgram {
public:
    explicit PatternWindowProgram(QPoint position = {120, 140}) {
        const QString program = qEnvironmentVariable("TAVROLIN_BUILD_DIR") +
                                QStringLiteral("/tests/support/tavrolin_test_app_pattern_window");
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(program, {"--size", "640", "400", "--pos", QString::number(position.x()),
                                 QString::number(position.y()), "--ui-text", "400", "240"});
        const QString window = reply(QStringLiteral("window"));
        windowID = window.toULongLong();
        const QStringList at = reply(QStringLiteral("at"), QStringLiteral("where")).split(' ');
        if (at.size() == 4) {
            clientArea = QRect(at[0].toInt(), at[1].toInt(), at[2].toInt(), at[3].toInt());
        }
    }
    ~PatternWindowProgram() {
        process_.write("quit\n");
        if (!process_.waitForFinished(3000)) {
            process_.kill();
            process_.waitForFinished(1000);
        }
    }
    QString reply(const QString& word, const QString& command = {}) {
        if (!command.isEmpty()) {
            process_.write((command + QLatin1Char('\n')).toUtf8());
            process_.waitForBytesWritten(1000);
        }
        QString answer;
        test::waitUntil(
            [&] {
                while (process_.canReadLine()) {
                    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
                    if (line.startsWith(word + QLatin1Char(' ')) || line == word) {
                        answer = line.mid(word.size()).trimmed();
                        return true;
                    }
                }
                return false;
            },
            10s);
        return answer;
    }
    qint64 pid() const { return process_.processId(); }
    void kill() {
        process_.kill();
        process_.waitForFinished(3000);
    }

    quint64 windowID = 0;
    QRect clientArea;

private:
    QProcess process_;
};

QImage screenImage() {
    return QGuiApplication::primaryScreen()->grabWindow(0).toImage().convertToFormat(QImage::Format_RGB32);
}

quint64 activeWindow() {
    return xdotool({"getactivewindow"}).toULongLong();
}

// A window's part of the screen, filmed: the smaller the picture, the more are taken. Frames are
// compared inside the overlay's glowing band (it pulses), without its badge and watermark.
class FilmedWindow {
public:
    explicit FilmedWindow(const QRect& bounds)
        : bounds_(bounds), inner_(QRect(QPoint(0, 0), bounds.size()).adjusted(60, 60, -60, -60)) {}

    QImage film() const {
        return QGuiApplication::primaryScreen()
            ->grabWindow(0, bounds_.x(), bounds_.y(), bounds_.width(), bounds_.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    }

    // What differs from `from`: its bounding box and, when asked, how many of its pixels have
    // another colour than the most common one (a card's text and spinner).
    struct Difference {
        QRect box;
        int drawn = 0;
    };
    Difference differenceFrom(const QImage& frame, const QImage& from, bool countDrawn) const {
        Difference d;
        int left = inner_.right() + 1, right = -1, top = inner_.bottom() + 1, bottom = -1;
        std::unordered_map<QRgb, int> colours;
        for (int y = inner_.top(); y <= inner_.bottom(); ++y) {
            const auto* a = reinterpret_cast<const QRgb*>(frame.constScanLine(y));
            const auto* b = reinterpret_cast<const QRgb*>(from.constScanLine(y));
            for (int x = inner_.left(); x <= inner_.right(); ++x) {
                if (a[x] == b[x] || !judged(x, y)) {
                    continue;
                }
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
                if (countDrawn) {
                    ++colours[a[x]];
                }
            }
        }
        if (right >= 0) {
            d.box = QRect(QPoint(left, top), QPoint(right, bottom));
        }
        int count = 0;
        int dominant = 0;
        for (const auto& [colour, n] : colours) {
            count += n;
            dominant = std::max(dominant, n);
        }
        d.drawn = count - dominant;
        return d;
    }

private:
    bool judged(int x, int y) const {
        return !(y < 70 && x > bounds_.width() - 320) && !(y > bounds_.height() - 70 && x > bounds_.width() - 220);
    }

    QRect bounds_;
    QRect inner_;
};

class WindowTranslationProcessTest : public TavrolinDelegateProcessTest {
protected:
    // Our windows on screen other than the tray icon and the language picker, with their geometry.
    std::vector<QRect> overlayWindows() const {
        std::vector<QRect> found;
        for (const QRect& r : largeWindows()) {
            if (r.width() != pickerWidth) {
                found.push_back(r);
            }
        }
        return found;
    }
    // The language picker, if one is on screen.
    std::optional<QRect> pickerWindow() const {
        for (const QRect& r : largeWindows()) {
            if (r.width() == pickerWidth) {
                return r;
            }
        }
        return std::nullopt;
    }
    static constexpr int pickerWidth = 320;
    std::vector<QRect> largeWindows() const {
        std::vector<QRect> found;
        for (const QString& window : visibleWindows()) {
            const QString shell = xdotool({"getwindowgeometry", "--shell", window});
            QRect r;
            for (const QString& line : shell.split('\n')) {
                const auto value = [&](const char* key) { return line.mid(int(std::strlen(key)) + 1).toInt(); };
                if (line.startsWith("X="))
                    r.moveLeft(value("X"));
                if (line.startsWith("Y="))
                    r.moveTop(value("Y"));
                if (line.startsWith("WIDTH="))
                    r.setWidth(value("WIDTH"));
                if (line.startsWith("HEIGHT="))
                    r.setHeight(value("HEIGHT"));
            }
            if (r.width() > 100 && r.height() > 100) {
                found.push_back(r);
            }
        }
        return found;
    }
    int countLogged(const QString& part) const {
        int count = 0;
        for (const QString& line : logLines()) {
            count += line.contains(part) ? 1 : 0;
        }
        return count;
    }

    // Native Spanish, online features off, a minimum display time of 0.5 s; up with its tray icon.
    void startInSpanish() {
        writeSettings(false, [](AppSettings& s) {
            s.targetLanguage = AppLanguage::spanish;
            s.overlayMinimumDisplayDuration = 0.5;
        });
        start();
        ASSERT_TRUE(test::waitUntil([&] { return visibleWindows().size() == 1; }, 15s)) << "no tray icon was shown";
    }

    // One translation of the front window, from the shortcut or from the tray menu.
    void translateAndDismiss(PatternWindowProgram& pattern, const QRect& bounds, const QImage& before, bool fromTray) {
        const QString success = QStringLiteral("event action=capture_and_translate_active_window trigger=%1")
                                    .arg(fromTray ? "menu" : "hotkey");
        const int successesBefore = countLogged(success);
        if (fromTray) {
            const QStringList icons = visibleWindows();
            ASSERT_EQ(icons.size(), 1);
            xdotool({"mousemove", "--window", icons.first(), "5", "5"});
            xdotool({"click", "3"});
            ASSERT_TRUE(test::waitUntil([&] { return visibleWindows().size() > 1; }, 3s)) << "the menu did not open";
            xdotool({"key", "Down", "Return"});
        } else {
            xdotool({"key", "ctrl+shift+t"});
        }
        ASSERT_TRUE(test::waitUntil([&] { return countLogged(success) > successesBefore; }, 60s))
            << logLines().join('\n').toStdString();
        ASSERT_TRUE(countLogged(success + QStringLiteral(" hotkey=") +
                                (fromTray ? QStringLiteral("none") : QStringLiteral("Control+Shift+T"))) >
                    successesBefore);
        // A key before the minimum display time leaves the overlay.
        xdotool({"key", "a"});
        test::waitUntil([] { return false; }, 150ms);
        std::vector<QRect> overlays = overlayWindows();
        ASSERT_EQ(overlays.size(), 1u) << "the overlay is not on screen";
        EXPECT_EQ(overlays.front(), bounds);
        EXPECT_EQ(activeWindow(), pattern.windowID) << "the overlay took the focus";

        test::waitUntil([] { return false; }, 600ms);
        const QImage after = screenImage();
        // Equal to the screen before the shortcut except in the text's patches, the glowing
        // band, the badge (top right) and the watermark (bottom right). A translation may be
        // wider than its line and hang below it, so only the pattern well to the right of the
        // text is sure to stay as it was.
        const int band = 45;
        const QRect textWithRoom(pattern.clientArea.left(), bounds.top(), 400 + 150, bounds.height());
        int changedOutside = 0;
        int changedInText = 0;
        for (int y = bounds.top() + band; y <= bounds.bottom() - band; ++y) {
            for (int x = bounds.left() + band; x <= bounds.right() - band; ++x) {
                const bool badge = y < bounds.top() + 70 && x > bounds.right() - 320;
                const bool watermark = y > bounds.bottom() - 70 && x > bounds.right() - 220;
                if (badge || watermark || before.pixel(x, y) == after.pixel(x, y)) {
                    continue;
                }
                (textWithRoom.contains(x, y) ? changedInText : changedOutside) += 1;
            }
        }
        EXPECT_EQ(changedOutside, 0);
        EXPECT_GT(changedInText, 500) << "no translated patch";

        // A click elsewhere on the desktop (the panel at the bottom, away from our icon) closes
        // it; the pattern window stays active. (A click on the bare root window would make
        // openbox clear the active window.)
        xdotool({"mousemove", "1090", "784", "click", "1"});
        EXPECT_TRUE(test::waitUntil([&] { return overlayWindows().empty(); }, 3s)) << "the click did not dismiss";
        EXPECT_EQ(activeWindow(), pattern.windowID);
    }
};

TEST_F(WindowTranslationProcessTest, TheShortcutAndTheTrayItemTranslateTheFrontWindow) {
    ASSERT_NO_FATAL_FAILURE(startInSpanish());

    PatternWindowProgram pattern;
    ASSERT_NE(pattern.windowID, 0u);
    pattern.reply(QStringLiteral("activated"), QStringLiteral("activate"));
    ASSERT_TRUE(test::waitUntil([&] { return activeWindow() == pattern.windowID; }, 5s));
    // The window's bounds, frame included, as the window list has them.
    QRect bounds;
    for (const WindowListEntry& entry : x11::sharedWindowList()->onScreenWindows()) {
        if (entry.ownerPID == pattern.pid() && entry.bounds) {
            bounds = entry.bounds->toAlignedRect();
        }
    }
    ASSERT_TRUE(bounds.contains(pattern.clientArea)) << "no bounds for the pattern window";
    const QImage before = screenImage();

    translateAndDismiss(pattern, bounds, before, false);
    EXPECT_TRUE(countLogged(QStringLiteral("workflow start action=capture_and_translate_active_window trigger=hotkey "
                                           "source=auto target=es")) == 1)
        << logLines().join('\n').toStdString();

    translateAndDismiss(pattern, bounds, before, true);
    EXPECT_EQ(countLogged(QStringLiteral("workflow start action=capture_and_translate_active_window trigger=menu")), 1);
}

// The first translation after the start, filmed: each frame shows the window as it was, the
// loading card over it, or the picture. None shows a blank card, the card's text out of its place
// or anything else between the card and the picture.
TEST_F(WindowTranslationProcessTest, TheFirstTranslationShowsTheCardThenThePictureWithNothingBetween) {
    ASSERT_NO_FATAL_FAILURE(startInSpanish());
    PatternWindowProgram pattern;
    ASSERT_NE(pattern.windowID, 0u);
    pattern.reply(QStringLiteral("activated"), QStringLiteral("activate"));
    ASSERT_TRUE(test::waitUntil([&] { return activeWindow() == pattern.windowID; }, 5s));
    QRect bounds;
    for (const WindowListEntry& entry : x11::sharedWindowList()->onScreenWindows()) {
        if (entry.ownerPID == pattern.pid() && entry.bounds) {
            bounds = entry.bounds->toAlignedRect();
        }
    }
    ASSERT_TRUE(bounds.contains(pattern.clientArea)) << "no bounds for the pattern window";
    const FilmedWindow window(bounds);
    const QImage before = window.film();

    const QString success = QStringLiteral("event action=capture_and_translate_active_window trigger=hotkey");
    xdotool({"key", "ctrl+shift+t"});
    QRect card;
    std::vector<QImage> others;  // neither the window as it was nor the card: the picture, or wrong
    QElapsedTimer filming;
    filming.start();
    std::optional<qint64> translatedAt;
    qint64 nextLook = 0;
    while (filming.elapsed() < 60000 && (!translatedAt || filming.elapsed() - *translatedAt < 700)) {
        const QImage frame = window.film();
        // The log is read now and then: the less time between two pictures, the better.
        if (!translatedAt && filming.elapsed() >= nextLook) {
            nextLook = filming.elapsed() + 100;
            if (countLogged(success) > 0) {
                translatedAt = filming.elapsed();
            }
        }
        FilmedWindow::Difference d = window.differenceFrom(frame, before, false);
        if (d.box.isEmpty()) {
            continue;
        }
        const bool cardSized = d.box.width() < 400 && d.box.height() < 250;
        if (others.empty() && cardSized && (card.isEmpty() || card.adjusted(-4, -4, 4, 4).contains(d.box))) {
            d = window.differenceFrom(frame, before, true);
            EXPECT_GT(d.drawn, 400) << "a blank card at " << filming.elapsed() << " ms";
            if (card.isEmpty()) {
                card = d.box;
            }
            continue;
        }
        others.push_back(frame);
    }
    ASSERT_TRUE(translatedAt) << logLines().join('\n').toStdString();
    EXPECT_FALSE(card.isEmpty()) << "no loading card was filmed";
    ASSERT_FALSE(others.empty());
    const QImage picture = others.back();
    for (std::size_t i = 0; i < others.size(); ++i) {
        const FilmedWindow::Difference d = window.differenceFrom(others[i], picture, false);
        if (!d.box.isEmpty()) {
            others[i].save(QDir::temp().filePath(QStringLiteral("tavrolin-first-translation-frame.png")));
        }
        EXPECT_TRUE(d.box.isEmpty()) << "frame " << i << " of " << others.size()
                                     << " is neither the card nor the picture: it differs in " << d.box.x() << ","
                                     << d.box.y() << " " << d.box.width() << "x" << d.box.height();
    }
    xdotool({"mousemove", "1090", "784", "click", "1"});
    EXPECT_TRUE(test::waitUntil([&] { return overlayWindows().empty(); }, 3s));
}

TEST_F(WindowTranslationProcessTest, AWindowPartlyOffScreenWhoseProgramExitsUnderTheOverlay) {
    ASSERT_NO_FATAL_FAILURE(startInSpanish());

    PatternWindowProgram pattern(QPoint(-200, -120));
    ASSERT_NE(pattern.windowID, 0u);
    pattern.reply(QStringLiteral("activated"), QStringLiteral("activate"));
    ASSERT_TRUE(test::waitUntil([&] { return activeWindow() == pattern.windowID; }, 5s));
    const QString done = QStringLiteral("event action=capture_and_translate_active_window trigger=hotkey");
    xdotool({"key", "ctrl+shift+t"});
    ASSERT_TRUE(test::waitUntil([&] { return countLogged(done) == 1; }, 60s)) << logLines().join('\n').toStdString();
    EXPECT_EQ(overlayWindows().size(), 1u);

    // The covered program goes away; the overlay stays until dismissed, and a key after the
    // minimum time dismisses it.
    pattern.kill();
    test::waitUntil([] { return false; }, 700ms);
    EXPECT_EQ(overlayWindows().size(), 1u);
    xdotool({"key", "Escape"});
    EXPECT_TRUE(test::waitUntil([&] { return overlayWindows().empty(); }, 3s));
    EXPECT_EQ(process_.state(), QProcess::Running);

    // Again, with nothing but the desktop in front.
    xdotool({"key", "ctrl+shift+t"});
    ASSERT_TRUE(test::waitUntil([&] { return countLogged(done) == 2; }, 60s)) << logLines().join('\n').toStdString();
    EXPECT_EQ(process_.state(), QProcess::Running);
}

// Each button with the share question due (the translation is the twentieth success): the click
// dismisses the picture, the dismissal asks the question in a modal window, and the picture's
// panel must not go while the click is still being delivered to it.
TEST_F(WindowTranslationProcessTest, AnyMouseButtonOnThePictureClosesItAndTavrolinRunsOn) {
    PatternWindowProgram pattern;
    ASSERT_NE(pattern.windowID, 0u);
    const QString done = QStringLiteral("event action=capture_and_translate_active_window trigger=hotkey");
    for (const QString& button : {QStringLiteral("3"), QStringLiteral("1"), QStringLiteral("2")}) {
        {
            JsonFileDefaultsStore defaults(home_.defaultsFile());
            defaults.setInteger(QStringLiteral("sharePromptTotalSuccessCount"), 19);
            defaults.setInteger(QStringLiteral("sharePromptIndex"), 0);
            defaults.setInteger(QStringLiteral("sharePromptNextAt"), 20);
            defaults.setBool(QStringLiteral("sharePromptDisabledForever"), false);
        }
        ASSERT_NO_FATAL_FAILURE(startInSpanish());
        pattern.reply(QStringLiteral("activated"), QStringLiteral("activate"));
        ASSERT_TRUE(test::waitUntil([&] { return activeWindow() == pattern.windowID; }, 5s));
        const int translated = countLogged(done);  // one log for every start
        xdotool({"key", "ctrl+shift+t"});
        ASSERT_TRUE(test::waitUntil([&] { return countLogged(done) > translated; }, 60s))
            << logLines().join('\n').toStdString();
        ASSERT_EQ(overlayWindows().size(), 1u);
        const QRect overlay = overlayWindows().front();
        test::waitUntil([] { return false; }, 600ms);  // past the minimum display time

        // The middle of the picture, well away from the badge.
        xdotool({"mousemove", QString::number(overlay.center().x()), QString::number(overlay.center().y()), "click",
                 button});
        EXPECT_TRUE(
            test::waitUntil([&] { return test::accessibleTexts(pid_).contains(QStringLiteral("Not Now")); }, 5s))
            << "no share question after button " << button.toStdString() << "\n"
            << logLines().join('\n').right(2500).toStdString();
        const std::vector<QRect> shown = overlayWindows();  // the question's window beside it
        EXPECT_TRUE(std::find(shown.begin(), shown.end(), overlay) == shown.end())
            << "the picture stayed after button " << button.toStdString();
        // The click is still being delivered to the picture's panel while the question waits:
        // answered, the delivery goes on. A crash report takes its time to be written before
        // the program ends.
        EXPECT_TRUE(test::pressAccessible(pid_, QStringLiteral("Not Now")));
        ASSERT_FALSE(process_.waitForFinished(1500)) << "Tavrolin ended after button " << button.toStdString();
        stopProgram();
    }
}

// ---- the overlay's language picker

namespace {

QImage region(const QImage& screen, const QRect& r) {
    return screen.copy(r);
}

}  // namespace

TEST_F(WindowTranslationProcessTest, TheBadgeOpensThePickerThatTranslatesTheScreenshotAgain) {
    ASSERT_NO_FATAL_FAILURE(startInSpanish());
    PatternWindowProgram pattern;
    ASSERT_NE(pattern.windowID, 0u);
    pattern.reply(QStringLiteral("activated"), QStringLiteral("activate"));
    ASSERT_TRUE(test::waitUntil([&] { return activeWindow() == pattern.windowID; }, 5s));
    const QString captured = QStringLiteral("event action=capture_and_translate_active_window trigger=hotkey");
    xdotool({"key", "ctrl+shift+t"});
    ASSERT_TRUE(test::waitUntil([&] { return countLogged(captured) == 1; }, 60s))
        << logLines().join('\n').toStdString();
    ASSERT_EQ(overlayWindows().size(), 1u);
    const QRect overlay = overlayWindows().front();
    test::waitUntil([] { return false; }, 600ms);  // past the minimum display time

    // The badge: 18 from the overlay's top and right, as high as its 13-pixel text plus 16.
    QFont badgeFont;
    badgeFont.setPixelSize(13);
    badgeFont.setWeight(QFont::DemiBold);
    const int badgeHeight = QFontMetrics(badgeFont).height() + 16;
    const int badgeRight = overlay.x() + overlay.width() - 18;
    const int badgeBottom = overlay.y() + 18 + badgeHeight;
    const QRect badgeArea(badgeRight - 200, overlay.y() + 18, 200, badgeHeight);
    const QImage badgeBefore = region(screenImage(), badgeArea);
    const auto clickBadge = [&] {
        xdotool({"mousemove", QString::number(badgeRight - 8), QString::number(overlay.y() + 18 + badgeHeight / 2),
                 "click", "1"});
        return test::waitUntil([&] { return pickerWindow().has_value(); }, 3s);
    };

    ASSERT_TRUE(clickBadge()) << "no picker";
    const QRect picker = *pickerWindow();
    EXPECT_EQ(picker.width(), 320);
    EXPECT_GE(picker.height(), 200);
    EXPECT_EQ(picker.x() + picker.width(), badgeRight) << "its right edge on the badge's";
    EXPECT_EQ(picker.y(), badgeBottom + 6) << "6 below the badge";
    ASSERT_TRUE(test::waitUntil([&] { return activeWindow() != pattern.windowID; }, 3s)) << "the picker has no focus";

    // Spanish -> English with the keyboard: the source menu has the focus; Tab goes to the target.
    xdotool({"type", "s"});
    xdotool({"key", "Tab"});
    xdotool({"type", "e"});
    test::waitUntil([] { return false; }, 1500ms);  // the check of the pair
    xdotool({"key", "Return"});
    const QString retranslated = QStringLiteral("event action=retranslate_overlay trigger=overlay");
    ASSERT_TRUE(test::waitUntil([&] { return countLogged(retranslated) == 1; }, 60s))
        << logLines().join('\n').toStdString();
    EXPECT_EQ(
        countLogged(QStringLiteral("workflow start action=retranslate_overlay trigger=overlay source=es target=en")),
        1);
    EXPECT_EQ(countLogged(retranslated + QStringLiteral(" hotkey=none source=es target=en success=true")), 1)
        << logLines().join('\n').toStdString();
    EXPECT_FALSE(pickerWindow());
    test::waitUntil([] { return false; }, 300ms);
    ASSERT_EQ(overlayWindows().size(), 1u);
    EXPECT_NE(region(screenImage(), badgeArea), badgeBefore) << "the badge still names the old pair";

    // Escape closes only the picker.
    test::waitUntil([] { return false; }, 600ms);
    ASSERT_TRUE(clickBadge());
    xdotool({"key", "Escape"});
    EXPECT_TRUE(test::waitUntil([&] { return !pickerWindow(); }, 3s));
    test::waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(overlayWindows().size(), 1u) << "Escape closed the overlay too";

    // French -> Spanish needs a package that is not installed: the notice, and Return does nothing.
    ASSERT_TRUE(clickBadge());
    xdotool({"type", "f"});
    xdotool({"key", "Tab"});
    xdotool({"type", "s"});
    ASSERT_TRUE(test::waitUntil(
        [&] { return countLogged(QStringLiteral("language picker: fr -> es needs installing")) == 1; }, 10s))
        << logLines().join('\n').toStdString();
    xdotool({"key", "Return"});
    test::waitUntil([] { return false; }, 500ms);
    EXPECT_EQ(countLogged(QStringLiteral("workflow start action=retranslate_overlay trigger=overlay source=fr")), 0);
    ASSERT_TRUE(pickerWindow()) << "Return closed the picker";

    // A click in the transparent corner beside the arrow reaches the overlay below, which closes.
    xdotool({"mousemove", QString::number(picker.x() + 3), QString::number(picker.y() + 3), "click", "1"});
    EXPECT_TRUE(test::waitUntil([&] { return overlayWindows().empty() && !pickerWindow(); }, 3s))
        << "the corner kept the click";
    EXPECT_TRUE(test::waitUntil([&] { return activeWindow() == pattern.windowID; }, 3s))
        << "the covered window did not get its focus back";
    EXPECT_EQ(process_.state(), QProcess::Running);
}

}  // namespace
}  // namespace tavrolin
