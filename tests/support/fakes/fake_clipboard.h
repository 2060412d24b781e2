#pragma once

#include "platform/clipboard.h"

#include <QStringList>

#include <map>

namespace tavrolin::test {

// An in-memory clipboard: plain text is "text/plain" (UTF-8), HTML "text/html". Counts writes
// so tests can tell whether an operation touched the clipboard at all. text() is what every
// program gets that has no text offered; textFor() what a given one gets.
class FakeClipboard final : public Clipboard {
public:
    ClipboardContents formats;
    int writes = 0;
    int reads = 0;
    // false: the owner of the user's clipboard never hands it over (saves come back absent).
    bool ownerAnswers = true;
    // Fetches of our data by other programs, by their process (as the X server knows it) and by
    // the X client of the requestor's window: what a pasting application does, and what a
    // clipboard manager polling the clipboard does too. A window's client is its id without the
    // bits a client numbers its own resources with, as the X server hands ids out.
    std::map<qint64, quint64> fetchesByProcess;
    std::map<quint64, quint64> fetchesByClient;
    static quint64 clientOf(quint64 window) { return window & ~quint64(0x1fffff); }
    // Windows of one X client; a test's small window numbers name no client, only themselves.
    static bool sameClient(quint64 a, quint64 b) { return clientOf(a) != 0 ? clientOf(a) == clientOf(b) : a == b; }
    // Texts offered to one program each, by its window: while we own the clipboard, that
    // program's fetches get the text, everyone else's the clipboard's contents.
    struct Offer {
        quint64 id = 0;
        qint64 processId = 0;
        QString text;
    };
    std::map<quint64, Offer> offers;
    // A fetch by the program of process `processId` (0: one the X server cannot name), its request
    // made by the X client of `window` (0 for a client of no window of interest): the plain text
    // it gets. A text offered to a window goes to its client's requests whatever their process.
    std::optional<QString> fetchBy(qint64 processId, quint64 window = 0) {
        if (processId > 0) {
            ++fetchesByProcess[processId];
        }
        if (window != 0) {
            ++fetchesByClient[clientOf(window)];
        }
        return textFor(processId, window);
    }
    std::optional<QString> textFor(qint64 processId, quint64 window = 0) {
        if (ownedByUs) {
            for (const auto& [offeredWindow, offer] : offers) {
                if ((window != 0 && sameClient(offeredWindow, window)) ||
                    (offer.processId > 0 && offer.processId == processId)) {
                    return offer.text;
                }
            }
        }
        return text();
    }
    quint64 offerTextTo(qint64 processId, quint64 window, const QString& text) override {
        offers[window] = {++lastOffer, processId, text};
        return lastOffer;
    }
    // Only the offer named: a newer one to the same window stays.
    void withdrawOffer(quint64 offer) override {
        std::erase_if(offers, [offer](const auto& entry) { return entry.second.id == offer; });
    }
    quint64 lastOffer = 0;

    QCoro::Task<std::optional<ClipboardContents>> readContents() override {
        ++reads;
        if (!ownerAnswers) {
            co_return std::nullopt;
        }
        // A copy: the clipboard keeps its contents when read.
        std::optional<ClipboardContents> contents = formats;
        co_return contents;
    }
    QCoro::Task<std::optional<QString>> readText() override { co_return text(); }
    QCoro::Task<std::optional<QString>> readHtml() override { co_return html(); }
    // By process; with none, by the window's client.
    quint64 ownDataFetchesBy(qint64 processId, quint64 window) const override {
        if (processId <= 0) {
            const auto it = window == 0 ? fetchesByClient.end() : fetchesByClient.find(clientOf(window));
            return it == fetchesByClient.end() ? 0 : it->second;
        }
        const auto it = fetchesByProcess.find(processId);
        return it == fetchesByProcess.end() ? 0 : it->second;
    }
    bool holdsOwnContents() const override { return ownedByUs; }
    // Whoever held the clipboard before us asks at once what it holds now, as an office does to
    // learn that its own copy is gone.
    quint64 requestsBy(qint64, quint64) const override { return takenFromOthers; }
    quint64 takenFromOthers = 0;
    // Whether our program was the last to write the clipboard (copy() by another one ends it).
    bool ownedByUs = false;
    void setContents(const ClipboardContents& contents) override {
        takenFromOthers += ownedByUs ? 0 : 1;
        ++writes;
        ownerAnswers = true;
        ownedByUs = true;
        formats = contents;
    }
    void clear() override {
        takenFromOthers += ownedByUs ? 0 : 1;
        ++writes;
        ownerAnswers = true;
        ownedByUs = true;
        formats.clear();
    }
    void setText(const QString& text) override {
        takenFromOthers += ownedByUs ? 0 : 1;
        ++writes;
        ownerAnswers = true;
        ownedByUs = true;
        formats = {{"text/plain", text.toUtf8()}};
    }
    std::optional<QString> text() const { return format("text/plain"); }
    std::optional<QString> html() const { return format("text/html"); }

    // What an application does when it copies.
    void copy(const QString& text, const std::optional<QString>& html = std::nullopt) {
        ownedByUs = false;
        formats = {{"text/plain", text.toUtf8()}};
        if (html) {
            formats.push_back({"text/html", html->toUtf8()});
        }
    }

private:
    std::optional<QString> format(const QString& name) const {
        for (const ClipboardFormat& f : formats) {
            if (f.name == name) {
                return QString::fromUtf8(f.data);
            }
        }
        return std::nullopt;
    }
};

}  // namespace tavrolin::test
