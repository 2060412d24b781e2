#pragma once

// What the program takes from the desktop it runs on: one factory per facility, behind the
// interfaces of src/platform. The back end the program is linked with defines them: the Linux
// one (src/platform/linux) in the program, its desktop and engine tests and the benchmarks; the
// null one (src/platform/null) in unit tests, where every factory refuses, so a unit test that
// reached the desktop would fail instead of touching it. Only the composition root (src/shell,
// src/app) includes this header; every other library is handed the facilities it needs.

#include "platform/accessibility_bus_status.h"
#include "platform/accessibility_calls.h"
#include "platform/audio_input.h"
#include "platform/clipboard.h"
#include "platform/compositing_manager.h"
#include "platform/dictation_authorization.h"
#include "platform/front_application.h"
#include "platform/front_window_activation.h"
#include "platform/global_key_grabbing.h"
#include "platform/global_mouse_monitoring.h"
#include "platform/http_client.h"
#include "platform/keyboard_grabbing.h"
#include "platform/keyboard_layout_reading.h"
#include "platform/language_recognizer.h"
#include "platform/log_sink.h"
#include "platform/on_device_translation_engine.h"
#include "platform/power_assertion.h"
#include "platform/primary_selection.h"
#include "platform/process_table.h"
#include "platform/screen_capture_permission.h"
#include "platform/screen_capturing.h"
#include "platform/speech_decoder.h"
#include "platform/spelling_dictionary.h"
#include "platform/synthetic_input.h"
#include "platform/system_event_monitoring.h"
#include "platform/text_recognition_engine.h"
#include "platform/user_key_activity.h"
#include "platform/window_list.h"
#include "platform/window_ping.h"
#include "platform/zip_archive_writer.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// ---- The log

// The desktop's journal as a log sink, null where the program is built without its client, and
// whether its socket is there to write to now.
struct SystemJournal {
    std::shared_ptr<LogSink> sink;
    bool isRunning = false;
};
SystemJournal systemJournal();

// ---- Accessibility, the clipboard and synthetic input

// The process's one accessibility client; every call runs on its own thread.
std::shared_ptr<AccessibilityCalls> systemAccessibilityCalls();

// The switch of the desktop's accessibility bus.
std::unique_ptr<AccessibilityBusStatus> makeSystemAccessibilityBusStatus();

// The desktop's clipboard, saving and restoring every format; formats too large to keep are
// skipped and reported to `onFormatSkipped`.
std::unique_ptr<Clipboard> makeSystemClipboard(
    std::function<void(const QString& format, qsizetype size)> onFormatSkipped);

// Keys and pointer motion sent through the display server, over a connection opened now.
std::unique_ptr<SyntheticInput> makeSystemSyntheticInput();

// Pointer motion alone, over a connection opened by the first call (a start then opens none for
// it); `isAvailable` answers whether that connection can send, opening it when it is not yet.
struct DeferredSyntheticPointer {
    std::shared_ptr<SyntheticPointerInput> pointer;
    std::function<bool()> isAvailable;
};
DeferredSyntheticPointer makeSystemDeferredSyntheticPointer();

// ---- The front application, windows and the desktop's input

// The desktop's ping of a top-level window's program: a connection and a worker thread of its
// own. Create it on the main thread.
std::shared_ptr<WindowPinging> makeSystemWindowPing();

// The system's process table, read from /proc.
std::shared_ptr<ProcessTable> makeSystemProcessTable();

// The application of the active window, trusted only while a window manager answers for it;
// without a window manager, that of the top-level window holding the input focus. Its process id
// comes from the window, else from the display server. One for the process, made on first use;
// without a display it answers absent.
std::shared_ptr<FrontApplicationProviding> defaultFrontApplicationProvider();

// Asks the window manager to activate a window, over a display connection of its own. Without a
// display it answers absent and false.
std::shared_ptr<FrontWindowActivating> makeSystemFrontWindowActivation();

// Raw button presses anywhere on the desktop, read on a connection and thread of their own and
// forwarded to the main thread.
std::shared_ptr<GlobalMouseMonitoring> makeSystemGlobalMouseMonitoring();
// Raw input events and changes of the active application, on the same kind of reader.
std::shared_ptr<GlobalInputMonitoring> makeSystemGlobalInputMonitoring();
// When the user last typed, read on a connection and thread of its own; null when the display
// server tells no key's source (no XInput 2.1).
std::shared_ptr<UserKeyActivity> makeSystemUserKeyActivity();

// The PRIMARY selection's reader: its own display connection and worker thread; presses are
// watched through the given raw input monitoring (none: PRIMARY is never trusted, since a stale
// one could not be told apart). Create it on the main thread.
std::shared_ptr<PrimarySelectionReading> makeSystemPrimarySelectionReader(
    std::shared_ptr<GlobalInputMonitoring> monitoring);

// A keyboard grab over the toolkit's own display connection (the key events must reach its event
// queue). Without a display it grabs nothing.
std::unique_ptr<KeyboardGrabbing> makeSystemKeyboardGrab();

// Whether a grab made through makeSystemKeyboardGrab() holds the keyboard now: synthetic keys
// would then reach our own window, not the application under it. Main thread only.
bool anyOwnKeyboardGrabActive();

// The global shortcut grabber of this desktop session, over the application's own display
// connection. Without a display every grab answers `failed`.
std::unique_ptr<GlobalKeyGrabbing> makeSystemGlobalKeyGrabber();

// The process's one reader of the keyboard's layouts, created on first use.
std::shared_ptr<KeyboardLayoutReading> systemKeyboardLayoutReader();

// The desktop's window list, one for the process.
std::shared_ptr<WindowListProviding> systemWindowList();

// Captures of windows and screens, one for the process.
std::shared_ptr<ScreenCapturing> systemScreenCapture();

// The desktop's permission to capture the screen.
std::shared_ptr<ScreenCapturePermission> systemScreenCapturePermission();

// Keeps a window that is not mapped yet out of the taskbar and the pager and on every desktop,
// as the overlays and popups expect. Does nothing without a desktop that takes such hints.
void markAsOverlayWindow(quint64 window);

// Whether a compositing manager draws the toolkit's screen, one for the process; without a
// display it answers false.
std::shared_ptr<CompositingManagerDetecting> systemCompositingManagerDetector();

// Waits until the display server has handled every request the toolkit sent so far (an unmapped
// menu, say), so that another connection sees the screen as the toolkit left it. Does nothing
// without a display.
void syncWithDisplayServer();

// ---- Engines

// The language recognizer of this desktop.
std::unique_ptr<LanguageRecognizer> makeSystemLanguageRecognizer();

// The on-device translation engine of this desktop.
std::unique_ptr<OnDeviceTranslationEngine> makeSystemTranslationEngine();

// The package that installs the language data of that engine for a pair; none when no package
// holds the pair.
std::optional<QString> systemTranslationPackageForPair(const QString& source, const QString& target);

// The text recognition engine of this desktop: one for the whole process while anyone holds it,
// so that every reader shares its threads and the language data loaded on them. Cheap to make:
// the engine's library is loaded by the first call that reads (installedLanguages() included),
// off the GUI thread as every call here is; while it cannot be loaded each call throws
// TextRecognitionError "text recognition is not available: <reason>". Engines are loaded on
// first use per thread and language set and freed when their thread has been idle for a while.
std::shared_ptr<TextRecognitionEngine> makeSystemTextRecognitionEngine();

// One instance of a spelling dictionary, loaded from its affix and word files (paths in the file
// system's encoding); null when the dictionary cannot be used.
std::unique_ptr<SpellingDictionary> loadSystemSpellingDictionary(const QByteArray& affixPath,
                                                                 const QByteArray& dictionaryPath);

// The speech models installed on this computer. The speech library is loaded by the first
// loadDecoder(); while it cannot be, every load fails with "speech recognition is not available:
// <reason>".
std::shared_ptr<SpeechModelProviding> makeSystemSpeechModels();

// A fresh source reading the sound server's default input; the first one loads the sound
// server's client library (never call it on the GUI thread). While that cannot be loaded, the
// source's start() fails with "audio input is not available: <reason>".
std::unique_ptr<AudioInputSource> makeSystemAudioInputSource();

// The desktop's own answer on microphone and speech recognition access.
std::shared_ptr<DictationAuthorizing> makeSystemDictationAuthorization();

// The zip writer of this desktop, whose library is loaded by the first write.
std::shared_ptr<const ZipArchiveWriter> makeSystemZipArchiveWriter();

// The process's HTTP client (libcurl), its one connection cache. Cheap to make: the library is
// opened and the system's certificates loaded off the GUI thread by prepare() or else by the
// first exchange, and the client then runs on the event loop of the thread that made it (make it
// on the GUI thread). While the library cannot be opened, every
// exchange fails with "HTTP is not available: <reason>".
std::shared_ptr<HttpClient> systemHttpClient();

// ---- Power and the system's notices

// Assertions that keep the machine from sleeping for lack of activity.
std::shared_ptr<PowerAssertionProviding> makeSystemSleepAssertions();
// Assertions that keep the display from sleeping for lack of activity.
std::shared_ptr<PowerAssertionProviding> makeDisplaySleepAssertions();

// The machine's wake-ups and clock changes.
std::unique_ptr<SystemEventMonitoring> makeSystemEventMonitor();

}  // namespace tavrolin
