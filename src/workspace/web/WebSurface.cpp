#include "workspace/web/WebSurface.hpp"

#include <gtk/gtk.h>
#include <gtkmm/binlayout.h>

#include <stdexcept>

namespace velmora {

WebSurface::WebSurface(const std::shared_ptr<BrowserSession>& session) : Glib::ObjectBase("VelmoraWebSurface") {
    set_layout_manager(Gtk::BinLayout::create());
    set_hexpand(true);
    set_vexpand(true);
    show(session);
    // A managed surface's C++ side goes only when its object is finalized,
    // after the toolkit has disposed of it: the frame is given back as it is
    // disposed.
    signal_destroy().connect([this] { unplace(); });
}

WebSurface::~WebSurface() {
    if (gobj()) unplace();
}

void WebSurface::show(const std::shared_ptr<BrowserSession>& session) {
    if (!session) throw std::logic_error("a web surface needs a session");
    if (session_.lock() == session && frame()) return;
    // The new frame is checked before the old one goes, so a refused
    // session leaves the surface as it was.
    GtkWidget* frame = GTK_WIDGET(session->frame().gobj());
    if (gtk_widget_get_parent(frame) && gtk_widget_get_parent(frame) != GTK_WIDGET(gobj())) {
        throw std::logic_error("the session's frame is placed elsewhere");
    }
    unplace();
    session_ = session;
    place(*session);
}

WebFrame* WebSurface::frame() const {
    auto session = session_.lock();
    if (!session) return nullptr;
    GtkWidget* frame = GTK_WIDGET(session->frame().gobj());
    return gtk_widget_get_parent(frame) == GTK_WIDGET(const_cast<GtkWidget*>(gobj())) ? &session->frame() : nullptr;
}

void WebSurface::place(BrowserSession& session) {
    GtkWidget* frame = GTK_WIDGET(session.frame().gobj());
    if (!gtk_widget_get_parent(frame)) gtk_widget_set_parent(frame, GTK_WIDGET(gobj()));
}

void WebSurface::unplace() {
    // Whatever child is left is the frame of the session shown last.
    if (GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(gobj()))) gtk_widget_unparent(child);
}

}  // namespace velmora
