#pragma once

// The practice pages: the text exercises (Rewrite, Edit, Write Message, Flip Language), the
// translation exercise and the dictation page, with the result pane and the action bar they
// share. They show what the view model holds and hand every Try to it, as a shortcut would be.

#include "core/hot_key_action.h"
#include "onboarding/onboarding_page.h"
#include "onboarding/onboarding_visuals.h"

#include <QFrame>
#include <QList>
#include <QPlainTextEdit>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QProgressBar;
class QPushButton;
class QScrollArea;

namespace tavrolin {

class OnboardingViewModel;

// The letter drawn on the action's key caps: always the default one.
QString defaultKeyLetter(HotKeyAction action);

// A demonstration's result, or the placeholder while there is none. An empty result is an
// empty tinted pane, not the placeholder.
class ResultPane final : public QFrame {
    Q_OBJECT
public:
    static inline const QString placeholder = QStringLiteral("Press the shortcut to run this demo.");

    explicit ResultPane(OnboardingTint tint, QWidget* parent = nullptr);
    void setText(const std::optional<QString>& text);
    bool hasResult() const { return hasResult_; }
    QLabel* textLabel() const { return label_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    OnboardingTint tint_;
    bool hasResult_ = false;
    QLabel* label_ = nullptr;
};

// The key combination, the action's title, the hint line, the progress indicator while this
// action runs and the Try button (disabled while any demonstration runs).
class ExerciseActionBar final : public QFrame {
    Q_OBJECT
public:
    ExerciseActionBar(const QString& actionTitle, HotKeyAction action, OnboardingTint tint,
                      std::shared_ptr<OnboardingViewModel> viewModel, QWidget* parent = nullptr);

    HotKeyAction action() const { return action_; }
    KeyCombo* keyCombo() const { return combo_; }
    QLabel* hintLabel() const { return hint_; }
    QProgressBar* progress() const { return progress_; }
    QPushButton* tryButton() const { return try_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();

    HotKeyAction action_;
    std::shared_ptr<OnboardingViewModel> viewModel_;
    KeyCombo* combo_ = nullptr;
    QLabel* hint_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* try_ = nullptr;
};

// A draft editor: Return and Enter add a line break here, they never press the window's
// forward button.
class DraftEditor final : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit DraftEditor(QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// What one text exercise shows: its chat, its captions, its action and which draft and result
// of the view model it edits and shows.
struct TextExerciseConfiguration {
    QString title;
    QList<OnboardingChatMessage> contextMessages;
    QString inputTitle;
    QString shortcutTitle;
    HotKeyAction action;
    OnboardingTint tint;
    std::function<QString(const OnboardingViewModel&)> draft;
    std::function<void(OnboardingViewModel&, const QString&)> setDraft;
    void (OnboardingViewModel::*draftChanged)();
    std::function<std::optional<QString>(const OnboardingViewModel&)> result;
    void (OnboardingViewModel::*resultChanged)();

    // The configuration of a text exercise page; none for the other illustrations.
    static std::optional<TextExerciseConfiguration> forIllustration(OnboardingIllustration illustration);
};

class TextExerciseIllustration final : public QWidget {
    Q_OBJECT
public:
    static constexpr int mockWindowHeight = 142;
    static constexpr int paneHeightAlone = 112;
    static constexpr int paneHeightWithContext = 86;

    TextExerciseIllustration(TextExerciseConfiguration configuration, std::shared_ptr<OnboardingViewModel> viewModel,
                             QWidget* parent = nullptr);

    MockWindow* mockWindow() const { return mockWindow_; }
    DraftEditor* editor() const { return editor_; }
    ResultPane* resultPane() const { return result_; }
    ExerciseActionBar* actionBar() const { return bar_; }

private:
    TextExerciseConfiguration configuration_;
    std::shared_ptr<OnboardingViewModel> viewModel_;
    MockWindow* mockWindow_ = nullptr;
    DraftEditor* editor_ = nullptr;
    ResultPane* result_ = nullptr;
    ExerciseActionBar* bar_ = nullptr;
};

// The team chat in the second language with the floating translation panel.
class TranslateExerciseIllustration final : public QWidget {
    Q_OBJECT
public:
    explicit TranslateExerciseIllustration(std::shared_ptr<OnboardingViewModel> viewModel, QWidget* parent = nullptr);

    MockWindow* mockWindow() const { return mockWindow_; }
    // Present while the view model holds a translated conversation.
    QWidget* translationPanel() const { return panel_; }
    ExerciseActionBar* actionBar() const { return bar_; }

private:
    void showConversation();
    void showTranslation();

    std::shared_ptr<OnboardingViewModel> viewModel_;
    QWidget* stage_ = nullptr;
    MockWindow* mockWindow_ = nullptr;
    QWidget* panel_ = nullptr;
    ExerciseActionBar* bar_ = nullptr;
};

class DictationDemoIllustration final : public QWidget {
    Q_OBJECT
public:
    static inline const QString sample =
        QStringLiteral("I can join for two hours, but I need the priority list and the release owner.");

    explicit DictationDemoIllustration(std::shared_ptr<OnboardingViewModel> viewModel, QWidget* parent = nullptr);
    ExerciseActionBar* actionBar() const { return bar_; }

private:
    ExerciseActionBar* bar_ = nullptr;
};

}  // namespace tavrolin
