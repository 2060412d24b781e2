#pragma once

// Reading and pressing what another process shows, through its accessible tree (AT-SPI): the
// desktop tests read our alerts and popups this way, as a screen reader would.
#include <QPoint>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <atspi/atspi.h>
#include <functional>
#include <optional>

namespace tavrolin::test {

namespace accessible_detail {

// Calls `visit` on every node under `node` (depth first) until it answers true.
inline bool walk(AtspiAccessible* node, int depth, const std::function<bool(AtspiAccessible*)>& visit) {
    if (!node || depth > 12) {
        return false;
    }
    if (visit(node)) {
        return true;
    }
    const gint count = atspi_accessible_get_child_count(node, nullptr);
    for (gint i = 0; i < count && i < 200; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr);
        const bool done = walk(child, depth + 1, visit);
        if (child) {
            g_object_unref(child);
        }
        if (done) {
            return true;
        }
    }
    return false;
}

inline bool walkProcess(qint64 pid, const std::function<bool(AtspiAccessible*)>& visit) {
    atspi_init();
    bool done = false;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    const gint count = atspi_accessible_get_child_count(desktop, nullptr);
    for (gint i = 0; i < count && !done; ++i) {
        AtspiAccessible* application = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (application && atspi_accessible_get_process_id(application, nullptr) == guint(pid)) {
            done = walk(application, 0, visit);
        }
        if (application) {
            g_object_unref(application);
        }
    }
    g_object_unref(desktop);
    return done;
}

inline QString nameOf(AtspiAccessible* node) {
    QString name;
    if (gchar* raw = atspi_accessible_get_name(node, nullptr)) {
        name = QString::fromUtf8(raw);
        g_free(raw);
    }
    return name;
}

// The text an object holds; absent where it holds none.
inline std::optional<QString> textOf(AtspiAccessible* node) {
    std::optional<QString> found;
    if (AtspiText* text = atspi_accessible_get_text_iface(node)) {
        // To the character count: GTK 4's entries answer "to the end" (-1) with nothing.
        const gint count = atspi_text_get_character_count(text, nullptr);
        if (gchar* raw = atspi_text_get_text(text, 0, std::max(count, 0), nullptr)) {
            found = QString::fromUtf8(raw);
            g_free(raw);
        }
        g_object_unref(text);
    }
    return found;
}

}  // namespace accessible_detail

// The names of every label, button and text object of one process.
inline QStringList accessibleTexts(qint64 pid) {
    QStringList texts;
    accessible_detail::walkProcess(pid, [&texts](AtspiAccessible* node) {
        const QString name = accessible_detail::nameOf(node);
        if (!name.isEmpty()) {
            texts << name;
        }
        return false;
    });
    return texts;
}

// The contents of every text box of one process (their text, not their names).
inline QStringList accessibleTextBoxContents(qint64 pid) {
    QStringList contents;
    accessible_detail::walkProcess(pid, [&contents](AtspiAccessible* node) {
        const AtspiRole role = atspi_accessible_get_role(node, nullptr);
        if (role != ATSPI_ROLE_TEXT && role != ATSPI_ROLE_ENTRY) {
            return false;
        }
        if (const std::optional<QString> text = accessible_detail::textOf(node)) {
            contents << *text;
        }
        return false;
    });
    return contents;
}

// Where on the screen the character at `offset` of the process's first object holding exactly
// `text` lies (its middle); absent where none does or it tells no place.
inline std::optional<QPoint> screenPointOfText(qint64 pid, const QString& text, int offset) {
    std::optional<QPoint> found;
    accessible_detail::walkProcess(pid, [&](AtspiAccessible* node) {
        if (accessible_detail::textOf(node) != text) {
            return false;
        }
        AtspiText* iface = atspi_accessible_get_text_iface(node);
        if (!iface) {
            return false;
        }
        if (AtspiRect* rect = atspi_text_get_character_extents(iface, offset, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
            if (rect->width > 0 || rect->height > 0) {
                found = QPoint(rect->x + rect->width / 2, rect->y + rect->height / 2);
            }
            g_free(rect);
        }
        g_object_unref(iface);
        return found.has_value();
    });
    return found;
}

// Runs the first action (a click) of the process's first object named `name`.
inline bool pressAccessible(qint64 pid, const QString& name) {
    return accessible_detail::walkProcess(pid, [&name](AtspiAccessible* node) {
        if (accessible_detail::nameOf(node) != name) {
            return false;
        }
        AtspiAction* action = atspi_accessible_get_action_iface(node);
        if (!action) {
            return false;
        }
        const gboolean done = atspi_action_do_action(action, 0, nullptr);
        g_object_unref(action);
        return done != FALSE;
    });
}

}  // namespace tavrolin::test
