#include "onboarding/onboarding_exercises.h"

#include "core/app_language.h"
#include "onboarding/onboarding_view_model.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace tavrolin {

using namespace onboarding_style;

QString defaultKeyLetter(HotKeyAction action) {
    switch (action) {
    case HotKeyAction::captureAndTranslateActiveWindow:
        return QStringLiteral("T");
    case HotKeyAction::translateMessage:
        return QStringLiteral("W");
    case HotKeyAction::editText:
        return QStringLiteral("E");
    case HotKeyAction::writeText:
        return QStringLiteral("R");
    case HotKeyAction::flipLanguage:
        return QStringLiteral("F");
    case HotKeyAction::openDictationScratchpad:
        return QStringLiteral("D");
    case HotKeyAction::createPrompt:
        return QStringLiteral("P");
    }
    return {};
}

// ---- ResultPane

ResultPane::ResultPane(OnboardingTint tint, QWidget* parent) : QFrame(parent), tint_(tint) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(1, 1, 1, 1);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->viewport()->setAutoFillBackground(false);
    label_ = new QLabel(scroll);
    label_->setWordWrap(true);
    label_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    label_->setContentsMargins(11, 11, 11, 11);
    label_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label_->setTextFormat(Qt::PlainText);
    label_->setAutoFillBackground(false);
    label_->setObjectName(QStringLiteral("resultText"));
    scroll->setWidget(label_);
    column->addWidget(scroll);
    setText(std::nullopt);
}

void ResultPane::setText(const std::optional<QString>& text) {
    hasResult_ = text.has_value();
    label_->setText(text.value_or(placeholder));
    label_->setFont(onboarding_style::font(this, 13, hasResult_ ? QFont::Medium : QFont::Normal));
    label_->setForegroundRole(hasResult_ ? QPalette::WindowText : QPalette::PlaceholderText);
    update();
}

void ResultPane::paintEvent(QPaintEvent*) {
    if (hasResult_) {
        QColor fill = color(tint_);
        fill.setAlphaF(0.12);
        QColor outline = color(tint_);
        outline.setAlphaF(0.35);
        paintRoundedBox(this, fill, outline);
    } else {
        paintRoundedBox(this, controlBackground(palette()), separator(palette()));
    }
}

// ---- ExerciseActionBar

ExerciseActionBar::ExerciseActionBar(const QString& actionTitle, HotKeyAction action, OnboardingTint tint,
                                     std::shared_ptr<OnboardingViewModel> viewModel, QWidget* parent)
    : QFrame(parent), action_(action), viewModel_(std::move(viewModel)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);
    combo_ = new KeyCombo(defaultKeyLetter(action), tint, false, this);
    row->addWidget(combo_, 0, Qt::AlignVCenter);
    auto* text = new QVBoxLayout;
    text->setSpacing(2);
    text->addWidget(label(actionTitle, 13, QFont::DemiBold, false, this));
    hint_ = label(QString(), 12, QFont::Normal, true, this);
    hint_->setWordWrap(true);
    hint_->setObjectName(QStringLiteral("hintLine"));
    // Room for a two-line hint, so a long one never pushes the bar out of its page.
    hint_->setMinimumHeight(2 * hint_->fontMetrics().lineSpacing());
    text->addWidget(hint_);
    row->addLayout(text, 1);
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 0);
    progress_->setTextVisible(false);
    progress_->setFixedSize(48, 8);
    row->addWidget(progress_, 0, Qt::AlignVCenter);
    try_ = new QPushButton(QIcon::fromTheme(QStringLiteral("input-keyboard")), QStringLiteral("Try"), this);
    QPalette tinted = try_->palette();
    tinted.setColor(QPalette::Button, color(tint));
    tinted.setColor(QPalette::ButtonText, Qt::white);
    try_->setPalette(tinted);
    row->addWidget(try_, 0, Qt::AlignVCenter);

    const std::weak_ptr<OnboardingViewModel> weak = viewModel_;
    connect(try_, &QPushButton::clicked, this, [weak, action] {
        if (const auto model = weak.lock()) {
            model->handleHotKeyAction(action);
        }
    });
    connect(viewModel_.get(), &OnboardingViewModel::hotKeyHintChanged, this, &ExerciseActionBar::refresh);
    connect(viewModel_.get(), &OnboardingViewModel::runningActionChanged, this, &ExerciseActionBar::refresh);
    refresh();
}

void ExerciseActionBar::refresh() {
    const std::optional<QString>& hint = viewModel_->hotKeyHint();
    hint_->setText(hint ? *hint
                        : QStringLiteral("Press ") + viewModel_->shortcutDisplayName(action_) +
                              QStringLiteral(" or click Try."));
    const std::optional<HotKeyAction> running = viewModel_->runningAction();
    progress_->setVisible(running == action_);
    try_->setEnabled(!running.has_value());
}

void ExerciseActionBar::paintEvent(QPaintEvent*) {
    paintRoundedBox(this, controlBackground(palette()), QColor());
}

// ---- DraftEditor

DraftEditor::DraftEditor(QWidget* parent) : QPlainTextEdit(parent) {
    setTabChangesFocus(true);
    setFrameShape(QFrame::NoFrame);
}

void DraftEditor::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        insertPlainText(QStringLiteral("\n"));
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

// ---- TextExerciseIllustration

std::optional<TextExerciseConfiguration> TextExerciseConfiguration::forIllustration(
    OnboardingIllustration illustration) {
    using VM = OnboardingViewModel;
    const auto message = [](const char* id, const char* text) {
        return OnboardingChatMessage{QString::fromLatin1(id), QString::fromUtf8(text), true};
    };
    switch (illustration) {
    case OnboardingIllustration::writeDemo:
        return TextExerciseConfiguration{QStringLiteral("Team Chat"),
                                         {message("1", "Production is down after the last deploy."),
                                          message("2", "We need someone to work this weekend. Can you take it?")},
                                         QStringLiteral("Your rough draft"),
                                         QStringLiteral("Rewrite"),
                                         HotKeyAction::writeText,
                                         OnboardingTint::indigo,
                                         [](const VM& m) { return m.writeDraft(); },
                                         [](VM& m, const QString& t) { m.setWriteDraft(t); },
                                         &VM::writeDraftChanged,
                                         [](const VM& m) { return m.writeResult(); },
                                         &VM::writeResultChanged};
    case OnboardingIllustration::editDemo:
        return TextExerciseConfiguration{QString(),
                                         {},
                                         QStringLiteral("Message with typos"),
                                         QStringLiteral("Edit"),
                                         HotKeyAction::editText,
                                         OnboardingTint::pink,
                                         [](const VM& m) { return m.editDraft(); },
                                         [](VM& m, const QString& t) { m.setEditDraft(t); },
                                         &VM::editDraftChanged,
                                         [](const VM& m) { return m.editResult(); },
                                         &VM::editResultChanged};
    case OnboardingIllustration::rewriteDemo:
        return TextExerciseConfiguration{
            QStringLiteral("Reply Draft"),
            {message("1", "Write in your native language. Tavrolin will translate it to your second language.")},
            QStringLiteral("Your draft"),
            QStringLiteral("Write Message"),
            HotKeyAction::translateMessage,
            OnboardingTint::teal,
            [](const VM& m) { return m.rewriteDraft(); },
            [](VM& m, const QString& t) { m.setRewriteDraft(t); },
            &VM::rewriteDraftChanged,
            [](const VM& m) { return m.rewriteResult(); },
            &VM::rewriteResultChanged};
    case OnboardingIllustration::flipDemo:
        return TextExerciseConfiguration{QStringLiteral("Flip Draft"),
                                         {message("1", "Switch text between your native and second language.")},
                                         QStringLiteral("Text to flip"),
                                         QStringLiteral("Flip Language"),
                                         HotKeyAction::flipLanguage,
                                         OnboardingTint::green,
                                         [](const VM& m) { return m.flipDraft(); },
                                         [](VM& m, const QString& t) { m.setFlipDraft(t); },
                                         &VM::flipDraftChanged,
                                         [](const VM& m) { return m.flipResult(); },
                                         &VM::flipResultChanged};
    default:
        return std::nullopt;
    }
}

namespace {

class BubbleList final : public QWidget {
public:
    BubbleList(const QList<OnboardingChatMessage>& messages, int spacing, QMargins margins, QWidget* parent = nullptr)
        : QWidget(parent) {
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(margins);
        column->setSpacing(spacing);
        for (const OnboardingChatMessage& message : messages) {
            column->addWidget(new ChatBubble(message.text, message.incoming, this));
        }
        column->addStretch(1);
    }
};

class EditorFrame final : public QFrame {
public:
    using QFrame::QFrame;

protected:
    void paintEvent(QPaintEvent*) override { paintRoundedBox(this, textBackground(palette()), separator(palette())); }
};

QVBoxLayout* captionedColumn(const QString& caption, QWidget* parent) {
    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addWidget(label(caption, 12, QFont::DemiBold, true, parent));
    return column;
}

}  // namespace

TextExerciseIllustration::TextExerciseIllustration(TextExerciseConfiguration configuration,
                                                   std::shared_ptr<OnboardingViewModel> viewModel, QWidget* parent)
    : QWidget(parent), configuration_(std::move(configuration)), viewModel_(std::move(viewModel)) {
    setMaximumWidth(560);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    const bool hasContext = !configuration_.contextMessages.isEmpty();
    if (hasContext) {
        mockWindow_ = new MockWindow(
            configuration_.title, new BubbleList(configuration_.contextMessages, 10, QMargins(16, 16, 16, 16)), this);
        mockWindow_->setFixedHeight(mockWindowHeight);
        column->addWidget(mockWindow_);
    }
    const int paneHeight = hasContext ? paneHeightWithContext : paneHeightAlone;

    auto* columns = new QHBoxLayout;
    columns->setSpacing(12);
    QVBoxLayout* left = captionedColumn(configuration_.inputTitle, this);
    auto* frame = new EditorFrame(this);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(8, 8, 8, 8);
    editor_ = new DraftEditor(frame);
    editor_->setFont(onboarding_style::font(this, 13));
    editor_->viewport()->setAutoFillBackground(false);
    editor_->setAccessibleName(configuration_.inputTitle);
    editor_->setPlainText(configuration_.draft(*viewModel_));
    frameLayout->addWidget(editor_);
    frame->setFixedHeight(paneHeight);
    left->addWidget(frame);
    columns->addLayout(left, 1);

    QVBoxLayout* right = captionedColumn(QStringLiteral("Result"), this);
    result_ = new ResultPane(configuration_.tint, this);
    result_->setFixedHeight(paneHeight);
    result_->setText(configuration_.result(*viewModel_));
    right->addWidget(result_);
    columns->addLayout(right, 1);
    column->addLayout(columns);

    bar_ = new ExerciseActionBar(configuration_.shortcutTitle, configuration_.action, configuration_.tint, viewModel_,
                                 this);
    column->addWidget(bar_);
    column->addStretch(1);

    OnboardingViewModel* model = viewModel_.get();
    connect(editor_, &QPlainTextEdit::textChanged, this, [this, model] {
        const QString text = editor_->toPlainText();
        if (text != configuration_.draft(*model)) {
            configuration_.setDraft(*model, text);
        }
    });
    connect(model, configuration_.draftChanged, this, [this, model] {
        const QString text = configuration_.draft(*model);
        if (text != editor_->toPlainText()) {
            const QSignalBlocker blocker(editor_);
            editor_->setPlainText(text);
        }
    });
    connect(model, configuration_.resultChanged, this,
            [this, model] { result_->setText(configuration_.result(*model)); });
}

// ---- TranslateExerciseIllustration

namespace {

constexpr int stageWidth = 520;
constexpr int stageHeight = 340;
constexpr int stageMinimumHeight = 260;
constexpr int panelWidth = 288;
constexpr int mockWidth = 480;
constexpr int mockHeight = 284;

// The chat and its floating panel, laid out from the bottom-trailing corner: the chat 20 above
// it, the panel on it. The stage gives up height before the action bar under it does.
class TranslateStage final : public QWidget {
public:
    using QWidget::QWidget;
    void place(QWidget* mock, QWidget* panel) {
        if (mock) {
            const int height = std::min(mockHeight, this->height() - 20);
            mock->setGeometry(0, this->height() - 20 - height, mockWidth, height);
        }
        if (panel) {
            const int height = std::min(this->height(), panel->sizeHint().height());
            panel->setGeometry(width() - panelWidth, this->height() - height, panelWidth, height);
            panel->raise();
        }
    }
    std::function<void()> relayout;

protected:
    void resizeEvent(QResizeEvent*) override {
        if (relayout) {
            relayout();
        }
    }
};

class TranslationPanel final : public QFrame {
public:
    TranslationPanel(AppLanguage nativeLanguage, const QList<OnboardingChatMessage>& messages, QWidget* parent)
        : QFrame(parent) {
        setObjectName(QStringLiteral("translationPanel"));
        setFixedWidth(panelWidth);
        auto* column = new QVBoxLayout(this);
        column->setContentsMargins(14, 14, 14, 14);
        column->setSpacing(10);
        auto* header = new QHBoxLayout;
        header->setSpacing(8);
        header->addWidget(new KeyCombo(QStringLiteral("T"), OnboardingTint::orange, false, this));
        header->addWidget(label(displayName(nativeLanguage), 13, QFont::DemiBold, false, this));
        header->addStretch(1);
        column->addLayout(header);
        auto* divider = new QFrame(this);
        divider->setFrameShape(QFrame::HLine);
        divider->setFrameShadow(QFrame::Plain);
        column->addWidget(divider);
        for (const OnboardingChatMessage& message : messages) {
            // The message the sample chat is about is the one with id "1", wherever it stands.
            const bool emphasised = message.id == QLatin1String("1");
            QLabel* text = label(message.text, emphasised ? 14 : 13, emphasised ? QFont::Medium : QFont::Normal,
                                 !emphasised, this);
            text->setWordWrap(true);
            text->setProperty("emphasised", emphasised);
            text->setTextInteractionFlags(Qt::TextSelectableByMouse);
            column->addWidget(text);
        }
        auto* shadow = new QGraphicsDropShadowEffect(this);
        shadow->setColor(QColor(0, 0, 0, 41));
        shadow->setBlurRadius(18);
        shadow->setOffset(0, 8);
        setGraphicsEffect(shadow);
    }

protected:
    void paintEvent(QPaintEvent*) override { paintRoundedBox(this, windowBackground(palette()), separator(palette())); }
};

}  // namespace

TranslateExerciseIllustration::TranslateExerciseIllustration(std::shared_ptr<OnboardingViewModel> viewModel,
                                                             QWidget* parent)
    : QWidget(parent), viewModel_(std::move(viewModel)) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    auto* stage = new TranslateStage(this);
    stage->setFixedWidth(stageWidth);
    stage->setMinimumHeight(stageMinimumHeight);
    stage->setMaximumHeight(stageHeight);
    stage->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    stage->relayout = [this, stage] { stage->place(mockWindow_, panel_); };
    stage_ = stage;
    column->addWidget(stage_);
    bar_ = new ExerciseActionBar(QStringLiteral("Translate"), HotKeyAction::captureAndTranslateActiveWindow,
                                 OnboardingTint::orange, viewModel_, this);
    bar_->setMaximumWidth(stageWidth);
    column->addWidget(bar_);
    showConversation();
    showTranslation();
    connect(viewModel_.get(), &OnboardingViewModel::companyLanguageChanged, this,
            &TranslateExerciseIllustration::showConversation);
    connect(viewModel_.get(), &OnboardingViewModel::translatedConversationChanged, this,
            &TranslateExerciseIllustration::showTranslation);
    connect(viewModel_.get(), &OnboardingViewModel::nativeLanguageChanged, this,
            &TranslateExerciseIllustration::showTranslation);
}

void TranslateExerciseIllustration::showConversation() {
    delete mockWindow_;
    auto* content = new BubbleList(OnboardingViewModel::conversationMessages(viewModel_->companyLanguage()), 12,
                                   QMargins(18, 14, 18, 14));
    mockWindow_ = new MockWindow(QStringLiteral("Team Chat"), content, stage_);
    static_cast<TranslateStage*>(stage_)->place(mockWindow_, panel_);
    mockWindow_->show();
}

void TranslateExerciseIllustration::showTranslation() {
    delete panel_;
    panel_ = nullptr;
    const auto& translated = viewModel_->translatedConversation();
    if (!translated) {
        return;
    }
    panel_ = new TranslationPanel(viewModel_->nativeLanguage(), *translated, stage_);
    static_cast<TranslateStage*>(stage_)->place(nullptr, panel_);
    panel_->show();
}

// ---- DictationDemoIllustration

DictationDemoIllustration::DictationDemoIllustration(std::shared_ptr<OnboardingViewModel> viewModel, QWidget* parent)
    : QWidget(parent) {
    setMaximumWidth(560);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(14);
    auto* content = new QWidget;
    auto* contentColumn = new QVBoxLayout(content);
    contentColumn->setContentsMargins(16, 16, 16, 16);
    contentColumn->setSpacing(10);
    QLabel* sampleLabel = label(sample, 14, QFont::Normal, false, this);
    sampleLabel->setWordWrap(true);
    contentColumn->addWidget(sampleLabel);
    contentColumn->addStretch(1);
    auto* window = new MockWindow(QStringLiteral("Dictation Scratchpad"), content, this);
    window->setFixedHeight(160);
    column->addWidget(window);

    auto* list = new QVBoxLayout;
    list->setSpacing(6);
    list->addWidget(label(QStringLiteral("What it does"), 12, QFont::DemiBold, true, this));
    const std::pair<const char*, const char*> rows[] = {
        {"audio-input-microphone", "Speak naturally in your chosen language"},
        {"starred", "Improve transcription with AI"},
        {"edit-copy", "Copy refined text to any app"},
    };
    for (const auto& [icon, text] : rows) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        auto* symbol = new QLabel(this);
        symbol->setFixedWidth(16);
        symbol->setPixmap(QIcon::fromTheme(QString::fromLatin1(icon)).pixmap(16, 16));
        row->addWidget(symbol);
        row->addWidget(label(QString::fromLatin1(text), 13, QFont::Normal, false, this));
        row->addStretch(1);
        list->addLayout(row);
    }
    column->addLayout(list);
    bar_ = new ExerciseActionBar(QStringLiteral("Dictation"), HotKeyAction::openDictationScratchpad,
                                 OnboardingTint::purple, std::move(viewModel), this);
    column->addWidget(bar_);
    column->addStretch(1);
}

}  // namespace tavrolin
