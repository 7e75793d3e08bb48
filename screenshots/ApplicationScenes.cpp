// The first window and the About dialog, as the application shows them.
#include <gtkmm/aboutdialog.h>

#include "Scene.hpp"
#include "support/MainLoop.hpp"
#include "workspace/app/BrindlexApp.hpp"

namespace velmora::screenshots {

namespace {

Gtk::Window* firstWindow(Stage& stage) {
    stage.app.application()->activate();
    return stage.app.currentWindow();
}

Gtk::Window* about(Stage& stage) {
    auto* window = firstWindow(stage);
    if (!window) return nullptr;
    window->present();
    stage.app.application()->activate_action("about");
    Gtk::AboutDialog* dialog = nullptr;
    test::spinUntil([&] {
        for (auto* candidate : Gtk::Window::list_toplevels()) {
            if (auto* d = dynamic_cast<Gtk::AboutDialog*>(candidate); d && d->get_visible()) dialog = d;
        }
        return dialog != nullptr;
    });
    return dialog;
}

const bool registered = registerScene("first-window", 1240, 850, firstWindow) &&
                        registerScene("about", 420, 340, about);

}  // namespace

}  // namespace velmora::screenshots
