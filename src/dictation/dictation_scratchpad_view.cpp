#include "dictation/dictation_scratchpad_view.h"

#include "core/app_language.h"
#include "dictation/dictation_scratchpad_view_model.h"
#include "dictation/text_view.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace tavrolin {

namespace {

using Mode = DictationScratchpadViewModel::Mode;

// The controls' symbols: the desktop theme's icon, else one of the style's own.
QIcon symbolIcon(const char* themeName, QStyle::StandardPixmap fallback) {
    QIcon icon = QIcon::fromTheme(QString::fromLatin1(themeName));
    return icon.isNull() ? QApplication::style()->standardIcon(fallback) : icon;
}

QIcon sparklesIcon() {
    QIcon icon = QIcon::fromTheme(QStringLiteral("tools-wizard"));
    if (icon.isNull()) {
        icon = QIcon::fromTheme(QStringLiteral("starred"));
    }
    return icon;
}

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

QLabel* smallLabel(QWidget* parent, const QColor& color, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(objectName));
    QFont font = label->font();
    font.setPointSize(11);
    label->setFont(font);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

QPixmap dotPixmap(const QColor& color, int size, qreal ratio) {
    QPixmap pixmap(QSize(size, size) * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(0, 0, size, size));
    return pixmap;
}

// A small busy indicator: an arc turned by `angle` degrees, about 0.8 of an icon.
QIcon spinnerIcon(int angle, const QColor& color) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, 2, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(2.5, 2.5, 11, 11), -angle * 16, 270 * 16);
    return QIcon(pixmap);
}

void tint(QPushButton* button, const QColor& background, const QColor& text) {
    QPalette palette = QApplication::palette(button);
    palette.setColor(QPalette::Button, background);
    palette.setColor(QPalette::ButtonText, text);
    button->setPalette(palette);
}

const QColor kRed = QColor::fromRgb(0xE0, 0x1B, 0x24);

}  // namespace

DictationScratchpadView::DictationScratchpadView(DictationScratchpadViewModel* viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    // 1. Recording banner.
    banner_ = new QWidget(this);
    banner_->setObjectName(QStringLiteral("recordingBanner"));
    banner_->setAutoFillBackground(true);
    {
        QPalette palette = banner_->palette();
        QColor wash = kRed;
        wash.setAlphaF(0.08);
        palette.setColor(QPalette::Window, wash);
        banner_->setPalette(palette);
        auto* row = new QHBoxLayout(banner_);
        row->setContentsMargins(12, 4, 12, 4);
        row->setSpacing(6);
        auto* dot = new QLabel(banner_);
        dot->setPixmap(dotPixmap(kRed, 8, devicePixelRatioF()));
        dot->setFixedSize(8, 8);
        auto* listening = smallLabel(banner_, palette.color(QPalette::PlaceholderText), "listening");
        listening->setText(QStringLiteral("Listening…"));
        QFont medium = listening->font();
        medium.setWeight(QFont::Medium);
        listening->setFont(medium);
        listening->setWordWrap(false);
        row->addWidget(dot);
        row->addWidget(listening);
        row->addStretch();
    }
    column->addWidget(banner_);
    bannerDivider_ = divider(this);
    column->addWidget(bannerDivider_);

    // 2. Editor.
    editor_ = new TextView(this);
    editor_->setObjectName(QStringLiteral("editor"));
    column->addWidget(editor_, 1);

    // 3. Divider.
    column->addWidget(divider(this));

    // 4. Bottom area.
    auto* bottom = new QWidget(this);
    bottom->setAutoFillBackground(true);
    bottom->setBackgroundRole(QPalette::Window);
    auto* bottomColumn = new QVBoxLayout(bottom);
    bottomColumn->setContentsMargins(0, 0, 0, 0);
    bottomColumn->setSpacing(0);

    statusLine_ = smallLabel(bottom, palette().color(QPalette::PlaceholderText), "statusLine");
    statusLine_->setContentsMargins(12, 8, 12, 0);
    bottomColumn->addWidget(statusLine_);

    auto* controls = new QHBoxLayout();
    controls->setContentsMargins(12, 12, 12, 12);
    controls->setSpacing(12);

    recordButton_ = new QPushButton(bottom);
    recordButton_->setObjectName(QStringLiteral("recordButton"));
    recordButton_->setAutoDefault(false);
    controls->addWidget(recordButton_);

    languageMenu_ = new QComboBox(bottom);
    languageMenu_->setObjectName(QStringLiteral("languageMenu"));
    controls->addWidget(languageMenu_);

    improveButton_ = new QToolButton(bottom);
    improveButton_->setObjectName(QStringLiteral("improveButton"));
    improveButton_->setPopupMode(QToolButton::MenuButtonPopup);
    improveButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    improveMenu_ = new QMenu(improveButton_);
    createPromptAction_ = improveMenu_->addAction(symbolIcon("dialog-information", QStyle::SP_MessageBoxInformation),
                                                  QStringLiteral("Create Prompt"));
    createEnglishPromptAction_ = improveMenu_->addAction(symbolIcon("applications-internet", QStyle::SP_DriveNetIcon),
                                                         QStringLiteral("Create English Prompt"));
    improveButton_->setMenu(improveMenu_);
    controls->addWidget(improveButton_);

    controls->addStretch();

    copyButton_ = new QPushButton(bottom);
    copyButton_->setObjectName(QStringLiteral("copyButton"));
    copyButton_->setAutoDefault(false);
    tint(copyButton_, palette().color(QPalette::Highlight), palette().color(QPalette::HighlightedText));
    controls->addWidget(copyButton_);
    bottomColumn->addLayout(controls);

    improveErrorLine_ = smallLabel(bottom, kRed, "improveError");
    improveErrorLine_->setContentsMargins(12, 0, 12, 4);
    bottomColumn->addWidget(improveErrorLine_);
    promptErrorLine_ = smallLabel(bottom, kRed, "promptError");
    promptErrorLine_->setContentsMargins(12, 0, 12, 8);
    bottomColumn->addWidget(promptErrorLine_);
    column->addWidget(bottom);

    spinner_ = new QTimer(this);
    spinner_->setInterval(80);
    connect(spinner_, &QTimer::timeout, this, [this] {
        spinnerAngle_ = (spinnerAngle_ + 30) % 360;
        refreshImproveButton();
    });

    // Controls to the view model.
    connect(recordButton_, &QPushButton::clicked, viewModel_, &DictationScratchpadViewModel::toggleDictation);
    connect(languageMenu_, &QComboBox::activated, this, [this](int index) {
        const auto language = fromRawValue<AppLanguage>(languageMenu_->itemData(index).toString());
        if (language) {
            viewModel_->setSelectedLanguage(*language);
        }
    });
    connect(improveButton_, &QToolButton::clicked, viewModel_, &DictationScratchpadViewModel::improveText);
    connect(createPromptAction_, &QAction::triggered, viewModel_,
            [this] { viewModel_->createPrompt(TextPromptLanguage::original); });
    connect(createEnglishPromptAction_, &QAction::triggered, viewModel_,
            [this] { viewModel_->createPrompt(TextPromptLanguage::english); });
    connect(copyButton_, &QPushButton::clicked, viewModel_, &DictationScratchpadViewModel::copyToClipboard);
    connect(editor_, &TextView::textEdited, viewModel_, &DictationScratchpadViewModel::setText);

    // The view model to the widgets.
    connect(viewModel_, &DictationScratchpadViewModel::textChanged, editor_, &TextView::setBoundText);
    connect(viewModel_, &DictationScratchpadViewModel::availableLanguagesChanged, this,
            &DictationScratchpadView::refreshLanguages);
    // Whoever changes the language, the menu or a presentation, the change is applied (and
    // stored) the same way.
    connect(viewModel_, &DictationScratchpadViewModel::selectedLanguageChanged, viewModel_,
            &DictationScratchpadViewModel::changeLanguage);
    connect(viewModel_, &DictationScratchpadViewModel::textChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::modeChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::showCopiedChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::copyCountdownChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::isRecordingChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::isListeningChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::statusMessageChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::selectedLanguageChanged, this,
            &DictationScratchpadView::refreshLanguages);
    connect(viewModel_, &DictationScratchpadViewModel::isImprovingChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::improveErrorChanged, this, &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::isCreatingPromptChanged, this,
            &DictationScratchpadView::refresh);
    connect(viewModel_, &DictationScratchpadViewModel::promptErrorChanged, this, &DictationScratchpadView::refresh);

    editor_->setBoundText(viewModel_->text());
    refreshLanguages();
    refresh();
}

void DictationScratchpadView::refreshLanguages() {
    languageMenu_->clear();
    for (AppLanguage language : viewModel_->availableLanguages()) {
        languageMenu_->addItem(displayName(language), rawValue(language));
    }
    languageMenu_->setCurrentIndex(languageMenu_->findData(rawValue(viewModel_->selectedLanguage())));
}

void DictationScratchpadView::refreshImproveButton() {
    const DictationScratchpadViewModel& model = *viewModel_;
    if (model.isImproving()) {
        improveButton_->setIcon(spinnerIcon(spinnerAngle_, palette().color(QPalette::ButtonText)));
        improveButton_->setText(QStringLiteral("Improving..."));
    } else {
        improveButton_->setIcon(sparklesIcon());
        improveButton_->setText(QStringLiteral("Improve"));
    }
}

void DictationScratchpadView::refresh() {
    const DictationScratchpadViewModel& model = *viewModel_;
    const bool dictation = model.mode() == Mode::dictation;

    // "Listening…" only once the microphone delivers: words spoken before then are not heard.
    banner_->setVisible(dictation && model.isListening());
    bannerDivider_->setVisible(banner_->isVisibleTo(this));
    editor_->setEditable(!dictation || !model.isRecording());

    // In copy-only mode it tells why the text is offered, when that is more than the field not taking it.
    statusLine_->setVisible(model.statusMessage().has_value());
    statusLine_->setText(model.statusMessage().value_or(QString()));

    recordButton_->setVisible(dictation);
    if (model.isRecording()) {
        recordButton_->setIcon(symbolIcon("media-playback-stop", QStyle::SP_MediaStop));
        recordButton_->setText(QStringLiteral("Stop Dictation"));
        tint(recordButton_, kRed, Qt::white);
    } else {
        recordButton_->setIcon(symbolIcon("audio-input-microphone", QStyle::SP_MediaPlay));
        recordButton_->setText(QStringLiteral("Start Dictation"));
        tint(recordButton_, palette().color(QPalette::Highlight), palette().color(QPalette::HighlightedText));
    }

    languageMenu_->setVisible(dictation);
    languageMenu_->setEnabled(!model.isRecording());

    const bool serverActionsEnabled =
        !model.text().isEmpty() && !model.isImproving() && !model.isCreatingPrompt() && !model.isRecording();
    improveButton_->setVisible(dictation);
    improveButton_->setEnabled(serverActionsEnabled);
    createPromptAction_->setEnabled(serverActionsEnabled);
    createEnglishPromptAction_->setEnabled(serverActionsEnabled);
    if (model.isImproving() != spinner_->isActive()) {
        model.isImproving() ? spinner_->start() : spinner_->stop();
    }
    refreshImproveButton();

    if (model.showCopied()) {
        copyButton_->setIcon(symbolIcon("object-select", QStyle::SP_DialogApplyButton));
        copyButton_->setText(model.copyCountdown() > 0 ? QStringLiteral("Copied! (%1)").arg(model.copyCountdown())
                                                       : QStringLiteral("Copied!"));
    } else {
        copyButton_->setIcon(symbolIcon("edit-copy", QStyle::SP_FileIcon));
        copyButton_->setText(QStringLiteral("Copy to Clipboard"));
    }
    copyButton_->setEnabled(!model.text().isEmpty());

    improveErrorLine_->setVisible(dictation && model.improveError().has_value());
    improveErrorLine_->setText(model.improveError().value_or(QString()));
    promptErrorLine_->setVisible(dictation && model.promptError().has_value());
    promptErrorLine_->setText(model.promptError().value_or(QString()));
}

}  // namespace tavrolin
