#pragma once

// The language page: the native and second language cards with their install notices, and the
// three switches (translate button on selection, online features, usage statistics).

#include "core/app_language.h"
#include "language/translation_setup_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QLabel;

namespace tavrolin {

class OnboardingViewModel;

// One language card: icon, title, detail and a picker; under the picker a popover shows the
// card's install notice while there is one. Dismissing the popover clears the notice.
class LanguagePickerCard final : public QFrame {
    Q_OBJECT
public:
    LanguagePickerCard(const QString& iconName, const QString& title, const QString& detail,
                       std::function<void()> onOpenTranslationSetup, QWidget* parent = nullptr);

    // The entries and the one shown; picking does not change what is shown by itself.
    void setLanguages(const std::vector<AppLanguage>& languages, AppLanguage selection);
    std::vector<AppLanguage> languages() const;
    AppLanguage selection() const;
    QComboBox* picker() const { return picker_; }

    void setDownloadNotice(const std::optional<TranslationDownloadNotice>& notice);
    const std::optional<TranslationDownloadNotice>& downloadNotice() const { return notice_; }
    QWidget* popover() const { return popover_; }

Q_SIGNALS:
    // The user picked an entry (also the one already chosen).
    void picked(AppLanguage language);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void closePopover();

    QComboBox* picker_ = nullptr;
    std::function<void()> onOpenTranslationSetup_;
    std::optional<TranslationDownloadNotice> notice_;
    QPointer<QWidget> popover_;
};

class LanguageSetupIllustration final : public QWidget {
    Q_OBJECT
public:
    enum class Placement { native, company };

    LanguageSetupIllustration(std::shared_ptr<OnboardingViewModel> viewModel,
                              std::shared_ptr<TranslationSetupSupport> localTranslationSetupSupport,
                              std::function<void()> onOpenTranslationSetup,
                              std::function<void()> onRequestDisableOnlineFeatures, QWidget* parent = nullptr);

    LanguagePickerCard* card(Placement placement) const { return placement == Placement::native ? native_ : company_; }
    QCheckBox* selectionPopupCheckBox() const { return selectionPopup_; }
    QCheckBox* onlineFeaturesCheckBox() const { return onlineFeatures_; }
    QCheckBox* telemetryCheckBox() const { return telemetry_; }
    // Shown while the view model holds a refused save's message.
    QLabel* saveMessageLabel() const { return saveMessage_; }

    // After a pick: clears the card's notice and asks, off to the side, whether translating into
    // the language needs data installed. An answer that arrives after the card's language moved
    // on is dropped. Nothing is asked for automatic.
    void checkLanguageDownload(AppLanguage language, Placement placement);
    bool isCurrentLanguage(AppLanguage language, Placement placement) const;

private:
    void refresh();
    void onlineFeaturesChanged();

    std::shared_ptr<OnboardingViewModel> viewModel_;
    std::shared_ptr<TranslationSetupSupport> setupSupport_;
    std::function<void()> onRequestDisableOnlineFeatures_;
    LanguagePickerCard* native_ = nullptr;
    LanguagePickerCard* company_ = nullptr;
    QCheckBox* selectionPopup_ = nullptr;
    QCheckBox* onlineFeatures_ = nullptr;
    QCheckBox* telemetry_ = nullptr;
    QLabel* saveMessage_ = nullptr;
    // The value usage statistics last followed: only real changes of online features move them.
    bool lastOnlineFeatures_ = true;
};

}  // namespace tavrolin
