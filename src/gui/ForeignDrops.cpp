#include "gui/ForeignDrops.hpp"

#include <gdk/gdk.h>
#ifdef GDK_WINDOWING_X11
#include <gdk/x11/gdkx.h>
#endif

#include <set>

namespace velmora {

#ifdef GDK_WINDOWING_X11
namespace {

struct Drags {
    Atom enter, leave, drop, actionList;
    // The windows of other applications whose drag is over one of ours.
    std::set<Window> over;
};

gboolean sift(GdkDisplay*, const XEvent* event, gpointer data) {
    auto& drags = *static_cast<Drags*>(data);
    if (event->type == ClientMessage) {
        const auto from = static_cast<Window>(event->xclient.data.l[0]);
        const Atom type = event->xclient.message_type;
        if (type == drags.enter) drags.over.insert(from);
        else if (type == drags.leave || type == drags.drop) drags.over.erase(from);
        return FALSE;
    }
    // Handled here: neither GDK nor the finished drop sees it.
    return event->type == PropertyNotify && event->xproperty.atom == drags.actionList &&
           !drags.over.contains(event->xproperty.window);
}

}  // namespace
#endif

void settleForeignDrops() {
#ifdef GDK_WINDOWING_X11
    GdkDisplay* display = gdk_display_get_default();
    if (!display || !GDK_IS_X11_DISPLAY(display)) return;
    static constexpr const char* key = "velmora-foreign-drops";
    if (g_object_get_data(G_OBJECT(display), key)) return;
    auto* drags = new Drags{gdk_x11_get_xatom_by_name_for_display(display, "XdndEnter"),
                            gdk_x11_get_xatom_by_name_for_display(display, "XdndLeave"),
                            gdk_x11_get_xatom_by_name_for_display(display, "XdndDrop"),
                            gdk_x11_get_xatom_by_name_for_display(display, "XdndActionList"),
                            {}};
    g_object_set_data_full(G_OBJECT(display), key, drags, [](gpointer data) { delete static_cast<Drags*>(data); });
    // Before any drop's own handler, which each drop connects as it enters.
    g_signal_connect(display, "xevent", G_CALLBACK(sift), drags);
#endif
}

}  // namespace velmora
