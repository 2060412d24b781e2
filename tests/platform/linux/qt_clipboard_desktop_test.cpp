#include "platform/linux/qt_clipboard.h"

#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QProcess>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// A paste waits for its program while the user copies in one of our own windows: that copy
// is the user's clipboard now, not ours to replace.
TEST(QtClipboardTest, HoldsItsOwnContentsOnlyUntilAnythingElseIsCopied) {
    QtClipboard paste;
    QtClipboard copyWindow;
    paste.setText("pasted result");
    EXPECT_TRUE(paste.holdsOwnContents());
    copyWindow.setText("copied by the user");
    EXPECT_FALSE(paste.holdsOwnContents());
    EXPECT_TRUE(copyWindow.holdsOwnContents());
    QApplication::clipboard()->setText("a link copied elsewhere in the program");
    EXPECT_FALSE(copyWindow.holdsOwnContents());
    paste.setContents({{"text/plain", "restored"}});
    EXPECT_TRUE(paste.holdsOwnContents());
}

// A clipboard reader of its own, an X client apart from this one. Its request is answered by
// this process's event loop, so it is waited for with the loop running.
class ClipboardReader {
public:
    explicit ClipboardReader(const QString& target = QStringLiteral("UTF8_STRING")) {
        process_.start("xclip", {"-o", "-selection", "clipboard", "-t", target});
        process_.waitForStarted();
        processId_ = process_.processId();
    }
    qint64 processId() const { return processId_; }
    // What it got; absent when the owner refused (xclip fails then).
    std::optional<QString> result() {
        const QDeadlineTimer deadline(5000);
        while (process_.state() != QProcess::NotRunning && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            process_.waitForFinished(10);
        }
        if (process_.exitStatus() != QProcess::NormalExit || process_.exitCode() != 0) {
            return std::nullopt;
        }
        return QString::fromUtf8(process_.readAllStandardOutput());
    }

private:
    QProcess process_;
    qint64 processId_ = 0;
};

// The user copies in another program while this one owns the clipboard, and this one, holding
// that copy for them, writes it before its event loop has seen its ownership end (Qt's take is
// refused, and taken again with the server's time). The SelectionClear handled afterwards must
// not leave the clipboard owned with nothing in it: a reader gets the held copy.
TEST(QtClipboardTest, AClearSeenAfterTheClipboardWasTakenAgainLeavesWhatWasWrittenLast) {
    QtClipboard clipboard;
    clipboard.setText("what the user had copied before");
    ASSERT_EQ(ClipboardReader().result(), QStringLiteral("what the user had copied before"));
    // xclip takes the clipboard and stays to serve it; this process's loop does not run meanwhile.
    // Its first process returns before the one that stays has taken the clipboard: another
    // reader shows when it has (a read this loop would have to answer is cut short).
    ASSERT_EQ(QProcess::execute("sh", {"-c", "printf %s 'copied in another program' | xclip -selection clipboard"}), 0);
    const QDeadlineTimer taken(5000);
    while (QProcess::execute(
               "sh", {"-c", "test \"$(timeout 0.5 xclip -o -selection clipboard)\" = 'copied in another program'"}) !=
           0) {
        ASSERT_FALSE(taken.hasExpired()) << "xclip never took the clipboard";
    }
    clipboard.setContents({{"text/plain;charset=utf-8", "the copy, held"}, {"text/plain", "the copy, held"}});
    const QDeadlineTimer settle(300);
    while (!settle.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    EXPECT_EQ(ClipboardReader().result(), QStringLiteral("the copy, held"));
}

// While a paste waits for its program, that program alone gets the pasted text; every other
// program reading the clipboard (a paste elsewhere, a clipboard manager) gets the user's, and
// only the target's fetches count for the paste. (The windows named here belong to no client:
// the readers are known by their processes.)
TEST(QtClipboardTest, AnOfferedTextGoesToItsProgramAloneAndEveryoneElseGetsTheClipboard) {
    QtClipboard clipboard;
    clipboard.setContents({{"text/plain", "the user's text"}});
    ClipboardReader target;
    ASSERT_GT(target.processId(), 0);
    clipboard.offerTextTo(target.processId(), 1, QString::fromUtf8("pasted \u00e9t\u00e9 😀"));
    ClipboardReader other;
    EXPECT_EQ(target.result(), QString::fromUtf8("pasted \u00e9t\u00e9 😀"));
    EXPECT_EQ(other.result(), "the user's text");
    EXPECT_EQ(clipboard.ownDataFetchesBy(target.processId(), 0), 1u);
    EXPECT_EQ(clipboard.ownDataFetchesBy(other.processId(), 0), 1u);

    // The target is told the offered formats, and refused any other.
    ClipboardReader targets(QStringLiteral("TARGETS"));
    ClipboardReader image(QStringLiteral("image/png"));
    clipboard.offerTextTo(targets.processId(), 2, "pasted");
    clipboard.offerTextTo(image.processId(), 3, "pasted");
    const std::optional<QString> offered = targets.result();
    ASSERT_TRUE(offered);
    EXPECT_TRUE(offered->contains("UTF8_STRING")) << offered->toStdString();
    EXPECT_FALSE(offered->contains("image/png"));
    EXPECT_EQ(image.result(), std::nullopt);

    // An empty user clipboard stays owned for the offer's sake: the target still gets its text.
    ClipboardReader lateTarget;
    clipboard.offerTextTo(lateTarget.processId(), 4, "pasted");
    clipboard.clear();
    ClipboardReader lateOther;
    EXPECT_EQ(lateTarget.result(), "pasted");
    EXPECT_EQ(lateOther.result().value_or(QString()), QString()) << "nothing, as from an empty clipboard";

    // Withdrawn: the target gets the clipboard like everyone else.
    ClipboardReader again;
    const quint64 offer = clipboard.offerTextTo(again.processId(), 5, "pasted");
    clipboard.withdrawOffer(offer);
    clipboard.setContents({{"text/plain", "the user's text"}});
    EXPECT_EQ(again.result(), "the user's text");

    // The window's next paste replaced the offer: withdrawing the older one leaves it standing.
    ClipboardReader replaced;
    const quint64 older = clipboard.offerTextTo(replaced.processId(), 8, "older");
    clipboard.offerTextTo(replaced.processId(), 8, "newer");
    clipboard.withdrawOffer(older);
    EXPECT_EQ(replaced.result(), "newer");
}

}  // namespace
}  // namespace tavrolin
