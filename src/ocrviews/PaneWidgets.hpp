#pragma once

// Small pieces the OCR pane's rows share: a labelled picker of fixed
// choices, the callout font, the accessible label of a control, and the way
// a control hands an asynchronous action to the controller and shows the
// controller's value again once the action has ended.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/stringlist.h>

#include "foundation/Task.hpp"

namespace velmora {

// The body text of a row a step smaller than the window's.
void calloutFont(Gtk::Widget& widget);
// What assistive technology reads for a control without a label of its own.
void accessibleLabel(Gtk::Widget& widget, const std::string& label);

// A title and a drop-down of fixed choices. `chosen` runs for a choice of
// the user's only: `show` moves the selection without calling it.
class LabelledPicker : public Gtk::Box {
public:
    LabelledPicker(const std::string& title, const std::vector<std::string>& choices);
    ~LabelledPicker() override;

    void show(unsigned index);
    unsigned selected() const { return dropDown_.get_selected(); }
    Gtk::DropDown& dropDown() { return dropDown_; }

    std::function<void(unsigned)> chosen;

private:
    Gtk::Label title_;
    Glib::RefPtr<Gtk::StringList> model_;
    Gtk::DropDown dropDown_;
    sigc::connection selected_;
};

// Awaits a controller action, then runs `then` unless the view that asked
// is gone by then (its `alive` token expired).
Task<void> afterAction(Task<void> action, std::weak_ptr<void> alive, std::function<void()> then);
Task<void> afterAction(Task<bool> action, std::weak_ptr<void> alive, std::function<void()> then);

}  // namespace velmora
