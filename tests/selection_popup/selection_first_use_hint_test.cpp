// The first-use card: once per kind of field, 0.3 s after the row, superseded and cancelled by
// the row's dismissals, its texts, its place and its closing.
#include "selection_popup/selection_first_use_hint.h"

#include "core/defaults_store.h"
#include "support/fakes/fake_global_input_monitoring.h"
#include "support/virtual_time.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTest>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using namespace std::chrono_literals;
using Context = SelectionFirstUseHintStateStore::HintContext;

struct Hint {
    InMemoryDefaultsStore defaults;
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>();
    std::shared_ptr<test::FakeGlobalInputMonitoring> monitoring = std::make_shared<test::FakeGlobalInputMonitoring>();
    std::unique_ptr<SelectionFirstUseHintController> controller;

    Hint() {
        FloatingWindowEnvironment environment;
        environment.scheduler = scheduler;
        environment.monitoring = monitoring;
        environment.screens = [] {
            return std::vector<selection_popup_geometry::ScreenArea>{
                {QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800)}};
        };
        controller =
            std::make_unique<SelectionFirstUseHintController>(SelectionFirstUseHintStateStore(defaults), environment);
    }
    QWidget* card() { return controller->hintPanel().panel(); }
    bool shown(Context context) { return SelectionFirstUseHintStateStore(defaults).hasShownHint(context); }
};

const QRectF row(500, 400, 92, 28);
const SelectionPopupMode all{true, true, true};

TEST(SelectionFirstUseHintStateStore, KeysPerContextAndRawValues) {
    EXPECT_EQ(SelectionFirstUseHintStateStore::key(Context::editable), "selectionHint.editable.shown.v1");
    EXPECT_EQ(SelectionFirstUseHintStateStore::key(Context::nonEditable), "selectionHint.nonEditable.shown.v1");
    EXPECT_EQ(SelectionFirstUseHintStateStore::fromRawValue("editable"), Context::editable);
    EXPECT_EQ(SelectionFirstUseHintStateStore::fromRawValue("Editable"), std::nullopt);
    InMemoryDefaultsStore defaults;
    SelectionFirstUseHintStateStore store(defaults);
    EXPECT_FALSE(store.hasShownHint(Context::editable));
    store.markHintShown(Context::editable);
    EXPECT_TRUE(store.hasShownHint(Context::editable));
    EXPECT_FALSE(store.hasShownHint(Context::nonEditable));
}

TEST(SelectionFirstUseHintContent, CardsListTheOfferedActionsOrTranslateAlone) {
    const auto editable = SelectionFirstUseHintContent::forEditableSelection(all, nullptr);
    EXPECT_EQ(editable.title, "Write faster in text fields");
    EXPECT_EQ(editable.subtitle, "Select text in an editable field, then choose an action below.");
    ASSERT_EQ(editable.actions.size(), 3u);
    EXPECT_EQ(editable.actions[0].title, "Flip language");
    EXPECT_EQ(editable.actions[0].description, "Swap text between your languages");
    EXPECT_EQ(editable.actions[1].title, "Translate");
    EXPECT_EQ(editable.actions[1].description, "Translate selection in place");
    EXPECT_EQ(editable.actions[2].title, "Edit text");
    EXPECT_EQ(editable.actions[2].description, "AI-powered text improvements");
    EXPECT_EQ(SelectionFirstUseHintContent::forEditableSelection({true, false, false}, nullptr).actions.size(), 1u);

    const auto other = SelectionFirstUseHintContent::forNonEditableSelection(nullptr);
    EXPECT_EQ(other.title, "Translate selected text");
    EXPECT_EQ(other.subtitle, "Select text in any app, then use the Tavrolin action below.");
    ASSERT_EQ(other.actions.size(), 1u);
    EXPECT_EQ(other.actions[0].title, "Translate");
    EXPECT_EQ(other.actions[0].description, "Translate selected text to your language");
}

TEST(SelectionFirstUseHintController, ShowsOncePerContextAfterThreeTenthsAndRecordsIt) {
    Hint hint;
    hint.controller->maybeShowHint(all, true, row);
    hint.scheduler->advance(200ms);
    // Asked again for the same context: nothing new, the first schedule stands.
    hint.controller->maybeShowHint(all, true, row);
    hint.scheduler->advance(99ms);
    EXPECT_EQ(hint.card(), nullptr);
    EXPECT_FALSE(hint.shown(Context::editable));
    hint.scheduler->advance(1ms);
    ASSERT_NE(hint.card(), nullptr);
    EXPECT_TRUE(hint.shown(Context::editable));
    EXPECT_EQ(hint.card()->accessibleName(), "Write faster in text fields");

    // Closed at once: the flag stays, and the card does not come back for that context.
    hint.controller->dismiss();
    EXPECT_EQ(hint.card(), nullptr);
    hint.controller->maybeShowHint(all, true, row);
    EXPECT_EQ(hint.scheduler->pendingCount(), 0u);
    // The other context still gets its card once.
    hint.controller->maybeShowHint({false, true, false}, false, row);
    hint.scheduler->advance(300ms);
    ASSERT_NE(hint.card(), nullptr);
    EXPECT_EQ(hint.card()->accessibleName(), "Translate selected text");
    EXPECT_TRUE(hint.shown(Context::nonEditable));
}

TEST(SelectionFirstUseHintController, ADismissalWithinTheDelayCancelsAndANewContextSupersedes) {
    Hint hint;
    hint.controller->maybeShowHint(all, true, row);
    hint.scheduler->advance(250ms);
    hint.controller->dismiss();
    hint.scheduler->advance(1s);
    EXPECT_EQ(hint.card(), nullptr);
    EXPECT_FALSE(hint.shown(Context::editable));

    hint.controller->maybeShowHint(all, true, row);
    hint.scheduler->advance(200ms);
    hint.controller->maybeShowHint({false, true, false}, false, row);
    EXPECT_EQ(hint.controller->pendingContext(), Context::nonEditable);
    hint.scheduler->advance(200ms);
    EXPECT_EQ(hint.card(), nullptr);
    hint.scheduler->advance(100ms);
    ASSERT_NE(hint.card(), nullptr);
    EXPECT_FALSE(hint.shown(Context::editable));
    EXPECT_TRUE(hint.shown(Context::nonEditable));
}

TEST(SelectionFirstUseHintPanel, CardIsAtLeastTheMinimumAboveTheRowOrBelowItNearTheTop) {
    Hint hint;
    hint.controller->maybeShowHint({true, false, false}, true, row);
    hint.scheduler->advance(300ms);
    ASSERT_NE(hint.card(), nullptr);
    QRect card = hint.card()->geometry();
    EXPECT_GE(card.width(), 240);
    EXPECT_GE(card.height(), 100);
    EXPECT_EQ(card.bottom() + 1, 400 - 10);
    EXPECT_NEAR(card.center().x() + 0.5, 546, 1);

    Hint high;
    high.controller->maybeShowHint(all, false, QRectF(500, 40, 92, 28));
    high.scheduler->advance(300ms);
    ASSERT_NE(high.card(), nullptr);
    EXPECT_EQ(high.card()->geometry().top(), 68 + 10);
}

TEST(SelectionFirstUseHintPanel, ClosesAfterTenSecondsOnItsCloseButtonAndOnAClickElsewhere) {
    Hint hint;
    hint.controller->maybeShowHint(all, true, row);
    hint.scheduler->advance(300ms);
    QPointer<QWidget> card = hint.card();
    ASSERT_TRUE(card);
    hint.scheduler->advance(9999ms);
    EXPECT_EQ(hint.card(), card.data());
    hint.scheduler->advance(1ms);
    // The fade-out has begun: the panel is cleared at once, the window goes when it ends.
    EXPECT_EQ(hint.card(), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(!card || !card->isVisible(), 2000);

    hint.controller->maybeShowHint({false, true, false}, false, row);
    hint.scheduler->advance(300ms);
    ASSERT_NE(hint.card(), nullptr);
    hint.card()->findChild<QAbstractButton*>("Close")->click();
    EXPECT_EQ(hint.card(), nullptr);

    Hint third;
    third.controller->maybeShowHint(all, true, row);
    third.scheduler->advance(300ms);
    ASSERT_NE(third.card(), nullptr);
    third.monitoring->send({RawInputEvent::Kind::buttonPress, 1, {}, {}, false, false, false});
    QCoreApplication::processEvents();
    EXPECT_EQ(third.card(), nullptr);
}

}  // namespace
}  // namespace tavrolin
