#pragma once

#include <QIcon>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

namespace tavrolin {

// The application's Info dictionary: key/value settings compiled into the program as the JSON
// resource ":/Info.json" (version, build number, identifier; a packager may add endpoint keys).
class InfoDictionary {
public:
    InfoDictionary() = default;
    explicit InfoDictionary(QJsonObject values) : values_(std::move(values)) {}

    // The dictionary in use: the compiled-in one, or the one a test installed.
    static InfoDictionary main();
    // Replaces the main dictionary (tests); std::nullopt restores the compiled-in one.
    static void setMainForTesting(std::optional<QJsonObject> values);

    // Undefined when the key is missing.
    QJsonValue value(const QString& key) const { return values_.value(key); }
    const QJsonObject& values() const { return values_; }

private:
    QJsonObject values_;
};

// Where resource files are looked for, in order (see AppMetadata::resourceCandidates).
struct ResourceLocations {
    QString executableDirectory;   // the folder of the running executable
    QString installDataDirectory;  // <install prefix>/share, as configured at build time
    // The source tree the program was built from, for a program run from inside its build folder
    // (enclosingBuildFolder); empty for an installed one, which reads nothing there.
    QString sourceDirectory;

    static ResourceLocations current();
};

// Which application this is: name, versions, icon and resource files. No state: every read
// goes back to the Info dictionary and the disk.
struct AppMetadata {
    AppMetadata() = delete;

    static inline const QString appName = QStringLiteral("Tavrolin");
    static inline const QString bundleIdentifier = QStringLiteral("org.tavrolin.Tavrolin");

    // Build settings (TAVROLIN_WEBSITE_URL, TAVROLIN_SUPPORT_EMAIL).
    static QUrl websiteURL();
    static QString supportEmail();
    // The built-in server base URL (TAVROLIN_SERVER_BASE_URL), without a trailing "/".
    static QString defaultServerBaseURL();

    // "CFBundleShortVersionString", else "0.1.0".
    static QString appMarketingVersion();
    // The marketing version, plus " (<build>)" when the build ("CFBundleVersion") is known and
    // differs from it.
    static QString appVersion();
    // "Tavrolin/" + appVersion(): the User-Agent of every server request.
    static QString userAgent();

    // A non-empty string value of the Info dictionary; else the same key of the optional file
    // "BuildInfo.json" (a JSON object of strings) found by resourceURL, read only when no other
    // user than this one and root could have changed it (openTrustedFile). No trimming.
    static std::optional<QString> bundleString(const QString& key);
    static std::optional<QString> bundleString(const QString& key, const InfoDictionary& info,
                                               const ResourceLocations& locations);

    // The first existing file among the candidates for `name`, as an absolute path.
    static std::optional<QString> resourceURL(const QString& name);
    static std::optional<QString> resourceURL(const QString& name, const ResourceLocations& locations);
    // In order: the installed share folder beside the executable (<exe>/../share/tavrolin), the
    // configured install share folder, beside the executable, its "resources" folder, the source
    // tree's "resources" and "packaging" folders. Empty locations are skipped.
    static QStringList resourceCandidates(const QString& name, const ResourceLocations& locations);

    // The icon of alerts and the tray: the compiled-in icon, else "AppIcon.png" or "AppIcon.svg"
    // found by resourceURL, else the application's window icon.
    static QIcon alertIcon();
};

}  // namespace tavrolin
