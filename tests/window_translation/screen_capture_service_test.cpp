#include "window_translation/screen_capture_service.h"

#include "core/capture_workflow_error.h"
#include "support/async.h"
#include "support/fakes/fake_screen_capture.h"

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using test::FakeScreenCapture;

constexpr std::int32_t editorPID = 500;

ActiveWindowSnapshot editorWindow(QRectF bounds, std::uint32_t id = 11,
                                  std::optional<QString> title = QStringLiteral("Résumé draft")) {
    return ActiveWindowSnapshot{id, editorPID, QStringLiteral("Editor"), std::move(title), bounds};
}

struct Screen {
    std::shared_ptr<FakeScreenCapture> fake = std::make_shared<FakeScreenCapture>();
    ScreenCaptureService service{fake};

    Screen() {
        fake->content.displays = {ShareableDisplay{1, QRectF(0, 0, 1280, 800)},
                                  ShareableDisplay{2, QRectF(1280, 100, 1024, 768)}};
        fake->content.mainDisplayID = 1;
    }

    WindowCapture capture(CaptureTarget target) { return test::await(service.capture(std::move(target))); }

    CaptureWorkflowError::Case failure(CaptureTarget target) {
        try {
            capture(std::move(target));
        } catch (const CaptureWorkflowError& error) {
            return error.errorCase();
        }
        ADD_FAILURE() << "no CaptureWorkflowError";
        return CaptureWorkflowError::Case::captureAlreadyInProgress;
    }
};

// --- Finding the window -------------------------------------------------------------------

TEST(ShareableWindowLookup, ByIdFirstThenByOwnerWithTitleOrFrame) {
    const auto snapshot = editorWindow(QRectF(100, 50, 600, 400));
    const ShareableWindow byId{11, 999, QStringLiteral("unrelated"), QRectF(0, 0, 5, 5)};
    const ShareableWindow sameTitle{12, editorPID, QStringLiteral("  RESUME DRAFT\n"), QRectF(0, 0, 5, 5)};
    const ShareableWindow nearFrame{13, editorPID, QStringLiteral("Other"), QRectF(102, 48, 598, 402)};
    const ShareableWindow farFrame{14, editorPID, QStringLiteral("Other"), QRectF(103, 50, 600, 400)};
    const ShareableWindow foreignSameTitle{15, editorPID + 1, QStringLiteral("Résumé draft"),
                                           QRectF(100, 50, 600, 400)};

    EXPECT_EQ(ScreenCaptureService::resolveShareableWindow(snapshot, {sameTitle, byId}), byId);
    EXPECT_EQ(ScreenCaptureService::resolveShareableWindow(snapshot, {foreignSameTitle, sameTitle}), sameTitle);
    EXPECT_EQ(ScreenCaptureService::resolveShareableWindow(snapshot, {farFrame, nearFrame}), nearFrame);
    EXPECT_FALSE(ScreenCaptureService::resolveShareableWindow(snapshot, {foreignSameTitle, farFrame}));
    EXPECT_FALSE(ScreenCaptureService::resolveShareableWindow(snapshot, {}));
}

TEST(ShareableWindowLookup, TitlesIgnoreCaseAccentsAndSurroundingSpaceOnly) {
    struct Case {
        std::optional<QString> a, b;
        bool match;
    } cases[] = {
        {QStringLiteral("Résumé"), QStringLiteral("resume"), true},
        {QStringLiteral("\t STRASSE \n"), QStringLiteral("strasse"), true},
        {QStringLiteral("Ångström"), QStringLiteral("angstrom"), true},
        {std::nullopt, QStringLiteral("  "), true},
        {std::nullopt, std::nullopt, true},
        {QStringLiteral("Report 1"), QStringLiteral("Report1"), false},
        {QStringLiteral("draft"), std::nullopt, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ScreenCaptureService::titlesMatch(c.a, c.b), c.match)
            << c.a.value_or("<none>").toStdString() << " / " << c.b.value_or("<none>").toStdString();
    }
}

// --- Window and region captures --------------------------------------------------------------

TEST(WindowCaptureService, AWindowMatchingItsBoundsIsCapturedOnItsOwn) {
    Screen screen;
    const QRectF frame(100, 50, 600, 400);
    screen.fake->content.windows = {
        ShareableWindow{11, editorPID, QStringLiteral("Résumé draft"), QRectF(101, 51, 599, 401)}};
    const auto capture = screen.capture(CaptureTarget::window(editorWindow(frame)));

    const auto captures = screen.fake->captures();
    ASSERT_EQ(captures.size(), 1u);
    const auto& taken = captures.front();
    ASSERT_TRUE(std::holds_alternative<WindowCaptureFilter>(taken.filter));
    EXPECT_EQ(taken.configuration.width, 599);
    EXPECT_EQ(taken.configuration.height, 401);
    EXPECT_TRUE(taken.configuration.ignoreShadowsSingleWindow);
    EXPECT_FALSE(taken.configuration.showsCursor);
    EXPECT_EQ(capture.image.size(), QSize(599, 401));
    EXPECT_EQ(capture.appName, QStringLiteral("Editor"));
    EXPECT_EQ(capture.windowTitle, QStringLiteral("Résumé draft"));
    EXPECT_EQ(capture.windowBounds, frame);
    EXPECT_EQ(capture.ownerPID, editorPID);
}

TEST(WindowCaptureService, UnionBoundsAreCutFromTheDisplayTheyShareMostWith) {
    Screen screen;
    // Main window at (1400, 200), its toolbar joined above: bounds reach 40 points higher.
    screen.fake->content.windows = {ShareableWindow{11, editorPID, std::nullopt, QRectF(1400, 200, 500, 300)}};
    const QRectF unionBounds(1400, 160, 500, 340);
    const auto capture = screen.capture(CaptureTarget::window(editorWindow(unionBounds)));

    const auto captures = screen.fake->captures();
    ASSERT_EQ(captures.size(), 1u);
    const auto& taken = captures.front();
    ASSERT_TRUE(std::holds_alternative<DisplayCaptureFilter>(taken.filter));
    EXPECT_EQ(std::get<DisplayCaptureFilter>(taken.filter).display.displayID, 2u);
    EXPECT_FALSE(taken.configuration.ignoreShadowsSingleWindow);
    EXPECT_EQ(capture.image.size(), QSize(500, 340));
    // The crop starts at (1400 - 1280, 160 - 100) of the display image.
    EXPECT_EQ(capture.image.pixel(0, 0), FakeScreenCapture::patternPixel(120, 60));
    EXPECT_EQ(capture.image.pixel(499, 339), FakeScreenCapture::patternPixel(619, 399));
    EXPECT_EQ(capture.windowBounds, unionBounds);
    EXPECT_EQ(capture.ownerPID, editorPID);
}

TEST(WindowCaptureService, RegionCropsRoundOutwardAndScale) {
    CaptureContentInfo info{QRectF(1280, 100, 1024, 768), 2};
    // (1300.25 - 1280) * 2 = 40.5 -> 40; (110.75 - 100) * 2 = 21.5 -> 21; 100.5 * 2 = 201; 50.25 * 2 = 100.5 -> 101.
    EXPECT_EQ(ScreenCaptureService::cropRect(QRectF(1300.25, 110.75, 100.5, 50.25), info, QSize(2048, 1536)),
              QRect(40, 21, 201, 101));
    // A scale below 1 counts as 1.
    info.pointPixelScale = 0.5;
    EXPECT_EQ(ScreenCaptureService::cropRect(QRectF(1290, 110, 10, 20), info, QSize(1024, 768)), QRect(10, 10, 10, 20));
}

TEST(WindowCaptureService, ScaleTwoDoublesTheConfigurationAndTheCrop) {
    Screen screen;
    screen.fake->pointPixelScale = 2;
    EXPECT_EQ(ScreenCaptureService::makeConfiguration({QRectF(0, 0, 300.5, 200), 2}, true).width, 601);
    EXPECT_EQ(ScreenCaptureService::makeConfiguration({QRectF(0, 0, 300.5, 200), 2}, true).height, 400);
    EXPECT_EQ(ScreenCaptureService::makeConfiguration({QRectF(0, 0, 0.2, 0), 1}, false).width, 1);
    EXPECT_EQ(ScreenCaptureService::makeConfiguration({QRectF(0, 0, 0.2, 0), 1}, false).height, 1);

    screen.fake->content.windows = {ShareableWindow{11, editorPID, std::nullopt, QRectF(10, 300, 300.5, 200)}};
    const auto exact = screen.capture(CaptureTarget::window(editorWindow(QRectF(10, 300, 300.5, 200))));
    EXPECT_EQ(exact.image.size(), QSize(601, 400));

    const auto region = screen.capture(CaptureTarget::window(editorWindow(QRectF(10, 250, 300.5, 250))));
    EXPECT_EQ(region.image.size(), QSize(601, 500));
    EXPECT_EQ(region.image.pixel(0, 0), FakeScreenCapture::patternPixel(20, 500));
}

TEST(WindowCaptureService, BoundsPartlyOffTheDisplayAreCutToTheImageWhollyOffAreEmpty) {
    Screen screen;
    screen.fake->content.windows = {ShareableWindow{11, editorPID, std::nullopt, QRectF(-100, 700, 300, 150)}};
    const auto partly = screen.capture(CaptureTarget::window(editorWindow(QRectF(-100, 650, 300, 200))));
    EXPECT_EQ(partly.image.size(), QSize(200, 150));
    EXPECT_EQ(partly.image.pixel(0, 0), FakeScreenCapture::patternPixel(0, 650));
    EXPECT_EQ(partly.windowBounds, QRectF(-100, 650, 300, 200));

    screen.fake->content.windows = {ShareableWindow{11, editorPID, std::nullopt, QRectF(-900, 10, 300, 150)}};
    EXPECT_EQ(screen.failure(CaptureTarget::window(editorWindow(QRectF(-900, -40, 300, 200)))),
              CaptureWorkflowError::Case::emptyCaptureImage);
}

TEST(WindowCaptureService, FailuresOfTheWindowPath) {
    Screen screen;
    // Gone: no window with its id, none of its process.
    screen.fake->content.windows = {
        ShareableWindow{99, editorPID + 1, QStringLiteral("Résumé draft"), QRectF(100, 50, 600, 400)}};
    EXPECT_EQ(screen.failure(CaptureTarget::window(editorWindow(QRectF(100, 50, 600, 400)))),
              CaptureWorkflowError::Case::windowNotShareable);
    try {
        screen.capture(CaptureTarget::window(editorWindow(QRectF(100, 50, 600, 400))));
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.applicationName(), QStringLiteral("Editor"));
    }

    // A region capture with no display at all.
    screen.fake->content.windows = {ShareableWindow{11, editorPID, std::nullopt, QRectF(100, 50, 600, 400)}};
    screen.fake->content.displays.clear();
    EXPECT_EQ(screen.failure(CaptureTarget::window(editorWindow(QRectF(100, 10, 600, 440)))),
              CaptureWorkflowError::Case::noShareableDisplayFound);

    // The facility gives no pixels.
    Screen blank;
    blank.fake->content.windows = {ShareableWindow{11, editorPID, std::nullopt, QRectF(100, 50, 600, 400)}};
    blank.fake->imageOverride = [](const CaptureConfiguration&) { return QImage(); };
    EXPECT_EQ(blank.failure(CaptureTarget::window(editorWindow(QRectF(100, 50, 600, 400)))),
              CaptureWorkflowError::Case::emptyCaptureImage);
}

TEST(WindowCaptureService, FacilityFailuresPassThroughUnchanged) {
    Screen screen;
    screen.fake->failContent = [] { throw ScreenCaptureFailure("no display"); };
    EXPECT_THROW(screen.capture(CaptureTarget::display()), ScreenCaptureFailure);

    Screen grabbing;
    grabbing.fake->failCapture = [] { throw ScreenCaptureFailure("grab refused"); };
    try {
        grabbing.capture(CaptureTarget::display());
        FAIL();
    } catch (const ScreenCaptureFailure& failure) {
        EXPECT_STREQ(failure.what(), "grab refused");
    }
}

// --- Whole display ---------------------------------------------------------------------------

TEST(DisplayCaptureService, PrefersThePointersDisplayThenThePrimaryThenTheFirst) {
    ShareableContent content;
    content.displays = {ShareableDisplay{7, QRectF(-1024, 0, 1024, 768)}, ShareableDisplay{1, QRectF(0, 0, 1280, 800)},
                        ShareableDisplay{2, QRectF(1280, 0, 1024, 768)}};
    content.mainDisplayID = 1;
    content.pointerLocation = QPointF(1280, 10);  // left edge of display 2
    EXPECT_EQ(ScreenCaptureService::resolveDisplay(content)->displayID, 2u);
    content.pointerLocation = QPointF(1279.5, 799.5);
    EXPECT_EQ(ScreenCaptureService::resolveDisplay(content)->displayID, 1u);
    content.pointerLocation = QPointF(500, 800);  // below every display
    EXPECT_EQ(ScreenCaptureService::resolveDisplay(content)->displayID, 1u);
    content.pointerLocation.reset();
    content.mainDisplayID = 42;  // unknown primary
    EXPECT_EQ(ScreenCaptureService::resolveDisplay(content)->displayID, 7u);
    content.displays.clear();
    EXPECT_FALSE(ScreenCaptureService::resolveDisplay(content));
}

TEST(DisplayCaptureService, CarriesScreenLabelsAndTheContentRectangle) {
    Screen screen;
    screen.fake->content.pointerLocation = QPointF(1500, 300);
    const auto capture = screen.capture(CaptureTarget::display());
    EXPECT_EQ(capture.appName, QStringLiteral("Screen"));
    EXPECT_EQ(capture.windowTitle, QStringLiteral("Full Screen"));
    EXPECT_EQ(capture.windowBounds, QRectF(1280, 100, 1024, 768));
    EXPECT_EQ(capture.ownerPID, std::nullopt);
    EXPECT_EQ(capture.image.size(), QSize(1024, 768));

    screen.fake->content.displays.clear();
    EXPECT_EQ(screen.failure(CaptureTarget::display()), CaptureWorkflowError::Case::noShareableDisplayFound);
}

TEST(DisplayCaptureService, RegionDisplayIsTheLargestShareWithTheFirstWinningTies) {
    const std::vector<ShareableDisplay> displays = {ShareableDisplay{1, QRectF(0, 0, 1280, 800)},
                                                    ShareableDisplay{2, QRectF(1280, 0, 1280, 800)}};
    EXPECT_EQ(ScreenCaptureService::resolveDisplay(QRectF(1180, 10, 300, 100), displays)->displayID, 2u);
    EXPECT_EQ(ScreenCaptureService::resolveDisplay(QRectF(1130, 10, 300, 100), displays)->displayID, 1u);
    EXPECT_EQ(ScreenCaptureService::resolveDisplay(QRectF(1130, 10, 300, 100), {displays[1], displays[0]})->displayID,
              2u);
    EXPECT_EQ(ScreenCaptureService::resolveDisplay(QRectF(5000, 5000, 10, 10), displays)->displayID, 1u);
}

}  // namespace
}  // namespace tavrolin
