#pragma once

#include "platform/clipboard.h"

#include <QtGlobal>

#include <functional>

namespace tavrolin {

// The CLIPBOARD selection through QClipboard. contents() keeps every format except the
// selection protocol's own targets (TARGETS, MULTIPLE, TIMESTAMP, SAVE_TARGETS) and formats
// larger than `maximumFormatSize`, which are skipped and reported through `onSkippedFormat`.
// The clipboard belongs to this process after any write: X11 keeps no copy of its own.
class QtClipboard final : public Clipboard {
public:
    static constexpr qsizetype defaultMaximumFormatSize = 32 * 1024 * 1024;
    using SkippedFormatCallback = std::function<void(const QString& format, qsizetype size)>;

    explicit QtClipboard(SkippedFormatCallback onSkippedFormat = {},
                         qsizetype maximumFormatSize = defaultMaximumFormatSize);

    ClipboardContents contents() override;
    void setContents(const ClipboardContents& contents) override;
    void clear() override;
    void setText(const QString& text) override;
    std::optional<QString> text() override;
    std::optional<QString> html() override;

private:
    SkippedFormatCallback onSkippedFormat_;
    qsizetype maximumFormatSize_;
};

}  // namespace tavrolin
