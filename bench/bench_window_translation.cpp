// Translating the front window from the shortcut, as the user sees it: the program as built in
// this folder (the optimised build under `make bench`) runs in the desktop session with the
// pattern program in front, showing English interface text over a whole 1280x800 window;
// native language Spanish (Apertium English to Spanish), online features off.
//
// For each press of Control+Shift+T (XTest) it measures, on a connection of its own:
//   card:  the press to the MapNotify of the loading card's window;
//   image: the press to the usage-event line of the shown overlay in the program's log.
// The first press is reported apart (Tesseract and Apertium start cold), then the medians of 15.
// Then, over one more overlay, the re-translation from its language picker: the badge clicked,
// English -> Spanish chosen once with the keyboard, and for each Return (Apply) the time to the
// usage-event line of the re-translated image; the first apart, then the median of 15.
// The same presses then go to an xterm running a job (a window with no accessible element).
// Run it under `taskset -c 0,1` as well for a two-core machine.
#include "core/app_settings_store.h"
#include "core/defaults_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <X11/keysym.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <thread>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

using namespace tavrolin;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QString readLine(QProcess& process, const QString& word, std::chrono::milliseconds limit = 10s) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        while (process.canReadLine()) {
            const QString line = QString::fromUtf8(process.readLine()).trimmed();
            if (line.startsWith(word)) {
                return line.mid(word.size()).trimmed();
            }
        }
        process.waitForReadyRead(50);
    }
    return {};
}

int countInFile(const QString& path, const QByteArray& part) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return 0;
    }
    return static_cast<int>(file.readAll().count(part));
}

class Keyboard {
public:
    explicit Keyboard(xcb_connection_t* c) : c_(c), symbols_(xcb_key_symbols_alloc(c)) {}
    ~Keyboard() { xcb_key_symbols_free(symbols_); }
    void press(std::initializer_list<xcb_keysym_t> keys) {
        std::vector<xcb_keycode_t> codes;
        for (xcb_keysym_t key : keys) {
            xcb_keycode_t* code = xcb_key_symbols_get_keycode(symbols_, key);
            codes.push_back(code ? code[0] : 0);
            std::free(code);
        }
        for (xcb_keycode_t code : codes) {
            xcb_test_fake_input(c_, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        for (auto it = codes.rbegin(); it != codes.rend(); ++it) {
            xcb_test_fake_input(c_, XCB_KEY_RELEASE, *it, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        xcb_flush(c_);
    }

private:
    xcb_connection_t* c_;
    xcb_key_symbols_t* symbols_;
};

void click(xcb_connection_t* c, xcb_window_t root, int x, int y) {
    xcb_test_fake_input(c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, root, static_cast<int16_t>(x),
                        static_cast<int16_t>(y), 0);
    xcb_test_fake_input(c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_test_fake_input(c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    xcb_flush(c);
}

// A window's rectangle on the root.
std::optional<std::pair<int, int>> topRight(xcb_connection_t* c, xcb_window_t root, xcb_window_t window) {
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr);
    xcb_translate_coordinates_reply_t* at =
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root, 0, 0), nullptr);
    std::optional<std::pair<int, int>> corner;
    if (geometry && at) {
        corner = std::pair<int, int>{at->dst_x + geometry->width, at->dst_y};
    }
    std::free(geometry);
    std::free(at);
    return corner;
}

// Waits for the next MapNotify (or UnmapNotify) of a child of the root; `window` gets its id.
std::optional<Clock::time_point> waitForMapping(xcb_connection_t* c, uint8_t type, std::chrono::milliseconds limit,
                                                xcb_window_t* window = nullptr) {
    const auto end = Clock::now() + limit;
    while (Clock::now() < end) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const uint8_t kind = event->response_type & 0x7f;
            if (kind == XCB_MAP_NOTIFY && window) {
                *window = reinterpret_cast<xcb_map_notify_event_t*>(event)->window;
            }
            std::free(event);
            if (kind == type) {
                return Clock::now();
            }
        }
        std::this_thread::sleep_for(200us);
    }
    return std::nullopt;
}

void drain(xcb_connection_t* c) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        std::free(event);
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    for (const char* folder : {"config/tavrolin", "data", "state", "runtime"}) {
        QDir().mkpath(home.filePath(QString::fromLatin1(folder)));
    }
    QFile::setPermissions(home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    {
        JsonFileDefaultsStore defaults(home.filePath("config/tavrolin/defaults.json"));
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        settings.targetLanguage = AppLanguage::spanish;
        settings.onlineFeaturesEnabled = false;
        settings.telemetryEnabled = false;
        settings.selectionPopupEnabled = false;
        settings.launchAtLoginEnabled = false;
        settings.overlayMinimumDisplayDuration = 0;
        if (store.persist(settings)) {
            std::fprintf(stderr, "cannot write the settings\n");
            return 1;
        }
        defaults.setInteger(QStringLiteral("onboardingCompletedVersion"), 1);
        // The share prompt would come up in front after a number of translations.
        defaults.setBool(QStringLiteral("sharePromptDisabledForever"), true);
    }

    QProcess pattern;
    pattern.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    pattern.start(QStringLiteral(TAVROLIN_PATTERN_PROGRAM),
                  {"--size", "1280", "800", "--pos", "0", "0", "--ui-text", "1280", "800"});
    if (readLine(pattern, QStringLiteral("window ")).isEmpty()) {
        std::fprintf(stderr, "the pattern program did not show its window\n");
        return 1;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", home.filePath("config"));
    environment.insert("XDG_DATA_HOME", home.filePath("data"));
    environment.insert("XDG_STATE_HOME", home.filePath("state"));
    environment.insert("XDG_RUNTIME_DIR", home.filePath("runtime"));
    environment.insert("TAVROLIN_LOG_BACKEND", "file");
    QProcess program;
    program.setProcessEnvironment(environment);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    program.start(QStringLiteral(TAVROLIN_EXECUTABLE), {});
    const QString log = home.filePath("state/tavrolin/tavrolin.log");
    const auto launchEnd = Clock::now() + 20s;
    while (countInFile(log, "launch version=") == 0 && Clock::now() < launchEnd) {
        std::this_thread::sleep_for(20ms);
    }
    std::this_thread::sleep_for(500ms);  // the shortcuts are registered after the launch line

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
    Keyboard keyboard(c);

    const QByteArray shown = "event action=capture_and_translate_active_window trigger=hotkey";
    constexpr int runs = 15;
    // The first press apart, then the medians of `runs`, with `activate` bringing the window in
    // front before each press. False when a press showed no card or no picture.
    const auto measure = [&](const char* name, const std::function<void()>& activate) {
        std::vector<double> cards;
        std::vector<double> images;
        std::optional<std::pair<double, double>> cold;
        for (int run = 0; run <= runs; ++run) {
            activate();
            std::this_thread::sleep_for(150ms);
            drain(c);
            const int before = countInFile(log, shown);
            const auto start = Clock::now();
            keyboard.press({XK_Control_L, XK_Shift_L, XK_t});
            const auto card = waitForMapping(c, XCB_MAP_NOTIFY, 5s);
            std::optional<Clock::time_point> image;
            const auto end = Clock::now() + 30s;
            while (Clock::now() < end) {
                if (countInFile(log, shown) > before) {
                    image = Clock::now();
                    break;
                }
                std::this_thread::sleep_for(1ms);
            }
            if (!card || !image) {
                std::fprintf(stderr, "run %d: no %s\n", run, card ? "overlay" : "card");
                QFile file(log);
                if (file.open(QIODevice::ReadOnly)) {
                    const QList<QByteArray> lines = file.readAll().split('\n');
                    for (qsizetype i = std::max<qsizetype>(0, lines.size() - 12); i < lines.size(); ++i) {
                        std::fprintf(stderr, "  log: %s\n", lines[i].constData());
                    }
                }
                break;
            }
            const double cardMs = milliseconds(*card - start);
            const double imageMs = milliseconds(*image - start);
            if (run == 0) {
                cold = {cardMs, imageMs};
            } else {
                cards.push_back(cardMs);
                images.push_back(imageMs);
            }
            keyboard.press({XK_Escape});
            waitForMapping(c, XCB_UNMAP_NOTIFY, 3s);
        }

        if (cold) {
            std::printf("%s, cold first run: card %.1f ms, overlay image %.1f ms\n", name, cold->first, cold->second);
        }
        std::printf("%s, warm, median of %zu: card %.1f ms, overlay image %.1f ms\n", name, cards.size(), median(cards),
                    median(images));
        return cards.size() == runs;
    };
    const bool patternMeasured = measure("pattern window", [&] {
        pattern.write("activate\n");
        readLine(pattern, QStringLiteral("activated"));
    });

    // Re-translation from the picker, over one more overlay.
    pattern.write("activate\n");
    readLine(pattern, QStringLiteral("activated"));
    std::this_thread::sleep_for(150ms);
    drain(c);
    const int overlaysBefore = countInFile(log, shown);
    keyboard.press({XK_Control_L, XK_Shift_L, XK_t});
    xcb_window_t overlayWindow = XCB_NONE;
    waitForMapping(c, XCB_MAP_NOTIFY, 5s, &overlayWindow);
    const auto overlayEnd = Clock::now() + 30s;
    while (countInFile(log, shown) == overlaysBefore && Clock::now() < overlayEnd) {
        std::this_thread::sleep_for(5ms);
    }
    const auto corner = overlayWindow != XCB_NONE ? topRight(c, root, overlayWindow) : std::nullopt;
    const QByteArray retranslated = "event action=retranslate_overlay trigger=overlay";
    std::vector<double> applies;
    std::optional<double> coldApply;
    for (int run = 0; corner && run <= runs; ++run) {
        drain(c);
        // The badge: 18 from the overlay's top and right edges.
        click(c, root, corner->first - 26, corner->second + 30);
        if (!waitForMapping(c, XCB_MAP_NOTIFY, 3s)) {
            std::fprintf(stderr, "re-translation run %d: no picker\n", run);
            break;
        }
        std::this_thread::sleep_for(300ms);
        if (run == 0) {
            keyboard.press({XK_e});
            keyboard.press({XK_Tab});
            keyboard.press({XK_s});
        }
        std::this_thread::sleep_for(700ms);  // the check of the pair
        const int before = countInFile(log, retranslated);
        const auto start = Clock::now();
        keyboard.press({XK_Return});
        std::optional<Clock::time_point> image;
        const auto end = Clock::now() + 30s;
        while (Clock::now() < end) {
            if (countInFile(log, retranslated) > before) {
                image = Clock::now();
                break;
            }
            std::this_thread::sleep_for(1ms);
        }
        if (!image) {
            std::fprintf(stderr, "re-translation run %d: no image\n", run);
            break;
        }
        if (run == 0) {
            coldApply = milliseconds(*image - start);
        } else {
            applies.push_back(milliseconds(*image - start));
        }
        std::this_thread::sleep_for(200ms);
    }
    if (coldApply) {
        std::printf("re-translation English -> Spanish, first: Apply to image %.1f ms\n", *coldApply);
    }
    std::printf("re-translation English -> Spanish, median of %zu: Apply to image %.1f ms\n", applies.size(),
                median(applies));
    // A terminal running a job, which shows no accessible element: the probe reads PRIMARY once.
    QProcess xterm;
    xterm.start(QStringLiteral("xterm"),
                {"-geometry", "100x30+0+0", "-e", "sh", "-c", "echo The weather is very nice today.; exec sleep 600"});
    std::this_thread::sleep_for(1500ms);
    bool terminalMeasured = false;
    if (xterm.waitForStarted(5000)) {
        QProcess search;
        search.start(QStringLiteral("xdotool"), {"search", "--sync", "--onlyvisible", "--class", "XTerm"});
        search.waitForFinished(10000);
        const QString window = QString::fromLatin1(search.readAllStandardOutput()).section('\n', 0, 0).trimmed();
        terminalMeasured = !window.isEmpty() && measure("xterm", [&window] {
            QProcess::execute(QStringLiteral("xdotool"), {"windowactivate", "--sync", window});
        });
        if (xterm.state() != QProcess::Running) {
            std::fprintf(stderr, "the terminal's job ended\n");
            terminalMeasured = false;
        }
        xterm.terminate();
        xterm.waitForFinished(3000);
    } else {
        std::fprintf(stderr, "xterm did not start\n");
    }

    xcb_disconnect(c);
    program.terminate();
    program.waitForFinished(5000);
    pattern.write("quit\n");
    pattern.waitForFinished(3000);
    return patternMeasured && terminalMeasured && applies.size() == runs ? 0 : 1;
}
