// The entry of every web test program: GTK (and gtkmm's wrappers) once per
// process, on the display that xvfb-run provides, with a data folder of its
// own, so that what the toolkit records there (the desktop's recent files)
// never reaches the real one, and otherwise in a session of its own
// (support/SessionOfItsOwn.hpp) so that nothing of the user's desktop reaches
// the test; and a temporary folder of its own, removed once the web engine's
// processes have ended too.
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
    std::string data = (std::filesystem::temp_directory_path() / "velmora-web-data-XXXXXX").string();
    if (!::mkdtemp(data.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    // The home stays: without a runtime folder the web engine puts its
    // sandbox's bus sockets under the cache folder, and a home in a nested
    // temporary folder makes their paths too long for a socket.
    velmora::test::useSessionOfItsOwn(std::nullopt);
    if (!gtk_init_check()) {
        std::fprintf(stderr, "no display: run this program under xvfb-run\n");
        return 1;
    }
    Gtk::init_gtkmm_internals();
    const int status = RUN_ALL_TESTS();
    std::error_code ec;
    std::filesystem::remove_all(data, ec);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    return velmora::test::runInTemporaryFolderOfItsOwn([&] { return run(argc, argv); });
}
