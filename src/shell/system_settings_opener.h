#pragma once

#include "shell/alert_presenting.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <vector>

namespace tavrolin {

// One way to open a pane: a desktop's own settings program with its arguments.
struct SettingsPaneAddress {
    QString program;
    QStringList arguments;
    bool operator==(const SettingsPaneAddress&) const = default;
};

// Starts programs directly (never through a shell) and lets them run on their own.
class ProgramLaunching {
public:
    virtual ~ProgramLaunching() = default;
    // False when the program is not installed or could not be started.
    virtual bool launchDetached(const QString& program, const QStringList& arguments) = 0;
};

class DetachedProcessLauncher final : public ProgramLaunching {
public:
    bool launchDetached(const QString& program, const QStringList& arguments) override;
};

// Opens a set-up pane: the desktop's own settings page where this desktop has one, else a small
// dialog of ours that explains the step.
class SystemSettingsOpener {
public:
    // `currentDesktop` is $XDG_CURRENT_DESKTOP (a colon-separated list such as "ubuntu:GNOME").
    SystemSettingsOpener(std::shared_ptr<ProgramLaunching> launcher, AlertPresenting& explanations,
                         QString currentDesktop);

    // The settings programs of the desktop for a pane, most specific first; empty when the
    // desktop has none for it.
    static std::vector<SettingsPaneAddress> addresses(SystemSettingsPane pane, const QString& currentDesktop);
    // The dialog shown when no settings program opens.
    static Alert explanation(SystemSettingsPane pane);

    // Starts the first address that starts, skipping absent ones; false when none did.
    bool openFirstAvailable(const std::vector<std::optional<SettingsPaneAddress>>& addresses);
    void open(SystemSettingsPane pane);

private:
    std::shared_ptr<ProgramLaunching> launcher_;
    AlertPresenting& explanations_;
    QString currentDesktop_;
};

}  // namespace tavrolin
