#include "window_translation/screen_capture_service.h"

#include "core/capture_workflow_error.h"
#include "window_translation/rect_geometry.h"

#include <QCoroFuture>
#include <QtConcurrent/QtConcurrentRun>

#include <cmath>
#include <exception>
#include <utility>

namespace tavrolin {

namespace {

// Case- and accent-free form of a title: trimmed, decomposed, marks dropped, case folded.
QString foldedTitle(const std::optional<QString>& title) {
    const QString decomposed = title.value_or(QString()).trimmed().normalized(QString::NormalizationForm_D);
    QString folded;
    folded.reserve(decomposed.size());
    for (const QChar ch : decomposed) {
        const auto category = ch.category();
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
            category == QChar::Mark_Enclosing) {
            continue;
        }
        folded.append(ch);
    }
    return folded.toCaseFolded();
}

// The result of work done on the thread pool, or what it threw.
struct PooledImage {
    QImage image;
    std::exception_ptr error;
};

}  // namespace

ScreenCaptureService::ScreenCaptureService(std::shared_ptr<ScreenCapturing> capturing)
    : capturing_(std::move(capturing)) {}

QCoro::Task<WindowCapture> ScreenCaptureService::capture(CaptureTarget target) const {
    ShareableContent content = capturing_->shareableContent();
    if (const ActiveWindowSnapshot* snapshot = target.windowSnapshot()) {
        co_return co_await captureWindow(*snapshot, std::move(content));
    }
    co_return co_await captureDisplay(std::move(content));
}

QCoro::Task<WindowCapture> ScreenCaptureService::captureWindow(ActiveWindowSnapshot snapshot,
                                                               ShareableContent content) const {
    const auto window = resolveShareableWindow(snapshot, content.windows);
    if (!window) {
        throw CaptureWorkflowError::windowNotShareable(snapshot.ownerName);
    }
    const CaptureContentFilter filter = WindowCaptureFilter{*window};
    const CaptureContentInfo info = capturing_->contentInfo(filter);
    if (!framesMatch(info.contentRect, snapshot.bounds)) {
        // The detected bounds cover more than this window (a toolbar joined it): take the
        // region of the display instead.
        co_return co_await captureDisplayRegion(std::move(snapshot), std::move(content));
    }
    QImage image = co_await captureImage(filter, makeConfiguration(info, true));
    co_return WindowCapture{std::move(image), snapshot.ownerName, snapshot.title, snapshot.bounds, snapshot.ownerPID};
}

QCoro::Task<WindowCapture> ScreenCaptureService::captureDisplayRegion(ActiveWindowSnapshot snapshot,
                                                                      ShareableContent content) const {
    const auto display = resolveDisplay(snapshot.bounds, content.displays);
    if (!display) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::noShareableDisplayFound);
    }
    const CaptureContentFilter filter = DisplayCaptureFilter{*display};
    const CaptureContentInfo info = capturing_->contentInfo(filter);
    const QImage image = co_await captureImage(filter, makeConfiguration(info, false));
    const auto crop = cropRect(snapshot.bounds, info, image.size());
    if (!crop) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::emptyCaptureImage);
    }
    QImage cropped = image.copy(*crop);
    if (cropped.isNull()) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::emptyCaptureImage);
    }
    co_return WindowCapture{std::move(cropped), snapshot.ownerName, snapshot.title, snapshot.bounds, snapshot.ownerPID};
}

QCoro::Task<WindowCapture> ScreenCaptureService::captureDisplay(ShareableContent content) const {
    const auto display = resolveDisplay(content);
    if (!display) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::noShareableDisplayFound);
    }
    const CaptureContentFilter filter = DisplayCaptureFilter{*display};
    const CaptureContentInfo info = capturing_->contentInfo(filter);
    QImage image = co_await captureImage(filter, makeConfiguration(info, false));
    co_return WindowCapture{std::move(image), QStringLiteral("Screen"), QStringLiteral("Full Screen"), info.contentRect,
                            std::nullopt};
}

QCoro::Task<QImage> ScreenCaptureService::captureImage(CaptureContentFilter filter,
                                                       CaptureConfiguration configuration) const {
    // The future is made in its own statement: g++ 12 destroys a lambda's captures twice when
    // the lambda is a temporary of a co_await expression.
    auto capturing = capturing_;
    QFuture<PooledImage> future = QtConcurrent::run([capturing, filter, configuration] {
        PooledImage pooled;
        try {
            pooled.image = capturing->captureImage(filter, configuration);
        } catch (...) {
            pooled.error = std::current_exception();
        }
        return pooled;
    });
    PooledImage result = co_await future;
    if (result.error) {
        std::rethrow_exception(result.error);
    }
    if (result.image.isNull() || result.image.width() < 1 || result.image.height() < 1) {
        throw CaptureWorkflowError(CaptureWorkflowError::Case::emptyCaptureImage);
    }
    co_return std::move(result.image);
}

std::optional<ShareableWindow> ScreenCaptureService::resolveShareableWindow(
    const ActiveWindowSnapshot& snapshot, const std::vector<ShareableWindow>& windows) {
    for (const auto& window : windows) {
        if (window.windowID == snapshot.windowID) {
            return window;
        }
    }
    for (const auto& window : windows) {
        if (!window.owningApplicationPID || *window.owningApplicationPID != snapshot.ownerPID) {
            continue;
        }
        if (titlesMatch(window.title, snapshot.title) || framesMatch(window.frame, snapshot.bounds)) {
            return window;
        }
    }
    return std::nullopt;
}

bool ScreenCaptureService::titlesMatch(const std::optional<QString>& a, const std::optional<QString>& b) {
    return foldedTitle(a) == foldedTitle(b);
}

bool ScreenCaptureService::framesMatch(const QRectF& a, const QRectF& b) {
    return std::abs(a.x() - b.x()) <= frameTolerance && std::abs(a.y() - b.y()) <= frameTolerance &&
           std::abs(a.width() - b.width()) <= frameTolerance && std::abs(a.height() - b.height()) <= frameTolerance;
}

std::optional<ShareableDisplay> ScreenCaptureService::resolveDisplay(const QRectF& bounds,
                                                                     const std::vector<ShareableDisplay>& displays) {
    const ShareableDisplay* best = nullptr;
    double bestArea = 0;
    for (const auto& display : displays) {
        const double shared = geometry::intersectionArea(display.frame, bounds);
        if (!best || shared > bestArea) {
            best = &display;
            bestArea = shared;
        }
    }
    return best ? std::optional(*best) : std::nullopt;
}

std::optional<ShareableDisplay> ScreenCaptureService::resolveDisplay(const ShareableContent& content) {
    if (content.displays.empty()) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> preferredID;
    if (content.pointerLocation) {
        for (const auto& display : content.displays) {
            if (geometry::contains(display.frame, *content.pointerLocation)) {
                preferredID = display.displayID;
                break;
            }
        }
    }
    if (!preferredID) {
        preferredID = content.mainDisplayID;
    }
    for (const auto& id : {preferredID, content.mainDisplayID}) {
        if (!id) {
            continue;
        }
        for (const auto& display : content.displays) {
            if (display.displayID == *id) {
                return display;
            }
        }
    }
    return content.displays.front();
}

CaptureConfiguration ScreenCaptureService::makeConfiguration(const CaptureContentInfo& info, bool singleWindow) {
    const double scale = std::max(info.pointPixelScale, 1.0);
    CaptureConfiguration configuration;
    configuration.width = std::max(static_cast<int>(std::ceil(info.contentRect.width() * scale)), 1);
    configuration.height = std::max(static_cast<int>(std::ceil(info.contentRect.height() * scale)), 1);
    configuration.queueDepth = 1;
    configuration.showsCursor = false;
    configuration.bestResolution = true;
    configuration.ignoreShadowsSingleWindow = singleWindow;
    configuration.ignoreGlobalClipSingleWindow = false;
    return configuration;
}

std::optional<QRect> ScreenCaptureService::cropRect(const QRectF& bounds, const CaptureContentInfo& info,
                                                    const QSize& imageSize) {
    const double scale = std::max(info.pointPixelScale, 1.0);
    const QRectF wanted(std::floor((bounds.left() - info.contentRect.left()) * scale),
                        std::floor((bounds.top() - info.contentRect.top()) * scale), std::ceil(bounds.width() * scale),
                        std::ceil(bounds.height() * scale));
    const auto inImage = geometry::intersection(wanted, QRectF(QPointF(0, 0), QSizeF(imageSize)));
    if (geometry::isEmpty(inImage)) {
        return std::nullopt;
    }
    const QRectF whole = geometry::integral(*inImage);
    return QRect(static_cast<int>(whole.left()), static_cast<int>(whole.top()), static_cast<int>(whole.width()),
                 static_cast<int>(whole.height()));
}

}  // namespace tavrolin
