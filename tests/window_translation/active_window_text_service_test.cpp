#include "window_translation/active_window_text_service.h"

#include "core/capture_workflow_error.h"
#include "support/async.h"
#include "support/fakes/fake_front_application_provider.h"
#include "support/fakes/fake_screen_capture.h"
#include "support/fakes/fake_screen_capture_permission.h"
#include "support/fakes/fake_window_list.h"
#include "support/qt_printers.h"
#include "window_translation/active_window_detector.h"

#include <QCoreApplication>
#include <QThread>
#include <QWidget>

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>

namespace tavrolin {
namespace {

using Case = CaptureWorkflowError::Case;
using test::FakeScreenCapture;

constexpr std::int32_t editorPID = 4242;
constexpr std::int32_t ownPID = 77;

// Answers the scripted lines and keeps the image it was given and where it ran.
class ScriptedRecognizer final : public TextRecognizing {
public:
    std::vector<QString> lines;
    mutable std::mutex mutex;
    mutable QImage seen;
    mutable bool ranOnGuiThread = true;
    mutable std::optional<AppLanguage> source;
    mutable bool detected = false;

    RecognizedTextResult recognizeText(const QImage& image, AppLanguage sourceLanguage,
                                       bool shouldDetectSourceLanguage) const override {
        std::lock_guard lock(mutex);
        seen = image;
        ranOnGuiThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        source = sourceLanguage;
        detected = shouldDetectSourceLanguage;
        RecognizedTextResult result;
        for (const QString& line : lines) {
            result.blocks.push_back(RecognizedTextBlock{line, QRectF(0, 0, 10, 10), {AppLanguage::english}});
        }
        return result;
    }
    std::optional<DetectedSourceLanguage> detectSourceLanguage(const std::vector<RecognizedTextBlock>&, AppLanguage,
                                                               const std::set<AppLanguage>&) const override {
        return std::nullopt;
    }
};

struct Reader {
    std::shared_ptr<test::FakeFrontApplicationProvider> front = std::make_shared<test::FakeFrontApplicationProvider>();
    std::shared_ptr<test::FakeWindowList> windows = std::make_shared<test::FakeWindowList>();
    std::shared_ptr<FakeScreenCapture> screen = std::make_shared<FakeScreenCapture>();
    std::shared_ptr<ScriptedRecognizer> recognizer = std::make_shared<ScriptedRecognizer>();
    std::shared_ptr<test::FakeScreenCapturePermission> permission =
        std::make_shared<test::FakeScreenCapturePermission>();
    QRegion ownWindows;
    ActiveWindowTextService service{
        CaptureTargetResolver(std::make_shared<ActiveWindowDetector>(front, windows, ownPID)),
        std::make_shared<ScreenCaptureService>(screen), recognizer, permission, [this] { return ownWindows; }};

    Reader() {
        front->setIdentifier(QStringLiteral("gedit"), editorPID);
        const QRectF frame(50, 60, 700, 500);
        windows->windows = {test::listedWindow(11, editorPID, frame)};
        screen->content.windows = {ShareableWindow{11, editorPID, QStringLiteral("Document"), frame}};
        screen->content.displays = {ShareableDisplay{1, QRectF(0, 0, 1280, 800)}};
        screen->content.mainDisplayID = 1;
    }

    ActiveWindowTextSnapshot read() { return test::await(service.readActiveWindowText()); }
    std::optional<Case> failure() {
        try {
            read();
        } catch (const CaptureWorkflowError& error) {
            return error.errorCase();
        }
        return std::nullopt;
    }
};

TEST(ActiveWindowTextService, TheFrontWindowsLinesComeBackJoinedWithItsBoundsAndProcess) {
    Reader reader;
    reader.recognizer->lines = {QStringLiteral("Inbox"), QStringLiteral(" Reply to Anna "), QStringLiteral("Sent")};
    const ActiveWindowTextSnapshot snapshot = reader.read();
    EXPECT_EQ(snapshot.text, QStringLiteral("Inbox\n Reply to Anna \nSent")) << "nothing trimmed, no final line feed";
    EXPECT_EQ(snapshot.windowBounds, QRectF(50, 60, 700, 500));
    EXPECT_EQ(snapshot.ownerPID, editorPID);
    EXPECT_FALSE(reader.recognizer->ranOnGuiThread) << "recognition blocks for hundreds of milliseconds";
    EXPECT_EQ(reader.recognizer->source, AppLanguage::automatic);
    EXPECT_TRUE(reader.recognizer->detected);
    EXPECT_EQ(reader.recognizer->seen.size(), QSize(700, 500));

    // A window without recognisable text still names where it is.
    reader.recognizer->lines.clear();
    const ActiveWindowTextSnapshot empty = reader.read();
    EXPECT_EQ(empty.text, QString());
    EXPECT_EQ(empty.windowBounds, QRectF(50, 60, 700, 500));
}

TEST(ActiveWindowTextService, WithOurOwnApplicationInFrontTheDisplayIsReadWithoutAProcess) {
    Reader reader;
    reader.front->setIdentifier(QStringLiteral("tavrolin"), ownPID);
    reader.windows->windows.push_back(test::listedWindow(12, ownPID, QRectF(0, 0, 400, 300), "Settings", "Tavrolin"));
    reader.recognizer->lines = {QStringLiteral("Desktop")};
    const ActiveWindowTextSnapshot snapshot = reader.read();
    EXPECT_EQ(snapshot.windowBounds, QRectF(0, 0, 1280, 800));
    EXPECT_EQ(snapshot.ownerPID, std::nullopt);
    ASSERT_EQ(reader.screen->captures().size(), 1u);
    EXPECT_TRUE(std::holds_alternative<DisplayCaptureFilter>(reader.screen->captures()[0].filter));
}

TEST(ActiveWindowTextService, ScreenRecordingIsSettledBeforeAnythingIsCaptured) {
    Reader refused;
    refused.permission->granted = false;
    refused.permission->grantsOnRequest = false;
    EXPECT_EQ(refused.failure(), Case::screenshotPermissionDenied);
    EXPECT_EQ(refused.permission->requestCount, 1);

    Reader needsRestart;
    needsRestart.permission->granted = false;
    needsRestart.permission->grantTakesEffect = false;
    EXPECT_EQ(needsRestart.failure(), Case::screenshotPermissionRequiresRestart);

    for (Reader* reader : {&refused, &needsRestart}) {
        EXPECT_TRUE(reader->screen->captures().empty());
        EXPECT_EQ(reader->windows->reads, 0) << "not even the front window is looked up";
    }

    Reader granted;
    granted.permission->granted = false;
    EXPECT_EQ(granted.failure(), std::nullopt);
    EXPECT_EQ(granted.screen->captures().size(), 1u);
}

TEST(ActiveWindowTextService, OurOwnWindowsAreBlankedOutOfTheImageBeforeRecognition) {
    Reader reader;
    // The loading card, partly over the window, and a window of ours elsewhere on the screen.
    reader.ownWindows = QRegion(QRect(700, 500, 100, 100)) + QRegion(QRect(900, 0, 100, 100));
    reader.read();
    const QImage& seen = reader.recognizer->seen;
    const QRgb white = qRgb(255, 255, 255);
    EXPECT_EQ(seen.pixel(650, 440), white) << "the card's corner inside the window";
    EXPECT_EQ(seen.pixel(699, 499), white);
    EXPECT_EQ(seen.pixel(649, 440), FakeScreenCapture::patternPixel(649, 440)) << "the window's own pixels stay";
    EXPECT_EQ(seen.pixel(650, 439), FakeScreenCapture::patternPixel(650, 439));
    EXPECT_EQ(seen.pixel(0, 0), FakeScreenCapture::patternPixel(0, 0));
}

TEST(ActiveWindowTextService, BlankingFollowsTheImagesScale) {
    // An image of twice the pixels of its bounds (a scaled desktop), with and without the pixel
    // ratio that a capture of a 2x display carries.
    for (const qreal ratio : {1.0, 2.0}) {
        QImage image = FakeScreenCapture::patternImage(200, 100);
        image.setDevicePixelRatio(ratio);
        ActiveWindowTextService::blankRegion(image, QRectF(10, 10, 100, 50), QRegion(QRect(60, 10, 10, 10)));
        EXPECT_EQ(image.devicePixelRatio(), ratio);
        EXPECT_EQ(image.pixel(100, 0), qRgb(255, 255, 255)) << ratio;
        EXPECT_EQ(image.pixel(119, 19), qRgb(255, 255, 255)) << ratio;
        EXPECT_EQ(image.pixel(120, 0), FakeScreenCapture::patternPixel(120, 0)) << ratio;
        EXPECT_EQ(image.pixel(99, 0), FakeScreenCapture::patternPixel(99, 0)) << ratio;
        EXPECT_EQ(image.pixel(100, 20), FakeScreenCapture::patternPixel(100, 20)) << ratio;
        EXPECT_EQ(image.pixel(199, 99), FakeScreenCapture::patternPixel(199, 99)) << ratio;
    }
}

TEST(ActiveWindowTextService, AShapedWindowOfOursCoversOnlyItsShape) {
    QWidget card;
    card.setWindowFlags(Qt::FramelessWindowHint | Qt::Tool);
    card.setGeometry(10, 20, 200, 100);
    card.setMask(QRegion(QRect(30, 40, 50, 30)));
    QWidget hidden;
    hidden.setGeometry(300, 300, 50, 50);
    card.show();
    EXPECT_EQ(ActiveWindowTextService::visibleApplicationWindows(), QRegion(QRect(40, 60, 50, 30)));
    card.hide();
    EXPECT_TRUE(ActiveWindowTextService::visibleApplicationWindows().isEmpty());
}

}  // namespace
}  // namespace tavrolin
