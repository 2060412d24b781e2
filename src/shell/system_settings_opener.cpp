#include "shell/system_settings_opener.h"

#include "core/app_metadata.h"

#include <QProcess>
#include <QStandardPaths>

namespace tavrolin {

bool DetachedProcessLauncher::launchDetached(const QString& program, const QStringList& arguments) {
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        return false;
    }
    return QProcess::startDetached(path, arguments);
}

SystemSettingsOpener::SystemSettingsOpener(std::shared_ptr<ProgramLaunching> launcher, AlertPresenting& explanations,
                                           QString currentDesktop)
    : launcher_(std::move(launcher)), explanations_(explanations), currentDesktop_(std::move(currentDesktop)) {}

std::vector<SettingsPaneAddress> SystemSettingsOpener::addresses(SystemSettingsPane pane,
                                                                 const QString& currentDesktop) {
    // Screen capture needs no permission on X11, and translation languages and login items
    // have no page in any desktop's settings: those always get the explanation.
    if (pane != SystemSettingsPane::accessibility) {
        return {};
    }
    const QStringList desktops = currentDesktop.toUpper().split(u':', Qt::SkipEmptyParts);
    std::vector<SettingsPaneAddress> result;
    for (const QString& desktop : desktops) {
        if (desktop == QLatin1String("GNOME") || desktop == QLatin1String("UNITY") ||
            desktop == QLatin1String("BUDGIE")) {
            result.push_back({QStringLiteral("gnome-control-center"), {QStringLiteral("universal-access")}});
            result.push_back({QStringLiteral("gnome-control-center"), {QStringLiteral("accessibility")}});
        } else if (desktop == QLatin1String("KDE")) {
            result.push_back({QStringLiteral("systemsettings"), {QStringLiteral("kcm_access")}});
            result.push_back({QStringLiteral("systemsettings5"), {QStringLiteral("kcm_access")}});
        } else if (desktop == QLatin1String("X-CINNAMON") || desktop == QLatin1String("CINNAMON")) {
            result.push_back({QStringLiteral("cinnamon-settings"), {QStringLiteral("universal-access")}});
        } else if (desktop == QLatin1String("XFCE")) {
            result.push_back({QStringLiteral("xfce4-accessibility-settings"), {}});
        } else if (desktop == QLatin1String("MATE")) {
            result.push_back({QStringLiteral("mate-at-properties"), {}});
        }
    }
    return result;
}

Alert SystemSettingsOpener::explanation(SystemSettingsPane pane) {
    Alert alert;
    alert.icon = AppMetadata::alertIcon();
    alert.buttons = {QStringLiteral("OK")};
    switch (pane) {
    case SystemSettingsPane::accessibility:
        alert.title = QStringLiteral("Accessibility on This Desktop");
        alert.message = QStringLiteral(
            "Tavrolin reads and replaces text in other apps through the desktop's accessibility bus (AT-SPI).\n\n"
            "Turn on assistive technologies in your desktop's accessibility settings (with the at-spi2-core "
            "package installed), then try the shortcut again.");
        break;
    case SystemSettingsPane::screenRecording:
        alert.title = QStringLiteral("Screen Capture on This Desktop");
        alert.message = QStringLiteral(
            "Screen capture needs no permission in an X11 session: Tavrolin can already read the screen.\n\n"
            "If capture still fails, make sure you are logged in to an X11 session, then try again.");
        break;
    case SystemSettingsPane::translationLanguages:
        alert.title = QStringLiteral("Translation Languages");
        alert.message = QStringLiteral(
            "Tavrolin translates on this computer with Apertium. Each language pair is a package: install "
            "the pairs you need with your package manager, for example:\n\n"
            "sudo apt install apertium-eng-spa\n\n"
            "Then try the translation again.");
        break;
    case SystemSettingsPane::loginItems:
        alert.title = QStringLiteral("Open at Login");
        alert.message = QStringLiteral(
            "Tavrolin opens at login through an entry in your autostart folder (~/.config/autostart).\n\n"
            "Open your desktop's startup applications settings and make sure Tavrolin is allowed to open at "
            "login.");
        break;
    }
    return alert;
}

bool SystemSettingsOpener::openFirstAvailable(const std::vector<std::optional<SettingsPaneAddress>>& addresses) {
    for (const auto& address : addresses) {
        if (address && !address->program.isEmpty() && launcher_->launchDetached(address->program, address->arguments)) {
            return true;
        }
    }
    return false;
}

void SystemSettingsOpener::open(SystemSettingsPane pane) {
    std::vector<std::optional<SettingsPaneAddress>> candidates;
    for (const auto& address : addresses(pane, currentDesktop_)) {
        candidates.emplace_back(address);
    }
    if (!openFirstAvailable(candidates)) {
        explanations_.present(explanation(pane));
    }
}

}  // namespace tavrolin
