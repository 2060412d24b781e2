#pragma once

// The onboarding window's content: the sidebar of numbered steps with the fixed shortcut
// pattern, and the selected page with its counter, dots, title, illustration and the
// Back / Skip / Next bar. Turning online features off is confirmed in a dialog over the whole
// window.

#include "language/translation_setup_support.h"
#include "settings_window/confirmation_dialog.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QLabel;
class QPushButton;
class QStackedWidget;

namespace tavrolin {

class OnboardingViewModel;

// What the window's pages need besides the view model.
struct OnboardingViewServices {
    // Asks the device's own translation engine only: the language page's check never reaches
    // the server.
    std::shared_ptr<TranslationSetupSupport> localTranslationSetupSupport;
    // Opens the step that installs translation languages.
    std::function<void()> openTranslationSetup;
    std::function<void()> onOpenAccessibilitySettings;
    std::function<void()> onOpenScreenRecordingSettings;
};

class OnboardingView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int windowWidth = 860;
    static constexpr int windowHeight = 620;
    static constexpr int sidebarWidth = 280;

    OnboardingView(std::shared_ptr<OnboardingViewModel> viewModel, std::function<void()> onFinish,
                   OnboardingViewServices services, QWidget* parent = nullptr);
    ~OnboardingView() override;

    QAbstractButton* backButton() const { return back_; }
    QAbstractButton* skipButton() const { return skip_; }
    QPushButton* forwardButton() const { return forward_; }
    QAbstractButton* stepButton(int index) const { return steps_.at(static_cast<size_t>(index)); }
    QLabel* stepCounter() const { return counter_; }
    QLabel* titleLabel() const { return title_; }
    QWidget* pageDots() const { return dots_; }
    // The illustration of a page, built with the window.
    QWidget* illustration(int index) const;
    QWidget* currentIllustration() const;
    // Everything under the dialog; disabled while it is shown.
    QWidget* body() const { return body_; }
    ConfirmationDialogOverlay* onlineFeaturesDialog() const;
    bool isShowingOnlineFeaturesAlert() const { return overlay_ != nullptr; }

    // "Next" on every page but the last, where it finishes.
    void moveForwardOrFinish();
    void moveBack();
    void showOnlineFeaturesAlert();

Q_SIGNALS:
    // The window is closing, whatever closed it.
    void closing();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* buildSidebar();
    QWidget* buildContent();
    QWidget* buildIllustration(int index);
    void refresh();
    void closeOnlineFeaturesAlert();

    std::shared_ptr<OnboardingViewModel> viewModel_;
    std::function<void()> onFinish_;
    OnboardingViewServices services_;
    QWidget* body_ = nullptr;
    std::vector<QAbstractButton*> steps_;
    QLabel* counter_ = nullptr;
    QWidget* dots_ = nullptr;
    QLabel* title_ = nullptr;
    QLabel* subtitle_ = nullptr;
    QStackedWidget* illustrations_ = nullptr;
    QAbstractButton* back_ = nullptr;
    QAbstractButton* skip_ = nullptr;
    QPushButton* forward_ = nullptr;
    QPointer<ConfirmationDialogOverlay> overlay_;
};

}  // namespace tavrolin
