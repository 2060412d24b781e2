/* A foreign GTK 3 application with text fields for desktop tests: a GtkEntry, a GtkTextView
 * and a password GtkEntry, optionally beside many labels (a large accessibility tree).
 *
 * Usage: tavrolin_test_gtk_text_fields [LABEL_COUNT]
 * Driven through stdin like the Qt test application, one JSON reply line on stdout each:
 *   focus NAME                 give NAME the keyboard focus
 *   set NAME [BASE64]          replace NAME's text (UTF-8, base64; none: empty)
 *   select NAME START END      select character offsets START..END (code points)
 *   get NAME                   {"text", "selectionStart", "selectionEnd", "cursor"} (code points)
 *   quit
 * Names: line, text, password. */
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static GtkWidget* line;
static GtkWidget* text;
static GtkWidget* password;
static GtkWidget* window;

static GtkWidget* widget_named(const char* name) {
    if (name == NULL)
        return NULL;
    if (strcmp(name, "line") == 0)
        return line;
    if (strcmp(name, "text") == 0)
        return text;
    if (strcmp(name, "password") == 0)
        return password;
    return NULL;
}

static void reply(const char* json) {
    fputs(json, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

/* A JSON string literal of UTF-8 text. */
static void append_json_string(GString* out, const char* s) {
    g_string_append_c(out, '"');
    for (const unsigned char* p = (const unsigned char*)s; *p; ++p) {
        if (*p == '"' || *p == '\\') {
            g_string_append_c(out, '\\');
            g_string_append_c(out, (char)*p);
        } else if (*p < 0x20) {
            g_string_append_printf(out, "\\u%04x", *p);
        } else {
            g_string_append_c(out, (char)*p);
        }
    }
    g_string_append_c(out, '"');
}

static void reply_state(GtkWidget* w) {
    gchar* content = NULL;
    int start = 0, end = 0, cursor = 0;
    if (GTK_IS_ENTRY(w)) {
        content = g_strdup(gtk_entry_get_text(GTK_ENTRY(w)));
        if (!gtk_editable_get_selection_bounds(GTK_EDITABLE(w), &start, &end)) {
            start = end = gtk_editable_get_position(GTK_EDITABLE(w));
        }
        cursor = gtk_editable_get_position(GTK_EDITABLE(w));
    } else {
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(w));
        GtkTextIter a, b, insert;
        gtk_text_buffer_get_bounds(buffer, &a, &b);
        content = gtk_text_buffer_get_text(buffer, &a, &b, TRUE);
        gtk_text_buffer_get_selection_bounds(buffer, &a, &b);
        start = gtk_text_iter_get_offset(&a);
        end = gtk_text_iter_get_offset(&b);
        gtk_text_buffer_get_iter_at_mark(buffer, &insert, gtk_text_buffer_get_insert(buffer));
        cursor = gtk_text_iter_get_offset(&insert);
    }
    GString* out = g_string_new("{\"text\":");
    append_json_string(out, content);
    g_string_append_printf(out, ",\"selectionStart\":%d,\"selectionEnd\":%d,\"cursor\":%d}", start, end, cursor);
    reply(out->str);
    g_string_free(out, TRUE);
    g_free(content);
}

static void handle(char* command) {
    gchar** parts = g_strsplit(g_strstrip(command), " ", 4);
    /* An empty line has no verb: answered as any unknown command. */
    const char* verb = parts[0] ? parts[0] : "";
    GtkWidget* w = parts[0] && parts[1] ? widget_named(parts[1]) : NULL;
    if (strcmp(verb, "quit") == 0) {
        reply("{\"ok\":true}");
        /* Gone at once: tearing down thousands of widgets would first send a removal notice
         * for each over the accessibility bus, which the reader cannot use any more. */
        _exit(0);
    } else if (strcmp(verb, "focus") == 0 && w) {
        gtk_window_present(GTK_WINDOW(window));
        gtk_widget_grab_focus(w);
        reply("{\"ok\":true}");
    } else if (strcmp(verb, "set") == 0 && w) {
        gsize length = 0;
        guchar* decoded = parts[2] ? g_base64_decode(parts[2], &length) : NULL;
        gchar* value = g_strndup((const gchar*)decoded, length);
        if (GTK_IS_ENTRY(w)) {
            gtk_entry_set_text(GTK_ENTRY(w), value);
        } else {
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(w)), value, -1);
        }
        g_free(value);
        g_free(decoded);
        reply("{\"ok\":true}");
    } else if (strcmp(verb, "select") == 0 && w && parts[2] && parts[3]) {
        const int start = atoi(parts[2]);
        const int end = atoi(parts[3]);
        if (GTK_IS_ENTRY(w)) {
            gtk_editable_select_region(GTK_EDITABLE(w), start, end);
        } else {
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(w));
            GtkTextIter a, b;
            gtk_text_buffer_get_iter_at_offset(buffer, &a, start);
            gtk_text_buffer_get_iter_at_offset(buffer, &b, end);
            gtk_text_buffer_select_range(buffer, &b, &a);
        }
        reply("{\"ok\":true}");
    } else if (strcmp(verb, "get") == 0 && w) {
        reply_state(w);
    } else {
        reply("{\"ok\":false}");
    }
    g_strfreev(parts);
}

static gboolean on_input(GIOChannel* channel, GIOCondition condition, gpointer data) {
    (void)data;
    if (condition & (G_IO_HUP | G_IO_ERR)) {
        gtk_main_quit();
        return FALSE;
    }
    gchar* buffered = NULL;
    /* Several commands may arrive in one read: handle every buffered line. */
    do {
        if (g_io_channel_read_line(channel, &buffered, NULL, NULL, NULL) != G_IO_STATUS_NORMAL) {
            gtk_main_quit();
            return FALSE;
        }
        handle(buffered);
        g_free(buffered);
    } while (g_io_channel_get_buffer_condition(channel) & G_IO_IN);
    return TRUE;
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    const int labels = argc > 1 ? atoi(argv[1]) : 0;
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), "Tavrolin GTK test fields");
    gtk_window_set_default_size(GTK_WINDOW(window), 600, 420);
    gtk_window_move(GTK_WINDOW(window), 80, 60);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    line = gtk_entry_new();
    text = gtk_text_view_new();
    gtk_widget_set_size_request(text, -1, 120);
    password = gtk_entry_new();
    gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
    gtk_entry_set_text(GTK_ENTRY(password), "secret words");
    gtk_box_pack_start(GTK_BOX(box), line, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), text, FALSE, FALSE, 0);
    gtk_box_pack_start(GTK_BOX(box), password, FALSE, FALSE, 0);
    if (labels > 0) {
        /* Many visible objects in one tree, as a large form or list has. */
        GtkWidget* scroller = gtk_scrolled_window_new(NULL, NULL);
        GtkWidget* grid = gtk_grid_new();
        for (int i = 0; i < labels; ++i) {
            gchar* caption = g_strdup_printf("label %d", i);
            GtkWidget* label = gtk_label_new(caption);
            gtk_grid_attach(GTK_GRID(grid), label, i % 10, i / 10, 1, 1);
            /* Built now rather than on the first search, which would otherwise take longer than
             * a reader waits for one answer. */
            gtk_widget_get_accessible(label);
            g_free(caption);
        }
        gtk_container_add(GTK_CONTAINER(scroller), grid);
        gtk_box_pack_start(GTK_BOX(box), scroller, TRUE, TRUE, 0);
    }
    gtk_container_add(GTK_CONTAINER(window), box);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), NULL);
    gtk_widget_show_all(window);

    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_add_watch(input, G_IO_IN | G_IO_HUP | G_IO_ERR, on_input, NULL);
    reply("{\"ready\":true}");
    gtk_main();
    return 0;
}
