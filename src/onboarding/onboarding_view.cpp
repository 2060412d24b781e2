#include "onboarding/onboarding_view.h"

#include "onboarding/onboarding_exercises.h"
#include "onboarding/onboarding_language_setup.h"
#include "onboarding/onboarding_view_model.h"
#include "onboarding/onboarding_visuals.h"
#include "settings_window/confirmation_dialog.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace tavrolin {

using namespace onboarding_style;

namespace {

// One sidebar step: the number on a disc (blue when selected) and the page's sidebar title.
// The whole row reacts to clicks.
class StepButton final : public QAbstractButton {
public:
    StepButton(int number, const QString& title, QWidget* parent) : QAbstractButton(parent), number_(number) {
        setText(title);
        setCheckable(true);
        setAutoExclusive(false);
        setCursor(Qt::PointingHandCursor);
        setAccessibleName(title);
        setFocusPolicy(Qt::TabFocus);
    }
    QSize sizeHint() const override { return {sidebarContentWidth(), 26}; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool selected = isChecked();
        const QRectF disc(0, (height() - 22) / 2.0, 22, 22);
        painter.setPen(Qt::NoPen);
        painter.setBrush(selected ? color(OnboardingTint::blue) : controlBackground(palette()));
        painter.drawEllipse(disc);
        QFont numberFont = onboarding_style::font(this, 11, QFont::DemiBold);
        numberFont.setStyleHint(QFont::Monospace);
        numberFont.setFamily(QStringLiteral("monospace"));
        painter.setFont(numberFont);
        painter.setPen(selected ? QColor(Qt::white) : palette().color(QPalette::PlaceholderText));
        painter.drawText(disc, Qt::AlignCenter, QString::number(number_));
        painter.setFont(onboarding_style::font(this, 13, selected ? QFont::DemiBold : QFont::Normal));
        painter.setPen(palette().color(selected ? QPalette::WindowText : QPalette::PlaceholderText));
        const QRect titleArea(32, 0, width() - 32, height());
        painter.drawText(titleArea, Qt::AlignVCenter | Qt::AlignLeft,
                         painter.fontMetrics().elidedText(text(), Qt::ElideRight, titleArea.width()));
        if (hasFocus()) {
            painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
        }
    }
    bool hitButton(const QPoint& position) const override { return rect().contains(position); }

private:
    static int sidebarContentWidth() { return OnboardingView::sidebarWidth - 48; }
    int number_;
};

// One 7 by 7 dot per page, blue for the selected one.
class PageDots final : public QWidget {
public:
    PageDots(int count, QWidget* parent) : QWidget(parent), count_(count) {
        setFixedSize(count * 7 + std::max(0, count - 1) * 6, 7);
    }
    void setSelected(int index) {
        selected_ = index;
        update();
    }
    int count() const { return count_; }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        for (int i = 0; i < count_; ++i) {
            painter.setBrush(i == selected_ ? color(OnboardingTint::blue) : separator(palette()));
            painter.drawEllipse(QRectF(i * 13, 0, 7, 7));
        }
    }

private:
    int count_;
    int selected_ = 0;
};

class Sidebar final : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), palette().color(QPalette::AlternateBase));
    }
};

}  // namespace

OnboardingView::OnboardingView(std::shared_ptr<OnboardingViewModel> viewModel, std::function<void()> onFinish,
                               OnboardingViewServices services, QWidget* parent)
    : QWidget(parent),
      viewModel_(std::move(viewModel)),
      onFinish_(std::move(onFinish)),
      services_(std::move(services)) {
    setObjectName(QStringLiteral("onboardingView"));
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    setFixedSize(windowWidth, windowHeight);
    body_ = new QWidget(this);
    body_->setGeometry(rect());
    auto* row = new QHBoxLayout(body_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(buildSidebar());
    auto* divider = new QFrame(body_);
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setFixedWidth(1);
    row->addWidget(divider);
    row->addWidget(buildContent(), 1);

    connect(viewModel_.get(), &OnboardingViewModel::selectedIndexChanged, this, &OnboardingView::refresh);
    refresh();
}

OnboardingView::~OnboardingView() = default;

QWidget* OnboardingView::buildSidebar() {
    auto* sidebar = new Sidebar(body_);
    sidebar->setFixedWidth(sidebarWidth);
    auto* column = new QVBoxLayout(sidebar);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(22);

    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    auto* icon = new QLabel(sidebar);
    const QPixmap pixmap = QIcon::fromTheme(QStringLiteral("preferences-desktop-locale")).pixmap(21, 21);
    icon->setPixmap(pixmap);
    icon->setVisible(!pixmap.isNull());
    header->addWidget(icon);
    header->addWidget(label(QStringLiteral("Tavrolin"), 19, QFont::DemiBold, false, sidebar));
    header->addStretch(1);
    column->addLayout(header);

    QLabel* pattern =
        label(QStringLiteral("Hold Control+Shift, then tap the action letter."), 13, QFont::Normal, true, sidebar);
    pattern->setWordWrap(true);
    column->addWidget(pattern);

    auto* steps = new QVBoxLayout;
    steps->setSpacing(8);
    const auto& pages = viewModel_->pages();
    for (size_t i = 0; i < pages.size(); ++i) {
        auto* step = new StepButton(static_cast<int>(i) + 1, pages[i].sidebarTitle, sidebar);
        const int index = static_cast<int>(i);
        connect(step, &QAbstractButton::clicked, this, [this, index] {
            viewModel_->selectPage(index);
            refresh();
        });
        steps_.push_back(step);
        steps->addWidget(step);
    }
    column->addLayout(steps);
    column->addStretch(1);

    // The fixed default pattern, not the user's configured shortcuts.
    auto* block = new QVBoxLayout;
    block->setSpacing(10);
    block->addWidget(label(QStringLiteral("Shortcut Pattern"), 12, QFont::DemiBold, true, sidebar));
    const auto capRow = [sidebar](bool visibleModifiers, const QStringList& letters) {
        auto* r = new QHBoxLayout;
        r->setSpacing(6);
        std::vector<QWidget*> modifiers{
            new KeyCap(QStringLiteral("Ctrl"), KeyCapStyle::compact, OnboardingTint::blue, sidebar),
            new KeyCap(QStringLiteral("Shift"), KeyCapStyle::compact, OnboardingTint::blue, sidebar),
            label(QStringLiteral("+"), 13, QFont::Medium, true, sidebar)};
        for (QWidget* modifier : modifiers) {
            if (!visibleModifiers) {
                // Keeps the letters under the first row's letters.
                QSizePolicy policy = modifier->sizePolicy();
                policy.setRetainSizeWhenHidden(true);
                modifier->setSizePolicy(policy);
                modifier->hide();
            }
            r->addWidget(modifier);
        }
        for (const QString& letter : letters) {
            r->addWidget(new KeyCap(letter, KeyCapStyle::compactLetter, OnboardingTint::blue, sidebar));
        }
        r->addStretch(1);
        return r;
    };
    block->addLayout(
        capRow(true, {QStringLiteral("W"), QStringLiteral("E"), QStringLiteral("R"), QStringLiteral("T")}));
    block->addLayout(capRow(false, {QStringLiteral("D"), QStringLiteral("F")}));
    column->addLayout(block);
    return sidebar;
}

QWidget* OnboardingView::buildContent() {
    auto* content = new QWidget(body_);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(28, 28, 28, 28);
    column->setSpacing(18);

    auto* header = new QHBoxLayout;
    counter_ = label(QString(), 12, QFont::Medium, true, content);
    counter_->setObjectName(QStringLiteral("stepCounter"));
    header->addWidget(counter_);
    header->addStretch(1);
    dots_ = new PageDots(static_cast<int>(viewModel_->pages().size()), content);
    header->addWidget(dots_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    auto* titles = new QVBoxLayout;
    titles->setSpacing(8);
    title_ = label(QString(), 28, QFont::DemiBold, false, content);
    subtitle_ = label(QString(), 14, QFont::Normal, true, content);
    subtitle_->setWordWrap(true);
    titles->addWidget(title_);
    titles->addWidget(subtitle_);
    column->addLayout(titles);

    illustrations_ = new QStackedWidget(content);
    for (size_t i = 0; i < viewModel_->pages().size(); ++i) {
        illustrations_->addWidget(buildIllustration(static_cast<int>(i)));
    }
    column->addWidget(illustrations_, 1);

    auto* bar = new QHBoxLayout;
    bar->setSpacing(12);
    auto* back = new QPushButton(QStringLiteral("Back"), content);
    auto* skip = new QPushButton(QStringLiteral("Skip"), content);
    forward_ = new QPushButton(QStringLiteral("Next"), content);
    forward_->setDefault(true);
    QPalette prominent = forward_->palette();
    prominent.setColor(QPalette::Button, color(OnboardingTint::blue));
    prominent.setColor(QPalette::ButtonText, Qt::white);
    forward_->setPalette(prominent);
    QSizePolicy keepPlace = skip->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    skip->setSizePolicy(keepPlace);
    for (QPushButton* button : {back, skip, forward_}) {
        button->setAutoDefault(false);
    }
    bar->addWidget(back);
    bar->addWidget(skip);
    bar->addStretch(1);
    bar->addWidget(forward_);
    column->addLayout(bar);
    back_ = back;
    skip_ = skip;
    connect(back, &QPushButton::clicked, this, &OnboardingView::moveBack);
    connect(skip, &QPushButton::clicked, this, [this] {
        if (onFinish_) {
            onFinish_();
        }
    });
    connect(forward_, &QPushButton::clicked, this, &OnboardingView::moveForwardOrFinish);
    return content;
}

QWidget* OnboardingView::buildIllustration(int index) {
    const OnboardingPage& page = viewModel_->pages()[static_cast<size_t>(index)];
    switch (page.illustration) {
    case OnboardingIllustration::languageSetup: {
        const QPointer<OnboardingView> self(this);
        return new LanguageSetupIllustration(viewModel_, services_.localTranslationSetupSupport,
                                             services_.openTranslationSetup, [self] {
                                                 if (self) {
                                                     self->showOnlineFeaturesAlert();
                                                 }
                                             });
    }
    case OnboardingIllustration::appIntro:
        return new ShortcutMapIllustration;
    case OnboardingIllustration::writeDemo:
    case OnboardingIllustration::editDemo:
    case OnboardingIllustration::rewriteDemo:
    case OnboardingIllustration::flipDemo:
        return new TextExerciseIllustration(*TextExerciseConfiguration::forIllustration(page.illustration), viewModel_);
    case OnboardingIllustration::translateDemo:
        return new TranslateExerciseIllustration(viewModel_);
    case OnboardingIllustration::dictationDemo:
        return new DictationDemoIllustration(viewModel_);
    case OnboardingIllustration::ready:
        return new ReadyIllustration(services_.onOpenAccessibilitySettings, services_.onOpenScreenRecordingSettings);
    }
    return new QWidget;
}

ConfirmationDialogOverlay* OnboardingView::onlineFeaturesDialog() const {
    return overlay_.data();
}

QWidget* OnboardingView::illustration(int index) const {
    return illustrations_->widget(index);
}
QWidget* OnboardingView::currentIllustration() const {
    return illustrations_->currentWidget();
}

void OnboardingView::refresh() {
    const auto& pages = viewModel_->pages();
    const int count = static_cast<int>(pages.size());
    const int index = viewModel_->selectedIndex();
    if (count == 0 || index < 0 || index >= count) {
        return;
    }
    const OnboardingPage& page = pages[static_cast<size_t>(index)];
    counter_->setText(QStringLiteral("Step %1 of %2").arg(index + 1).arg(count));
    static_cast<PageDots*>(dots_)->setSelected(index);
    // A long title shrinks (down to 20) rather than run past the content area.
    const int available = windowWidth - sidebarWidth - 1 - 2 * 28;
    int titleSize = 28;
    while (titleSize > 20 &&
           QFontMetrics(onboarding_style::font(this, titleSize, QFont::DemiBold)).horizontalAdvance(page.title) >
               available) {
        --titleSize;
    }
    title_->setFont(onboarding_style::font(this, titleSize, QFont::DemiBold));
    title_->setText(page.title);
    subtitle_->setText(page.subtitle);
    for (int i = 0; i < count; ++i) {
        steps_[static_cast<size_t>(i)]->setChecked(i == index);
        steps_[static_cast<size_t>(i)]->update();
    }
    if (illustrations_->currentIndex() != index) {
        // Leaving a page closes the language page's notices; coming back starts without them.
        if (auto* languages = qobject_cast<LanguageSetupIllustration*>(illustrations_->currentWidget())) {
            languages->card(LanguageSetupIllustration::Placement::native)->setDownloadNotice(std::nullopt);
            languages->card(LanguageSetupIllustration::Placement::company)->setDownloadNotice(std::nullopt);
        }
        illustrations_->setCurrentIndex(index);
    }
    const bool last = index == count - 1;
    back_->setEnabled(index != 0);
    // On the last page Skip keeps its place but can be neither seen nor pressed.
    skip_->setEnabled(!last);
    skip_->setVisible(!last);
    forward_->setText(last ? QStringLiteral("Start Using Tavrolin") : QStringLiteral("Next"));
}

void OnboardingView::moveForwardOrFinish() {
    if (viewModel_->selectedIndex() != static_cast<int>(viewModel_->pages().size()) - 1) {
        viewModel_->moveForward();
        refresh();
    } else if (onFinish_) {
        onFinish_();
    }
}

void OnboardingView::moveBack() {
    viewModel_->moveBack();
    refresh();
}

void OnboardingView::showOnlineFeaturesAlert() {
    if (overlay_) {
        return;
    }
    body_->setEnabled(false);
    const QPointer<OnboardingView> self(this);
    const std::weak_ptr<OnboardingViewModel> model = viewModel_;
    overlay_ = DisableOnlineFeaturesDialog::show(
        this,
        [self] {
            if (self) {
                self->closeOnlineFeaturesAlert();
            }
        },
        [model] {
            if (const auto viewModel = model.lock()) {
                viewModel->updateOnlineFeaturesEnabled(false);
            }
        });
}

void OnboardingView::closeOnlineFeaturesAlert() {
    if (overlay_) {
        overlay_->deleteLater();
        overlay_.clear();
    }
    body_->setEnabled(true);
}

void OnboardingView::keyPressEvent(QKeyEvent* event) {
    // The forward button is the window's default: Return presses it unless a control that takes
    // Return itself (a draft editor) has the focus, or the dialog is up.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !overlay_) {
        forward_->click();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void OnboardingView::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) {
        Q_EMIT closing();
    }
}

}  // namespace tavrolin
