#pragma once

#include "platform/clipboard.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tavrolin {

// Reads a selection (CLIPBOARD unless told otherwise) from whatever program owns it, on an X
// connection of its own with an unmapped window of its own: a slow or hung owner holds only the
// calling thread, never the GUI thread, and never longer than the deadline. Blocking: call it
// from a worker thread, one call at a time.
class X11ClipboardReader {
public:
    using Deadline = std::chrono::steady_clock::time_point;
    using SkippedFormatCallback = std::function<void(const QString& format, qsizetype size)>;

    // The selection's text with what is known of its owner.
    struct OwnedText {
        QString text;
        // Server time at which the owner took the selection (its TIMESTAMP); absent when it
        // did not say.
        std::optional<std::uint32_t> acquiredAt;
        // The owner window's process, as the X server knows it (local clients only).
        std::optional<std::uint32_t> ownerProcessId;
        // The owner window was created by the same X client as the active window.
        bool ownerIsActiveWindowClient = false;
        // The owner window's WM_NAME (toolkits name their hidden selection windows).
        QString ownerWindowName;
    };

    explicit X11ClipboardReader(const char* selection = "CLIPBOARD");
    ~X11ClipboardReader();
    X11ClipboardReader(const X11ClipboardReader&) = delete;
    X11ClipboardReader& operator=(const X11ClipboardReader&) = delete;

    bool isConnected() const;

    // Every format the owner offers, under MIME names ("text/plain" for its text), except the
    // selection protocol's own targets and formats larger than `maximumFormatSize` (reported
    // through `onSkipped`). An empty list when nobody owns the clipboard. Absent when a format
    // did not arrive before the deadline.
    std::optional<ClipboardContents> readAll(Deadline deadline, qsizetype maximumFormatSize,
                                             const SkippedFormatCallback& onSkipped);
    // The text in UTF-8 (or Latin-1 for owners that offer only that); absent when none came.
    std::optional<QString> readText(Deadline deadline);
    // The HTML text; absent when none came.
    std::optional<QString> readHtml(Deadline deadline);
    // The owner's UTF8_STRING text with its owner; absent when nobody owns the selection, the
    // owner refused or did not answer before the deadline.
    std::optional<OwnedText> readOwnedText(Deadline deadline);

private:
    struct State;
    std::unique_ptr<State> d_;
};

// Decodes clipboard HTML: UTF-16 with a byte-order mark (as some browsers offer it), else UTF-8.
QString decodeClipboardHtml(const QByteArray& data);

}  // namespace tavrolin
