#include "onboarding/onboarding_language_setup.h"

#include "core/app_log.h"
#include "onboarding/onboarding_view_model.h"
#include "onboarding/onboarding_visuals.h"
#include "settings_window/translation_notice_popover.h"

#include <QHBoxLayout>
#include <QHideEvent>
#include <QIcon>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include <utility>

namespace tavrolin {

using namespace onboarding_style;

namespace {

QCoro::Task<> runDownloadCheck(QPointer<LanguageSetupIllustration> page,
                               std::shared_ptr<TranslationSetupSupport> support, AppLanguage language,
                               LanguageSetupIllustration::Placement placement) {
    std::optional<TranslationDownloadNotice> notice;
    try {
        notice = co_await support->downloadNotice(TranslationLanguagePair{AppLanguage::automatic, language});
    } catch (const std::exception& error) {
        AppLog::app().error(
            QStringLiteral("onboarding language check failed: %1").arg(QString::fromUtf8(error.what())));
        co_return;
    }
    // The user may have picked another language for this card meanwhile, or the pick was
    // refused: then the answer belongs to nothing shown.
    if (!page || !page->isCurrentLanguage(language, placement)) {
        co_return;
    }
    page->card(placement)->setDownloadNotice(notice);
}

}  // namespace

// ---- LanguagePickerCard

LanguagePickerCard::LanguagePickerCard(const QString& iconName, const QString& title, const QString& detail,
                                       std::function<void()> onOpenTranslationSetup, QWidget* parent)
    : QFrame(parent), onOpenTranslationSetup_(std::move(onOpenTranslationSetup)) {
    setMinimumHeight(176);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    auto* icon = new QLabel(this);
    QPixmap pixmap = QIcon::fromTheme(iconName).pixmap(19, 19);
    icon->setPixmap(pixmap);
    icon->setVisible(!pixmap.isNull());
    header->addWidget(icon);
    header->addWidget(label(title, 14, QFont::DemiBold, false, this));
    header->addStretch(1);
    column->addLayout(header);
    QLabel* detailLabel = label(detail, 12, QFont::Normal, true, this);
    detailLabel->setWordWrap(true);
    column->addWidget(detailLabel);
    picker_ = new QComboBox(this);
    picker_->setAccessibleName(title);
    column->addWidget(picker_);
    column->addStretch(1);
    connect(picker_, &QComboBox::activated, this, [this](int index) {
        const QVariant value = picker_->itemData(index);
        if (value.isValid()) {
            Q_EMIT picked(static_cast<AppLanguage>(value.toInt()));
        }
    });
}

void LanguagePickerCard::setLanguages(const std::vector<AppLanguage>& languages, AppLanguage selection) {
    const QSignalBlocker blocker(picker_);
    if (this->languages() != languages) {
        picker_->clear();
        for (AppLanguage language : languages) {
            picker_->addItem(displayName(language), static_cast<int>(language));
        }
    }
    picker_->setCurrentIndex(picker_->findData(static_cast<int>(selection)));
}

std::vector<AppLanguage> LanguagePickerCard::languages() const {
    std::vector<AppLanguage> result;
    for (int i = 0; i < picker_->count(); ++i) {
        result.push_back(static_cast<AppLanguage>(picker_->itemData(i).toInt()));
    }
    return result;
}

AppLanguage LanguagePickerCard::selection() const {
    const QVariant value = picker_->currentData();
    return value.isValid() ? static_cast<AppLanguage>(value.toInt()) : AppLanguage::automatic;
}

void LanguagePickerCard::setDownloadNotice(const std::optional<TranslationDownloadNotice>& notice) {
    closePopover();
    notice_ = notice;
    if (!notice_ || !isVisible()) {
        return;
    }
    const QPointer<LanguagePickerCard> self(this);
    auto* popup = new TranslationNoticePopover(
        *notice_, onOpenTranslationSetup_,
        [self] {
            if (self) {
                self->notice_.reset();
                self->popover_.clear();
            }
        },
        this);
    // Under the picker, its left edge on the picker's.
    popup->move(picker_->mapToGlobal(QPoint(0, picker_->height() + 4)));
    popover_ = popup;
    popup->show();
}

void LanguagePickerCard::closePopover() {
    if (auto* popup = static_cast<TranslationNoticePopover*>(popover_.data())) {
        popover_.clear();
        popup->closeByOwner();
    }
}

void LanguagePickerCard::paintEvent(QPaintEvent*) {
    paintRoundedBox(this, controlBackground(palette()), separator(palette()));
}

// ---- LanguageSetupIllustration

LanguageSetupIllustration::LanguageSetupIllustration(
    std::shared_ptr<OnboardingViewModel> viewModel,
    std::shared_ptr<TranslationSetupSupport> localTranslationSetupSupport, std::function<void()> onOpenTranslationSetup,
    std::function<void()> onRequestDisableOnlineFeatures, QWidget* parent)
    : QWidget(parent),
      viewModel_(std::move(viewModel)),
      setupSupport_(std::move(localTranslationSetupSupport)),
      onRequestDisableOnlineFeatures_(std::move(onRequestDisableOnlineFeatures)),
      lastOnlineFeatures_(viewModel_->onlineFeaturesEnabled()) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* body = new QWidget(this);
    body->setMaximumWidth(560);
    outer->addWidget(body);
    outer->addStretch(1);
    auto* column = new QVBoxLayout(body);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    auto* cards = new QHBoxLayout;
    cards->setSpacing(14);
    native_ = new LanguagePickerCard(QStringLiteral("user-identity"), QStringLiteral("Native language"),
                                     QStringLiteral("Screenshots and windows are translated into this language."),
                                     onOpenTranslationSetup, body);
    company_ =
        new LanguagePickerCard(QStringLiteral("go-home"), QStringLiteral("Second language"),
                               QStringLiteral("Your text is translated into this language when you use Write message."),
                               onOpenTranslationSetup, body);
    cards->addWidget(native_, 1);
    cards->addWidget(company_, 1);
    column->addLayout(cards);

    class SwitchesBox final : public QFrame {
    public:
        using QFrame::QFrame;

    protected:
        void paintEvent(QPaintEvent*) override { paintRoundedBox(this, controlBackground(palette()), QColor()); }
    };
    auto* box = new SwitchesBox(body);
    auto* switches = new QVBoxLayout(box);
    switches->setContentsMargins(14, 14, 14, 14);
    switches->setSpacing(10);
    const auto caption = [box](const QString& text) {
        QLabel* l = label(text, 11, QFont::Normal, true, box);
        l->setWordWrap(true);
        return l;
    };
    selectionPopup_ = new QCheckBox(QStringLiteral("Show translate button on text selection"), box);
    switches->addWidget(selectionPopup_);
    switches->addWidget(
        caption(QStringLiteral("Displays a small floating button near selected text in other applications.")));
    onlineFeatures_ = new QCheckBox(QStringLiteral("Allow online features"), box);
    switches->addWidget(onlineFeatures_);
    switches->addWidget(caption(QStringLiteral(
        "Online features are required for several language pairs and is disabled, so some languages are unavailable.")));
    telemetry_ = new QCheckBox(QStringLiteral("Send anonymous usage statistics"), box);
    switches->addWidget(telemetry_);
    column->addWidget(box);

    // Why the last choice was not saved, in red as the settings window says it.
    saveMessage_ = label(QString(), 12, QFont::Medium, false, body);
    saveMessage_->setObjectName(QStringLiteral("saveMessage"));
    saveMessage_->setWordWrap(true);
    {
        QPalette red = saveMessage_->palette();
        red.setColor(QPalette::WindowText, QColor(Qt::red));
        saveMessage_->setPalette(red);
    }
    column->addWidget(saveMessage_);

    OnboardingViewModel* model = viewModel_.get();
    connect(native_, &LanguagePickerCard::picked, this, [this, model](AppLanguage language) {
        model->updateNativeLanguage(language);
        refresh();
        checkLanguageDownload(language, Placement::native);
    });
    connect(company_, &LanguagePickerCard::picked, this, [this, model](AppLanguage language) {
        model->updateCompanyLanguage(language);
        refresh();
        checkLanguageDownload(language, Placement::company);
    });
    // The two plain switches save only a real change.
    connect(selectionPopup_, &QCheckBox::clicked, this, [model](bool checked) {
        if (checked != model->selectionPopupEnabled()) {
            model->setSelectionPopupEnabled(checked);
            model->saveLanguageChoices();
        }
    });
    connect(telemetry_, &QCheckBox::clicked, this, [model](bool checked) {
        if (checked != model->telemetryEnabled()) {
            model->setTelemetryEnabled(checked);
            model->saveLanguageChoices();
        }
    });
    // Turning online features on happens at once; turning them off only asks.
    connect(onlineFeatures_, &QCheckBox::clicked, this, [this, model](bool checked) {
        if (checked) {
            model->updateOnlineFeaturesEnabled(true);
        } else if (onRequestDisableOnlineFeatures_) {
            onRequestDisableOnlineFeatures_();
        }
        refresh();
    });

    for (auto signal :
         {&OnboardingViewModel::nativeLanguageChanged, &OnboardingViewModel::companyLanguageChanged,
          &OnboardingViewModel::onlineFeaturesEnabledChanged, &OnboardingViewModel::telemetryEnabledChanged,
          &OnboardingViewModel::selectionPopupEnabledChanged, &OnboardingViewModel::saveErrorChanged}) {
        connect(model, signal, this, &LanguageSetupIllustration::refresh);
    }
    // Queued: the view model is still inside its own change when it signals, and usage
    // statistics follow once that change (with its save) is complete.
    connect(model, &OnboardingViewModel::onlineFeaturesEnabledChanged, this,
            &LanguageSetupIllustration::onlineFeaturesChanged, Qt::QueuedConnection);
    refresh();
}

void LanguageSetupIllustration::refresh() {
    const OnboardingViewModel& model = *viewModel_;
    const std::vector<AppLanguage> languages =
        AppLanguages::filteredCases(AppLanguages::targetCases(), model.onlineFeaturesEnabled());
    native_->setLanguages(languages, model.nativeLanguage());
    company_->setLanguages(languages, model.companyLanguage());
    const auto set = [](QCheckBox* box, bool value) {
        const QSignalBlocker blocker(box);
        box->setChecked(value);
    };
    set(selectionPopup_, model.selectionPopupEnabled());
    set(onlineFeatures_, model.onlineFeaturesEnabled());
    set(telemetry_, model.telemetryEnabled());
    telemetry_->setEnabled(model.onlineFeaturesEnabled());
    saveMessage_->setText(model.saveError().value_or(QString()));
    saveMessage_->setVisible(model.saveError().has_value());
}

void LanguageSetupIllustration::onlineFeaturesChanged() {
    const bool online = viewModel_->onlineFeaturesEnabled();
    if (online == lastOnlineFeatures_) {
        return;
    }
    lastOnlineFeatures_ = online;
    if (viewModel_->telemetryEnabled() != online) {
        viewModel_->setTelemetryEnabled(online);
        viewModel_->saveLanguageChoices();
    }
}

bool LanguageSetupIllustration::isCurrentLanguage(AppLanguage language, Placement placement) const {
    return language == (placement == Placement::native ? viewModel_->nativeLanguage() : viewModel_->companyLanguage());
}

void LanguageSetupIllustration::checkLanguageDownload(AppLanguage language, Placement placement) {
    card(placement)->setDownloadNotice(std::nullopt);
    if (language == AppLanguage::automatic || !setupSupport_) {
        return;
    }
    // Not kept and not cancelled by a later pick: a late answer is dropped by the language
    // comparison when it arrives.
    runDownloadCheck(QPointer<LanguageSetupIllustration>(this), setupSupport_, language, placement);
}

}  // namespace tavrolin
