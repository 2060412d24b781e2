#include "diagnostics/diagnostics_metadata.h"

#include "core/app_metadata.h"

#include <QJsonDocument>
#include <QSysInfo>

namespace tavrolin {

QString diagnosticsISODate(const QDateTime& time) {
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss'Z'"));
}

DiagnosticsSettingsSnapshot DiagnosticsSettingsSnapshot::from(const AppSettings& settings) {
    DiagnosticsSettingsSnapshot snapshot;
    snapshot.targetLanguage = rawValue(settings.targetLanguage);
    snapshot.messageTargetLanguage = rawValue(settings.messageTargetLanguage);
    if (settings.dictationLanguage) {
        snapshot.dictationLanguage = rawValue(*settings.dictationLanguage);
    }
    snapshot.launchAtLoginEnabled = settings.launchAtLoginEnabled;
    snapshot.telemetryEnabled = settings.telemetryEnabled;
    snapshot.onlineFeaturesEnabled = settings.onlineFeaturesEnabled;
    snapshot.autoImproveOnDictationStop = settings.autoImproveOnDictationStop;
    snapshot.selectionPopupAutoDismissDelay = settings.selectionPopupAutoDismissDelay;
    snapshot.overlayMinimumDisplayDuration = settings.overlayMinimumDisplayDuration;
    return snapshot;
}

QJsonObject DiagnosticsSettingsSnapshot::toJson() const {
    QJsonObject object{
        {QStringLiteral("targetLanguage"), targetLanguage},
        {QStringLiteral("messageTargetLanguage"), messageTargetLanguage},
        {QStringLiteral("launchAtLoginEnabled"), launchAtLoginEnabled},
        {QStringLiteral("telemetryEnabled"), telemetryEnabled},
        {QStringLiteral("onlineFeaturesEnabled"), onlineFeaturesEnabled},
        {QStringLiteral("autoImproveOnDictationStop"), autoImproveOnDictationStop},
        {QStringLiteral("selectionPopupAutoDismissDelay"), selectionPopupAutoDismissDelay},
        {QStringLiteral("overlayMinimumDisplayDuration"), overlayMinimumDisplayDuration},
    };
    if (dictationLanguage) {
        object.insert(QStringLiteral("dictationLanguage"), *dictationLanguage);
    }
    return object;
}

QString DiagnosticsMetadata::buildArchitecture() {
#if defined(__x86_64__)
    return QStringLiteral("x86_64");
#elif defined(__aarch64__)
    return QStringLiteral("arm64");
#elif defined(__i386__)
    return QStringLiteral("i386");
#elif defined(__arm__)
    return QStringLiteral("arm");
#elif defined(__riscv) && __riscv_xlen == 64
    return QStringLiteral("riscv64");
#elif defined(__powerpc64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    return QStringLiteral("ppc64le");
#elif defined(__s390x__)
    return QStringLiteral("s390x");
#else
    // Qt's name for the processor it was compiled for: the same build, another spelling.
    return QSysInfo::buildCpuArchitecture();
#endif
}

QString DiagnosticsMetadata::operatingSystemDescription() {
    return QStringLiteral("%1 (kernel %2)").arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion());
}

DiagnosticsMetadata DiagnosticsMetadata::current(const QDateTime& generatedAt,
                                                 const DiagnosticsSettingsSnapshot& settings) {
    DiagnosticsMetadata metadata;
    metadata.appName = AppMetadata::appName;
    metadata.appVersion = AppMetadata::appMarketingVersion();
    metadata.appBuild = AppMetadata::bundleString(QStringLiteral("CFBundleVersion")).value_or(QStringLiteral("0"));
    metadata.bundleIdentifier = AppMetadata::bundleString(QStringLiteral("CFBundleIdentifier"));
    metadata.generatedAt = generatedAt;
    metadata.macOSVersion = operatingSystemDescription();
    metadata.architecture = buildArchitecture();
    metadata.settings = settings;
    return metadata;
}

QJsonObject DiagnosticsMetadata::toJson() const {
    QJsonObject object{
        {QStringLiteral("appName"), appName},
        {QStringLiteral("appVersion"), appVersion},
        {QStringLiteral("appBuild"), appBuild},
        {QStringLiteral("generatedAt"), diagnosticsISODate(generatedAt)},
        {QStringLiteral("macOSVersion"), macOSVersion},
        {QStringLiteral("architecture"), architecture},
        {QStringLiteral("settings"), settings.toJson()},
    };
    if (bundleIdentifier) {
        object.insert(QStringLiteral("bundleIdentifier"), *bundleIdentifier);
    }
    return object;
}

QByteArray DiagnosticsMetadata::encoded() const {
    // QJsonObject keeps its keys in sorted order, and writes them so, at every level.
    return QJsonDocument(toJson()).toJson(QJsonDocument::Indented);
}

}  // namespace tavrolin
