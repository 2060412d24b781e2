#pragma once

#include "platform/clipboard.h"

#include <QtGlobal>

#include <functional>
#include <memory>

class QMimeData;

namespace tavrolin {

// The CLIPBOARD selection. Writes go through QClipboard on the GUI thread (this program then
// owns the clipboard and Qt answers the other programs' requests). Reads of what this program
// owns come from Qt; reads of another owner's data go through an X connection and thread of
// their own, bounded by Clipboard::foreignReadBound, so a hung owner never holds the GUI
// thread. readContents() keeps every format except the selection protocol's own targets and
// formats larger than `maximumFormatSize`, which are skipped and reported through
// `onSkippedFormat`. A text offered to one program (offerTextTo()) is handed to that program's
// requests by this object itself, in the GUI thread's native event filter, and never reaches
// Qt's own answer. Create it on the GUI thread.
class QtClipboard final : public Clipboard {
public:
    static constexpr qsizetype defaultMaximumFormatSize = 32 * 1024 * 1024;
    using SkippedFormatCallback = std::function<void(const QString& format, qsizetype size)>;

    explicit QtClipboard(SkippedFormatCallback onSkippedFormat = {},
                         qsizetype maximumFormatSize = defaultMaximumFormatSize);
    ~QtClipboard() override;
    QtClipboard(const QtClipboard&) = delete;
    QtClipboard& operator=(const QtClipboard&) = delete;

    QCoro::Task<std::optional<ClipboardContents>> readContents() override;
    void setContents(const ClipboardContents& contents) override;
    void clear() override;
    void setText(const QString& text) override;
    QCoro::Task<std::optional<QString>> readText() override;
    QCoro::Task<std::optional<QString>> readHtml() override;
    quint64 ownDataFetchesBy(qint64 processId, quint64 window) const override;
    quint64 requestsBy(qint64 processId, quint64 window) const override;
    bool holdsOwnContents() const override;
    quint64 offerTextTo(qint64 processId, quint64 window, const QString& text) override;
    void withdrawOffer(quint64 offer) override;

private:
    QCoro::Task<std::optional<QString>> readString(bool html);
    // Notes `written` (and its formats) as this object's last write to the clipboard.
    void remember(const QMimeData* written);

    struct State;
    std::shared_ptr<State> d_;
};

}  // namespace tavrolin
