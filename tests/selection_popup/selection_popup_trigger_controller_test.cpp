// The selection trigger over a fake accessibility tree, a fake monitor and virtual time: which
// events probe and when, what is read, which buttons a selection gets, where they go, and the
// first-use card that follows them.
#include "selection_popup/selection_popup_trigger_controller.h"

#include "core/app_log.h"
#include "core/app_settings.h"
#include "core/app_settings_providing.h"
#include "core/defaults_store.h"
#include "focused_text/focused_text_field_accessor.h"
#include "support/fakes/fake_accessibility.h"
#include "support/fakes/fake_clipboard.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_global_input_monitoring.h"
#include "support/fakes/fake_primary_selection.h"
#include "support/fakes/fake_synthetic_input.h"
#include "support/fakes/fixed_preferred_languages.h"
#include "support/fakes/inline_accessibility_calls.h"
#include "support/fakes/memory_log_sink.h"
#include "support/qt_printers.h"
#include "support/virtual_time.h"
#include "support/virtual_time_task.h"

#include <QAbstractButton>
#include <QApplication>

#include <gtest/gtest.h>
#include <limits>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Kind = RawInputEvent::Kind;
using Controller = DesktopSelectionPopupTriggerController;

constexpr unsigned int rightArrow = 0xff53;
constexpr unsigned int letterA = 0x61;
constexpr qint64 ownPid = 777;

class Settings final : public AppSettingsProviding {
public:
    AppSettings value;
    AppSettings settings() const override { return value; }
};

struct Trigger {
    test::FakeAccessibility ax;
    test::InlineAccessibilityCalls axCalls{ax};
    test::FakeFrontApplicationProvider front;
    Settings settings;
    InMemoryDefaultsStore defaults;
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>();
    std::shared_ptr<test::FakeGlobalInputMonitoring> monitoring = std::make_shared<test::FakeGlobalInputMonitoring>();
    std::shared_ptr<test::MemoryLogSink> log = std::make_shared<test::MemoryLogSink>();
    std::shared_ptr<LogSink> previousSink = AppLog::setSink(log);
    std::shared_ptr<test::FakeField> field = test::makeField();
    test::FakePrimarySelection primary;
    FocusResolver focus{{axCalls, front, *scheduler}};
    // The program's own keys, sent into the field through the focused-field readers' gate.
    test::FakeClipboard clipboard;
    test::FakeKeyboardApplication keyboard{clipboard, field};
    FocusedTextFieldAccessor accessor{{axCalls, clipboard, front, *scheduler, [] { return false; }}, keyboard, 0.3};
    QStringList actions;
    // What the last button pressed was given.
    std::optional<FocusedTextFieldSnapshot> acted;
    std::unique_ptr<Controller> controller;

    Trigger() {
        settings.value.targetLanguage = AppLanguage::english;
        settings.value.onlineFeaturesEnabled = true;
        front.setIdentifier("other-app", 4242);
        ax.systemFocused = field;
        FloatingWindowEnvironment windows;
        windows.scheduler = scheduler;
        windows.monitoring = monitoring;
        windows.pointerPosition = [] { return QPointF(300, 300); };
        windows.screens = [] {
            return std::vector<selection_popup_geometry::ScreenArea>{
                {QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800)}};
        };
        Controller::Dependencies d{axCalls, front, focus, monitoring, windows};
        d.ownProcessId = ownPid;
        d.primarySelection = &primary;
        d.panelFrame = [](const QRectF& frame) -> std::optional<QRectF> {
            return frame.width() > 0 && frame.height() > 0 ? std::optional<QRectF>(frame) : std::nullopt;
        };
        d.doubleClickInterval = [] { return 400ms; };
        d.watchOwnKeys = [this](std::function<void()> onSent) {
            return accessor.inputGate().watchSentChords(std::move(onSent));
        };
        // Spanish when the text says so, English likewise, nothing otherwise.
        d.detectLanguage = [](const QString& text, const std::set<AppLanguage>&) -> std::optional<AppLanguage> {
            if (text.contains("Hola") || text.contains("gracias")) {
                return AppLanguage::spanish;
            }
            if (text.contains("Hello") || text.contains("thanks")) {
                return AppLanguage::english;
            }
            return std::nullopt;
        };
        controller = std::make_unique<Controller>(
            settings, std::make_shared<test::FixedPreferredLanguages>(std::set<AppLanguage>{}), defaults, d,
            action("translate"), action("flip"), action("edit"));
        controller->start();
    }
    Controller::SelectionAction action(const QString& name) {
        return [this, name](FocusedTextFieldSnapshot selection) {
            actions << name;
            acted = std::move(selection);
        };
    }
    ~Trigger() {
        controller.reset();
        AppLog::setSink(previousSink);
    }

    void select(const QString& text, std::optional<AccessibleRole> role = AccessibleRole::textField) {
        field->role = role;
        field->setText(text, {0, text.size()});
    }
    // A left click; without a time, 10 s after the previous automatic one (never a double click).
    void mouseUp(std::optional<std::chrono::milliseconds> time = std::nullopt, QPoint at = {500, 500}) {
        if (!time) {
            nextTime += 10s;
        }
        monitoring->click(1, at, time.value_or(nextTime));
    }
    std::chrono::milliseconds nextTime{100s};
    // Our Control+A into the field, through the gate; the desktop reports its keys later.
    bool sendSelectAll() {
        return test::runOnVirtualTime(
            accessor.inputGate().sendChord(*front.frontApplication(), Qt::ControlModifier, Qt::Key_A), *scheduler);
    }
    void reportSelectAllKeys() {
        monitoring->key(0xffe3, false, true);  // Control_L
        monitoring->key(letterA, true);
    }
    QWidget* row() { return controller->floatingButton().panel(); }
    QStringList buttons() {
        QStringList names;
        if (row()) {
            for (auto* b : row()->findChildren<QAbstractButton*>()) {
                names << b->accessibleName();
            }
        }
        return names;
    }
};

TEST(SelectionPopupTrigger, OnlyAMouseUpOrAKeyReleaseWithShiftOrControlProbesAfterTheSettleDelay) {
    Trigger t;
    t.select("Hola, ¿qué tal?", AccessibleRole::staticText);
    t.monitoring->key(letterA, false);
    t.monitoring->key(0xffe1, true, true);  // Shift itself
    EXPECT_EQ(t.scheduler->pendingCount(), 0u);

    t.monitoring->key(rightArrow, true);
    EXPECT_EQ(t.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{250ms});
    t.scheduler->advance(249ms);
    EXPECT_EQ(t.row(), nullptr);
    t.scheduler->advance(1ms);
    EXPECT_EQ(t.buttons(), QStringList{"Translate"});

    // A right click does not probe.
    t.controller->floatingButton().dismiss();
    t.monitoring->click(3);
    EXPECT_EQ(t.scheduler->pendingCount(), 0u);
}

TEST(SelectionPopupTrigger, ANewerEventOvertakesAPendingProbeAndOurOwnWindowsAreIgnored) {
    Trigger t;
    t.select("Hola, ¿qué tal?", AccessibleRole::staticText);
    t.mouseUp(1000ms);
    t.scheduler->advance(200ms);
    t.mouseUp(5000ms);
    t.scheduler->advance(100ms);
    EXPECT_EQ(t.row(), nullptr);
    t.scheduler->advance(150ms);
    EXPECT_NE(t.row(), nullptr);

    Trigger own;
    own.select("Hola, ¿qué tal?", AccessibleRole::staticText);
    own.front.set(FrontApplication{ownPid, std::nullopt});
    own.mouseUp();
    EXPECT_EQ(own.scheduler->pendingCount(), 0u);
    // Two applications without an identifier are still different applications.
    own.front.set(FrontApplication{4242, std::nullopt});
    own.monitoring->send({Kind::buttonRelease, 1, 9000ms, {}, false, false, true});  // on our own row
    EXPECT_EQ(own.scheduler->pendingCount(), 0u);
    own.mouseUp();
    EXPECT_EQ(own.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{250ms});
}

// Our own Control+A (a read or a write of the field) selects everything and is reported like
// the user's keys: neither its key nor a probe still pending when it went may offer that.
TEST(SelectionPopupTrigger, OurOwnKeysNeverOfferTheSelectionTheyMake) {
    Trigger t;
    t.field->setText("Hola, gracias amigo", {19, 0});
    ASSERT_TRUE(t.sendSelectAll());
    ASSERT_EQ(t.field->selection, (AccessibleTextRange{0, 19})) << "the chord reached the field";
    t.reportSelectAllKeys();
    t.scheduler->advance(1s);
    EXPECT_EQ(t.row(), nullptr) << "our key was taken for the user's selection";

    // The user's click, then our chord before the probe: what it would read is ours.
    t.field->setText("Hola, gracias amigo", {6, 7});
    t.mouseUp();
    ASSERT_TRUE(t.sendSelectAll());
    t.scheduler->advance(1s);
    t.reportSelectAllKeys();
    t.scheduler->advance(1s);
    EXPECT_EQ(t.row(), nullptr);

    // The user's own keys still count, our chord's report having come.
    t.field->setText("Hola, gracias amigo", {6, 7});
    t.monitoring->key(rightArrow, true);
    t.scheduler->advance(250ms);
    EXPECT_NE(t.row(), nullptr) << "the user's keys no longer count";

    // A report that never comes holds no later key of the user's for long.
    t.controller->floatingButton().dismiss();
    ASSERT_TRUE(t.sendSelectAll());
    t.scheduler->advance(Controller::ownKeyArrivalBound);
    t.field->setText("Hola, gracias amigo", {6, 7});
    t.monitoring->key(rightArrow, true);
    t.scheduler->advance(250ms);
    EXPECT_NE(t.row(), nullptr) << "the user's keys no longer count";
}

TEST(SelectionPopupTrigger, ADoubleClickWaitsLongerAndRetriesAnUnreadySelectionAtMostFourReads) {
    Trigger t;
    t.select("", AccessibleRole::textArea);
    t.mouseUp(1000ms);
    t.mouseUp(1200ms);
    EXPECT_EQ(t.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{400ms});
    t.scheduler->advance(400ms);
    EXPECT_EQ(t.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{100ms});
    t.scheduler->advance(100ms);
    EXPECT_EQ(t.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{150ms});
    t.scheduler->advance(150ms);
    EXPECT_EQ(t.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{250ms});
    t.scheduler->advance(250ms);
    EXPECT_EQ(t.scheduler->pendingCount(), 0u);
    EXPECT_EQ(t.row(), nullptr);

    // Presses too far apart in time or space are single clicks.
    t.mouseUp(5000ms);
    t.mouseUp(5500ms);
    EXPECT_EQ(t.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{250ms});
    t.mouseUp(5600ms, {520, 500});
    EXPECT_EQ(t.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{250ms});

    // The selection arrives between the retries: the row appears then.
    Trigger late;
    late.select("", AccessibleRole::textArea);
    late.mouseUp(1000ms);
    late.mouseUp(1100ms);
    late.scheduler->advance(500ms);
    late.select("gracias amigo", AccessibleRole::textArea);
    late.scheduler->advance(150ms);
    EXPECT_EQ(late.buttons(), (QStringList{"Flip", "Edit", "Translate"}));
}

TEST(SelectionPopupTrigger, WhatTheSelectionIsOffered) {
    Trigger t;
    const auto probe = [&] {
        t.mouseUp();
        t.scheduler->advance(250ms);
        return t.buttons();
    };
    t.select("Hola, ¿qué tal?", AccessibleRole::staticText);
    EXPECT_EQ(probe(), QStringList{"Translate"});
    // Static text in the native language: nothing to offer, the row goes.
    t.select("Hello, thanks", AccessibleRole::staticText);
    EXPECT_EQ(probe(), QStringList{});
    // A password field, whatever is selected.
    t.select("Hola, ¿qué tal?", AccessibleRole::secureTextField);
    EXPECT_EQ(probe(), QStringList{});
    // One character, or one surrounded by blanks.
    t.select("  x \n", AccessibleRole::textField);
    EXPECT_EQ(probe(), QStringList{});
    // Editable text in the native language: flip and edit; offline, no edit.
    t.select("Hello, thanks", AccessibleRole::textField);
    EXPECT_EQ(probe(), (QStringList{"Flip", "Edit"}));
    t.settings.value.onlineFeaturesEnabled = false;
    t.select("Hola, ¿qué tal?", AccessibleRole::textField);
    EXPECT_EQ(probe(), (QStringList{"Flip", "Translate"}));
    // A read-only text area is not editable; a button never is.
    t.field->settable = false;
    t.select("Hola, ¿qué tal?", AccessibleRole::textArea);
    EXPECT_EQ(probe(), QStringList{"Translate"});
    t.field->settable = true;
    t.select("Hello, thanks", AccessibleRole::button);
    EXPECT_EQ(probe(), QStringList{});
    // Without trust nothing changes; without a front application the row goes.
    t.select("Hola, ¿qué tal?", AccessibleRole::staticText);
    EXPECT_EQ(probe(), QStringList{"Translate"});
    t.ax.trusted = false;
    t.select("Hello, thanks", AccessibleRole::staticText);
    EXPECT_EQ(probe(), QStringList{"Translate"});
    t.ax.trusted = true;
    t.front.set(std::nullopt);
    EXPECT_EQ(probe(), QStringList{});
}

TEST(SelectionPopupTrigger, TheAnchorFallsBackFromTheRangeToTheElementToThePointer) {
    Trigger t;
    const auto probe = [&] {
        t.ax.calls.clear();
        t.mouseUp();
        t.scheduler->advance(250ms);
        return t.row() ? t.row()->geometry() : QRect();
    };
    t.select("Hola, ¿qué tal?", AccessibleRole::staticText);
    t.field->rangeBounds = QRectF(400, 300, 100, 20);
    EXPECT_EQ(probe(), QRect(500 - 28, 300 - 36, 28, 28));
    // No bounds for the range: the element's frame (100, 200, 300 x 30).
    t.field->rangeBounds = std::optional<QRectF>();
    EXPECT_EQ(probe(), QRect(400 - 28, 200 - 36, 28, 28));
    // A frame of 1 pixel or less: by the pointer at (300, 300).
    t.field->frame = QRectF(100, 200, 1, 30);
    EXPECT_EQ(probe(), QRect(308, 300 - 36, 28, 28));

    // A range outside the element's text is never asked about; the frame is used.
    t.field->frame = QRectF(100, 200, 300, 30);
    t.field->rangeBounds = QRectF(400, 300, 100, 20);
    t.field->reportedRange = AccessibleTextRange{std::numeric_limits<qsizetype>::max() - 1, 5};
    EXPECT_EQ(probe(), QRect(400 - 28, 200 - 36, 28, 28));
    EXPECT_FALSE(t.ax.calls.join(' ').contains("boundsForRange"));
    // Bounds far off any screen stay on it.
    t.field->reportedRange.reset();
    t.field->rangeBounds = QRectF(3e12, -3e12, 1e12, 5);
    const QRect far = probe();
    EXPECT_TRUE(QRect(0, 0, 1280, 800).contains(far));
}

TEST(SelectionPopupTrigger, TheSelectedTextComesFromTheSelectionElseFromACheckedRangeOfTheValue) {
    test::FakeAccessibility ax;
    auto field = test::makeField("Hola amigos", {5, 6});
    ax.systemFocused = field;
    field->reportedSelectedText = std::optional<QString>(QString());
    EXPECT_EQ(Controller::readSelectedText(ax, field), "amigos");
    field->reportedRange = AccessibleTextRange{5, 7};  // one past the end
    EXPECT_EQ(Controller::readSelectedText(ax, field), "");
    field->reportedRange =
        AccessibleTextRange{std::numeric_limits<qsizetype>::max(), std::numeric_limits<qsizetype>::max()};
    EXPECT_EQ(Controller::readSelectedText(ax, field), "");
    field->reportedRange = AccessibleTextRange{-3, 4};
    EXPECT_EQ(Controller::readSelectedText(ax, field), "");
    field->reportedSelectedText.reset();
    field->reportedRange.reset();
    EXPECT_EQ(Controller::readSelectedText(ax, field), "amigos");
}

TEST(SelectionPopupTrigger, TheFirstUseCardFollowsTheRowOncePerKindAndGoesWithIt) {
    Trigger t;
    t.select("Hola, ¿qué tal?", AccessibleRole::staticText);
    t.mouseUp();
    t.scheduler->advance(250ms);
    ASSERT_NE(t.row(), nullptr);
    t.scheduler->advance(300ms);
    ASSERT_NE(t.controller->firstUseHint().hintPanel().panel(), nullptr);
    EXPECT_TRUE(t.defaults.boolValue("selectionHint.nonEditable.shown.v1"));
    // The row's dismissal closes the card.
    t.controller->floatingButton().dismiss();
    EXPECT_EQ(t.controller->firstUseHint().hintPanel().panel(), nullptr);
    // Shown before: not again.
    t.mouseUp();
    t.scheduler->advance(250ms);
    t.scheduler->advance(300ms);
    EXPECT_EQ(t.controller->firstUseHint().hintPanel().panel(), nullptr);

    // An editable field has its own card; a new selection within 0.3 s cancels it.
    t.select("Hello, thanks", AccessibleRole::textField);
    t.mouseUp();
    t.scheduler->advance(250ms);
    t.scheduler->advance(10ms);
    t.mouseUp();
    t.scheduler->advance(250ms);
    EXPECT_FALSE(t.defaults.boolValue("selectionHint.editable.shown.v1"));
    t.scheduler->advance(299ms);
    EXPECT_FALSE(t.defaults.boolValue("selectionHint.editable.shown.v1"));
    t.scheduler->advance(1ms);
    EXPECT_TRUE(t.defaults.boolValue("selectionHint.editable.shown.v1"));
}

TEST(SelectionPopupTrigger, StartsOnceStopsCleanlyAndReportsAMissingMonitor) {
    Trigger t;
    EXPECT_TRUE(t.controller->isStarted());
    t.controller->start();
    EXPECT_EQ(t.monitoring->liveRawMonitors(), 1);
    t.select("Hola, ¿qué tal?", AccessibleRole::staticText);
    t.mouseUp();
    t.controller->stop();
    t.scheduler->advance(1s);
    EXPECT_EQ(t.row(), nullptr);
    EXPECT_EQ(t.monitoring->liveRawMonitors(), 0);
    EXPECT_FALSE(t.controller->isStarted());
    const QStringList lines = t.log->messages(LogCategory::app);
    EXPECT_TRUE(lines.contains("SelectionPopupTrigger started"));
    EXPECT_TRUE(lines.contains("SelectionPopupTrigger stopped"));

    t.monitoring->refuseRaw = true;
    t.controller->start();
    EXPECT_FALSE(t.controller->isStarted());
    EXPECT_TRUE(t.log->messages(LogCategory::app)
                    .contains("SelectionPopupTrigger could not start: global event monitor unavailable"));
}

TEST(SelectionPopupTrigger, TheButtonsRunTheirWorkflows) {
    Trigger t;
    t.select("Hola, ¿qué tal?", AccessibleRole::textField);
    t.mouseUp();
    t.scheduler->advance(250ms);
    ASSERT_NE(t.row(), nullptr);
    t.row()->findChild<QAbstractButton*>("Translate")->click();
    EXPECT_EQ(t.actions, QStringList{"translate"});
    EXPECT_EQ(t.row(), nullptr);
    QCoreApplication::processEvents();
}

// A program keeps its focused field when another comes to the front (Firefox behind xterm):
// only the front program's selection gets buttons, and a button acts on what was read then.
TEST(SelectionPopupTrigger, OnlyTheFrontProgramsSelectionIsOfferedAndAButtonActsOnWhatWasRead) {
    Trigger t;
    t.select("Hola, muchas gracias.", AccessibleRole::textField);
    t.front.setIdentifier("XTerm", 5151);
    t.mouseUp();
    t.scheduler->advance(250ms + Controller::treeBuildDelay);
    EXPECT_EQ(t.row(), nullptr);

    t.front.set(FrontApplication{4242, QString("firefox-esr"), 77});
    t.mouseUp();
    t.scheduler->advance(250ms);
    ASSERT_NE(t.row(), nullptr);
    t.field->setText("typed since");
    t.row()->findChild<QAbstractButton*>("Flip")->click();
    EXPECT_EQ(t.actions, QStringList{"flip"});
    ASSERT_TRUE(t.acted.has_value());
    EXPECT_EQ(t.acted->element, t.field);
    EXPECT_EQ(t.acted->selectedText, "Hola, muchas gracias.");
    EXPECT_EQ(t.acted->fullText, "Hola, muchas gracias.");
    EXPECT_EQ(t.acted->selectedRange, (TextRange{0, 21}));
    EXPECT_EQ(t.acted->sourceWindow, (FrontApplication{4242, QString("firefox-esr"), 77}));
    QCoreApplication::processEvents();
}

// Firefox reports U+FEFF after each emoji. The buttons hand their selection to the commands,
// which write back judging the field by it: it is the field as the user sees it, so that Flip
// replaces the selected word instead of finding the field changed and offering its result for
// copying. A selected text that the range of the same read does not hold gets no buttons: a
// write of it would land at the caret.
TEST(SelectionPopupTrigger, TheButtonsSelectionIsTheTextTheUserSeesAndFlipWritesIt) {
    Trigger t;
    const QString reported = QString::fromUtf8("Hola 😀\uFEFF👍🏽\uFEFF gracias amigo");
    t.field->setText(reported, {14, 7});  // "gracias"
    t.mouseUp();
    t.scheduler->advance(250ms);
    ASSERT_NE(t.row(), nullptr);
    t.row()->findChild<QAbstractButton*>("Flip")->click();
    ASSERT_TRUE(t.acted.has_value());
    EXPECT_EQ(t.acted->fullText, QString::fromUtf8("Hola 😀👍🏽 gracias amigo"));
    EXPECT_EQ(t.acted->selectedText, QString("gracias"));
    EXPECT_EQ(t.acted->selectedRange, (TextRange{12, 7}));

    test::FakeClipboard clipboard;
    test::FakeKeyboardApplication keyboard{clipboard, t.field};
    FocusedTextFieldAccessor accessor{
        {t.axCalls, clipboard, t.front, *t.scheduler, [] { return false; }}, keyboard, 0.3};
    EXPECT_NO_THROW(test::runOnVirtualTime(accessor.replaceFocusedFieldTextOrPresentCopyFallback("thanks", *t.acted),
                                           *t.scheduler));
    EXPECT_EQ(t.field->text, QString::fromUtf8("Hola 😀\uFEFF👍🏽\uFEFF thanks amigo"));
    QCoreApplication::processEvents();

    t.field->setText("Hola amigos, gracias", {20, 0});
    t.field->reportedSelectedText = std::optional<QString>(QString("Hola"));
    t.mouseUp();
    t.scheduler->advance(250ms);
    EXPECT_EQ(t.row(), nullptr);
}

TEST(SelectionPopupTrigger, SelectedPageTextComesFromTheFrontApplicationsPrimarySelection) {
    Trigger t;
    // A web document: not editable, reporting one placeholder as its selection.
    t.select(QStringLiteral("\uFFFC"), AccessibleRole::other);
    t.field->settable = false;
    t.primary.hold(QStringLiteral("Hola, muchas gracias."), 4242);
    t.mouseUp();
    t.scheduler->advance(250ms);
    EXPECT_EQ(t.buttons(), QStringList{"Translate"});
    ASSERT_NE(t.row(), nullptr);
    // No anchor from the page (its frame is the whole page): by the pointer at (300, 300).
    EXPECT_EQ(t.row()->geometry(), QRect(308, 300 - 36, 28, 28));
    // Translate takes that text, with no element to write to.
    t.row()->findChild<QAbstractButton*>("Translate")->click();
    ASSERT_TRUE(t.acted.has_value());
    EXPECT_EQ(t.acted->selectedText, "Hola, muchas gracias.");
    EXPECT_EQ(t.acted->element, nullptr);

    // Another program's selection, or one a later click cleared: no buttons.
    t.primary.read->ownerProcessId = 99;
    t.mouseUp();
    t.scheduler->advance(250ms);
    EXPECT_EQ(t.row(), nullptr);
    t.primary.hold(QStringLiteral("Hola, muchas gracias."), 4242);
    t.primary.read->lastPrimaryButtonPressAt = 150;
    t.mouseUp();
    t.scheduler->advance(250ms);
    EXPECT_EQ(t.row(), nullptr);

    // A text field answers for itself: PRIMARY is not asked.
    const int reads = t.primary.reads;
    t.primary.hold(QStringLiteral("Hola, muchas gracias."), 4242);
    t.select(QString(), AccessibleRole::textField);
    t.field->settable = true;
    t.mouseUp();
    t.scheduler->advance(250ms);
    EXPECT_EQ(t.row(), nullptr);
    EXPECT_EQ(t.primary.reads, reads);
}

// A busy browser claims PRIMARY for a triple-clicked paragraph after the first look: the later
// looks ask PRIMARY again, as they ask the tree again.
TEST(SelectionPopupTrigger, APageSelectionClaimedLateStillGetsTheButtons) {
    Trigger t;
    t.select(QStringLiteral("\uFFFC"), AccessibleRole::other);
    t.field->settable = false;
    t.mouseUp(1000ms);
    t.mouseUp(1100ms);
    t.mouseUp(1200ms);
    t.scheduler->advance(Controller::multiClickSettleDelay);
    EXPECT_EQ(t.row(), nullptr);
    t.primary.hold(QStringLiteral("Hola, muchas gracias."), 4242);
    t.scheduler->advance(Controller::retryDelays[0]);
    EXPECT_EQ(t.buttons(), QStringList{"Translate"});

    // Seconds late, on a loaded machine: PRIMARY alone is looked at a while longer.
    t.controller->floatingButton().dismiss();
    t.primary.read.reset();
    t.mouseUp(20000ms);
    t.mouseUp(20100ms);
    t.mouseUp(20200ms);
    t.scheduler->advance(Controller::multiClickSettleDelay + 500ms + 1000ms);
    EXPECT_EQ(t.row(), nullptr);
    t.primary.hold(QStringLiteral("Hola, muchas gracias."), 4242);
    t.scheduler->advance(Controller::latePageSelectionPoll);
    EXPECT_EQ(t.buttons(), QStringList{"Translate"});

    // A selection dragged out is looked for as long; a click in place is looked at once.
    t.controller->floatingButton().dismiss();
    t.primary.read.reset();
    t.monitoring->send({Kind::buttonPress, 1, 30000ms, {100, 500}, false, false, false});
    t.monitoring->send({Kind::buttonRelease, 1, 30400ms, {700, 500}, false, false, false});
    t.scheduler->advance(Controller::settleDelay + 1500ms);
    EXPECT_EQ(t.row(), nullptr);
    t.primary.hold(QStringLiteral("Hola, muchas gracias."), 4242);
    t.scheduler->advance(Controller::latePageSelectionPoll);
    EXPECT_EQ(t.buttons(), QStringList{"Translate"});
    t.controller->floatingButton().dismiss();
    t.primary.read.reset();
    t.mouseUp();
    t.scheduler->advance(Controller::settleDelay);
    EXPECT_EQ(t.scheduler->pendingCount(), 0u) << "a plain click is looked at again";

    // Never claimed: the looks end.
    t.controller->floatingButton().dismiss();
    t.primary.read.reset();
    t.mouseUp(40000ms);
    t.mouseUp(40100ms);
    t.mouseUp(40200ms);
    t.scheduler->advance(5s);
    EXPECT_EQ(t.row(), nullptr);
    EXPECT_EQ(t.scheduler->pendingCount(), 0u);
}

// A program with no accessible focused element (a browser whose tree is not up yet on a busy
// machine, xterm): its PRIMARY selection is what it has selected.
TEST(SelectionPopupTrigger, WithoutAFocusedElementTheFrontProgramsPrimarySelectionGetsTheButtons) {
    Trigger t;
    t.ax.systemFocused = nullptr;
    t.primary.hold(QStringLiteral("Hola, muchas gracias."), 4242);
    t.mouseUp(1000ms);
    t.mouseUp(1100ms);
    t.mouseUp(1200ms);
    t.scheduler->advance(Controller::multiClickSettleDelay + Controller::treeBuildDelay);
    EXPECT_EQ(t.buttons(), QStringList{"Translate"});
    ASSERT_NE(t.row(), nullptr);
    t.row()->findChild<QAbstractButton*>("Translate")->click();
    ASSERT_TRUE(t.acted.has_value());
    EXPECT_EQ(t.acted->selectedText, "Hola, muchas gracias.");
    EXPECT_EQ(t.acted->element, nullptr);

    // Another program's selection is none of its own.
    t.primary.read->ownerProcessId = 99;
    t.mouseUp();
    t.scheduler->advance(250ms + Controller::treeBuildDelay);
    EXPECT_EQ(t.row(), nullptr);
}

TEST(SelectionPopupTrigger, AProgramWithoutAFocusedElementIsAskedOnceForItsTree) {
    Trigger t;
    t.select(QStringLiteral("Hola, muchas gracias."), AccessibleRole::staticText);
    t.ax.systemFocused = nullptr;
    // Chromium: its focused element appears once asked for the tree, with no focus event.
    t.ax.onRequestTree = [&](qint64 pid) { t.ax.applicationFocus[pid] = t.field; };
    t.mouseUp();
    t.scheduler->advance(250ms);
    EXPECT_EQ(t.row(), nullptr) << "the tree gets time to appear";
    t.scheduler->advance(Controller::treeBuildDelay);
    EXPECT_EQ(t.buttons(), QStringList{"Translate"});

    // Asked once per program, however many selections follow.
    t.ax.applicationFocus.clear();
    t.mouseUp();
    t.scheduler->advance(250ms + Controller::treeBuildDelay);
    EXPECT_EQ(t.row(), nullptr);
    EXPECT_EQ(t.ax.calls.count(QStringLiteral("requestAccessibilityTree:4242")), 1);
}

}  // namespace
}  // namespace tavrolin
