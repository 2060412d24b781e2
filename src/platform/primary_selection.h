#pragma once

#include "platform/front_application.h"

#include <QCoroTask>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>

namespace tavrolin {

class GlobalInputMonitoring;

// What the X11 PRIMARY selection (the text highlighted last, anywhere) held at one moment,
// with what is known of its owner and of the user's clicks.
struct PrimarySelectionRead {
    QString text;
    // Server time at which the owner took the selection; absent when the owner did not say.
    std::optional<std::uint32_t> acquiredAt;
    // The owner window's process; 0 when unknown.
    qint64 ownerProcessId = 0;
    // The owner window belongs to the X client of the active window.
    bool ownerIsFrontWindowClient = false;
    // The owner is a toolkit that keeps the selection after the user deselected its text (Qt
    // keeps owning it when the caret moves away by keyboard), so its content proves nothing.
    bool ownerKeepsDeselectedText = false;
    // Whether the primary (left) button's presses are being watched, and the server time of
    // the last one since then.
    bool pressesWatched = false;
    std::optional<std::uint32_t> lastPrimaryButtonPressAt;
};

// Reads the PRIMARY selection without touching it or the clipboard and without any key.
class PrimarySelectionReading {
public:
    // How long one read may wait for the selection's owner. A browser answers from its main
    // thread, which a page or a busy machine keeps for a few hundred milliseconds at times: an
    // answer that comes later than this is taken for no selection.
    static constexpr std::chrono::milliseconds readBound{500};

    virtual ~PrimarySelectionReading() = default;
    // Absent when nobody owns the selection or the owner did not answer within readBound.
    virtual QCoro::Task<std::optional<PrimarySelectionRead>> readPrimarySelection() = 0;
};

// The text the user has selected in the front application now, as far as PRIMARY shows it:
// the owner must be the front application (same X client or process), the selection must be
// newer than the last left-button press (a click that made no new selection cleared the
// highlight in xterm and browsers, which keep owning PRIMARY afterwards), and the owner must be
// a toolkit that gives PRIMARY up when its text is deselected otherwise. Absent otherwise, and
// for an empty or placeholder-only text.
std::optional<QString> currentSelectionText(const PrimarySelectionRead& read,
                                            const std::optional<FrontApplication>& front);

// A selection that holds nothing but embedded-object placeholders (U+FFFC), with or without
// white space, as web documents report around a selection they do not hold themselves.
bool isPlaceholderOnlySelection(const QString& text);

}  // namespace tavrolin
