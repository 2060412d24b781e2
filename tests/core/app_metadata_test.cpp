#include "core/app_metadata.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tavrolin {
namespace {

// Installs an Info dictionary for one test and restores the compiled-in one afterwards.
class ScopedInfo {
public:
    explicit ScopedInfo(QJsonObject values) { InfoDictionary::setMainForTesting(std::move(values)); }
    ~ScopedInfo() { InfoDictionary::setMainForTesting(std::nullopt); }
};

void writeFile(const QString& path, const QByteArray& contents) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
}

TEST(AppMetadataTest, VersionTable) {
    struct Row {
        QJsonObject info;
        QString appVersion;
    };
    const QString s = QStringLiteral("CFBundleShortVersionString");
    const QString b = QStringLiteral("CFBundleVersion");
    const Row rows[] = {
        {QJsonObject{}, QStringLiteral("0.1.0")},
        {QJsonObject{{s, QStringLiteral("1.4.2")}}, QStringLiteral("1.4.2")},
        {QJsonObject{{s, QStringLiteral("1.4.2")}, {b, QStringLiteral("57")}}, QStringLiteral("1.4.2 (57)")},
        {QJsonObject{{s, QStringLiteral("1.4.2")}, {b, QStringLiteral("1.4.2")}}, QStringLiteral("1.4.2")},
        {QJsonObject{{b, QStringLiteral("57")}}, QStringLiteral("0.1.0 (57)")},
        // an empty build (a development build) or a number counts as missing
        {QJsonObject{{s, QStringLiteral("1.4.2")}, {b, QString()}}, QStringLiteral("1.4.2")},
        {QJsonObject{{s, QStringLiteral("1.4.2")}, {b, 57}}, QStringLiteral("1.4.2")},
        // no trimming: blanks are a value
        {QJsonObject{{s, QStringLiteral("2.0")}, {b, QStringLiteral(" ")}}, QStringLiteral("2.0 ( )")},
    };
    for (const auto& row : rows) {
        ScopedInfo info(row.info);
        EXPECT_EQ(AppMetadata::appVersion(), row.appVersion);
        EXPECT_EQ(AppMetadata::userAgent(), QStringLiteral("Tavrolin/") + row.appVersion);
    }
    ScopedInfo none{QJsonObject{}};
    EXPECT_EQ(AppMetadata::appMarketingVersion(), QStringLiteral("0.1.0"));
}

TEST(AppMetadataTest, CompiledInDictionaryCarriesTheProjectVersion) {
    const InfoDictionary info = InfoDictionary::main();
    EXPECT_EQ(info.value(QStringLiteral("CFBundleIdentifier")).toString(), QStringLiteral("org.tavrolin.Tavrolin"));
    const QString version = info.value(QStringLiteral("CFBundleShortVersionString")).toString();
    EXPECT_FALSE(version.isEmpty());
    EXPECT_TRUE(AppMetadata::appVersion().startsWith(version));
}

TEST(AppMetadataTest, BuildInfoFileFillsMissingKeysAndBadFilesCountAsAbsent) {
    QTemporaryDir dir;
    const ResourceLocations locations{dir.filePath(QStringLiteral("bin")), QString(), QString()};
    const QString buildInfo = dir.filePath(QStringLiteral("bin/BuildInfo.json"));
    const InfoDictionary info(QJsonObject{{QStringLiteral("CFBundleVersion"), QString()}});
    const QString key = QStringLiteral("CFBundleVersion");

    EXPECT_EQ(AppMetadata::bundleString(key, info, locations), std::nullopt);

    writeFile(buildInfo, R"({"CFBundleVersion":"88","Other":""})");
    EXPECT_EQ(AppMetadata::bundleString(key, info, locations), QStringLiteral("88"));
    EXPECT_EQ(AppMetadata::bundleString(QStringLiteral("Other"), info, locations), std::nullopt);
    // the dictionary wins over the file
    EXPECT_EQ(AppMetadata::bundleString(key, InfoDictionary(QJsonObject{{key, QStringLiteral("9")}}), locations),
              QStringLiteral("9"));
    // a file another user could have changed is not read
    ASSERT_TRUE(QFile::setPermissions(buildInfo, QFile::permissions(buildInfo) | QFile::WriteOther));
    EXPECT_EQ(AppMetadata::bundleString(key, info, locations), std::nullopt);
    ASSERT_TRUE(QFile::setPermissions(buildInfo, QFile::ReadOwner | QFile::WriteOwner));
    EXPECT_EQ(AppMetadata::bundleString(key, info, locations), QStringLiteral("88"));

    for (const QByteArray& bad : {QByteArray(R"(["CFBundleVersion","88"])"), QByteArray("not json {"),
                                  QByteArray(R"({"CFBundleVersion":88})")}) {
        writeFile(buildInfo, bad);
        EXPECT_EQ(AppMetadata::bundleString(key, info, locations), std::nullopt) << bad.toStdString();
    }
}

TEST(AppMetadataTest, ResourceLookupTakesTheFirstExistingCandidate) {
    QTemporaryDir dir;
    const ResourceLocations locations{dir.filePath(QStringLiteral("prefix/bin")),
                                      dir.filePath(QStringLiteral("configured/share")),
                                      dir.filePath(QStringLiteral("source"))};
    const QStringList candidates = AppMetadata::resourceCandidates(QStringLiteral("AppIcon.png"), locations);
    ASSERT_EQ(candidates.size(), 6);
    EXPECT_EQ(candidates[0], dir.filePath(QStringLiteral("prefix/share/tavrolin/AppIcon.png")));
    EXPECT_EQ(candidates[1], dir.filePath(QStringLiteral("configured/share/tavrolin/AppIcon.png")));
    EXPECT_EQ(candidates[2], dir.filePath(QStringLiteral("prefix/bin/AppIcon.png")));
    EXPECT_EQ(candidates[3], dir.filePath(QStringLiteral("prefix/bin/resources/AppIcon.png")));
    EXPECT_EQ(candidates[4], dir.filePath(QStringLiteral("source/resources/AppIcon.png")));
    EXPECT_EQ(candidates[5], dir.filePath(QStringLiteral("source/packaging/AppIcon.png")));

    EXPECT_EQ(AppMetadata::resourceURL(QStringLiteral("AppIcon.png"), locations), std::nullopt);
    writeFile(candidates[4], "source copy");
    EXPECT_EQ(AppMetadata::resourceURL(QStringLiteral("AppIcon.png"), locations), candidates[4]);
    writeFile(candidates[2], "beside the executable");
    EXPECT_EQ(AppMetadata::resourceURL(QStringLiteral("AppIcon.png"), locations), candidates[2]);
    writeFile(candidates[0], "installed");
    EXPECT_EQ(AppMetadata::resourceURL(QStringLiteral("AppIcon.png"), locations), candidates[0]);

    // a location left empty is skipped, not resolved against the working folder
    EXPECT_EQ(AppMetadata::resourceCandidates(QStringLiteral("x"), ResourceLocations{}).size(), 0);
}

TEST(AppMetadataTest, IconAndBuildSettings) {
    EXPECT_FALSE(AppMetadata::alertIcon().isNull());
    EXPECT_EQ(AppMetadata::websiteURL().scheme(), QStringLiteral("https"));
    EXPECT_TRUE(AppMetadata::websiteURL().path().isEmpty());
    EXPECT_FALSE(AppMetadata::defaultServerBaseURL().endsWith(QLatin1Char('/')));
    EXPECT_TRUE(AppMetadata::supportEmail().contains(QLatin1Char('@')));
}

}  // namespace
}  // namespace tavrolin
