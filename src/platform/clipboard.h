#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace tavrolin {

// One representation of the clipboard's contents: a MIME type (or a target name the owner
// used) with its bytes.
struct ClipboardFormat {
    QString name;
    QByteArray data;
    bool operator==(const ClipboardFormat&) const = default;
};

// Everything the clipboard held, format by format in the owner's order; empty for an empty
// clipboard.
using ClipboardContents = std::vector<ClipboardFormat>;

// The desktop's copy-and-paste clipboard.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Every format the clipboard offers with its data, for a later setContents().
    virtual ClipboardContents contents() = 0;
    // Replaces the clipboard with these formats; an empty list clears it.
    virtual void setContents(const ClipboardContents& contents) = 0;
    virtual void clear() = 0;
    virtual void setText(const QString& text) = 0;
    // The plain text, absent when the clipboard offers none.
    virtual std::optional<QString> text() = 0;
    // The HTML text, absent when the clipboard offers none.
    virtual std::optional<QString> html() = 0;
};

}  // namespace tavrolin
