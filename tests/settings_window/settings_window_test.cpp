// The settings window's working copy, save flow, confirmations and language notices, offscreen.
#include "settings_window/anti_sleep_settings_view.h"
#include "settings_window/settings_layout.h"
#include "settings_window/settings_window_controller.h"
#include "settings_window/shortcut_recorder.h"
#include "support/scoped_time_zone.h"
#include "window_translation/translation_setup_notice_view.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoroTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>
#include <QTimeEdit>

#include <gtest/gtest.h>
#include <map>

namespace tavrolin {
namespace {

using Placement = SettingsLanguageDownloadPlacement;
using namespace std::chrono_literals;

// Nothing installed, everything installable; each target answers after its own delay.
class SlowEngine final : public TranslationClient {
public:
    std::map<AppLanguage, std::chrono::milliseconds> delays;
    int asked = 0;

    QCoro::Task<TranslationPairAvailability> availability(AppLanguage, AppLanguage target) override {
        ++asked;
        const auto delay = delays.contains(target) ? delays.at(target) : 1ms;
        co_await QCoro::sleepFor(delay);
        co_return TranslationPairAvailability::supported;
    }
    using TranslationClient::translate;
    QCoro::Task<QStringList> translate(QStringList, AppLanguage, AppLanguage) override {
        throw std::logic_error("notices never translate");
    }
};

struct Window {
    std::shared_ptr<SlowEngine> engine = std::make_shared<SlowEngine>();
    std::vector<AppSettings> saved;
    std::optional<QString> saveAnswer;
    int closes = 0;
    int exports = 0;
    int setupOpened = 0;
    std::vector<bool> recording;
    std::unique_ptr<SettingsWindowController> controller;

    explicit Window(AppSettings settings = {}) {
        SettingsViewServices services;
        services.localTranslationSetupSupport = std::make_shared<TranslationSetupSupport>(engine, [] { return true; });
        services.openTranslationSetup = [this] { ++setupOpened; };
        services.deviceID = [] { return QStringLiteral("0F3A9C1E-5B7D-4E2A-9C1B-7D3E5F6A8B9C"); };
        services.appVersion = [] { return QStringLiteral("0.1.0 (42)"); };
        controller = std::make_unique<SettingsWindowController>(
            settings,
            [this](const AppSettings& value) {
                saved.push_back(value);
                return saveAnswer;
            },
            [this] { ++exports; }, [this] { ++closes; }, [this](bool on) { recording.push_back(on); },
            std::move(services));
        controller->showWindow();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    }

    SettingsView& view() const { return *controller->view(); }

    void choose(Placement placement, AppLanguage language) {
        QComboBox* picker = view().languagePicker(placement);
        ASSERT_NE(picker, nullptr);
        const int index = picker->findData(rawValue(language));
        ASSERT_GE(index, 0);
        picker->setCurrentIndex(index);
        Q_EMIT picker->activated(index);
    }

    template <typename W>
    W* find(const QString& name) const {
        return view().paneContent()->findChild<W*>(name);
    }
    QCheckBox* toggle(const QString& rowName) const {
        auto* row = find<SettingsToggleRow>(rowName);
        return row ? row->toggle() : nullptr;
    }
};

TEST(SettingsWindow, FixedWindowOpensOnTranslationWithNoticesAndObserversQuiet) {
    AppSettings stored;
    stored.telemetryEnabled = false;  // online on, statistics off: no observer turns it on at first
    Window w(stored);
    EXPECT_EQ(w.controller->window()->windowTitle(), QStringLiteral("Settings"));
    EXPECT_EQ(w.controller->window()->size(), QSize(760, 660));
    EXPECT_EQ(w.view().selectedPane(), SettingsPane::translation);
    EXPECT_EQ(w.view().draftSettings(), stored);
    EXPECT_FALSE(w.view().messageLabel()->isVisible());
    EXPECT_FALSE(w.view().targetLanguageDownloadNotice().has_value());
    EXPECT_EQ(w.engine->asked, 0);
    EXPECT_EQ(w.view().sidebar()->width(), SettingsSidebar::sidebarWidth);

    // The panes' raw values are the case names; nothing else builds one.
    EXPECT_EQ(rawValue(SettingsPane::antiSleep), QStringLiteral("antiSleep"));
    for (SettingsPane pane : allSettingsPanes) {
        EXPECT_EQ(fromRawValue<SettingsPane>(rawValue(pane)), pane);
    }
    EXPECT_EQ(fromRawValue<SettingsPane>(u"AntiSleep"), std::nullopt);
    EXPECT_EQ(fromRawValue<SettingsPane>(u"accessibility"), std::nullopt);
}

TEST(SettingsWindow, OnlineSwitchSpringsBackAsksAndCouplesStatistics) {
    AppSettings stored;
    stored.targetLanguage = AppLanguage::hebrew;
    stored.dictationLanguage = AppLanguage::hebrew;
    Window w(stored);
    w.view().selectPane(SettingsPane::privacy);
    QCheckBox* online = w.toggle(QStringLiteral("onlineFeatures"));
    QCheckBox* telemetry = w.toggle(QStringLiteral("telemetry"));
    ASSERT_TRUE(online && telemetry);

    // Off, then Cancel: the switch sprang back and nothing changed.
    online->click();
    EXPECT_TRUE(online->isChecked());
    EXPECT_TRUE(w.view().showOnlineFeaturesAlert());
    ASSERT_NE(w.view().confirmationOverlay(), nullptr);
    EXPECT_FALSE(w.view().sidebar()->isEnabled()) << "the window takes no input under the question";
    w.view().confirmationOverlay()->dialog()->cancelButton()->click();
    EXPECT_FALSE(w.view().showOnlineFeaturesAlert());
    EXPECT_EQ(w.view().draftSettings(), stored);
    EXPECT_TRUE(w.view().sidebar()->isEnabled());

    // Off, then Disable: online and statistics off, Hebrew replaced, all in the working copy.
    online->click();
    w.view().confirmationOverlay()->dialog()->destructiveButton()->click();
    const AppSettings& draft = w.view().draftSettings();
    EXPECT_FALSE(draft.onlineFeaturesEnabled);
    EXPECT_FALSE(draft.telemetryEnabled);
    EXPECT_EQ(draft.targetLanguage, AppLanguage::russian);
    EXPECT_EQ(draft.dictationLanguage, AppLanguage::russian);
    EXPECT_FALSE(online->isChecked());
    EXPECT_FALSE(telemetry->isEnabled());
    EXPECT_FALSE(draft.validationError().has_value());

    // On again: statistics on too, without a question.
    online->click();
    EXPECT_TRUE(w.view().draftSettings().onlineFeaturesEnabled);
    EXPECT_TRUE(w.view().draftSettings().telemetryEnabled);
    EXPECT_EQ(w.view().confirmationOverlay(), nullptr);
    EXPECT_TRUE(w.saved.empty());
}

TEST(SettingsWindow, RefusedSaveKeepsWindowAndCopyUntilTheNextEdit) {
    Window w;
    w.view().selectPane(SettingsPane::privacy);
    w.toggle(QStringLiteral("launchAtLogin"))->click();
    const AppSettings edited = w.view().draftSettings();
    w.saveAnswer = QStringLiteral("Control+Shift+F is already used by another app.");

    QTest::keyClick(w.controller->window(), Qt::Key_Return);
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved.back(), edited);
    EXPECT_TRUE(w.controller->window()->isVisible());
    EXPECT_EQ(w.closes, 0);
    EXPECT_TRUE(w.view().messageLabel()->isVisible());
    EXPECT_EQ(w.view().messageLabel()->text(), *w.saveAnswer);
    EXPECT_EQ(w.view().messageLabel()->palette().color(QPalette::WindowText), QColor(Qt::red));
    EXPECT_EQ(w.view().draftSettings(), edited);

    // Save again with the copy unchanged: tried again.
    w.view().saveButton()->click();
    EXPECT_EQ(w.saved.size(), 2u);
    // The next edit clears the message.
    w.toggle(QStringLiteral("launchAtLogin"))->click();
    EXPECT_FALSE(w.view().saveError().has_value());
    EXPECT_FALSE(w.view().messageLabel()->isVisible());

    // Accepted: the window closes and reports it once.
    w.saveAnswer.reset();
    w.view().saveButton()->click();
    EXPECT_FALSE(w.controller->window()->isVisible());
    EXPECT_EQ(w.closes, 1);
}

TEST(SettingsWindow, ADuplicateShortcutBlocksSaveAndResetAllRestoresOnlyShortcuts) {
    AppSettings stored;
    stored.targetLanguage = AppLanguage::german;
    stored.dictationLanguage = AppLanguage::french;
    stored.selectionPopupAutoDismissDelay = 9;
    stored.antiSleepSchedule.enabled = true;
    stored.editTextShortcut = HotKeyShortcut{.key = HotKeyKey::k, .option = true};
    Window w(stored);
    w.view().selectPane(SettingsPane::shortcuts);
    w.view().modifyDraft([](AppSettings& s) { s.writeTextShortcut = s.translateMessageShortcut; });
    EXPECT_EQ(w.view().messageLabel()->text(), QStringLiteral("Choose a different shortcut for each action."));
    EXPECT_FALSE(w.view().saveButton()->isEnabled());
    QTest::keyClick(w.controller->window(), Qt::Key_Return);
    EXPECT_TRUE(w.saved.empty()) << "Return does not save an invalid copy";

    w.find<QPushButton>(QStringLiteral("resetAll"))->click();
    EXPECT_TRUE(w.view().showResetAllConfirmation());
    w.view().confirmationOverlay()->dialog()->destructiveButton()->click();
    EXPECT_FALSE(w.view().showResetAllConfirmation());
    AppSettings expected = stored;
    expected.setShortcuts(defaultHotKeyShortcuts());
    EXPECT_EQ(w.view().draftSettings(), expected);
    // The rows show the reset shortcuts.
    auto* editRow = w.find<HotKeyEditorRow>(settingsKey(HotKeyAction::editText));
    ASSERT_NE(editRow, nullptr);
    EXPECT_EQ(editRow->field()->shortcut(), defaultShortcut(HotKeyAction::editText));
    w.view().saveButton()->click();
    ASSERT_EQ(w.saved.size(), 1u);
    EXPECT_EQ(w.saved.back(), expected);
}

TEST(SettingsWindow, ClosingReportsOncePerCloseWhateverClosedIt) {
    Window w;
    QTest::keyClick(w.controller->window(), Qt::Key_Escape);
    EXPECT_FALSE(w.controller->window()->isVisible());
    EXPECT_EQ(w.closes, 1);
    w.controller->showWindow();
    w.view().cancelButton()->click();
    EXPECT_EQ(w.closes, 2);
    w.controller->window()->close();  // already closed: nothing more
    EXPECT_EQ(w.closes, 2);
    w.controller->showWindow();
    w.controller->window()->close();  // the title bar's button
    EXPECT_EQ(w.closes, 3);
}

TEST(SettingsWindow, SaveThroughAGoneControllerStoresNothing) {
    Window w;
    const SettingsView::SaveCallback save = w.view().onSave();
    w.controller.reset();
    EXPECT_EQ(save(AppSettings{}), QStringLiteral("Settings window is no longer available."));
    EXPECT_TRUE(w.saved.empty());
    EXPECT_EQ(w.closes, 0);
}

TEST(SettingsWindow, OnlyTheLatestLanguagesNoticeIsKeptAndDismissingClearsIt) {
    Window w;
    w.engine->delays[AppLanguage::french] = 60ms;
    w.engine->delays[AppLanguage::spanish] = 5ms;
    w.choose(Placement::target, AppLanguage::french);
    w.choose(Placement::target, AppLanguage::spanish);
    QSignalSpy finished(&w.view(), &SettingsView::languageCheckFinished);
    ASSERT_TRUE(finished.wait(2000));
    ASSERT_TRUE(w.view().targetLanguageDownloadNotice().has_value());
    const TranslationDownloadNotice spanish = *w.view().targetLanguageDownloadNotice();
    EXPECT_NE(spanish.message.indexOf(QStringLiteral("Spanish")), -1) << spanish.message.toStdString();
    ASSERT_NE(w.view().noticePopover(), nullptr);
    EXPECT_EQ(w.view().noticePopover()->width(), 330);
    auto* noticeView = w.view().noticePopover()->findChild<TranslationSetupNoticeView*>();
    ASSERT_NE(noticeView, nullptr);
    noticeView->setupButton()->click();
    EXPECT_EQ(w.setupOpened, 1);

    // The older, slower check answers last and is dropped.
    ASSERT_TRUE(finished.wait(2000));
    EXPECT_EQ(w.view().targetLanguageDownloadNotice(), spanish);

    // A pane switch hides the popover but keeps the notice; coming back shows it again.
    w.view().selectPane(SettingsPane::about);
    EXPECT_EQ(w.view().noticePopover(), nullptr);
    EXPECT_TRUE(w.view().targetLanguageDownloadNotice().has_value());
    w.view().selectPane(SettingsPane::translation);
    ASSERT_NE(w.view().noticePopover(), nullptr);
    // Dismissing it (Escape, a click outside) clears the notice.
    w.view().noticePopover()->close();
    EXPECT_FALSE(w.view().targetLanguageDownloadNotice().has_value());
    w.view().selectPane(SettingsPane::about);
    w.view().selectPane(SettingsPane::translation);
    EXPECT_EQ(w.view().noticePopover(), nullptr);
}

TEST(SettingsWindow, AWindowGoneBeforeItsCheckAnswersIsLeftAlone) {
    auto w = std::make_unique<Window>();
    const std::shared_ptr<SlowEngine> engine = w->engine;
    engine->delays[AppLanguage::german] = 30ms;
    w->choose(Placement::messageTarget, AppLanguage::german);
    w->controller.reset();
    w.reset();
    // The check finishes after the window went: nothing to store it in, nothing crashes.
    QTest::qWait(120);
    EXPECT_GT(engine->asked, 0);
}

TEST(SettingsWindow, DictationPickerStoresItsChoiceAndNeverChecks) {
    Window w;
    w.view().selectPane(SettingsPane::dictation);
    auto* picker = w.find<QComboBox>(QStringLiteral("dictationPicker"));
    ASSERT_NE(picker, nullptr);
    EXPECT_EQ(picker->currentData().toString(), rawValue(AppLanguage::russian)) << "shows the native language";
    const int index = picker->findData(rawValue(AppLanguage::russian));
    picker->setCurrentIndex(index);
    Q_EMIT picker->activated(index);
    EXPECT_EQ(w.view().draftSettings().dictationLanguage, AppLanguage::russian) << "stored explicitly";
    QTest::qWait(20);
    EXPECT_EQ(w.engine->asked, 0);

    // Offline: no Hebrew in the list, Auto Improve greyed with its value kept.
    w.view().modifyDraft([](AppSettings& s) {
        s.autoImproveOnDictationStop = true;
        s.onlineFeaturesEnabled = false;
    });
    EXPECT_EQ(picker->findData(rawValue(AppLanguage::hebrew)), -1);
    EXPECT_EQ(picker->findData(rawValue(AppLanguage::automatic)), -1);
    QCheckBox* improve = w.toggle(QStringLiteral("autoImprove"));
    ASSERT_NE(improve, nullptr);
    EXPECT_FALSE(improve->isEnabled());
    EXPECT_TRUE(improve->isChecked());
    w.view().selectPane(SettingsPane::translation);
    EXPECT_TRUE(
        w.find<QLabel>(QStringLiteral("nativeFootnote"))->text().startsWith(QStringLiteral("Online features are off")));
    EXPECT_EQ(w.view().languagePicker(Placement::target)->findData(rawValue(AppLanguage::hebrew)), -1);
}

TEST(SettingsWindow, SlidersStepInWholeAndHalfSeconds) {
    AppSettings stored;
    stored.overlayMinimumDisplayDuration = 1.5;
    Window w(stored);
    w.view().selectPane(SettingsPane::overlays);
    auto* dismiss = w.find<QSlider>(QStringLiteral("dismissDelay"));
    auto* popup = w.find<QSlider>(QStringLiteral("popupDelay"));
    ASSERT_TRUE(dismiss && popup);
    EXPECT_EQ(w.find<QLabel>(QStringLiteral("dismissDelayValue"))->text(), QStringLiteral("1.5s"));
    EXPECT_EQ(w.find<QLabel>(QStringLiteral("popupDelayValue"))->text(), QStringLiteral("5s"));
    EXPECT_EQ(dismiss->maximum(), 6);
    dismiss->setValue(dismiss->value() + 1);
    EXPECT_DOUBLE_EQ(w.view().draftSettings().overlayMinimumDisplayDuration, 2.0);
    EXPECT_EQ(w.find<QLabel>(QStringLiteral("dismissDelayValue"))->text(), QStringLiteral("2.0s"));
    popup->setValue(popup->maximum());
    EXPECT_DOUBLE_EQ(w.view().draftSettings().selectionPopupAutoDismissDelay, 15.0);
}

TEST(SettingsWindow, AboutShowsVersionAndDeviceAndCopiesTheFullValue) {
    Window w;
    w.view().selectPane(SettingsPane::about);
    auto* about = w.view().paneContent()->findChild<AboutFooterSection*>();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->exportButton()->text(), QStringLiteral("Export Diagnostics..."));
    about->exportButton()->click();
    EXPECT_EQ(w.exports, 1);

    // Narrow: the identifier is shortened in the middle, but Copy takes all of it.
    MetadataValueLabel* device = about->deviceRow()->valueLabel();
    device->resize(120, device->height());
    EXPECT_NE(device->text(), device->fullText());
    EXPECT_TRUE(device->text().startsWith(QStringLiteral("0F3A")));
    EXPECT_TRUE(device->text().endsWith(QStringLiteral("8B9C")));
    device->setFocus();
    QTest::keySequence(device, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("0F3A9C1E-5B7D-4E2A-9C1B-7D3E5F6A8B9C"));
    MetadataValueLabel* version = about->versionRow()->valueLabel();
    version->resize(40, version->height());
    EXPECT_TRUE(version->text().startsWith(QStringLiteral("0.")));
}

TEST(SettingsWindow, RecordingARowIsReportedAndEndsWithThePane) {
    Window w;
    w.view().selectPane(SettingsPane::shortcuts);
    auto* row = w.find<HotKeyEditorRow>(settingsKey(HotKeyAction::flipLanguage));
    ASSERT_NE(row, nullptr);
    QTest::mouseClick(row->field(), Qt::LeftButton);
    EXPECT_EQ(w.recording, std::vector{true});
    // Escape ends the recording, not the window.
    QTest::keyClick(row->field(), Qt::Key_Escape);
    EXPECT_TRUE(w.controller->window()->isVisible());
    EXPECT_EQ(w.recording, (std::vector{true, false}));
    QTest::mouseClick(row->field(), Qt::LeftButton);
    w.view().selectPane(SettingsPane::about);
    EXPECT_EQ(w.recording, (std::vector{true, false, true, false}));
}

TEST(SettingsWindow, EscapeInAFocusedShortcutFieldKeepsTheWindowAndItsUnsavedEdits) {
    Window w;
    w.view().selectPane(SettingsPane::shortcuts);
    auto* row = w.find<HotKeyEditorRow>(settingsKey(HotKeyAction::flipLanguage));
    ASSERT_NE(row, nullptr);
    QApplication::setActiveWindow(w.controller->window());
    QTest::mouseClick(row->field(), Qt::LeftButton);
    QTest::keyClick(row->field(), Qt::Key_K, Qt::ControlModifier | Qt::AltModifier);
    const HotKeyShortcut recorded{.key = HotKeyKey::k, .option = true, .control = true};
    ASSERT_EQ(w.view().draftSettings().flipLanguageShortcut, recorded);
    ASSERT_FALSE(row->field()->isRecording());
    ASSERT_TRUE(row->field()->hasFocus());

    QTest::keyClick(row->field(), Qt::Key_Escape);
    EXPECT_TRUE(w.controller->window()->isVisible());
    EXPECT_EQ(w.closes, 0);
    EXPECT_EQ(w.view().draftSettings().flipLanguageShortcut, recorded);
    EXPECT_TRUE(w.saved.empty());

    // Away from the field, Escape cancels as before.
    w.view().cancelButton()->setFocus();
    QTest::keyClick(w.controller->window(), Qt::Key_Escape);
    EXPECT_FALSE(w.controller->window()->isVisible());
    EXPECT_EQ(w.closes, 1);
}

TEST(AntiSleepSettingsView, SummaryOptionsAndPickers) {
    EXPECT_EQ(AntiSleepSettingsView::scheduleDescription(540, 1080), QStringLiteral("Active from 09:00 to 18:00."));
    EXPECT_EQ(AntiSleepSettingsView::scheduleDescription(1320, 360),
              QStringLiteral("Active from 22:00 to 06:00 (overnight)."));
    EXPECT_EQ(AntiSleepSettingsView::scheduleDescription(0, 0), QStringLiteral("Active all day, every day."));

    // The pickers show and take local wall time, east and west of UTC as in it.
    test::ScopedTimeZone zone("UTC0");
    for (const char* tz : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0", "IST-5:30"}) {
        SCOPED_TRACE(tz);
        zone.set(tz);
        std::vector<AntiSleepSchedule> written;
        QWidget host;
        AntiSleepSchedule schedule;
        schedule.keepLocalActivityAwake = true;
        auto* view = new AntiSleepSettingsView(
            schedule, [&](const AntiSleepSchedule& s) { written.push_back(s); }, &host);
        host.show();
        EXPECT_FALSE(view->options()->isVisible());
        EXPECT_FALSE(view->batteryCard()->isVisible());
        view->enabledRow()->toggle()->click();
        EXPECT_TRUE(view->options()->isVisible());
        EXPECT_TRUE(view->batteryCard()->isVisible());
        EXPECT_EQ(view->summaryLabel()->text(), QStringLiteral("Active from 09:00 to 18:00."));
        EXPECT_EQ(view->startPicker()->time(), QTime(9, 0));
        EXPECT_EQ(view->endPicker()->time(), QTime(18, 0));

        // Editing only the minutes keeps the hour shown.
        view->endPicker()->setTime(QTime(view->endPicker()->time().hour(), 30));
        ASSERT_FALSE(written.empty());
        EXPECT_EQ(written.back().endMinuteOfDay, 1110);
        view->startPicker()->setTime(QTime(7, 5));
        AntiSleepSchedule expected = schedule;
        expected.enabled = true;
        expected.startMinuteOfDay = 425;
        expected.endMinuteOfDay = 1110;
        EXPECT_EQ(written.back(), expected);
        // Off keeps the times and options; on again shows them unchanged.
        view->enabledRow()->toggle()->click();
        view->enabledRow()->toggle()->click();
        EXPECT_EQ(written.back(), expected);
        EXPECT_EQ(view->startPicker()->time(), QTime(7, 5));
        EXPECT_EQ(view->endPicker()->time(), QTime(18, 30));
    }
}

}  // namespace
}  // namespace tavrolin
