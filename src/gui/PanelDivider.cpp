#include "gui/PanelDivider.hpp"

#include <gtk/gtk.h>
#include <gtkmm/snapshot.h>
#include <gtkmm/stylecontext.h>

namespace velmora {

PanelDivider::PanelDivider() : Glib::ObjectBase("VelmoraPanelDivider"), label_(defaultLabel) {
    // The toolkit's own split handle (GtkPaned) stands in the accessibility
    // tree as a separator; there is no splitter role.
    g_object_set(gobj(), "accessible-role", GTK_ACCESSIBLE_ROLE_SEPARATOR, nullptr);
    gtk_accessible_update_property(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, label_.c_str(), -1);
    set_tooltip_text(tooltip);
    gesture_ = Gtk::GestureDrag::create();
    gesture_->set_button(GDK_BUTTON_PRIMARY);
    gesture_->signal_drag_begin().connect(sigc::mem_fun(*this, &PanelDivider::onBegin));
    gesture_->signal_drag_update().connect(sigc::mem_fun(*this, &PanelDivider::onUpdate));
    gesture_->signal_drag_end().connect(sigc::mem_fun(*this, &PanelDivider::onEnd));
    gesture_->signal_cancel().connect([this](Gdk::EventSequence*) { drag_.cancel(); });
    add_controller(gesture_);
    gtk_widget_set_cursor_from_name(GTK_WIDGET(gobj()), cursorName().c_str());
}

PanelDivider::~PanelDivider() = default;

void PanelDivider::update(Configuration configuration) {
    if (configuration.label != label_) {
        label_ = std::move(configuration.label);
        gtk_accessible_update_property(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, label_.c_str(), -1);
    }
    const bool reoriented = drag_.vertical != configuration.vertical;
    drag_.vertical = configuration.vertical;
    drag_.enabled = configuration.enabled;
    drag_.panelSize = configuration.size;
    drag_.changed = std::move(configuration.changed);
    gtk_accessible_update_property(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_PROPERTY_ORIENTATION,
                                   drag_.vertical ? GTK_ORIENTATION_VERTICAL : GTK_ORIENTATION_HORIZONTAL, -1);
    gtk_widget_set_cursor_from_name(GTK_WIDGET(gobj()), cursorName().c_str());
    if (reoriented) queue_resize();
    queue_draw();
}

std::string PanelDivider::cursorName() const {
    if (!drag_.enabled) return "default";
    return drag_.vertical ? "col-resize" : "row-resize";
}

Gtk::SizeRequestMode PanelDivider::get_request_mode_vfunc() const { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

void PanelDivider::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural,
                                 int& minimum_baseline, int& natural_baseline) const {
    // Thick across the line, nothing along it: the split gives it its length.
    const bool across = (orientation == Gtk::Orientation::HORIZONTAL) == drag_.vertical;
    minimum = natural = across ? thickness : 0;
    minimum_baseline = natural_baseline = -1;
}

void PanelDivider::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) {
    const int width = get_width();
    const int height = get_height();
    // The theme's foreground, faint, as the toolkit's separators draw it.
    Gdk::RGBA colour = get_style_context()->get_color();
    colour.set_alpha(colour.get_alpha() * 0.2);
    const Gdk::Rectangle line = drag_.vertical ? Gdk::Rectangle(width / 2, 0, 1, height)
                                               : Gdk::Rectangle(0, height / 2, width, 1);
    snapshot->append_color(colour, line);
}

bool PanelDivider::eventPoint(PanelDividerDrag::Point& point) const {
    GtkGesture* gesture = GTK_GESTURE(gesture_->gobj());
    GdkEvent* event = gtk_gesture_get_last_event(gesture, gtk_gesture_single_get_current_sequence(
                                                              GTK_GESTURE_SINGLE(gesture)));
    if (!event) return false;
    return gdk_event_get_position(event, &point.x, &point.y);
}

void PanelDivider::onBegin(double, double) {
    PanelDividerDrag::Point at;
    if (eventPoint(at)) drag_.press(at);
}

void PanelDivider::onUpdate(double, double) {
    PanelDividerDrag::Point at;
    if (eventPoint(at)) drag_.drag(at);
}

void PanelDivider::onEnd(double, double) {
    PanelDividerDrag::Point at;
    if (eventPoint(at)) drag_.release(at);
    else drag_.cancel();
}

}  // namespace velmora
