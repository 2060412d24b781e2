#pragma once

#include "platform/overlay_window_hints.h"

#include <QDateTime>
#include <QFont>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

class Clock;

// What the result popup shows. An empty original text or language pair hides that part.
struct SelectionTranslationPopupContent {
    QString translatedText;
    QString originalText;
    QString languagePair;
    // Pixels.
    double width = 0;
    std::optional<double> maxHeight;
    // The texts scroll inside `maxHeight` instead of growing the popup.
    bool scrollsVertically = false;
};

// Text measuring for the popup's width.
struct SelectionTranslationPopupSizing {
    // The widest line of `text` in `font`; 0 for an empty text.
    static double measuredWidth(const QString& text, const QFont& font);
    // The popup's fonts, sized in pixels so the popup looks the same on every desktop scale.
    static QFont translatedFont();
    static QFont originalFont();
    static QFont languagePairFont();
    static QFont languagePairMeasuringFont();
};

// The popup's content: the language pair, the translation and, under a divider, the original,
// on an opaque rounded card with a brand strip along its top.
class SelectionTranslationPopupView final : public QWidget {
    Q_OBJECT

public:
    explicit SelectionTranslationPopupView(const SelectionTranslationPopupContent& content, QWidget* parent = nullptr);

    const SelectionTranslationPopupContent& content() const { return content_; }
    // The height the content takes at its width (`maxHeight` when it scrolls).
    int fittingHeight() const;
    bool showsOriginal() const { return !content_.originalText.isEmpty(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SelectionTranslationPopupContent content_;
    QWidget* stack_ = nullptr;
};

// The floating window of the popup: frameless, above other windows, never activated, outside
// the taskbar and on every desktop. An interactive panel hears keys (through the presenter's
// keyboard grab) and clicks; a notice lets every click through.
class SelectionTranslationPanel final : public QWidget {
    Q_OBJECT

public:
    SelectionTranslationPanel(std::shared_ptr<Clock> clock, bool interactive,
                              const OverlayWindowMarking& markAsOverlayWindow);
    ~SelectionTranslationPanel() override;

    // Called for a key, a modifier or a click once the minimum display time has passed.
    std::function<void()> onDismiss;
    double minimumDisplayDuration = 1.5;
    QDateTime appearDate;

    bool isInteractive() const { return interactive_; }
    // Takes the view, sizes the panel to `frame` and cuts the rounded corners.
    void setContentView(std::unique_ptr<SelectionTranslationPopupView> view, const QRectF& frame);
    SelectionTranslationPopupView* contentView() const { return view_; }
    // Shows the panel above the other windows without activating it.
    void orderFront();
    void orderOut();

protected:
    // Every key, modifier and button press is taken here and never passed on.
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void dismissalCheck();

    std::shared_ptr<Clock> clock_;
    bool interactive_;
    SelectionTranslationPopupView* view_ = nullptr;
};

}  // namespace tavrolin
