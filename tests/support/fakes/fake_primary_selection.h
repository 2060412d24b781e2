#pragma once

#include "platform/primary_selection.h"

namespace tavrolin::test {

// The PRIMARY selection as a test sets it; nothing by default.
class FakePrimarySelection final : public PrimarySelectionReading {
public:
    std::optional<PrimarySelectionRead> read;
    int reads = 0;

    QCoro::Task<std::optional<PrimarySelectionRead>> readPrimarySelection() override {
        ++reads;
        co_return read;
    }
    // `text` selected just now in the process `ownerPid`, after the last left click.
    void hold(const QString& text, qint64 ownerPid) {
        read = PrimarySelectionRead{text, 100, ownerPid, false, false, true, 90};
    }
};

}  // namespace tavrolin::test
