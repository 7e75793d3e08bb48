#include "settingsui/ProductSettingsForm.hpp"

#include <gtk/gtk.h>
#include <gtkmm/frame.h>
#include <gtkmm/grid.h>
#include <gtkmm/label.h>
#include <gtkmm/stringlist.h>
#include <pangomm/attrlist.h>

#include "gui/DisplayStyle.hpp"

namespace velmora {

namespace {

constexpr int rowSpacing = 10;
constexpr int columnSpacing = 24;
constexpr int framePadding = 12;

Gtk::Label& captionLabel(const std::string& text) {
    auto& label = *Gtk::make_managed<Gtk::Label>(text);
    label.set_xalign(0);
    label.set_wrap(true);
    label.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    label.add_css_class("dim-label");
    Pango::AttrList attributes;
    auto small = Pango::Attribute::create_attr_scale(0.85);
    attributes.insert(small);
    label.set_attributes(attributes);
    return label;
}

}  // namespace

ProductSettingsForm::ProductSettingsForm(FormModel& model) : Gtk::Box(Gtk::Orientation::VERTICAL, 8), model_(model) {
    set_name("form");
    installSharedStyle();
    layoutConnection_ = model_.layoutChanged().connect([this] { rebuild(); });
    draftConnection_ = model_.draftChanged().connect([this] { sync(); });
    rebuild();
}

ProductSettingsForm::~ProductSettingsForm() {
    layoutConnection_.disconnect();
    draftConnection_.disconnect();
    for (auto& control : controls_) control.handler.disconnect();
}

void ProductSettingsForm::rebuild() {
    for (auto& control : controls_) control.handler.disconnect();
    controls_.clear();
    for (auto* section : sections_) remove(*section);
    sections_.clear();
    // Every row of the step and the course; sync shows those that apply.
    for (const FormSection& section : model_.layout()) {
        auto& widget = makeSection(section);
        append(widget);
        sections_.push_back(&widget);
    }
    sync();
}

Gtk::Widget& ProductSettingsForm::makeSection(const FormSection& section) {
    auto& box = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 6);
    box.set_name("form.section." + std::to_string(section.index));
    box.set_margin_bottom(10);
    auto& heading = *Gtk::make_managed<Gtk::Label>(section.title);
    heading.set_xalign(0);
    heading.add_css_class("heading");
    box.append(heading);

    auto& frame = *Gtk::make_managed<Gtk::Frame>();
    auto& grid = *Gtk::make_managed<Gtk::Grid>();
    grid.set_row_spacing(rowSpacing);
    grid.set_column_spacing(columnSpacing);
    grid.set_margin(framePadding);
    frame.set_child(grid);
    box.append(frame);

    int line = 0;
    for (const FormRow* row : section.rows) {
        if (row->kind == FormRow::Kind::caption) {
            auto& label = captionLabel(row->label);
            label.set_name("form." + row->key);
            grid.attach(label, 0, line++, 2, 1);
            controls_.push_back(Control{row, nullptr, nullptr, {}, {&label}});
            continue;
        }
        Control control;
        control.row = row;
        if (row->kind == FormRow::Kind::choice) {
            auto& label = *Gtk::make_managed<Gtk::Label>(row->label);
            label.set_xalign(0);
            label.set_hexpand(true);
            label.set_wrap(true);
            grid.attach(label, 0, line, 1, 1);
            control.widgets = {&label};
            std::vector<Glib::ustring> entries(row->entries.begin(), row->entries.end());
            auto& dropDown = *Gtk::make_managed<Gtk::DropDown>(Gtk::StringList::create(entries));
            dropDown.set_name("form." + row->key);
            dropDown.set_halign(Gtk::Align::END);
            dropDown.set_valign(Gtk::Align::CENTER);
            const std::string key = row->key;
            control.choice = &dropDown;
            control.handler = dropDown.property_selected().signal_changed().connect([this, key, &dropDown] {
                const guint selected = dropDown.get_selected();
                if (selected != GTK_INVALID_LIST_POSITION) model_.choose(key, selected);
            });
            grid.attach(dropDown, 1, line, 1, 1);
            control.widgets.push_back(&dropDown);
        } else {
            // A check box carrying its own label, as the capture and OCR
            // panels show the same options: one kind of control for an
            // option wherever it appears.
            auto& toggle = *Gtk::make_managed<Gtk::CheckButton>(row->label);
            toggle.set_name("form." + row->key);
            toggle.set_hexpand(true);
            toggle.set_valign(Gtk::Align::CENTER);
            const std::string key = row->key;
            control.toggle = &toggle;
            control.handler = toggle.property_active().signal_changed().connect(
                [this, key, &toggle] { model_.setOn(key, toggle.get_active()); });
            grid.attach(toggle, 0, line, 2, 1);
            control.widgets = {&toggle};
        }
        controls_.push_back(std::move(control));
        ++line;
    }
    return box;
}

void ProductSettingsForm::sync() {
    for (auto& control : controls_) {
        // A row that does not apply to the draft takes no room; the grid
        // leaves out a line with nothing shown, spacing and all.
        const bool shown = model_.rowShown(*control.row);
        for (Gtk::Widget* widget : control.widgets) widget->set_visible(shown);
        // Showing the draft is not an edit: nothing is written back.
        control.handler.block();
        if (control.choice) {
            const auto selected = control.row->selected(model_.draft());
            control.choice->set_selected(selected ? static_cast<guint>(*selected) : GTK_INVALID_LIST_POSITION);
        } else if (control.toggle) {
            control.toggle->set_active(control.row->isOn(model_.draft()));
        }
        control.handler.unblock();
    }
}

}  // namespace velmora
