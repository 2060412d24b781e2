#pragma once

#include "language/translation_setup_support.h"

#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

namespace tavrolin {

// The boxed notice that a language pair needs translation data installed first: its title, its
// message and a button that opens the step explaining how. It only shows the notice it was made
// with and keeps nothing else; whoever shows it decides when to check again. It knows nothing of
// its host, so the overlay's picker, the settings window and the onboarding all place it at any
// width: the message wraps (heightForWidth), the title and the button stay on the leading edge.
class TranslationSetupNoticeView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int inset = 12;
    static constexpr int spacing = 10;
    static constexpr qreal cornerRadius = 10;

    TranslationSetupNoticeView(const TranslationDownloadNotice& notice, std::function<void()> onOpenTranslationSetup,
                               QWidget* parent = nullptr);

    QLabel* titleLabel() const { return title_; }
    QLabel* messageLabel() const { return message_; }
    QPushButton* setupButton() const { return button_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_ = nullptr;
    QLabel* message_ = nullptr;
    QPushButton* button_ = nullptr;
};

}  // namespace tavrolin
