#include "platform/linux/atspi_accessibility.h"

#include "platform/linux/x11_pixels.h"

#include <QByteArray>

#include <algorithm>

#include <atspi/atspi.h>

namespace tavrolin {

namespace {

// A tree walk visits at most this many objects, and this many children of one object: huge
// lists and tables never hold the focused text field of interest deeper than that.
constexpr int kMaximumVisitedObjects = 4000;
constexpr int kMaximumChildrenPerObject = 500;
constexpr int kMaximumDepth = 64;

// Owning references to GLib objects and memory, so that early returns cannot leak.
template <typename T>
struct GObjectRef {
    T* ptr = nullptr;
    GObjectRef() = default;
    explicit GObjectRef(T* p) : ptr(p) {}
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
    GObjectRef(GObjectRef&& other) noexcept : ptr(std::exchange(other.ptr, nullptr)) {}
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
class CallError {
public:
    ~CallError() {
        if (error_) {
            g_error_free(error_);
        }
    }
    GError** out() { return &error_; }
    bool failed() const { return error_ != nullptr; }

private:
    GError* error_ = nullptr;
};

// Conversions between code-point offsets (AT-SPI) and UTF-16 offsets (everything else).
qsizetype codePointsToUtf16(const QString& text, qsizetype codePoints) {
    qsizetype i = 0;
    for (qsizetype seen = 0; i < text.size() && seen < codePoints; ++seen) {
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    }
    return i;
}

qsizetype utf16ToCodePoints(const QString& text, qsizetype utf16) {
    const qsizetype end = std::clamp<qsizetype>(utf16, 0, text.size());
    qsizetype count = 0;
    for (qsizetype i = 0; i < end; ++count) {
        i += (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) ? 2 : 1;
    }
    return count;
}

class AtspiElement final : public AccessibleElement {
public:
    explicit AtspiElement(AtspiAccessible* object) : object_(object) {}  // takes the reference
    ~AtspiElement() override { g_object_unref(object_); }
    AtspiElement(const AtspiElement&) = delete;
    AtspiElement& operator=(const AtspiElement&) = delete;
    AtspiAccessible* object() const { return object_; }

private:
    AtspiAccessible* object_;
};

AtspiAccessible* objectOf(const AccessibleElementHandle& element) {
    const auto* atspi = dynamic_cast<const AtspiElement*>(element.get());
    return atspi ? atspi->object() : nullptr;
}

AccessibleElementHandle wrap(AtspiAccessible* owned) {
    if (!owned) {
        return nullptr;
    }
    return std::make_shared<AtspiElement>(owned);
}

bool hasState(AtspiAccessible* object, AtspiStateType state) {
    GObjectRef<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), state);
}

// Qt marks read-only line edits "editable" and "read-only" at once.
bool isEditableObject(AtspiAccessible* object) {
    GObjectRef<AtspiStateSet> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), ATSPI_STATE_EDITABLE) &&
           !atspi_state_set_contains(states.get(), ATSPI_STATE_READ_ONLY);
}

bool fitsText(AccessibleTextRange range, const QString& text) {
    return range.location >= 0 && range.length >= 0 && range.location <= text.size() &&
           range.length <= text.size() - range.location;
}

std::optional<QString> wholeText(AtspiText* text) {
    CallError error;
    GMemory<gchar> chars(atspi_text_get_text(text, 0, -1, error.out()));
    if (error.failed() || !chars) {
        return std::nullopt;
    }
    return QString::fromUtf8(chars.get());
}

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

std::optional<FieldText> readFieldText(AtspiText* text) {
    std::optional<QString> whole = wholeText(text);
    if (!whole) {
        return std::nullopt;
    }
    FieldText field{std::move(*whole), true};
    if (utf16ToCodePoints(field.whole, field.whole.size()) != field.whole.size()) {
        CallError error;
        const gint count = atspi_text_get_character_count(text, error.out());
        field.utf16Offsets = !error.failed() && count == field.whole.size();
    }
    return field;
}

// The toolkit of the application that owns an object ("Qt", "GTK", "Chromium", ...).
QByteArray toolkitOf(AtspiAccessible* object) {
    CallError appError;
    GObjectRef<AtspiAccessible> app(atspi_accessible_get_application(object, appError.out()));
    if (appError.failed() || !app) {
        return {};
    }
    CallError error;
    GMemory<gchar> name(atspi_accessible_get_toolkit_name(app.get(), error.out()));
    return error.failed() || !name ? QByteArray() : QByteArray(name.get());
}

// The first selection in the application's offsets; absent when there is none or the call failed.
std::optional<std::pair<int, int>> firstSelection(AtspiText* text) {
    CallError countError;
    const gint count = atspi_text_get_n_selections(text, countError.out());
    if (countError.failed() || count <= 0) {
        return std::nullopt;
    }
    CallError error;
    GMemory<AtspiRange> range(atspi_text_get_selection(text, 0, error.out()));
    if (error.failed() || !range) {
        return std::nullopt;
    }
    const int start = std::min(range->start_offset, range->end_offset);
    const int end = std::max(range->start_offset, range->end_offset);
    if (start < 0 || end == start) {
        return std::nullopt;
    }
    return std::make_pair(start, end);
}

std::optional<QRectF> toLogicalRect(AtspiRect* rect) {
    if (!rect) {
        return std::nullopt;
    }
    return x11::deviceRectToLogical(QRectF(rect->x, rect->y, rect->width, rect->height));
}

// Depth-first search for the focused object below `root`, skipping hidden subtrees.
AtspiAccessible* findFocused(AtspiAccessible* root, int depth, int& budget) {
    if (--budget < 0 || depth > kMaximumDepth) {
        return nullptr;
    }
    GObjectRef<AtspiStateSet> states(atspi_accessible_get_state_set(root));
    if (!states) {
        return nullptr;
    }
    if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED)) {
        return static_cast<AtspiAccessible*>(g_object_ref(root));
    }
    // The application object itself is never "showing"; below it, hidden windows and
    // widgets cannot hold the keyboard focus.
    if (depth > 0 && !atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING)) {
        return nullptr;
    }
    CallError countError;
    const gint count = atspi_accessible_get_child_count(root, countError.out());
    if (countError.failed()) {
        return nullptr;
    }
    for (gint i = 0; i < std::min<gint>(count, kMaximumChildrenPerObject) && budget > 0; ++i) {
        CallError childError;
        GObjectRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(root, i, childError.out()));
        if (childError.failed() || !child) {
            continue;
        }
        if (AtspiAccessible* found = findFocused(child.get(), depth + 1, budget)) {
            return found;
        }
    }
    return nullptr;
}

}  // namespace

struct AtspiAccessibility::State {
    AccessibilityBusStatus& busStatus;
    bool connected = false;
    AtspiEventListener* focusListener = nullptr;
    AtspiAccessible* lastFocused = nullptr;

    explicit State(AccessibilityBusStatus& status) : busStatus(status) {}

    ~State() {
        if (focusListener) {
            atspi_event_listener_deregister(focusListener, "object:state-changed:focused", nullptr);
            g_object_unref(focusListener);
        }
        if (lastFocused) {
            g_object_unref(lastFocused);
        }
    }

    static void onFocusChanged(AtspiEvent* event, void* userData) {
        auto* self = static_cast<State*>(userData);
        if (event->detail1 == 1 && event->source) {
            if (self->lastFocused) {
                g_object_unref(self->lastFocused);
            }
            self->lastFocused = static_cast<AtspiAccessible*>(g_object_ref(event->source));
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    // The application object of a process, with a new reference; null when not found.
    AtspiAccessible* application(qint64 pid) const {
        if (!connected || pid <= 0) {
            return nullptr;
        }
        GObjectRef<AtspiAccessible> desktop(atspi_get_desktop(0));
        if (!desktop) {
            return nullptr;
        }
        CallError countError;
        const gint count = atspi_accessible_get_child_count(desktop.get(), countError.out());
        for (gint i = 0; !countError.failed() && i < count; ++i) {
            CallError childError;
            GObjectRef<AtspiAccessible> app(atspi_accessible_get_child_at_index(desktop.get(), i, childError.out()));
            if (childError.failed() || !app) {
                continue;
            }
            CallError pidError;
            const guint appPid = atspi_accessible_get_process_id(app.get(), pidError.out());
            if (!pidError.failed() && static_cast<qint64>(appPid) == pid) {
                return app.release();
            }
        }
        return nullptr;
    }
};

AtspiAccessibility::AtspiAccessibility(AccessibilityBusStatus& busStatus, int callTimeoutMs)
    : d_(std::make_unique<State>(busStatus)) {
    // 0: connected now, 1: already connected earlier in this process.
    const int init = atspi_init();
    d_->connected = init == 0 || init == 1;
    if (!d_->connected) {
        return;
    }
    // The same bound applies to applications that have only just started.
    atspi_set_timeout(callTimeoutMs, callTimeoutMs);
    // Properties of other applications change behind our back (states, texts): always ask.
    GObjectRef<AtspiAccessible> desktop(atspi_get_desktop(0));
    if (desktop) {
        atspi_accessible_set_cache_mask(desktop.get(), ATSPI_CACHE_NONE);
    }
    d_->focusListener = atspi_event_listener_new(&State::onFocusChanged, d_.get(), nullptr);
    if (d_->focusListener) {
        CallError error;
        atspi_event_listener_register(d_->focusListener, "object:state-changed:focused", error.out());
    }
}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isTrusted() {
    return d_->connected && d_->busStatus.isEnabled() == true;
}

AccessibleElementHandle AtspiAccessibility::systemFocusedElement() {
    if (!d_->lastFocused) {
        return nullptr;
    }
    // The element may have lost the focus without telling us, or be gone.
    if (!hasState(d_->lastFocused, ATSPI_STATE_FOCUSED)) {
        return nullptr;
    }
    return wrap(static_cast<AtspiAccessible*>(g_object_ref(d_->lastFocused)));
}

AccessibleElementHandle AtspiAccessibility::focusedElementOfApplication(qint64 pid) {
    GObjectRef<AtspiAccessible> app(d_->application(pid));
    if (!app) {
        return nullptr;
    }
    int budget = kMaximumVisitedObjects;
    return wrap(findFocused(app.get(), 0, budget));
}

AccessibleElementHandle AtspiAccessibility::focusedElementOfActiveWindow(qint64 pid) {
    GObjectRef<AtspiAccessible> app(d_->application(pid));
    if (!app) {
        return nullptr;
    }
    CallError countError;
    const gint count = atspi_accessible_get_child_count(app.get(), countError.out());
    for (gint i = 0; !countError.failed() && i < count; ++i) {
        CallError childError;
        GObjectRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(app.get(), i, childError.out()));
        if (childError.failed() || !window || !hasState(window.get(), ATSPI_STATE_ACTIVE)) {
            continue;
        }
        int budget = kMaximumVisitedObjects;
        return wrap(findFocused(window.get(), 1, budget));
    }
    return nullptr;
}

void AtspiAccessibility::requestAccessibilityTree(qint64) {
    // Toolkits that build their tree on demand watch the bus-wide switch.
    if (d_->busStatus.isEnabled() != true) {
        d_->busStatus.setEnabled(true);
    }
}

std::optional<AccessibleRole> AtspiAccessibility::role(const AccessibleElementHandle& element) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return std::nullopt;
    }
    CallError error;
    const AtspiRole role = atspi_accessible_get_role(object, error.out());
    if (error.failed() || role == ATSPI_ROLE_INVALID) {
        return std::nullopt;
    }
    switch (role) {
    case ATSPI_ROLE_ENTRY: {
        // Web engines mark search inputs with an object attribute.
        CallError attributesError;
        GHashTable* attributes = atspi_accessible_get_attributes(object, attributesError.out());
        bool search = false;
        if (attributes) {
            const auto* type = static_cast<const gchar*>(g_hash_table_lookup(attributes, "text-input-type"));
            search = type && g_strcmp0(type, "search") == 0;
            g_hash_table_unref(attributes);
        }
        return search ? AccessibleRole::searchField : AccessibleRole::textField;
    }
    case ATSPI_ROLE_TEXT:
        // Qt reports single- and multi-line editors alike as "text".
        return hasState(object, ATSPI_STATE_MULTI_LINE) ? AccessibleRole::textArea : AccessibleRole::textField;
    case ATSPI_ROLE_EDITBAR:
    case ATSPI_ROLE_SPIN_BUTTON:
        return AccessibleRole::textField;
    case ATSPI_ROLE_PASSWORD_TEXT:
        return AccessibleRole::secureTextField;
    case ATSPI_ROLE_COMBO_BOX:
        return AccessibleRole::comboBox;
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
        return AccessibleRole::staticText;
    case ATSPI_ROLE_DOCUMENT_TEXT:
        return AccessibleRole::textArea;
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
        return AccessibleRole::image;
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_TOGGLE_BUTTON:
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_CHECK_BOX:
        return AccessibleRole::button;
    case ATSPI_ROLE_LINK:
        return AccessibleRole::link;
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_SECTION:
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
        // Editable rich-text areas (web pages' editable regions, mail composers).
        return isEditableObject(object) ? AccessibleRole::textArea : AccessibleRole::other;
    default:
        return AccessibleRole::other;
    }
}

std::optional<QString> AtspiAccessibility::value(const AccessibleElementHandle& element) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return std::nullopt;
    }
    GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
    if (!text) {
        return std::nullopt;
    }
    return wholeText(text.get());
}

std::optional<QString> AtspiAccessibility::selectedText(const AccessibleElementHandle& element) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return std::nullopt;
    }
    GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
    if (!text) {
        return std::nullopt;
    }
    CallError countError;
    const gint count = atspi_text_get_n_selections(text.get(), countError.out());
    if (countError.failed()) {
        return std::nullopt;
    }
    const std::optional<std::pair<int, int>> selection = count > 0 ? firstSelection(text.get()) : std::nullopt;
    if (!selection) {
        return QString();
    }
    CallError error;
    GMemory<gchar> chars(atspi_text_get_text(text.get(), selection->first, selection->second, error.out()));
    if (error.failed() || !chars) {
        return std::nullopt;
    }
    return QString::fromUtf8(chars.get());
}

std::optional<AccessibleTextRange> AtspiAccessibility::selectedRange(const AccessibleElementHandle& element) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return std::nullopt;
    }
    GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
    if (!text) {
        return std::nullopt;
    }
    const std::optional<FieldText> field = readFieldText(text.get());
    if (!field) {
        return std::nullopt;
    }
    if (const auto selection = firstSelection(text.get())) {
        const qsizetype start = field->toUtf16(selection->first);
        const qsizetype end = field->toUtf16(selection->second);
        return AccessibleTextRange{start, end - start};
    }
    CallError error;
    const gint caret = atspi_text_get_caret_offset(text.get(), error.out());
    if (error.failed() || caret < 0) {
        return std::nullopt;
    }
    return AccessibleTextRange{field->toUtf16(caret), 0};
}

std::optional<QRectF> AtspiAccessibility::frame(const AccessibleElementHandle& element) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return std::nullopt;
    }
    GObjectRef<AtspiComponent> component(atspi_accessible_get_component_iface(object));
    if (!component) {
        return std::nullopt;
    }
    CallError error;
    GMemory<AtspiRect> rect(atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_SCREEN, error.out()));
    if (error.failed()) {
        return std::nullopt;
    }
    return toLogicalRect(rect.get());
}

std::optional<QRectF> AtspiAccessibility::boundsForRange(const AccessibleElementHandle& element,
                                                         AccessibleTextRange range) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return std::nullopt;
    }
    GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
    if (!text) {
        return std::nullopt;
    }
    const std::optional<FieldText> field = readFieldText(text.get());
    if (!field || !fitsText(range, field->whole)) {
        return std::nullopt;
    }
    const gint start = field->fromUtf16(range.location);
    const gint end = field->fromUtf16(range.location + range.length);
    CallError error;
    GMemory<AtspiRect> rect(atspi_text_get_range_extents(text.get(), start, end, ATSPI_COORD_TYPE_SCREEN, error.out()));
    if (error.failed()) {
        return std::nullopt;
    }
    return toLogicalRect(rect.get());
}

bool AtspiAccessibility::isChromiumControl(const AccessibleElementHandle& element) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return false;
    }
    return toolkitOf(object) == "Chromium";
}

bool AtspiAccessibility::isEditable(const AccessibleElementHandle& element) {
    AtspiAccessible* object = objectOf(element);
    return object && isEditableObject(object);
}

bool AtspiAccessibility::isValueSettable(const AccessibleElementHandle& element) {
    AtspiAccessible* object = objectOf(element);
    if (!object || !isEditableObject(object)) {
        return false;
    }
    GObjectRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object));
    return static_cast<bool>(editable);
}

bool AtspiAccessibility::setValue(const AccessibleElementHandle& element, const QString& text) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return false;
    }
    GObjectRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object));
    if (!editable) {
        return false;
    }
    CallError error;
    const gboolean done = atspi_editable_text_set_text_contents(editable.get(), text.toUtf8().constData(), error.out());
    return !error.failed() && done;
}

bool AtspiAccessibility::setSelectedText(const AccessibleElementHandle& element, const QString& newText) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return false;
    }
    GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
    GObjectRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object));
    if (!text || !editable) {
        return false;
    }
    const std::optional<FieldText> before = readFieldText(text.get());
    const std::optional<std::pair<int, int>> selection = firstSelection(text.get());
    if (!before || !selection) {
        return false;
    }
    const auto [start, end] = *selection;
    const qsizetype startUtf16 = before->toUtf16(start);
    const qsizetype endUtf16 = before->toUtf16(end);
    const QString expected = before->whole.left(startUtf16) + newText + before->whole.mid(endUtf16);

    // There is no "replace the selection" call: delete it, then insert at its start. Toolkits
    // disagree on the unit of the insert length (Qt: UTF-16 units; GTK and web engines: bytes).
    const QByteArray utf8 = newText.toUtf8();
    const auto length = static_cast<gint>(toolkitOf(object) == "Qt" ? newText.size() : utf8.size());
    CallError deleteError;
    const gboolean deleted = atspi_editable_text_delete_text(editable.get(), start, end, deleteError.out());
    if (deleteError.failed() || !deleted) {
        return false;
    }
    CallError insertError;
    const gboolean inserted =
        atspi_editable_text_insert_text(editable.get(), start, utf8.constData(), length, insertError.out());

    // Only a field that now reads exactly as expected counts; otherwise put the old text
    // back so the caller's fallback starts from what the user had.
    if (!insertError.failed() && inserted && wholeText(text.get()) == expected) {
        const std::optional<FieldText> after = readFieldText(text.get());
        CallError caretError;
        if (after) {
            atspi_text_set_caret_offset(text.get(), after->fromUtf16(startUtf16 + newText.size()), caretError.out());
        }
        return true;
    }
    CallError restoreError;
    atspi_editable_text_set_text_contents(editable.get(), before->whole.toUtf8().constData(), restoreError.out());
    CallError reselectError;
    atspi_text_set_selection(text.get(), 0, start, end, reselectError.out());
    return false;
}

bool AtspiAccessibility::setSelectedRange(const AccessibleElementHandle& element, AccessibleTextRange range) {
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return false;
    }
    GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
    if (!text) {
        return false;
    }
    const std::optional<FieldText> field = readFieldText(text.get());
    if (!field || !fitsText(range, field->whole)) {
        return false;
    }
    const gint start = field->fromUtf16(range.location);
    const gint end = field->fromUtf16(range.location + range.length);
    CallError error;
    if (range.length == 0) {
        const gboolean done = atspi_text_set_caret_offset(text.get(), start, error.out());
        return !error.failed() && done;
    }
    CallError countError;
    const gint count = atspi_text_get_n_selections(text.get(), countError.out());
    const gboolean done = (!countError.failed() && count > 0)
                              ? atspi_text_set_selection(text.get(), 0, start, end, error.out())
                              : atspi_text_add_selection(text.get(), start, end, error.out());
    return !error.failed() && done;
}

}  // namespace tavrolin
