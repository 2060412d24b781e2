#pragma once

#include <QDateTime>
#include <QElapsedTimer>
#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace tavrolin {

class Clock;

// The animated glow around a translated window: thirty bands of the brand purple that fade
// inward from the edge, with a ripple of brightness running across them. It repaints only its
// border band, about 24 times a second, while its window is shown.
class TranslationFrameView final : public QWidget {
    Q_OBJECT

public:
    static constexpr double outerInset = 0;
    static constexpr double featherWidth = 43.2;
    static constexpr double cornerRadius = 24;
    static constexpr int bandCount = 30;
    static constexpr double waveAmplitude = 0.48;
    static constexpr double waveFrequencyHz = 0.42;
    static constexpr double waveSpanRadians = 1.9 * 3.14159265358979323846;
    static constexpr int tickIntervalMs = 41;

    // seconds: the animation time; by default the seconds since construction.
    explicit TranslationFrameView(QWidget* parent = nullptr, std::function<double()> seconds = {});

    // The opacity of band `index` (0 at the edge) at the wave phase, within [0, 1].
    static double bandAlpha(int index, double phase);
    // The ring that band `index` fills (even-odd), inside bounds.
    static QPainterPath bandRing(const QRectF& bounds, int index);
    // Whether bounds are large enough to carry the frame.
    static bool drawsFrame(const QSizeF& size);

    bool isAnimating() const { return ticker_.isActive(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void followWindow();
    void updateTicking();
    void tick();

    std::function<double()> seconds_;
    QElapsedTimer started_;
    QTimer ticker_;
    QPointer<QWidget> watchedWindow_;
};

// The content of the overlay panel: either the loading card (spinner, status line, optional
// server hint, the application's name) or the translated picture of the covered window with
// the language badge, the glowing frame and the watermark. Key presses and clicks on it ask for
// a dismissal once its minimum display time has passed.
//
// Without a compositor a top-level window cannot be see-through, so everything is painted
// opaque; while loading, the window is cut to the card's rounded shape instead.
class ScreenshotOverlayView final : public QWidget {
    Q_OBJECT

public:
    static constexpr int standardLoaderHeight = 154;
    static constexpr int serverLoaderHeight = 178;
    static constexpr int minimumLoaderWidth = 240;
    static inline const QString badgeToolTip = QStringLiteral("Change translation languages for this screenshot");
    static inline const QString serverHintText = QStringLiteral("Server request - may take longer");
    static inline const QString brandText = QStringLiteral("Tavrolin");

    ScreenshotOverlayView(QSize size, std::shared_ptr<Clock> clock, QWidget* parent = nullptr);
    ~ScreenshotOverlayView() override;

    std::function<void()> onDismiss;
    // Called with the badge as the anchor.
    std::function<void(QWidget* anchor)> onTranslationBadgePressed;

    double minimumDisplayDuration() const { return minimumDisplayDuration_; }
    // NaN and negatives count as 0, anything above a minute as a minute.
    void setMinimumDisplayDuration(double seconds);
    QDateTime appearDate() const { return appearDate_; }

    void showLoading(const QString& message, bool usesServer);
    void showImage(const QImage& image, QSize size, const QString& translationDisplayName,
                   bool isTranslationSelectable);
    void configureLoadingStyle(bool usesServer);

    // What is shown, for the panel and for tests.
    bool isShowingLoader() const { return showingLoader_; }
    bool isShowingServerHint() const { return usesServer_; }
    QString statusText() const { return statusText_; }
    int loaderHeight() const { return usesServer_ ? serverLoaderHeight : standardLoaderHeight; }
    // The card, centred in the view.
    QRect loaderRect() const;
    QWidget* badge() const;
    QString badgeText() const;
    bool isBadgeSelectable() const;
    TranslationFrameView* frameView() const { return frame_; }
    bool isSpinning() const { return spinner_.isActive(); }

    void didPressTranslationBadge();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    class Badge;

    void dismissalCheck();
    void updateWindowMask();
    void layoutBadge();
    void paintLoader(QPainter& painter) const;
    void paintWatermark(QPainter& painter) const;

    std::shared_ptr<Clock> clock_;
    double minimumDisplayDuration_ = 1.5;
    QDateTime appearDate_;
    QImage image_;
    bool showingLoader_ = false;
    bool showingImage_ = false;
    bool usesServer_ = false;
    QString statusText_;
    TranslationFrameView* frame_ = nullptr;
    Badge* badge_ = nullptr;
    QTimer spinner_;
    int spinnerStep_ = 0;
};

}  // namespace tavrolin
