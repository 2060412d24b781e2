#include "window_translation/active_window_detector.h"

#include "core/capture_workflow_error.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_window_list.h"
#include "window_translation/capture_target_resolver.h"
#include "window_translation/rect_geometry.h"

#include <functional>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

using test::listedWindow;

constexpr std::int32_t frontPID = 4242;
constexpr std::int32_t ownPID = 777;

struct Desktop {
    std::shared_ptr<test::FakeFrontApplicationProvider> front = std::make_shared<test::FakeFrontApplicationProvider>();
    std::shared_ptr<test::FakeWindowList> list = std::make_shared<test::FakeWindowList>();
    ActiveWindowDetector detector{front, list, ownPID};

    Desktop() { front->setIdentifier(QStringLiteral("Editor"), frontPID); }
};

CaptureWorkflowError::Case errorCaseOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const CaptureWorkflowError& error) {
        return error.errorCase();
    }
    ADD_FAILURE() << "no CaptureWorkflowError thrown";
    return CaptureWorkflowError::Case::captureAlreadyInProgress;
}

// --- Which windows may stand for the front application -------------------------------------

struct CandidateCase {
    const char* name;
    std::function<void(WindowListEntry&)> change;
    bool candidate;
};

TEST(ActiveWindowCandidates, FollowTheOwnerVisibilityAlphaAndLayerRules) {
    const CandidateCase cases[] = {
        {"complete window", [](WindowListEntry&) {}, true},
        {"other process", [](WindowListEntry& w) { w.ownerPID = frontPID + 1; }, false},
        {"no owner", [](WindowListEntry& w) { w.ownerPID.reset(); }, false},
        {"flagged off screen", [](WindowListEntry& w) { w.isOnscreen = false; }, false},
        {"on-screen flag missing", [](WindowListEntry& w) { w.isOnscreen.reset(); }, true},
        {"alpha 0", [](WindowListEntry& w) { w.alpha = 0.0; }, false},
        {"negative alpha", [](WindowListEntry& w) { w.alpha = -0.5; }, false},
        {"faint alpha", [](WindowListEntry& w) { w.alpha = 0.01; }, true},
        {"alpha missing", [](WindowListEntry& w) { w.alpha.reset(); }, true},
        {"dock layer", [](WindowListEntry& w) { w.layer = 20; }, false},
        {"below-normal layer", [](WindowListEntry& w) { w.layer = -1; }, false},
        {"layer missing", [](WindowListEntry& w) { w.layer.reset(); }, true},
    };
    for (const auto& c : cases) {
        WindowListEntry window = listedWindow(1, frontPID, QRectF(0, 0, 400, 300));
        c.change(window);
        EXPECT_EQ(ActiveWindowDetector::matchesFrontmostApplication(frontPID, window), c.candidate) << c.name;
    }
}

TEST(ActiveWindowCandidates, SnapshotsNeedIdOwnerNameAndBoundsLargerThanOnePoint) {
    const CandidateCase cases[] = {
        {"complete window", [](WindowListEntry&) {}, true},
        {"no window number", [](WindowListEntry& w) { w.windowNumber.reset(); }, false},
        {"no owner", [](WindowListEntry& w) { w.ownerPID.reset(); }, false},
        {"no owner name", [](WindowListEntry& w) { w.ownerName.reset(); }, false},
        {"no bounds", [](WindowListEntry& w) { w.bounds.reset(); }, false},
        {"one point wide", [](WindowListEntry& w) { w.bounds = QRectF(0, 0, 1, 400); }, false},
        {"one point high", [](WindowListEntry& w) { w.bounds = QRectF(0, 0, 400, 1); }, false},
        {"zero size", [](WindowListEntry& w) { w.bounds = QRectF(30, 40, 0, 0); }, false},
        {"just over one point", [](WindowListEntry& w) { w.bounds = QRectF(0, 0, 1.5, 1.5); }, true},
        {"negative position", [](WindowListEntry& w) { w.bounds = QRectF(-500, -20, 300, 200); }, true},
        {"no title", [](WindowListEntry& w) { w.name.reset(); }, true},
    };
    for (const auto& c : cases) {
        WindowListEntry window = listedWindow(9, frontPID, QRectF(10, 20, 400, 300));
        c.change(window);
        EXPECT_EQ(ActiveWindowDetector::makeSnapshot(window).has_value(), c.candidate) << c.name;
    }
    WindowListEntry untitled = listedWindow(9, frontPID, QRectF(10, 20, 400, 300));
    untitled.name.reset();
    EXPECT_EQ(ActiveWindowDetector::makeSnapshot(untitled)->title, std::nullopt);
}

// --- Main window ------------------------------------------------------------------------------

TEST(ActiveWindowMainWindow, LargestAreaWinsAndTheFrontMostWinsTies) {
    Desktop desktop;
    desktop.list->windows = {
        listedWindow(1, frontPID, QRectF(0, 0, 200, 100), "small"),
        listedWindow(2, frontPID, QRectF(500, 400, 100, 300), "tall"),  // 30000
        listedWindow(3, frontPID, QRectF(0, 500, 300, 100), "wide"),    // 30000 as well
    };
    const auto snapshot = desktop.detector.detectActiveWindow();
    EXPECT_EQ(snapshot.windowID, 2u);
    EXPECT_EQ(snapshot.title, QStringLiteral("tall"));
    EXPECT_EQ(snapshot.bounds, QRectF(500, 400, 100, 300));
    EXPECT_EQ(desktop.list->reads, 1);
}

TEST(ActiveWindowMainWindow, RejectedWindowsNeverWinEvenWhenLargest) {
    Desktop desktop;
    auto transparent = listedWindow(1, frontPID, QRectF(0, 0, 1000, 700));
    transparent.alpha = 0.0;
    auto panel = listedWindow(2, frontPID, QRectF(0, 0, 1000, 700));
    panel.layer = 25;
    auto hidden = listedWindow(3, frontPID, QRectF(0, 0, 1000, 700));
    hidden.isOnscreen = false;
    auto sliver = listedWindow(4, frontPID, QRectF(0, 0, 1, 700));
    auto foreign = listedWindow(5, frontPID + 1, QRectF(0, 0, 1000, 700));
    desktop.list->windows = {transparent, panel,   hidden,
                             sliver,      foreign, listedWindow(6, frontPID, QRectF(50, 60, 300, 200))};
    const auto snapshot = desktop.detector.detectActiveWindow();
    EXPECT_EQ(snapshot.windowID, 6u);
    EXPECT_EQ(snapshot.bounds, QRectF(50, 60, 300, 200));
}

// --- Union of related windows --------------------------------------------------------------

struct UnionCase {
    const char* name;
    QRectF other;
    bool joins;
};

TEST(ActiveWindowUnion, AToolbarJoinsOnlyWhenCloseAboveOrBelowAndOverlappingEnough) {
    const QRectF main(100, 200, 800, 500);  // x 100..900, y 200..700
    const UnionCase cases[] = {
        {"toolbar 6 above, 70% as wide, inside", QRectF(150, 154, 560, 40), true},
        {"toolbar 9 above", QRectF(150, 151, 560, 40), false},
        {"toolbar exactly 8 above", QRectF(150, 152, 560, 40), true},
        {"touching from above", QRectF(150, 160, 560, 40), true},
        {"6 below", QRectF(150, 706, 560, 40), true},
        {"9 below", QRectF(150, 709, 560, 40), false},
        {"overlapping the bottom edge", QRectF(150, 690, 560, 40), true},
        {"half its width overlaps", QRectF(600, 154, 600, 40), false},
        {"60% of its width overlaps", QRectF(540, 154, 600, 40), true},
        {"beside it, not above", QRectF(904, 200, 100, 500), false},
    };
    for (const auto& c : cases) {
        const std::vector<ActiveWindowSnapshot> candidates = {
            ActiveWindowSnapshot{1, frontPID, "Editor", std::nullopt, main},
            ActiveWindowSnapshot{2, frontPID, "Editor", std::nullopt, c.other},
        };
        const QRectF result = ActiveWindowDetector::unionOfRelatedWindowBounds(main, candidates);
        EXPECT_EQ(result, c.joins ? geometry::united(main, c.other) : main) << c.name;
    }
}

TEST(ActiveWindowUnion, AWindowRelatedOnlyToTheGrownUnionJoinsInTheSameOrNextPass) {
    const QRectF main(100, 200, 800, 500);
    const QRectF toolbar(100, 160, 800, 36);  // 4 above the main window
    const QRectF ruler(100, 120, 800, 34);    // 6 above the toolbar, 46 above the main window
    const QRectF expected(100, 120, 800, 580);
    const ActiveWindowSnapshot mainWindow{1, frontPID, "Editor", std::nullopt, main};
    const ActiveWindowSnapshot toolbarWindow{2, frontPID, "Editor", std::nullopt, toolbar};
    const ActiveWindowSnapshot rulerWindow{3, frontPID, "Editor", std::nullopt, ruler};

    // After the toolbar in the list: joins in the same pass.
    EXPECT_EQ(ActiveWindowDetector::unionOfRelatedWindowBounds(main, {mainWindow, toolbarWindow, rulerWindow}),
              expected);
    // Before it: joins in the following pass.
    EXPECT_EQ(ActiveWindowDetector::unionOfRelatedWindowBounds(main, {rulerWindow, mainWindow, toolbarWindow}),
              expected);
    // Without the toolbar the ruler is too far away.
    EXPECT_EQ(ActiveWindowDetector::unionOfRelatedWindowBounds(main, {rulerWindow, mainWindow}), main);
}

TEST(ActiveWindowUnion, TheUnionIsUsedOnlyWhenMoreThanThreePercentLarger) {
    const QRectF main(0, 100, 1000, 500);  // area 500000
    // 15 rows of 1000 = exactly 3%: not enough.
    EXPECT_EQ(ActiveWindowDetector::resultBounds(main, QRectF(0, 85, 1000, 515)), main);
    // 16 rows: 3.2%.
    EXPECT_EQ(ActiveWindowDetector::resultBounds(main, QRectF(0, 84, 1000, 516)), QRectF(0, 84, 1000, 516));
}

TEST(ActiveWindowDetection, ReportsTheMainWindowIdentityWithTheUnionBounds) {
    Desktop desktop;
    desktop.list->windows = {
        listedWindow(7, frontPID, QRectF(150, 154, 560, 40), "Tools"),  // toolbar 6 above, in front
        listedWindow(8, frontPID, QRectF(100, 200, 800, 500), "Report.txt"),
        listedWindow(9, frontPID + 5, QRectF(100, 150, 800, 48), "Someone else"),
    };
    const auto snapshot = desktop.detector.detectActiveWindow();
    EXPECT_EQ(snapshot,
              (ActiveWindowSnapshot{8, frontPID, "Editor", QStringLiteral("Report.txt"), QRectF(100, 154, 800, 546)}));
}

TEST(ActiveWindowDetection, AToolbarNineAboveLeavesTheMainWindowBounds) {
    Desktop desktop;
    desktop.list->windows = {
        listedWindow(7, frontPID, QRectF(150, 151, 560, 40), "Tools"),
        listedWindow(8, frontPID, QRectF(100, 200, 800, 500), "Report.txt"),
    };
    EXPECT_EQ(desktop.detector.detectActiveWindow().bounds, QRectF(100, 200, 800, 500));
}

// --- Failures and the capture target ----------------------------------------------------------

TEST(ActiveWindowDetection, FailuresNameTheApplicationOrTheCurrentApp) {
    Desktop desktop;
    desktop.list->windows = {listedWindow(1, frontPID + 1, QRectF(0, 0, 500, 500))};
    try {
        desktop.detector.detectActiveWindow();
        FAIL();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error, CaptureWorkflowError::noActiveWindowFound("Editor"));
    }

    for (const auto& nameless : {std::optional<QString>(), std::optional<QString>(QString())}) {
        desktop.front->set(FrontApplication{frontPID, nameless});
        try {
            desktop.detector.detectActiveWindow();
            FAIL();
        } catch (const CaptureWorkflowError& error) {
            EXPECT_EQ(error, CaptureWorkflowError::noActiveWindowFound("the current app"));
        }
    }

    desktop.front->set(std::nullopt);
    EXPECT_EQ(errorCaseOf([&] { desktop.detector.detectActiveWindow(); }),
              CaptureWorkflowError::Case::noFrontmostApplication);
    // A front window that names no process.
    desktop.front->set(FrontApplication{0, QStringLiteral("Editor")});
    EXPECT_EQ(errorCaseOf([&] { desktop.detector.detectActiveWindow(); }),
              CaptureWorkflowError::Case::noFrontmostApplication);

    desktop.front->setIdentifier(QStringLiteral("Tavrolin"), ownPID);
    desktop.list->windows = {listedWindow(1, ownPID, QRectF(0, 0, 500, 500))};
    EXPECT_EQ(errorCaseOf([&] { desktop.detector.detectActiveWindow(); }), CaptureWorkflowError::Case::appIsFrontmost);
    EXPECT_EQ(desktop.list->reads, 3) << "our own application in front needs no window list";
}

class ThrowingDetector final : public ActiveWindowDetecting {
public:
    explicit ThrowingDetector(CaptureWorkflowError error) : error_(std::move(error)) {}
    ActiveWindowSnapshot detectActiveWindow() override { throw error_; }

private:
    CaptureWorkflowError error_;
};

TEST(CaptureTargetResolution, NoUsableFrontWindowMeansTheDisplayOtherErrorsPassThrough) {
    using Case = CaptureWorkflowError::Case;
    for (const auto& error :
         {CaptureWorkflowError::noActiveWindowFound("Editor"), CaptureWorkflowError(Case::noFrontmostApplication),
          CaptureWorkflowError(Case::appIsFrontmost)}) {
        const CaptureTargetResolver resolver(std::make_shared<ThrowingDetector>(error));
        EXPECT_EQ(resolver.resolve(), CaptureTarget::display());
    }
    const CaptureTargetResolver resolver(
        std::make_shared<ThrowingDetector>(CaptureWorkflowError::windowNotShareable("Editor")));
    EXPECT_EQ(errorCaseOf([&] { resolver.resolve(); }), Case::windowNotShareable);

    Desktop desktop;
    desktop.list->windows = {listedWindow(3, frontPID, QRectF(10, 20, 640, 480))};
    const CaptureTargetResolver windowResolver(
        std::make_shared<ActiveWindowDetector>(desktop.front, desktop.list, ownPID));
    const CaptureTarget target = windowResolver.resolve();
    ASSERT_NE(target.windowSnapshot(), nullptr);
    EXPECT_EQ(target.windowSnapshot()->windowID, 3u);
}

}  // namespace
}  // namespace tavrolin
