#include "window_translation/translation_picker.h"

#include "support/fakes/held_availability_client.h"
#include "window_translation/translation_setup_notice_view.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <gtest/gtest.h>

using namespace tavrolin;
using Availability = TranslationPairAvailability;

namespace {

using A = AppLanguage;

std::vector<AppLanguage> menuLanguages(const QComboBox* menu) {
    std::vector<AppLanguage> languages;
    for (int i = 0; i < menu->count(); ++i) {
        languages.push_back(*fromRawValue<AppLanguage>(menu->itemData(i).toString()));
    }
    return languages;
}

void choose(QComboBox* menu, AppLanguage language) {
    menu->setCurrentIndex(menu->findData(rawValue(language)));
}

bool contains(const std::vector<AppLanguage>& languages, AppLanguage language) {
    return std::find(languages.begin(), languages.end(), language) != languages.end();
}

struct Picker {
    std::shared_ptr<test::HeldAvailabilityClient> client = std::make_shared<test::HeldAvailabilityClient>();
    std::shared_ptr<TranslationSetupSupport> support = std::make_shared<TranslationSetupSupport>(
        client, [] { return true; },
        [](AppLanguage source, AppLanguage target) {
            return source == A::french && target == A::spanish
                       ? std::optional<QString>(QStringLiteral("apertium-fr-es"))
                       : std::nullopt;
        });
    int cancels = 0;
    int setupOpenings = 0;
    std::vector<TranslationLanguagePair> applied;
    std::unique_ptr<TranslationPickerView> view;

    explicit Picker(TranslationLanguagePair pair, bool online = false, bool withSupport = true) {
        TranslationPickerView::Callbacks callbacks;
        callbacks.onCancel = [this] { ++cancels; };
        callbacks.onApply = [this](TranslationLanguagePair chosen) { applied.push_back(chosen); };
        callbacks.onOpenTranslationSetup = [this] { ++setupOpenings; };
        view = std::make_unique<TranslationPickerView>(pair, withSupport ? support : nullptr, online,
                                                       std::move(callbacks));
    }
};

}  // namespace

TEST(TranslationPickerPair, OfflineThePairIsMovedOffTheServerOnlyLanguage) {
    struct Case {
        TranslationLanguagePair shown;
        bool online;
        TranslationLanguagePair opened;
    };
    const Case cases[] = {
        {{A::automatic, A::hebrew}, false, {A::automatic, A::russian}},
        {{A::russian, A::hebrew}, false, {A::russian, A::english}},
        {{A::hebrew, A::french}, false, {A::automatic, A::french}},
        {{A::german, A::german}, false, {A::german, A::russian}},
        {{A::automatic, A::russian}, false, {A::automatic, A::russian}},
        {{A::hebrew, A::hebrew}, false, {A::automatic, A::russian}},
        // Online nothing changes, not even an unusable pair.
        {{A::automatic, A::hebrew}, true, {A::automatic, A::hebrew}},
        {{A::german, A::german}, true, {A::german, A::german}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(initialTranslationPickerPair(c.shown, c.online), c.opened)
            << rawValue(c.shown.source).toStdString() << "->" << rawValue(c.shown.target).toStdString() << " online "
            << c.online;
    }
}

TEST(TranslationPickerView, TheMenusOfferNoHebrewOfflineAndNeverAnAutomaticTarget) {
    Picker offline({A::automatic, A::russian}, false, false);
    const auto sources = menuLanguages(offline.view->sourceMenu());
    const auto targets = menuLanguages(offline.view->targetMenu());
    EXPECT_EQ(sources.front(), A::automatic);
    EXPECT_FALSE(contains(sources, A::hebrew));
    EXPECT_FALSE(contains(targets, A::hebrew));
    EXPECT_FALSE(contains(targets, A::automatic));
    EXPECT_EQ(targets.size(), 19u);
    EXPECT_EQ(offline.view->sourceMenu()->currentText(), QStringLiteral("Auto Detect"));
    EXPECT_EQ(offline.view->targetMenu()->currentText(), QStringLiteral("Russian"));

    Picker online({A::automatic, A::hebrew}, true, false);
    EXPECT_FALSE(contains(menuLanguages(online.view->sourceMenu()), A::hebrew));
    EXPECT_TRUE(contains(menuLanguages(online.view->targetMenu()), A::hebrew));
    EXPECT_EQ(online.view->pair(), (TranslationLanguagePair{A::automatic, A::hebrew}));
}

TEST(TranslationPickerView, AnInvalidPairShowsTheHintDisablesApplyAndChecksNothing) {
    Picker picker({A::english, A::spanish});
    ASSERT_EQ(picker.client->questions.size(), 1u);
    picker.client->answer(0, Availability::installed);
    ASSERT_TRUE(picker.view->applyButton()->isEnabled());
    EXPECT_TRUE(picker.view->invalidPairHint()->isHidden());

    choose(picker.view->targetMenu(), A::english);
    EXPECT_FALSE(picker.view->invalidPairHint()->isHidden());
    EXPECT_EQ(picker.view->invalidPairHint()->text(), QStringLiteral("Choose different source and target languages."));
    EXPECT_FALSE(picker.view->applyButton()->isEnabled());
    EXPECT_FALSE(picker.view->isCheckingTranslationDownloadNotice());
    EXPECT_EQ(picker.client->questions.size(), 1u) << "no check for an unusable pair";
    QTest::keyClick(picker.view.get(), Qt::Key_Return);
    EXPECT_TRUE(picker.applied.empty());

    // Back to a usable pair: checked again, Return applies it once.
    choose(picker.view->sourceMenu(), A::french);
    EXPECT_TRUE(picker.view->invalidPairHint()->isHidden());
    ASSERT_EQ(picker.client->questions.size(), 2u);
    EXPECT_FALSE(picker.view->applyButton()->isEnabled()) << "not while the check runs";
    picker.client->answer(1, Availability::installed);
    EXPECT_TRUE(picker.view->applyButton()->isEnabled());
    QTest::keyClick(picker.view.get(), Qt::Key_Return);
    picker.view->applyButton()->click();
    EXPECT_EQ(picker.applied, (std::vector<TranslationLanguagePair>{{A::french, A::english}}));
}

TEST(TranslationPickerView, OnlyTheNewestPairsAnswerCounts) {
    Picker picker({A::english, A::spanish});
    choose(picker.view->targetMenu(), A::french);
    ASSERT_EQ(picker.client->questions.size(), 2u);
    EXPECT_EQ(picker.client->questions[1]->target, A::french);

    // The older pair's answer arrives first: still checking the newer one.
    picker.client->answer(0, Availability::supported);
    EXPECT_TRUE(picker.view->isCheckingTranslationDownloadNotice());
    EXPECT_FALSE(picker.view->translationDownloadNotice());
    EXPECT_FALSE(picker.view->applyButton()->isEnabled());

    picker.client->answer(1, Availability::installed);
    EXPECT_FALSE(picker.view->isCheckingTranslationDownloadNotice());
    EXPECT_FALSE(picker.view->translationDownloadNotice());
    EXPECT_TRUE(picker.view->applyButton()->isEnabled());

    // And the other way round: a late "needs installing" for an older pair shows nothing.
    choose(picker.view->targetMenu(), A::german);
    choose(picker.view->targetMenu(), A::italian);
    picker.client->answer(3, Availability::installed);
    picker.client->answer(2, Availability::supported);
    EXPECT_FALSE(picker.view->translationDownloadNotice());
    EXPECT_EQ(picker.view->noticeView(), nullptr);
    EXPECT_TRUE(picker.view->applyButton()->isEnabled());
}

TEST(TranslationPickerView, APairThatNeedsInstallingShowsTheNoticeAndKeepsApplyOff) {
    Picker picker({A::french, A::spanish});
    picker.client->answer(0, Availability::supported);
    ASSERT_TRUE(picker.view->translationDownloadNotice());
    ASSERT_NE(picker.view->noticeView(), nullptr);
    EXPECT_EQ(picker.view->noticeView()->titleLabel()->text(), QStringLiteral("Translation Languages Need Installing"));
    EXPECT_TRUE(picker.view->noticeView()->messageLabel()->text().contains(QStringLiteral("apertium-fr-es")))
        << picker.view->noticeView()->messageLabel()->text().toStdString();
    EXPECT_FALSE(picker.view->applyButton()->isEnabled());
    QTest::keyClick(picker.view.get(), Qt::Key_Return);
    EXPECT_TRUE(picker.applied.empty());

    // Its button opens the setup step and leaves the notice as it is.
    picker.view->noticeView()->setupButton()->click();
    EXPECT_EQ(picker.setupOpenings, 1);
    EXPECT_TRUE(picker.view->translationDownloadNotice());

    // Escape cancels once.
    QTest::keyClick(picker.view.get(), Qt::Key_Escape);
    picker.view->cancelButton()->click();
    EXPECT_EQ(picker.cancels, 1);
}

TEST(TranslationPickerView, AViewClosedWhileItsCheckRunsTakesNoAnswer) {
    auto picker = std::make_unique<Picker>(TranslationLanguagePair{A::english, A::spanish});
    auto client = picker->client;
    picker->view.reset();
    client->answer(0, Availability::supported);  // must not touch the deleted view
    EXPECT_EQ(client->openCount(), 0u);
}

TEST(TranslationPickerGeometry, TheOutlineHasItsArrowTip74FromTheRightAndRoundedCorners) {
    const QRectF panel(0, 0, 320, 200);
    EXPECT_EQ(TranslationPickerPopoverGeometry::arrowCenterX(panel), 246);
    const QPainterPath path = TranslationPickerPopoverGeometry::visiblePath(panel);
    EXPECT_TRUE(path.contains(QPointF(246, 2))) << "just below the tip";
    EXPECT_FALSE(path.contains(QPointF(230, 2))) << "beside the arrow, above the body";
    EXPECT_FALSE(path.contains(QPointF(1, 11))) << "outside the top-left corner's curve";
    EXPECT_FALSE(path.contains(QPointF(319, 199))) << "outside the bottom-right corner's curve";
    EXPECT_TRUE(path.contains(QPointF(5, 25)));
    EXPECT_TRUE(path.contains(QPointF(160, 100)));
    EXPECT_EQ(path.boundingRect(), panel);

    // Narrow outlines keep the arrow 34 from either edge; an offset rectangle moves it along.
    EXPECT_EQ(TranslationPickerPopoverGeometry::arrowCenterX(QRectF(0, 0, 90, 50)), 34);
    EXPECT_EQ(TranslationPickerPopoverGeometry::arrowCenterX(QRectF(0, 0, 60, 50)), 26);
    EXPECT_EQ(TranslationPickerPopoverGeometry::arrowCenterX(QRectF(100, 40, 320, 200)), 346);
}

TEST(TranslationPickerGeometry, ThePanelHangsBelowTheBadgeOrAboveItAndStaysOnItsScreen) {
    const std::vector<PickerScreen> screens{{QRect(0, 0, 1920, 1080), QRect(0, 0, 1920, 1050)},
                                            {QRect(1920, 0, 1280, 1024), QRect(1920, 30, 1280, 994)}};
    const QRect badge(1500, 100, 150, 30);
    // Below: 6 under the badge, right edges together.
    EXPECT_EQ(translationPickerFrame(badge, 150, screens, std::nullopt), QRect(1330, 136, 320, 200));
    EXPECT_EQ(translationPickerFrame(badge, 260, screens, std::nullopt), QRect(1330, 136, 320, 260));

    // Exactly room below (bottom on the available area's edge) stays below; a pixel less goes above.
    EXPECT_EQ(translationPickerFrame(QRect(1500, 814, 150, 30), 0, screens, std::nullopt).y(), 850);
    EXPECT_EQ(translationPickerFrame(QRect(1500, 815, 150, 30), 0, screens, std::nullopt).y(), 815 - 6 - 200);

    // At the left edge the panel is pushed right onto the screen.
    EXPECT_EQ(translationPickerFrame(QRect(10, 100, 150, 30), 0, screens, std::nullopt), QRect(0, 136, 320, 200));

    // On the second screen its own available area counts (its top bar included).
    EXPECT_EQ(translationPickerFrame(QRect(2000, 0, 100, 20), 0, screens, std::nullopt), QRect(1920, 30, 320, 200));

    // A badge on no screen: the primary's area; none at all: a frame of the panel's own size.
    EXPECT_EQ(translationPickerFrame(QRect(5000, 100, 150, 30), 0, screens, QRect(0, 0, 1920, 1050)),
              QRect(1600, 136, 320, 200));
    EXPECT_EQ(translationPickerFrame(QRect(5000, 100, 150, 30), 0, {}, std::nullopt), QRect(0, 0, 320, 200));
    EXPECT_EQ(translationPickerFrame(QRect(500, 100, 150, 30), 0, {{QRect(0, 0, 1920, 1080), QRect()}}, std::nullopt),
              QRect(0, 0, 320, 200));
}

TEST(TranslationPickerPanel, TheCornersBesideTheArrowTakeNoClicks) {
    Picker picker({A::english, A::spanish}, false, false);
    TranslationPickerPanel panel(picker.view.release());
    panel.resize(320, 220);
    panel.show();
    // The window's shape is its hit test: the corners and the strip beside the arrow are not in it.
    const QRegion shape = panel.mask();
    EXPECT_TRUE(shape.contains(QPoint(160, 100)));
    EXPECT_TRUE(shape.contains(QPoint(246, 4)));
    EXPECT_FALSE(shape.contains(QPoint(4, 4)));
    EXPECT_FALSE(shape.contains(QPoint(300, 5)));
    EXPECT_FALSE(shape.contains(QPoint(0, 219)));
    EXPECT_TRUE(shape.contains(QPoint(0, 110)));
    // The content sits below the arrow, as wide as the panel.
    EXPECT_EQ(panel.pickerView()->geometry(), QRect(0, 10, 320, 210));
}

TEST(TranslationPickerView, ContentThatGrowsOrShrinksSaysSo) {
    Picker picker({A::french, A::spanish});
    std::vector<int> heights;
    picker.view->onContentChanged = [&] { heights.push_back(picker.view->heightForWidth(320)); };
    const int plain = picker.view->heightForWidth(320);
    picker.client->answer(0, Availability::supported);
    ASSERT_EQ(heights.size(), 1u);
    EXPECT_GT(heights.back(), plain + 60) << "the notice needs room";
    choose(picker.view->targetMenu(), A::english);
    ASSERT_EQ(heights.size(), 2u);
    EXPECT_EQ(heights.back(), plain) << "back to the plain content while the next check runs";
    picker.client->answer(1, Availability::installed);
}
