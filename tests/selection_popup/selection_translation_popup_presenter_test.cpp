// The result popup and the "Nothing selected" notice on an offscreen desktop, on virtual time:
// content, size, the minimum display time with its one deferred dismissal, the keyboard grab
// and mouse monitor of a result, the notice's fade and a result presented during it.
#include "core/capture_workflow_error.h"
#include "selection_popup/desktop_selection_translation_popup_presenter.h"
#include "support/fakes/fake_overlay_platform.h"
#include "support/virtual_time.h"
#include "window_translation/active_window_snapshot.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QScrollArea>

#include <gtest/gtest.h>

namespace tavrolin {

namespace {

using namespace std::chrono_literals;
using Display = WindowFrameConverter::DisplayLayout;

class FixedFrontWindow final : public ActiveWindowDetecting {
public:
    std::optional<QRectF> bounds;
    ActiveWindowSnapshot detectActiveWindow() override {
        if (!bounds) {
            throw CaptureWorkflowError(CaptureWorkflowError::Case::noActiveWindowFound);
        }
        ActiveWindowSnapshot snapshot;
        snapshot.bounds = *bounds;
        return snapshot;
    }
};

SelectionTranslationPopupFrameResolver screenOf(const QRectF& visible) {
    SelectionTranslationPopupFrameResolver r;
    r.fixedDisplays = std::vector<Display>{{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800)}};
    r.fixedVisibleFrames = std::vector<QRectF>{visible};
    r.fixedFallbackVisibleFrame = visible;
    return r;
}

SelectionTranslationResult result(const QString& translated, const QString& original) {
    return SelectionTranslationResult{original, translated, AppLanguage::russian, AppLanguage::english,
                                      QRectF(600, 600, 100, 20)};
}

QStringList labelTexts(const QWidget* panel) {
    QStringList texts;
    for (const QLabel* label : panel->findChildren<QLabel*>()) {
        texts << label->text();
    }
    return texts;
}

void pressKey(QWidget* panel) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
    QApplication::sendEvent(panel, &press);
}

struct Popup {
    explicit Popup(QRectF visible = QRectF(0, 0, 1280, 770)) {
        front->bounds = QRectF(100, 100, 800, 500);
        presenter = std::make_unique<DesktopSelectionTranslationPopupPresenter>(
            front, screenOf(visible),
            DesktopSelectionTranslationPopupPresenter::Dependencies{clock, scheduler, mouse, grab});
        presenter->setOnDismiss([this] { ++dismissals; });
    }
    void advance(std::chrono::milliseconds by) {
        scheduler->advance(by);
        QApplication::processEvents();
    }

    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>(clock.get());
    std::shared_ptr<test::FakeGlobalMouseMonitoring> mouse = std::make_shared<test::FakeGlobalMouseMonitoring>();
    std::shared_ptr<test::FakeKeyboardGrab> grab = std::make_shared<test::FakeKeyboardGrab>();
    std::shared_ptr<FixedFrontWindow> front = std::make_shared<FixedFrontWindow>();
    std::unique_ptr<DesktopSelectionTranslationPopupPresenter> presenter;
    int dismissals = 0;
};

TEST(SelectionResultPopup, ShowsThePairTheTranslationAndTheOriginalUnlessTheyAreEqual) {
    Popup p;
    p.presenter->present(result(QStringLiteral("Good day"), QStringLiteral("<b>Добрый день</b>")), std::nullopt);
    SelectionTranslationPanel* panel = p.presenter->panel();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(labelTexts(panel), (QStringList{QStringLiteral(u"Russian \u2192 English"), "Good day",
                                              QStringLiteral(u"<b>Добрый день</b>")}));
    for (const QLabel* label : panel->findChildren<QLabel*>()) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << "selected text is never read as markup";
    }
    EXPECT_TRUE(panel->contentView()->showsOriginal());

    p.presenter->present(result(QStringLiteral("Same"), QStringLiteral("Same")), std::nullopt);
    EXPECT_EQ(labelTexts(p.presenter->panel()).size(), 2);
    EXPECT_FALSE(p.presenter->panel()->contentView()->showsOriginal());
    EXPECT_EQ(p.dismissals, 0) << "a new popup replaces the old one without notice";
}

TEST(SelectionResultPopup, WidthFollowsTheTextWithinTheScreen) {
    const auto widthOn = [](const QRectF& visible, const QString& text) {
        Popup p(visible);
        p.front->bounds.reset();
        p.presenter->present(result(text, text), std::nullopt);
        return p.presenter->panel()->width();
    };
    EXPECT_EQ(widthOn(QRectF(0, 0, 1280, 770), QStringLiteral("Hi")), 300);
    EXPECT_EQ(widthOn(QRectF(0, 0, 316, 770), QStringLiteral("Hi")), 300);
    EXPECT_EQ(widthOn(QRectF(0, 0, 280, 770), QStringLiteral("Hi")), 264);
    EXPECT_EQ(widthOn(QRectF(0, 0, 200, 770), QStringLiteral("Hi")), 220);
    const QString longLine = QString(QStringLiteral("word ")).repeated(300);
    EXPECT_EQ(widthOn(QRectF(0, 0, 1280, 770), longLine), 900);
    EXPECT_EQ(widthOn(QRectF(0, 0, 700, 770), longLine), 684);
}

TEST(SelectionResultPopup, IsCentredOnTheGivenWindowAndScrollsWhenTooTall) {
    Popup p;
    p.presenter->present(result(QStringLiteral("Hi"), QStringLiteral("Hi")), QRectF(200, 100, 400, 300));
    const QRect frame = p.presenter->panel()->geometry();
    EXPECT_EQ(frame.center().x(), 399);
    EXPECT_NEAR(frame.center().y(), 250, 1);

    QStringList lines;
    for (int i = 0; i < 200; ++i) {
        lines << QStringLiteral("Line %1").arg(i);
    }
    p.presenter->present(result(lines.join(u'\n'), QStringLiteral("x")), QRectF(200, 100, 400, 300));
    SelectionTranslationPanel* panel = p.presenter->panel();
    EXPECT_EQ(panel->height(), 754);
    EXPECT_EQ(panel->geometry().top(), 8);
    EXPECT_TRUE(panel->findChild<QScrollArea*>());
    EXPECT_TRUE(panel->contentView()->content().scrollsVertically);
}

TEST(SelectionResultPopup, AnEarlyClickClosesItWhenItsMinimumTimeIsUp) {
    Popup p;
    p.presenter->present(result(QStringLiteral("Hi"), QStringLiteral("Привет")), std::nullopt);
    SelectionTranslationPanel* panel = p.presenter->panel();
    EXPECT_EQ(p.grab->grabbedWindow, panel->winId());
    EXPECT_EQ(p.mouse->liveMonitors(), 1);

    p.advance(500ms);
    p.mouse->press();
    EXPECT_TRUE(p.presenter->hasScheduledDismiss());
    p.advance(300ms);
    p.mouse->press();
    pressKey(panel);  // swallowed: the minimum time has not passed
    EXPECT_EQ(p.scheduler->pendingCount(), 1u) << "a second request schedules nothing more";
    p.advance(699ms);
    EXPECT_TRUE(p.presenter->panel());
    p.advance(1ms);
    EXPECT_FALSE(p.presenter->panel());
    EXPECT_EQ(p.dismissals, 1);
    EXPECT_FALSE(p.grab->isGrabbing());
    EXPECT_EQ(p.mouse->liveMonitors(), 0);
}

TEST(SelectionResultPopup, KeysCloseItAtOnceOnceTheMinimumTimeHasPassed) {
    Popup p;
    p.presenter->setMinimumDisplayDuration(0);
    p.presenter->present(result(QStringLiteral("Hi"), QStringLiteral("Привет")), std::nullopt);
    pressKey(p.presenter->panel());
    EXPECT_FALSE(p.presenter->panel());
    EXPECT_EQ(p.dismissals, 1);

    // A new minimum reaches the popup on screen; a key before it passes does nothing.
    p.presenter->present(result(QStringLiteral("Hi"), QStringLiteral("Привет")), std::nullopt);
    p.presenter->setMinimumDisplayDuration(1.5);
    p.advance(1000ms);
    pressKey(p.presenter->panel());
    EXPECT_TRUE(p.presenter->panel());
    EXPECT_EQ(p.scheduler->pendingCount(), 0u);
    p.advance(500ms);
    pressKey(p.presenter->panel());
    EXPECT_FALSE(p.presenter->panel());

    // Durations a timer cannot hold are taken as none.
    p.presenter->setMinimumDisplayDuration(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(p.presenter->minimumDisplayDuration(), 0);
    p.presenter->setMinimumDisplayDuration(-3);
    EXPECT_EQ(p.presenter->minimumDisplayDuration(), 0);
}

TEST(SelectionResultPopup, ANewResultCancelsAPendingDismissalAndStays) {
    Popup p;
    p.presenter->present(result(QStringLiteral("One"), QStringLiteral("Один")), std::nullopt);
    p.advance(500ms);
    p.mouse->press();
    p.presenter->present(result(QStringLiteral("Two"), QStringLiteral("Два")), std::nullopt);
    EXPECT_FALSE(p.presenter->hasScheduledDismiss());
    p.advance(1400ms);
    ASSERT_TRUE(p.presenter->panel());
    EXPECT_TRUE(labelTexts(p.presenter->panel()).contains(QStringLiteral("Two")));
    EXPECT_EQ(p.dismissals, 0);
}

TEST(SelectionResultPopup, TheNoticeLetsClicksThroughAndFadesOutAfterASecond) {
    Popup p;
    p.presenter->presentNothingSelected(QRectF(200, 100, 400, 300));
    SelectionTranslationPanel* notice = p.presenter->panel();
    ASSERT_TRUE(notice);
    EXPECT_EQ(labelTexts(notice), QStringList{"Nothing selected"});
    EXPECT_TRUE(notice->windowFlags().testFlag(Qt::WindowTransparentForInput));
    EXPECT_FALSE(p.grab->isGrabbing());
    EXPECT_EQ(p.mouse->installed, 0);

    p.advance(1000ms);
    EXPECT_TRUE(p.presenter->panel()) << "fading";
    p.advance(250ms);
    EXPECT_FALSE(p.presenter->panel());
    EXPECT_EQ(p.dismissals, 1);
}

TEST(SelectionResultPopup, AResultPresentedDuringTheFadeStays) {
    Popup p;
    p.presenter->presentNothingSelected(std::nullopt);
    p.advance(1100ms);
    p.presenter->present(result(QStringLiteral("Hi"), QStringLiteral("Привет")), std::nullopt);
    SelectionTranslationPanel* shown = p.presenter->panel();
    p.advance(200ms);
    EXPECT_EQ(p.presenter->panel(), shown);
    EXPECT_TRUE(shown->isVisible());
    EXPECT_TRUE(p.presenter->appearDate());
    EXPECT_EQ(p.dismissals, 0);
}

}  // namespace

}  // namespace tavrolin
