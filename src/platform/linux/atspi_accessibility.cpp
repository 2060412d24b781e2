#include "platform/linux/atspi_accessibility.h"

#include "platform/linux/atspi_calls.h"
#include "platform/linux/x11_pixels.h"
#include "platform/selection_replacement_check.h"

#include <QByteArray>

#include <algorithm>
#include <atspi/atspi.h>
#include <cstring>
#include <deque>
#include <dlfcn.h>
#include <map>
#include <set>
#include <string>
#include <thread>

namespace tavrolin {

// The GLib main context AT-SPI was set up with: libatspi objects are let go there too.
GMainContext* atspiContext = nullptr;

namespace atspi {

std::chrono::milliseconds callBoundOfThisProcess{500};
thread_local bool callRanOutOfTime = false;

AtspiStateSet* stateSetOf(AtspiAccessible* object) {
    const auto started = std::chrono::steady_clock::now();
    AtspiStateSet* states = atspi_accessible_get_state_set(object);
    if (std::chrono::steady_clock::now() - started >= callBoundOfThisProcess * 9 / 10) {
        callRanOutOfTime = true;
    }
    return states;
}

bool isEditableObject(AtspiAccessible* object) {
    GObjectRef<AtspiStateSet> states(stateSetOf(object));
    return states && atspi_state_set_contains(states.get(), ATSPI_STATE_EDITABLE) &&
           !atspi_state_set_contains(states.get(), ATSPI_STATE_READ_ONLY);
}

// The toolkit of an object's application: its name and major version, and the application's name.
struct Toolkit {
    QByteArray name;
    long long major = 0;
    QByteArray application;
};

Toolkit toolkitInfoOf(AtspiAccessible* object) {
    // Kept by the application's bus name once asked: finding the application walks up the tree a
    // call per level where the toolkit keeps no parent cache (GTK 4: tens of milliseconds per
    // read of an editor's field). A bus name is one program's connection, never reused for
    // another. Each thread that calls libatspi keeps its own.
    thread_local std::map<std::string, Toolkit> byApplication;
    const AtspiApplication* application = object ? object->parent.app : nullptr;
    const std::string bus = application && application->bus_name ? application->bus_name : std::string();
    if (const auto known = byApplication.find(bus); !bus.empty() && known != byApplication.end()) {
        return known->second;
    }
    CallError appError;
    GObjectRef<AtspiAccessible> app(atspi_accessible_get_application(object, appError.out()));
    if (appError.failed() || !app) {
        return {};
    }
    CallError error;
    GMemory<gchar> name(atspi_accessible_get_toolkit_name(app.get(), error.out()));
    if (error.failed() || !name) {
        return {};
    }
    Toolkit toolkit{QByteArray(name.get())};
    CallError versionError;
    GMemory<gchar> version(atspi_accessible_get_toolkit_version(app.get(), versionError.out()));
    if (!versionError.failed() && version) {
        toolkit.major = g_ascii_strtoll(version.get(), nullptr, 10);
    }
    CallError nameError;
    GMemory<gchar> applicationName(atspi_accessible_get_name(app.get(), nameError.out()));
    if (!nameError.failed() && applicationName) {
        toolkit.application = QByteArray(applicationName.get());
    }
    if (!bus.empty()) {
        if (byApplication.size() >= 256) {
            byApplication.clear();  // programs come and go: only the ones of late are kept
        }
        byApplication.emplace(bus, toolkit);
    }
    return toolkit;
}

QByteArray toolkitOf(AtspiAccessible* object) {
    return toolkitInfoOf(object).name;
}

// LibreOffice names its application "soffice" whatever its toolkit front end (GTK 3, Qt, KDE).
bool isLibreOfficeObject(AtspiAccessible* object) {
    return toolkitInfoOf(object).application.startsWith("soffice");
}

AtspiRole roleOf(AtspiAccessible* object) {
    CallError error;
    const AtspiRole role = atspi_accessible_get_role(object, error.out());
    return error.failed() ? ATSPI_ROLE_INVALID : role;
}

}  // namespace atspi

using namespace atspi;

namespace {

class AtspiElement final : public AccessibleElement {
public:
    explicit AtspiElement(AtspiAccessible* object) : object_(object) {}  // takes the reference
    ~AtspiElement() override {
        // Handles travel to the GUI thread and may be dropped there; only the accessibility
        // thread may touch libatspi objects, even to let them go.
        g_main_context_invoke_full(
            atspiContext, G_PRIORITY_DEFAULT,
            [](gpointer object) -> gboolean {
                g_object_unref(object);
                return G_SOURCE_REMOVE;
            },
            object_, nullptr);
    }
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
    GObjectRef<AtspiStateSet> states(stateSetOf(object));
    return states && atspi_state_set_contains(states.get(), state);
}

bool fitsText(AccessibleTextRange range, const QString& text) {
    return range.location >= 0 && range.length >= 0 && range.location <= text.size() &&
           range.length <= text.size() - range.location;
}

// GTK 4 gives every position relative to its window, whatever kind of coordinates is asked for.
bool positionsRelativeToWindow(AtspiAccessible* object) {
    const Toolkit toolkit = toolkitInfoOf(object);
    return g_ascii_strcasecmp(toolkit.name.constData(), "GTK") == 0 && toolkit.major >= 4;
}

// The window that holds an object: its ancestor just below the application; a new reference,
// null when not found.
AtspiAccessible* windowOf(AtspiAccessible* object) {
    // A program with one window holds everything in it: two calls, where the walk up to it costs
    // two a level in a toolkit without a parent cache (GTK 4).
    AtspiAccessible* root = object->parent.app ? object->parent.app->root : nullptr;
    if (root) {
        CallError countError;
        const gint windows = atspi_accessible_get_child_count(root, countError.out());
        if (!countError.failed() && windows == 1) {
            CallError childError;
            AtspiAccessible* only = atspi_accessible_get_child_at_index(root, 0, childError.out());
            if (!childError.failed() && only) {
                return only;
            }
            if (only) {
                g_object_unref(only);
            }
        }
    }
    GObjectRef<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(object)));
    for (int depth = 0; depth <= kMaximumDepth; ++depth) {
        CallError error;
        GObjectRef<AtspiAccessible> parent(atspi_accessible_get_parent(current.get(), error.out()));
        if (error.failed() || !parent) {
            return nullptr;
        }
        if (roleOf(parent.get()) == ATSPI_ROLE_APPLICATION) {
            return current.release();
        }
        g_object_unref(current.release());
        current.ptr = parent.release();
    }
    return nullptr;
}

// A rectangle of an object of a toolkit that gives positions relative to its window, placed on
// the screen (device pixels); absent unless its window is the front one, told by its process and
// its size: a window measured by another one's position would place it wrong.
std::optional<QRectF> windowRectOnScreen(AtspiAccessible* object, const QRectF& inWindow,
                                         const std::optional<x11::FrontWindowContent>& front) {
    if (!front) {
        return std::nullopt;
    }
    CallError pidError;
    const guint pid = atspi_accessible_get_process_id(object, pidError.out());
    if (pidError.failed() || static_cast<qint64>(pid) != front->processId) {
        return std::nullopt;
    }
    GObjectRef<AtspiAccessible> window(windowOf(object));
    GObjectRef<AtspiComponent> component(window ? atspi_accessible_get_component_iface(window.get()) : nullptr);
    if (!component) {
        return std::nullopt;
    }
    CallError error;
    GMemory<AtspiRect> size(atspi_component_get_extents(component.get(), ATSPI_COORD_TYPE_WINDOW, error.out()));
    if (error.failed() || !size) {
        return std::nullopt;
    }
    const std::optional<QPoint> origin = x11::contentOrigin(*front, QSize(size->width, size->height));
    return origin ? std::optional<QRectF>(inWindow.translated(*origin)) : std::nullopt;
}

// An object's rectangle as its toolkit gave it, on the screen in logical pixels.
std::optional<QRectF> placedOnScreen(AtspiAccessible* object, AtspiRect* rect, bool relativeToWindow,
                                     const AtspiAccessibility::FrontWindowContentReader& frontWindowContent) {
    if (!rect) {
        return std::nullopt;
    }
    const QRectF device(rect->x, rect->y, rect->width, rect->height);
    if (!relativeToWindow) {
        return x11::deviceRectToLogical(device);
    }
    const std::optional<x11::FrontWindowContent> front = frontWindowContent ? frontWindowContent() : std::nullopt;
    const std::optional<QRectF> onScreen = windowRectOnScreen(object, device, front);
    return onScreen ? std::optional<QRectF>(x11::deviceRectToLogical(*onScreen)) : std::nullopt;
}

// The D-Bus name of the application that owns an object.
std::string applicationOf(AtspiAccessible* object) {
    const AtspiApplication* app = object ? object->parent.app : nullptr;
    return app && app->bus_name ? std::string(app->bus_name) : std::string();
}

}  // namespace

}  // namespace tavrolin

// libatspi opens a private connection to each application that offers one and attaches it to
// the global default GLib context, which Qt's GUI thread dispatches: libatspi would then run
// on two threads at once (and deadlock). Every connection it sets up is attached to the
// accessibility thread's context instead; the library calls this through its own symbol
// table, so this definition takes its place.
extern "C" void atspi_dbus_connection_setup_with_g_main(DBusConnection* connection, GMainContext* context) {
    using Setup = void (*)(DBusConnection*, GMainContext*);
    static const auto library = reinterpret_cast<Setup>(dlsym(RTLD_NEXT, "atspi_dbus_connection_setup_with_g_main"));
    if (library) {
        library(connection, tavrolin::atspiContext ? tavrolin::atspiContext : context);
    }
}

namespace tavrolin {

namespace {

// Whether the way up from `object` ends in a tree of its application's that the application
// lists nowhere: past an ancestor other than its root, whose own parent is the desktop. Gecko
// keeps a panel of a window it never shows in such a tree and announces it focused whenever its
// window gets the keyboard back; Thunderbird announces it after its field, which it does not
// announce again, and the panel keeps saying it is focused while the field, which says so too,
// has the keys. A way up that breaks off (LibreOffice's cell editor hangs off no window) says
// no; a call that failed leaves it unknown.
std::optional<bool> liesInUnlistedTree(AtspiAccessible* object) {
    const AtspiObject& own = object->parent;
    AtspiAccessible* root = own.app ? own.app->root : nullptr;
    if (!root) {
        return false;
    }
    GObjectRef<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(object)));
    for (int depth = 0; depth <= kMaximumDepth && current.get() != root; ++depth) {
        CallError error;
        GObjectRef<AtspiAccessible> parent(atspi_accessible_get_parent(current.get(), error.out()));
        if (error.failed()) {
            return std::nullopt;
        }
        if (!parent) {
            return false;
        }
        if (parent.get()->parent.app != own.app) {
            return true;
        }
        current = std::move(parent);
    }
    return false;
}

}  // namespace

struct AtspiAccessibility::State {
    DBusAccessibilityBusStatus& busStatus;
    FrontWindowContentReader frontWindowContent;
    std::shared_ptr<DBusAccessibilityBusStatus> ownedBusStatus;
    std::chrono::milliseconds callTimeout{500};
    bool connected = false;
    AtspiEventListener* focusListener = nullptr;
    // The objects each application (by bus name) last said took its focus, the latest first: a
    // program's focus is what it says of it, whatever other programs announced since. Several
    // are kept: LibreOffice, given the keyboard back, announces the paragraph with the caret and
    // then its window's root pane, which does not keep the focused state.
    std::map<std::string, std::deque<AtspiAccessible*>> focusedByApplication;
    // The object each application (by bus name) last said lost its focus, held with a reference.
    std::map<std::string, AtspiAccessible*> lostFocusByApplication;
    // The application of the latest focus event.
    std::string lastFocusedApplication;
    // The process of each application's bus name, asked once: a bus name is one connection.
    std::map<std::string, qint64> processOfApplication;
    // A spreadsheet tells where its cursor went only by naming the sheet's new active cell (its
    // cells take no focus events): the last one named by each object (by bus name and path).
    AtspiEventListener* activeDescendantListener = nullptr;
    std::map<std::string, AtspiAccessible*> activeDescendants;
    // Applications (by bus name) that let a query run past the bound, and until when they
    // are left alone.
    std::map<std::string, SteadyClock::time_point> unresponsiveUntil;
    // Processes whose application object has been asked for its tree: asking again changes
    // nothing and costs a round trip.
    std::set<qint64> treesRequested;
    // Whether each announced object lies in a tree its program lists nowhere, held with a
    // reference: an object stays where it is, and the way up costs a round trip a level at each
    // look at the focus.
    std::map<AtspiAccessible*, bool> unlistedTrees;

    bool isInUnlistedTree(AtspiAccessible* object) {
        if (const auto known = unlistedTrees.find(object); known != unlistedTrees.end()) {
            return known->second;
        }
        const std::optional<bool> unlisted = liesInUnlistedTree(object);
        if (!unlisted) {
            return false;  // asked again next time
        }
        if (unlistedTrees.size() >= 64) {
            forgetUnlistedTrees();
        }
        unlistedTrees.emplace(static_cast<AtspiAccessible*>(g_object_ref(object)), *unlisted);
        return *unlisted;
    }

    void forgetUnlistedTrees() {
        for (const auto& [object, unlisted] : unlistedTrees) {
            g_object_unref(object);
        }
        unlistedTrees.clear();
    }

    explicit State(DBusAccessibilityBusStatus& status) : busStatus(status) {}

    bool isUnresponsive(const std::string& app) {
        if (app.empty()) {
            return false;
        }
        const auto it = unresponsiveUntil.find(app);
        if (it == unresponsiveUntil.end()) {
            return false;
        }
        if (SteadyClock::now() >= it->second) {
            unresponsiveUntil.erase(it);
            return false;
        }
        return true;
    }

    ~State() {
        if (focusListener) {
            atspi_event_listener_deregister(focusListener, "object:state-changed:focused", nullptr);
            g_object_unref(focusListener);
        }
        if (activeDescendantListener) {
            atspi_event_listener_deregister(activeDescendantListener, "object:active-descendant-changed", nullptr);
            g_object_unref(activeDescendantListener);
        }
        for (const auto& [key, cell] : activeDescendants) {
            g_object_unref(cell);
        }
        forgetAnnouncedFocus();
        forgetUnlistedTrees();
    }

    void forgetAnnouncedFocus() {
        for (const auto& [app, objects] : focusedByApplication) {
            for (AtspiAccessible* object : objects) {
                g_object_unref(object);
            }
        }
        focusedByApplication.clear();
        processOfApplication.clear();
        for (const auto& [app, object] : lostFocusByApplication) {
            g_object_unref(object);
        }
        lostFocusByApplication.clear();
    }

    static std::string keyOf(AtspiAccessible* object) {
        const AtspiObject& named = object->parent;
        if (!named.app || !named.app->bus_name || !named.path) {
            return {};
        }
        return std::string(named.app->bus_name) + '\n' + named.path;
    }

    // No call into the program from here: the event is dispatched inside its connection.
    static void onActiveDescendantChanged(AtspiEvent* event, void* userData) {
        auto* self = static_cast<State*>(userData);
        if (event->source && G_VALUE_HOLDS(&event->any_data, ATSPI_TYPE_ACCESSIBLE)) {
            auto* descendant = static_cast<AtspiAccessible*>(g_value_get_object(&event->any_data));
            const std::string key = keyOf(event->source);
            if (descendant && !key.empty()) {
                if (self->activeDescendants.size() >= 64 && !self->activeDescendants.contains(key)) {
                    for (const auto& [known, cell] : self->activeDescendants) {
                        g_object_unref(cell);
                    }
                    self->activeDescendants.clear();  // lists and sheets come and go
                }
                auto& slot = self->activeDescendants[key];
                if (slot) {
                    g_object_unref(slot);
                }
                slot = static_cast<AtspiAccessible*>(g_object_ref(descendant));
            }
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    static constexpr std::size_t kFocusedObjectsKept = 3;

    // An object the program says lost the focus leaves its list, even where its state still
    // says focused (LibreOffice keeps the paragraph a comment is anchored in focused while the
    // comment has the keys).
    static void onFocusChanged(AtspiEvent* event, void* userData) {
        auto* self = static_cast<State*>(userData);
        const std::string app = event->source ? applicationOf(event->source) : std::string();
        if (!app.empty() && (event->detail1 == 1 || self->focusedByApplication.contains(app))) {
            if (self->focusedByApplication.size() >= 64 && !self->focusedByApplication.contains(app)) {
                self->forgetAnnouncedFocus();  // programs come and go
            }
            std::deque<AtspiAccessible*>& objects = self->focusedByApplication[app];
            const auto known = std::find(objects.begin(), objects.end(), event->source);
            if (known != objects.end()) {
                g_object_unref(*known);
                objects.erase(known);
            }
            if (event->detail1 == 0) {
                AtspiAccessible*& lost = self->lostFocusByApplication[app];
                if (lost) {
                    g_object_unref(lost);
                }
                lost = static_cast<AtspiAccessible*>(g_object_ref(event->source));
            }
            if (event->detail1 == 1) {
                objects.push_front(static_cast<AtspiAccessible*>(g_object_ref(event->source)));
                if (objects.size() > kFocusedObjectsKept) {
                    g_object_unref(objects.back());
                    objects.pop_back();
                }
                self->lastFocusedApplication = app;
            }
        }
        g_boxed_free(ATSPI_TYPE_EVENT, event);
    }

    // Whether the application of bus name `app` has said some object of its has the focus and
    // has not taken that back.
    bool holdsAnnouncedFocus(const std::string& app) const {
        const auto announced = focusedByApplication.find(app);
        return announced != focusedByApplication.end() && !announced->second.empty();
    }

    // The bus name of the application of process `pid` among those whose focus events were
    // seen; empty when none was.
    std::string announcingApplication(qint64 pid) {
        for (const auto& [app, objects] : focusedByApplication) {
            auto known = processOfApplication.find(app);
            if (known == processOfApplication.end() && objects.empty()) {
                continue;
            }
            if (known == processOfApplication.end()) {
                CallError error;
                const guint owner = atspi_accessible_get_process_id(objects.front(), error.out());
                if (error.failed() || owner == 0) {
                    continue;
                }
                known = processOfApplication.emplace(app, static_cast<qint64>(owner)).first;
            }
            if (known->second == pid) {
                return app;
            }
        }
        return {};
    }

    // The application object of a process, with a new reference; null when not found.
    AtspiAccessible* application(qint64 pid) {
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
                return isUnresponsive(applicationOf(app.get())) ? nullptr : app.release();
            }
        }
        return nullptr;
    }
};

// Watches one query to one application: an application found unresponsive is not asked at
// all, and one that keeps the query past the bound is left alone for a while.
class AtspiAccessibility::Watch {
public:
    Watch(State& state, AtspiAccessible* object) : state_(state), app_(applicationOf(object)) {
        callRanOutOfTime = false;
    }
    // A call that ran out of time: the application is not answering. A query of several slow
    // but answered calls (a busy machine, a program building a large tree) is not.
    ~Watch() {
        if (!app_.empty() && callRanOutOfTime) {
            state_.unresponsiveUntil[app_] = SteadyClock::now() + AtspiAccessibility::unresponsiveQuarantine;
        }
        callRanOutOfTime = false;
    }
    Watch(const Watch&) = delete;
    Watch& operator=(const Watch&) = delete;
    bool skip() const { return state_.isUnresponsive(app_); }

private:
    State& state_;
    std::string app_;
};

// The preamble of every query about one element: a released element answers nothing, and
// neither does an application found unresponsive; the call runs under the watch of its
// application. Answers the call's result, or an empty one (no value, false).
template <typename Call>
auto AtspiAccessibility::onElement(const AccessibleElementHandle& element, Call call) -> decltype(call(nullptr)) {
    using Result = decltype(call(nullptr));
    AtspiAccessible* object = objectOf(element);
    if (!object) {
        return Result{};
    }
    const Watch watch(*d_, object);
    if (watch.skip()) {
        return Result{};
    }
    return call(object);
}

AtspiAccessibility::AtspiAccessibility(std::shared_ptr<DBusAccessibilityBusStatus> busStatus, int callTimeoutMs)
    : AtspiAccessibility(*busStatus, callTimeoutMs) {
    d_->ownedBusStatus = std::move(busStatus);
}

AtspiAccessibility::AtspiAccessibility(DBusAccessibilityBusStatus& busStatus, int callTimeoutMs)
    : d_(std::make_unique<State>(busStatus)) {
    d_->callTimeout = std::chrono::milliseconds(callTimeoutMs);
    callBoundOfThisProcess = d_->callTimeout;
    if (!atspiContext) {
        // Before the connection exists, so its traffic and events are dispatched by the loop
        // of the thread that makes the calls.
        atspiContext = g_main_context_ref_thread_default();
        atspi_set_main_context(atspiContext);
    }
    // 0: connected now, 1: already connected earlier in this process.
    const int init = atspi_init();
    d_->connected = init == 0 || init == 1;
    if (!d_->connected) {
        return;
    }
    // The same bound applies to applications that have only just started.
    atspi_set_timeout(callTimeoutMs, callTimeoutMs);
    // libatspi's own cache stays on: it handles the applications' cache messages inside the
    // connection's dispatch, and without a cache it would call back into the application from
    // there and deadlock. Where freshness matters (states), the cache is cleared before asking.
    d_->focusListener = atspi_event_listener_new(&State::onFocusChanged, d_.get(), nullptr);
    if (d_->focusListener) {
        CallError error;
        atspi_event_listener_register(d_->focusListener, "object:state-changed:focused", error.out());
    }
    d_->activeDescendantListener = atspi_event_listener_new(&State::onActiveDescendantChanged, d_.get(), nullptr);
    if (d_->activeDescendantListener) {
        CallError error;
        atspi_event_listener_register(d_->activeDescendantListener, "object:active-descendant-changed", error.out());
    }
}

AtspiAccessibility::~AtspiAccessibility() = default;

void AtspiAccessibility::setFrontWindowContentReader(FrontWindowContentReader reader) {
    d_->frontWindowContent = std::move(reader);
}

bool AtspiAccessibility::isTrusted() {
    if (!d_->connected) {
        return false;
    }
    // Only a bus that says its switch is off, or that cannot be reached twice in a row, refuses.
    // A question that timed out on a loaded machine says nothing of the desktop: the read goes
    // on and fails, quietly, if the programs do not answer either.
    AccessibilitySwitch answer = d_->busStatus.readSwitchBlocking();
    if (answer == AccessibilitySwitch::unreachable) {
        std::this_thread::sleep_for(trustConfirmPause);
        answer = d_->busStatus.readSwitchBlocking();
    }
    return answer == AccessibilitySwitch::on || answer == AccessibilitySwitch::noAnswer;
}

namespace {

// Whether `inner` lies below `outer`, asked of its ancestors (a parent each call, where the
// program keeps no parent cache).
bool isInside(AtspiAccessible* inner, AtspiAccessible* outer) {
    GObjectRef<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(inner)));
    for (int depth = 0; depth <= kMaximumDepth; ++depth) {
        CallError error;
        GObjectRef<AtspiAccessible> parent(atspi_accessible_get_parent(current.get(), error.out()));
        if (error.failed() || !parent) {
            return false;
        }
        if (parent.get() == outer) {
            return true;
        }
        current = std::move(parent);
    }
    return false;
}

// The focused object in the active window of application `app`, with a new reference; null
// when none.
AtspiAccessible* focusedInActiveWindow(AtspiAccessible* app) {
    CallError countError;
    const gint count = atspi_accessible_get_child_count(app, countError.out());
    for (gint i = 0; !countError.failed() && i < count; ++i) {
        CallError childError;
        GObjectRef<AtspiAccessible> window(atspi_accessible_get_child_at_index(app, i, childError.out()));
        if (childError.failed() || !window || !hasState(window.get(), ATSPI_STATE_ACTIVE)) {
            continue;
        }
        return searchFocused(window.get(), 1);
    }
    return nullptr;
}

}  // namespace

// The latest of the objects application `app` announced focused that still says it is, with a
// new reference; null when none does. An object may lose the focus without telling us, or be
// gone: each is asked once.
AtspiAccessible* AtspiAccessibility::announcedFocus(const std::string& app) {
    const auto announced = d_->focusedByApplication.find(app);
    if (announced == d_->focusedByApplication.end()) {
        return nullptr;
    }
    // Copied: the calls below dispatch events, which may change the list.
    std::vector<GObjectRef<AtspiAccessible>> objects;
    for (AtspiAccessible* object : announced->second) {
        objects.emplace_back(static_cast<AtspiAccessible*>(g_object_ref(object)));
    }
    // The objects that had the focus and no longer say so, the last one said to lose it first.
    GObjectRef<AtspiAccessible> lost;
    std::vector<AtspiAccessible*> unfocused;
    if (const auto last = d_->lostFocusByApplication.find(app); last != d_->lostFocusByApplication.end()) {
        lost = GObjectRef<AtspiAccessible>(static_cast<AtspiAccessible*>(g_object_ref(last->second)));
        unfocused.push_back(lost.get());
    }
    // A window's own pane (LibreOffice's root pane) holds every object of the window: what it
    // holds is looked for below it only when no object inside it says it has the focus. Of two
    // focused objects one inside the other, the inner one is being edited (LibreOffice keeps the
    // paragraph a comment is anchored in focused while the comment's own paragraph has the keys).
    AtspiAccessible* window = nullptr;
    AtspiAccessible* focused = nullptr;
    AtspiAccessible* unlisted = nullptr;
    for (const GObjectRef<AtspiAccessible>& object : objects) {
        const Watch watch(*d_, object.get());
        if (watch.skip()) {
            return nullptr;
        }
        atspi_accessible_clear_cache(object.get());
        GObjectRef<AtspiStateSet> states(stateSetOf(object.get()));
        // Firefox replaces a field's object when a script or a paste changes its text; the old
        // object may keep its focused state, marked defunct.
        if (!states || atspi_state_set_contains(states.get(), ATSPI_STATE_DEFUNCT)) {
            continue;
        }
        if (!atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED)) {
            unfocused.push_back(object.get());
            continue;
        }
        if (d_->isInUnlistedTree(object.get())) {
            unlisted = unlisted ? unlisted : object.get();
            continue;
        }
        const AtspiRole role = roleOf(object.get());
        if (isWindowPane(role)) {
            window = window ? window : object.get();
            continue;
        }
        if (!focused || isInside(object.get(), focused)) {
            focused = object.get();
        }
    }
    if (focused) {
        return deepestFocused(focused);
    }
    if (AtspiAccessible* pane = officePane(window, unfocused)) {
        // The office takes the focus off the object with the keys while our shortcut's grab
        // holds the keyboard, and keeps (or announces) its window's pane. It announces that
        // object again once the keys are up, but late, or never where the keys were released
        // before it had handled their loss (a quick tap): the object in that window that still
        // shows the caret is where the keys go. Where none does, the pane alone names no field,
        // and the caller looks again.
        return caretHolderIn(pane, unfocused);
    }
    if (window) {
        return deepestFocused(window);
    }
    if (!unlisted) {
        return nullptr;
    }
    // The field may have left the objects kept (Thunderbird announces its dialog and window
    // too): the program's own search finds it where it still says it has the focus. Where nothing
    // in a listed window does, the panel has the keys for the moment (Firefox hands them on to
    // its field some 20 ms later): it is the focus, and no field.
    AtspiAccessible* root = unlisted->parent.app ? unlisted->parent.app->root : nullptr;
    const Watch watch(*d_, unlisted);
    if (root && !watch.skip()) {
        if (AtspiAccessible* found = searchFocused(root, 0)) {
            return found;
        }
    }
    return static_cast<AtspiAccessible*>(g_object_ref(unlisted));
}

// The office's window pane among the announced objects: the focused one, else the latest one
// that no longer says it is focused (the office does not keep that state on it); null when the
// objects are not the office's or name no pane.
AtspiAccessible* AtspiAccessibility::officePane(AtspiAccessible* focusedPane,
                                                const std::vector<AtspiAccessible*>& unfocused) {
    if (focusedPane) {
        return isLibreOfficeObject(focusedPane) ? focusedPane : nullptr;
    }
    for (AtspiAccessible* object : unfocused) {
        const Watch watch(*d_, object);
        if (watch.skip()) {
            return nullptr;
        }
        if (isWindowPane(roleOf(object))) {
            return isLibreOfficeObject(object) ? object : nullptr;
        }
    }
    return nullptr;
}

// The first of `candidates` that lies in `pane`, shows, can be edited and holds the caret (the
// office's paragraphs without it answer -1), with a new reference; null when none does, or when
// the pane's window is not the active one: each of the office's documents keeps a caret of its
// own, and one in a window behind is not where the keys go.
AtspiAccessible* AtspiAccessibility::caretHolderIn(AtspiAccessible* pane,
                                                   const std::vector<AtspiAccessible*>& candidates) {
    {
        const Watch watch(*d_, pane);
        if (watch.skip() || !inActiveWindow(pane)) {
            return nullptr;
        }
    }
    for (AtspiAccessible* candidate : candidates) {
        const Watch watch(*d_, candidate);
        if (watch.skip()) {
            return nullptr;
        }
        atspi_accessible_clear_cache(candidate);
        GObjectRef<AtspiStateSet> states(stateSetOf(candidate));
        if (!states || atspi_state_set_contains(states.get(), ATSPI_STATE_DEFUNCT) ||
            !atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING) ||
            !atspi_state_set_contains(states.get(), ATSPI_STATE_EDITABLE)) {
            continue;
        }
        GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(candidate));
        if (!text) {
            continue;
        }
        CallError error;
        const gint caret = atspi_text_get_caret_offset(text.get(), error.out());
        if (!error.failed() && caret >= 0 && isListedByParent(candidate) && isInside(candidate, pane)) {
            return static_cast<AtspiAccessible*>(g_object_ref(candidate));
        }
    }
    return nullptr;
}

// A focused object, or, in LibreOffice, the deepest focused object below it, with a new
// reference. The office announces a comment's editor (a panel without text) or keeps the
// paragraph the comment is anchored in focused: the text being edited is focused below either.
AtspiAccessible* AtspiAccessibility::deepestFocused(AtspiAccessible* focused) {
    if (isLibreOfficeObject(focused)) {
        if (AtspiAccessible* inner =
                findFocusedChild(focused, 0, SteadyClock::now() + AtspiAccessibility::focusSearchBudget, true)) {
            return inner;
        }
    }
    return static_cast<AtspiAccessible*>(g_object_ref(focused));
}

AccessibleElementHandle AtspiAccessibility::systemFocusedElement() {
    return wrap(announcedFocus(d_->lastFocusedApplication));
}

AccessibleElementHandle AtspiAccessibility::focusedElementOfApplication(qint64 pid) {
    // What the program last said of its own focus, checked with a call an object: a walk of its
    // tree costs a round trip per object (an office with a sheet and a document open: seconds).
    const std::string announcing = d_->announcingApplication(pid);
    if (AtspiAccessible* found = announcedFocus(announcing)) {
        return wrap(found);
    }
    GObjectRef<AtspiAccessible> app(d_->application(pid));
    if (!app) {
        return nullptr;
    }
    const Watch watch(*d_, app.get());
    if (isLibreOfficeObject(app.get())) {
        // The office says where its focus goes: while an object it announced has not been
        // said to lose it (the shortcut's grab takes it away until the keys are up, and the
        // office announces it again then), the caller looks again rather than walk. Otherwise
        // its objects are walked, not searched, a round trip each: the window the user works in
        // first, so that other documents (an open sheet) cost nothing.
        if (d_->holdsAnnouncedFocus(announcing)) {
            return nullptr;
        }
        if (AtspiAccessible* found = focusedInActiveWindow(app.get())) {
            return wrap(found);
        }
    }
    return wrap(searchFocused(app.get(), 0));
}

AccessibleElementHandle AtspiAccessibility::focusedElementOfActiveWindow(qint64 pid) {
    if (AtspiAccessible* found = announcedFocus(d_->announcingApplication(pid))) {
        return wrap(found);
    }
    GObjectRef<AtspiAccessible> app(d_->application(pid));
    if (!app) {
        return nullptr;
    }
    const Watch watch(*d_, app.get());
    return wrap(focusedInActiveWindow(app.get()));
}

std::optional<qint64> AtspiAccessibility::processIdOf(const AccessibleElementHandle& element) {
    return onElement(element, [&](AtspiAccessible* object) -> std::optional<qint64> {
        CallError error;
        const guint pid = atspi_accessible_get_process_id(object, error.out());
        if (error.failed() || pid == 0) {
            return std::nullopt;
        }
        return static_cast<qint64>(pid);
    });
}

void AtspiAccessibility::requestAccessibilityTree(qint64 pid) {
    // Toolkits that build their tree on demand (Qt, GTK 4) watch the bus-wide switch.
    if (d_->busStatus.isEnabledBlocking() != true) {
        d_->busStatus.setEnabledBlocking(true);
    }
    // Chromium and the programs built on it (Electron) publish only their top-level frames
    // until an assistive technology asks an object for its attributes, which they take as
    // the sign that one is in use; they publish their whole tree, fields and focus events
    // included, within about 0.2 s. Asking costs other toolkits one plain read.
    if (d_->treesRequested.contains(pid)) {
        return;
    }
    GObjectRef<AtspiAccessible> app(d_->application(pid));
    if (!app) {
        return;
    }
    const Watch watch(*d_, app.get());
    // A cached answer would not reach the program.
    atspi_accessible_clear_cache(app.get());
    CallError error;
    GHashTable* attributes = atspi_accessible_get_attributes(app.get(), error.out());
    if (attributes) {
        g_hash_table_unref(attributes);
    }
    if (!error.failed()) {
        d_->treesRequested.insert(pid);
    }
}

std::optional<AccessibleRole> AtspiAccessibility::role(const AccessibleElementHandle& element) {
    return onElement(element, [&](AtspiAccessible* object) -> std::optional<AccessibleRole> {
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
        case ATSPI_ROLE_TERMINAL:
            // VTE and Qt terminal widgets, whose "editable" text feeds the running program.
            return AccessibleRole::terminal;
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
    });
}

std::optional<QString> AtspiAccessibility::value(const AccessibleElementHandle& element) {
    return onElement(element, [&](AtspiAccessible* object) -> std::optional<QString> {
        GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
        if (!text) {
            return std::nullopt;
        }
        return wholeText(text.get());
    });
}

std::optional<AccessibleRichText> AtspiAccessibility::richText(const AccessibleElementHandle& element) {
    return onElement(element, [](AtspiAccessible* object) { return richTextOf(object); });
}

std::optional<AccessibleRichText> AtspiAccessibility::richTextMeasuringLonger(const AccessibleElementHandle& element,
                                                                              int scale) {
    return onElement(element, [scale](AtspiAccessible* object) { return richTextOf(object, scale); });
}

std::optional<QString> AtspiAccessibility::selectedText(const AccessibleElementHandle& element) {
    return onElement(element, [&](AtspiAccessible* object) -> std::optional<QString> {
        GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
        if (!text) {
            return std::nullopt;
        }
        CallError countError;
        const gint count = atspi_text_get_n_selections(text.get(), countError.out());
        if (countError.failed()) {
            return std::nullopt;
        }
        if (count <= 0) {
            return QString();
        }
        // Cut from the text by the same reading of the selection's ends as its range, so that the
        // two agree whatever the program's count.
        const std::optional<FieldText> field = readFieldText(text.get());
        if (!field) {
            return std::nullopt;
        }
        const std::optional<std::pair<qsizetype, qsizetype>> selection = selectionInField(text.get(), *field);
        if (!selection) {
            return QString();
        }
        return field->whole.mid(selection->first, selection->second - selection->first);
    });
}

std::optional<AccessibleTextRange> AtspiAccessibility::selectedRange(const AccessibleElementHandle& element) {
    return onElement(element, [&](AtspiAccessible* object) -> std::optional<AccessibleTextRange> {
        GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(object));
        if (!text) {
            return std::nullopt;
        }
        const std::optional<FieldText> field = readFieldText(text.get());
        if (!field) {
            return std::nullopt;
        }
        return selectionOrCaret(text.get(), *field);
    });
}

std::optional<QRectF> AtspiAccessibility::frame(const AccessibleElementHandle& element) {
    return onElement(element, [&](AtspiAccessible* object) -> std::optional<QRectF> {
        GObjectRef<AtspiComponent> component(atspi_accessible_get_component_iface(object));
        if (!component) {
            return std::nullopt;
        }
        const bool relativeToWindow = positionsRelativeToWindow(object);
        CallError error;
        GMemory<AtspiRect> rect(atspi_component_get_extents(
            component.get(), relativeToWindow ? ATSPI_COORD_TYPE_WINDOW : ATSPI_COORD_TYPE_SCREEN, error.out()));
        if (error.failed()) {
            return std::nullopt;
        }
        return placedOnScreen(object, rect.get(), relativeToWindow, d_->frontWindowContent);
    });
}

std::optional<QRectF> AtspiAccessibility::boundsForRange(const AccessibleElementHandle& element,
                                                         AccessibleTextRange range) {
    return onElement(element, [&](AtspiAccessible* object) -> std::optional<QRectF> {
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
        const bool relativeToWindow = positionsRelativeToWindow(object);
        CallError error;
        GMemory<AtspiRect> rect(atspi_text_get_range_extents(
            text.get(), start, end, relativeToWindow ? ATSPI_COORD_TYPE_WINDOW : ATSPI_COORD_TYPE_SCREEN, error.out()));
        if (error.failed()) {
            return std::nullopt;
        }
        return placedOnScreen(object, rect.get(), relativeToWindow, d_->frontWindowContent);
    });
}

bool AtspiAccessibility::isChromiumControl(const AccessibleElementHandle& element) {
    return onElement(element, [&](AtspiAccessible* object) -> bool { return toolkitOf(object) == "Chromium"; });
}

std::optional<QString> AtspiAccessibility::toolkitName(const AccessibleElementHandle& element) {
    return onElement(element, [&](AtspiAccessible* object) -> std::optional<QString> {
        const QByteArray name = toolkitOf(object);
        return name.isEmpty() ? std::nullopt : std::optional<QString>(QString::fromUtf8(name));
    });
}

bool AtspiAccessibility::isEditable(const AccessibleElementHandle& element) {
    return onElement(element, [](AtspiAccessible* object) { return isEditableObject(object); });
}

// An editable parent holds the element's text among its own (LibreOffice's document around its
// paragraphs); a field's parent is a panel, a scroll pane or a page. A cell's editor selects all
// of the cell, which is the paragraph's text when the cell has one line.
bool AtspiAccessibility::isPartOfLargerText(const AccessibleElementHandle& element) {
    return onElement(element, [](AtspiAccessible* object) {
        if (GObjectRef<AtspiAccessible> editor{cellEditorOf(object)}) {
            CallError countError;
            const gint lines = atspi_accessible_get_child_count(editor.get(), countError.out());
            return countError.failed() || lines != 1;
        }
        CallError error;
        GObjectRef<AtspiAccessible> parent(atspi_accessible_get_parent(object, error.out()));
        return !error.failed() && parent && isEditableObject(parent.get());
    });
}

bool AtspiAccessibility::isSpreadsheetCellEditor(const AccessibleElementHandle& element) {
    return onElement(element, [](AtspiAccessible* object) {
        // The editor's paragraphs go when the edit ends; until then the one with the caret keeps
        // its focused state.
        atspi_accessible_clear_cache(object);
        GObjectRef<AtspiStateSet> states(stateSetOf(object));
        if (!states || !atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED) ||
            atspi_state_set_contains(states.get(), ATSPI_STATE_DEFUNCT)) {
            return false;
        }
        const GObjectRef<AtspiAccessible> editor(cellEditorOf(object));
        return static_cast<bool>(editor);
    });
}

bool AtspiAccessibility::isSpreadsheet(const AccessibleElementHandle& element) {
    return onElement(
        element, [](AtspiAccessible* object) { return GObjectRef<AtspiAccessible>(sheetOf(object)).get() != nullptr; });
}

AccessibleElementHandle AtspiAccessibility::spreadsheetCursorCell(const AccessibleElementHandle& element) {
    return onElement(element, [this](AtspiAccessible* object) -> AccessibleElementHandle {
        const GObjectRef<AtspiAccessible> table(sheetOf(object));
        if (!table) {
            return nullptr;
        }
        const AtspiRole role = roleOf(object);
        AtspiAccessible* cell = object;
        if (role == ATSPI_ROLE_TABLE) {
            const auto known = d_->activeDescendants.find(State::keyOf(table.get()));
            if (known == d_->activeDescendants.end()) {
                return nullptr;
            }
            cell = known->second;
        }
        // The cell named last is the cursor's. Its focused state says nothing: the sheet drops it
        // while another program holds the keyboard (our shortcut's grab).
        atspi_accessible_clear_cache(cell);
        GObjectRef<AtspiStateSet> states(stateSetOf(cell));
        if (!states || atspi_state_set_contains(states.get(), ATSPI_STATE_DEFUNCT) ||
            roleOf(cell) != ATSPI_ROLE_TABLE_CELL) {
            return nullptr;
        }
        return wrap(static_cast<AtspiAccessible*>(g_object_ref(cell)));
    });
}

bool AtspiAccessibility::reportsBackwardSelectionAsCaret(const AccessibleElementHandle& element) {
    return onElement(element, [](AtspiAccessible* object) { return isLibreOfficeObject(object); });
}

bool AtspiAccessibility::isValueSettable(const AccessibleElementHandle& element) {
    return onElement(element, [](AtspiAccessible* object) {
        if (!isEditableObject(object)) {
            return false;
        }
        GObjectRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object));
        return static_cast<bool>(editable);
    });
}

bool AtspiAccessibility::setValue(const AccessibleElementHandle& element, const QString& text) {
    return onElement(element, [&](AtspiAccessible* object) -> bool {
        GObjectRef<AtspiEditableText> editable(atspi_accessible_get_editable_text_iface(object));
        if (!editable) {
            return false;
        }
        CallError error;
        const gboolean done =
            atspi_editable_text_set_text_contents(editable.get(), text.toUtf8().constData(), error.out());
        return !error.failed() && done;
    });
}

bool AtspiAccessibility::setSelectedText(const AccessibleElementHandle& element, const QString& newText) {
    return onElement(element, [&](AtspiAccessible* object) -> bool {
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
        atspi_editable_text_insert_text(editable.get(), start, utf8.constData(), length, insertError.out());

        // Only the replaced range is judged. When it does not hold the new text, what the insert
        // left there is selected, so the caller's paste goes over it; the rest of the field is
        // never written back.
        const std::optional<FieldText> after = readFieldText(text.get());
        if (!after) {
            return false;
        }
        const SelectionReplacementCheck check = checkSelectionReplacement(
            before->whole, AccessibleTextRange{startUtf16, endUtf16 - startUtf16}, newText, after->whole);
        if (check.placed) {
            CallError caretError;
            atspi_text_set_caret_offset(text.get(), after->fromUtf16(startUtf16 + newText.size()), caretError.out());
            return true;
        }
        if (check.leftover) {
            const gint leftoverStart = after->fromUtf16(check.leftover->location);
            const gint leftoverEnd = after->fromUtf16(check.leftover->location + check.leftover->length);
            CallError selectError;
            if (leftoverEnd == leftoverStart) {
                atspi_text_set_caret_offset(text.get(), leftoverStart, selectError.out());
            } else {
                CallError countError;
                const gint count = atspi_text_get_n_selections(text.get(), countError.out());
                if (!countError.failed() && count > 0) {
                    atspi_text_set_selection(text.get(), 0, leftoverStart, leftoverEnd, selectError.out());
                } else {
                    atspi_text_add_selection(text.get(), leftoverStart, leftoverEnd, selectError.out());
                }
            }
        }
        return false;
    });
}

bool AtspiAccessibility::setSelectedRange(const AccessibleElementHandle& element, AccessibleTextRange range) {
    return onElement(element, [&](AtspiAccessible* object) -> bool {
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
        const auto select = [&](gint from, gint to) {
            CallError countError;
            const gint count = atspi_text_get_n_selections(text.get(), countError.out());
            CallError selectError;
            const gboolean done = (!countError.failed() && count > 0)
                                      ? atspi_text_set_selection(text.get(), 0, from, to, selectError.out())
                                      : atspi_text_add_selection(text.get(), from, to, selectError.out());
            return !selectError.failed() && done;
        };
        if (!select(start, end)) {
            return false;
        }
        // GTK and Firefox put the caret at the second end they are given: a selection wanted
        // backward is given again the other way round where the caret shows it is not. A program
        // that makes every selection forward (Chromium) keeps it so; one that shows the reversed
        // range as another (LibreOffice tells only the caret) gets the forward one back.
        const auto caretAtStart = [&]() -> std::optional<bool> {
            CallError caretError;
            const gint caret = atspi_text_get_caret_offset(text.get(), caretError.out());
            if (caretError.failed() || (caret != start && caret != end)) {
                return std::nullopt;
            }
            return caret == start;
        };
        const std::optional<bool> atStart = caretAtStart();
        if (!atStart || *atStart == range.backward) {
            return true;
        }
        const bool reversed = select(end, start);
        const std::optional<AccessibleTextRange> now = selectionOrCaret(text.get(), *field);
        if (!reversed || !now || now->location != range.location || now->length != range.length) {
            return select(start, end);
        }
        return true;
    });
}

bool AtspiAccessibility::setSelectedRangeInEmbedded(const AccessibleElementHandle& element,
                                                    const std::vector<qsizetype>& path, AccessibleTextRange range) {
    return onElement(element, [&](AtspiAccessible* object) -> bool {
        GObjectRef<AtspiAccessible> current(ATSPI_ACCESSIBLE(g_object_ref(object)));
        for (const qsizetype offset : path) {
            GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(current.get()));
            GObjectRef<AtspiHypertext> hypertext(atspi_accessible_get_hypertext_iface(current.get()));
            const std::optional<FieldText> field = text ? readFieldText(text.get()) : std::nullopt;
            if (!hypertext || !field || offset < 0 || offset >= field->whole.size()) {
                return false;
            }
            CallError indexError;
            const gint index =
                atspi_hypertext_get_link_index(hypertext.get(), field->fromUtf16(offset), indexError.out());
            if (indexError.failed() || index < 0) {
                return false;
            }
            CallError linkError;
            GObjectRef<AtspiHyperlink> link(atspi_hypertext_get_link(hypertext.get(), index, linkError.out()));
            if (linkError.failed() || !link) {
                return false;
            }
            CallError objectError;
            GObjectRef<AtspiAccessible> child(atspi_hyperlink_get_object(link.get(), 0, objectError.out()));
            if (objectError.failed() || !child) {
                return false;
            }
            current = std::move(child);
        }
        GObjectRef<AtspiText> text(atspi_accessible_get_text_iface(current.get()));
        const std::optional<FieldText> field = text ? readFieldText(text.get()) : std::nullopt;
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
    });
}

bool AtspiAccessibility::isSameElement(const AccessibleElementHandle& a, const AccessibleElementHandle& b) {
    AtspiAccessible* first = objectOf(a);
    AtspiAccessible* second = objectOf(b);
    if (!first || !second) {
        return false;
    }
    if (first == second) {
        return true;
    }
    // No call to the application: an object is named by its application's bus name and its path.
    const AtspiObject& x = first->parent;
    const AtspiObject& y = second->parent;
    return x.app && y.app && x.app->bus_name && y.app->bus_name && x.path && y.path &&
           std::strcmp(x.app->bus_name, y.app->bus_name) == 0 && std::strcmp(x.path, y.path) == 0;
}

}  // namespace tavrolin
