#include "platform/primary_selection.h"

namespace tavrolin {

namespace {

constexpr QChar objectReplacementCharacter(0xFFFC);

// Server times wrap around after 49.7 days: compare them as a signed difference.
bool isLater(std::uint32_t time, std::uint32_t than) {
    return static_cast<std::int32_t>(time - than) > 0;
}

}  // namespace

bool isPlaceholderOnlySelection(const QString& text) {
    if (!text.contains(objectReplacementCharacter)) {
        return false;
    }
    for (const QChar c : text) {
        if (c != objectReplacementCharacter && !c.isSpace()) {
            return false;
        }
    }
    return true;
}

std::optional<QString> currentSelectionText(const PrimarySelectionRead& read,
                                            const std::optional<FrontApplication>& front) {
    if (!front || read.text.isEmpty() || isPlaceholderOnlySelection(read.text)) {
        return std::nullopt;
    }
    const bool ownedByFront =
        read.ownerIsFrontWindowClient || (front->processId > 0 && read.ownerProcessId == front->processId);
    if (!ownedByFront || read.ownerKeepsDeselectedText) {
        return std::nullopt;
    }
    if (!read.pressesWatched || !read.acquiredAt) {
        return std::nullopt;
    }
    if (read.lastPrimaryButtonPressAt && isLater(*read.lastPrimaryButtonPressAt, *read.acquiredAt)) {
        return std::nullopt;
    }
    return read.text;
}

}  // namespace tavrolin
