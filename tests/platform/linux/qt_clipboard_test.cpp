#include "platform/linux/qt_clipboard.h"

#include "support/async.h"

#include <QApplication>
#include <QClipboard>
#include <QMimeData>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

TEST(QtClipboardTest, SavesEveryFormatButProtocolTargetsAndOversizedData) {
    QStringList skipped;
    QtClipboard clipboard(
        [&](const QString& format, qsizetype size) { skipped << QString("%1:%2").arg(format).arg(size); }, 16);
    auto* data = new QMimeData;
    data->setData("text/plain", "small text");
    data->setData("image/png", QByteArray("\x89PNG\0\1", 6));
    data->setData("application/x-huge", QByteArray(17, 'x'));
    data->setData("TARGETS", "ignored");
    data->setData("TIMESTAMP", "ignored");
    QApplication::clipboard()->setMimeData(data);

    const ClipboardContents saved = test::await(clipboard.readContents()).value();
    const ClipboardContents expected = {{"text/plain", "small text"}, {"image/png", QByteArray("\x89PNG\0\1", 6)}};
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(skipped, QStringList({"application/x-huge:17"}));

    clipboard.setText("marker");
    EXPECT_EQ(test::await(clipboard.readText()), "marker");
    EXPECT_EQ(test::await(clipboard.readHtml()), std::nullopt);
    clipboard.setContents(saved);
    EXPECT_EQ(test::await(clipboard.readContents()), std::optional(expected));
    EXPECT_EQ(test::await(clipboard.readText()), "small text");

    clipboard.setContents({});
    EXPECT_EQ(test::await(clipboard.readContents()), std::optional(ClipboardContents()));
    EXPECT_EQ(test::await(clipboard.readText()), std::nullopt);
}

TEST(QtClipboardTest, ReadsHtmlBesidePlainText) {
    QtClipboard clipboard;
    auto* data = new QMimeData;
    data->setText("a b");
    data->setHtml("<p>a</p><p>b</p>");
    QApplication::clipboard()->setMimeData(data);
    EXPECT_EQ(test::await(clipboard.readText()), "a b");
    EXPECT_EQ(test::await(clipboard.readHtml()), "<p>a</p><p>b</p>");
    clipboard.clear();
    EXPECT_EQ(test::await(clipboard.readHtml()), std::nullopt);
}

}  // namespace
}  // namespace tavrolin
