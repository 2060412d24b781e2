#include "core/app_metadata.h"

#include "core/build_config.h"
#include "core/program_files.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPixmap>

#include <mutex>

namespace tavrolin {

namespace {

const QString kShortVersionKey = QStringLiteral("CFBundleShortVersionString");
const QString kBuildKey = QStringLiteral("CFBundleVersion");
const QString kFallbackVersion = QStringLiteral("0.1.0");
// Far more than a few build settings; a larger file is not read whole.
constexpr qint64 kLargestBuildInfo = 1024 * 1024;

struct InfoOverride {
    std::mutex mutex;
    std::optional<QJsonObject> values;
};

InfoOverride& infoOverride() {
    static InfoOverride instance;
    return instance;
}

QJsonObject compiledInInfo() {
    static const QJsonObject values = [] {
        QFile file(QStringLiteral(":/Info.json"));
        if (!file.open(QIODevice::ReadOnly)) {
            return QJsonObject();
        }
        return QJsonDocument::fromJson(file.readAll()).object();
    }();
    return values;
}

std::optional<QString> nonEmptyString(const QJsonValue& value) {
    if (!value.isString() || value.toString().isEmpty()) {
        return std::nullopt;
    }
    return value.toString();
}

}  // namespace

InfoDictionary InfoDictionary::main() {
    InfoOverride& o = infoOverride();
    {
        std::lock_guard lock(o.mutex);
        if (o.values) {
            return InfoDictionary(*o.values);
        }
    }
    return InfoDictionary(compiledInInfo());
}

void InfoDictionary::setMainForTesting(std::optional<QJsonObject> values) {
    InfoOverride& o = infoOverride();
    std::lock_guard lock(o.mutex);
    o.values = std::move(values);
}

ResourceLocations ResourceLocations::current() {
    // The program does not move while it runs: its folders are looked up once.
    static const ResourceLocations locations = [] {
        const QString executableFolder = runningExecutableFolder();
        // Only a program run from inside its build folder looks into the source tree it was built
        // from; an installed one reads nothing there, whatever lies there now.
        const bool inBuildFolder = enclosingBuildFolder(executableFolder).has_value();
        return ResourceLocations{executableFolder, QStringLiteral(TAVROLIN_CONFIG_INSTALL_DATA_DIR),
                                 inBuildFolder ? QStringLiteral(TAVROLIN_CONFIG_SOURCE_DIR) : QString()};
    }();
    return locations;
}

QUrl AppMetadata::websiteURL() {
    static const QUrl url = [] {
        QUrl parsed(QStringLiteral(TAVROLIN_CONFIG_WEBSITE_URL), QUrl::StrictMode);
        Q_ASSERT_X(parsed.isValid(), "AppMetadata::websiteURL", "the configured website is not a URL");
        return parsed;
    }();
    return url;
}

QString AppMetadata::supportEmail() {
    return QStringLiteral(TAVROLIN_CONFIG_SUPPORT_EMAIL);
}

QString AppMetadata::defaultServerBaseURL() {
    QString base = QStringLiteral(TAVROLIN_CONFIG_SERVER_BASE_URL);
    while (base.endsWith(QLatin1Char('/'))) {
        base.chop(1);
    }
    return base;
}

QString AppMetadata::appMarketingVersion() {
    return bundleString(kShortVersionKey).value_or(kFallbackVersion);
}

QString AppMetadata::appVersion() {
    const QString shortVersion = appMarketingVersion();
    const auto build = bundleString(kBuildKey);
    if (!build || *build == shortVersion) {
        return shortVersion;
    }
    return shortVersion + QStringLiteral(" (") + *build + QLatin1Char(')');
}

QString AppMetadata::userAgent() {
    return appName + QLatin1Char('/') + appVersion();
}

std::optional<QString> AppMetadata::bundleString(const QString& key) {
    return bundleString(key, InfoDictionary::main(), ResourceLocations::current());
}

std::optional<QString> AppMetadata::bundleString(const QString& key, const InfoDictionary& info,
                                                 const ResourceLocations& locations) {
    if (auto value = nonEmptyString(info.value(key))) {
        return value;
    }
    const auto buildInfo = resourceURL(QStringLiteral("BuildInfo.json"), locations);
    if (!buildInfo) {
        return std::nullopt;
    }
    // Read only when no other user could have put it there or changed it.
    QString refused;
    const auto content = readTrustedFile(*buildInfo, kLargestBuildInfo, refused);
    if (!content) {
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(*content, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return nonEmptyString(document.object().value(key));
}

QStringList AppMetadata::resourceCandidates(const QString& name, const ResourceLocations& locations) {
    QStringList candidates;
    const auto add = [&](const QString& folder, const QString& relative) {
        if (!folder.isEmpty()) {
            candidates << QFileInfo(folder + QLatin1Char('/') + relative + name).absoluteFilePath();
        }
    };
    add(locations.executableDirectory, QStringLiteral("../share/tavrolin/"));
    add(locations.installDataDirectory, QStringLiteral("tavrolin/"));
    add(locations.executableDirectory, QString());
    add(locations.executableDirectory, QStringLiteral("resources/"));
    add(locations.sourceDirectory, QStringLiteral("resources/"));
    add(locations.sourceDirectory, QStringLiteral("packaging/"));
    return candidates;
}

std::optional<QString> AppMetadata::resourceURL(const QString& name) {
    return resourceURL(name, ResourceLocations::current());
}

std::optional<QString> AppMetadata::resourceURL(const QString& name, const ResourceLocations& locations) {
    if (name.isEmpty()) {
        return std::nullopt;
    }
    for (const QString& candidate : resourceCandidates(name, locations)) {
        if (QFileInfo::exists(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

namespace {

// A PNG read as PNG and nothing else: an icon given only a file name, or a reader left to guess,
// loads every image-format plugin to ask it about the file.
QIcon pngIcon(const QString& path) {
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    const QImage image = reader.read();
    return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

}  // namespace

QIcon AppMetadata::alertIcon() {
    QIcon icon = pngIcon(QStringLiteral(":/icons/AppIcon.png"));
    if (!icon.isNull() && !icon.availableSizes().isEmpty()) {
        return icon;
    }
    for (const QString& name : {QStringLiteral("AppIcon.png"), QStringLiteral("AppIcon.svg")}) {
        if (const auto path = resourceURL(name)) {
            QIcon fromFile = name.endsWith(QStringLiteral(".png")) ? pngIcon(*path) : QIcon(*path);
            if (!fromFile.availableSizes().isEmpty()) {
                return fromFile;
            }
        }
    }
    return QGuiApplication::windowIcon();
}

}  // namespace tavrolin
