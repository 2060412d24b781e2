#include "shell/launch_at_login_controller.h"

#include "core/linux_wording.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace tavrolin {

#ifndef TAVROLIN_INSTALL_BIN_DIR
#define TAVROLIN_INSTALL_BIN_DIR "/usr/local/bin"
#endif

LaunchAtLoginError::LaunchAtLoginError(Case errorCase, QString underlying)
    : case_(errorCase), underlying_(std::move(underlying)), what_(description().toStdString()) {}

QString LaunchAtLoginError::description() const {
    const QString lead = case_ == Case::enableFailed ? QStringLiteral("Tavrolin couldn't enable launch at login. ")
                                                     : QStringLiteral("Tavrolin couldn't disable launch at login. ");
    return lead + underlying_;
}

QString LaunchAtLoginError::recoverySuggestion() const {
    return linuxWording(
        u"Open System Settings > General > Login Items and check whether Tavrolin is allowed to "
        u"open at login.");
}

LaunchAtLoginController::LaunchAtLoginController() : LaunchAtLoginController(Options{}) {}

LaunchAtLoginController::LaunchAtLoginController(Options options) : options_(std::move(options)) {
    if (options_.installedBinDirectory.isEmpty()) {
        options_.installedBinDirectory = QStringLiteral(TAVROLIN_INSTALL_BIN_DIR);
    }
    if (options_.autostartDirectory.isEmpty()) {
        QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (config.isEmpty() || !QDir::isAbsolutePath(config)) {
            config = QDir::homePath() + QStringLiteral("/.config");
        }
        options_.autostartDirectory = config + QStringLiteral("/autostart");
    }
}

QString LaunchAtLoginController::executablePath() const {
    return options_.executablePath.isEmpty() ? QCoreApplication::applicationFilePath() : options_.executablePath;
}

QString LaunchAtLoginController::entryPath() const {
    return QDir(options_.autostartDirectory).filePath(entryFileName);
}

bool LaunchAtLoginController::runsFromInstalledLocation() const {
    const QFileInfo executable(executablePath());
    const QFileInfo installed(options_.installedBinDirectory);
    if (!executable.isAbsolute() || !installed.exists()) {
        return false;
    }
    return QFileInfo(executable.absolutePath()).canonicalFilePath() == installed.canonicalFilePath();
}

QString LaunchAtLoginController::execValue(const QString& executablePath) {
    // Quoted argument: ", `, $ and \ take a backslash; then the string level doubles every
    // backslash, and % is doubled for the field-code expansion.
    QString quoted;
    for (const QChar c : executablePath) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\') {
            quoted += u'\\';
        }
        quoted += c;
    }
    quoted.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

QString LaunchAtLoginController::entryContents(const QString& executablePath) {
    return QStringLiteral(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Tavrolin\n"
               "Comment=Read and write in a second language in any application\n"
               "Exec=%1\n"
               "Icon=org.tavrolin.Tavrolin\n"
               "Terminal=false\n"
               "X-GNOME-Autostart-enabled=true\n")
        .arg(execValue(executablePath));
}

std::optional<LaunchAtLoginController::Entry> LaunchAtLoginController::readEntry() const {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    Entry entry;
    bool inMainGroup = false;
    // An entry is small; a huge file is not ours to parse to the end.
    const QByteArray data = file.read(64 * 1024);
    for (const QByteArray& rawLine : data.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup) {
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (equals < 0) {
            continue;
        }
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "Hidden") {
            entry.hidden = value == "true";
        } else if (key == "Exec") {
            entry.exec = QString::fromUtf8(value);
        }
    }
    return entry;
}

bool LaunchAtLoginController::isEnabled() const {
    const auto entry = readEntry();
    return entry && !entry->hidden;
}

bool LaunchAtLoginController::sync(bool isEnabled) const {
    if (!runsFromInstalledLocation()) {
        return false;
    }
    const auto entry = readEntry();
    const bool enabled = entry && !entry->hidden;
    const QString executable = executablePath();

    if (isEnabled) {
        // An entry that already starts this executable is left alone; one that starts a path
        // that moved is rewritten, or the next login would start nothing.
        if (enabled && entry->exec == execValue(executable)) {
            return false;
        }
        if (executable.contains(u'\n') || executable.contains(u'\r')) {
            throw LaunchAtLoginError::enableFailed(
                QStringLiteral("The program's path cannot be written into an autostart entry."));
        }
        if (!QDir().mkpath(options_.autostartDirectory)) {
            throw LaunchAtLoginError::enableFailed(
                QStringLiteral("The folder %1 could not be created.").arg(options_.autostartDirectory));
        }
        QSaveFile file(entryPath());
        if (!file.open(QIODevice::WriteOnly)) {
            throw LaunchAtLoginError::enableFailed(file.errorString());
        }
        file.write(entryContents(executable).toUtf8());
        if (!file.commit()) {
            throw LaunchAtLoginError::enableFailed(file.errorString());
        }
        return false;
    }

    if (!enabled) {
        return false;
    }
    QFile file(entryPath());
    if (!file.remove()) {
        throw LaunchAtLoginError::disableFailed(file.errorString());
    }
    return false;
}

}  // namespace tavrolin
