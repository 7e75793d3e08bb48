// The entry of every web test program: GTK (and gtkmm's wrappers) once per
// process, on the display that xvfb-run provides, in a session of its own
// (support/SessionOfItsOwn.hpp), so that what the toolkit and the web engine
// record in the user's folders (the desktop's recent files, caches) never
// reaches the real ones and nothing of the user's desktop reaches the test;
// and a temporary folder of its own, removed once the web engine's processes
// have ended too.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "support/OwnTemporaryFolder.hpp"
#include "support/SessionOfItsOwn.hpp"

namespace {

int run(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::string home = (std::filesystem::temp_directory_path() / "velmora-web-home-XXXXXX").string();
    if (!::mkdtemp(home.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    velmora::test::useSessionOfItsOwn(home);
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    const int status = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(home, ec);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::test::runInTemporaryFolderOfItsOwn([&] { return run(argc, argv); });
}
