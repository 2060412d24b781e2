// Finding the focused object below an application or a window: the application's own search
// where it offers one, else a walk bounded in time, width and depth. And where a once focused
// object stands now: still listed by its parent, in the active window or not.
#include "platform/linux/atspi_accessibility.h"
#include "platform/linux/atspi_calls.h"

namespace tavrolin::atspi {

namespace {

// The application's own search for its focused object, where it offers one (GTK does):
// one call however large the tree. Absent when the application cannot search.
std::optional<AtspiAccessible*> collectionFocused(AtspiAccessible* root) {
    GObjectRef<AtspiCollection> collection(atspi_accessible_get_collection_iface(root));
    if (!collection) {
        return std::nullopt;
    }
    GObjectRef<AtspiStateSet> wanted(atspi_state_set_new(nullptr));
    atspi_state_set_add(wanted.get(), ATSPI_STATE_FOCUSED);
    GObjectRef<AtspiMatchRule> rule(
        atspi_match_rule_new(wanted.get(), ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
                             ATSPI_Collection_MATCH_NONE, nullptr, ATSPI_Collection_MATCH_NONE, FALSE));
    CallError error;
    GArray* matches = atspi_collection_get_matches(collection.get(), rule.get(), ATSPI_Collection_SORT_ORDER_CANONICAL,
                                                   1, TRUE, error.out());
    if (error.failed() || !matches) {
        return std::nullopt;
    }
    AtspiAccessible* found = nullptr;
    for (guint i = 0; i < matches->len; ++i) {
        auto* match = g_array_index(matches, AtspiAccessible*, i);
        if (!found && match) {
            found = match;
        } else if (match) {
            g_object_unref(match);
        }
    }
    g_array_free(matches, TRUE);
    return found;
}

}  // namespace

// More children than any form or document part has: a spreadsheet's cells (a million rows),
// which hold no keyboard focus of their own (the sheet has it).
constexpr int kCellsOfASheet = 100000;

AtspiAccessible* findFocused(AtspiAccessible* root, int depth, SteadyClock::time_point deadline, bool office);

// The first focused object among the children of `root` and below, until `deadline`.
AtspiAccessible* findFocusedChild(AtspiAccessible* root, int depth, SteadyClock::time_point deadline, bool office) {
    CallError countError;
    const gint count = atspi_accessible_get_child_count(root, countError.out());
    if (countError.failed() || (office && count >= kCellsOfASheet)) {
        return nullptr;
    }
    for (gint i = 0; i < std::min<gint>(count, kMaximumChildrenPerObject) && SteadyClock::now() <= deadline; ++i) {
        CallError childError;
        GObjectRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(root, i, childError.out()));
        if (childError.failed() || !child) {
            continue;
        }
        if (AtspiAccessible* found = findFocused(child.get(), depth + 1, deadline, office)) {
            return found;
        }
    }
    return nullptr;
}

// Depth-first search for the focused object below `root`, skipping hidden subtrees, until
// `deadline`. `office`: LibreOffice's tree, whose sheets' cells (kCellsOfASheet or more
// children) are never visited, and where a focused object may hold the real focus below it: a
// text document's paragraph stays "focused" while the user edits a comment anchored in it (the
// comment's editor, a focused panel, and its focused paragraph, are the paragraph's
// descendants), so the deepest focused object is the one being edited.
AtspiAccessible* findFocused(AtspiAccessible* root, int depth, SteadyClock::time_point deadline, bool office) {
    if (depth > kMaximumDepth || SteadyClock::now() > deadline) {
        return nullptr;
    }
    GObjectRef<AtspiStateSet> states(stateSetOf(root));
    if (!states) {
        return nullptr;
    }
    if (atspi_state_set_contains(states.get(), ATSPI_STATE_FOCUSED)) {
        if (office) {
            if (AtspiAccessible* inner = findFocusedChild(root, depth, deadline, office)) {
                return inner;
            }
            // The office keeps its root pane focused while the object with the keys has lost
            // them for a moment (our shortcut's grab): the pane alone is no field.
            if (isWindowPane(roleOf(root))) {
                return nullptr;
            }
        }
        return static_cast<AtspiAccessible*>(g_object_ref(root));
    }
    // The application object itself is never "showing"; below it, hidden windows and
    // widgets cannot hold the keyboard focus.
    if (depth > 0 && !atspi_state_set_contains(states.get(), ATSPI_STATE_SHOWING)) {
        return nullptr;
    }
    return findFocusedChild(root, depth, deadline, office);
}

// The focused object below `root`: the application's own search first, a bounded walk after.
// LibreOffice's own search visits every cell of every open sheet (a million rows): it keeps the
// office busy for many seconds, its keys and every later query waiting. Its tree is walked.
AtspiAccessible* searchFocused(AtspiAccessible* root, int depth) {
    if (isLibreOfficeObject(root)) {
        atspi_accessible_clear_cache(root);
        return findFocused(root, depth, SteadyClock::now() + AtspiAccessibility::focusSearchBudget, true);
    }
    if (const std::optional<AtspiAccessible*> found = collectionFocused(root)) {
        if (*found) {
            return *found;
        }
    }
    // Children and states may have changed without an event reaching us.
    atspi_accessible_clear_cache(root);
    return findFocused(root, depth, SteadyClock::now() + AtspiAccessibility::focusSearchBudget, false);
}

// Whether `object` is still among its parent's children: the office replaces a paragraph's object
// as the text around it changes, and one it let go of may still answer for a while.
bool isListedByParent(AtspiAccessible* object) {
    CallError indexError;
    const gint index = atspi_accessible_get_index_in_parent(object, indexError.out());
    CallError parentError;
    GObjectRef<AtspiAccessible> parent(atspi_accessible_get_parent(object, parentError.out()));
    if (indexError.failed() || parentError.failed() || index < 0 || !parent) {
        return false;
    }
    CallError childError;
    GObjectRef<AtspiAccessible> child(atspi_accessible_get_child_at_index(parent.get(), index, childError.out()));
    if (childError.failed() || !child) {
        return false;
    }
    const AtspiObject& listed = child.get()->parent;
    const AtspiObject& asked = object->parent;
    return child.get() == object || (listed.app && asked.app && listed.app == asked.app && listed.path && asked.path &&
                                     g_strcmp0(listed.path, asked.path) == 0);
}

// Whether the window `inner` lies in (its nearest frame, dialog or window above it) is the
// active one.
bool inActiveWindow(AtspiAccessible* inner) {
    GObjectRef<AtspiAccessible> current(static_cast<AtspiAccessible*>(g_object_ref(inner)));
    for (int depth = 0; depth <= kMaximumDepth; ++depth) {
        CallError error;
        GObjectRef<AtspiAccessible> parent(atspi_accessible_get_parent(current.get(), error.out()));
        if (error.failed() || !parent) {
            return false;
        }
        const AtspiRole role = roleOf(parent.get());
        if (role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_DIALOG || role == ATSPI_ROLE_WINDOW) {
            atspi_accessible_clear_cache(parent.get());
            GObjectRef<AtspiStateSet> states(stateSetOf(parent.get()));
            return states && atspi_state_set_contains(states.get(), ATSPI_STATE_ACTIVE);
        }
        current = std::move(parent);
    }
    return false;
}

}  // namespace tavrolin::atspi
