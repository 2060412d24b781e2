#include "core/defaults_store.h"

#include "support/fakes/memory_log_sink.h"
#include "support/file_permission_checks.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <sys/stat.h>

using namespace tavrolin;

namespace {

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

unsigned modeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0xFFFF;
}

void setMode(const QString& path, unsigned mode) {
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

}  // namespace

TEST(DefaultsStoreReads, ConvertLikeAPreferencesStore) {
    InMemoryDefaultsStore store;
    store.setInteger("n", 42);
    store.setDouble("d", 2.75);
    store.setString("numeric", " 17 ");
    store.setString("fraction", "-3.9");
    store.setString("word", "hello");
    store.setBool("flag", true);
    store.setString("yes", "YES");

    EXPECT_EQ(store.string("n"), "42");
    EXPECT_EQ(store.string("d"), "2.75");
    EXPECT_EQ(store.string("flag"), "1");
    EXPECT_EQ(store.integer("numeric"), 17);
    EXPECT_EQ(store.integer("fraction"), -3);  // toward zero
    EXPECT_EQ(store.integer("d"), 2);
    EXPECT_DOUBLE_EQ(store.doubleValue("numeric"), 17.0);
    EXPECT_TRUE(store.boolValue("n"));
    EXPECT_TRUE(store.boolValue("yes"));
    EXPECT_TRUE(store.boolValue("numeric"));

    // Anything unreadable gives the caller's fallback, never a made-up value.
    EXPECT_EQ(store.integer("word", -7), -7);
    EXPECT_DOUBLE_EQ(store.doubleValue("word", 1.5), 1.5);
    EXPECT_TRUE(store.boolValue("word", true));
    EXPECT_EQ(store.string("missing", "fb"), "fb");
    EXPECT_FALSE(store.date("n").has_value());
    EXPECT_FALSE(store.dataIfPresent("word").has_value());
    store.setString("huge", "1e300");
    EXPECT_EQ(store.integer("huge", 5), 5);
    store.setString("nan", "nan");
    EXPECT_DOUBLE_EQ(store.doubleValue("nan", 4.0), 4.0);
    EXPECT_FALSE(store.setDouble("inf", std::numeric_limits<double>::infinity()));
    EXPECT_FALSE(store.contains("inf"));
}

TEST(DefaultsStoreReads, DataAndDatesRoundTripAndStayTyped) {
    InMemoryDefaultsStore store;
    const QByteArray bytes("\0\x01{\"a\":1}\xff", 11);
    store.setData("blob", bytes);
    const QDateTime when(QDate(2026, 3, 29), QTime(1, 30, 15, 250), Qt::UTC);
    store.setDate("when", when);

    EXPECT_EQ(store.data("blob"), bytes);
    ASSERT_TRUE(store.date("when").has_value());
    EXPECT_EQ(*store.date("when"), when);
    EXPECT_EQ(store.integer("when", 9), 9);
    EXPECT_EQ(store.string("blob", "x"), "x");
    EXPECT_FALSE(store.date("blob").has_value());
}

TEST(JsonFileDefaultsStore, PersistsAcrossInstancesAndRemoves) {
    QTemporaryDir dir;
    const QString path = dir.filePath("cfg/tavrolin/defaults.json");
    {
        JsonFileDefaultsStore store(path);
        EXPECT_TRUE(store.setString("deviceID", "ABC"));
        EXPECT_TRUE(store.setData("appSettings", "{\"x\":1}"));
        EXPECT_TRUE(store.setInteger("count", 3));
        EXPECT_TRUE(store.remove("count"));
    }
    JsonFileDefaultsStore reopened(path);
    EXPECT_EQ(reopened.string("deviceID"), "ABC");
    EXPECT_EQ(reopened.data("appSettings"), QByteArray("{\"x\":1}"));
    EXPECT_FALSE(reopened.contains("count"));
    EXPECT_TRUE(reopened.lastError().isEmpty());
}

TEST(JsonFileDefaultsStore, CorruptFileIsSetAsideNotDeleted) {
    QTemporaryDir dir;
    const QString path = dir.filePath("defaults.json");
    for (const QByteArray& garbage :
         {QByteArray("{\"deviceID\": \"A"), QByteArray("[1,2,3]"), QByteArray("\xff\xfe\x00", 3)}) {
        writeFile(path, garbage);
        JsonFileDefaultsStore store(path);
        EXPECT_FALSE(store.contains("deviceID"));
        ASSERT_FALSE(store.setAsidePath().isEmpty());
        QFile aside(store.setAsidePath());
        ASSERT_TRUE(aside.open(QIODevice::ReadOnly));
        EXPECT_EQ(aside.readAll(), garbage);
        aside.remove();
        // The store keeps working after the set-aside.
        EXPECT_TRUE(store.setString("k", "v"));
        store.flush();
        EXPECT_EQ(JsonFileDefaultsStore(path).string("k"), "v");
    }
}

TEST(JsonFileDefaultsStore, UnwritableFolderIsReportedAndNothingIsPretended) {
    if (geteuid() == 0) {
        // root ignores permission bits; a path under a regular file cannot be created either way
    }
    QTemporaryDir dir;
    writeFile(dir.filePath("blocker"), "file, not a folder");
    JsonFileDefaultsStore store(dir.filePath("blocker/tavrolin/defaults.json"));
    EXPECT_FALSE(store.setString("k", "v"));
    EXPECT_FALSE(store.lastError().isEmpty());
    EXPECT_FALSE(store.contains("k"));
}

// The file is written off the caller's thread: a read right after a change sees it, the last
// of many changes is what the file holds, and a change the disk refuses after it was taken is
// not lost but goes out with the next write, and the last write before the end is made.
TEST(JsonFileDefaultsStore, ChangesAreServedAtOnceWrittenInOrderAndNoneIsLost) {
    QTemporaryDir dir;
    const QString folder = dir.filePath("tavrolin");
    const QString path = folder + "/defaults.json";
    {
        JsonFileDefaultsStore store(path);
        for (int i = 0; i < 100; ++i) {
            ASSERT_TRUE(store.setInteger("count", i));
            ASSERT_EQ(store.integer("count"), i);
        }
        store.flush();
        EXPECT_EQ(JsonFileDefaultsStore(path).integer("count"), 99);

        // The folder gone, a file in its place: the write fails after the change was taken.
        ASSERT_TRUE(QDir().rename(folder, folder + ".away"));
        writeFile(folder, "not a folder");
        test::ScopedLogCapture log;
        EXPECT_TRUE(store.setString("deviceID", "0A1B"));
        store.flush();
        EXPECT_FALSE(store.lastError().isEmpty());
        EXPECT_EQ(store.string("deviceID"), "0A1B");
        EXPECT_EQ(log.messages(LogCategory::app).filter("defaults_write_failed").size(), 1);
        ASSERT_TRUE(QFile::remove(folder));
        ASSERT_TRUE(QDir().rename(folder + ".away", folder));
        EXPECT_TRUE(store.setBool("flag", true));
    }
    JsonFileDefaultsStore reopened(path);
    EXPECT_EQ(reopened.integer("count"), 99);
    EXPECT_EQ(reopened.string("deviceID"), "0A1B");
    EXPECT_TRUE(reopened.boolValue("flag"));
}

TEST(JsonFileDefaultsStore, DefaultPathFollowsXdgConfigHome) {
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/xdg-test-config");
    EXPECT_EQ(JsonFileDefaultsStore::defaultFilePath(), "/tmp/xdg-test-config/tavrolin/defaults.json");
    qputenv("XDG_CONFIG_HOME", "relative/path");  // not absolute: ignored, as the XDG rules say
    EXPECT_TRUE(JsonFileDefaultsStore::defaultFilePath().endsWith("/.config/tavrolin/defaults.json"));
    qputenv("XDG_CONFIG_HOME", saved);
}

// A file the user cannot read at the moment (a mode changed by hand, a folder closed by a
// backup tool) still holds their settings: nothing is written over it, and the log says why.
TEST(JsonFileDefaultsStore, AFileThatCannotBeReadIsLeftAsItIsAndNotWrittenOver) {
    const QByteArray stored = R"({"deviceID": "0A1B", "sharePromptDisabledForever": true, "appSettings": {}})";
    struct Case {
        const char* name;
        unsigned fileMode;
        unsigned folderMode;
    };
    for (const Case& c : {Case{"a file at mode 0200", 0200, 0700}, Case{"a folder at mode 0000", 0600, 0}}) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = dir.filePath("tavrolin");
        const QString path = folder + "/defaults.json";
        writeFile(path, stored);
        setMode(path, c.fileMode);
        setMode(folder, c.folderMode);
        {
            test::ScopedLogCapture log;
            test::ScopedFilePermissionChecks asTheUser;
            JsonFileDefaultsStore store(path);
            EXPECT_TRUE(store.foundUnreadableData());
            EXPECT_FALSE(store.contains("deviceID"));
            EXPECT_FALSE(store.setString("deviceID", "NEW"));
            EXPECT_FALSE(store.setDate("appUpdateLastCheckDate", QDateTime::currentDateTimeUtc()));
            EXPECT_FALSE(store.contains("deviceID")) << "a value that was not stored is not served either";
            EXPECT_TRUE(store.lastError().contains(path)) << store.lastError().toStdString();
            const QStringList lines = log.messages(LogCategory::app);
            ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
            EXPECT_TRUE(lines.first().startsWith("defaults_read_failed ")) << lines.first().toStdString();
            EXPECT_TRUE(lines.first().contains(path)) << lines.first().toStdString();
            EXPECT_TRUE(lines.first().contains("nothing is written over it")) << lines.first().toStdString();
        }
        EXPECT_EQ(modeOf(folder), c.folderMode);
        setMode(folder, 0700);
        EXPECT_EQ(modeOf(path), c.fileMode);
        setMode(path, 0600);
        EXPECT_EQ(readFile(path), stored);
        EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{"defaults.json"});
    }
}

// The file keeps what the user wrote and types: only they may read it.
TEST(JsonFileDefaultsStore, TheFileAndItsFolderAreTheUsersAlone) {
    QTemporaryDir dir;
    // Created: the folders that were missing and the file.
    const QString config = dir.filePath("config");
    const QString path = config + "/tavrolin/defaults.json";
    {
        JsonFileDefaultsStore store(path);
        ASSERT_TRUE(store.setString("deviceID", "0A1B"));
    }
    EXPECT_EQ(modeOf(config), 0700u);
    EXPECT_EQ(modeOf(config + "/tavrolin"), 0700u);
    EXPECT_EQ(modeOf(path), 0600u);

    // Found open to others, as an earlier version left them: closed at the next start.
    setMode(config + "/tavrolin", 0755);
    setMode(path, 0644);
    {
        JsonFileDefaultsStore store(path);
        EXPECT_EQ(modeOf(config + "/tavrolin"), 0700u);
        EXPECT_EQ(modeOf(path), 0600u);
        ASSERT_TRUE(store.setString("deviceID", "0A1C"));
        store.flush();
        EXPECT_EQ(modeOf(path), 0600u) << "a rewrite keeps the file closed";
    }

    // A folder every user shares (sticky, as /tmp) is not ours to close.
    const QString shared = dir.filePath("shared");
    QDir().mkpath(shared);
    setMode(shared, 01777);
    {
        JsonFileDefaultsStore store(shared + "/defaults.json");
        ASSERT_TRUE(store.setString("deviceID", "0A1D"));
    }
    EXPECT_EQ(modeOf(shared), 01777u);
    EXPECT_EQ(modeOf(shared + "/defaults.json"), 0600u);
}
