#pragma once

// Keeps the login-time start of the application in step with the setting launchAtLoginEnabled,
// through an XDG autostart entry: $XDG_CONFIG_HOME/autostart/org.tavrolin.Tavrolin.desktop
// whose Exec is the absolute path of the running executable. The entry counts as enabled while
// it exists and is not marked Hidden. A program that does not run from the installed bin folder
// (a build tree, say) never touches the entry: it would register a path that goes away.

#include <QString>

#include <exception>
#include <optional>
#include <string>

namespace tavrolin {

class LaunchAtLoginError final : public std::exception {
public:
    enum class Case { enableFailed, disableFailed };

    LaunchAtLoginError(Case errorCase, QString underlying);

    static LaunchAtLoginError enableFailed(QString underlying) { return {Case::enableFailed, std::move(underlying)}; }
    static LaunchAtLoginError disableFailed(QString underlying) { return {Case::disableFailed, std::move(underlying)}; }

    Case errorCase() const { return case_; }
    // What went wrong below (a file system message).
    const QString& underlying() const { return underlying_; }
    QString description() const;
    QString recoverySuggestion() const;
    const char* what() const noexcept override { return what_.c_str(); }

private:
    Case case_;
    QString underlying_;
    std::string what_;
};

class LaunchAtLoginController final {
public:
    static inline const QString entryFileName = QStringLiteral("org.tavrolin.Tavrolin.desktop");

    struct Options {
        // The running executable; empty: QCoreApplication::applicationFilePath().
        QString executablePath;
        // The install prefix's bin folder; empty: the one this build installs into.
        QString installedBinDirectory;
        // Where autostart entries live; empty: $XDG_CONFIG_HOME/autostart (~/.config/autostart).
        QString autostartDirectory;
    };

    LaunchAtLoginController();
    explicit LaunchAtLoginController(Options options);

    // Brings the entry in line with the wanted state. Answers whether the registration waits
    // for the user's approval, which never happens with autostart entries: always false.
    // Throws LaunchAtLoginError when the entry cannot be written or removed.
    bool sync(bool isEnabled) const;

    // Whether the entry exists and is not hidden.
    bool isEnabled() const;
    // Whether the executable runs from the installed bin folder.
    bool runsFromInstalledLocation() const;

    QString entryPath() const;
    QString executablePath() const;

    // The entry's text for an executable.
    static QString entryContents(const QString& executablePath);
    // The Exec value that runs exactly this path (quoted and escaped for the entry format).
    static QString execValue(const QString& executablePath);

private:
    struct Entry {
        bool hidden = false;
        std::optional<QString> exec;
    };
    std::optional<Entry> readEntry() const;

    Options options_;
};

}  // namespace tavrolin
