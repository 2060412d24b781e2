#pragma once

#include <QByteArray>
#include <QCoroTask>
#include <QString>

#include <chrono>
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

// The desktop's copy-and-paste clipboard. Reads of what another program owns wait for that
// program, so they are awaited, each bounded by `foreignReadBound`; writes make this program
// the owner and return at once.
class Clipboard {
public:
    static constexpr std::chrono::milliseconds foreignReadBound{1000};

    virtual ~Clipboard() = default;

    // Every format the clipboard offers with its data, for a later setContents(); an empty list
    // for an empty clipboard. Absent when the owner did not hand over every format in time.
    virtual QCoro::Task<std::optional<ClipboardContents>> readContents() = 0;
    // Replaces the clipboard with these formats; an empty list clears it.
    virtual void setContents(const ClipboardContents& contents) = 0;
    // Empties the clipboard: this program owns it then, with nothing in it (so that another
    // program's copy afterwards shows as the clipboard changing hands).
    virtual void clear() = 0;
    virtual void setText(const QString& text) = 0;
    // The plain text, absent when the clipboard offers none (or the owner did not answer).
    virtual QCoro::Task<std::optional<QString>> readText() = 0;
    // The HTML text, absent when the clipboard offers none (or the owner did not answer).
    virtual QCoro::Task<std::optional<QString>> readHtml() = 0;
    // How many times the program behind `window` (its process `processId` as the X server knows
    // it; 0 when not known, and then the fetches of `window`'s X client) has fetched data that
    // this program put on the clipboard: a paste is over only once its target has fetched it. Fetches by any other program (a clipboard manager, anything polling the
    // clipboard) do not count: they neither end a paste nor show that it arrived.
    virtual quint64 ownDataFetchesBy(qint64 processId, quint64 window) const = 0;
    // How many times that program (as for ownDataFetchesBy()) has asked this program anything of
    // the clipboard it holds, which formats it offers included: a program that held the clipboard
    // before us may ask that to learn that it no longer does.
    virtual quint64 requestsBy(qint64 processId, quint64 window) const { return ownDataFetchesBy(processId, window); }
    // Whether the clipboard still holds what this object put on it last: false once anything
    // else has replaced it, another program or another window of ours (the user copying).
    virtual bool holdsOwnContents() const = 0;
    // Until withdrawOffer() with the offer this returns (never 0): while this program owns the
    // clipboard, the program behind `window` (its process `processId`, 0 when unknown; requests of
    // the window's own X client count as its too) gets `text` alone when it asks for the clipboard,
    // and every other program keeps getting what the clipboard holds. One offer per window; a new
    // one replaces it.
    virtual quint64 offerTextTo(qint64 processId, quint64 window, const QString& text) = 0;
    // Ends the offer `offer` made by offerTextTo(). An offer made since to the same window (the next
    // paste there) stands: nothing happens then. Otherwise the clipboard, where it still holds what
    // this object put on it, is taken anew with the same contents, so that programs keeping what
    // they fetched until the clipboard changes hands fetch it again.
    virtual void withdrawOffer(quint64 offer) = 0;
};

}  // namespace tavrolin
