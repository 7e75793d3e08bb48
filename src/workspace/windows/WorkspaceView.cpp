#include "workspace/windows/WorkspaceView.hpp"

#include <gtkmm/snapshot.h>

#include "foundation/ProductBrand.hpp"
#include "gui/DisplayStyle.hpp"
#include "ocrviews/OCRProductView.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/sections/HistoryView.hpp"
#include "workspace/sections/SettingsSection.hpp"
#include "workspace/web/ActivityStrips.hpp"
#include "workspace/web/WebWorkspace.hpp"
#include "workspace/windows/WorkspacePrivacyWindows.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

namespace velmora {

namespace {

using Section = WindowModel::Section;

constexpr const char* sidebarClass = "velmora-sidebar";
constexpr const char* appTitleClass = "velmora-app-title";
constexpr const char* sectionTitleClass = "velmora-section-title";
constexpr const char* topBarClass = "velmora-top-bar";
constexpr const char* statusClass = "velmora-status";
constexpr const char* paneClass = "velmora-section-pane";

// The look of the view beyond the theme's own classes, one sheet for the
// display. The theme's named colours: the window background for the bar and
// the opaque panes, the selection colour for the accent.
constexpr const char* viewStyle =
        ".velmora-sidebar { padding: 14px; background-color: @theme_bg_color; }\n"
        ".velmora-app-title { font-size: 1.55em; font-weight: bold; margin-bottom: 20px; }\n"
        "button.velmora-section-row { padding: 9px; border-radius: 7px; background: none; border: none;"
        " box-shadow: none; }\n"
        "button.velmora-section-row:hover { background-color: alpha(@theme_fg_color, 0.06); }\n"
        "button.velmora-section-row.selected { background-color: alpha(@theme_selected_bg_color, 0.16); }\n"
        ".velmora-top-bar { padding: 10px 16px; }\n"
        ".velmora-section-title { font-size: 1.55em; font-weight: bold; }\n"
        ".velmora-status { padding: 12px; }\n"
        ".velmora-section-pane { background-color: @theme_bg_color; }\n";

void installStyle() { installDisplayStyle(viewStyle); }

void describe(Gtk::Widget& widget, const char* description) {
    gtk_accessible_update_property(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION, description,
                                   -1);
}

Gtk::Image& icon(const std::string& name) {
    auto* image = Gtk::make_managed<Gtk::Image>();
    image->set_from_icon_name(name);
    return *image;
}

void setHiddenFromAccessibility(Gtk::Widget& widget, bool hidden) {
    gtk_accessible_update_state(GTK_ACCESSIBLE(widget.gobj()), GTK_ACCESSIBLE_STATE_HIDDEN, hidden ? TRUE : FALSE,
                                -1);
}

}  // namespace

// A box whose children are drawn unseen while it is not seen: the snapshot
// is taken all the same, under an opacity of 0.
class UnseenHolder : public Gtk::Box {
public:
    UnseenHolder() : Glib::ObjectBase("VelmoraUnseenHolder") {}

    bool seen() const noexcept { return seen_; }
    void setSeen(bool seen) {
        if (seen_ == seen) return;
        seen_ = seen;
        queue_draw();
    }

protected:
    void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override {
        if (seen_) {
            Gtk::Box::snapshot_vfunc(snapshot);
            return;
        }
        gtk_snapshot_push_opacity(snapshot->gobj(), 0);
        Gtk::Box::snapshot_vfunc(snapshot);
        gtk_snapshot_pop(snapshot->gobj());
    }

private:
    bool seen_ = true;
};

std::string WorkspaceView::rowName(Section section) {
    return std::string(sectionRowPrefix) + std::string(rawValue(section));
}

WorkspaceView::WorkspaceView(std::shared_ptr<WindowModel> model, WorkspaceWindows& windows)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 0), model_(std::move(model)), windows_(windows) {
    installStyle();
    buildSidebar();
    append(sidebar_);
    append(sidebarDivider_);
    buildMainColumn();
    append(column_);
    modelChanged_ = model_->changed.connect([this] { followModel(); });
    followModel();
}

WorkspaceView::~WorkspaceView() { modelChanged_.disconnect(); }

bool WorkspaceView::webPaneSeen() const noexcept { return webHolder_->seen(); }

void WorkspaceView::buildSidebar() {
    sidebar_.set_name(sidebarName);
    sidebar_.add_css_class(sidebarClass);
    sidebar_.set_size_request(sidebarWidth, -1);
    sidebar_.set_hexpand(false);
    sidebar_.set_vexpand(true);

    title_.set_name(titleName);
    title_.set_text(ProductBrand::current().displayName);
    title_.add_css_class(appTitleClass);
    title_.set_xalign(0);
    sidebar_.append(title_);

    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const Section section = WindowModel::allSections[i];
        auto& row = rows_[i];
        auto* content = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
        content->append(icon(std::string(WindowModel::icon(section))));
        auto* label = Gtk::make_managed<Gtk::Label>(std::string(rawValue(section)));
        label->set_xalign(0);
        label->set_hexpand(true);
        content->append(*label);
        row.set_child(*content);
        row.set_has_frame(false);
        row.add_css_class(rowClass);
        row.set_name(rowName(section));
        row.set_halign(Gtk::Align::FILL);
        row.signal_clicked().connect([this, section] { model_->section = section; });
        sidebar_.append(row);
    }
    // The rows stay at the top.
    auto* spacer = Gtk::make_managed<Gtk::Box>();
    spacer->set_vexpand(true);
    sidebar_.append(*spacer);
}

void WorkspaceView::buildMainColumn() {
    column_.set_hexpand(true);
    column_.set_vexpand(true);

    topBar_.add_css_class(topBarClass);
    sectionTitle_.set_name(sectionTitleName);
    sectionTitle_.add_css_class(sectionTitleClass);
    sectionTitle_.set_xalign(0);
    sectionTitle_.set_hexpand(true);
    topBar_.append(sectionTitle_);
    private_.set_name(privateName);
    private_.add_css_class("dim-label");
    private_.set_valign(Gtk::Align::CENTER);
    private_.append(icon(privateIcon));
    private_.append(*Gtk::make_managed<Gtk::Label>(privateLabel));
    topBar_.append(private_);
    newWindow_.set_name(newWindowName);
    newWindow_.set_icon_name(newWindowIcon);
    newWindow_.set_tooltip_text(newWindowLabel);
    newWindow_.set_has_frame(false);
    newWindow_.set_valign(Gtk::Align::CENTER);
    gtk_accessible_update_property(GTK_ACCESSIBLE(newWindow_.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, newWindowLabel,
                                   -1);
    newWindow_.signal_clicked().connect([this] { windows_.open(std::nullopt); });
    topBar_.append(newWindow_);
    column_.append(topBar_);
    column_.append(topDivider_);

    pane_.set_name(paneName);
    pane_.set_hexpand(true);
    pane_.set_vexpand(true);
    web_ = Gtk::make_managed<WebWorkspace>(model_, desktop_);
    webHolder_ = Gtk::make_managed<UnseenHolder>();
    webHolder_->set_hexpand(true);
    webHolder_->set_vexpand(true);
    webHolder_->append(*web_);
    pane_.set_child(*webHolder_);
    // A section over the web pane takes exactly the pane's area. Left to
    // itself the overlay gives it at least its height at its least width,
    // where each wrapped sentence stands a few characters a line: a long
    // one (an export's result beside the settings' buttons) would make the
    // section taller than the window and push its foot off the bottom.
    pane_.signal_get_child_position().connect(
        [this](Gtk::Widget* child, Gdk::Rectangle& allocation) {
            if (child != sectionPane_) return false;
            allocation = Gdk::Rectangle(0, 0, pane_.get_width(), pane_.get_height());
            return true;
        },
        false);
    column_.append(pane_);

    // The strips report work this window runs outside the section shown;
    // each hides its own row while there is nothing to report.
    ocrStripSlot_.set_name(ocrStripSlotName);
    ocrStrip_ = Gtk::make_managed<QueueActivityStrip>(model_->queue, [this] { model_->section = Section::ocr; });
    ocrStripSlot_.append(*ocrStrip_);
    column_.append(ocrStripSlot_);
    webStripsSlot_.set_name(webStripsSlotName);
    webStrips_ = Gtk::make_managed<WebActivityStrips>(model_);
    webStripsSlot_.append(*webStrips_);
    column_.append(webStripsSlot_);

    for (auto* label : {&message_, &stopping_}) {
        label->set_xalign(0);
        label->set_wrap(true);
        label->set_use_markup(false);
        label->add_css_class(statusClass);
        column_.append(*label);
    }
    message_.set_name(messageName);
    message_.add_css_class("dim-label");
    stopping_.set_name(stoppingName);
    stopping_.set_text(stoppingNotice);
}

void WorkspaceView::followModel() {
    const Section section = model_->section.get();
    const bool web = section == Section::web;
    showSection(section);
    private_.set_visible(web && model_->privateMode());
    ocrStripSlot_.set_visible(section != Section::ocr);
    webStripsSlot_.set_visible(!web);
    const std::string& message = model_->message.get();
    if (message_.get_text().raw() != message) message_.set_text(message);
    message_.set_visible(model_->messageInFooter());
    stopping_.set_visible(model_->closing.get());
}

void WorkspaceView::showSection(Section section) {
    if (shown_ == section) return;
    const bool first = !shown_.has_value();
    shown_ = section;

    for (std::size_t i = 0; i < rows_.size(); ++i) {
        const bool selected = WindowModel::allSections[i] == section;
        auto& row = rows_[i];
        if (selected) {
            row.add_css_class(selectedClass);
        } else {
            row.remove_css_class(selectedClass);
        }
        describe(row, selected ? selectedDescription : "");
    }
    sectionTitle_.set_text(std::string(rawValue(section)));

    // The web pane stays mapped and drawn under the others; outside its
    // section it is only made invisible and inert.
    const bool web = section == Section::web;
    webHolder_->setSeen(web);
    web_->set_can_target(web);
    web_->set_can_focus(web);
    setHiddenFromAccessibility(*web_, !web);

    if (sectionPane_) {
        pane_.remove_overlay(*sectionPane_);
        sectionPane_ = nullptr;
    }
    if (!web) {
        // Opaque: the web pane under it does not show through.
        auto* holder = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
        holder->set_name(sectionPaneName);
        holder->add_css_class(paneClass);
        Gtk::Widget& view = makePane(section);
        view.set_hexpand(true);
        view.set_vexpand(true);
        holder->append(view);
        sectionPane_ = holder;
        pane_.add_overlay(*sectionPane_);
    }

    if (first) return;
    // The menu commands depend on the current window's section.
    windows_.changed.emit();
    // No field of the previous section keeps the keyboard.
    if (Gtk::Window* window = windows_.platformWindow(model_->id)) window->unset_focus();
}

Gtk::Widget& WorkspaceView::makePane(Section section) {
    switch (section) {
        case Section::history: {
            // The window set reopens a page of the history in a tab.
            return *Gtk::make_managed<HistoryView>(&windows_, true);
        }
        case Section::settings: return makeSettingsSection(model_->services, std::make_shared<WorkspacePrivacyWindows>(windows_));
        case Section::ocr: return *Gtk::make_managed<OCRProductView>(model_->queue, model_->services.settings);
        case Section::web: break;
    }
    // Never asked: the web pane is the overlay's main child.
    return *Gtk::make_managed<Gtk::Box>();
}

}  // namespace velmora
