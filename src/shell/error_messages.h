#pragma once

#include <QString>

#include <exception>

namespace tavrolin {

// The alert text of any error (a command's, or one of the shell's own actions): its description,
// and after a blank line its recovery suggestion when it offers one.
QString makeMessage(const std::exception_ptr& error);
QString makeMessage(const std::exception& error);

}  // namespace tavrolin
