#include "GtkPrintSetup.h"

// GTK is only declared here: every function comes from dlsym, so the helper
// has no link-time dependency on it. The casts below are plain, as GTK's
// checked-cast macros would call into GTK behind the loader's back.
#define G_DISABLE_CAST_CHECKS
#include <gtk/gtk.h>
#include <gtk/gtkunixprint.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

namespace platform {
namespace {

// Every GTK, GLib and GObject function the dialog uses.
#define QUILLBAY_GTK_FUNCTIONS(X)                                                                  \
    X(gtk_init_check)                                                                              \
    X(gtk_page_setup_unix_dialog_new)                                                              \
    X(gtk_page_setup_unix_dialog_set_page_setup)                                                   \
    X(gtk_page_setup_unix_dialog_get_page_setup)                                                   \
    X(gtk_page_setup_unix_dialog_set_print_settings)                                               \
    X(gtk_page_setup_unix_dialog_get_print_settings)                                               \
    X(gtk_print_settings_new)                                                                      \
    X(gtk_print_settings_set)                                                                      \
    X(gtk_print_settings_get)                                                                      \
    X(gtk_page_setup_new)                                                                          \
    X(gtk_page_setup_set_paper_size)                                                               \
    X(gtk_page_setup_set_orientation)                                                              \
    X(gtk_page_setup_get_paper_size)                                                               \
    X(gtk_page_setup_get_orientation)                                                              \
    X(gtk_paper_size_get_paper_sizes)                                                              \
    X(gtk_paper_size_new_custom)                                                                   \
    X(gtk_paper_size_get_width)                                                                    \
    X(gtk_paper_size_get_height)                                                                   \
    X(gtk_paper_size_get_name)                                                                     \
    X(gtk_paper_size_free)                                                                         \
    X(gtk_dialog_run)                                                                              \
    X(gtk_dialog_response)                                                                         \
    X(gtk_widget_destroy)                                                                          \
    X(g_timeout_add_seconds)                                                                       \
    X(g_list_free_full)                                                                            \
    X(g_object_unref)

struct Gtk {
#define QUILLBAY_GTK_POINTER(name) decltype(&::name) name = nullptr;
    QUILLBAY_GTK_FUNCTIONS(QUILLBAY_GTK_POINTER)
#undef QUILLBAY_GTK_POINTER

    // Loads GTK 3 and finds every function; false, saying why, when any is
    // missing.
    bool Load() {
        void *library = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            fprintf(stderr, "quillbay-print-setup: GTK 3 is not installed (%s)\n", dlerror());
            return false;
        }
#define QUILLBAY_GTK_FIND(name)                                                                    \
    name = reinterpret_cast<decltype(name)>(dlsym(library, #name));                                \
    if (!name) {                                                                                   \
        fprintf(stderr, "quillbay-print-setup: GTK has no %s\n", #name);                           \
        return false;                                                                              \
    }
        QUILLBAY_GTK_FUNCTIONS(QUILLBAY_GTK_FIND)
#undef QUILLBAY_GTK_FIND
        return true;
    }
};

struct Arguments {
    std::string title = "Print Setup";
    std::string printer;
    long width = 0, length = 0; // hundredths of a millimetre
    bool landscape = false;
    int timeout = 0;
};

bool Value(const char *argument, const char *option, std::string &value) {
    const size_t n = strlen(option);
    if (strncmp(argument, option, n) != 0 || argument[n] != '=')
        return false;
    value = argument + n + 1;
    return true;
}

bool Parse(int argc, char **argv, Arguments &arguments) {
    for (int i = 1; i < argc; ++i) {
        std::string value;
        if (Value(argv[i], "--title", value)) {
            arguments.title = value;
        } else if (Value(argv[i], "--printer", value)) {
            arguments.printer = value;
        } else if (Value(argv[i], "--paper", value)) {
            char *end = nullptr;
            arguments.width = strtol(value.c_str(), &end, 10);
            arguments.length = *end == 'x' ? strtol(end + 1, &end, 10) : 0;
            if (*end || arguments.width <= 0 || arguments.length <= 0)
                return false;
        } else if (strcmp(argv[i], "--landscape") == 0) {
            arguments.landscape = true;
        } else if (Value(argv[i], "--timeout", value)) {
            arguments.timeout = atoi(value.c_str());
        } else {
            return false;
        }
    }
    return true;
}

long Hundredths(double millimetres) {
    return lround(millimetres * 100);
}

Gtk gtk;

// A page of the size: GTK's own standard paper of it (so it is the same
// entry as the printer's paper of that size), else a custom paper of it.
GtkPageSetup *PageOfSize(long width, long length) {
    GtkPageSetup *page = gtk.gtk_page_setup_new();
    if (width <= 0 || length <= 0)
        return page;
    GList *papers = gtk.gtk_paper_size_get_paper_sizes(FALSE);
    GtkPaperSize *found = nullptr;
    for (GList *node = papers; node && !found; node = node->next) {
        auto *paper = static_cast<GtkPaperSize *>(node->data);
        if (labs(Hundredths(gtk.gtk_paper_size_get_width(paper, GTK_UNIT_MM)) - width) <= 50 &&
            labs(Hundredths(gtk.gtk_paper_size_get_height(paper, GTK_UNIT_MM)) - length) <= 50)
            found = paper;
    }
    GtkPaperSize *custom = found ? nullptr
                                 : gtk.gtk_paper_size_new_custom("custom", "Custom", width / 100.0,
                                                                 length / 100.0, GTK_UNIT_MM);
    gtk.gtk_page_setup_set_paper_size(page, found ? found : custom); // the page keeps a copy
    gtk.g_list_free_full(papers, reinterpret_cast<GDestroyNotify>(gtk.gtk_paper_size_free));
    if (custom)
        gtk.gtk_paper_size_free(custom);
    return page;
}

void Answer(GtkPageSetupUnixDialog *dialog) {
    GtkPrintSettings *settings = gtk.gtk_page_setup_unix_dialog_get_print_settings(dialog);
    const char *printer =
        settings ? gtk.gtk_print_settings_get(settings, "format-for-printer") : nullptr;
    GtkPageSetup *page = gtk.gtk_page_setup_unix_dialog_get_page_setup(dialog);
    GtkPaperSize *paper = gtk.gtk_page_setup_get_paper_size(page);
    const GtkPageOrientation orientation = gtk.gtk_page_setup_get_orientation(page);
    const bool landscape = orientation == GTK_PAGE_ORIENTATION_LANDSCAPE ||
                           orientation == GTK_PAGE_ORIENTATION_REVERSE_LANDSCAPE;
    printf("printer=%s\npaper=%s\nwidth=%ld\nlength=%ld\norientation=%s\n", printer ? printer : "",
           gtk.gtk_paper_size_get_name(paper),
           Hundredths(gtk.gtk_paper_size_get_width(paper, GTK_UNIT_MM)),
           Hundredths(gtk.gtk_paper_size_get_height(paper, GTK_UNIT_MM)),
           landscape ? "landscape" : "portrait");
    fflush(stdout);
}

// Closes the dialog unanswered, as the user closing it would.
gboolean TimedOut(gpointer dialog) {
    gtk.gtk_dialog_response(static_cast<GtkDialog *>(dialog), GTK_RESPONSE_DELETE_EVENT);
    return FALSE;
}

} // namespace

int GtkPrintSetup::Main(int argc, char **argv) {
    Arguments arguments;
    if (!Parse(argc, argv, arguments)) {
        fprintf(stderr, "usage: quillbay-print-setup [--title=TEXT] [--printer=NAME] "
                        "[--paper=WIDTHxLENGTH] [--landscape] [--timeout=SECONDS]\n");
        return kBadArguments;
    }
    // Only the printers a CUPS server knows; GTK's file "printer" is not one.
    setenv("GTK_PRINT_BACKENDS", "cups", 0);
    if (!gtk.Load())
        return kNotShown;
    int gtkArgc = 1;
    char **gtkArgv = argv;
    if (!gtk.gtk_init_check(&gtkArgc, &gtkArgv)) {
        fprintf(stderr, "quillbay-print-setup: cannot open display\n");
        return kNotShown;
    }

    auto *dialog = reinterpret_cast<GtkPageSetupUnixDialog *>(
        gtk.gtk_page_setup_unix_dialog_new(arguments.title.c_str(), nullptr));
    GtkPrintSettings *settings = gtk.gtk_print_settings_new();
    if (!arguments.printer.empty())
        gtk.gtk_print_settings_set(settings, "format-for-printer", arguments.printer.c_str());
    gtk.gtk_page_setup_unix_dialog_set_print_settings(dialog, settings);
    GtkPageSetup *page = PageOfSize(arguments.width, arguments.length);
    gtk.gtk_page_setup_set_orientation(page, arguments.landscape ? GTK_PAGE_ORIENTATION_LANDSCAPE
                                                                 : GTK_PAGE_ORIENTATION_PORTRAIT);
    gtk.gtk_page_setup_unix_dialog_set_page_setup(dialog, page);
    gtk.g_object_unref(page);
    gtk.g_object_unref(settings);

    if (arguments.timeout > 0)
        gtk.g_timeout_add_seconds(static_cast<guint>(arguments.timeout), TimedOut, dialog);
    const int response = gtk.gtk_dialog_run(reinterpret_cast<GtkDialog *>(dialog));
    if (response == GTK_RESPONSE_OK)
        Answer(dialog);
    gtk.gtk_widget_destroy(reinterpret_cast<GtkWidget *>(dialog));
    return response == GTK_RESPONSE_OK ? kChosen : kCancelled;
}

} // namespace platform
