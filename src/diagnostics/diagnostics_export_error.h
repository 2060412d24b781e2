#pragma once

#include <QString>

#include <stdexcept>

namespace tavrolin {

// Every failure of a diagnostics export, with the texts the outcome alert shows: the
// description, then (after a blank line) the recovery suggestion.
class DiagnosticsExportError final : public std::runtime_error {
public:
    enum class Kind {
        commandFailed,        // a tool exited with a non-zero status
        commandKilled,        // a tool was ended by a signal (it crashed or was killed)
        commandTimedOut,      // a tool did not finish in time and was stopped
        commandNotStarted,    // a tool could not be started (missing, not executable)
        destinationInvalid,   // a folder or special file is where the archive should go
        fileOperationFailed,  // creating, writing, listing or copying a file failed
        archiveFailed,        // the zip archive could not be written
    };

    // "<executable> failed with exit code <status>."; the suggestion is the trimmed standard
    // error, or "Try exporting diagnostics again." when there was none.
    static DiagnosticsExportError commandFailed(const QString& executable, int status, const QString& standardError);
    // "<executable> was ended by signal <n> (<name>)."; the suggestion as for commandFailed.
    static DiagnosticsExportError commandKilled(const QString& executable, int signalNumber,
                                                const QString& standardError);
    static DiagnosticsExportError commandTimedOut(const QString& executable, int seconds);
    static DiagnosticsExportError commandNotStarted(const QString& executable, const QString& reason);
    static DiagnosticsExportError destinationIsFolder(const QString& path);
    static DiagnosticsExportError destinationNotAFile(const QString& path);
    // `action` names what failed ("Could not create the folder"), `reason` the system's answer.
    static DiagnosticsExportError fileOperationFailed(const QString& action, const QString& path,
                                                      const QString& reason);
    static DiagnosticsExportError archiveFailed(const QString& path, const QString& reason);

    Kind kind() const { return kind_; }
    const QString& description() const { return description_; }
    const QString& recoverySuggestion() const { return recoverySuggestion_; }
    // For commandFailed: the tool's path, exit status and trimmed standard error.
    const QString& executable() const { return executable_; }
    int status() const { return status_; }
    // For commandKilled: the signal that ended the tool.
    int signalNumber() const { return signal_; }
    const QString& standardError() const { return standardError_; }

private:
    DiagnosticsExportError(Kind kind, QString description, QString recoverySuggestion);

    Kind kind_;
    QString description_;
    QString recoverySuggestion_;
    QString executable_;
    int status_ = 0;
    int signal_ = 0;
    QString standardError_;
};

}  // namespace tavrolin
