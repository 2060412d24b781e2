// The trust walk of the files that decide what the program loads: symbolic links on the way are
// followed as the kernel would, and judged before they are followed.
#include "core/program_files.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrolin {
namespace {

class TrustedFileLinks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(root_.isValid());
        ASSERT_TRUE(QDir().mkpath(path("own/build")));
        ASSERT_TRUE(QDir().mkpath(path("shared")));
        // Writable by all but sticky, as /tmp: others may add links here, never rename ours.
        ASSERT_EQ(chmod(QFile::encodeName(path("shared")).constData(), 01777), 0);
        QFile identity(path("own/build/identity"));
        ASSERT_TRUE(identity.open(QIODevice::WriteOnly));
        identity.write("0123abcd\n");
    }

    QString path(const QString& name) const { return root_.filePath(name); }
    void link(const QString& target, const QString& name) const {
        ASSERT_EQ(symlink(QFile::encodeName(target).constData(), QFile::encodeName(path(name)).constData()), 0)
            << name.toStdString();
    }
    // What the walk reads at `name`, or its refusal.
    std::string read(const QString& name) const {
        QString error;
        const auto content = readTrustedFile(path(name), 256, error);
        return content ? content->toStdString() : "refused: " + error.toStdString();
    }
    static bool startsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }
    static bool endsWith(const std::string& text, const std::string& end) {
        return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
    }

    QTemporaryDir root_;
};

TEST_F(TrustedFileLinks, LinksOfThisUserAreFollowedAsTheKernelWould) {
    link(path("own/build/identity"), "shared/absolute");
    link("../own/build/identity", "shared/relative");
    link("absolute", "shared/chain");
    link("../own", "shared/folder");
    link("build/../build/./identity", "own/dotted");
    EXPECT_EQ(read("shared/absolute"), "0123abcd\n");
    EXPECT_EQ(read("shared/relative"), "0123abcd\n");
    EXPECT_EQ(read("shared/chain"), "0123abcd\n");
    EXPECT_EQ(read("shared/folder/build/identity"), "0123abcd\n");
    EXPECT_EQ(read("own/dotted"), "0123abcd\n");
    // ".." after a link to a folder leaves the folder the link points at, not the link's own.
    EXPECT_EQ(read("shared/folder/build/../build/identity"), "0123abcd\n");

    link("loop-b", "shared/loop-a");
    link("loop-a", "shared/loop-b");
    EXPECT_TRUE(startsWith(read("shared/loop-a"), "refused: ")) << read("shared/loop-a");
    link("missing", "shared/dangling");
    EXPECT_TRUE(startsWith(read("shared/dangling"), "refused: ")) << read("shared/dangling");
    EXPECT_TRUE(startsWith(read("own/build"), "refused: ")) << "a folder is not a file";

    // What a link leads through is judged like any folder on the way.
    ASSERT_EQ(chmod(QFile::encodeName(path("own")).constData(), 0777), 0);
    EXPECT_TRUE(endsWith(read("shared/relative"), "/own is writable by other users")) << read("shared/relative");
    ASSERT_EQ(chmod(QFile::encodeName(path("own")).constData(), 0755), 0);
}

TEST_F(TrustedFileLinks, ALinkOfAnotherUserIsRefusedWhereverItPoints) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give a link to another user";
    }
    // Another user's links in the folder writable by all, pointing at our identity file or at a
    // folder on its way: the other user can point them elsewhere at any moment.
    link(path("own/build/identity"), "shared/to-file");
    link(path("own/build"), "shared/to-folder");
    link("to-file", "shared/ours-to-theirs");
    for (const char* name : {"shared/to-file", "shared/to-folder"}) {
        ASSERT_EQ(lchown(QFile::encodeName(path(name)).constData(), 65534, 65534), 0);
    }
    const std::string link = path("shared/to-file").toStdString();
    EXPECT_EQ(read("shared/to-file"), "refused: " + link + " is refused: " + link + " is a link of another user");
    EXPECT_TRUE(endsWith(read("shared/to-folder/identity"),
                         path("shared/to-folder").toStdString() + " is a link of another user"))
        << read("shared/to-folder/identity");
    EXPECT_TRUE(endsWith(read("shared/ours-to-theirs"), "is a link of another user"))
        << "a link of ours leading to one of theirs";
    // The file itself is ours and read directly.
    EXPECT_EQ(read("own/build/identity"), "0123abcd\n");
}

}  // namespace
}  // namespace tavrolin
