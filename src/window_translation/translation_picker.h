#pragma once

#include "core/app_language.h"
#include "language/translation_setup_support.h"

#include <QPainterPath>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QVBoxLayout;

namespace tavrolin {

class TranslationSetupNoticeView;

// The outline of the overlay's language picker: a rounded body with an arrow on its top edge
// pointing up at the badge. Qt coordinates, y down.
struct TranslationPickerPopoverGeometry {
    TranslationPickerPopoverGeometry() = delete;

    static constexpr qreal width = 320;
    static constexpr int minimumHeight = 200;
    static constexpr qreal arrowHeight = 10;
    static constexpr qreal arrowHalfWidth = 11;
    static constexpr qreal arrowInsetFromRight = 74;
    static constexpr qreal arrowMinimumInset = 34;
    static constexpr qreal cornerRadius = 10;
    static constexpr int badgeGap = 6;

    // The arrow's centre: 74 from the right edge, but at least 34 from either edge.
    static qreal arrowCenterX(const QRectF& rect);
    static QPainterPath visiblePath(const QRectF& rect);
};

// One screen as the placement sees it.
struct PickerScreen {
    QRect geometry;
    QRect availableGeometry;
};

// Where the picker goes for a badge (global coordinates) and a content height: 6 below the
// badge with its right edge on the badge's, or 6 above it when there is no room below, kept
// inside the available area of the first screen that meets the badge (else the primary's).
// The height is never below the minimum.
QRect translationPickerFrame(const QRect& anchor, int contentHeight, const std::vector<PickerScreen>& screens,
                             const std::optional<QRect>& primaryAvailableGeometry);

// The pair the picker opens with. Offline the server-only language cannot be chosen: a Hebrew
// source becomes automatic, a Hebrew target Russian, and a target equal to a fixed source
// Russian (English when the source is Russian).
TranslationLanguagePair initialTranslationPickerPair(TranslationLanguagePair pair, bool onlineFeaturesEnabled);

// The content: a title, a note that only this overlay changes, the two language menus, a hint
// for an unusable pair, the setup notice when the pair needs installing, Cancel and Apply.
// Every change of a menu checks the pair again; only the newest check's answer counts.
class TranslationPickerView final : public QWidget {
    Q_OBJECT

public:
    static inline const QString titleText = QStringLiteral("Translate This Screenshot");
    static inline const QString noteText =
        QStringLiteral("This only updates the current overlay and does not change app settings.");
    static inline const QString invalidPairText = QStringLiteral("Choose different source and target languages.");

    struct Callbacks {
        std::function<void()> onCancel;
        std::function<void(TranslationLanguagePair)> onApply;
        // The notice's button.
        std::function<void()> onOpenTranslationSetup;
    };

    TranslationPickerView(TranslationLanguagePair initialPair, std::shared_ptr<TranslationSetupSupport> setupSupport,
                          bool onlineFeaturesEnabled, Callbacks callbacks, QWidget* parent = nullptr);

    TranslationLanguagePair pair() const;
    const std::optional<TranslationDownloadNotice>& translationDownloadNotice() const { return notice_; }
    bool isCheckingTranslationDownloadNotice() const { return checking_; }
    bool canApply() const;

    // Called after the content changed (the hint or the notice came or went), so that the host
    // can give it the height it now needs.
    std::function<void()> onContentChanged;

    // Starts the check for the pair shown; an earlier check still running is outrun.
    void refreshTranslationDownloadNotice();

    QComboBox* sourceMenu() const { return sourceMenu_; }
    QComboBox* targetMenu() const { return targetMenu_; }
    QLabel* invalidPairHint() const { return invalidHint_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* applyButton() const { return applyButton_; }
    TranslationSetupNoticeView* noticeView() const { return noticeView_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QComboBox* addLanguageMenu(QLayout* row, const QString& title, const std::vector<AppLanguage>& languages,
                               AppLanguage selected);
    void apply();
    void cancel();
    void updateState();

    std::shared_ptr<TranslationSetupSupport> setupSupport_;
    Callbacks callbacks_;
    std::optional<TranslationDownloadNotice> notice_;
    bool checking_ = false;
    quint64 checkGeneration_ = 0;
    bool done_ = false;

    QVBoxLayout* column_ = nullptr;
    QComboBox* sourceMenu_ = nullptr;
    QComboBox* targetMenu_ = nullptr;
    QLabel* invalidHint_ = nullptr;
    TranslationSetupNoticeView* noticeView_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* applyButton_ = nullptr;
};

// Draws the popover (opaque body, thin outline) and holds the content below the arrow.
class TranslationPickerContainerView final : public QWidget {
    Q_OBJECT

public:
    explicit TranslationPickerContainerView(TranslationPickerView* content, QWidget* parent = nullptr);
    TranslationPickerView* content() const { return content_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    TranslationPickerView* content_;
};

// The picker's window: frameless, above the overlay, activated so that its menus and keys work.
// Its window mask is the popover's outline: the corners beside the arrow are not part of it and
// clicks there reach the window below.
class TranslationPickerPanel final : public QWidget {
    Q_OBJECT

public:
    explicit TranslationPickerPanel(TranslationPickerView* content);

    TranslationPickerContainerView* containerView() const { return container_; }
    TranslationPickerView* pickerView() const { return container_->content(); }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TranslationPickerContainerView* container_;
};

}  // namespace tavrolin
