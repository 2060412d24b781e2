#include "platform/linux/qt_clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace tavrolin {

namespace {

QClipboard* systemClipboard() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

bool isSelectionProtocolTarget(const QString& format) {
    return format == QLatin1String("TARGETS") || format == QLatin1String("MULTIPLE") ||
           format == QLatin1String("TIMESTAMP") || format == QLatin1String("SAVE_TARGETS");
}

}  // namespace

QtClipboard::QtClipboard(SkippedFormatCallback onSkippedFormat, qsizetype maximumFormatSize)
    : onSkippedFormat_(std::move(onSkippedFormat)), maximumFormatSize_(maximumFormatSize) {}

ClipboardContents QtClipboard::contents() {
    ClipboardContents saved;
    QClipboard* clipboard = systemClipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data) {
        return saved;
    }
    const QStringList formats = data->formats();
    for (const QString& format : formats) {
        if (isSelectionProtocolTarget(format)) {
            continue;
        }
        QByteArray bytes = data->data(format);
        if (bytes.size() > maximumFormatSize_) {
            if (onSkippedFormat_) {
                onSkippedFormat_(format, bytes.size());
            }
            continue;
        }
        if (bytes.isNull()) {
            continue;  // offered but not delivered
        }
        saved.push_back({format, std::move(bytes)});
    }
    return saved;
}

void QtClipboard::setContents(const ClipboardContents& contents) {
    QClipboard* clipboard = systemClipboard();
    if (!clipboard) {
        return;
    }
    if (contents.empty()) {
        clipboard->clear(QClipboard::Clipboard);
        return;
    }
    auto* data = new QMimeData;
    for (const ClipboardFormat& format : contents) {
        data->setData(format.name, format.data);
    }
    clipboard->setMimeData(data, QClipboard::Clipboard);
}

void QtClipboard::clear() {
    if (QClipboard* clipboard = systemClipboard()) {
        clipboard->clear(QClipboard::Clipboard);
    }
}

void QtClipboard::setText(const QString& text) {
    if (QClipboard* clipboard = systemClipboard()) {
        clipboard->setText(text, QClipboard::Clipboard);
    }
}

std::optional<QString> QtClipboard::text() {
    QClipboard* clipboard = systemClipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data || !data->hasText()) {
        return std::nullopt;
    }
    return data->text();
}

std::optional<QString> QtClipboard::html() {
    QClipboard* clipboard = systemClipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData(QClipboard::Clipboard) : nullptr;
    if (!data || !data->hasHtml()) {
        return std::nullopt;
    }
    return data->html();
}

}  // namespace tavrolin
