/* A second accessibility client for desktop tests, reading one program's objects as a screen
 * reader does: every INTERVAL milliseconds it walks the program's active window and asks each
 * object for its role, name, states and text (children of a node: the first 40; depth: 16).
 *
 * Usage: tavrolin_test_accessible_reader PID [INTERVAL_MS]
 * Prints "walks N objects M" on stdout after each walk; runs until killed. */
#include <atspi/atspi.h>
#include <stdio.h>
#include <stdlib.h>

static int read_node(AtspiAccessible* node, int depth) {
    if (node == NULL || depth > 16)
        return 0;
    int objects = 1;
    g_free(atspi_accessible_get_name(node, NULL));
    atspi_accessible_get_role(node, NULL);
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    if (states)
        g_object_unref(states);
    AtspiText* text = atspi_accessible_get_text_iface(node);
    if (text) {
        const gint count = atspi_text_get_character_count(text, NULL);
        g_free(atspi_text_get_text(text, 0, count > 0 ? count : 0, NULL));
        g_object_unref(text);
    }
    const gint children = atspi_accessible_get_child_count(node, NULL);
    for (gint i = 0; i < children && i < 40; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, NULL);
        objects += read_node(child, depth + 1);
        if (child)
            g_object_unref(child);
    }
    /* A later walk asks the program again, as a reader that listens to no events must. */
    atspi_accessible_clear_cache(node);
    return objects;
}

static int read_program(guint pid) {
    int objects = 0;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    const gint count = atspi_accessible_get_child_count(desktop, NULL);
    for (gint i = 0; i < count; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, NULL);
        if (app && atspi_accessible_get_process_id(app, NULL) == pid) {
            const gint windows = atspi_accessible_get_child_count(app, NULL);
            for (gint w = 0; w < windows; ++w) {
                AtspiAccessible* window = atspi_accessible_get_child_at_index(app, w, NULL);
                AtspiStateSet* states = window ? atspi_accessible_get_state_set(window) : NULL;
                if (states && atspi_state_set_contains(states, ATSPI_STATE_ACTIVE))
                    objects += read_node(window, 0);
                if (states)
                    g_object_unref(states);
                if (window)
                    g_object_unref(window);
            }
        }
        if (app)
            g_object_unref(app);
    }
    g_object_unref(desktop);
    return objects;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PID [INTERVAL_MS]\n", argv[0]);
        return 2;
    }
    const guint pid = (guint)strtoul(argv[1], NULL, 10);
    const long interval = argc > 2 ? strtol(argv[2], NULL, 10) : 100;
    if (atspi_init() < 0)
        return 1;
    for (long walks = 1;; ++walks) {
        const int objects = read_program(pid);
        printf("walks %ld objects %d\n", walks, objects);
        fflush(stdout);
        g_usleep((gulong)interval * 1000);
    }
    return 0;
}
