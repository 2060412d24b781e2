#include "window_translation/translation_setup_notice_view.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

const TranslationDownloadNotice kLongNotice{
    QStringLiteral("Translation Languages Need Installing"),
    QStringLiteral("Install the Apertium language data for French and Spanish with your package manager to use "
                   "this translation pair. Run: sudo apt install apertium-fr-es, then choose the languages again.")};

// A host that gives the notice a fixed width, as the popovers do.
struct Host {
    QWidget window;
    TranslationSetupNoticeView* notice;
    int opened = 0;

    explicit Host(int width) {
        auto* column = new QVBoxLayout(&window);
        column->setContentsMargins(0, 0, 0, 0);
        notice = new TranslationSetupNoticeView(
            kLongNotice, [this] { ++opened; }, &window);
        column->addWidget(notice);
        column->addStretch();
        window.setFixedWidth(width);
        window.resize(width, 600);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
};

TEST(TranslationSetupNoticeView, LongMessageWrapsWithinTheWidthAndKeepsTheLeadingEdge) {
    for (const int width : {330, 220}) {
        SCOPED_TRACE(width);
        Host host(width);
        TranslationSetupNoticeView& notice = *host.notice;
        EXPECT_EQ(notice.width(), width);
        // The message takes several lines, each within the box's inner width.
        QLabel& message = *notice.messageLabel();
        EXPECT_LE(message.geometry().right(), width - TranslationSetupNoticeView::inset);
        EXPECT_GT(message.height(), 2 * message.fontMetrics().lineSpacing());
        // The whole notice is as tall as its wrapped content needs.
        EXPECT_GE(notice.height(), notice.heightForWidth(width));
        EXPECT_GE(notice.setupButton()->geometry().bottom(), message.geometry().bottom());
        EXPECT_LE(notice.setupButton()->geometry().bottom(), notice.height() - TranslationSetupNoticeView::inset + 1);
        // Title and button sit on the leading edge, not stretched nor centred.
        EXPECT_EQ(notice.titleLabel()->x(), TranslationSetupNoticeView::inset);
        EXPECT_EQ(notice.setupButton()->x(), TranslationSetupNoticeView::inset);
        EXPECT_LT(notice.setupButton()->width(), width - 2 * TranslationSetupNoticeView::inset);
    }
    // A narrower width asks for more height.
    TranslationSetupNoticeView notice(kLongNotice, {});
    EXPECT_GT(notice.heightForWidth(200), notice.heightForWidth(400));
}

TEST(TranslationSetupNoticeView, ButtonOpensTheSetupStepOnceAndLeavesTheNotice) {
    Host host(330);
    TranslationSetupNoticeView& notice = *host.notice;
    EXPECT_EQ(notice.titleLabel()->text(), kLongNotice.title);
    EXPECT_EQ(notice.messageLabel()->text(), kLongNotice.message);
    EXPECT_EQ(notice.setupButton()->text(), QStringLiteral("Install Languages"));

    QTest::mouseClick(notice.setupButton(), Qt::LeftButton);
    EXPECT_EQ(host.opened, 1);
    EXPECT_TRUE(notice.isVisible());
    EXPECT_EQ(notice.titleLabel()->text(), kLongNotice.title);
    EXPECT_EQ(notice.messageLabel()->text(), kLongNotice.message);

    // Without a callback the button does nothing (and does not crash).
    TranslationSetupNoticeView bare(kLongNotice, {});
    bare.setupButton()->click();
}

}  // namespace
}  // namespace tavrolin
