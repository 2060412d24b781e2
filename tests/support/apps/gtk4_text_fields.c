/* A foreign GTK 4 application with text fields for desktop tests: a GtkEntry and a GtkTextView.
 * GTK 4 publishes its widgets to accessibility itself (no bridge), with positions relative to
 * its window.
 *
 * Usage: tavrolin_test_gtk4_text_fields
 * Driven through stdin like the GTK 3 test application, one JSON reply line on stdout each:
 *   focus NAME                 give NAME the keyboard focus
 *   set NAME [BASE64]          replace NAME's text (UTF-8, base64; none: empty)
 *   select NAME START END      select character offsets START..END (code points)
 *   get NAME                   {"text", "selectionStart", "selectionEnd", "cursor"} (code points)
 *   rect NAME                  {"x", "y", "width", "height"}: NAME's place in the X window
 *   quit
 * Names: line, text. */
#include <gtk/gtk.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static GtkWidget* line;
static GtkWidget* text;
static GtkWidget* window;
static GMainLoop* loop;

static GtkWidget* widget_named(const char* name) {
    if (name == NULL)
        return NULL;
    if (strcmp(name, "line") == 0)
        return line;
    if (strcmp(name, "text") == 0)
        return text;
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
    if (GTK_IS_EDITABLE(w)) {
        content = g_strdup(gtk_editable_get_text(GTK_EDITABLE(w)));
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
    const char* verb = parts[0] ? parts[0] : "";
    GtkWidget* w = parts[0] && parts[1] ? widget_named(parts[1]) : NULL;
    if (strcmp(verb, "quit") == 0) {
        reply("{\"ok\":true}");
        _exit(0);
    } else if (strcmp(verb, "focus") == 0 && w) {
        gtk_window_present(GTK_WINDOW(window));
        gtk_widget_grab_focus(w);
        reply("{\"ok\":true}");
    } else if (strcmp(verb, "set") == 0 && w) {
        gsize length = 0;
        guchar* decoded = parts[2] ? g_base64_decode(parts[2], &length) : NULL;
        gchar* value = g_strndup((const gchar*)decoded, length);
        if (GTK_IS_EDITABLE(w)) {
            gtk_editable_set_text(GTK_EDITABLE(w), value);
        } else {
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(w)), value, -1);
        }
        g_free(value);
        g_free(decoded);
        reply("{\"ok\":true}");
    } else if (strcmp(verb, "select") == 0 && w && parts[2] && parts[3]) {
        const int start = atoi(parts[2]);
        const int end = atoi(parts[3]);
        if (GTK_IS_EDITABLE(w)) {
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
    } else if (strcmp(verb, "rect") == 0 && w) {
        /* GTK 4 knows no screen positions: the widget's place in its window, moved by where the
         * window's content lies in its X window. */
        graphene_rect_t bounds;
        double dx = 0, dy = 0;
        if (!gtk_widget_compute_bounds(w, window, &bounds)) {
            graphene_rect_init(&bounds, 0, 0, 0, 0);
        }
        gtk_native_get_surface_transform(GTK_NATIVE(window), &dx, &dy);
        gchar* json = g_strdup_printf("{\"x\":%d,\"y\":%d,\"width\":%d,\"height\":%d}", (int)(bounds.origin.x + dx),
                                      (int)(bounds.origin.y + dy), (int)bounds.size.width, (int)bounds.size.height);
        reply(json);
        g_free(json);
    } else {
        reply("{\"ok\":false}");
    }
    g_strfreev(parts);
}

static gboolean on_input(GIOChannel* channel, GIOCondition condition, gpointer data) {
    (void)data;
    if (condition & (G_IO_HUP | G_IO_ERR)) {
        g_main_loop_quit(loop);
        return FALSE;
    }
    gchar* buffered = NULL;
    /* Several commands may arrive in one read: handle every buffered line. */
    do {
        if (g_io_channel_read_line(channel, &buffered, NULL, NULL, NULL) != G_IO_STATUS_NORMAL) {
            g_main_loop_quit(loop);
            return FALSE;
        }
        handle(buffered);
        g_free(buffered);
    } while (g_io_channel_get_buffer_condition(channel) & G_IO_IN);
    return TRUE;
}

int main(void) {
    gtk_init();
    loop = g_main_loop_new(NULL, FALSE);
    window = gtk_window_new();
    gtk_window_set_title(GTK_WINDOW(window), "Tavrolin GTK 4 test fields");
    gtk_window_set_default_size(GTK_WINDOW(window), 600, 320);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    line = gtk_entry_new();
    text = gtk_text_view_new();
    gtk_widget_set_size_request(text, -1, 120);
    gtk_box_append(GTK_BOX(box), line);
    gtk_box_append(GTK_BOX(box), text);
    gtk_window_set_child(GTK_WINDOW(window), box);
    g_signal_connect_swapped(window, "destroy", G_CALLBACK(g_main_loop_quit), loop);
    gtk_window_present(GTK_WINDOW(window));

    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_add_watch(input, G_IO_IN | G_IO_HUP | G_IO_ERR, on_input, NULL);
    reply("{\"ready\":true}");
    g_main_loop_run(loop);
    return 0;
}
