#include "window_translation/desktop_screenshot_overlay_presenter.h"

#include "platform/front_window_activation.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_overlay_platform.h"
#include "support/fakes/fake_window_list.h"
#include "support/fakes/held_availability_client.h"
#include "support/virtual_time.h"
#include "window_translation/fake_overlay_panel.h"
#include "window_translation/screenshot_overlay_view.h"
#include "window_translation/translation_picker.h"
#include "window_translation/translation_setup_notice_view.h"

#include <QComboBox>
#include <QEventLoop>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

using namespace tavrolin;
using namespace std::chrono_literals;

namespace {

class RecordingActivation final : public FrontWindowActivating {
public:
    std::optional<quint32> activeWindow() override { return std::nullopt; }
    bool activate(quint32 window) override {
        activated.push_back(window);
        return true;
    }
    std::vector<quint32> activated;
};

class FakeCompositing final : public CompositingManagerDetecting {
public:
    bool isCompositingManagerRunning() override { return running; }
    bool running = true;
};

constexpr qint64 ownPid = 777;
const QRectF windowBounds(100, 50, 600, 400);
const TranslationLanguagePair englishToSpanish{AppLanguage::english, AppLanguage::spanish};

struct PresenterFixture : ::testing::Test {
    std::shared_ptr<test::FakeClock> clock = std::make_shared<test::FakeClock>();
    std::shared_ptr<test::ManualScheduler> scheduler = std::make_shared<test::ManualScheduler>(clock.get());
    std::shared_ptr<test::FakeGlobalMouseMonitoring> mouse = std::make_shared<test::FakeGlobalMouseMonitoring>();
    std::shared_ptr<test::FakeKeyboardGrab> grab = std::make_shared<test::FakeKeyboardGrab>();
    std::shared_ptr<test::FakeFrontApplicationProvider> front = std::make_shared<test::FakeFrontApplicationProvider>();
    std::shared_ptr<test::FakeWindowList> windows = std::make_shared<test::FakeWindowList>();
    std::shared_ptr<RecordingActivation> activation = std::make_shared<RecordingActivation>();
    std::shared_ptr<FakeCompositing> compositing = std::make_shared<FakeCompositing>();
    std::vector<test::FakeOverlayPanel*> panels;
    int activationsBuilt = 0;
    int dismissals = 0;
    std::vector<TranslationLanguagePair> requested;
    std::shared_ptr<test::HeldAvailabilityClient> client = std::make_shared<test::HeldAvailabilityClient>();
    std::shared_ptr<TranslationSetupSupport> support =
        std::make_shared<TranslationSetupSupport>(client, [] { return true; });
    int setupOpenings = 0;
    std::unique_ptr<DesktopScreenshotOverlayPresenter> presenter;

    void SetUp() override {
        DesktopScreenshotOverlayPresenter::Dependencies d;
        d.clock = clock;
        d.scheduler = scheduler;
        d.makePanel = [this] {
            auto panel = std::make_unique<test::FakeOverlayPanel>(1000 + panels.size());
            panels.push_back(panel.get());
            return panel;
        };
        d.displays = [] {
            return std::vector<WindowFrameConverter::DisplayLayout>{{QRectF(0, 0, 1280, 800), QRectF(0, 0, 1280, 800)}};
        };
        d.mouseMonitoring = mouse;
        d.keyboardGrab = grab;
        d.frontApplication = front;
        d.windowList = windows;
        d.frontWindowActivation = [this] {
            ++activationsBuilt;
            return activation;
        };
        d.ownProcessId = ownPid;
        d.compositing = compositing;
        presenter = std::make_unique<DesktopScreenshotOverlayPresenter>(
            support, [this] { ++setupOpenings; }, std::move(d));
        presenter->setOnDismiss([this] { ++dismissals; });
    }

    QImage picture() {
        QImage image(600, 400, QImage::Format_RGB32);
        image.fill(Qt::gray);
        return image;
    }
    bool showImage(QRectF bounds = windowBounds) {
        return presenter->presentImage(picture(), bounds, 4242, QStringLiteral("English → Spanish"), englishToSpanish,
                                       false, [this](TranslationLanguagePair pair) { requested.push_back(pair); });
    }
    test::FakeOverlayPanel* panel() const { return static_cast<test::FakeOverlayPanel*>(presenter->overlayPanel()); }
    TranslationPickerView* picker() const {
        TranslationPickerPanel* open = presenter->translationPickerPanel();
        return open ? open->pickerView() : nullptr;
    }
    void pressBadge() { panel()->view->didPressTranslationBadge(); }
};

TEST_F(PresenterFixture, NothingIsBuiltBeforeTheFirstPresentation) {
    EXPECT_TRUE(panels.empty());
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_EQ(mouse->installed, 0);
    EXPECT_EQ(activationsBuilt, 0);
    EXPECT_EQ(presenter->minimumDisplayDuration(), 1.5);
}

TEST_F(PresenterFixture, ALoadingCardIsPassiveOverTheWindowWithoutMonitorOrGrab) {
    presenter->presentLoading(windowBounds, 4242, QStringLiteral("Traduciendo..."), true);
    ASSERT_TRUE(presenter->hasOverlayPanel());
    EXPECT_EQ(panel()->frame, windowBounds);
    EXPECT_TRUE(panel()->passive);
    EXPECT_TRUE(panel()->front);
    EXPECT_TRUE(panel()->view->isShowingLoader());
    EXPECT_TRUE(panel()->view->isShowingServerHint());
    EXPECT_EQ(panel()->view->statusText(), QStringLiteral("Traduciendo..."));
    EXPECT_EQ(presenter->ownerPID(), 4242);
    EXPECT_EQ(mouse->installed, 0);
    EXPECT_FALSE(grab->isGrabbing());
    EXPECT_EQ(presenter->appearDate(), clock->now());
}

// Without a compositing manager nothing of the panel may lie around the card: its window is the
// card, centred on the covered window, through every change of the card; the picture still
// covers the whole window.
TEST_F(PresenterFixture, WithoutACompositorTheCardsPanelIsTheCardAlone) {
    compositing->running = false;
    const auto expectCardOnly = [&](int height) {
        const QRectF frame = panel()->frame;
        EXPECT_EQ(frame.height(), height);
        EXPECT_GE(frame.width(), ScreenshotOverlayView::minimumLoaderWidth);
        EXPECT_LT(frame.width(), windowBounds.width());
        EXPECT_LE(std::abs(frame.center().x() - windowBounds.center().x()), 1.0);
        EXPECT_LE(std::abs(frame.center().y() - windowBounds.center().y()), 1.0);
        EXPECT_EQ(QSizeF(panel()->view->size()), frame.size());
        EXPECT_EQ(panel()->view->loaderRect(), panel()->view->rect()) << "the card does not fill its panel";
    };
    presenter->presentLoading(windowBounds, 4242, QStringLiteral("Traduciendo..."), false);
    expectCardOnly(ScreenshotOverlayView::standardLoaderHeight);
    presenter->showLoading(QStringLiteral("Traduciendo..."), true);
    expectCardOnly(ScreenshotOverlayView::serverLoaderHeight);

    ASSERT_TRUE(showImage());
    EXPECT_EQ(panel()->frame, windowBounds);
    EXPECT_EQ(QSizeF(panel()->view->size()), windowBounds.size());
    // A re-translation's card, then its picture again.
    presenter->showLoading(QStringLiteral("Übersetzen..."), false);
    expectCardOnly(ScreenshotOverlayView::standardLoaderHeight);
    ASSERT_TRUE(showImage());
    EXPECT_EQ(panel()->frame, windowBounds);

    compositing->running = true;
    presenter->presentLoading(windowBounds, 4242, QStringLiteral("Traduciendo..."), false);
    EXPECT_EQ(panel()->frame, windowBounds);
}

TEST_F(PresenterFixture, ANewCardReplacesACardSilentlyButAnImageWithOneDismissal) {
    presenter->presentLoading(windowBounds, 1, QStringLiteral("a"), false);
    presenter->presentLoading(windowBounds, 1, QStringLiteral("b"), false);
    EXPECT_EQ(dismissals, 0);
    EXPECT_EQ(panels.size(), 2u);
    EXPECT_EQ(panel(), panels[1]);

    test::FakeOverlayPanel* card = panel();
    ASSERT_TRUE(showImage());
    // The image comes in a panel of its own, shown before the card's goes.
    EXPECT_EQ(panels.size(), 3u);
    EXPECT_EQ(panel(), panels[2]);
    EXPECT_TRUE(panel()->front);
    EXPECT_FALSE(card->front);
    presenter->presentLoading(windowBounds, 1, QStringLiteral("c"), false);
    EXPECT_EQ(dismissals, 1);
    EXPECT_EQ(panels.size(), 4u);
    EXPECT_EQ(mouse->liveMonitors(), 0);
}

TEST_F(PresenterFixture, AnImageIsInteractiveGrabsTheKeyboardAndKeepsItsPair) {
    presenter->presentLoading(windowBounds, 4242, QStringLiteral("Translating..."), false);
    ASSERT_TRUE(showImage());
    EXPECT_FALSE(panel()->passive);
    EXPECT_FALSE(panel()->view->isShowingLoader());
    EXPECT_EQ(panel()->view->badgeText(), QStringLiteral("English → Spanish"));
    EXPECT_TRUE(panel()->view->isBadgeSelectable());
    EXPECT_EQ(grab->grabbedWindow, panel()->nativeId);
    EXPECT_EQ(presenter->selectedLanguagePair(), englishToSpanish);
    EXPECT_FALSE(presenter->onlineFeaturesEnabled());
    EXPECT_EQ(mouse->liveMonitors(), 1);

    // A re-translation turns it back into a passive card and gives the keyboard back; the
    // monitor stays.
    presenter->showLoading(QStringLiteral("Traduciendo..."), false);
    EXPECT_TRUE(panel()->passive);
    EXPECT_FALSE(grab->isGrabbing());
    EXPECT_EQ(mouse->liveMonitors(), 1);
    ASSERT_TRUE(showImage());
    EXPECT_EQ(mouse->liveMonitors(), 1);
    EXPECT_EQ(panels.size(), 3u);

    presenter->clear(false);
    EXPECT_EQ(mouse->liveMonitors(), 0);
    EXPECT_FALSE(grab->isGrabbing());
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_FALSE(presenter->selectedLanguagePair());
    EXPECT_EQ(dismissals, 0);
}

TEST_F(PresenterFixture, BoundsOnNoDisplayShowNothing) {
    presenter->presentLoading(QRectF(5000, 5000, 0, 0), 1, QStringLiteral("x"), false);
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_TRUE(panels.empty());

    presenter->presentLoading(windowBounds, 1, QStringLiteral("x"), false);
    EXPECT_FALSE(showImage(QRectF(10, 10, 0, 300)));
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_EQ(dismissals, 0);
    EXPECT_EQ(mouse->installed, 0);
}

TEST_F(PresenterFixture, AnEarlyOutsideClickIsDeferredToTheEndOfTheMinimumTimeOnce) {
    ASSERT_TRUE(showImage());
    clock->advance(500ms);
    mouse->press();
    EXPECT_TRUE(presenter->hasOverlayPanel());
    ASSERT_EQ(scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{1000ms});
    mouse->press();
    EXPECT_EQ(scheduler->pendingCount(), 1u);

    scheduler->advance(999ms);
    EXPECT_TRUE(presenter->hasOverlayPanel());
    scheduler->advance(1ms);
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_EQ(dismissals, 1);
}

TEST_F(PresenterFixture, AClockSetBackNeitherDismissesEarlyNorWaitsBeyondTheMinimum) {
    ASSERT_TRUE(showImage());
    clock->advance(-3600s);
    mouse->press();
    EXPECT_TRUE(presenter->hasOverlayPanel());
    ASSERT_EQ(scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{1500ms});
    scheduler->advance(1499ms);
    EXPECT_TRUE(presenter->hasOverlayPanel());
    scheduler->advance(1ms);
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_EQ(dismissals, 1);
}

TEST_F(PresenterFixture, AClearOrANewCardCancelsTheDeferredDismissal) {
    ASSERT_TRUE(showImage());
    clock->advance(500ms);
    mouse->press();
    presenter->presentLoading(windowBounds, 1, QStringLiteral("again"), false);
    EXPECT_EQ(dismissals, 1);  // leaving the image
    scheduler->advance(2000ms);
    EXPECT_TRUE(presenter->hasOverlayPanel());
    EXPECT_EQ(dismissals, 1);

    ASSERT_TRUE(showImage());
    clock->advance(200ms);
    presenter->attemptClear(false);
    presenter->clear(false);
    ASSERT_TRUE(showImage());
    scheduler->advance(5000ms);
    EXPECT_TRUE(presenter->hasOverlayPanel());
}

TEST_F(PresenterFixture, AKeyAtOneSecondIsDroppedWhileAClickThenWaitsHalfASecond) {
    ASSERT_TRUE(showImage());
    clock->advance(1000ms);
    QTest::keyClick(panel()->view.get(), Qt::Key_A);
    EXPECT_TRUE(presenter->hasOverlayPanel());
    EXPECT_EQ(scheduler->pendingCount(), 0u);

    mouse->press();
    EXPECT_EQ(scheduler->pendingDelays(), std::vector<std::chrono::milliseconds>{500ms});
    scheduler->advance(500ms);
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_EQ(dismissals, 1);
}

TEST_F(PresenterFixture, AKeyAModifierLetGoOrAnyButtonAfterTheMinimumTimeDismisses) {
    const std::vector<std::pair<const char*, std::function<void(QWidget*)>>> events{
        {"key", [](QWidget* view) { QTest::keyClick(view, Qt::Key_A); }},
        {"modifier let go", [](QWidget* view) { QTest::keyRelease(view, Qt::Key_Shift); }},
        {"left", [](QWidget* view) { QTest::mousePress(view, Qt::LeftButton, {}, QPoint(300, 200)); }},
        {"right", [](QWidget* view) { QTest::mousePress(view, Qt::RightButton, {}, QPoint(300, 200)); }},
        {"middle", [](QWidget* view) { QTest::mousePress(view, Qt::MiddleButton, {}, QPoint(300, 200)); }},
    };
    for (const auto& [name, send] : events) {
        const int before = dismissals;
        ASSERT_TRUE(showImage());
        QPointer<ScreenshotOverlayView> view = panel()->view.get();
        // Before the minimum time: dropped. A key other than a modifier dismisses on its press only.
        send(view);
        QTest::keyRelease(view, Qt::Key_A);
        EXPECT_TRUE(presenter->hasOverlayPanel()) << name;
        clock->advance(1500ms);
        send(view);
        EXPECT_FALSE(presenter->hasOverlayPanel()) << name;
        EXPECT_EQ(dismissals, before + 1) << name;
        // The event that dismissed the panel is still being delivered to it: it goes later,
        // when the loop that delivered the event deletes what was left for it.
        EXPECT_TRUE(view) << name;
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(view) << name;
    }
}

// The dismissal may open a modal window while the event that caused it is still being delivered
// (the share question, due after the twentieth success): that window's own event loop must not
// delete the panel under the event.
TEST_F(PresenterFixture, APanelDismissedByItsOwnEventOutlivesAModalLoopOpenedByTheDismissal) {
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::LeftButton, Qt::MiddleButton}) {
        ASSERT_TRUE(showImage());
        clock->advance(1500ms);
        QPointer<ScreenshotOverlayView> view = panel()->view.get();
        bool viewDuringTheQuestion = false;
        presenter->setOnDismiss([&] {
            QEventLoop question;
            QTimer::singleShot(30, &question, &QEventLoop::quit);
            question.exec();
            viewDuringTheQuestion = view;
        });
        // The click arrives from the event loop, as on the desktop.
        QEventLoop desktop;
        QTimer::singleShot(0, &desktop, [&] {
            QTest::mousePress(view, button, {}, QPoint(300, 200));
            desktop.quit();
        });
        desktop.exec();
        EXPECT_TRUE(viewDuringTheQuestion) << button;
        EXPECT_FALSE(presenter->hasOverlayPanel());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(view) << "deleted once the click was delivered";
    }
    presenter->setOnDismiss([this] { ++dismissals; });
}

TEST_F(PresenterFixture, LettingGoOfAKeyOtherThanAModifierIsNoDismissal) {
    ASSERT_TRUE(showImage());
    clock->advance(1500ms);
    QTest::keyRelease(panel()->view.get(), Qt::Key_A);
    EXPECT_TRUE(presenter->hasOverlayPanel());
}

TEST_F(PresenterFixture, ZeroMinimumTimeDismissesOnTheFirstEvent) {
    presenter->setMinimumDisplayDuration(0);
    ASSERT_TRUE(showImage());
    mouse->press();
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_EQ(dismissals, 1);
}

TEST_F(PresenterFixture, DurationsAreClampedAndReachTheViewOnScreen) {
    ASSERT_TRUE(showImage());
    presenter->setMinimumDisplayDuration(std::numeric_limits<double>::quiet_NaN());
    EXPECT_EQ(presenter->minimumDisplayDuration(), 0);
    EXPECT_EQ(panel()->view->minimumDisplayDuration(), 0);
    presenter->setMinimumDisplayDuration(-1);
    EXPECT_EQ(presenter->minimumDisplayDuration(), 0);
    presenter->setMinimumDisplayDuration(1e12);
    EXPECT_EQ(presenter->minimumDisplayDuration(), 60);
    EXPECT_EQ(panel()->view->minimumDisplayDuration(), 60);

    // A huge setting still yields a timer within a minute.
    mouse->press();
    ASSERT_EQ(scheduler->pendingCount(), 1u);
    EXPECT_LE(scheduler->pendingDelays().front(), 60000ms);
}

TEST_F(PresenterFixture, ShowLoadingWithoutAnOverlayDoesNothing) {
    presenter->showLoading(QStringLiteral("x"), true);
    EXPECT_FALSE(presenter->hasOverlayPanel());
    EXPECT_TRUE(panels.empty());
}

TEST_F(PresenterFixture, TheCoveredApplicationIsActivatedOnlyWhenWeAreInFront) {
    windows->windows = {test::listedWindow(11, 999, QRectF(0, 0, 50, 50)),
                        test::listedWindow(22, 4242, QRectF(100, 50, 600, 400)),
                        test::listedWindow(33, 4242, QRectF(0, 0, 80, 80))};
    front->set(FrontApplication{1234, QStringLiteral("Other")});
    ASSERT_TRUE(showImage());
    presenter->clear(true);
    EXPECT_TRUE(activation->activated.empty());
    EXPECT_EQ(activationsBuilt, 0);

    front->set(FrontApplication{ownPid, QStringLiteral("Tavrolin")});
    ASSERT_TRUE(showImage());
    presenter->clear(true);
    EXPECT_EQ(activation->activated, std::vector<quint32>{22});
    EXPECT_FALSE(presenter->ownerPID());

    // Without an owner nothing is activated.
    presenter->presentLoading(windowBounds, std::nullopt, QStringLiteral("x"), false);
    presenter->clear(false);
    EXPECT_EQ(activation->activated.size(), 1u);
}

TEST_F(PresenterFixture, AMonitorThatOutlivesThePresenterDoesNothing) {
    ASSERT_TRUE(showImage());
    clock->advance(500ms);
    mouse->press();
    presenter.reset();
    EXPECT_EQ(mouse->liveMonitors(), 0);
    scheduler->advance(2000ms);
    EXPECT_EQ(dismissals, 0);
    EXPECT_FALSE(grab->isGrabbing());
}

TEST_F(PresenterFixture, ASystemWithoutMonitorLeavesOutsideClicksAlone) {
    mouse->refuse = true;
    ASSERT_TRUE(showImage());
    EXPECT_FALSE(presenter->hasGlobalMouseMonitor());
    EXPECT_TRUE(presenter->hasOverlayPanel());
}

}  // namespace

// ---- which presses the desktop monitor reports

TEST(GlobalMousePressFilterTest, WheelStepsAndPressesOverOurWindowsAreNotReported) {
    const std::vector<unsigned long long> ours{0x400001, 0x400007};
    EXPECT_TRUE(isReportedMousePress(1, {0x200010, 0x200011}, ours));
    EXPECT_TRUE(isReportedMousePress(3, {}, ours));
    EXPECT_TRUE(isReportedMousePress(8, {0x200010}, ours));
    for (int wheel = 4; wheel <= 7; ++wheel) {
        EXPECT_FALSE(isReportedMousePress(wheel, {0x200010}, ours)) << wheel;
    }
    // Our panel inside the window manager's frame.
    EXPECT_FALSE(isReportedMousePress(1, {0x600002, 0x400007}, ours));
    EXPECT_TRUE(isReportedMousePress(2, {0x600002, 0}, {0}));
}

// ---- the language picker

TEST_F(PresenterFixture, TheBadgeOpensOnePickerThatHasTheKeyboardUntilItCloses) {
    ASSERT_TRUE(showImage());
    ASSERT_EQ(grab->grabbedWindow, panel()->nativeId);
    pressBadge();
    ASSERT_NE(picker(), nullptr);
    TranslationPickerPanel* first = presenter->translationPickerPanel();
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->width(), 320);
    EXPECT_GE(first->height(), 200);
    EXPECT_EQ(picker()->pair(), englishToSpanish);
    EXPECT_FALSE(grab->isGrabbing()) << "the picker needs the focus";

    // Another press reopens it: still one picker.
    pressBadge();
    EXPECT_NE(presenter->translationPickerPanel(), first);
    EXPECT_FALSE(first->isVisible());

    // Escape closes only the picker; the overlay hears the keyboard again.
    QTest::keyClick(picker(), Qt::Key_Escape);
    EXPECT_EQ(presenter->translationPickerPanel(), nullptr);
    EXPECT_EQ(grab->grabbedWindow, panel()->nativeId);
    EXPECT_TRUE(presenter->hasOverlayPanel());
    EXPECT_EQ(dismissals, 0);
    EXPECT_TRUE(requested.empty());
    client->answer(0, TranslationPairAvailability::installed);
    client->answer(1, TranslationPairAvailability::installed);
}

TEST_F(PresenterFixture, ApplyClosesThePickerThenRequestsThePairOnce) {
    ASSERT_TRUE(showImage());
    pressBadge();
    picker()->targetMenu()->setCurrentIndex(picker()->targetMenu()->findData(QStringLiteral("fr")));
    ASSERT_EQ(client->questions.size(), 2u);
    client->answer(1, TranslationPairAvailability::installed);
    QPushButton* apply = picker()->applyButton();
    ASSERT_TRUE(apply->isEnabled());
    apply->click();
    apply->click();  // a second press before the closed picker is gone
    const TranslationLanguagePair englishToFrench{AppLanguage::english, AppLanguage::french};
    EXPECT_EQ(requested, std::vector<TranslationLanguagePair>{englishToFrench});
    EXPECT_EQ(presenter->selectedLanguagePair(), englishToFrench);
    EXPECT_EQ(presenter->translationPickerPanel(), nullptr);

    // The workflow turns the overlay into its card; the next picker opens with the new pair.
    presenter->showLoading(QStringLiteral("Traduction..."), false);
    EXPECT_FALSE(grab->isGrabbing());
    ASSERT_TRUE(showImage());
    pressBadge();
    EXPECT_EQ(picker()->pair(), englishToSpanish) << "the image presented names its own pair";
    client->answer(0, TranslationPairAvailability::installed);
    client->answer(2, TranslationPairAvailability::installed);
}

TEST_F(PresenterFixture, TheNoticeButtonOpensTheSetupStep) {
    ASSERT_TRUE(showImage());
    pressBadge();
    const QRect opened = presenter->translationPickerPanel()->geometry();
    client->answer(0, TranslationPairAvailability::supported);
    ASSERT_NE(picker()->noticeView(), nullptr);
    // The panel makes room for the notice, still hanging from the same place.
    const QRect grown = presenter->translationPickerPanel()->geometry();
    EXPECT_EQ(grown.topLeft(), opened.topLeft());
    EXPECT_EQ(grown.height(), 10 + picker()->heightForWidth(320));
    EXPECT_GT(grown.height(), opened.height());
    EXPECT_FALSE(picker()->applyButton()->isEnabled());
    picker()->noticeView()->setupButton()->click();
    EXPECT_EQ(setupOpenings, 1);
    EXPECT_NE(presenter->translationPickerPanel(), nullptr);
}

TEST_F(PresenterFixture, ClearingWithThePickerAndItsCheckOpenLeavesNothingBehind) {
    ASSERT_TRUE(showImage());
    pressBadge();
    QPointer<TranslationPickerPanel> open = presenter->translationPickerPanel();
    ASSERT_TRUE(open);
    presenter->clear(true);
    EXPECT_EQ(presenter->translationPickerPanel(), nullptr);
    EXPECT_FALSE(grab->isGrabbing());
    EXPECT_EQ(dismissals, 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(open) << "deleted once control is back in the event loop";
    // The check's late answer finds no picker.
    client->answer(0, TranslationPairAvailability::supported);
    EXPECT_TRUE(requested.empty());

    // Without an image (a loading card) the badge opens nothing.
    presenter->presentLoading(windowBounds, 4242, QStringLiteral("Translating..."), false);
    presenter->showTranslationPicker(panel()->view->badge());
    EXPECT_EQ(presenter->translationPickerPanel(), nullptr);
}

TEST_F(PresenterFixture, LoadingAndTheOutsideClickCloseThePicker) {
    ASSERT_TRUE(showImage());
    pressBadge();
    presenter->showLoading(QStringLiteral("Translating..."), false);
    EXPECT_EQ(presenter->translationPickerPanel(), nullptr);
    EXPECT_FALSE(grab->isGrabbing()) << "a card hears no keys";

    ASSERT_TRUE(showImage());
    pressBadge();
    clock->advance(2s);
    mouse->press();
    EXPECT_EQ(presenter->translationPickerPanel(), nullptr);
    EXPECT_FALSE(presenter->hasOverlayPanel());
    client->answer(0, TranslationPairAvailability::installed);
    client->answer(1, TranslationPairAvailability::installed);
}
