#pragma once

// One AppDelegate over an in-memory desktop, for the tests of the composition root and of the
// workflows it runs. Every collaborator the delegate builds is replaced by a fake that writes
// "build <name>" and what it was asked into one event log, so that a test can check the order
// in which things are built and used. A test chooses what exists before calling factories() or
// make(): a real focused-field accessor over the fake accessibility tree (`withAccessor`), a
// front-window detector (`withDetector`), the window translation pipeline, the accessibility
// switch (`withAccessibilityBus`), onboarding and the dictation scratchpad. FocusedFieldDesktop starts with a focused field in a
// front window, the state the focused-field and selection commands begin from.

#include "anti_sleep/anti_sleep_manager.h"
#include "commands/app_alerts.h"
#include "core/device_identifier.h"
#include "core/user_preferred_languages_provider.h"
#include "core/workflow_log.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/dictation_scratchpad_view_model.h"
#include "dictation/dictation_scratchpad_window_controller.h"
#include "focused_text/focused_text_field_accessor.h"
#include "onboarding/onboarding_presenting.h"
#include "onboarding/onboarding_state_store.h"
#include "platform/front_window_activation.h"
#include "platform/system_event_monitoring.h"
#include "selection_popup/selection_popup_seams.h"
#include "shell/app_delegate.h"
#include "shell/error_messages.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "shell/share_prompt_store.h"
#include "support/async.h"
#include "support/fakes/fake_accessibility.h"
#include "support/fakes/fake_accessibility_bus_status.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_dictation_authorization.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_global_key_grabber.h"
#include "support/fakes/fake_power_assertions.h"
#include "support/fakes/fake_primary_selection.h"
#include "support/fakes/fake_screen_capture.h"
#include "support/fakes/fake_screen_capture_permission.h"
#include "support/fakes/fake_speech_backends.h"
#include "support/fakes/fake_synthetic_input.h"
#include "support/fakes/fake_window_list.h"
#include "support/fakes/gated_text_recognizer.h"
#include "support/fakes/held_text_requests.h"
#include "support/fakes/in_memory_text_clients.h"
#include "support/fakes/inline_accessibility_calls.h"
#include "support/fakes/memory_log_sink.h"
#include "support/fakes/recording_translation_clients.h"
#include "support/fakes/scripted_alert_presenter.h"
#include "support/fakes/scripted_language_recognizer.h"
#include "support/qt_printers.h"
#include "support/virtual_time.h"
#include "updates/app_update_configuration.h"
#include "updates/app_update_state_store.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <coroutine>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace tavrolin::test {

// The loading card: each call goes into the event log ("overlay.<call>") and, in a shorter
// form that names the card's place, into `calls`.
class RecordingOverlay final : public ScreenshotOverlayPresenter {
public:
    explicit RecordingOverlay(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}
    double minimumDisplayDuration() const override { return minimum; }
    void setMinimumDisplayDuration(double seconds) override {
        minimum = seconds;
        log_->add(QStringLiteral("overlay.minimumDisplayDuration %1").arg(seconds));
    }
    void setOnDismiss(std::function<void()> callback) override {
        onDismiss = std::move(callback);
        log_->add(QStringLiteral("overlay.setOnDismiss"));
    }
    void showLoading(const QString& message, bool usesServer) override {
        log_->add(QStringLiteral("overlay.showLoading %1 %2").arg(message).arg(usesServer));
        calls << QStringLiteral("showLoading ") + message;
    }
    void presentLoading(const QRectF& bounds, std::optional<qint32> pid, const QString& message,
                        bool usesServer) override {
        if (failLoading) {
            failLoading = false;
            throw std::runtime_error("no screen for the card");
        }
        log_->add(QStringLiteral("overlay.presentLoading %1 %2").arg(message).arg(usesServer));
        calls << QStringLiteral("loading %1,%2 %3x%4 pid=%5 %6 server=%7")
                     .arg(bounds.x())
                     .arg(bounds.y())
                     .arg(bounds.width())
                     .arg(bounds.height())
                     .arg(pid ? QString::number(*pid) : QStringLiteral("none"), message)
                     .arg(usesServer);
        panelUp = true;
    }
    bool presentImage(const QImage& image, const QRectF&, std::optional<qint32>, const QString& name,
                      const TranslationLanguagePair& pair, bool,
                      std::function<void(TranslationLanguagePair)> requested) override {
        log_->add(QStringLiteral("overlay.presentImage %1").arg(name));
        shownImage = image;
        shownPair = pair;
        onTranslationRequested = std::move(requested);
        panelUp = imageShows;
        return imageShows;
    }
    void clear(bool notify) override {
        log_->add(QStringLiteral("overlay.clear %1").arg(notify));
        calls << QStringLiteral("clear %1").arg(notify);
        panelUp = false;
        if (notify && onDismiss) {
            onDismiss();
        }
    }
    void attemptClear(bool notify) override { clear(notify); }
    bool hasOverlayPanel() const override { return panelUp; }

    double minimum = -1;
    bool panelUp = false;
    // False: the image's bounds lie on no display.
    bool imageShows = true;
    // The next presentLoading() throws.
    bool failLoading = false;
    QStringList calls;
    std::function<void()> onDismiss;
    std::function<void()> openTranslationSetup;
    std::function<void(TranslationLanguagePair)> onTranslationRequested;
    TranslationLanguagePair shownPair;
    QImage shownImage;

private:
    std::shared_ptr<EventLog> log_;
};

// The result popup: each call goes into the event log ("popup.<call>") and, with what it
// showed and where, into `calls` and `results`.
class RecordingPopup final : public SelectionTranslationPopupPresenter {
public:
    explicit RecordingPopup(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}
    double minimumDisplayDuration() const override { return minimum; }
    void setMinimumDisplayDuration(double seconds) override {
        minimum = seconds;
        log_->add(QStringLiteral("popup.minimumDisplayDuration %1").arg(seconds));
    }
    void setOnDismiss(std::function<void()> callback) override {
        onDismiss = std::move(callback);
        log_->add(QStringLiteral("popup.setOnDismiss"));
    }
    void present(const SelectionTranslationResult& result, const std::optional<QRectF>& frame) override {
        log_->add(QStringLiteral("popup.present"));
        record(QStringLiteral("present %1 -> %2 over %3").arg(result.originalText, result.translatedText, name(frame)));
        results.push_back(result);
    }
    void presentNothingSelected(const std::optional<QRectF>& frame) override {
        log_->add(QStringLiteral("popup.presentNothingSelected"));
        record(QStringLiteral("nothing selected over ") + name(frame));
    }
    static QString name(const std::optional<QRectF>& frame) {
        return frame ? QStringLiteral("%1,%2 %3x%4")
                           .arg(frame->x())
                           .arg(frame->y())
                           .arg(frame->width())
                           .arg(frame->height())
                     : QStringLiteral("none");
    }

    double minimum = 1.5;
    std::function<void()> onDismiss;
    QStringList calls;
    std::vector<SelectionTranslationResult> results;
    // Also written here when set (the loading card's calls, to see the order of the two).
    QStringList* journal = nullptr;

private:
    void record(const QString& call) {
        calls << call;
        if (journal) {
            *journal << call;
        }
    }
    std::shared_ptr<EventLog> log_;
};

class RecordingTrigger final : public SelectionPopupTriggerController {
public:
    explicit RecordingTrigger(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}
    void start() override { log_->add(QStringLiteral("trigger.start")); }
    void stop() override { log_->add(QStringLiteral("trigger.stop")); }
    void setAutoDismissDelay(double seconds) override {
        log_->add(QStringLiteral("trigger.autoDismissDelay %1").arg(seconds));
    }
    // The buttons' commands, each given the selection its row was shown for.
    std::function<void(FocusedTextFieldSnapshot)> onTranslate, onFlip, onEdit;

private:
    std::shared_ptr<EventLog> log_;
};

class RecordingOnboardingWindow final : public OnboardingWindow {
public:
    explicit RecordingOnboardingWindow(OnboardingRequest request) : request(std::move(request)) {}
    void bringToFront() override { ++broughtToFront; }
    bool handleHotKeyAction(HotKeyAction action) override {
        offered.push_back(action);
        return false;
    }
    OnboardingRequest request;
    int broughtToFront = 0;
    std::vector<HotKeyAction> offered;
};

class RecordingOnboardingPresenter final : public OnboardingPresenting {
public:
    explicit RecordingOnboardingPresenter(std::vector<RecordingOnboardingWindow*>* windows) : windows_(windows) {}
    std::unique_ptr<OnboardingWindow> makeWindow(OnboardingRequest request) override {
        auto window = std::make_unique<RecordingOnboardingWindow>(std::move(request));
        windows_->push_back(window.get());
        return window;
    }

private:
    std::vector<RecordingOnboardingWindow*>* windows_;
};

class RecordingTelemetryClient final : public TelemetryClient {
public:
    explicit RecordingTelemetryClient(std::shared_ptr<EventLog> log) : log_(std::move(log)) {}
    void send(const TelemetryEvent& event) override {
        log_->add(QStringLiteral("telemetry ") + rawValue(event.action));
    }

private:
    std::shared_ptr<EventLog> log_;
};

class ManualEventMonitor final : public SystemEventMonitoring {
public:
    void wake() { Q_EMIT didWake(); }
    void clockChanged() { Q_EMIT clockDidChange(); }
};

// A bus whose "enabled" answers all arrive together when the test fires `gate`.
class GatedAccessibilityBus final : public AccessibilityBusStatus {
public:
    explicit GatedAccessibilityBus(QTimer* gate) : gate_(gate) {}
    QCoro::Task<AccessibilitySwitch> readSwitch() override {
        // Not qCoro(gate_, &QTimer::timeout): QCoro hands the signal's private tag on as a
        // reference bound to null, which is undefined behaviour.
        NextTimeout next{gate_};
        co_await next;
        co_return AccessibilitySwitch::on;
    }
    QCoro::Task<bool> setEnabled(bool) override { co_return true; }

private:
    // Resumes the awaiting coroutine at the timer's next timeout.
    struct NextTimeout {
        QTimer* timer;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) const {
            QObject::connect(
                timer, &QTimer::timeout, timer, [handle] { handle.resume(); }, Qt::SingleShotConnection);
        }
        void await_resume() const noexcept {}
    };

    QTimer* gate_;
};

// No text, or the held recognitions of a gated recognizer once a test has set one (before the
// capture that should use it). Shared with the pipeline, so that a recognition still running
// when a test ends finds it alive.
class SwitchableRecognizer final : public TextRecognizing {
public:
    void setGated(std::shared_ptr<GatedTextRecognizer> gated) {
        std::lock_guard lock(mutex_);
        gated_ = std::move(gated);
    }
    RecognizedTextResult recognizeText(const QImage& image, AppLanguage language, bool detect) const override {
        std::shared_ptr<GatedTextRecognizer> gated;
        {
            std::lock_guard lock(mutex_);
            gated = gated_;
        }
        return gated ? gated->recognizeText(image, language, detect) : RecognizedTextResult{};
    }
    std::optional<DetectedSourceLanguage> detectSourceLanguage(const std::vector<RecognizedTextBlock>&, AppLanguage,
                                                               const std::set<AppLanguage>&) const override {
        return std::nullopt;
    }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<GatedTextRecognizer> gated_;
};

struct DelegateHarness {
    std::shared_ptr<EventLog> log = std::make_shared<EventLog>();
    InMemoryDefaultsStore defaults;
    DeviceIdentifier identifier{defaults};
    QTemporaryDir folder;
    ScopedLogCapture lines;
    std::shared_ptr<FakeClock> clock =
        std::make_shared<FakeClock>(QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::LocalTime));
    std::shared_ptr<ManualScheduler> scheduler = std::make_shared<ManualScheduler>(clock.get());
    std::shared_ptr<FakePowerAssertions> systemAssertions = std::make_shared<FakePowerAssertions>(7);
    std::shared_ptr<FakePowerAssertions> displayAssertions = std::make_shared<FakePowerAssertions>(100);
    std::shared_ptr<FakeGlobalKeyGrabber> grabber = std::make_shared<FakeGlobalKeyGrabber>();
    FakeSpeechBackends speech;

    // The desktop the accessor and the front-window detector see.
    FakeAccessibility ax;
    InlineAccessibilityCalls calls{ax};
    FakeClipboard clipboard;
    FakeKeyboardApplication keyboard{clipboard};
    FakePrimarySelection primary;
    std::shared_ptr<FakeFrontApplicationProvider> front = std::make_shared<FakeFrontApplicationProvider>();
    std::shared_ptr<FakeWindowList> windows = std::make_shared<FakeWindowList>();
    std::shared_ptr<FakeScreenCapture> screen = std::make_shared<FakeScreenCapture>();
    std::shared_ptr<FakeScreenCapturePermission> permission = std::make_shared<FakeScreenCapturePermission>();
    // No text unless a test gates it (before the first capture): then recognitions finish when
    // the test says.
    std::shared_ptr<SwitchableRecognizer> recognizer = std::make_shared<SwitchableRecognizer>();
    // How the translating services tell a text's language beyond its script: the texts a test
    // translates are scripted.
    std::shared_ptr<ScriptedLanguageRecognizer> languages = std::make_shared<ScriptedLanguageRecognizer>();

    // The translation and text clients. `device`, when set, is the one on-device client every
    // build returns; otherwise each build adds one to `deviceClients`.
    std::shared_ptr<RecordingDeviceTranslationClient> device;
    std::vector<std::shared_ptr<RecordingDeviceTranslationClient>> deviceClients;
    std::vector<std::shared_ptr<RecordingServerTranslationClient>> serverClients;
    std::shared_ptr<InMemoryTextEditingClient> serverEditor = std::make_shared<InMemoryTextEditingClient>(log);
    std::shared_ptr<InMemoryTextEditingClient> localEditor = std::make_shared<InMemoryTextEditingClient>(log);
    std::shared_ptr<InMemoryTextWritingClient> writer = std::make_shared<InMemoryTextWritingClient>(log);
    std::shared_ptr<InMemoryActiveWindowTextProvider> windowText =
        std::make_shared<InMemoryActiveWindowTextProvider>(log);
    // The prompt client when set; otherwise the scratchpad's held clients answer prompts.
    std::shared_ptr<InMemoryTextPromptClient> prompter;

    // What the test chooses before the delegate is built.
    bool withAccessor = false;
    // The window translation pipeline: the recognizer and the screenshot controller.
    bool withWindowTranslation = true;
    bool withDetector = false;
    bool withAccessibilityBus = false;
    bool withOnboarding = false;
    bool withScratchpad = false;
    bool busEnabled = false;
    // Whether the desktop lets Tavrolin turn the accessibility switch on.
    bool busAcceptsSwitch = true;
    // Reads of the switch in a row that time out before it answers.
    int busUnanswered = 0;
    // When set, trust answers wait for this timer to fire.
    QTimer* trustGate = nullptr;
    // The main display's bounds, when the delegate is told them.
    std::optional<QRectF> mainDisplay;

    // What the delegate built.
    RecordingOverlay* overlay = nullptr;
    RecordingPopup* popup = nullptr;
    RecordingTrigger* trigger = nullptr;
    ManualEventMonitor* monitor = nullptr;
    ScriptedAlertPresenter* alerts = nullptr;
    FakeAccessibilityBusStatus* bus = nullptr;
    std::vector<RecordingOnboardingWindow*> onboardingWindows;
    QList<QUrl> openedURLs;
    std::unique_ptr<AppDelegate> delegate;

    AppDelegate::Factories factories() {
        AppDelegate::Factories f;
        f.defaults = &defaults;
        f.deviceIdentifier = &identifier;
        f.bundle = InfoDictionary(QJsonObject{{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "140"}});
        f.environment = {};
        f.makeOnboardingStateStore = [this](DefaultsStore& d, int version) {
            log->add(QStringLiteral("build onboardingStore version=%1 standard=%2").arg(version).arg(&d == &defaults));
            return std::make_unique<OnboardingStateStore>(d, version);
        };
        f.makeUpdateConfiguration = [this](const InfoDictionary& bundle, const Environment& environment) {
            log->add(QStringLiteral("build updateConfiguration"));
            return AppUpdateConfiguration::resolved(bundle, environment);
        };
        f.makeUpdateStateStore = [this](DefaultsStore& d) {
            log->add(QStringLiteral("build updateStateStore"));
            return std::make_unique<AppUpdateStateStore>(d);
        };
        f.makeSharePromptStore = [this](std::vector<int> schedule, DefaultsStore& d) {
            QStringList s;
            for (int n : schedule) {
                s << QString::number(n);
            }
            log->add(QStringLiteral("build sharePromptStore schedule=") + s.join(','));
            return std::make_unique<SharePromptStore>(std::move(schedule), d);
        };
        f.makeHotKeyManager = [this] {
            log->add(QStringLiteral("build hotKeyManager"));
            return std::make_unique<HotKeyManager>(grabber);
        };
        f.makeAntiSleepManager = [this] {
            log->add(QStringLiteral("build antiSleepManager"));
            return std::make_unique<AntiSleepManager>(AntiSleepManager::Environment{
                systemAssertions, displayAssertions, nullptr, [] { return false; }, clock, scheduler});
        };
        f.makeActiveWindowDetector = [this] {
            log->add(QStringLiteral("build activeWindowDetector"));
            return withDetector ? std::make_shared<ActiveWindowDetector>(front, windows, 1)
                                : std::shared_ptr<ActiveWindowDetector>();
        };
        f.makeFocusedTextFieldAccessor = [this](double delay) {
            log->add(QStringLiteral("build focusedTextFieldAccessor clipboardRestoreDelay=%1").arg(delay));
            if (!withAccessor) {
                return std::shared_ptr<FocusedTextFieldAccessor>();
            }
            return std::make_shared<FocusedTextFieldAccessor>(
                FocusedTextFieldAccessor::Platform{
                    calls, clipboard, *front, *scheduler, {}, &primary, nullptr, &keyboard},
                keyboard, delay);
        };
        f.makeLaunchAtLoginController = [this] {
            log->add(QStringLiteral("build launchAtLoginController"));
            LaunchAtLoginController::Options options;
            options.executablePath = folder.filePath(QStringLiteral("build/tavrolin"));
            options.installedBinDirectory = folder.filePath(QStringLiteral("bin"));
            options.autostartDirectory = folder.filePath(QStringLiteral("autostart"));
            return std::make_unique<LaunchAtLoginController>(options);
        };
        f.makeSettingsStore = [this](DefaultsStore& d) {
            log->add(QStringLiteral("build settingsStore"));
            return std::make_unique<AppSettingsStore>(d);
        };
        f.makeOnlineFeaturePolicy = [this](bool enabled) {
            log->add(QStringLiteral("build onlineFeaturePolicy enabled=%1").arg(enabled));
            return std::make_shared<OnlineFeaturePolicy>(enabled);
        };
        f.makeTelemetryClient = [this](TelemetryConfiguration, ServerSessionConfiguration s) {
            log->add(QStringLiteral("build telemetryClient session=%1/%2 waits=%3 perHost=%4")
                         .arg(s.requestTimeout.count())
                         .arg(s.resourceTimeout.count())
                         .arg(s.waitsForConnectivity)
                         .arg(s.maximumConnectionsPerHost));
            return std::make_shared<RecordingTelemetryClient>(log);
        };
        f.makeLanguageRecognizer = [this] { return languages; };
        f.makeDeviceTranslationClient = [this] {
            log->add(QStringLiteral("build deviceTranslationClient"));
            if (device) {
                return device;
            }
            deviceClients.push_back(std::make_shared<RecordingDeviceTranslationClient>(log));
            return deviceClients.back();
        };
        f.makeServerTranslationClient = [this](ServerTranslationConfiguration, ServerSessionConfiguration s) {
            log->add(QStringLiteral("build serverTranslationClient session=%1/%2 waits=%3 perHost=%4")
                         .arg(s.requestTimeout.count())
                         .arg(s.resourceTimeout.count())
                         .arg(s.waitsForConnectivity)
                         .arg(s.maximumConnectionsPerHost));
            serverClients.push_back(std::make_shared<RecordingServerTranslationClient>(log));
            return serverClients.back();
        };
        f.makeScreenshotOverlayPresenter = [this](std::shared_ptr<TranslationSetupSupport> setup,
                                                  std::function<void()> openSetup) {
            log->add(QStringLiteral("build overlayPresenter setupSupport=%1").arg(setup != nullptr));
            auto presenter = std::make_unique<RecordingOverlay>(log);
            presenter->openTranslationSetup = std::move(openSetup);
            overlay = presenter.get();
            return presenter;
        };
        f.makeSelectionTranslationPopupPresenter = [this](std::shared_ptr<ActiveWindowDetector>) {
            log->add(QStringLiteral("build popupPresenter"));
            auto presenter = std::make_unique<RecordingPopup>(log);
            popup = presenter.get();
            return presenter;
        };
        f.makeSelectionPopupTriggerController =
            [this](const AppSettingsStore&, std::shared_ptr<UserPreferredLanguagesProvider>,
                   std::shared_ptr<FocusedTextFieldAccessor>, std::function<void(FocusedTextFieldSnapshot)> onTranslate,
                   std::function<void(FocusedTextFieldSnapshot)> onFlip,
                   std::function<void(FocusedTextFieldSnapshot)> onEdit) {
                log->add(QStringLiteral("build selectionTrigger"));
                auto controller = std::make_unique<RecordingTrigger>(log);
                controller->onTranslate = std::move(onTranslate);
                controller->onFlip = std::move(onFlip);
                controller->onEdit = std::move(onEdit);
                trigger = controller.get();
                return controller;
            };
        f.makeTextEditingClient = [this](TextEditingConfiguration, ServerSessionConfiguration) { return serverEditor; };
        f.makeOfflineTextEditingClient = [this] { return localEditor; };
        f.makeTextWritingClient = [this](TextWritingConfiguration, ServerSessionConfiguration) { return writer; };
        f.makeActiveWindowTextProvider = [this](std::shared_ptr<ActiveWindowDetector>) { return windowText; };
        f.makeSystemEventMonitor = [this] {
            log->add(QStringLiteral("build systemEventMonitor"));
            auto events = std::make_unique<ManualEventMonitor>();
            monitor = events.get();
            return events;
        };
        f.clock = clock;
        f.scheduler = scheduler;
        f.makeAlertPresenter = [this] {
            auto presenter = std::make_unique<ScriptedAlertPresenter>();
            alerts = presenter.get();
            return presenter;
        };
        if (withWindowTranslation) {
            f.makeTextRecognizer = [this](std::shared_ptr<const UserPreferredLanguagesProviding> preferred) {
                log->add(QStringLiteral("build textRecognizer preferred=%1").arg(preferred != nullptr));
                return recognizer;
            };
            f.makeScreenshotController = [this](CaptureTargetResolver resolver, ScreenshotTranslationService service,
                                                std::shared_ptr<const AppSettingsProviding> settings) {
                log->add(QStringLiteral("build screenshotController"));
                screen->content.displays = {ShareableDisplay{1, QRectF(0, 0, 320, 200)}};
                screen->content.mainDisplayID = 1;
                return std::make_unique<ScreenshotController>(std::move(resolver), ScreenCaptureService(screen),
                                                              std::move(service), std::move(settings), permission);
            };
        }
        if (withAccessibilityBus || withOnboarding) {
            f.makeAccessibilityBusStatus = [this]() -> std::unique_ptr<AccessibilityBusStatus> {
                if (trustGate) {
                    return std::make_unique<GatedAccessibilityBus>(trustGate);
                }
                auto status = std::make_unique<FakeAccessibilityBusStatus>();
                status->enabled = busEnabled;
                status->acceptsSwitch = busAcceptsSwitch;
                status->unanswered = busUnanswered;
                bus = status.get();
                return status;
            };
        }
        if (withOnboarding) {
            f.makeOnboardingPresenter = [this](const OnboardingWindowServices&) {
                return std::make_unique<RecordingOnboardingPresenter>(&onboardingWindows);
            };
        }
        if (mainDisplay) {
            f.mainDisplayBounds = [this] { return *mainDisplay; };
        }
        if (prompter) {
            f.makeTextPromptClient = [this](TextPromptConfiguration, ServerSessionConfiguration) { return prompter; };
        }
        if (withScratchpad) {
            auto clients = std::make_shared<HeldTextClients>();
            f.makeTextImproveClient = [clients](TextImproveConfiguration, ServerSessionConfiguration) {
                return clients;
            };
            if (!prompter) {
                f.makeTextPromptClient = [clients](TextPromptConfiguration, ServerSessionConfiguration) {
                    return clients;
                };
            }
            f.makeSpeechRecognitionService = speech.factory();
            f.makeDictationPermissionManager = [] {
                return std::make_shared<DictationPermissionManager>(std::make_shared<FakeDictationAuthorization>());
            };
            f.makeClipboard = [] { return std::make_shared<FakeClipboard>(); };
        }
        f.makeFrontWindowActivation = [] { return std::shared_ptr<FrontWindowActivating>(); };
        f.openURL = [this](const QUrl& url) {
            openedURLs.append(url);
            return true;
        };
        return f;
    }

    // Builds the delegate with its loading card and alerts, as the commands find them.
    AppDelegate& make() {
        delegate = std::make_unique<AppDelegate>(factories());
        delegate->screenshotOverlayPresenter();
        delegate->alerts();
        return *delegate;
    }

    void storeSettings(const std::function<void(AppSettings&)>& change) {
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        change(settings);
        ASSERT_FALSE(store.persist(settings).has_value());
    }

    QStringList built() const { return log->matching(QStringLiteral("build ")); }

    bool anyRunning() const {
        const AppDelegate& d = *delegate;
        return d.isMessageTranslationInProgress() || d.isTextEditingInProgress() || d.isTextWritingInProgress() ||
               d.isFlipLanguageInProgress() || d.isCreatePromptInProgress();
    }

    // Turns the event loop and virtual time until every run has ended and the clipboard has
    // been given back.
    void settle() {
        using namespace std::chrono_literals;
        for (int i = 0; i < 3000 && anyRunning(); ++i) {
            QCoreApplication::processEvents();
            scheduler->advance(10ms);
        }
        EXPECT_FALSE(anyRunning()) << "a run did not end";
        for (int i = 0; i < 100; ++i) {
            QCoreApplication::processEvents();
            scheduler->advance(10ms);
        }
    }

    QStringList workflowLines() const {
        QStringList out;
        for (const QString& line : lines.messages(LogCategory::app)) {
            if (line.startsWith(QStringLiteral("workflow "))) {
                out << line.section(QLatin1Char(' '), 0, 2);
            }
        }
        return out;
    }
    // "action success error" of every usage event.
    QStringList events() const {
        QStringList out;
        for (const QString& line : lines.messages(LogCategory::telemetry)) {
            if (line.startsWith(QStringLiteral("event "))) {
                const QStringList words = line.split(QLatin1Char(' '));
                out << QStringList{words[1], words[6], words[7]}.join(QLatin1Char(' '));
            }
        }
        return out;
    }
    QString eventLine(int index) const {
        QStringList found;
        for (const QString& line : lines.messages(LogCategory::telemetry)) {
            if (line.startsWith(QStringLiteral("event "))) {
                found << line;
            }
        }
        return index < found.size() ? found[index] : QString();
    }
    QStringList alertTitles() const {
        QStringList titles;
        for (const auto& alert : alerts->shown) {
            titles << alert.title;
        }
        return titles;
    }
    int shareSuccesses() const { return int(defaults.integer(QStringLiteral("sharePromptTotalSuccessCount"))); }
};

// A focused field holding `fieldText` in gedit's front window, English and Spanish installed
// on the device, online features on and usage events off (`change` adjusts the settings).
struct FocusedFieldDesktop : DelegateHarness {
    static constexpr qint64 appPid = 4242;
    std::shared_ptr<FakeField> field = makeField(QStringLiteral("Good morning, how are you today?"));

    explicit FocusedFieldDesktop(const std::function<void(AppSettings&)>& change = {}) {
        withAccessor = true;
        withDetector = true;
        withAccessibilityBus = true;
        withScratchpad = true;
        withWindowTranslation = false;
        busEnabled = true;
        busAcceptsSwitch = false;
        mainDisplay = QRectF(0, 0, 1280, 800);
        device = std::make_shared<RecordingDeviceTranslationClient>(log);
        prompter = std::make_shared<InMemoryTextPromptClient>(log);
        clipboard.formats = {{"text/plain", "user clipboard"}};
        front->setIdentifier(QStringLiteral("gedit"), appPid);
        WorkflowLog::setFrontApplicationProvider(front);
        ax.systemFocused = field;
        keyboard.field = field;
        keyboard.keyboardFocus = front.get();
        languages->script(field->text, QStringLiteral("en"));
        device->setAvailability(AppLanguage::english, AppLanguage::spanish, TranslationPairAvailability::installed);
        device->setAvailability(AppLanguage::spanish, AppLanguage::english, TranslationPairAvailability::installed);
        windows->windows.push_back(listedWindow(7, appPid, QRectF(50, 60, 700, 500)));
        AppSettingsStore store(defaults);
        AppSettings settings = store.settings();
        settings.targetLanguage = AppLanguage::english;
        settings.messageTargetLanguage = AppLanguage::spanish;
        settings.onlineFeaturesEnabled = true;
        settings.telemetryEnabled = false;
        if (change) {
            change(settings);
        }
        EXPECT_FALSE(store.persist(settings).has_value());
    }
    ~FocusedFieldDesktop() { WorkflowLog::setFrontApplicationProvider(nullptr); }
};

}  // namespace tavrolin::test
