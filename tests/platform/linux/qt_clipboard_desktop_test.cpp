#include "platform/linux/qt_clipboard.h"

#include <QApplication>
#include <QClipboard>

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

}  // namespace
}  // namespace tavrolin
