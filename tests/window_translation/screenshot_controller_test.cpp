#include "window_translation/screenshot_controller.h"

#include "core/capture_workflow_error.h"
#include "support/async.h"
#include "support/fakes/fake_screen_capture.h"
#include "support/fakes/fake_screen_capture_permission.h"
#include "support/fakes/fixed_advance_text_measurer.h"
#include "support/fakes/recording_translation_clients.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <future>
#include <gtest/gtest.h>

namespace tavrolin {
namespace {

class FixedSettings final : public AppSettingsProviding {
public:
    AppSettings current;
    AppSettings settings() const override { return current; }
};

// Reads one English line from any image; recognition can be held until released, and every
// recognition is written to the event log.
class GatedRecognizer final : public TextRecognizing {
public:
    explicit GatedRecognizer(std::shared_ptr<test::EventLog> events) : events_(std::move(events)) {}
    std::atomic<bool> holding{false};
    std::atomic<bool> entered{false};
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();

    RecognizedTextResult recognizeText(const QImage&, AppLanguage, bool) const override {
        events_->add(QStringLiteral("recognize"));
        const_cast<GatedRecognizer*>(this)->entered = true;
        if (holding) {
            released.wait();
        }
        return RecognizedTextResult{
            {RecognizedTextBlock{QStringLiteral("Hello world friends"), QRectF(10, 10, 200, 20), {}}}, std::nullopt};
    }
    std::optional<DetectedSourceLanguage> detectSourceLanguage(const std::vector<RecognizedTextBlock>&, AppLanguage,
                                                               const std::set<AppLanguage>&) const override {
        return DetectedSourceLanguage{AppLanguage::english, QStringLiteral("English"), 0.9};
    }

private:
    std::shared_ptr<test::EventLog> events_;
};

struct ScreenshotControllerTest : ::testing::Test {
    std::shared_ptr<test::EventLog> events = std::make_shared<test::EventLog>();
    std::shared_ptr<test::FakeScreenCapture> screen = std::make_shared<test::FakeScreenCapture>();
    std::shared_ptr<test::FakeScreenCapturePermission> permission =
        std::make_shared<test::FakeScreenCapturePermission>();
    std::shared_ptr<FixedSettings> settings = std::make_shared<FixedSettings>();
    std::shared_ptr<GatedRecognizer> recognizer = std::make_shared<GatedRecognizer>(events);
    std::shared_ptr<test::RecordingDeviceTranslationClient> client =
        std::make_shared<test::RecordingDeviceTranslationClient>(events);
    std::unique_ptr<ScreenshotController> controller;

    ScreenshotControllerTest() {
        screen->content.displays = {ShareableDisplay{1, QRectF(0, 0, 640, 400)}};
        screen->content.mainDisplayID = 1;
        settings->current.targetLanguage = AppLanguage::spanish;
        client->setAvailability(AppLanguage::english, AppLanguage::spanish, TranslationPairAvailability::installed);
        ScreenshotTranslationService service;
        service.textRecognitionService = recognizer;
        service.textFilter = TranslationTextFilter{2, 5, 2};
        service.layoutEngine.measurer = std::make_shared<test::FixedAdvanceTextMeasurer>();
        service.translationClient = client;
        service.secondaryLanguage = AppLanguage::german;
        controller = std::make_unique<ScreenshotController>(
            CaptureTargetResolver(nullptr), ScreenCaptureService(screen), service, settings, permission);
    }

    // True once a capture started earlier has reached the (held) recognizer.
    bool waitForRecognition() {
        QElapsedTimer waited;
        waited.start();
        while (!recognizer->entered && waited.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return recognizer->entered;
    }

    CaptureResult capture(std::function<void(const WindowCapture&)> onCaptured = {}) {
        return test::await(controller->capture(CaptureTarget::display(), std::move(onCaptured)));
    }
};

TEST_F(ScreenshotControllerTest, CapturesThenTranslatesIntoTheNativeLanguageReadAtThatMoment) {
    settings->current.targetLanguage = AppLanguage::french;
    const CaptureResult result = capture([this](const WindowCapture& captured) {
        events->add(QStringLiteral("captured ") + captured.appName);
        // The settings change once the window is captured: the pair is read after this callback.
        settings->current.targetLanguage = AppLanguage::spanish;
    });
    EXPECT_EQ(events->events(), (QStringList{"captured Screen", "recognize", "availability en>es",
                                             "translate en>es [Hello world friends]"}));
    EXPECT_EQ(result.appName, QStringLiteral("Screen"));
    EXPECT_EQ(result.windowTitle, QStringLiteral("Full Screen"));
    EXPECT_EQ(result.windowBounds, QRectF(0, 0, 640, 400));
    EXPECT_FALSE(result.ownerPID);
    EXPECT_EQ(result.originalImage.size(), QSize(640, 400));
    EXPECT_NE(result.image, result.originalImage);
    EXPECT_EQ(result.translationState.displayName(), QStringLiteral("English -> Spanish"));
    EXPECT_FALSE(controller->isCaptureInProgress());
}

TEST_F(ScreenshotControllerTest, ASecondCaptureIsRefusedWhileTheFirstTranslates) {
    recognizer->holding = true;
    auto first = controller->capture(CaptureTarget::display());
    ASSERT_TRUE(waitForRecognition());
    EXPECT_TRUE(controller->isCaptureInProgress());
    try {
        capture();
        FAIL() << "a second capture must be refused";
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::captureAlreadyInProgress);
    }
    // The refusal leaves the running capture's flag alone.
    EXPECT_TRUE(controller->isCaptureInProgress());
    recognizer->release.set_value();
    const CaptureResult result = test::await(std::move(first));
    EXPECT_TRUE(result.translationState.appliedTranslation);
    EXPECT_FALSE(controller->isCaptureInProgress());
    EXPECT_EQ(screen->captures().size(), 1U);
}

TEST_F(ScreenshotControllerTest, ACaptureRunningWhenItsControllerIsDestroyedEndsOnItsOwn) {
    recognizer->holding = true;
    auto running = controller->capture(CaptureTarget::display());
    ASSERT_TRUE(waitForRecognition());
    controller.reset();  // the program quits while the recognizer works
    recognizer->release.set_value();
    const CaptureResult result = test::await(std::move(running));
    EXPECT_TRUE(result.translationState.appliedTranslation);
}

TEST_F(ScreenshotControllerTest, PermissionRefusedOrNotYetEffective) {
    permission->granted = false;
    permission->grantsOnRequest = false;
    try {
        capture();
        FAIL();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::screenshotPermissionDenied);
    }
    EXPECT_TRUE(screen->captures().empty());
    EXPECT_FALSE(controller->isCaptureInProgress());

    permission->grantsOnRequest = true;
    permission->grantTakesEffect = false;
    try {
        capture();
        FAIL();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::screenshotPermissionRequiresRestart);
    }
    EXPECT_EQ(permission->preflightCount, 3) << "refused: one check; granted: checked again";
    EXPECT_TRUE(screen->captures().empty());
    EXPECT_FALSE(controller->isCaptureInProgress());

    // Granted at the request and effective at once: the capture goes ahead.
    permission->grantTakesEffect = true;
    EXPECT_NO_THROW(capture());
    EXPECT_EQ(screen->captures().size(), 1U);
}

TEST_F(ScreenshotControllerTest, CaptureAndTranslationFailuresPassThroughAndClearTheFlag) {
    screen->failCapture = [] { throw ScreenCaptureFailure("grab refused"); };
    EXPECT_THROW(capture(), ScreenCaptureFailure);
    EXPECT_FALSE(controller->isCaptureInProgress());

    screen->failCapture = nullptr;
    client->failTranslationsFrom(
        AppLanguage::english,
        std::make_exception_ptr(CaptureWorkflowError(CaptureWorkflowError::Case::textTranslationRequestFailed)));
    bool sawCapture = false;
    try {
        capture([&sawCapture](const WindowCapture&) { sawCapture = true; });
        FAIL();
    } catch (const CaptureWorkflowError& error) {
        EXPECT_EQ(error.errorCase(), CaptureWorkflowError::Case::textTranslationRequestFailed);
    }
    // The callback saw the capture although the translation then failed.
    EXPECT_TRUE(sawCapture);
    EXPECT_FALSE(controller->isCaptureInProgress());
}

TEST_F(ScreenshotControllerTest, TheServicesSecondLanguageCanBeChangedForTheNextCapture) {
    controller->screenshotTranslationService().secondaryLanguage = AppLanguage::french;
    EXPECT_EQ(controller->screenshotTranslationService().secondaryLanguage, AppLanguage::french);
    EXPECT_EQ(controller->captureTargetResolver().activeWindowDetector(), nullptr);
}

}  // namespace
}  // namespace tavrolin
