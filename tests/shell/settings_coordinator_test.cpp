// Applying settings at launch and saving them: order of steps, the failure table, usage events.
#include "shell/settings_coordinator.h"

#include "core/capture_workflow_error.h"
#include "core/defaults_store.h"
#include "core/user_language_preferences_providing.h"
#include "shell/error_messages.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "support/fakes/fake_global_key_grabber.h"
#include "support/fakes/scripted_alert_presenter.h"
#include "support/qt_printers.h"

#include <QJsonDocument>

#include <X11/keysym.h>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

constexpr GlobalKeyModifiers kControlShift{.control = true, .shift = true};

class FixedPreferences final : public UserLanguagePreferencesProviding {
public:
    AppLanguage detectNativeLanguage() const override { return AppLanguage::russian; }
    AppLanguage detectCompanyLanguage() const override { return AppLanguage::english; }
};

enum class SyncOutcome { done, needsApproval, fails };

class SettingsCoordinatorTest : public ::testing::Test {
protected:
    void SetUp() override { start(AppSettings{}); }

    // A stored value, and the coordinator over it (nothing registered yet).
    void start(const AppSettings& stored) {
        coordinator.reset();
        store.reset();
        defaults = std::make_unique<InMemoryDefaultsStore>();
        defaults->setRawValue(AppSettingsStore::defaultsKey, stored.toJson());
        store = std::make_unique<AppSettingsStore>(*defaults, std::make_shared<FixedPreferences>());
        coordinator = std::make_unique<SettingsCoordinator>(SettingsCoordinator::Dependencies{
            .store = store.get(),
            .alerts = &alerts,
            .registerHotKeys =
                [this](const AppSettings& settings) {
                    log << "register";
                    registerHotKeys(manager, settings, [](HotKeyAction) { return [] {}; });
                },
            .syncLaunchAtLogin =
                [this](bool enabled) {
                    log << QStringLiteral("sync %1").arg(enabled);
                    if (syncOutcome == SyncOutcome::fails) {
                        const QString underlying = QStringLiteral("The autostart folder is not writable.");
                        throw enabled ? LaunchAtLoginError::enableFailed(underlying)
                                      : LaunchAtLoginError::disableFailed(underlying);
                    }
                    return syncOutcome == SyncOutcome::needsApproval;
                },
            .report =
                [this](const SettingsUsageEvent& event) {
                    events.push_back(event);
                    QString line = "report " + rawValue(event.action);
                    if (event.success) {
                        line += *event.success ? " ok" : " failed";
                    }
                    line += store->settings().telemetryEnabled ? " stored-telemetry=on" : " stored-telemetry=off";
                    log << line;
                },
            .push =
                [this](const AppSettings& settings, SettingsPushScope scope) {
                    pushed.push_back(settings);
                    log << (scope == SettingsPushScope::full ? "push full" : "push launch");
                },
            .refreshStatusItem =
                [this](const AppSettings& settings) {
                    refreshed.push_back(settings);
                    log << "refresh";
                },
            .openLoginItemsSettings = [this] { log << "open login items"; },
            .now = [] { return QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC); },
        });
    }

    // The grabs of a settings value's shortcuts, by id.
    static std::map<quint32, test::FakeGlobalKeyGrabber::Combination> grabsOf(const AppSettings& settings) {
        std::map<quint32, test::FakeGlobalKeyGrabber::Combination> grabs;
        for (HotKeyAction action : allHotKeyActions) {
            const HotKeyShortcut s = settings.shortcut(action);
            grabs[rawValue(action)] = {keysym(s.key), {s.control, s.shift, s.option, s.command}};
        }
        return grabs;
    }

    QByteArray storedBytes() const {
        return QJsonDocument(defaults->rawValue(AppSettingsStore::defaultsKey)->toObject()).toJson();
    }

    std::shared_ptr<test::FakeGlobalKeyGrabber> grabber = std::make_shared<test::FakeGlobalKeyGrabber>();
    HotKeyManager manager{grabber};
    test::ScriptedAlertPresenter presenter;
    AppAlerts alerts{AppAlerts::Dependencies{.presenter = &presenter}};
    std::unique_ptr<InMemoryDefaultsStore> defaults;
    std::unique_ptr<AppSettingsStore> store;
    std::unique_ptr<SettingsCoordinator> coordinator;
    SyncOutcome syncOutcome = SyncOutcome::done;
    QStringList log;
    std::vector<SettingsUsageEvent> events;
    std::vector<AppSettings> pushed;
    std::vector<AppSettings> refreshed;
};

AppSettings withWriteTextShortcut(AppSettings settings, HotKeyKey key) {
    settings.writeTextShortcut = HotKeyShortcut{.key = key, .shift = true, .control = true};
    return settings;
}

// --- launch ---

TEST_F(SettingsCoordinatorTest, LaunchRegistersPushesRefreshesThenSyncsLaunchAtLogin) {
    AppSettings stored;
    stored.launchAtLoginEnabled = false;
    stored.onlineFeaturesEnabled = false;
    start(stored);
    syncOutcome = SyncOutcome::fails;  // ignored at launch

    coordinator->configureSettings();
    EXPECT_EQ(log, (QStringList{"register", "push launch", "refresh", "sync 0"}));
    EXPECT_EQ(grabber->grabs, grabsOf(stored));
    EXPECT_EQ(pushed, std::vector{store->settings()});
    EXPECT_TRUE(presenter.shown.empty());
    EXPECT_TRUE(events.empty());
}

TEST_F(SettingsCoordinatorTest, UnregistrableStoredShortcutsAreResetAloneAndEveryOtherChoiceKept) {
    AppSettings stored = withWriteTextShortcut(AppSettings{}, HotKeyKey::k);
    stored.targetLanguage = AppLanguage::german;
    stored.messageTargetLanguage = AppLanguage::french;
    stored.dictationLanguage = AppLanguage::spanish;
    stored.launchAtLoginEnabled = false;
    stored.telemetryEnabled = false;
    stored.onlineFeaturesEnabled = false;
    stored.selectionPopupEnabled = false;
    stored.autoImproveOnDictationStop = true;
    stored.selectionPopupAutoDismissDelay = 9;
    stored.overlayMinimumDisplayDuration = 0.5;
    stored.antiSleepSchedule.enabled = true;
    start(stored);
    grabber->taken.insert({XK_k, kControlShift});

    coordinator->configureSettings();

    AppSettings expected = stored;
    expected.setShortcuts(defaultHotKeyShortcuts());
    EXPECT_EQ(store->settings(), expected);
    EXPECT_EQ(AppSettings::fromJson(*defaults->rawValue(AppSettingsStore::defaultsKey)), expected);
    EXPECT_EQ(grabber->grabs, grabsOf(expected));
    EXPECT_EQ(log, (QStringList{"register", "register", "push launch", "refresh", "sync 0"}));
    EXPECT_EQ(pushed, std::vector{expected});
    EXPECT_EQ(refreshed, std::vector{expected});

    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].style, AlertStyle::warning);
    EXPECT_EQ(presenter.shown[0].title, "Saved shortcuts were reset");
    EXPECT_EQ(presenter.shown[0].message,
              makeMessage(CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+K")) +
                  "\n\nTavrolin restored the default shortcuts so the app can keep running.");
    EXPECT_EQ(presenter.shown[0].buttons, QStringList{"OK"});
}

TEST_F(SettingsCoordinatorTest, WhenEvenTheDefaultsCannotBeRegisteredNothingIsTouched) {
    const AppSettings stored = withWriteTextShortcut(AppSettings{}, HotKeyKey::k);
    start(stored);
    const QByteArray before = storedBytes();
    grabber->taken.insert({XK_k, kControlShift});
    grabber->taken.insert({XK_e, kControlShift});

    coordinator->configureSettings();

    EXPECT_EQ(store->settings(), stored);
    EXPECT_EQ(storedBytes(), before);
    EXPECT_TRUE(grabber->grabs.empty());
    EXPECT_EQ(log, (QStringList{"register", "register"}));
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].title, "Could not register shortcuts");
    EXPECT_EQ(presenter.shown[0].message, makeMessage(CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+E")));
}

// --- saving: the failure table ---

TEST_F(SettingsCoordinatorTest, ATakenShortcutFailsTheSaveAndRestoresThePreviousOnes) {
    coordinator->configureSettings();
    log.clear();
    refreshed.clear();
    pushed.clear();
    const AppSettings previous = store->settings();
    const QByteArray before = storedBytes();
    grabber->taken.insert({XK_k, kControlShift});
    AppSettings next = withWriteTextShortcut(previous, HotKeyKey::k);
    next.launchAtLoginEnabled = !previous.launchAtLoginEnabled;

    const auto error = coordinator->saveSettings(next, TelemetryTrigger::settings);

    const auto inUse = CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+K");
    EXPECT_EQ(error, makeMessage(inUse));
    EXPECT_EQ(store->settings(), previous);
    EXPECT_EQ(storedBytes(), before);
    EXPECT_EQ(grabber->grabs, grabsOf(previous));
    EXPECT_TRUE(pushed.empty());
    EXPECT_EQ(refreshed, std::vector{previous});
    EXPECT_EQ(log, (QStringList{"register", "report save_settings failed stored-telemetry=on", "register", "refresh"}));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].errorCode, CaptureWorkflowErrorCode::code(inUse));
    EXPECT_TRUE(events[0].includeDuration);
    EXPECT_EQ(events[0].trigger, TelemetryTrigger::settings);
    EXPECT_EQ(events[0].snapshot, telemetrySnapshot(next));
    EXPECT_TRUE(presenter.shown.empty());
}

TEST_F(SettingsCoordinatorTest, AnErrorOfAnotherKindIsReportedAsSettingsSaveFailed) {
    coordinator = std::make_unique<SettingsCoordinator>(SettingsCoordinator::Dependencies{
        .store = store.get(),
        .alerts = &alerts,
        .registerHotKeys = [](const AppSettings&) { throw std::runtime_error("display gone"); },
        .report = [this](const SettingsUsageEvent& event) { events.push_back(event); },
        .push = [](const AppSettings&, SettingsPushScope) {},
        .refreshStatusItem = [](const AppSettings&) {},
    });
    EXPECT_EQ(coordinator->saveSettings(AppSettings{}, TelemetryTrigger::onboarding), "display gone");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].errorCode, "settings_save_failed");
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].title, "Could not restore shortcuts");
    EXPECT_EQ(presenter.shown[0].message, "display gone");
}

TEST_F(SettingsCoordinatorTest, WhenThePreviousShortcutsCannotComeBackEitherTheUserIsTold) {
    coordinator->configureSettings();
    const AppSettings previous = store->settings();
    // Another program took Control+Shift+T while we were not holding it.
    grabber->taken.insert({XK_t, kControlShift});
    const auto error =
        coordinator->saveSettings(withWriteTextShortcut(previous, HotKeyKey::k), TelemetryTrigger::settings);

    EXPECT_EQ(error, makeMessage(CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+T")));
    EXPECT_EQ(store->settings(), previous);
    EXPECT_TRUE(grabber->grabs.empty());
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].style, AlertStyle::warning);
    EXPECT_EQ(presenter.shown[0].title, "Could not restore shortcuts");
    EXPECT_EQ(presenter.shown[0].message, makeMessage(CaptureWorkflowError::hotKeyAlreadyInUse("Control+Shift+T")));
}

TEST_F(SettingsCoordinatorTest, LaunchAtLoginThatCannotChangeKeepsItsValueAndSavesTheRest) {
    for (bool enable : {true, false}) {
        AppSettings stored;
        stored.launchAtLoginEnabled = !enable;
        start(stored);
        presenter.shown.clear();
        events.clear();
        syncOutcome = SyncOutcome::fails;
        AppSettings next = stored;
        next.launchAtLoginEnabled = enable;
        next.messageTargetLanguage = AppLanguage::italian;

        EXPECT_EQ(coordinator->saveSettings(next, TelemetryTrigger::settings), std::nullopt);

        ASSERT_EQ(presenter.shown.size(), 1u);
        EXPECT_EQ(presenter.shown[0].style, AlertStyle::informational);
        EXPECT_EQ(presenter.shown[0].title,
                  enable ? "Could Not Enable Launch at Login" : "Could Not Disable Launch at Login");
        // The error's own text and what to do about it.
        EXPECT_EQ(presenter.shown[0].message,
                  QStringLiteral("Tavrolin couldn't %1 launch at login. The autostart folder is not writable.\n\n")
                          .arg(enable ? "enable" : "disable") +
                      LaunchAtLoginError::enableFailed({}).recoverySuggestion());
        EXPECT_TRUE(
            LaunchAtLoginError::enableFailed({}).recoverySuggestion().contains("allow Tavrolin to open at login"));
        EXPECT_EQ(store->settings().launchAtLoginEnabled, !enable);
        EXPECT_EQ(store->settings().messageTargetLanguage, AppLanguage::italian);
        ASSERT_EQ(events.size(), 1u);
        EXPECT_EQ(events[0].snapshot->launchAtLoginEnabled, !enable);
        EXPECT_EQ(events[0].success, true);
    }
}

TEST_F(SettingsCoordinatorTest, LaunchAtLoginThatNeedsApprovalAsksAndSavesTheNewValue) {
    AppSettings stored;
    stored.launchAtLoginEnabled = false;
    start(stored);
    syncOutcome = SyncOutcome::needsApproval;
    presenter.answers = {"Open Settings"};
    AppSettings next = stored;
    next.launchAtLoginEnabled = true;

    EXPECT_EQ(coordinator->saveSettings(next, TelemetryTrigger::settings), std::nullopt);

    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].title, "Finish Enabling Launch at Login");
    EXPECT_EQ(presenter.shown[0].message,
              "Your desktop needs one more confirmation before Tavrolin can open automatically when you log "
              "in.\n\nOpen your desktop's startup applications settings and make sure Tavrolin is allowed to open at "
              "login.");
    EXPECT_EQ(presenter.shown[0].buttons, (QStringList{"Open Settings", "OK"}));
    EXPECT_TRUE(store->settings().launchAtLoginEnabled);
    EXPECT_EQ(log.mid(0, 4), (QStringList{"register", "sync 1", "report open_login_items_settings stored-telemetry=on",
                                          "open login items"}));
    EXPECT_EQ(events[0].trigger, TelemetryTrigger::alert);
    EXPECT_FALSE(events[0].snapshot);
}

TEST_F(SettingsCoordinatorTest, AnUnwritableFileStillAppliesTheValueAndSaysItWasNotSaved) {
    defaults->setWritable(false);
    AppSettings next;
    next.targetLanguage = AppLanguage::german;
    EXPECT_EQ(coordinator->saveSettings(next, TelemetryTrigger::settings), std::nullopt);
    EXPECT_EQ(store->settings().targetLanguage, AppLanguage::german);
    EXPECT_EQ(pushed.back().targetLanguage, AppLanguage::german);
    EXPECT_EQ(refreshed.back().targetLanguage, AppLanguage::german);
    ASSERT_EQ(presenter.shown.size(), 1u);
    EXPECT_EQ(presenter.shown[0].title, "Could Not Save Settings");
}

// --- saving: order and usage events ---

TEST_F(SettingsCoordinatorTest, SavingTheSameValueStillRunsEveryStepButLaunchAtLogin) {
    const AppSettings current = store->settings();
    EXPECT_EQ(coordinator->saveSettings(current, TelemetryTrigger::settings), std::nullopt);
    EXPECT_EQ(log, (QStringList{"register", "push full", "report save_settings ok stored-telemetry=on", "refresh"}));
    EXPECT_EQ(grabber->grabs, grabsOf(current));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].targetLanguage, current.targetLanguage);
    EXPECT_EQ(events[0].startedAt, QDateTime(QDate(2026, 3, 1), QTime(9, 0), Qt::UTC));
}

TEST_F(SettingsCoordinatorTest, StatisticsTurnedOffAreReportedBeforeTheValueIsStored) {
    AppSettings next = store->settings();
    next.telemetryEnabled = false;
    coordinator->saveSettings(next, TelemetryTrigger::settings);
    EXPECT_EQ(log, (QStringList{"register", "report save_settings ok stored-telemetry=on",
                                "report anonymous_statistics_disabled stored-telemetry=on", "push full", "refresh"}));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(events[1].success);
    EXPECT_FALSE(events[1].includeDuration);
    EXPECT_FALSE(events[1].targetLanguage);
    EXPECT_EQ(events[1].snapshot, telemetrySnapshot(next));
    EXPECT_FALSE(store->settings().telemetryEnabled);
}

TEST_F(SettingsCoordinatorTest, StatisticsTurnedOffWithOnlineFeaturesReportNothing) {
    AppSettings next = store->settings();
    next.telemetryEnabled = false;
    next.onlineFeaturesEnabled = false;
    coordinator->saveSettings(next, TelemetryTrigger::settings);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(log, (QStringList{"register", "push full", "refresh"}));
}

TEST_F(SettingsCoordinatorTest, StatisticsTurnedOnAreReportedAfterTheValueIsStored) {
    AppSettings stored;
    stored.telemetryEnabled = false;
    start(stored);
    AppSettings next = stored;
    next.telemetryEnabled = true;
    coordinator->saveSettings(next, TelemetryTrigger::alert);
    EXPECT_EQ(log, (QStringList{"register", "push full", "report anonymous_statistics_enabled stored-telemetry=on",
                                "report save_settings ok stored-telemetry=on", "refresh"}));
    EXPECT_EQ(events[0].trigger, TelemetryTrigger::alert);
    EXPECT_EQ(events[1].trigger, TelemetryTrigger::alert);
}

TEST_F(SettingsCoordinatorTest, TheStoredValueIsSanitisedBeforeItIsPushedAndShown) {
    AppSettings next;
    next.selectionPopupAutoDismissDelay = 100;
    coordinator->saveSettings(next, TelemetryTrigger::settings);
    EXPECT_EQ(store->settings().selectionPopupAutoDismissDelay, 15);
    EXPECT_EQ(pushed.back().selectionPopupAutoDismissDelay, 15);
    EXPECT_EQ(refreshed.back().selectionPopupAutoDismissDelay, 15);
}

}  // namespace
}  // namespace tavrolin
