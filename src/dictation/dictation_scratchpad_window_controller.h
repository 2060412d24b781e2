#pragma once

#include "core/app_language.h"
#include "dictation/dictation_scratchpad_view_model.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

class QShortcut;
class QWidget;

namespace tavrolin {

class DictationScratchpadView;
class FrontWindowActivating;
class OnlineFeaturePolicy;

// The scratchpad window: one top-level window, built once and reused for every presentation,
// in dictation mode or in copy-only mode. Closing it hides it; a recording ends with the close.
// Escape closes it in copy-only mode.
class DictationScratchpadWindowController final : public QObject {
    Q_OBJECT

public:
    static inline const QString dictationTitle = QStringLiteral("Dictation Scratchpad");
    static inline const QString copyOnlyTitle = QStringLiteral("Copy Result");

    // What a presentation does with the keyboard. `take`: the window becomes the active one.
    // `leave`: it comes to the front while the keyboard stays where the user is typing; a click
    // in it gives it the keyboard.
    enum class Keyboard { take, leave };

    // `frontWindowActivation` may be null: the window then relies on the window manager
    // honouring an ordinary activation request.
    DictationScratchpadWindowController(DictationScratchpadViewModel::Dependencies dependencies,
                                        std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy,
                                        std::shared_ptr<FrontWindowActivating> frontWindowActivation,
                                        QObject* parent = nullptr);
    ~DictationScratchpadWindowController() override;

    void present(AppLanguage language, const std::vector<AppLanguage>& availableLanguages);
    // `reason`: what the window tells about the text above it (why it is offered here).
    void presentCopyOnly(const QString& text, Keyboard keyboard = Keyboard::take,
                         const std::optional<QString>& reason = std::nullopt);

    DictationScratchpadViewModel& viewModel() const { return *viewModel_; }
    QWidget* window() const;
    DictationScratchpadView* view() const { return view_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void bringToFront(Keyboard keyboard);
    void connectClose();
    void registerUndoStep();

    std::unique_ptr<DictationScratchpadViewModel> viewModel_;
    std::shared_ptr<const OnlineFeaturePolicy> onlineFeaturePolicy_;
    std::shared_ptr<FrontWindowActivating> frontWindowActivation_;
    std::unique_ptr<QWidget> window_;
    DictationScratchpadView* view_ = nullptr;
    QShortcut* escape_ = nullptr;
    // The last presentation took the keyboard (its late activation request may still go out).
    bool takesKeyboard_ = false;
};

}  // namespace tavrolin
