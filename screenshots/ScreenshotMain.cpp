// velmora_screenshots <folder> [prefix...]: one PNG per registered scene (or
// per scene whose name starts with a prefix given), and "scenes.tsv" (name,
// width, height of every scene drawn, one a line) for the check that
// follows.
// Run under xvfb-run: a fixed Adwaita theme, Noto Sans CJK JP, scale 1 and no
// animations, so that two runs draw the same pictures. What the scenes and
// the web engine write to the temporary folder goes with the program's own
// temporary folder at the end.
#include <gdk/gdk.h>
#include <gsk/gsk.h>
#include <gtk/gtk.h>
#include <gtkmm/init.h>
#include <gtkmm/settings.h>
#include <gtkmm/widgetpaintable.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "Scene.hpp"
#include "foundation/ProductBrand.hpp"
#include "support/MainLoop.hpp"
#include "support/OwnTemporaryFolder.hpp"
#include "support/SessionOfItsOwn.hpp"
#include "support/TempDir.hpp"
#include "support/ToolkitLog.hpp"
#include "support/web/WebTestServer.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/model/AppServices.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace velmora::screenshots {

namespace {

std::vector<Scene>& registry() {
    static std::vector<Scene> all;
    return all;
}

}  // namespace

bool registerScene(std::string name, int width, int height, std::function<Gtk::Window*(Stage&)> build) {
    registry().push_back({std::move(name), width, height, std::move(build)});
    return true;
}

const std::vector<Scene>& scenes() { return registry(); }

}  // namespace velmora::screenshots

namespace {

using velmora::screenshots::Scene;

// The scene being drawn, named beside a warning it provokes.
std::string drawing = "(before the scenes)";

void fixAppearance() {
    auto settings = Gtk::Settings::get_default();
    settings->property_gtk_theme_name() = "Adwaita";
    settings->property_gtk_icon_theme_name() = "Adwaita";
    settings->property_gtk_font_name() = "Noto Sans CJK JP 11";
    settings->property_gtk_enable_animations() = false;
    settings->property_gtk_application_prefer_dark_theme() = false;
    settings->property_gtk_cursor_blink() = false;
}

// Waits until the window is on screen at the scene's size and has painted a
// frame there. A window that draws its own frame may come out a few pixels
// off its default size; the default is corrected once by the difference.
bool settle(Gtk::Window& window, int width, int height) {
    window.set_default_size(width, height);
    window.present();
    GtkWidget* widget = GTK_WIDGET(window.gobj());
    const bool mapped = test::spinUntil([&] { return window.get_mapped() && gtk_widget_get_frame_clock(widget); });
    if (!mapped) return false;
    GdkFrameClock* clock = gtk_widget_get_frame_clock(widget);
    bool painted = false;
    const gulong id = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](bool* flag) { *flag = true; }),
                                               &painted);
    auto paintedAt = [&](int w, int h) {
        painted = false;
        gtk_widget_queue_draw(widget);
        return test::spinUntil([&] { return painted && window.get_width() == w && window.get_height() == h; }, 2s);
    };
    bool ok = paintedAt(width, height);
    if (!ok && window.get_width() > 0) {
        window.set_default_size(2 * width - window.get_width(), 2 * height - window.get_height());
        ok = paintedAt(width, height);
    }
    g_signal_handler_disconnect(clock, id);
    if (!ok) std::cerr << "drawn at " << window.get_width() << "x" << window.get_height() << '\n';
    return ok;
}

// Renders the window's content through its own renderer, cropped to the
// window (client-side shadows lie outside it).
bool render(Gtk::Window& window, int width, int height, const fs::path& file) {
    auto paintable = Gtk::WidgetPaintable::create(window);
    GtkSnapshot* snapshot = gtk_snapshot_new();
    gdk_paintable_snapshot(GDK_PAINTABLE(paintable->gobj()), snapshot, width, height);
    GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
    if (!node) return false;
    GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window.gobj()));
    const graphene_rect_t area = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(width), static_cast<float>(height));
    GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &area);
    gsk_render_node_unref(node);
    if (!texture) return false;
    const bool saved = gdk_texture_save_to_png(texture, file.c_str());
    g_object_unref(texture);
    return saved;
}

}  // namespace

namespace {

int drawScenes(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: velmora_screenshots <output folder> [scene name prefix...]\n";
        return 2;
    }
    const fs::path folder = fs::absolute(argv[1]);
    // Only the scenes whose names start with one of the given prefixes;
    // every scene without any.
    const std::vector<std::string> only(argv + 2, argv + argc);
    auto wanted = [&](const std::string& name) {
        return only.empty() || std::any_of(only.begin(), only.end(), [&](const std::string& prefix) {
                   return name.compare(0, prefix.size(), prefix) == 0;
               });
    };
    fs::create_directories(folder);
    // The program's name, as the application's own start gives it: the
    // toolkit's print to a file names the program it records the file for.
    g_set_prgname("velmora");

    // Everything the application writes goes to a temporary home.
    test::TempDir home;
    // Nothing of the user's desktop reaches the scenes: the same pictures on
    // any machine.
    test::useSessionOfItsOwn(home.path());
    ::setenv("GDK_SCALE", "1", 1);
    ::setenv("GDK_DPI_SCALE", "1", 1);
    ::setenv("GTK_THEME", "Adwaita", 1);
    if (!gtk_init_check()) {
        std::cerr << "no display: run this program under xvfb-run\n";
        return 1;
    }
    Gtk::init_gtkmm_internals();
    fixAppearance();

    const fs::path storage = home.path() / "storage";
    AppRuntime::ScopedOverride roots(AppRuntime{storage, home.path() / "out"});
    AppServices services(AppRuntime{storage, home.path() / "out"});
    services.wire();
    BrindlexApp app(Gio::Application::Flags::NON_UNIQUE);
    app.services = [&]() -> AppServices& { return services; };
    app.application()->register_application();
    test::WebTestServer server;
    velmora::screenshots::Stage stage{app, server, storage};

    std::ofstream manifest(folder / "scenes.tsv");
    int failures = 0;
    for (const Scene& scene : velmora::screenshots::scenes()) {
        if (!wanted(scene.name)) continue;
        manifest << scene.name << '\t' << scene.width << '\t' << scene.height << std::endl;
        drawing = scene.name;
        Gtk::Window* window = scene.build(stage);
        const fs::path file = folder / (scene.name + ".png");
        if (!window || !settle(*window, scene.width, scene.height) ||
            !render(*window, scene.width, scene.height, file)) {
            std::cerr << scene.name << ": not rendered\n";
            ++failures;
            continue;
        }
        std::cout << file.string() << '\n';
        window->hide();
        test::spinFor(std::chrono::milliseconds(50));
    }
    drawing = "(after the scenes)";
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // A warning or critical is a fault of the scene that provoked it (or of
    // the program's own start or end): the run fails, naming it.
    test::watchToolkitLog([](const std::string& line) { std::cerr << drawing << ": " << line << '\n'; });
    int status = test::runInTemporaryFolderOfItsOwn([&] { return drawScenes(argc, argv); });
    if (test::toolkitLogFaults() > 0) {
        std::cerr << test::toolkitLogFaults() << " toolkit warnings or criticals\n";
        status = 1;
    }
    return status;
}
