#include "shell/app_delegate.h"

#include "anti_sleep/anti_sleep_manager.h"
#include "commands/app_alerts.h"
#include "commands/window_translation_failures.h"
#include "core/app_metadata.h"
#include "core/capture_workflow_error.h"
#include "core/device_identifier.h"
#include "core/user_preferred_languages_provider.h"
#include "dictation/dictation_permission_manager.h"
#include "dictation/dictation_scratchpad_window_controller.h"
#include "language/server_backed_translation_client.h"
#include "language/text_editing_service.h"
#include "language/text_writing_service.h"
#include "language/translation_setup_support.h"
#include "onboarding/onboarding_presenting.h"
#include "onboarding/onboarding_state_store.h"
#include "platform/front_window_activation.h"
#include "platform/system_event_monitoring.h"
#include "selection_popup/selection_popup_seams.h"
#include "settings_window/settings_window_controller.h"
#include "settings_window/shortcut_recorder.h"
#include "shell/app_actions.h"
#include "shell/error_messages.h"
#include "shell/hot_key_manager.h"
#include "shell/launch_at_login_controller.h"
#include "shell/onboarding_hooks.h"
#include "shell/share_alert_presenter.h"
#include "shell/share_prompt_store.h"
#include "shell/status_menu.h"
#include "shell/system_settings_opener.h"
#include "shell/update_hooks.h"
#include "support/async.h"
#include "support/delegate_harness.h"
#include "support/fakes/fake_accessibility_bus_status.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_dictation_authorization.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_global_key_grabber.h"
#include "support/fakes/fake_power_assertions.h"
#include "support/fakes/fake_screen_capture.h"
#include "support/fakes/fake_screen_capture_permission.h"
#include "support/fakes/fake_speech_backends.h"
#include "support/fakes/fake_window_list.h"
#include "support/fakes/gated_text_recognizer.h"
#include "support/fakes/held_text_requests.h"
#include "support/fakes/in_memory_text_clients.h"
#include "support/fakes/memory_log_sink.h"
#include "support/fakes/recording_translation_clients.h"
#include "support/fakes/scripted_alert_presenter.h"
#include "support/virtual_time.h"
#include "updates/app_update_checker.h"
#include "updates/app_update_configuration.h"
#include "updates/app_update_state_store.h"
#include "window_translation/active_window_detector.h"
#include "window_translation/screenshot_controller.h"
#include "window_translation/screenshot_overlay_presenter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <X11/keysym.h>
#include <future>
#include <gtest/gtest.h>
#include <mutex>

using namespace tavrolin;
using test::EventLog;

namespace {

using Harness = test::DelegateHarness;

}  // namespace

TEST(AppDelegate, ConstructionBuildsItsObjectsInOrderAndNothingElse) {
    Harness h;
    h.storeSettings([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    AppDelegate delegate(h.factories());
    EXPECT_EQ(h.built(), (QStringList{
                             "build onboardingStore version=1 standard=1",
                             "build updateConfiguration",
                             "build updateStateStore",
                             "build sharePromptStore schedule=20,10,10",
                             "build hotKeyManager",
                             "build antiSleepManager",
                             "build activeWindowDetector",
                             "build focusedTextFieldAccessor clipboardRestoreDelay=0.3",
                             "build launchAtLoginController",
                             "build settingsStore",
                             "build onlineFeaturePolicy enabled=0",
                         }));
    EXPECT_FALSE(delegate.services().onlineFeaturePolicy()->isOnlineFeaturesEnabled());
    EXPECT_FALSE(delegate.isMessageTranslationInProgress() || delegate.isTextEditingInProgress() ||
                 delegate.isTextWritingInProgress() || delegate.isSelectionTranslationInProgress() ||
                 delegate.isFlipLanguageInProgress() || delegate.isCreatePromptInProgress());
    EXPECT_FALSE(delegate.overlayTranslationContext().has_value());
    EXPECT_FALSE(delegate.pendingSharePromptTrigger().has_value());
}

namespace {

// The launch of a delegate whose settings the test chose; `events` are those of the launch only.
struct Launched {
    Harness h;
    std::unique_ptr<AppDelegate> delegate;
    QStringList events;

    explicit Launched(const std::function<void(AppSettings&)>& change, bool withOnboarding = false) {
        h.withOnboarding = withOnboarding;
        h.storeSettings(change);
        delegate = std::make_unique<AppDelegate>(h.factories());
        const qsizetype before = h.log->events().size();
        delegate->applicationDidFinishLaunching();
        events = h.log->events().mid(before);
    }
    qsizetype at(const QString& prefix) const {
        for (qsizetype i = 0; i < events.size(); ++i) {
            if (events[i].startsWith(prefix)) {
                return i;
            }
        }
        return -1;
    }
};

void everythingOn(AppSettings& s) {
    s.telemetryEnabled = true;
    s.onlineFeaturesEnabled = true;
    s.selectionPopupEnabled = true;
    s.overlayMinimumDisplayDuration = -2;
    s.selectionPopupAutoDismissDelay = 7;
    s.antiSleepSchedule = AntiSleepSchedule{true, 0, 1439, false, false};
}

}  // namespace

TEST(AppDelegate, LaunchRunsItsStepsInOrder) {
    Launched launch(everythingOn);
    const QStringList& e = launch.events;
    const QStringList appLines = launch.h.lines.messages(LogCategory::app);
    ASSERT_FALSE(appLines.isEmpty());
    EXPECT_TRUE(appLines.first().startsWith(QStringLiteral("launch version="))) << appLines.first().toStdString();

    // The ten steps, as far as each leaves a trace, in their order.
    const QStringList ordered = {
        "build telemetryClient session=5000/10000 waits=0 perHost=2",
        "telemetry app_install",
        "telemetry app_launch",
        "build overlayPresenter setupSupport=1",
        "overlay.minimumDisplayDuration 0",
        "overlay.setOnDismiss",
        "build popupPresenter",
        "popup.minimumDisplayDuration 0",
        "popup.setOnDismiss",
        "build selectionTrigger",
        "trigger.autoDismissDelay 7",
        "build systemEventMonitor",
        "trigger.start",
    };
    qsizetype previous = -1;
    for (const QString& step : ordered) {
        const qsizetype index = launch.at(step);
        ASSERT_GE(index, 0) << step.toStdString() << "\n" << e.join('\n').toStdString();
        EXPECT_GT(index, previous) << step.toStdString() << "\n" << e.join('\n').toStdString();
        previous = index;
    }
    // The overlay's setup notices ask their own server-backed client, not the shared one.
    EXPECT_EQ(launch.at("build serverTranslationClient session=20000/45000 waits=1 perHost=2"),
              launch.at("build overlayPresenter") - 2);
    ASSERT_NE(launch.delegate->statusItem(), nullptr);
    EXPECT_EQ(launch.delegate->statusMenu()->actions().last()->text(), QStringLiteral("Quit"));
    EXPECT_EQ(launch.h.systemAssertions->createdNames, QStringList{"Tavrolin Anti-Sleep"})
        << "the schedule covers the whole day: the assertion is taken at launch";
}

TEST(AppDelegate, LaunchWithEverythingOffStartsLess) {
    Launched launch([](AppSettings& s) {
        s.telemetryEnabled = true;
        s.onlineFeaturesEnabled = false;
        s.selectionPopupEnabled = false;
    });
    EXPECT_EQ(launch.at("telemetry "), -1) << "no usage event while online features are off";
    EXPECT_EQ(launch.h.lines.messages(LogCategory::telemetry).size(), 2) << "the install and launch lines are written";
    EXPECT_EQ(launch.at("trigger.start"), -1);
    EXPECT_GE(launch.at("build selectionTrigger"), 0) << "the settings step builds the trigger either way";
    EXPECT_TRUE(launch.h.systemAssertions->createdNames.isEmpty());
    EXPECT_FALSE(launch.delegate->services().onlineFeaturePolicy()->isOnlineFeaturesEnabled());
}

TEST(AppDelegate, TwoServerBackedClientsOnlyTheFirstTurnsTheOverlayToServerLoading) {
    Launched launch(everythingOn);
    AppDelegate& delegate = *launch.delegate;
    auto shared = delegate.services().translationClient();
    auto setup = delegate.services().overlayTranslationSetupClient();
    EXPECT_NE(shared, setup);
    EXPECT_EQ(delegate.services().translationClient(), shared) << "built once";
    ASSERT_EQ(launch.h.serverClients.size(), 2u) << "each has its own server client and session";

    launch.h.log->add(QStringLiteral("--- shared"));
    EXPECT_EQ(
        test::await(shared->translate(QStringList{QStringLiteral("hola")}, AppLanguage::spanish, AppLanguage::german)),
        QStringList{"hola (es>de server)"});
    launch.h.log->add(QStringLiteral("--- setup"));
    EXPECT_EQ(
        test::await(setup->translate(QStringList{QStringLiteral("hola")}, AppLanguage::spanish, AppLanguage::german)),
        QStringList{"hola (es>de server)"});
    const QStringList all = launch.h.log->events();
    const QStringList loading = launch.h.log->matching(QStringLiteral("overlay.showLoading"));
    ASSERT_EQ(loading.size(), 1) << all.join('\n').toStdString();
    EXPECT_EQ(loading.first(),
              QStringLiteral("overlay.showLoading %1 1").arg(translationLoadingText(AppLanguage::german)));
    EXPECT_LT(all.indexOf(loading.first()), all.indexOf(QStringLiteral("--- setup")));

    // With online features off neither goes to the server: the policy is read at each call.
    delegate.services().onlineFeaturePolicy()->setOnlineFeaturesEnabled(false);
    try {
        test::await(shared->translate(QStringList{QStringLiteral("hola")}, AppLanguage::spanish, AppLanguage::german));
    } catch (const std::exception&) {
    }
    EXPECT_EQ(launch.h.serverClients[0]->calls() + launch.h.serverClients[1]->calls(), 2);
}

TEST(AppDelegate, DismissalsClearTheOverlayAndConsumeAPendingSharePromptOnce) {
    Launched launch(everythingOn);
    AppDelegate& delegate = *launch.delegate;
    ASSERT_TRUE(launch.h.overlay && launch.h.overlay->onDismiss);
    ASSERT_TRUE(launch.h.popup && launch.h.popup->onDismiss);

    delegate.commands().windowTranslation->overlay().setContext(OverlayTranslationContext{QUuid::createUuid()});
    launch.h.overlay->onDismiss();
    EXPECT_FALSE(delegate.overlayTranslationContext().has_value()) << "cleared with no share prompt pending";

    // The twentieth success makes the prompt due.
    launch.h.defaults.setInteger(QStringLiteral("sharePromptTotalSuccessCount"), 19);
    ASSERT_TRUE(delegate.recordSuccess(TelemetryTrigger::hotkey));
    ASSERT_EQ(delegate.pendingSharePromptTrigger(), TelemetryTrigger::hotkey);
    delegate.commands().windowTranslation->overlay().setContext(OverlayTranslationContext{QUuid::createUuid()});
    launch.h.popup->onDismiss();
    EXPECT_FALSE(delegate.pendingSharePromptTrigger().has_value());
    EXPECT_TRUE(delegate.overlayTranslationContext().has_value()) << "the popup leaves the overlay context alone";
    launch.h.overlay->onDismiss();
    EXPECT_FALSE(delegate.overlayTranslationContext().has_value());

    ASSERT_NE(launch.h.alerts, nullptr);
    const auto questions = [&] {
        return std::count_if(launch.h.alerts->shown.begin(), launch.h.alerts->shown.end(),
                             [](const Alert& alert) { return alert.title == ShareAlertPresenter::title(); });
    };
    EXPECT_EQ(questions(), 1) << "the pending prompt is asked once, at the first dismissal";

    delegate.shareApp();
    EXPECT_EQ(questions(), 2) << "the menu command always asks";
}

TEST(AppDelegate, SystemNoticesReachAntiSleepAndTerminationReleasesIt) {
    Launched launch(everythingOn);
    ASSERT_NE(launch.h.monitor, nullptr);
    launch.h.lines.sink().clear();
    launch.h.monitor->wake();
    launch.h.monitor->clockChanged();
    const QStringList lines = launch.h.lines.messages(LogCategory::app);
    EXPECT_TRUE(lines.contains(QStringLiteral("anti-sleep wake notification received")))
        << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("anti-sleep clock change notification received")));

    ASSERT_FALSE(launch.h.systemAssertions->held.empty());
    launch.delegate->applicationWillTerminate();
    EXPECT_TRUE(launch.h.systemAssertions->held.empty());
    EXPECT_FALSE(launch.delegate->statusItem()->isVisible());
}

TEST(AppDelegate, QuitReportsTheCommandWithoutWaitingForIt) {
    Launched launch(everythingOn);
    launch.delegate->quit();
    EXPECT_EQ(launch.h.log->matching(QStringLiteral("telemetry quit")).size(), 1);
    EXPECT_TRUE(launch.h.lines.messages(LogCategory::telemetry)
                    .last()
                    .startsWith(QStringLiteral("event action=quit trigger=menu hotkey=none")));
}

TEST(AppDelegate, RetranslationResultsMatchOnlyTheRunningRequest) {
    const QUuid session = QUuid::createUuid();
    const QUuid request = QUuid::createUuid();
    OverlayTranslationContext context{session};
    EXPECT_FALSE(context.matchesRetranslationRequest(session, request)) << "no re-translation running";
    context.retranslationRequestID = request;
    EXPECT_TRUE(context.matchesRetranslationRequest(session, request));
    EXPECT_FALSE(context.matchesRetranslationRequest(QUuid::createUuid(), request));
    EXPECT_FALSE(context.matchesRetranslationRequest(session, QUuid::createUuid()));
}

TEST(AppDelegate, PreferredLanguagesKeepTheirFirstSettings) {
    Launched launch([](AppSettings& s) {
        s.targetLanguage = AppLanguage::ukrainian;
        s.messageTargetLanguage = AppLanguage::german;
    });
    auto provider = launch.delegate->services().preferredLanguagesProvider();
    AppSettings changed = launch.delegate->settingsStore().settings();
    changed.targetLanguage = AppLanguage::japanese;
    launch.delegate->settingsStore().setSettings(changed);
    EXPECT_EQ(launch.delegate->services().preferredLanguagesProvider(), provider);
    EXPECT_TRUE(provider->boostedLanguages().count(AppLanguage::ukrainian));
    EXPECT_FALSE(provider->boostedLanguages().count(AppLanguage::japanese));
}

TEST(AppDelegate, LaunchRegistersTheSevenShortcutsAndBuildsTheStatusMenuFromTheSettings) {
    Launched launch([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    const std::map<quint32, test::FakeGlobalKeyGrabber::Combination>& grabs = launch.h.grabber->grabs;
    ASSERT_EQ(grabs.size(), 7u);
    EXPECT_EQ(grabs.begin()->first, 2u);
    EXPECT_EQ(grabs.rbegin()->first, 8u);
    EXPECT_EQ(launch.delegate->services().hotKeyManager().registeredHotKeys().size(), 7u);

    StatusMenu* menu = launch.delegate->statusMenuController();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(launch.delegate->statusMenu(), menu->menu());
    EXPECT_EQ(launch.delegate->statusItem(), menu->trayIcon());
    const AppSettings settings = launch.delegate->settingsStore().settings();
    for (HotKeyAction action : allHotKeyActions) {
        QAction* item = menu->commandItem(action);
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(menu->menu()->actions().contains(item));
        EXPECT_EQ(item->text(), StatusMenu::commandItemTitle(action, settings)) << "refreshed at launch";
    }
    EXPECT_EQ(launch.delegate->statusItem()->toolTip(), StatusMenu::toolTip(settings));
    EXPECT_TRUE(launch.h.alerts == nullptr || launch.h.alerts->shown.empty()) << "registration succeeded: no alert";

    launch.delegate->applicationWillTerminate();
    EXPECT_TRUE(launch.h.grabber->grabs.empty()) << "termination releases the grabs";
}

TEST(AppDelegate, ShortcutsLostToAKeyboardChangeAreReportedAsAFailedRegistration) {
    Launched launch([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    ASSERT_EQ(launch.h.grabber->grabs.size(), 7u);
    launch.h.grabber->loseGrabs(rawValue(HotKeyAction::flipLanguage), GlobalKeyGrabStatus::alreadyInUse);
    // Only the lost shortcut is given up, and only until the keyboard changes again: every
    // registration stays.
    EXPECT_EQ(launch.delegate->services().hotKeyManager().registeredHotKeys().size(), 7u);
    ASSERT_NE(launch.h.alerts, nullptr);
    ASSERT_EQ(launch.h.alerts->shown.size(), 1u);
    EXPECT_EQ(launch.h.alerts->shown[0].title, "Could not register shortcuts");
    EXPECT_EQ(launch.h.alerts->shown[0].message,
              makeMessage(CaptureWorkflowError::hotKeyAlreadyInUse(QStringLiteral("Control+Shift+F"))));
}

TEST(AppDelegate, SavingSettingsRegistersTheNewShortcutsAndRefreshesTheMenu) {
    Launched launch([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    const auto before = launch.h.grabber->grabs.at(rawValue(HotKeyAction::translateMessage));

    AppSettings next = launch.delegate->settingsStore().settings();
    next.translateMessageShortcut = HotKeyShortcut{HotKeyKey::a, false, true, false, true};
    ASSERT_EQ(launch.delegate->saveSettings(next, TelemetryTrigger::settings), std::nullopt);

    EXPECT_EQ(launch.delegate->settingsStore().settings().translateMessageShortcut, next.translateMessageShortcut);
    EXPECT_NE(launch.h.grabber->grabs.at(rawValue(HotKeyAction::translateMessage)), before);
    EXPECT_EQ(launch.h.grabber->grabs.size(), 7u);
    EXPECT_EQ(launch.delegate->statusMenuController()->commandItem(HotKeyAction::translateMessage)->text(),
              StatusMenu::commandItemTitle(HotKeyAction::translateMessage, next));

    // A combination another program holds is refused and nothing changes.
    AppSettings refused = next;
    refused.editTextShortcut = HotKeyShortcut{HotKeyKey::b, false, true, false, true};
    launch.h.grabber->taken.insert(test::FakeGlobalKeyGrabber::Combination{
        launch.h.grabber->grabs.at(rawValue(HotKeyAction::translateMessage)).keysym + 1, {true, false, true, false}});
    const std::optional<QString> error = launch.delegate->saveSettings(refused, TelemetryTrigger::settings);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(launch.delegate->settingsStore().settings().editTextShortcut, next.editTextShortcut);
    EXPECT_EQ(launch.h.grabber->grabs.size(), 7u) << "the previous shortcuts are registered again";
}

TEST(AppDelegate, UpdateChecksGoThroughTheUpdateHooks) {
    Launched launch([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    ASSERT_NE(launch.h.alerts, nullptr);
    const std::size_t before = launch.h.alerts->shown.size();
    launch.delegate->checkForUpdates();
    ASSERT_EQ(launch.h.alerts->shown.size(), before + 1) << "offline, the manual check asks to turn online features on";
    EXPECT_FALSE(launch.delegate->updateHooks().isCheckRunning());

    // Turning online features on starts the automatic schedule; turning them off cancels it.
    AppSettings online = launch.delegate->settingsStore().settings();
    online.onlineFeaturesEnabled = true;
    ASSERT_EQ(launch.delegate->saveSettings(online, TelemetryTrigger::settings), std::nullopt);
    EXPECT_TRUE(launch.delegate->services().onlineFeaturePolicy()->isOnlineFeaturesEnabled());
    QCoreApplication::processEvents();
    EXPECT_TRUE(launch.delegate->updateHooks().isTimerArmed() || launch.delegate->updateHooks().isCheckRunning());

    AppSettings offline = online;
    offline.onlineFeaturesEnabled = false;
    ASSERT_EQ(launch.delegate->saveSettings(offline, TelemetryTrigger::settings), std::nullopt);
    EXPECT_FALSE(launch.delegate->updateHooks().isTimerArmed());
    EXPECT_FALSE(launch.delegate->services().onlineFeaturePolicy()->isOnlineFeaturesEnabled());
}

TEST(AppDelegate, ASaveGivesTheServicesTheSecondLanguageAndStartsTheUpdateCheckEveryTime) {
    Launched launch(everythingOn);
    AppSettings next = launch.delegate->settingsStore().settings();
    next.messageTargetLanguage = AppLanguage::german;
    ASSERT_EQ(launch.delegate->saveSettings(next, TelemetryTrigger::settings), std::nullopt);
    EXPECT_EQ(launch.delegate->services().textEditingService()->sourceLanguage, AppLanguage::german);
    EXPECT_EQ(launch.delegate->services().textEditingService()->targetLanguage, AppLanguage::german);
    ASSERT_NE(launch.delegate->services().textWritingService(), nullptr);
    EXPECT_EQ(launch.delegate->services().textWritingService()->targetLanguage, AppLanguage::german);

    // Services built before a save follow it too.
    next.messageTargetLanguage = AppLanguage::french;
    ASSERT_EQ(launch.delegate->saveSettings(next, TelemetryTrigger::alert), std::nullopt);
    EXPECT_EQ(launch.delegate->services().textEditingService()->sourceLanguage, AppLanguage::french);
    EXPECT_EQ(launch.delegate->services().textEditingService()->targetLanguage, AppLanguage::french);
    EXPECT_EQ(launch.delegate->services().textWritingService()->targetLanguage, AppLanguage::french);

    // Online features stay on: the save still puts the automatic check back on its schedule.
    QCoreApplication::processEvents();
    launch.delegate->updateHooks().cancelUpdateChecks();
    ASSERT_FALSE(launch.delegate->updateHooks().isTimerArmed() || launch.delegate->updateHooks().isCheckRunning());
    ASSERT_EQ(launch.delegate->saveSettings(next, TelemetryTrigger::settings), std::nullopt);
    EXPECT_TRUE(launch.delegate->updateHooks().isTimerArmed() || launch.delegate->updateHooks().isCheckRunning());
}

TEST(AppDelegate, WriteToDeveloperOpensAMailToTheSupportAddress) {
    Launched launch([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    launch.delegate->writeToDeveloper();
    if (AppActions::makeSupportMailURL(AppMetadata::supportEmail(), AppMetadata::appVersion())) {
        ASSERT_EQ(launch.h.openedURLs.size(), 1);
        EXPECT_EQ(launch.h.openedURLs.first().scheme(), QStringLiteral("mailto"));
    } else {
        EXPECT_TRUE(launch.h.openedURLs.isEmpty());
    }
}

TEST(AppDelegate, WithAnOnboardingWindowTheFirstLaunchOpensItAndCommandsGoToIt) {
    Launched launch([](AppSettings& s) { s.onlineFeaturesEnabled = false; }, true);
    ASSERT_NE(launch.delegate->onboardingHooks(), nullptr);
    ASSERT_EQ(launch.h.onboardingWindows.size(), 1u) << "never completed: the first-run pages open at launch";
    EXPECT_EQ(launch.h.onboardingWindows[0]->request.pages, OnboardingPageSet::firstRun);

    launch.h.grabber->press(rawValue(HotKeyAction::editText));
    launch.delegate->runCommand(HotKeyAction::flipLanguage, TelemetryTrigger::menu);
    EXPECT_EQ(launch.h.onboardingWindows[0]->offered,
              (std::vector<HotKeyAction>{HotKeyAction::editText, HotKeyAction::flipLanguage}))
        << "the shortcut and the menu item both reach the open onboarding";

    launch.delegate->showTutorial();
    EXPECT_EQ(launch.h.onboardingWindows.size(), 1u) << "an open window is only brought forward";
    EXPECT_GE(launch.h.onboardingWindows[0]->broughtToFront, 1);

    // The ready page's screen capture button says that capture needs no permission here.
    const size_t alertsBefore = launch.h.alerts->shown.size();
    launch.h.onboardingWindows[0]->request.callbacks.onOpenScreenRecordingSettings();
    ASSERT_EQ(launch.h.alerts->shown.size(), alertsBefore + 1);
    EXPECT_TRUE(launch.h.alerts->shown.back().message.startsWith(QStringLiteral("Screen capture needs no permission")));
}

TEST(AppDelegate, WithoutAnOnboardingWindowNothingPretendsToShowOne) {
    Launched launch([](AppSettings& s) { s.onlineFeaturesEnabled = false; });
    EXPECT_EQ(launch.delegate->onboardingHooks(), nullptr);
    launch.delegate->showTutorial();
    EXPECT_EQ(launch.delegate->services().onboardingStore().completedVersion(), 0)
        << "nothing was shown, nothing completed";
}

TEST(AppDelegate, TheScreenshotControllerIsBuiltOnceConfiguredAndFollowsTheSecondLanguage) {
    Launched launch([](AppSettings& s) {
        s.onlineFeaturesEnabled = false;
        s.messageTargetLanguage = AppLanguage::german;
    });
    EXPECT_EQ(launch.h.log->matching(QStringLiteral("build screenshotController")).size(), 0) << "built on first use";
    const qsizetype before = launch.h.log->events().size();
    ScreenshotController* controller = launch.delegate->services().screenshotController();
    ASSERT_NE(controller, nullptr);
    EXPECT_EQ(launch.delegate->services().screenshotController(), controller);
    // The recognizer over the favoured languages, the translation client (built on the way), a
    // front-window detector of its own, then the controller.
    QStringList built = launch.h.log->events().mid(before).filter(QStringLiteral("build "));
    built.removeIf([](const QString& line) { return line.contains(QStringLiteral("TranslationClient")); });
    EXPECT_EQ(built, (QStringList{"build textRecognizer preferred=1", "build activeWindowDetector",
                                  "build screenshotController"}));

    const ScreenshotTranslationService& service = controller->screenshotTranslationService();
    EXPECT_EQ(service.textFilter, (TranslationTextFilter{2, 5, 2}));
    EXPECT_DOUBLE_EQ(service.composer.narrowThresholdRatio, 0.9);
    const TranslatedTextLayoutEngine& engine = service.layoutEngine;
    EXPECT_EQ((std::vector<double>{engine.horizontalBackgroundPadding, engine.verticalBackgroundPadding,
                                   engine.horizontalTextInset, engine.verticalTextInset, engine.minimumFontSize,
                                   engine.maximumFontSize, engine.horizontalObstacleMargin,
                                   engine.maximumHorizontalGrowthFactor}),
              (std::vector<double>{6, 4, 5, 3, 9, 50, 20, 2.4}));
    EXPECT_EQ(service.translationClient, launch.delegate->services().translationClient());
    EXPECT_EQ(service.preferredLanguagesProvider, launch.delegate->services().preferredLanguagesProvider());
    EXPECT_EQ(service.secondaryLanguage, AppLanguage::german);

    AppSettings next = launch.delegate->settingsStore().settings();
    next.messageTargetLanguage = AppLanguage::french;
    ASSERT_EQ(launch.delegate->saveSettings(next, TelemetryTrigger::settings), std::nullopt);
    EXPECT_EQ(controller->screenshotTranslationService().secondaryLanguage, AppLanguage::french);

    // A window without text comes back as captured.
    const CaptureResult result = test::await(controller->capture(CaptureTarget::display()));
    EXPECT_EQ(result.image.cacheKey(), result.originalImage.cacheKey());
}
namespace tavrolin {
namespace {

TEST(AppDelegate, TheScratchpadIsBuiltOnceAndEachCommandPresentsItInItsMode) {
    Harness h;
    h.withScratchpad = true;
    h.storeSettings([](AppSettings& s) {
        s.onlineFeaturesEnabled = false;
        s.targetLanguage = AppLanguage::german;
        s.dictationLanguage.reset();
    });
    AppDelegate delegate(h.factories());
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(delegate.dictationScratchpadWindowController(), nullptr) << "built on first use only";

    // The menu command, without a stored dictation language: the native language, stored now.
    delegate.runCommand(HotKeyAction::openDictationScratchpad, TelemetryTrigger::menu);
    DictationScratchpadWindowController* controller = delegate.dictationScratchpadWindowController();
    ASSERT_NE(controller, nullptr);
    DictationScratchpadViewModel& model = controller->viewModel();
    EXPECT_EQ(model.mode(), DictationScratchpadViewModel::Mode::dictation);
    EXPECT_EQ(model.selectedLanguage(), AppLanguage::german);
    EXPECT_EQ(model.availableLanguages(), AppLanguages::filteredCases(AppLanguages::targetCases(), false));
    EXPECT_EQ(h.speech.madeLocales->last(), "de-DE");
    EXPECT_EQ(delegate.settingsStore().settings().dictationLanguage, AppLanguage::german);

    // The copy fallback reuses the same window.
    delegate.presentDictationScratchpadCopyOnly(QStringLiteral("not pasted"));
    EXPECT_EQ(delegate.dictationScratchpadWindowController(), controller);
    EXPECT_EQ(model.mode(), DictationScratchpadViewModel::Mode::copyOnly);
    EXPECT_EQ(model.text(), "not pasted");

    // The shortcut, with a stored dictation language that differs from the native one.
    AppSettings settings = delegate.settingsStore().settings();
    settings.dictationLanguage = AppLanguage::english;
    delegate.settingsStore().setSettings(settings);
    h.grabber->press(rawValue(HotKeyAction::openDictationScratchpad));
    EXPECT_EQ(delegate.dictationScratchpadWindowController(), controller);
    EXPECT_EQ(model.mode(), DictationScratchpadViewModel::Mode::dictation);
    EXPECT_EQ(model.text(), "");
    EXPECT_EQ(model.selectedLanguage(), AppLanguage::english);
    EXPECT_TRUE(model.isRecording());
    model.stopDictation(false);
}

}  // namespace
}  // namespace tavrolin

TEST(AppDelegate, SettingsCommandShowsOneWindowThatSavesThroughTheDelegateAndGoesOnClose) {
    Launched launch(everythingOn);
    AppDelegate& delegate = *launch.delegate;
    delegate.openSettings();
    QPointer<SettingsWindowController> controller = delegate.settingsWindowController();
    ASSERT_NE(controller, nullptr);
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(launch.h.log->matching(QStringLiteral("telemetry open_settings")).size(), 1);
    controller->view()->selectPane(SettingsPane::privacy);
    delegate.presentSettings(TelemetryTrigger::menu);
    EXPECT_EQ(delegate.settingsWindowController(), controller.data()) << "the open window is reused as it is";
    EXPECT_EQ(controller->view()->selectedPane(), SettingsPane::privacy);

    // Refused: another program holds the new combination; the window stays, nothing is stored.
    const QByteArray storedBefore = launch.h.defaults.data(QStringLiteral("appSettings"));
    const HotKeyShortcut taken{.key = HotKeyKey::k, .option = true, .control = true};
    launch.h.grabber->taken.insert({XK_k, {.control = true, .alt = true}});
    controller->view()->modifyDraft([&](AppSettings& s) {
        s.flipLanguageShortcut = taken;
        s.targetLanguage = AppLanguage::german;
    });
    controller->view()->save();
    ASSERT_TRUE(controller->view()->saveError().has_value());
    EXPECT_NE(controller->view()->saveError()->indexOf(QStringLiteral("Control+Alt+K")), -1)
        << controller->view()->saveError()->toStdString();
    EXPECT_TRUE(controller->window()->isVisible());
    EXPECT_EQ(launch.h.defaults.data(QStringLiteral("appSettings")), storedBefore);
    EXPECT_EQ(launch.h.grabber->grabs.size(), 7u);

    // Accepted: stored, the window closes, the delegate forgets the controller and deletes it later.
    launch.h.grabber->taken.clear();
    controller->view()->save();
    EXPECT_EQ(delegate.settingsStore().settings().flipLanguageShortcut, taken);
    EXPECT_EQ(delegate.settingsStore().settings().targetLanguage, AppLanguage::german);
    EXPECT_EQ(delegate.settingsWindowController(), nullptr);
    EXPECT_NE(controller, nullptr) << "not deleted inside its own close handling";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(controller, nullptr);

    // A new command starts over from the stored settings on the first pane.
    delegate.openSettings();
    ASSERT_NE(delegate.settingsWindowController(), nullptr);
    EXPECT_EQ(delegate.settingsWindowController()->view()->selectedPane(), SettingsPane::translation);
    EXPECT_EQ(delegate.settingsWindowController()->view()->draftSettings().targetLanguage, AppLanguage::german);
}

TEST(AppDelegate, GrabsPauseWhileASettingsRowRecordsAndComeBackAfterwards) {
    Launched launch(everythingOn);
    AppDelegate& delegate = *launch.delegate;
    delegate.openSettings();
    SettingsView& view = *delegate.settingsWindowController()->view();
    view.selectPane(SettingsPane::shortcuts);
    auto* row = view.paneContent()->findChild<HotKeyEditorRow*>(settingsKey(HotKeyAction::flipLanguage));
    ASSERT_NE(row, nullptr);
    row->field()->setFocus();
    row->field()->setRecording(true);
    EXPECT_TRUE(launch.h.grabber->grabs.empty());
    EXPECT_EQ(delegate.services().hotKeyManager().registeredHotKeys().size(), 7u);

    // Meanwhile another program took Control+Shift+D: it is reported, not dropped silently.
    launch.h.grabber->taken.insert({XK_d, {.control = true, .shift = true}});
    const std::size_t alertsBefore = launch.h.alerts->shown.size();
    row->field()->setRecording(false);
    EXPECT_EQ(launch.h.grabber->grabs.size(), 6u);
    ASSERT_EQ(launch.h.alerts->shown.size(), alertsBefore + 1);
    EXPECT_EQ(launch.h.alerts->shown.back().title, QStringLiteral("Could not register shortcuts"));

    // Closing the window while a row records brings the grabs back too.
    launch.h.grabber->taken.clear();
    AppSettings settings = delegate.settingsStore().settings();
    ASSERT_EQ(delegate.saveSettings(settings, TelemetryTrigger::settings), std::nullopt);
    row->field()->setRecording(true);
    EXPECT_TRUE(launch.h.grabber->grabs.empty());
    delegate.settingsWindowController()->window()->close();
    EXPECT_EQ(launch.h.grabber->grabs.size(), 7u);
}

TEST(AppDelegate, StoredOutOfRangeValuesOpenSanitisedInTheSettingsWindow) {
    Harness h;
    QJsonObject stored = AppSettings{}.toJson();
    stored.insert(QStringLiteral("selectionPopupAutoDismissDelay"), 99);
    stored.insert(QStringLiteral("overlayMinimumDisplayDuration"), -4);
    stored.insert(QStringLiteral("onlineFeaturesEnabled"), false);
    stored.insert(QStringLiteral("targetLanguage"), QStringLiteral("he"));
    ASSERT_TRUE(h.defaults.setRawValue(QStringLiteral("appSettings"), stored));
    AppDelegate delegate(h.factories());
    delegate.openSettings();
    ASSERT_NE(delegate.settingsWindowController(), nullptr);
    const AppSettings& draft = delegate.settingsWindowController()->view()->draftSettings();
    EXPECT_DOUBLE_EQ(draft.selectionPopupAutoDismissDelay, 15.0);
    EXPECT_DOUBLE_EQ(draft.overlayMinimumDisplayDuration, 0.0);
    EXPECT_EQ(draft.targetLanguage, AppLanguage::russian);
    EXPECT_FALSE(draft.validationError().has_value());
}

// ---- the Translate-window workflow

namespace {

constexpr auto windowTranslation = "action=capture_and_translate_active_window";

bool waitFor(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 10000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condition();
}

struct WindowTranslation : Launched {
    WindowTranslation(const std::function<void(AppSettings&)>& change =
                          [](AppSettings& s) {
                              s.onlineFeaturesEnabled = false;
                              s.telemetryEnabled = false;
                              s.targetLanguage = AppLanguage::spanish;
                              s.overlayMinimumDisplayDuration = 0.5;
                          })
        : Launched(change) {
        h.withDetector = true;
        start = h.log->events().size();
    }
    qsizetype start = 0;

    QStringList overlayCalls() const { return h.log->events().mid(start).filter(QStringLiteral("overlay.")); }
    QStringList usageEvents() const {
        return h.lines.messages(LogCategory::telemetry).filter(QString::fromLatin1(windowTranslation));
    }
    QStringList workflowLines() const {
        return h.lines.messages(LogCategory::app).filter(QString::fromLatin1(windowTranslation));
    }
    bool finished() const { return !usageEvents().isEmpty(); }
    QString shortcut() const { return delegate->settingsStore().settings().captureAndTranslateShortcut.displayName(); }
};

}  // namespace

TEST(WindowTranslationWorkflow, AnOverlayOnScreenRefusesWithOnlyTheIgnoredLine) {
    WindowTranslation w;
    w.h.overlay->panelUp = true;
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
    const QStringList lines = w.workflowLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(
        lines[0].startsWith(QStringLiteral("workflow start action=capture_and_translate_active_window "
                                           "trigger=hotkey source=auto target=es")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral("reason=overlay_presenting")));
    EXPECT_TRUE(w.usageEvents().isEmpty());
    EXPECT_EQ(w.h.log->matching(QStringLiteral("build screenshotController")).size(), 0);
}

TEST(WindowTranslationWorkflow, ARunningWorkflowRefusesWithAFailedEvent) {
    WindowTranslation w;
    const auto busy = w.delegate->runningState().begin(AppRunningState::Workflow::textWriting);
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::menu);
    ASSERT_EQ(w.workflowLines().size(), 2);
    EXPECT_TRUE(w.workflowLines()[1].contains(QStringLiteral("reason=workflow_already_in_progress")));
    ASSERT_EQ(w.usageEvents().size(), 1);
    EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("success=false error=workflow_already_in_progress")))
        << w.usageEvents()[0].toStdString();
    EXPECT_TRUE(w.overlayCalls().isEmpty());
}

TEST(WindowTranslationWorkflow, ASuccessShowsTheCardThenTheImageAndCountsOnce) {
    WindowTranslation w;
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
    ASSERT_TRUE(waitFor([&] { return w.finished(); }));
    // No front application: the whole display, its card from the capture callback.
    EXPECT_EQ(w.overlayCalls(),
              (QStringList{"overlay.presentLoading Traduciendo... 0", "overlay.presentImage Auto Detect -> Spanish"}));
    ASSERT_EQ(w.usageEvents().size(), 1);
    EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("success=true")));
    EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("hotkey=") + w.shortcut()))
        << w.usageEvents()[0].toStdString();
    ASSERT_TRUE(w.delegate->overlayTranslationContext().has_value());
    EXPECT_EQ(w.delegate->overlayTranslationContext()->windowBounds, QRectF(0, 0, 320, 200));
    EXPECT_FALSE(w.delegate->overlayTranslationContext()->ownerPID);
    EXPECT_EQ(w.h.defaults.integer(QStringLiteral("sharePromptTotalSuccessCount")), 1);

    // The dismissal drops the context.
    w.h.overlay->clear(true);
    EXPECT_FALSE(w.delegate->overlayTranslationContext().has_value());
}

TEST(WindowTranslationWorkflow, AnImageThatReachesNoDisplayIsAFailureNotASuccess) {
    WindowTranslation w;
    w.h.overlay->imageShows = false;
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::menu);
    ASSERT_TRUE(waitFor([&] { return w.finished(); }));
    ASSERT_EQ(w.usageEvents().size(), 1);
    EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("success=false error=no_shareable_display_found")));
    EXPECT_FALSE(w.delegate->overlayTranslationContext().has_value());
    EXPECT_EQ(w.h.defaults.integer(QStringLiteral("sharePromptTotalSuccessCount")), 0);
    ASSERT_EQ(w.h.alerts->shown.size(), 1u);
    EXPECT_EQ(w.h.alerts->shown[0].title, QStringLiteral("Capture failed"));
    EXPECT_EQ(w.h.alerts->shown[0].message,
              makeMessage(CaptureWorkflowError(CaptureWorkflowError::Case::noShareableDisplayFound)));
}

TEST(WindowTranslationWorkflow, ASecondRequestDuringACaptureLeavesTheFirstAlone) {
    WindowTranslation w;
    // The first capture holds the screen until the second request has been answered.
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    w.h.screen->failCapture = [released] { released.wait(); };
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
    release.set_value();
    // The refusal is reported at once, without touching the overlay or alerting.
    ASSERT_EQ(w.usageEvents().size(), 1);
    EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("error=capture_already_in_progress")));
    EXPECT_TRUE(w.overlayCalls().filter(QStringLiteral("overlay.clear")).isEmpty());
    EXPECT_TRUE(w.h.alerts->shown.empty());

    ASSERT_TRUE(waitFor([&] { return w.usageEvents().size() == 2; }));
    EXPECT_TRUE(w.usageEvents()[1].contains(QStringLiteral("success=true")));
    EXPECT_TRUE(w.overlayCalls().filter(QStringLiteral("overlay.clear")).isEmpty());
}

TEST(WindowTranslationWorkflow, AWindowThatCannotBeCapturedFallsBackToTheDisplay) {
    WindowTranslation w;
    w.h.front->set(FrontApplication{4242, QStringLiteral("Editor")});
    w.h.windows->windows = {test::listedWindow(11, 4242, QRectF(10, 10, 200, 100))};
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
    ASSERT_TRUE(waitFor([&] { return w.finished(); }));
    EXPECT_EQ(w.h.lines.messages(LogCategory::capture).filter(QStringLiteral("fallback")),
              QStringList{"active-window capture fallback reason=window_not_shareable target=es"});
    EXPECT_EQ(w.overlayCalls(), (QStringList{"overlay.clear 1", "overlay.presentLoading Traduciendo... 0",
                                             "overlay.presentImage Auto Detect -> Spanish"}));
    EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("success=true")));
    EXPECT_EQ(w.delegate->overlayTranslationContext()->windowBounds, QRectF(0, 0, 320, 200));
}

TEST(WindowTranslationWorkflow, APermissionRefusalShowsTheScreenCaptureAlert) {
    WindowTranslation w;
    w.h.permission->granted = false;
    w.h.permission->grantsOnRequest = false;
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
    ASSERT_TRUE(waitFor([&] { return w.finished(); }));
    EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("error=screenshot_permission_denied")));
    EXPECT_EQ(w.overlayCalls(), QStringList{"overlay.clear 1"});
    ASSERT_EQ(w.h.alerts->shown.size(), 1u);
    EXPECT_TRUE(w.h.alerts->shown[0].message.contains(w.shortcut())) << w.h.alerts->shown[0].message.toStdString();
    EXPECT_TRUE(w.workflowLines().filter(QStringLiteral("workflow failure")).isEmpty());
}

TEST(WindowTranslationWorkflow, OtherErrorsShowCaptureFailedAndForeignOnesAreLoggedAsUnknown) {
    {
        WindowTranslation w;
        w.h.screen->failCapture = [] { throw CaptureWorkflowError(CaptureWorkflowError::Case::emptyCaptureImage); };
        w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
        ASSERT_TRUE(waitFor([&] { return w.finished(); }));
        EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("error=empty_capture_image")));
        ASSERT_EQ(w.h.alerts->shown.size(), 1u);
        EXPECT_EQ(w.h.alerts->shown[0].title, QStringLiteral("Capture failed"));
        EXPECT_TRUE(w.workflowLines().filter(QStringLiteral("workflow failure")).isEmpty());
    }
    {
        WindowTranslation w;
        w.h.screen->failCapture = [] { throw std::runtime_error("the screen went away"); };
        w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
        ASSERT_TRUE(waitFor([&] { return w.finished(); }));
        EXPECT_TRUE(w.usageEvents()[0].contains(QStringLiteral("error=unknown_error")));
        const QStringList failures = w.workflowLines().filter(QStringLiteral("workflow failure"));
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures[0].contains(QStringLiteral("errorCode=unknown_error")));
        ASSERT_EQ(w.h.alerts->shown.size(), 1u);
        EXPECT_EQ(w.h.alerts->shown[0].title, QStringLiteral("Capture failed"));
        EXPECT_TRUE(w.h.alerts->shown[0].message.contains(QStringLiteral("the screen went away")));
        EXPECT_EQ(w.overlayCalls(), QStringList{"overlay.clear 1"});
    }
}

TEST(WindowTranslationWorkflow, TheRetryOfAnAlertStartsAgainWithTheAlertTrigger) {
    WindowTranslation w;
    int failures = 0;
    w.h.screen->failCapture = [&] {
        if (failures++ == 0) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::onlineFeaturesDisabled);
        }
    };
    w.h.alerts->answers = {QStringLiteral("Turn On Online Features")};
    w.delegate->startCapture(w.shortcut(), TelemetryTrigger::hotkey);
    ASSERT_TRUE(waitFor([&] { return w.usageEvents().size() == 2; }));
    EXPECT_EQ(w.h.alerts->shown[0].title, QStringLiteral("Online Features Disabled"));
    EXPECT_TRUE(w.delegate->settingsStore().settings().onlineFeaturesEnabled);
    const QStringList starts = w.workflowLines().filter(QStringLiteral("workflow start"));
    ASSERT_EQ(starts.size(), 2);
    EXPECT_TRUE(starts[1].contains(QStringLiteral("trigger=alert")));
    EXPECT_TRUE(w.usageEvents()[1].contains(QStringLiteral("success=true")));
}

TEST(WindowTranslationWorkflow, TheTrayCommandStartsOnceTheMenuHasGone) {
    WindowTranslation w;
    w.delegate->startSmartTranslation(TelemetryTrigger::menu);
    EXPECT_TRUE(w.workflowLines().isEmpty()) << "not from inside the menu's own signal";
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.workflowLines().isEmpty());
    w.h.scheduler->advance(AppDelegate::menuCaptureSettleDelay);
    ASSERT_FALSE(w.workflowLines().isEmpty());
    EXPECT_TRUE(w.workflowLines()[0].contains(QStringLiteral("trigger=menu")));
    ASSERT_TRUE(waitFor([&] { return w.finished(); }));

    // The shortcut goes without the menu's pause: once the look for a selection is over.
    w.h.overlay->panelUp = false;
    w.delegate->startSmartTranslation(TelemetryTrigger::hotkey);
    for (int i = 0; i < 100 && w.usageEvents().size() < 2; ++i) {
        QCoreApplication::processEvents();
        w.h.scheduler->advance(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(
        w.workflowLines().filter(QStringLiteral("workflow start")).last().contains(QStringLiteral("trigger=hotkey")));
    ASSERT_TRUE(waitFor([&] { return w.usageEvents().size() == 2; }));
}

TEST(WindowTranslationWorkflow, EachErrorHasItsAlert) {
    using Case = CaptureWorkflowError::Case;
    std::map<Case, CaptureFailureAlert> special{
        {Case::captureAlreadyInProgress, CaptureFailureAlert::none},
        {Case::screenshotPermissionDenied, CaptureFailureAlert::screenRecordingSetup},
        {Case::screenshotPermissionRequiresRestart, CaptureFailureAlert::screenRecordingSetup},
        {Case::translationSourceLanguageUnsupported, CaptureFailureAlert::languageNotSupported},
        {Case::translationLanguagePairNotInstalled, CaptureFailureAlert::translationSetup},
        {Case::serverTranslationUnavailable, CaptureFailureAlert::translationSetup},
        {Case::onlineFeaturesDisabled, CaptureFailureAlert::onlineFeaturesDisabled},
    };
    int fallbacks = 0;
    for (int i = 0; i < CaptureWorkflowError::caseCount; ++i) {
        const auto errorCase = static_cast<Case>(i);
        const auto it = special.find(errorCase);
        EXPECT_EQ(captureFailureAlert(errorCase), it == special.end() ? CaptureFailureAlert::captureFailed : it->second)
            << i;
        fallbacks += fallsBackToDisplayCapture(errorCase) ? 1 : 0;
    }
    EXPECT_EQ(fallbacks, 4);
    EXPECT_TRUE(fallsBackToDisplayCapture(Case::windowNotShareable));
    EXPECT_TRUE(fallsBackToDisplayCapture(Case::appIsFrontmost));
    EXPECT_FALSE(fallsBackToDisplayCapture(Case::noShareableDisplayFound));
}

// ---- re-translation of the overlay with another pair

namespace {

constexpr auto retranslation = "action=retranslate_overlay";
const TranslationLanguagePair toFrench{AppLanguage::english, AppLanguage::french};
const TranslationLanguagePair toGerman{AppLanguage::english, AppLanguage::german};

// An overlay on screen over a captured window, its recognitions held until the test lets them go.
struct Retranslation : WindowTranslation {
    std::shared_ptr<test::GatedTextRecognizer> recognizer = std::make_shared<test::GatedTextRecognizer>();
    std::size_t recognitions = 0;

    Retranslation() {
        h.recognizer->setGated(recognizer);
        delegate->startCapture(shortcut(), TelemetryTrigger::hotkey);
        finishNext();
        EXPECT_TRUE(waitFor([&] { return finished(); }));
        start = h.log->events().size();
    }
    ~Retranslation() { recognizer->releaseAll(); }

    // Lets the next recognition finish, or fail with `error`.
    void finishNext(std::exception_ptr error = nullptr) { finish(recognitions++, std::move(error)); }
    void finish(std::size_t index, std::exception_ptr error = nullptr) {
        ASSERT_TRUE(waitFor([&] { return recognizer->startedCount() > index; }));
        recognizer->release(index, std::move(error));
    }
    // The picker's Apply, as the overlay hands it on, once its recognition has begun. Each
    // recognition runs on a pool thread of its own, and the gates number them as they reach the
    // recognizer: two picks in a row may reach it in either order on a busy machine, so the next
    // step waits until this pick's recognition holds its number.
    void pick(TranslationLanguagePair pair) {
        ASSERT_TRUE(h.overlay->onTranslationRequested);
        const std::size_t started = recognizer->startedCount();
        h.overlay->onTranslationRequested(pair);
        ASSERT_TRUE(waitFor([&] { return recognizer->startedCount() > started; }));
    }
    QStringList retranslationEvents() const {
        return h.lines.messages(LogCategory::telemetry).filter(QString::fromLatin1(retranslation));
    }
    QStringList retranslationLines() const {
        return h.lines.messages(LogCategory::app).filter(QString::fromLatin1(retranslation));
    }
    // Lets queued results arrive (a dropped one shows no sign of having arrived).
    void settle() {
        for (int i = 0; i < 10; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
    }
    int successes() const { return h.defaults.integer(QStringLiteral("sharePromptTotalSuccessCount")); }
};

}  // namespace

TEST(OverlayRetranslation, OfTwoPicksOnlyTheSecondIsAppliedEvenWhenItFinishesFirst) {
    Retranslation r;
    const QUuid session = r.delegate->overlayTranslationContext()->sessionID;
    const QImage original = r.delegate->overlayTranslationContext()->originalImage;
    r.pick(toFrench);
    r.pick(toGerman);
    EXPECT_EQ(r.overlayCalls(),
              (QStringList{"overlay.showLoading " + translationLoadingText(AppLanguage::french) + " 0",
                           "overlay.showLoading " + translationLoadingText(AppLanguage::german) + " 0"}));
    const QStringList starts = r.retranslationLines();
    ASSERT_EQ(starts.size(), 2);
    EXPECT_TRUE(starts[0].startsWith(
        QStringLiteral("workflow start action=retranslate_overlay trigger=overlay source=en target=fr")))
        << starts[0].toStdString();
    EXPECT_TRUE(
        starts[0].endsWith(QStringLiteral("detail=session=") + session.toString(QUuid::WithoutBraces).toUpper()))
        << starts[0].toStdString();

    r.finish(2);
    ASSERT_TRUE(waitFor([&] { return r.retranslationEvents().size() == 1; }));
    r.finish(1);
    r.settle();
    const QStringList shown = r.overlayCalls().filter(QStringLiteral("overlay.presentImage"));
    ASSERT_EQ(shown.size(), 1);
    EXPECT_TRUE(shown[0].endsWith(QStringLiteral("-> German"))) << shown[0].toStdString();
    ASSERT_EQ(r.retranslationEvents().size(), 1) << "the first pick sends nothing";
    EXPECT_TRUE(r.retranslationEvents()[0].contains(QStringLiteral("trigger=overlay")));
    EXPECT_TRUE(r.retranslationEvents()[0].contains(QStringLiteral("success=true")));

    const auto& context = *r.delegate->overlayTranslationContext();
    EXPECT_EQ(context.sessionID, session);
    EXPECT_FALSE(context.retranslationRequestID);
    EXPECT_EQ(context.translationState.selectedLanguagePair, toGerman);
    EXPECT_EQ(context.originalImage.cacheKey(), original.cacheKey()) << "always from the captured pixels";
    EXPECT_EQ(r.h.overlay->shownPair, toGerman);
    EXPECT_EQ(r.successes(), 2);
}

TEST(OverlayRetranslation, AResultAfterTheOverlayWentOrANewCaptureCameIsDropped) {
    {
        Retranslation r;
        r.pick(toFrench);
        r.h.overlay->clear(true);
        r.finishNext();
        r.settle();
        EXPECT_TRUE(r.overlayCalls().filter(QStringLiteral("overlay.presentImage")).isEmpty());
        EXPECT_TRUE(r.retranslationEvents().isEmpty());
        EXPECT_FALSE(r.delegate->overlayTranslationContext());
    }
    {
        Retranslation r;
        r.pick(toFrench);
        const QUuid oldSession = r.delegate->overlayTranslationContext()->sessionID;
        // The overlay goes without word to the delegate and another window is translated.
        r.h.overlay->clear(false);
        r.delegate->startCapture(r.shortcut(), TelemetryTrigger::hotkey);
        r.finish(2);
        ASSERT_TRUE(waitFor([&] { return r.usageEvents().size() == 2; }));
        const QUuid newSession = r.delegate->overlayTranslationContext()->sessionID;
        EXPECT_NE(newSession, oldSession);
        r.finish(1);
        r.settle();
        EXPECT_TRUE(r.retranslationEvents().isEmpty());
        EXPECT_EQ(r.h.overlay->shownPair, (TranslationLanguagePair{AppLanguage::automatic, AppLanguage::spanish}));
        EXPECT_EQ(r.delegate->overlayTranslationContext()->sessionID, newSession);
    }
}

TEST(OverlayRetranslation, AMissingLanguagePairPutsThePreviousImageBackAndTryAgainRepeatsThePair) {
    Retranslation r;
    const auto before = *r.delegate->overlayTranslationContext();
    r.h.alerts->answers = {QStringLiteral("Try Again")};
    r.pick(toFrench);
    r.finishNext(std::make_exception_ptr(CaptureWorkflowError::translationLanguagePairNotInstalled(
        QStringLiteral("English"), QStringLiteral("French"))));
    ASSERT_TRUE(waitFor([&] { return !r.h.alerts->shown.empty(); }));

    ASSERT_EQ(r.retranslationEvents().size(), 1);
    EXPECT_TRUE(r.retranslationEvents()[0].contains(QStringLiteral("success=false")));
    EXPECT_TRUE(r.retranslationEvents()[0].contains(QStringLiteral("error=translation_language_pair_not_installed")))
        << r.retranslationEvents()[0].toStdString();
    EXPECT_EQ(r.h.alerts->shown[0].title, QStringLiteral("Install Translation Languages"));
    // The earlier picture came back before the alert, and the retry asked for the same pair.
    const QString french = translationLoadingText(AppLanguage::french);
    EXPECT_EQ(r.overlayCalls(),
              (QStringList{"overlay.showLoading " + french + " 0", "overlay.presentImage Auto Detect -> Spanish",
                           "overlay.showLoading " + french + " 0"}));
    EXPECT_EQ(r.h.overlay->shownImage.cacheKey(), before.currentImage.cacheKey());
    const QStringList starts = r.retranslationLines().filter(QStringLiteral("workflow start"));
    ASSERT_EQ(starts.size(), 2);
    EXPECT_TRUE(starts[1].contains(QStringLiteral("trigger=overlay source=en target=fr")));

    r.finishNext();
    ASSERT_TRUE(waitFor([&] { return r.retranslationEvents().size() == 2; }));
    EXPECT_TRUE(r.retranslationEvents()[1].contains(QStringLiteral("success=true")));
    EXPECT_EQ(r.h.overlay->shownPair, toFrench);
}

TEST(OverlayRetranslation, AnUnexpectedErrorTakesTheOverlayDownForItsAlertThenBringsItBack) {
    Retranslation r;
    const QUuid session = r.delegate->overlayTranslationContext()->sessionID;
    r.pick(toGerman);
    r.finishNext(std::make_exception_ptr(std::runtime_error("the engine fell over")));
    ASSERT_TRUE(waitFor([&] { return !r.h.alerts->shown.empty(); }));
    EXPECT_EQ(r.h.alerts->shown[0].title, QStringLiteral("Capture failed"));
    ASSERT_EQ(r.retranslationEvents().size(), 1);
    EXPECT_TRUE(r.retranslationEvents()[0].contains(QStringLiteral("error=unknown_error")));
    EXPECT_EQ(r.retranslationLines().filter(QStringLiteral("workflow failure")).size(), 1);
    EXPECT_EQ(r.overlayCalls(),
              (QStringList{"overlay.showLoading " + translationLoadingText(AppLanguage::german) + " 0",
                           "overlay.clear 1", "overlay.presentImage Auto Detect -> Spanish"}));
    ASSERT_TRUE(r.delegate->overlayTranslationContext());
    EXPECT_EQ(r.delegate->overlayTranslationContext()->sessionID, session);
    EXPECT_FALSE(r.delegate->overlayTranslationContext()->retranslationRequestID);
}

TEST(OverlayRetranslation, ACaptureMadeWhileTheFailureAlertIsOpenSurvivesTheAlert) {
    Retranslation r;
    const QUuid first = r.delegate->overlayTranslationContext()->sessionID;
    QUuid second;
    r.h.alerts->onPresent = [&](const Alert&) {
        // The alert's own event loop runs on: the user translates a window meanwhile.
        r.delegate->startCapture(r.shortcut(), TelemetryTrigger::hotkey);
        r.finishNext();
        ASSERT_TRUE(waitFor([&] { return r.usageEvents().size() == 2; }));
        second = r.delegate->overlayTranslationContext()->sessionID;
    };
    r.pick(toGerman);
    r.finishNext(std::make_exception_ptr(std::runtime_error("the engine fell over")));
    ASSERT_TRUE(waitFor([&] { return !r.h.alerts->shown.empty(); }));
    r.settle();

    ASSERT_TRUE(r.delegate->overlayTranslationContext());
    EXPECT_NE(second, first);
    EXPECT_EQ(r.delegate->overlayTranslationContext()->sessionID, second) << "the old overlay came back";
    EXPECT_EQ(r.overlayCalls().filter(QStringLiteral("overlay.presentImage")).size(), 1)
        << r.overlayCalls().join('\n').toStdString();
    EXPECT_EQ(r.h.overlay->shownImage.cacheKey(), r.delegate->overlayTranslationContext()->currentImage.cacheKey());
}

TEST(OverlayRetranslation, AnImageThatReachesNoDisplayIsNotASuccess) {
    Retranslation r;
    r.pick(toGerman);
    r.h.overlay->imageShows = false;
    r.finishNext();
    ASSERT_TRUE(waitFor([&] { return !r.retranslationEvents().isEmpty(); }));
    EXPECT_TRUE(r.retranslationEvents()[0].contains(QStringLiteral("success=false error=no_shareable_display_found")));
    EXPECT_FALSE(r.delegate->overlayTranslationContext());
    EXPECT_EQ(r.successes(), 1) << "only the capture counted";
    ASSERT_EQ(r.h.alerts->shown.size(), 1u);
    EXPECT_EQ(r.h.alerts->shown[0].title, QStringLiteral("Capture failed"));
}

TEST(OverlayRetranslation, OfflineAHebrewTargetAnnouncesNoServerAndWithoutAnOverlayNothingHappens) {
    Retranslation r;
    r.pick({AppLanguage::automatic, AppLanguage::hebrew});
    EXPECT_EQ(r.overlayCalls(),
              QStringList{"overlay.showLoading " + translationLoadingText(AppLanguage::hebrew) + " 0"});
    r.finishNext();
    ASSERT_TRUE(waitFor([&] { return !r.retranslationEvents().isEmpty(); }));

    r.h.overlay->clear(true);
    const qsizetype lines = r.h.lines.messages(LogCategory::app).size();
    const qsizetype usage = r.h.lines.messages(LogCategory::telemetry).size();
    const qsizetype calls = r.overlayCalls().size();
    r.delegate->commands().windowTranslation->retranslate(toFrench);
    r.settle();
    EXPECT_EQ(r.h.lines.messages(LogCategory::app).size(), lines);
    EXPECT_EQ(r.h.lines.messages(LogCategory::telemetry).size(), usage);
    EXPECT_EQ(r.overlayCalls().size(), calls);
}

TEST(OverlayRetranslation, TheSetupNoticeButtonOpensTheTranslationLanguagesStep) {
    WindowTranslation w;
    ASSERT_TRUE(w.h.overlay->openTranslationSetup);
    w.h.overlay->openTranslationSetup();
    ASSERT_EQ(w.h.alerts->shown.size(), 1u) << "no desktop has the page: the explanation";
    EXPECT_EQ(w.h.alerts->shown[0].title,
              SystemSettingsOpener::explanation(SystemSettingsPane::translationLanguages).title);
}
