#pragma once

#include "platform/screen_capturing.h"

#include <QColor>
#include <QImage>

#include <functional>
#include <mutex>
#include <vector>

namespace tavrolin::test {

// A capture facility over a described screen. Its images encode where each pixel came from:
// pixel (x, y) of a capture has red = x % 256, green = y % 256 and blue = x / 256 + 16 * (y / 256)
// of the configured image, so a test can tell which region a crop took.
class FakeScreenCapture final : public ScreenCapturing {
public:
    ShareableContent content;
    double pointPixelScale = 1;
    // When set, thrown by shareableContent() or captureImage().
    std::function<void()> failContent;
    std::function<void()> failCapture;
    // When set, replaces the pattern image (e.g. a null image).
    std::function<QImage(const CaptureConfiguration&)> imageOverride;

    ShareableContent shareableContent() override {
        if (failContent) {
            failContent();
        }
        return content;
    }

    CaptureContentInfo contentInfo(const CaptureContentFilter& filter) override {
        if (const auto* window = std::get_if<WindowCaptureFilter>(&filter)) {
            return CaptureContentInfo{window->window.frame, pointPixelScale};
        }
        return CaptureContentInfo{std::get<DisplayCaptureFilter>(filter).display.frame, pointPixelScale};
    }

    QImage captureImage(const CaptureContentFilter& filter, const CaptureConfiguration& configuration) override {
        {
            std::lock_guard lock(mutex_);
            captures_.push_back({filter, configuration});
        }
        if (failCapture) {
            failCapture();
        }
        if (imageOverride) {
            return imageOverride(configuration);
        }
        return patternImage(configuration.width, configuration.height);
    }

    struct Capture {
        CaptureContentFilter filter;
        CaptureConfiguration configuration;
    };
    std::vector<Capture> captures() const {
        std::lock_guard lock(mutex_);
        return captures_;
    }

    static QRgb patternPixel(int x, int y) { return qRgb(x % 256, y % 256, x / 256 + 16 * (y / 256)); }

    static QImage patternImage(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y) {
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                line[x] = patternPixel(x, y);
            }
        }
        return image;
    }

private:
    mutable std::mutex mutex_;
    std::vector<Capture> captures_;
};

}  // namespace tavrolin::test
