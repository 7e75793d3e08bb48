#pragma once

// The settings form on screen: one heading and one framed grid of label and
// picker, or of check box, per visible section of a FormModel. Every control writes its entry's
// value straight into the model's draft; syncing a control from the draft
// never writes back (its handler is blocked), so a draft value outside a
// choice's table shows no selection and stays as it is. The form keeps no
// state of its own: the model's layout signal rebuilds it, its draft signal
// resyncs it and shows the rows that apply to the draft (the mobile width
// only for the mobile display), hiding the others in place, so a choice is
// never taken apart while it is being made.

#include <string>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/checkbutton.h>

#include "settingsui/FormModel.hpp"

namespace velmora {

class ProductSettingsForm : public Gtk::Box {
public:
    // The model holds the draft, the step and the course; it must outlive
    // the form.
    explicit ProductSettingsForm(FormModel& model);
    ~ProductSettingsForm() override;

private:
    struct Control {
        const FormRow* row = nullptr;
        Gtk::DropDown* choice = nullptr;
        Gtk::CheckButton* toggle = nullptr;
        sigc::connection handler;
        // The row's widgets, shown while it applies to the draft.
        std::vector<Gtk::Widget*> widgets;
    };

    void rebuild();
    void sync();
    Gtk::Widget& makeSection(const FormSection& section);

    FormModel& model_;
    std::vector<Control> controls_;
    std::vector<Gtk::Widget*> sections_;
    sigc::connection layoutConnection_;
    sigc::connection draftConnection_;
};

}  // namespace velmora
