// One launch of the browser's stores, as a child process of the browser
// tests: the normal store of a storage root, one normal tab, one page.
//
//   browser_store_child <storage root> <address> [list|hold]
//
// Prints "title:<page title>" once the page has loaded; with "list" then
// one "record:<name>" line per website data record of the normal store;
// with "hold" it prints "holding" and waits to be killed. Every line is
// flushed at once: the parent reads them while it serves the pages.
#include <gtk/gtk.h>
#include <gtkmm/init.h>

#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#include "browser/BrowserStores.hpp"
#include "browser/BrowserTab.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;

namespace {

void say(const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int run(const std::string& storage, const std::string& address, const std::string& mode) {
    auto stores = std::make_shared<BrowserStores>(AppRuntime{storage, storage + "/out"});
    auto tab = std::make_unique<BrowserTab>(UUID::random(), false, stores);
    GtkWidget* window = gtk_window_new();
    gtk_window_set_default_size(GTK_WINDOW(window), 800, 600);
    gtk_window_set_child(GTK_WINDOW(window), GTK_WIDGET(tab->browser->frame().gobj()));
    gtk_window_present(GTK_WINDOW(window));

    tab->browser->navigate(address);
    auto& session = *tab->browser;
    if (!test::spinUntil([&] { return session.currentURL.get() == address && !session.loading && !session.pageTitle->empty(); },
                         std::chrono::seconds(30))) {
        say("error:the page did not load");
        return 2;
    }
    say("title:" + session.pageTitle.get());
    if (mode == "list") {
        for (const auto& record : test::runTask(stores->records(false), std::chrono::seconds(30)))
            say("record:" + record.name);
    } else if (mode == "hold") {
        say("holding");
        test::spinUntil([] { return false; }, std::chrono::hours(1));
    }
    tab->shutdown();
    gtk_window_set_child(GTK_WINDOW(window), nullptr);
    gtk_window_destroy(GTK_WINDOW(window));
    say("done");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s <storage root> <address> [list|hold]\n", argv[0]);
        return 64;
    }
    if (!gtk_init_check()) {
        say("error:no display");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    try {
        return run(argv[1], argv[2], argc > 3 ? argv[3] : "");
    } catch (const std::exception& e) {
        say(std::string("error:") + e.what());
        return 1;
    }
}
