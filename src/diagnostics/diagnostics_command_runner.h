#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

namespace tavrolin {

// Bounds on one tool run, so a tool that hangs or floods its output cannot stall an export.
struct DiagnosticsCommandLimits {
    std::chrono::milliseconds timeout{std::chrono::seconds(30)};
    // Standard output beyond this many bytes is not written: the tool is stopped and the
    // run counts as complete, with `outputTruncated` set.
    qint64 maximumOutputBytes = 64LL * 1024 * 1024;
    // Standard error kept for the error text; the rest is read and dropped.
    qint64 maximumErrorBytes = 64LL * 1024;
};

struct DiagnosticsCommandResult {
    qint64 outputBytes = 0;
    bool outputTruncated = false;
};

// Runs a command-line tool to its end. Arguments are passed as they are, never through a
// shell. Throws DiagnosticsExportError: commandFailed for a non-zero exit status (with the
// tool's trimmed standard error), commandTimedOut when the time-out passed, commandNotStarted
// when the tool cannot be started, and fileOperationFailed when its output file cannot be
// created or written.
class DiagnosticsCommandRunning {
public:
    virtual ~DiagnosticsCommandRunning() = default;
    // Standard output goes to the file at `standardOutputPath` (created or emptied first),
    // else to nowhere.
    virtual DiagnosticsCommandResult run(const QString& executable, const QStringList& arguments,
                                         const std::optional<QString>& standardOutputPath,
                                         const DiagnosticsCommandLimits& limits) = 0;
};

// The real runner: posix_spawn with standard input from /dev/null and the tool in a process
// group of its own, standard output and standard error read through pipes while waiting.
class ProcessDiagnosticsCommandRunner final : public DiagnosticsCommandRunning {
public:
    DiagnosticsCommandResult run(const QString& executable, const QStringList& arguments,
                                 const std::optional<QString>& standardOutputPath,
                                 const DiagnosticsCommandLimits& limits) override;
};

}  // namespace tavrolin
