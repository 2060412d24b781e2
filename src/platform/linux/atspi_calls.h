#pragma once

#include "platform/accessibility.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <atspi/atspi.h>
#include <chrono>
#include <memory>
#include <optional>
#include <utility>

// What the files of the AT-SPI back end (AtspiAccessibility) share: owning references to GLib
// objects, calls whose failure counts as an absent answer, and a field's text and selection in
// UTF-16 units. It opens libatspi's headers: for those files alone.
namespace tavrolin::atspi {

using SteadyClock = std::chrono::steady_clock;

// Owning references to GLib objects and memory, so that early returns cannot leak.
template <typename T>
struct GObjectRef {
    T* ptr = nullptr;
    GObjectRef() = default;
    explicit GObjectRef(T* p) : ptr(p) {}
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    GObjectRef(GObjectRef&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
    GObjectRef& operator=(GObjectRef&& other) noexcept {
        if (this != &other) {
            if (ptr) {
                g_object_unref(ptr);
            }
            ptr = std::exchange(other.ptr, nullptr);
        }
        return *this;
    }
    ~GObjectRef() {
        if (ptr) {
            g_object_unref(ptr);
        }
    }
    T* release() { return std::exchange(ptr, nullptr); }
    explicit operator bool() const { return ptr != nullptr; }
    T* get() const { return ptr; }
};

struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
template <typename T>
using GMemory = std::unique_ptr<T, GFreeDeleter>;

// A failed call (error or timeout) counts as absent: swallow and report.
// The bound of one call, and whether a call on this thread failed only once that bound had
// passed (the application did not answer) since the current query began.
extern std::chrono::milliseconds callBoundOfThisProcess;
extern thread_local bool callRanOutOfTime;

class CallError {
public:
    CallError() : started_(std::chrono::steady_clock::now()) {}
    ~CallError() {
        if (error_) {
            if (std::chrono::steady_clock::now() - started_ >= callBoundOfThisProcess * 9 / 10) {
                callRanOutOfTime = true;
            }
            g_error_free(error_);
        }
    }
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;
    GError** out() { return &error_; }
    bool failed() const { return error_ != nullptr; }

private:
    GError* error_ = nullptr;
    std::chrono::steady_clock::time_point started_;
};

// libatspi reports no error for a state set that never came: one that took the whole bound
// counts as a call that ran out of time.
AtspiStateSet* stateSetOf(AtspiAccessible* object);

// Qt marks read-only line edits "editable" and "read-only" at once.
bool isEditableObject(AtspiAccessible* object);

// The toolkit of the application that owns an object ("Qt", "GTK", "Chromium", ...).
QByteArray toolkitOf(AtspiAccessible* object);

// A tree walk visits at most this many children of one object, and goes this deep: huge
// lists and tables never hold the focused text field of interest deeper than that. Its
// length is bounded by time (AtspiAccessibility::focusSearchBudget).
constexpr int kMaximumChildrenPerObject = 500;
constexpr int kMaximumDepth = 64;

// An object's role; ATSPI_ROLE_INVALID when the call failed.
AtspiRole roleOf(AtspiAccessible* object);
// A window or the pane that holds all of it (LibreOffice's root pane): focused with its window,
// it names no field of its own.
inline bool isWindowPane(AtspiRole role) {
    return role == ATSPI_ROLE_ROOT_PANE || role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW;
}
// The editor object of a spreadsheet cell being edited, when `object` is one of its paragraphs;
// a new reference or null.
AtspiAccessible* cellEditorOf(AtspiAccessible* object);
// The sheet that is `object` or holds the cell `object`; a new reference or null.
AtspiAccessible* sheetOf(AtspiAccessible* object);
// Whether an object is LibreOffice's, whatever its toolkit front end.
bool isLibreOfficeObject(AtspiAccessible* object);
// The first focused object among the children of `root` and below, until `deadline` (`office`:
// LibreOffice's tree, walked as findFocused() in atspi_focus_search.cpp says); a new reference
// or null.
AtspiAccessible* findFocusedChild(AtspiAccessible* root, int depth, SteadyClock::time_point deadline, bool office);
// The focused object below `root`: the application's own search first, a bounded walk after; a
// new reference or null.
AtspiAccessible* searchFocused(AtspiAccessible* root, int depth);
// Whether `object` is still among its parent's children (asked of the parent).
bool isListedByParent(AtspiAccessible* object);
// Whether the nearest frame, dialog or window above `inner` says it is the active window.
bool inActiveWindow(AtspiAccessible* inner);

// Conversions between code-point offsets (AT-SPI) and UTF-16 offsets (everything else).
qsizetype codePointsToUtf16(const QString& text, qsizetype codePoints);
qsizetype utf16ToCodePoints(const QString& text, qsizetype utf16);

std::optional<QString> wholeText(AtspiText* text);

// A field's text with the unit of its offsets. AT-SPI speaks of characters, which GTK and
// web engines count as code points while Qt counts UTF-16 units; the two differ only when
// the text holds characters outside the Basic Multilingual Plane (emoji), and the
// character count tells which one the application uses.
struct FieldText {
    QString whole;
    bool utf16Offsets = true;

    qsizetype toUtf16(gint offset) const {
        return utf16Offsets ? std::clamp<qsizetype>(offset, 0, whole.size()) : codePointsToUtf16(whole, offset);
    }
    gint fromUtf16(qsizetype offset) const {
        return static_cast<gint>(utf16Offsets ? offset : utf16ToCodePoints(whole, offset));
    }
};

std::optional<FieldText> readFieldText(AtspiText* text);

// The first selection in the application's offsets; absent when there is none or the call failed.
std::optional<std::pair<int, int>> firstSelection(AtspiText* text);

// The first selection's ends in UTF-16 units of the field's text; absent when there is none.
std::optional<std::pair<qsizetype, qsizetype>> selectionInField(AtspiText* text, const FieldText& field);

// The selection in UTF-16 units of the field's text, else its caret as a range of length 0;
// absent when it reports neither.
std::optional<AccessibleTextRange> selectionOrCaret(AtspiText* text, const FieldText& field);

// An object's text with the objects embedded in it, as AtspiAccessibility::richText() answers it
// (richTextMeasuringLonger() with `measuringScale`).
std::optional<AccessibleRichText> richTextOf(AtspiAccessible* object, int measuringScale = 1);

}  // namespace tavrolin::atspi
