/* A second accessibility client for desktop tests, reading a program's table (a spreadsheet's
 * sheet) as a screen reader does: every INTERVAL milliseconds it asks the table and the cells of
 * its first rows and columns for their role, name, states and text. A program that shows no
 * table has every object read on the way, each reading.
 *
 * Usage: tavrolin_test_accessible_reader PID [INTERVAL_MS]
 * Prints "walks N objects M searched K" on stdout after each reading (M of the table, K on the
 * way to it); runs until killed. */
#include <atspi/atspi.h>
#include <stdio.h>
#include <stdlib.h>

enum { kRows = 8, kColumns = 5 };

static void read_object(AtspiAccessible* node) {
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
    /* The next reading asks the program again, as a reader that listens to no events must. */
    atspi_accessible_clear_cache(node);
}

/* The first table below `node` (a sheet's million cells are never walked), with a reference;
 * `read` counts the objects read on the way. */
static AtspiAccessible* find_table(AtspiAccessible* node, int depth, int* read) {
    if (node == NULL || depth > 16)
        return NULL;
    read_object(node);
    ++*read;
    if (atspi_accessible_get_role(node, NULL) == ATSPI_ROLE_TABLE)
        return g_object_ref(node);
    const gint children = atspi_accessible_get_child_count(node, NULL);
    for (gint i = 0; i < children && i < 100; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, NULL);
        AtspiAccessible* found = find_table(child, depth + 1, read);
        if (child)
            g_object_unref(child);
        if (found)
            return found;
    }
    return NULL;
}

static AtspiAccessible* find_program_table(guint pid, int* read) {
    AtspiAccessible* found = NULL;
    AtspiAccessible* desktop = atspi_get_desktop(0);
    const gint count = atspi_accessible_get_child_count(desktop, NULL);
    for (gint i = 0; i < count && !found; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, NULL);
        if (app && atspi_accessible_get_process_id(app, NULL) == pid)
            found = find_table(app, 0, read);
        if (app)
            g_object_unref(app);
    }
    g_object_unref(desktop);
    return found;
}

/* The objects read, or -1 when the table no longer answers. */
static int read_table(AtspiAccessible* table) {
    GError* error = NULL;
    AtspiStateSet* states = atspi_accessible_get_state_set(table);
    const gboolean defunct = !states || atspi_state_set_contains(states, ATSPI_STATE_DEFUNCT);
    if (states)
        g_object_unref(states);
    if (defunct)
        return -1;
    read_object(table);
    int objects = 1;
    AtspiTable* cells = atspi_accessible_get_table_iface(table);
    for (int row = 0; cells && row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            AtspiAccessible* cell = atspi_table_get_accessible_at(cells, row, column, &error);
            if (error) {
                g_clear_error(&error);
                g_object_unref(cells);
                return -1;
            }
            if (cell) {
                read_object(cell);
                g_object_unref(cell);
                ++objects;
            }
        }
    }
    if (cells)
        g_object_unref(cells);
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
    AtspiAccessible* table = NULL;
    for (long walks = 1;; ++walks) {
        int searched = 0;
        if (!table)
            table = find_program_table(pid, &searched);
        const int objects = table ? read_table(table) : 0;
        if (objects < 0) {
            g_object_unref(table);
            table = NULL;
        }
        printf("walks %ld objects %d searched %d\n", walks, objects > 0 ? objects : 0, searched);
        fflush(stdout);
        g_usleep((gulong)interval * 1000);
    }
    return 0;
}
