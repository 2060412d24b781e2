#pragma once

// How errors are named in log lines ("errorType" and "message" values).

#include <QString>

#include <exception>

namespace tavrolin {

// The error value's dynamic type: our own types as "Tavrolin." + the type name
// ("Tavrolin.CaptureWorkflowError", "Tavrolin.URLError"), any other type by its demangled name
// with "::" written "." ("std.runtime_error").
QString errorTypeName(const std::exception& error);
QString errorTypeName(const std::exception_ptr& error);

// The error's default textual description for logs: for the workflow error its case name with
// any payload in parentheses (not the message the user sees); for any other error its what().
QString errorDescription(const std::exception& error);
QString errorDescription(const std::exception_ptr& error);

}  // namespace tavrolin
