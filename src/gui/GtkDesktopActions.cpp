#include "gui/GtkDesktopActions.hpp"

#include <gdk/gdk.h>
#include <gdkmm/clipboard.h>
#include <gdkmm/display.h>
#include <gio/gio.h>

#include <string>

#include "foundation/GObjectRef.hpp"

namespace velmora {

namespace {

std::string fileURI(const std::filesystem::path& path) {
    char* uri = g_filename_to_uri(path.c_str(), nullptr, nullptr);
    std::string out = uri ? uri : "";
    g_free(uri);
    return out;
}

bool launchDefault(const std::string& uri) {
    if (uri.empty()) return false;
    GdkDisplay* display = gdk_display_get_default();
    GObjectRef<GdkAppLaunchContext> context;
    if (display) context = GObjectRef<GdkAppLaunchContext>::adopt(gdk_display_get_app_launch_context(display));
    GError* error = nullptr;
    const bool launched =
        g_app_info_launch_default_for_uri(uri.c_str(), context ? G_APP_LAUNCH_CONTEXT(context.get()) : nullptr, &error);
    if (error) g_error_free(error);
    return launched;
}

// One reveal in flight: the file to select, the folder to open instead and
// who is told what showed.
struct Reveal {
    std::string file;
    std::string folder;
    std::function<void(bool)> answered;

    void answer(bool shown) {
        if (answered) answered(shown);
        delete this;
    }
};

void openFolderInstead(Reveal* reveal) { reveal->answer(launchDefault(reveal->folder)); }

void onShown(GObject* source, GAsyncResult* result, gpointer data) {
    auto* reveal = static_cast<Reveal*>(data);
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply) {
        g_variant_unref(reply);
        reveal->answer(true);
        return;
    }
    g_error_free(error);
    openFolderInstead(reveal);
}

void onBus(GObject*, GAsyncResult* result, gpointer data) {
    auto* reveal = static_cast<Reveal*>(data);
    GError* error = nullptr;
    auto bus = GObjectRef<GDBusConnection>::adopt(g_bus_get_finish(result, &error));
    if (!bus) {
        g_error_free(error);
        openFolderInstead(reveal);
        return;
    }
    const gchar* uris[] = {reveal->file.c_str(), nullptr};
    g_dbus_connection_call(bus.get(), "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                           "org.freedesktop.FileManager1", "ShowItems", g_variant_new("(^ass)", uris, ""), nullptr,
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, onShown, reveal);
}

}  // namespace

bool GtkDesktopActions::open(const std::filesystem::path& file) { return launchDefault(fileURI(file)); }

void GtkDesktopActions::reveal(const std::filesystem::path& file) { revealAnswered(file, nullptr); }

void GtkDesktopActions::revealAnswered(const std::filesystem::path& file, std::function<void(bool shown)> answered) {
    auto* reveal = new Reveal{fileURI(file), fileURI(file.parent_path()), std::move(answered)};
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, onBus, reveal);
}

void GtkDesktopActions::copyText(const std::string& text) {
    if (auto display = Gdk::Display::get_default()) display->get_clipboard()->set_text(text);
}

}  // namespace velmora
