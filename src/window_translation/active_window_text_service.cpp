#include "window_translation/active_window_text_service.h"

#include "core/capture_workflow_error.h"

#include <QApplication>
#include <QCoroFuture>
#include <QPainter>
#include <QWidget>
#include <QtConcurrent>

namespace tavrolin {

namespace {

struct Recognition {
    RecognizedTextResult result;
    std::exception_ptr error;
};

}  // namespace

ActiveWindowTextService::ActiveWindowTextService(CaptureTargetResolver captureTargetResolver,
                                                 std::shared_ptr<const ScreenCaptureService> screenCaptureService,
                                                 std::shared_ptr<const TextRecognizing> textRecognitionService,
                                                 std::shared_ptr<ScreenCapturePermission> permission,
                                                 OwnWindowRegion ownWindowRegion)
    : captureTargetResolver_(std::move(captureTargetResolver)),
      screenCaptureService_(std::move(screenCaptureService)),
      textRecognitionService_(std::move(textRecognitionService)),
      permission_(std::move(permission)),
      ownWindowRegion_(ownWindowRegion ? std::move(ownWindowRegion) : OwnWindowRegion(&visibleApplicationWindows)) {}

QCoro::Task<ActiveWindowTextSnapshot> ActiveWindowTextService::readActiveWindowText() {
    using Case = CaptureWorkflowError::Case;
    if (!permission_->preflight()) {
        if (!permission_->request()) {
            throw CaptureWorkflowError(Case::screenshotPermissionDenied);
        }
        if (!permission_->preflight()) {
            throw CaptureWorkflowError(Case::screenshotPermissionRequiresRestart);
        }
    }
    const CaptureTarget target = captureTargetResolver_.resolve();
    // The service is held by this frame while the grab runs on the pool.
    const auto capturing = screenCaptureService_;
    WindowCapture capture = co_await capturing->capture(target);

    // A grab of the screen shows whatever is on top, our loading card included.
    blankRegion(capture.image, capture.windowBounds, ownWindowRegion_());

    // Recognition takes a few hundred milliseconds: never on the GUI thread, which owns the
    // clipboard and draws the card. The future is made in its own statement (see the capture
    // service: g++ 12 and lambda temporaries in co_await).
    const auto recognizer = textRecognitionService_;
    const QImage image = capture.image;
    QFuture<Recognition> future = QtConcurrent::run([recognizer, image] {
        Recognition recognition;
        try {
            recognition.result = recognizer->recognizeText(image, AppLanguage::automatic, true);
        } catch (...) {
            recognition.error = std::current_exception();
        }
        return recognition;
    });
    Recognition recognition = co_await future;
    if (recognition.error) {
        std::rethrow_exception(recognition.error);
    }
    co_return ActiveWindowTextSnapshot{joinedText(recognition.result), capture.windowBounds, capture.ownerPID};
}

void ActiveWindowTextService::prepare() {
    textRecognitionService_->prepare(AppLanguage::automatic);
}

QString ActiveWindowTextService::joinedText(const RecognizedTextResult& result) {
    QStringList lines;
    lines.reserve(qsizetype(result.blocks.size()));
    for (const RecognizedTextBlock& block : result.blocks) {
        lines.append(block.text);
    }
    return lines.join(QLatin1Char('\n'));
}

void ActiveWindowTextService::blankRegion(QImage& image, const QRectF& imageBounds, const QRegion& region) {
    if (region.isEmpty() || image.isNull() || imageBounds.width() <= 0 || imageBounds.height() <= 0) {
        return;
    }
    const double scaleX = image.width() / imageBounds.width();
    const double scaleY = image.height() / imageBounds.height();
    // The rectangles below are in the image's own pixels: painted at ratio 1, or a painter on a
    // scaled capture would multiply them by its ratio once more.
    const qreal ratio = image.devicePixelRatio();
    image.setDevicePixelRatio(1);
    {
        QPainter painter(&image);
        for (const QRect& rect : region) {
            const QRectF pixels((rect.x() - imageBounds.x()) * scaleX, (rect.y() - imageBounds.y()) * scaleY,
                                rect.width() * scaleX, rect.height() * scaleY);
            const QRect covered = pixels.toAlignedRect().intersected(image.rect());
            if (!covered.isEmpty()) {
                painter.fillRect(covered, Qt::white);
            }
        }
    }
    image.setDevicePixelRatio(ratio);
}

QRegion ActiveWindowTextService::visibleApplicationWindows() {
    QRegion region;
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        return region;
    }
    for (const QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible()) {
            continue;
        }
        // A shaped window (the loading card) covers only its shape; the rest of its frame
        // shows the window below.
        const QRegion mask = window->mask();
        const QRect frame = window->frameGeometry();
        region += mask.isEmpty() ? QRegion(frame) : mask.translated(window->geometry().topLeft());
    }
    return region;
}

}  // namespace tavrolin
