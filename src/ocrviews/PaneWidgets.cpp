#include "ocrviews/PaneWidgets.hpp"

#include <gtk/gtk.h>

#include "ocrviews/ColumnStyle.hpp"

namespace velmora {

void calloutFont(Gtk::Widget& widget) { styleWidget(widget, "* { font-size: 0.93em; }"); }

void accessibleLabel(Gtk::Widget& widget, const std::string& label) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, label.c_str(), -1);
}

LabelledPicker::LabelledPicker(const std::string& title, const std::vector<std::string>& choices)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 6), title_(title) {
    std::vector<Glib::ustring> strings(choices.begin(), choices.end());
    model_ = Gtk::StringList::create(strings);
    dropDown_.set_model(model_);
    // The drop-down fills the picker's width; the picker itself takes only
    // the width it is given or asks for.
    dropDown_.set_hexpand(true);
    set_hexpand(false);
    accessibleLabel(dropDown_, title);
    append(title_);
    append(dropDown_);
    selected_ = dropDown_.property_selected().signal_changed().connect([this] {
        if (chosen) chosen(dropDown_.get_selected());
    });
}

LabelledPicker::~LabelledPicker() { selected_.disconnect(); }

void LabelledPicker::show(unsigned index) {
    if (dropDown_.get_selected() == index) return;
    selected_.block();
    dropDown_.set_selected(index);
    selected_.unblock();
}

namespace {

template <typename T>
Task<void> awaitThen(Task<T> action, std::weak_ptr<void> alive, std::function<void()> then) {
    co_await std::move(action);
    if (alive.lock() && then) then();
}

}  // namespace

Task<void> afterAction(Task<void> action, std::weak_ptr<void> alive, std::function<void()> then) {
    return awaitThen(std::move(action), std::move(alive), std::move(then));
}

Task<void> afterAction(Task<bool> action, std::weak_ptr<void> alive, std::function<void()> then) {
    return awaitThen(std::move(action), std::move(alive), std::move(then));
}

}  // namespace velmora
