#pragma once

// The in-memory desktop the delegate's focused-field and selection commands run on: a pretend
// field behind the accessor, in-memory text clients and translation engines, a recording
// loading card and result popup, and scripted alerts.

#include "shell/app_delegate.h"
#include "selection_popup/selection_popup_seams.h"

#include "core/device_identifier.h"
#include "core/workflow_log.h"
#include "focused_text/focused_text_field_accessor.h"
#include "language/focused_text_replacement_fallback.h"
#include "shell/app_alerts.h"
#include "shell/focused_field_loading_target_resolver.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "onboarding/onboarding_presenting.h"
#include "shell/onboarding_state_store.h"
#include "shell/share_prompt_store.h"
#include "anti_sleep/anti_sleep_manager.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/dictation_scratchpad_view_model.h"
#include "dictation/dictation_scratchpad_window_controller.h"
#include "support/fake_accessibility.h"
#include "support/fake_accessibility_bus_status.h"
#include "support/fake_clipboard.h"
#include "support/fake_front_application_provider.h"
#include "support/fake_primary_selection.h"
#include "support/fake_global_key_grabber.h"
#include "support/fake_power_assertions.h"
#include "support/fake_synthetic_input.h"
#include "support/inline_accessibility_calls.h"
#include "support/fake_window_list.h"
#include "support/async.h"
#include "support/fake_dictation_authorization.h"
#include "support/fake_speech_backends.h"
#include "support/held_text_requests.h"
#include "support/in_memory_text_clients.h"
#include "support/memory_log_sink.h"
#include "support/qt_printers.h"
#include "support/recording_translation_clients.h"
#include "support/scripted_alert_presenter.h"
#include "support/virtual_time.h"
#include "updates/app_update_configuration.h"
#include "updates/app_update_state_store.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QTimer>
#include <QTemporaryDir>

#include <stdexcept>

#include <gtest/gtest.h>

using namespace tavrolin;
using namespace std::chrono_literals;
using Case = CaptureWorkflowError::Case;

namespace {

constexpr qint64 appPid = 4242;

// The loading card as a list of what was asked of it.
class RecordingOverlay final : public ScreenshotOverlayPresenter {
public:
    double minimumDisplayDuration() const override { return 0; }
    void setMinimumDisplayDuration(double) override {}
    void setOnDismiss(std::function<void()> callback) override { onDismiss = std::move(callback); }
    void presentLoading(const QRectF& bounds, std::optional<qint32> pid, const QString& message,
                        bool usesServer) override {
        if (failLoading) {
            failLoading = false;
            throw std::runtime_error("no screen for the card");
        }
        calls << QStringLiteral("loading %1,%2 %3x%4 pid=%5 %6 server=%7")
                     .arg(bounds.x())
                     .arg(bounds.y())
                     .arg(bounds.width())
                     .arg(bounds.height())
                     .arg(pid ? QString::number(*pid) : QStringLiteral("none"), message)
                     .arg(usesServer);
        up = true;
    }
    void showLoading(const QString& message, bool) override { calls << QStringLiteral("showLoading ") + message; }
    bool presentImage(const QImage&, const QRectF&, std::optional<qint32>, const QString&,
                      const TranslationLanguagePair&, bool, std::function<void(TranslationLanguagePair)>) override {
        return true;
    }
    void clear(bool notify) override {
        calls << QStringLiteral("clear %1").arg(notify);
        up = false;
        if (notify && onDismiss) {
            onDismiss();
        }
    }
    void attemptClear(bool notify) override { clear(notify); }
    bool hasOverlayPanel() const override { return up; }

    QStringList calls;
    bool up = false;
    // The next presentLoading() throws.
    bool failLoading = false;
    std::function<void()> onDismiss;
};

// The result popup as a list of what it was asked to show.
class RecordingPopup final : public SelectionTranslationPopupPresenter {
public:
    double minimumDisplayDuration() const override { return minimum; }
    void setMinimumDisplayDuration(double seconds) override { minimum = seconds; }
    void setOnDismiss(std::function<void()> callback) override { onDismiss = std::move(callback); }
    void present(const SelectionTranslationResult& result, const std::optional<QRectF>& frame) override {
        record(QStringLiteral("present %1 -> %2 over %3").arg(result.originalText, result.translatedText, name(frame)));
        results.push_back(result);
    }
    void presentNothingSelected(const std::optional<QRectF>& frame) override {
        record(QStringLiteral("nothing selected over ") + name(frame));
    }
    void record(const QString& call) {
        calls << call;
        if (journal) {
            *journal << call;
        }
    }
    static QString name(const std::optional<QRectF>& frame) {
        return frame ? QStringLiteral("%1,%2 %3x%4").arg(frame->x()).arg(frame->y()).arg(frame->width()).arg(frame->height())
                     : QStringLiteral("none");
    }

    double minimum = 1.5;
    std::function<void()> onDismiss;
    QStringList calls;
    std::vector<SelectionTranslationResult> results;
    // Also written here when set (the loading card's calls, to see the order of the two).
    QStringList* journal = nullptr;
};

class OnboardingWindowStub final : public OnboardingWindow {
public:
    void bringToFront() override {}
    bool handleHotKeyAction(HotKeyAction action) override {
        offered.push_back(action);
        return false;
    }
    std::vector<HotKeyAction> offered;
};

class OnboardingPresenterStub final : public OnboardingPresenting {
public:
    std::unique_ptr<OnboardingWindow> makeWindow(OnboardingRequest) override {
        auto window = std::make_unique<OnboardingWindowStub>();
        windows.push_back(window.get());
        return window;
    }
    std::vector<OnboardingWindowStub*> windows;
};

// A bus whose "enabled" answers all arrive together when the test fires `gate`.
class GatedAccessibilityBus final : public AccessibilityBusStatus {
public:
    explicit GatedAccessibilityBus(QTimer* gate) : gate_(gate) {}
    QCoro::Task<std::optional<bool>> isEnabled() override {
        co_await qCoro(gate_, &QTimer::timeout);
        co_return true;
    }
    QCoro::Task<bool> setEnabled(bool) override { co_return true; }

private:
    QTimer* gate_;
};

class NullTelemetryClient final : public TelemetryClient {
public:
    void send(const TelemetryEvent&) override {}
};

// One delegate over the in-memory desktop. The field starts focused, holding `fieldText`.
struct Desktop {
    std::shared_ptr<test::EventLog> log = std::make_shared<test::EventLog>();
    InMemoryDefaultsStore defaults;
    DeviceIdentifier identifier{defaults};
    QTemporaryDir folder;
    test::ScopedLogCapture lines;
    std::shared_ptr<test::FakeClock> clock =
        std::make_shared<test::FakeClock>(QDateTime(QDate(2026, 1, 15), QTime(12, 0), Qt::LocalTime));
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>(clock.get());
    test::FakeAccessibility ax;
    test::InlineAccessibilityCalls calls{ax};
    test::FakeClipboard clipboard;
    test::FakeKeyboardApplication keyboard{clipboard};
    test::FakePrimarySelection primary;
    std::shared_ptr<test::FakeFrontApplicationProvider> front = std::make_shared<test::FakeFrontApplicationProvider>();
    std::shared_ptr<test::FakeWindowList> windows = std::make_shared<test::FakeWindowList>();
    std::shared_ptr<test::FakeField> field = test::makeField(QStringLiteral("Good morning, how are you today?"));
    std::shared_ptr<test::RecordingDeviceTranslationClient> device =
        std::make_shared<test::RecordingDeviceTranslationClient>(log);
    std::shared_ptr<test::InMemoryTextEditingClient> serverEditor = std::make_shared<test::InMemoryTextEditingClient>(log);
    std::shared_ptr<test::InMemoryTextEditingClient> localEditor = std::make_shared<test::InMemoryTextEditingClient>(log);
    std::shared_ptr<test::InMemoryTextPromptClient> prompter = std::make_shared<test::InMemoryTextPromptClient>(log);
    std::shared_ptr<test::InMemoryTextWritingClient> writer = std::make_shared<test::InMemoryTextWritingClient>(log);
    std::shared_ptr<test::InMemoryActiveWindowTextProvider> windowText =
        std::make_shared<test::InMemoryActiveWindowTextProvider>(log);
    std::shared_ptr<test::FakeGlobalKeyGrabber> grabber = std::make_shared<test::FakeGlobalKeyGrabber>();
    test::FakeAccessibilityBusStatus* bus = nullptr;
    bool busEnabled = true;
    // Whether the desktop lets Tavrolin turn the accessibility switch on.
    bool busAcceptsSwitch = false;
    // When set, trust answers wait for this timer to fire.
    QTimer* trustGate = nullptr;
    RecordingOverlay* overlay = nullptr;
    RecordingPopup* popup = nullptr;
    test::ScriptedAlertPresenter* alerts = nullptr;
    QRectF mainDisplay{0, 0, 1280, 800};
    OnboardingPresenterStub* onboarding = nullptr;
    bool withOnboarding = false;
    test::FakeSpeechBackends speech;
    std::unique_ptr<AppDelegate> delegate;

    explicit Desktop(const std::function<void(AppSettings&)>& change = {}) {
        clipboard.formats = {{"text/plain", "user clipboard"}};
        front->setIdentifier(QStringLiteral("gedit"), appPid);
        WorkflowLog::setFrontApplicationProvider(front);
        ax.systemFocused = field;
        keyboard.field = field;
        device->setAvailability(AppLanguage::english, AppLanguage::spanish, TranslationPairAvailability::installed);
        device->setAvailability(AppLanguage::spanish, AppLanguage::english, TranslationPairAvailability::installed);
        windows->windows.push_back(test::listedWindow(7, appPid, QRectF(50, 60, 700, 500)));
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
    ~Desktop() { WorkflowLog::setFrontApplicationProvider(nullptr); }

    AppDelegate& make() {
        AppDelegate::Factories f;
        f.defaults = &defaults;
        f.deviceIdentifier = &identifier;
        f.bundle = InfoDictionary(QJsonObject{{"CFBundleShortVersionString", "1.4.0"}, {"CFBundleVersion", "140"}});
        f.makeOnboardingStateStore = [](DefaultsStore& d, int v) { return std::make_unique<OnboardingStateStore>(d, v); };
        f.makeUpdateConfiguration = [](const InfoDictionary& b, const Environment& e) {
            return AppUpdateConfiguration::resolved(b, e);
        };
        f.makeUpdateStateStore = [](DefaultsStore& d) { return std::make_unique<AppUpdateStateStore>(d); };
        f.makeSharePromptStore = [](std::vector<int> schedule, DefaultsStore& d) {
            return std::make_unique<SharePromptStore>(std::move(schedule), d);
        };
        f.makeHotKeyManager = [this] { return std::make_unique<HotKeyManager>(grabber); };
        f.makeAntiSleepManager = [this] {
            return std::make_unique<AntiSleepManager>(AntiSleepManager::Environment{
                std::make_shared<test::FakePowerAssertions>(1), std::make_shared<test::FakePowerAssertions>(2), nullptr,
                [] { return false; }, clock, scheduler});
        };
        f.makeActiveWindowDetector = [this] { return std::make_shared<ActiveWindowDetector>(front, windows, 1); };
        f.makeFocusedTextFieldAccessor = [this](double delay) {
            return std::make_shared<FocusedTextFieldAccessor>(
                FocusedTextFieldAccessor::Platform{calls, clipboard, keyboard, *front, *scheduler, {}, &primary}, delay);
        };
        f.makeLaunchAtLoginController = [this] {
            LaunchAtLoginController::Options options;
            options.executablePath = folder.filePath(QStringLiteral("build/tavrolin"));
            options.installedBinDirectory = folder.filePath(QStringLiteral("bin"));
            options.autostartDirectory = folder.filePath(QStringLiteral("autostart"));
            return std::make_unique<LaunchAtLoginController>(options);
        };
        f.makeSettingsStore = [](DefaultsStore& d) { return std::make_unique<AppSettingsStore>(d); };
        f.makeOnlineFeaturePolicy = [](bool enabled) { return std::make_shared<OnlineFeaturePolicy>(enabled); };
        f.makeTelemetryClient = [](TelemetryConfiguration, ServerSessionConfiguration) {
            return std::make_shared<NullTelemetryClient>();
        };
        f.makeDeviceTranslationClient = [this] { return device; };
        f.makeServerTranslationClient = [this](ServerTranslationConfiguration, ServerSessionConfiguration) {
            return std::make_shared<test::RecordingServerTranslationClient>(log);
        };
        f.makeTextEditingClient = [this](TextEditingConfiguration, ServerSessionConfiguration) { return serverEditor; };
        f.makeOfflineTextEditingClient = [this] { return localEditor; };
        f.makeTextPromptClient = [this](TextPromptConfiguration, ServerSessionConfiguration) { return prompter; };
        f.makeTextWritingClient = [this](TextWritingConfiguration, ServerSessionConfiguration) { return writer; };
        f.makeActiveWindowTextProvider = [this](std::shared_ptr<ActiveWindowDetector>) { return windowText; };
        f.makeScreenshotOverlayPresenter = [this](std::shared_ptr<TranslationSetupSupport>, std::function<void()>) {
            auto presenter = std::make_unique<RecordingOverlay>();
            overlay = presenter.get();
            return presenter;
        };
        f.makeSelectionTranslationPopupPresenter = [this](std::shared_ptr<ActiveWindowDetector>) {
            auto presenter = std::make_unique<RecordingPopup>();
            popup = presenter.get();
            return presenter;
        };
        f.clock = clock;
        f.scheduler = scheduler;
        f.makeAlertPresenter = [this] {
            auto presenter = std::make_unique<test::ScriptedAlertPresenter>();
            alerts = presenter.get();
            return presenter;
        };
        f.makeAccessibilityBusStatus = [this]() -> std::unique_ptr<AccessibilityBusStatus> {
            if (trustGate) {
                return std::make_unique<GatedAccessibilityBus>(trustGate);
            }
            auto status = std::make_unique<test::FakeAccessibilityBusStatus>();
            status->enabled = busEnabled;
            status->acceptsSwitch = busAcceptsSwitch;
            bus = status.get();
            return status;
        };
        f.mainDisplayBounds = [this] { return mainDisplay; };
        // The scratchpad, where a text the field did not take is offered for copying.
        f.makeTextImproveClient = [](TextImproveConfiguration, ServerSessionConfiguration) {
            return std::make_shared<test::HeldTextClients>();
        };
        f.makeSpeechRecognitionService = speech.factory();
        f.makeDictationPermissionManager = [] {
            return std::make_shared<DictationPermissionManager>(std::make_shared<test::FakeDictationAuthorization>());
        };
        f.makeClipboard = [] { return std::make_shared<test::FakeClipboard>(); };
        if (withOnboarding) {
            f.makeOnboardingPresenter = [this](const OnboardingWindowServices&) {
                auto presenter = std::make_unique<OnboardingPresenterStub>();
                onboarding = presenter.get();
                return presenter;
            };
        }
        f.makeFrontWindowActivation = [] { return std::shared_ptr<FrontWindowActivating>(); };
        f.openURL = [](const QUrl&) { return true; };
        delegate = std::make_unique<AppDelegate>(std::move(f));
        delegate->screenshotOverlayPresenter();
        delegate->alerts();
        return *delegate;
    }

    bool anyRunning() const {
        const AppDelegate& d = *delegate;
        return d.isMessageTranslationInProgress || d.isTextEditingInProgress || d.isTextWritingInProgress ||
               d.isFlipLanguageInProgress || d.isCreatePromptInProgress;
    }

    // Turns the event loop and virtual time until every run has ended and the clipboard has
    // been given back.
    void settle() {
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

}  // namespace
