#pragma once

#include "platform/clipboard.h"

#include <QStringList>

namespace tavrolin::test {

// An in-memory clipboard: plain text is "text/plain" (UTF-8), HTML "text/html". Counts writes
// so tests can tell whether an operation touched the clipboard at all.
class FakeClipboard final : public Clipboard {
public:
    ClipboardContents formats;
    int writes = 0;
    int reads = 0;

    ClipboardContents contents() override {
        ++reads;
        return formats;
    }
    void setContents(const ClipboardContents& contents) override {
        ++writes;
        formats = contents;
    }
    void clear() override {
        ++writes;
        formats.clear();
    }
    void setText(const QString& text) override {
        ++writes;
        formats = {{"text/plain", text.toUtf8()}};
    }
    std::optional<QString> text() override { return format("text/plain"); }
    std::optional<QString> html() override { return format("text/html"); }

    // What an application does when it copies.
    void copy(const QString& text, const std::optional<QString>& html = std::nullopt) {
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
