// The entry of every GUI test program: GTK (and gtkmm's wrappers) once per
// process, on the display that xvfb-run provides.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <cstdio>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    return RUN_ALL_TESTS();
}
