#include "workspace/web/CapturePanel.hpp"

#include <gtk/gtk.h>
#include <gtkmm/box.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/label.h>
#include <gtkmm/separator.h>
#include <gtkmm/stringlist.h>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>
#include <functional>
#include <string>

#include "foundation/Task.hpp"
#include "gui/DisplayStyle.hpp"
#include "workspace/model/CapturePanelRules.hpp"
#include "workspace/model/WindowModel.hpp"
#include "workspace/web/WebPaneActions.hpp"

namespace velmora {

namespace Rules = CapturePanelRules;

// A control that shows a field of the model and writes it when the user
// changes it.
class CapturePanel::Control {
public:
    virtual ~Control() = default;
    // Shows the model's value; writes nothing.
    virtual void sync() = 0;
};

namespace {

constexpr int sectionSpacing = 12;

// A picker over a fixed value table.
template <typename T, std::size_t N>
class Picker final : public CapturePanel::Control {
public:
    Picker(const std::array<Choice<T>, N>& table, const char* name, std::function<T()> read,
           std::function<void(const T&)> write)
        : table_(table), read_(std::move(read)), write_(std::move(write)) {
        std::vector<Glib::ustring> labels;
        for (const auto& choice : table_) labels.emplace_back(std::string(choice.label));
        dropDown_ = Gtk::make_managed<Gtk::DropDown>(Gtk::StringList::create(labels));
        dropDown_->set_name(name);
        dropDown_->property_selected().signal_changed().connect([this] { chosen(); });
    }

    Gtk::DropDown& widget() { return *dropDown_; }

    void sync() override {
        const auto index = choiceIndex(table_, read_());
        const guint position = index ? static_cast<guint>(*index) : GTK_INVALID_LIST_POSITION;
        if (dropDown_->get_selected() == position) return;
        syncing_ = true;
        dropDown_->set_selected(position);
        syncing_ = false;
    }

private:
    void chosen() {
        if (syncing_) return;
        const guint position = dropDown_->get_selected();
        if (position >= N) return;
        write_(table_[position].value);
    }

    const std::array<Choice<T>, N>& table_;
    std::function<T()> read_;
    std::function<void(const T&)> write_;
    Gtk::DropDown* dropDown_ = nullptr;
    bool syncing_ = false;
};

class Toggle final : public CapturePanel::Control {
public:
    Toggle(const char* label, const char* name, Published<bool>& field) : field_(field) {
        button_ = Gtk::make_managed<Gtk::CheckButton>(label);
        init(name);
    }
    Toggle(const Rules::SharedOption& option, const char* name, Published<bool>& field) : field_(field) {
        button_ = Gtk::make_managed<Gtk::CheckButton>(std::string(option.title));
        init(name);
    }

    Gtk::CheckButton& widget() { return *button_; }

    void sync() override {
        if (button_->get_active() == field_.get()) return;
        syncing_ = true;
        button_->set_active(field_.get());
        syncing_ = false;
    }

private:
    void init(const char* name) {
        button_->set_name(name);
        button_->signal_toggled().connect([this] {
            if (!syncing_) field_ = button_->get_active();
        });
    }

    Published<bool>& field_;
    Gtk::CheckButton* button_ = nullptr;
    bool syncing_ = false;
};

// A titled row: the title at the start, the control at the end.
Gtk::Box& row(const char* title, Gtk::Widget& control) {
    auto& box = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
    auto& label = *Gtk::make_managed<Gtk::Label>(title);
    label.set_xalign(0);
    label.set_hexpand(true);
    label.set_wrap(true);
    label.set_mnemonic_widget(control);
    box.append(label);
    control.set_valign(Gtk::Align::CENTER);
    box.append(control);
    return box;
}

// A picker's row, under the name the settings give its option.
Gtk::Box& row(const Rules::SharedOption& option, Gtk::Widget& control) {
    return row(std::string(option.title).c_str(), control);
}

Gtk::Label& heading(const char* text) {
    auto& label = *Gtk::make_managed<Gtk::Label>(text);
    label.set_xalign(0);
    label.add_css_class("heading");
    return label;
}

Gtk::Label& note(const char* text) {
    auto& label = *Gtk::make_managed<Gtk::Label>(text);
    label.set_xalign(0);
    label.set_wrap(true);
    label.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    label.add_css_class("caption");
    label.add_css_class("dim-label");
    return label;
}

}  // namespace

// The two sections (and, on the right, the line between them): one column
// on the right; at the bottom two columns once the panel's width less its
// padding holds two minimum columns and their gap, else one. Each section is
// as tall as its content at the cell's width, pinned to the cell's top-left
// corner. The column count follows the width the sections are given, so the
// breakpoint is exact whatever the height.
class CapturePanel::Sections final : public Gtk::Widget {
public:
    Sections(Gtk::Widget& capture, Gtk::Widget& print) : Glib::ObjectBase("VelmoraCaptureSections") {
        capture.insert_at_end(*this);
        separator_.insert_at_end(*this);
        print.insert_at_end(*this);
        capture_ = &capture;
        print_ = &print;
        // A managed widget's C++ side goes only when its object is
        // finalized, after the toolkit has disposed of it: the children are
        // let go as it is disposed.
        signal_destroy().connect([this] { unparentAll(); });
    }
    ~Sections() override {
        if (gobj()) unparentAll();
    }

    void setPanel(AppPreferences::Panel panel) {
        if (panel == panel_) return;
        panel_ = panel;
        separator_.set_visible(panel == AppPreferences::Panel::right);
        queue_resize();
    }
    int columns() const { return columns_; }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override {
        return Gtk::SizeRequestMode::HEIGHT_FOR_WIDTH;
    }

    void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override {
        minimumBaseline = naturalBaseline = -1;
        if (orientation == Gtk::Orientation::HORIZONTAL) {
            minimum = natural = 0;
            for (const Gtk::Widget* child : parts()) {
                int min = 0, nat = 0, b1 = 0, b2 = 0;
                child->measure(orientation, -1, min, nat, b1, b2);
                minimum = std::max(minimum, min);
                natural = std::max(natural, nat);
            }
            return;
        }
        const int width = forSize < 0 ? -1 : forSize;
        if (columnsFor(width) == 2) {
            const int cell = cellWidth(width);
            minimum = natural = std::max(height(*capture_, cell), height(*print_, cell));
            return;
        }
        minimum = natural = height(*capture_, width) + rowSpacing() + height(*print_, width);
        if (separator_.get_visible()) minimum = natural += height(separator_, width) + rowSpacing();
    }

    void size_allocate_vfunc(int width, int, int) override {
        columns_ = columnsFor(width);
        if (columns_ == 2) {
            const int cell = cellWidth(width);
            place(*capture_, 0, 0, cell);
            place(*print_, cell + static_cast<int>(PrintPanelLayout::spacing), 0, cell);
            // Hidden at the bottom, but given a place all the same.
            place(separator_, 0, 0, 0);
            return;
        }
        int y = place(*capture_, 0, 0, width) + rowSpacing();
        if (separator_.get_visible()) y += place(separator_, 0, y, width) + rowSpacing();
        place(*print_, 0, y, width);
    }

private:
    void unparentAll() {
        while (GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(gobj()))) gtk_widget_unparent(child);
    }
    std::vector<const Gtk::Widget*> parts() const { return {capture_, &separator_, print_}; }
    static int rowSpacing() { return static_cast<int>(Rules::rowSpacing); }

    // The sections are given the panel's width less its padding; the rule
    // is stated for the panel's width.
    int columnsFor(int width) const {
        if (width < 0) return 1;
        return Rules::columns(width + 2 * Rules::padding, panel_);
    }
    static int cellWidth(int width) {
        return std::max(0, (width - static_cast<int>(PrintPanelLayout::spacing)) / 2);
    }
    static int height(const Gtk::Widget& child, int width) {
        if (!child.get_visible()) return 0;
        int min = 0, nat = 0, b1 = 0, b2 = 0;
        child.measure(Gtk::Orientation::HORIZONTAL, -1, min, nat, b1, b2);
        const int given = width < 0 ? nat : std::max(width, min);
        child.measure(Gtk::Orientation::VERTICAL, given, min, nat, b1, b2);
        return nat;
    }
    // Gives the child its height at that width; returns the height.
    static int place(Gtk::Widget& child, int x, int y, int width) {
        if (!child.get_visible()) return 0;
        int min = 0, nat = 0, b1 = 0, b2 = 0;
        child.measure(Gtk::Orientation::HORIZONTAL, -1, min, nat, b1, b2);
        const int w = std::max(width, min);
        const int h = height(child, w);
        child.size_allocate(Gtk::Allocation(x, y, w, h), -1);
        return h;
    }

    Gtk::Widget* capture_ = nullptr;
    Gtk::Widget* print_ = nullptr;
    Gtk::Separator separator_{Gtk::Orientation::HORIZONTAL};
    AppPreferences::Panel panel_ = AppPreferences::Panel::right;
    int columns_ = 1;
};

CapturePanel::CapturePanel(std::shared_ptr<WindowModel> model) : model_(std::move(model)) {
    set_name(panelName);
    installSharedStyle();
    set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    set_hexpand(true);
    set_vexpand(true);
    Gtk::Widget& capture = captureSection();
    Gtk::Widget& print = printSection();
    sections_ = Gtk::make_managed<Sections>(capture, print);
    sections_->set_margin(static_cast<int>(Rules::padding));
    sections_->set_valign(Gtk::Align::START);
    set_child(*sections_);
    observation_ = model_->changed.connect([this] { sync(); });
    sync();
}

CapturePanel::~CapturePanel() {
    // The field loses its focus while the window takes the panel apart.
    focusLeave_.disconnect();
    observation_.disconnect();
}

int CapturePanel::columns() const { return sections_->columns(); }

int CapturePanel::wholeRows(int height) const {
    // Every row of every section (a heading, a control, a note, a button),
    // where it stands in the panel as it is scrolled now.
    std::vector<std::pair<float, float>> spans;
    auto* self = const_cast<CapturePanel*>(this);
    for (Gtk::Widget* section = sections_->get_first_child(); section; section = section->get_next_sibling()) {
        if (!section->get_visible()) continue;
        for (Gtk::Widget* row = section->get_first_child(); row; row = row->get_next_sibling()) {
            if (!row->get_visible()) continue;
            graphene_rect_t bounds{};
            if (!gtk_widget_compute_bounds(row->gobj(), GTK_WIDGET(self->gobj()), &bounds)) return height;
            spans.emplace_back(bounds.origin.y, bounds.origin.y + bounds.size.height);
        }
    }
    // Each row the edge would cut moves it up to that row's top, until it
    // cuts none in either column.
    int edge = height;
    for (bool moved = true; moved;) {
        moved = false;
        for (const auto& [top, bottom] : spans) {
            if (top < edge && edge < bottom) {
                edge = std::max(static_cast<int>(std::floor(top)), 0);
                moved = true;
            }
        }
    }
    return edge;
}

Gtk::Widget& CapturePanel::captureSection() {
    WindowModel& m = *model_;
    auto& section = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, sectionSpacing);
    section.set_name(captureSectionName);
    section.append(heading("縦長画像"));

    auto display = std::make_unique<Picker<std::string_view, 2>>(
        Rules::display, displayName, [&m] { return Rules::displayValue(m.widthMode.get()); },
        [&m](std::string_view value) { m.chooseDisplay(value); });
    section.append(row(Rules::displayOption, display->widget()));
    controls_.push_back(std::move(display));

    auto pcWidth = std::make_unique<Picker<std::string_view, 2>>(
        Rules::pcWidth, pcWidthName, [&m] { return std::string_view(m.widthMode.get()); },
        [&m](std::string_view value) { m.widthMode = std::string(value); });
    pcWidthRow_ = &row("PCの幅", pcWidth->widget());
    section.append(*pcWidthRow_);
    controls_.push_back(std::move(pcWidth));

    auto mobileWidth = std::make_unique<Picker<int64_t, 3>>(
        Rules::mobileWidth, mobileWidthName, [&m] { return m.mobileWidth.get(); },
        [&m](int64_t value) { m.mobileWidth = value; });
    mobileWidthRow_ = &row(Rules::mobileWidthOption, mobileWidth->widget());
    section.append(*mobileWidthRow_);
    controls_.push_back(std::move(mobileWidth));

    widthEntry_ = Gtk::make_managed<Gtk::Entry>();
    widthEntry_->set_name(customWidthName);
    widthEntry_->set_width_chars(7);
    widthEntry_->set_input_purpose(Gtk::InputPurpose::NUMBER);
    widthEntry_->signal_activate().connect([this] { commitWidth(); });
    auto focus = Gtk::EventControllerFocus::create();
    focusLeave_ = focus->signal_leave().connect([this] { commitWidth(); });
    widthEntry_->add_controller(focus);
    customWidthRow_ = &row("横幅（280〜4096 px）", *widthEntry_);
    section.append(*customWidthRow_);

    auto scale = std::make_unique<Picker<int64_t, 2>>(
        Rules::scale, scaleName, [&m] { return m.scale.get(); }, [&m](int64_t value) { m.scale = value; });
    section.append(row(Rules::scaleOption, scale->widget()));
    controls_.push_back(std::move(scale));

    auto lazyLoad = std::make_unique<Toggle>(Rules::lazyLoadOption, lazyLoadName, m.lazyLoad);
    section.append(lazyLoad->widget());
    controls_.push_back(std::move(lazyLoad));

    auto wait = std::make_unique<Picker<int64_t, 6>>(
        Rules::wait, waitName, [&m] { return m.waitSeconds.get(); }, [&m](int64_t value) { m.waitSeconds = value; });
    section.append(row(Rules::waitOption, wait->widget()));
    controls_.push_back(std::move(wait));

    auto ocr = std::make_unique<Toggle>("キャプチャ後にOCRする", ocrName, m.captureOCR);
    section.append(ocr->widget());
    controls_.push_back(std::move(ocr));

    section.append(note("選択中のタブを保存します。スマホは表示幅の切替です。"));

    captureButton_ = Gtk::make_managed<Gtk::Button>("縦長PNGを保存");
    captureButton_->set_name(captureName);
    captureButton_->set_halign(Gtk::Align::START);
    captureButton_->signal_clicked().connect([this] { startSave(model_, false); });
    section.append(*captureButton_);
    return section;
}

Gtk::Widget& CapturePanel::printSection() {
    WindowModel& m = *model_;
    auto& section = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, sectionSpacing);
    section.set_name(printSectionName);
    section.append(heading(Rules::printHeading.data()));

    auto paper = std::make_unique<Picker<PrintOptions::Paper, 4>>(
        Rules::paper, paperName, [&m] { return m.paper.get(); },
        [&m](PrintOptions::Paper value) { m.paper = value; });
    section.append(row(Rules::paperOption, paper->widget()));
    controls_.push_back(std::move(paper));

    auto landscape = std::make_unique<Toggle>(Rules::landscapeOption, landscapeName, m.landscape);
    section.append(landscape->widget());
    controls_.push_back(std::move(landscape));

    auto margin = std::make_unique<Picker<double, 3>>(
        Rules::margin, marginName, [&m] { return m.margin.get(); }, [&m](double value) { m.margin = value; });
    section.append(row(Rules::marginOption, margin->widget()));
    controls_.push_back(std::move(margin));

    auto backgrounds = std::make_unique<Toggle>(Rules::backgroundsOption, backgroundsName, m.backgrounds);
    section.append(backgrounds->widget());
    controls_.push_back(std::move(backgrounds));

    auto headerFooter = std::make_unique<Toggle>(Rules::headerFooterOption, headerFooterName, m.headerFooter);
    section.append(headerFooter->widget());
    controls_.push_back(std::move(headerFooter));

    auto format = std::make_unique<Picker<PrintOptions::Output, 3>>(
        Rules::format, formatName, [&m] { return m.format.get(); },
        [&m](PrintOptions::Output value) { m.format = value; });
    section.append(row(Rules::formatOption, format->widget()));
    controls_.push_back(std::move(format));

    printButton_ = Gtk::make_managed<Gtk::Button>("印刷用に保存");
    printButton_->set_name(printName);
    printButton_->set_halign(Gtk::Align::START);
    printButton_->signal_clicked().connect([this] { startSave(model_, true); });
    section.append(*printButton_);

    section.append(note("PNGは1ページ1画像です。"));
    return section;
}

void CapturePanel::sync() {
    const WindowModel& m = *model_;
    for (const auto& control : controls_) control->sync();
    const std::string& mode = m.widthMode.get();
    pcWidthRow_->set_visible(Rules::showsPCWidth(mode));
    mobileWidthRow_->set_visible(Rules::showsMobileWidth(mode));
    customWidthRow_->set_visible(Rules::showsCustomWidth(mode));
    syncWidth();
    const bool right = m.panel.get() == AppPreferences::Panel::right;
    captureButton_->set_visible(right);
    printButton_->set_visible(right);
    sections_->setPanel(m.panel.get());
    set_sensitive(Rules::panelEnabled(m.webSaving(), m.closing.get()));
}

void CapturePanel::syncWidth() {
    const int64_t width = model_->customWidth.get();
    if (shownWidth_ == width) return;
    shownWidth_ = width;
    widthEntry_->set_text(Rules::formatWidth(width));
}

void CapturePanel::commitWidth() {
    const auto width = Rules::parseWidth(widthEntry_->get_text().raw());
    if (width && *width != model_->customWidth.get()) model_->customWidth = *width;
    // The field shows the model's width in the locale's form, whether the
    // text was taken or not.
    shownWidth_ = model_->customWidth.get();
    widthEntry_->set_text(Rules::formatWidth(*shownWidth_));
}

}  // namespace velmora
