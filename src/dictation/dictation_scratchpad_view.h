#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QMenu;
class QAction;
class QPushButton;
class QTimer;
class QToolButton;

namespace tavrolin {

class DictationScratchpadViewModel;
class TextView;

// The scratchpad's contents, top to bottom: the recording banner, the editor, and the bottom
// area with the status line, the controls and the two red error lines. Holds no state of its
// own: everything it shows comes from the view model, every control calls the view model.
class DictationScratchpadView final : public QWidget {
    Q_OBJECT

public:
    explicit DictationScratchpadView(DictationScratchpadViewModel* viewModel, QWidget* parent = nullptr);

    TextView* editor() const { return editor_; }
    DictationScratchpadViewModel* viewModel() const { return viewModel_; }

private:
    void refresh();
    void refreshLanguages();
    void refreshImproveButton();

    DictationScratchpadViewModel* viewModel_;
    QWidget* banner_ = nullptr;
    QWidget* bannerDivider_ = nullptr;
    TextView* editor_ = nullptr;
    QLabel* statusLine_ = nullptr;
    QPushButton* recordButton_ = nullptr;
    QComboBox* languageMenu_ = nullptr;
    QToolButton* improveButton_ = nullptr;
    QMenu* improveMenu_ = nullptr;
    QAction* createPromptAction_ = nullptr;
    QAction* createEnglishPromptAction_ = nullptr;
    QPushButton* copyButton_ = nullptr;
    QLabel* improveErrorLine_ = nullptr;
    QLabel* promptErrorLine_ = nullptr;
    QTimer* spinner_ = nullptr;
    int spinnerAngle_ = 0;
};

}  // namespace tavrolin
