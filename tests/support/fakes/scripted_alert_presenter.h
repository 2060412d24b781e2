#pragma once

#include "commands/alert_presenting.h"

#include <deque>
#include <functional>
#include <vector>

namespace tavrolin::test {

// Records every alert and answers with the scripted button titles, in order; an alert without
// a scripted answer is closed (its cancel button: the last one, the harmless "OK", unless it
// names another).
class ScriptedAlertPresenter final : public AlertPresenting {
public:
    int present(const Alert& alert) override {
        shown.push_back(alert);
        if (onPresent) {
            onPresent(alert);
        }
        if (answers.empty()) {
            return alert.cancelButtonIndex();
        }
        const QString answer = answers.front();
        answers.pop_front();
        const int index = int(alert.buttons.indexOf(answer));
        return index >= 0 ? index : int(alert.buttons.size()) - 1;
    }

    std::vector<Alert> shown;
    std::deque<QString> answers;
    std::function<void(const Alert&)> onPresent;
};

}  // namespace tavrolin::test
