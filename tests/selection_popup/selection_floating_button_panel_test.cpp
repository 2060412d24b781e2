// The floating button row on an offscreen desktop, on virtual time: its buttons and size, its
// place, what closes it and when, the tooltip, and onDismiss.
#include "selection_popup/selection_floating_button_panel.h"

#include "support/fakes/fake_global_input_monitoring.h"
#include "support/virtual_time.h"

#include <QAbstractButton>
#include <QApplication>

#include <gtest/gtest.h>
#include <limits>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using test::FakeGlobalInputMonitoring;
using test::ManualScheduler;
using Kind = RawInputEvent::Kind;

struct Row {
    std::shared_ptr<ManualScheduler> scheduler = std::make_shared<ManualScheduler>();
    std::shared_ptr<FakeGlobalInputMonitoring> monitoring = std::make_shared<FakeGlobalInputMonitoring>();
    QStringList calls;
    int dismissals = 0;
    std::unique_ptr<SelectionFloatingButtonPanel> panel;

    Row() {
        FloatingWindowEnvironment environment;
        environment.scheduler = scheduler;
        environment.monitoring = monitoring;
        environment.pointerPosition = [] { return QPointF(300, 300); };
        environment.screens = [] {
            return std::vector<selection_popup_geometry::ScreenArea>{
                {QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800)}};
        };
        panel = std::make_unique<SelectionFloatingButtonPanel>(
            environment, [this] { calls << "translate"; }, [this] { calls << "flip"; }, [this] { calls << "edit"; });
        panel->setOnDismiss([this] { ++dismissals; });
    }
    QStringList buttons() const {
        QStringList names;
        for (auto* button : panel->panel()->findChildren<QAbstractButton*>()) {
            names << button->accessibleName();
        }
        return names;
    }
    QAbstractButton* button(const QString& name) const { return panel->panel()->findChild<QAbstractButton*>(name); }
};

void settle() {
    QCoreApplication::processEvents();
}

TEST(SelectionFloatingButtonPanel, ShowsTheOfferedButtonsFlipEditTranslateAboveTheSelection) {
    Row row;
    row.panel->show(QRectF(400, 300, 200, 20), {true, true, true});
    ASSERT_NE(row.panel->panel(), nullptr);
    EXPECT_EQ(row.buttons(), (QStringList{"Flip", "Edit", "Translate"}));
    EXPECT_EQ(row.panel->panel()->geometry(), QRect(508, 264, 92, 28));
    EXPECT_TRUE(row.panel->panel()->isVisible());
    EXPECT_TRUE(row.panel->panel()->windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    EXPECT_TRUE(row.panel->panel()->testAttribute(Qt::WA_ShowWithoutActivating));

    row.panel->show(std::nullopt, {false, true, false});
    EXPECT_EQ(row.buttons(), QStringList{"Translate"});
    // By the pointer at (300, 300).
    EXPECT_EQ(row.panel->panel()->geometry(), QRect(308, 264, 28, 28));
}

TEST(SelectionFloatingButtonPanel, OnDismissRunsOnEveryDismissalAndOnceAtEachShow) {
    Row row;
    row.panel->dismiss();
    EXPECT_EQ(row.dismissals, 1);
    row.panel->show(QRectF(400, 300, 200, 20), {true, false, false});
    EXPECT_EQ(row.dismissals, 2);
    row.panel->show(QRectF(400, 300, 200, 20), {true, false, false});
    EXPECT_EQ(row.dismissals, 3);
    row.panel->dismiss();
    EXPECT_EQ(row.dismissals, 4);
    EXPECT_EQ(row.panel->panel(), nullptr);
    EXPECT_EQ(row.monitoring->liveRawMonitors(), 0);
    EXPECT_EQ(row.monitoring->liveActiveMonitors(), 0);
}

TEST(SelectionFloatingButtonPanel, AButtonRunsItsActionOnceThenTheRowCloses) {
    Row row;
    row.panel->show(QRectF(400, 300, 200, 20), {true, true, true});
    const int before = row.dismissals;
    row.button("Edit")->click();
    EXPECT_EQ(row.calls, QStringList{"edit"});
    EXPECT_EQ(row.panel->panel(), nullptr);
    EXPECT_EQ(row.dismissals, before + 1);
    settle();
}

TEST(SelectionFloatingButtonPanel, ClicksElsewhereEscapeAndAnotherActiveApplicationCloseIt) {
    Row row;
    const auto shown = [&] { row.panel->show(QRectF(400, 300, 200, 20), {false, true, false}); };

    shown();
    row.monitoring->key(0x61, false);                                           // 'a'
    row.monitoring->send({Kind::buttonPress, 1, {}, {}, false, false, true});   // on the row itself
    row.monitoring->send({Kind::buttonPress, 5, {}, {}, false, false, false});  // the wheel
    settle();
    EXPECT_NE(row.panel->panel(), nullptr);

    row.monitoring->key(escapeKeysym, false);
    settle();
    EXPECT_EQ(row.panel->panel(), nullptr);

    shown();
    row.monitoring->send({Kind::buttonPress, 3, {}, {}, false, false, false});
    settle();
    EXPECT_EQ(row.panel->panel(), nullptr);

    shown();
    row.monitoring->activeApplicationChanged();
    settle();
    EXPECT_EQ(row.panel->panel(), nullptr);
}

TEST(SelectionFloatingButtonPanel, ClosesAfterItsDelayCountedFromTheLatestShow) {
    Row row;
    row.panel->show(QRectF(400, 300, 200, 20), {false, true, false});
    row.scheduler->advance(4s);
    row.panel->show(QRectF(400, 300, 200, 20), {false, true, false});
    row.scheduler->advance(4s);
    EXPECT_NE(row.panel->panel(), nullptr);
    row.scheduler->advance(1s);
    EXPECT_EQ(row.panel->panel(), nullptr);

    // A new delay applies from the next showing; nonsense values become usable ones.
    row.panel->setAutoDismissDelay(0.5);
    row.panel->show(QRectF(400, 300, 200, 20), {false, true, false});
    EXPECT_EQ(row.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{500ms});
    row.panel->setAutoDismissDelay(std::numeric_limits<double>::quiet_NaN());
    row.panel->show(QRectF(400, 300, 200, 20), {false, true, false});
    EXPECT_EQ(row.scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{5000ms});
    row.panel->setAutoDismissDelay(-2);
    row.panel->show(QRectF(400, 300, 200, 20), {false, true, false});
    row.scheduler->advance(0ms);
    EXPECT_EQ(row.panel->panel(), nullptr);
}

TEST(SelectionFloatingButtonPanel, TooltipIsCentredAboveTheRowOnlyWhileARowIsShown) {
    Row row;
    row.panel->showTooltip("Translate selection");
    EXPECT_EQ(row.panel->tooltipPanel(), nullptr);

    row.panel->show(QRectF(400, 300, 200, 20), {true, true, true});
    row.panel->showTooltip("Flip language");
    ASSERT_NE(row.panel->tooltipPanel(), nullptr);
    const QRect tip = row.panel->tooltipPanel()->geometry();
    EXPECT_EQ(tip.bottom() + 1, 264 - 6);
    EXPECT_NEAR(tip.center().x() + 0.5, 508 + 46, 1);
    EXPECT_TRUE(row.panel->tooltipPanel()->windowFlags().testFlag(Qt::WindowTransparentForInput));
    row.panel->showTooltip("Edit text");
    EXPECT_EQ(row.panel->tooltipPanel()->accessibleName(), "Edit text");
    row.panel->dismiss();
    EXPECT_EQ(row.panel->tooltipPanel(), nullptr);
}

}  // namespace
}  // namespace tavrolin
