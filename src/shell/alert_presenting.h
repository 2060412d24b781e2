#pragma once

#include "commands/alert_presenting.h"

namespace tavrolin {

// The modal QMessageBox presenter. Closing the box without a button (Escape, the window's
// close button) counts as the alert's cancel button (the last one unless it names another).
class MessageBoxAlertPresenter final : public AlertPresenting {
public:
    int present(const Alert& alert) override;
};

}  // namespace tavrolin
