#include "settings_window/confirmation_dialog.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>
#include <memory>

namespace tavrolin {
namespace {

// A host window with the dialog's callbacks recorded in order. The host removes the overlay as
// a real one would: on close, later.
struct DialogHost {
    std::unique_ptr<QWidget> window = std::make_unique<QWidget>();
    QPointer<ConfirmationDialogOverlay> overlay;
    std::vector<std::string> calls;

    explicit DialogHost(bool resetShortcuts = false) {
        window->resize(640, 480);
        window->show();
        const auto onClose = [this] {
            calls.push_back("close");
            if (overlay) {
                overlay->deleteLater();
            }
        };
        const auto onProceed = [this] { calls.push_back("proceed"); };
        overlay = resetShortcuts ? ResetShortcutsConfirmationDialog::show(window.get(), onClose, onProceed)
                                 : DisableOnlineFeaturesDialog::show(window.get(), onClose, onProceed);
    }

    void finishEntry() {
        if (overlay->progress() < 1.0) {
            QSignalSpy finished(overlay.data(), &ConfirmationDialogOverlay::entryAnimationFinished);
            ASSERT_TRUE(finished.wait(2000));
        }
    }
    void settle() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }
};

TEST(ConfirmationDialogTextTest, TextsAreExactWithTheirBlanks) {
    const ConfirmationDialogContent disable = DisableOnlineFeaturesDialog::content();
    EXPECT_EQ(disable.title, u"Disable online features?");
    EXPECT_EQ(
        disable.message,
        u"  You will no longer have access to server   translation, text editing, writing, automatic   app updates, "
        u"or online-exclusive language pairs   until you re-enable online features.");
    EXPECT_EQ(disable.destructiveTitle, u"Disable");
    EXPECT_EQ(disable.cancelTitle, u"Cancel");

    const ConfirmationDialogContent reset = ResetShortcutsConfirmationDialog::content();
    EXPECT_EQ(reset.title, u"Reset all shortcuts?");
    EXPECT_EQ(
        reset.message,
        u"This will restore all shortcuts to their default values. Your translation and other settings will remain "
        u"unchanged.");
    EXPECT_EQ(reset.destructiveTitle, u"Reset");
    EXPECT_EQ(reset.cancelTitle, u"Cancel");

    // The label shows the text as it is (plain text keeps the blanks).
    DialogHost host;
    EXPECT_EQ(host.overlay->dialog()->messageLabel()->text(), disable.message);
    EXPECT_EQ(host.overlay->dialog()->messageLabel()->textFormat(), Qt::PlainText);
}

enum class Gesture { returnKey, enterKey, escapeKey, cancelButton, confirmButton, backdropClick, cardClick };

struct GestureCase {
    const char* name;
    Gesture gesture;
    std::vector<std::string> expected;
};

class ConfirmationDialogGestureTest : public testing::TestWithParam<GestureCase> {};

TEST_P(ConfirmationDialogGestureTest, AnswersAsTheUserMeant) {
    for (const bool resetShortcuts : {false, true}) {
        DialogHost host(resetShortcuts);
        host.finishEntry();
        ConfirmationDialogOverlay* overlay = host.overlay;
        ConfirmationDialog* card = overlay->dialog();
        switch (GetParam().gesture) {
        case Gesture::returnKey:
            // The focus sits on a button: Return still confirms.
            card->cancelButton()->setFocus();
            QTest::keyClick(card->cancelButton(), Qt::Key_Return);
            break;
        case Gesture::enterKey:
            QTest::keyClick(overlay, Qt::Key_Enter);
            break;
        case Gesture::escapeKey:
            card->destructiveButton()->setFocus();
            QTest::keyClick(card->destructiveButton(), Qt::Key_Escape);
            break;
        case Gesture::cancelButton:
            QTest::mouseClick(card->cancelButton(), Qt::LeftButton);
            break;
        case Gesture::confirmButton:
            QTest::mouseClick(card->destructiveButton(), Qt::LeftButton);
            break;
        case Gesture::backdropClick:
            QTest::mouseClick(overlay, Qt::LeftButton, {}, QPoint(5, 5));
            break;
        case Gesture::cardClick:
            QTest::mouseClick(card, Qt::LeftButton, {}, QPoint(card->width() / 2, 6));
            break;
        }
        EXPECT_EQ(host.calls, GetParam().expected) << (resetShortcuts ? "reset" : "disable");
        host.settle();
        EXPECT_EQ(host.overlay.isNull(), !GetParam().expected.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Gestures, ConfirmationDialogGestureTest,
                         testing::Values(GestureCase{"Return", Gesture::returnKey, {"proceed", "close"}},
                                         GestureCase{"Enter", Gesture::enterKey, {"proceed", "close"}},
                                         GestureCase{"ConfirmButton", Gesture::confirmButton, {"proceed", "close"}},
                                         GestureCase{"Escape", Gesture::escapeKey, {"close"}},
                                         GestureCase{"CancelButton", Gesture::cancelButton, {"close"}},
                                         GestureCase{"Backdrop", Gesture::backdropClick, {"close"}},
                                         GestureCase{"InsideCard", Gesture::cardClick, {}}),
                         [](const testing::TestParamInfo<GestureCase>& info) { return std::string(info.param.name); });

TEST(ConfirmationDialogOverlayTest, KeysWorkDuringTheEntryAnimation) {
    DialogHost host;
    ASSERT_LT(host.overlay->progress(), 1.0);
    QTest::keyClick(host.overlay.data(), Qt::Key_Escape);
    EXPECT_EQ(host.calls, std::vector<std::string>{"close"});
}

TEST(ConfirmationDialogOverlayTest, EntryAnimationDimsGrowsAndReplaysForAFreshDialog) {
    for (int showing = 0; showing < 2; ++showing) {
        DialogHost host;
        ConfirmationDialogOverlay* overlay = host.overlay;
        EXPECT_TRUE(overlay->isDimmed());
        EXPECT_LT(overlay->progress(), 1.0);
        EXPECT_FALSE(overlay->dialog()->isVisible());
        QElapsedTimer timer;
        timer.start();
        host.finishEntry();
        EXPECT_GE(timer.elapsed(), ConfirmationDialogOverlay::animationMs / 2);
        EXPECT_DOUBLE_EQ(overlay->progress(), 1.0);
        EXPECT_TRUE(overlay->dialog()->isVisible());
        // The backdrop covers the whole window at 30 % black; the card sits in the middle.
        EXPECT_EQ(overlay->geometry(), host.window->rect());
        const QImage image = host.window->grab().toImage();
        const QColor corner = image.pixelColor(2, 2);
        const QColor window = host.window->palette().color(QPalette::Window);
        EXPECT_NEAR(corner.redF(), window.redF() * 0.7, 0.02);
        EXPECT_EQ(overlay->dialog()->geometry().center(), overlay->rect().center());
    }
}

TEST(ConfirmationDialogOverlayTest, FollowsTheHostsSizeAndALongMessageOnlyMakesTheCardTaller) {
    QWidget window;
    window.resize(500, 700);
    window.show();
    ConfirmationDialogContent content = ResetShortcutsConfirmationDialog::content();
    const int shortHeight = [&] {
        ConfirmationDialogOverlay overlay(&window, {},
                                          [&](QWidget* p) { return new ConfirmationDialog(content, {}, {}, p); });
        overlay.show();
        return overlay.dialog()->height();
    }();
    content.message = content.message.repeated(8);
    ConfirmationDialogOverlay overlay(&window, {},
                                      [&](QWidget* p) { return new ConfirmationDialog(content, {}, {}, p); });
    overlay.show();
    EXPECT_EQ(overlay.dialog()->width(), ConfirmationDialog::cardWidth);
    EXPECT_GT(overlay.dialog()->height(), shortHeight + 60);

    window.resize(800, 900);
    EXPECT_EQ(overlay.geometry(), window.rect());
    EXPECT_EQ(overlay.dialog()->geometry().center(), overlay.rect().center());
}

}  // namespace
}  // namespace tavrolin
