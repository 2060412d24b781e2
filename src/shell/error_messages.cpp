#include "shell/error_messages.h"

#include "commands/command_host.h"
#include "diagnostics/diagnostics_export_error.h"
#include "shell/launch_at_login_controller.h"

namespace tavrolin {

namespace {

QString joined(const QString& description, const std::optional<QString>& suggestion) {
    return suggestion ? description + QStringLiteral("\n\n") + *suggestion : description;
}

}  // namespace

QString makeMessage(const std::exception& error) {
    // The errors of the shell's own actions; every other one reads as a command's.
    if (const auto* diagnostics = dynamic_cast<const DiagnosticsExportError*>(&error)) {
        return joined(diagnostics->description(), diagnostics->recoverySuggestion());
    }
    if (const auto* launchAtLogin = dynamic_cast<const LaunchAtLoginError*>(&error)) {
        return joined(launchAtLogin->description(), launchAtLogin->recoverySuggestion());
    }
    return commandErrorMessage(error);
}

QString makeMessage(const std::exception_ptr& error) {
    try {
        if (error) {
            std::rethrow_exception(error);
        }
    } catch (const std::exception& e) {
        return makeMessage(e);
    } catch (...) {
    }
    return commandErrorMessage(error);
}

}  // namespace tavrolin
