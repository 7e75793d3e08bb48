#pragma once

// The scenes of the screenshot program. A scene is one view of the
// application at a fixed size, filled with realistic sample content; it is
// registered with one call at namespace scope:
//
//     const bool registered = velmora::screenshots::registerScene(
//         "first-window", 1240, 850, [](velmora::screenshots::Stage& stage) { ... return window; });
//
// The builder returns the window to photograph (shown or not); the program
// sizes it, waits for its first painted frame and renders it off-screen.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtkmm/window.h>

namespace velmora {
class BrindlexApp;
namespace test {
class WebTestServer;
}
}  // namespace velmora

namespace velmora::screenshots {

// What every builder may use: the one application of the process (on a
// temporary storage root, never the user's files) and a loopback web server
// for sample pages.
struct Stage {
    BrindlexApp& app;
    test::WebTestServer& server;
    std::filesystem::path storage;
};

struct Scene {
    std::string name;
    int width = 0;
    int height = 0;
    std::function<Gtk::Window*(Stage&)> build;
};

bool registerScene(std::string name, int width, int height, std::function<Gtk::Window*(Stage&)> build);
const std::vector<Scene>& scenes();

}  // namespace velmora::screenshots
