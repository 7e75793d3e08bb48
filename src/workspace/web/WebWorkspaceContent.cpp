#include "workspace/web/WebWorkspaceContent.hpp"

#include <gtk/gtk.h>
#include <glibmm/main.h>
#include <gtkmm/button.h>
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/image.h>
#include <gtkmm/root.h>
#include <gtkmm/overlay.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/snapshot.h>
#include <gtkmm/spinner.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <stdexcept>
#include <vector>

#include "gui/PanelDivider.hpp"
#include "gui/StatusPage.hpp"
#include "webcapture/NavigationPolicy.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/WindowModel.hpp"
#include "workspace/web/BrowserDownloadList.hpp"
#include "workspace/web/CapturePanel.hpp"
#include "workspace/web/CaptureStatusRow.hpp"
#include "workspace/web/OtherTabSaveStrips.hpp"
#include "workspace/web/WebPaneRules.hpp"
#include "workspace/web/WebSurface.hpp"
#include "workspace/web/WebWorkspaceStyle.hpp"

namespace velmora {

namespace {

using Panel = AppPreferences::Panel;

void measureChild(Gtk::Widget& child, Gtk::Orientation orientation, int forSize, int& minimum, int& natural) {
    int minimumBaseline = -1, naturalBaseline = -1;
    child.measure(orientation, forSize, minimum, natural, minimumBaseline, naturalBaseline);
}

// Every tab's surface on top of one another, each at the size its own
// request gives it (WebArea sets it), centred in the stack. The stack is as
// large as its largest surface, so a page wider than the area scrolls.
//
// Only the shown surface is seen, but every surface is drawn: the others
// at no opacity. A widget of opacity 0 is skipped by the toolkit altogether,
// and a web view that is never drawn gets no frames from its engine, so a
// save running in a background tab would wait for one forever.
class SurfaceStack : public Gtk::Widget {
public:
    SurfaceStack() : Glib::ObjectBase("VelmoraSurfaceStack") { set_overflow(Gtk::Overflow::HIDDEN); }

    void setShown(Gtk::Widget* shown) {
        if (shown == shown_) return;
        shown_ = shown;
        queue_draw();
    }
    Gtk::Widget* shown() const noexcept { return shown_; }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

    void measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override {
        minimum = natural = 0;
        minimumBaseline = naturalBaseline = -1;
        auto* self = const_cast<SurfaceStack*>(this);
        for (Gtk::Widget* child = self->get_first_child(); child; child = child->get_next_sibling()) {
            if (!child->get_visible()) continue;
            int childMinimum = 0, childNatural = 0;
            measureChild(*child, orientation, -1, childMinimum, childNatural);
            minimum = std::max(minimum, childMinimum);
            natural = std::max(natural, childMinimum);
        }
    }

    void size_allocate_vfunc(int width, int height, int) override {
        for (Gtk::Widget* child = get_first_child(); child; child = child->get_next_sibling()) {
            if (!child->get_visible()) continue;
            int minimumWidth = 0, naturalWidth = 0, minimumHeight = 0, naturalHeight = 0;
            measureChild(*child, Gtk::Orientation::HORIZONTAL, -1, minimumWidth, naturalWidth);
            measureChild(*child, Gtk::Orientation::VERTICAL, -1, minimumHeight, naturalHeight);
            // A surface is laid out at its requested size, never stretched
            // to the area: its page width is the capture's width.
            const Gtk::Allocation allocation(std::max((width - minimumWidth) / 2, 0),
                                             std::max((height - minimumHeight) / 2, 0), minimumWidth, minimumHeight);
            child->size_allocate(allocation, -1);
        }
    }

    void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override {
        GtkSnapshot* raw = snapshot->gobj();
        for (Gtk::Widget* child = get_first_child(); child; child = child->get_next_sibling()) {
            if (child == shown_) continue;
            gtk_snapshot_push_opacity(raw, 0);
            snapshot_child(*child, snapshot);
            gtk_snapshot_pop(raw);
        }
        if (shown_ && shown_->get_parent() == this) snapshot_child(*shown_, snapshot);
    }

private:
    Gtk::Widget* shown_ = nullptr;
};

}  // namespace

// --- The web area: a horizontally scrolling view of the surfaces.

class WebWorkspaceContent::WebArea : public Gtk::ScrolledWindow {
public:
    explicit WebArea(std::shared_ptr<WindowModel> model) : model_(std::move(model)) {
        set_name(webAreaName);
        // Sideways the area scrolls for a page wider than the pane.
        // Downwards each page scrolls itself; only an area lower than the
        // 240 a page is always given scrolls down to the rest of it.
        set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
        add_css_class("view");
        set_child(stack_);
    }

    ~WebArea() override {
        for (auto& [id, surface] : surfaces_) surface->unparent();
    }

    // The area's size, as the split gives it.
    void setArea(int width, int height) {
        if (width == areaWidth_ && height == areaHeight_) return;
        areaWidth_ = width;
        areaHeight_ = height;
        resize();
    }

    // The surfaces after a change of the window: one per tab in tab order,
    // the selected one seen and (while its page is not saving) targetable.
    void sync() {
        const auto& tabs = model_->tabs.get();
        const auto& selected = model_->selectedTab();
        // Tabs that left take their surfaces with them: unparenting a
        // surface gives its frame back to the session.
        for (auto it = surfaces_.begin(); it != surfaces_.end();) {
            const bool listed =
                std::any_of(tabs.begin(), tabs.end(), [&](const auto& tab) { return tab->id == it->first; });
            if (listed) {
                ++it;
                continue;
            }
            if (stack_.shown() == it->second) stack_.setShown(nullptr);
            it->second->unparent();
            it = surfaces_.erase(it);
        }
        Gtk::Widget* previous = nullptr;
        for (const auto& tab : tabs) {
            WebSurface*& surface = surfaces_[tab->id];
            if (!surface) {
                try {
                    surface = Gtk::make_managed<WebSurface>(tab->browser);
                } catch (const std::logic_error&) {
                    // The tab's frame is still placed by another view of the
                    // window; it joins the pane at the first change after
                    // that view has let it go. (Thrown on, it would leave
                    // the model's signal half-delivered.)
                    surfaces_.erase(tab->id);
                    continue;
                }
            }
            // In tab order; a surface already in its place is left alone.
            if (surface->get_parent() != &stack_ || surface->get_prev_sibling() != previous) {
                if (previous) surface->insert_after(stack_, *previous);
                else surface->insert_at_start(stack_);
            }
            previous = surface;
            const bool shown = tab == selected;
            const bool input = shown && !tab->browser->hasPendingOperation();
            if (shown) stack_.setShown(surface);
            surface->set_can_target(input);
            surface->set_can_focus(input);
            gtk_accessible_update_state(GTK_ACCESSIBLE(surface->gobj()), GTK_ACCESSIBLE_STATE_HIDDEN, !shown, -1);
        }
        resize();
    }

    Gtk::Widget* surface(const UUID& tabID) const {
        auto it = surfaces_.find(tabID);
        return it == surfaces_.end() ? nullptr : it->second;
    }
    Gtk::Widget* shownSurface() const { return stack_.shown(); }

private:
    void resize() {
        if (areaWidth_ < 0) return;
        for (const auto& tab : model_->tabs.get()) {
            auto it = surfaces_.find(tab->id);
            if (it == surfaces_.end()) continue;
            const Size size = WebPaneRules::surfaceSize(tab->lockedSize.get(), model_->widthMode.get(),
                                                        model_->customWidth.get(), model_->mobileWidth.get(),
                                                        areaWidth_, areaHeight_);
            const int width = static_cast<int>(std::lround(size.width));
            const int height = static_cast<int>(std::lround(size.height));
            int requestedWidth = -1, requestedHeight = -1;
            it->second->get_size_request(requestedWidth, requestedHeight);
            if (requestedWidth != width || requestedHeight != height) it->second->set_size_request(width, height);
        }
    }

    std::shared_ptr<WindowModel> model_;
    SurfaceStack stack_;
    std::map<UUID, WebSurface*> surfaces_;
    int areaWidth_ = -1;
    int areaHeight_ = -1;
};

// --- The split area: the web area, the divider and the control panel.

class WebWorkspaceContent::SplitArea : public Gtk::Widget {
public:
    // rows: the rows over the page (the pane's own box); foot: the download
    // list at the page's foot. The split places them.
    SplitArea(std::shared_ptr<WindowModel> model, Gtk::Widget& rows, Gtk::Widget& foot)
        : Glib::ObjectBase("VelmoraWebSplitArea"), model_(std::move(model)), rows_(&rows), foot_(&foot) {
        set_name(splitName);
        set_hexpand(true);
        set_vexpand(true);
        installStateColours();
        web_ = Gtk::make_managed<WebArea>(model_);
        // Over the web area while the selected tab has no page: the icon
        // and sentence of that state in its centre, the way the desktop's
        // applications show an empty view, not the web view's blank white.
        // Only as large as its content: the blank view around it stays as
        // it is drawn, and a new tab's frame draws no more than that.
        emptyPage_ = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 12);
        emptyPage_->set_name(emptyPageName);
        emptyPage_->set_halign(Gtk::Align::CENTER);
        emptyPage_->set_valign(Gtk::Align::CENTER);
        emptyPage_->set_can_target(false);
        auto* icon = Gtk::make_managed<Gtk::Image>();
        icon->set_from_icon_name("web-browser-symbolic");
        icon->set_pixel_size(64);
        icon->add_css_class("dim-label");
        auto* sentence = Gtk::make_managed<Gtk::Label>(BrowserSession::initialStage);
        sentence->add_css_class("title-3");
        sentence->add_css_class("dim-label");
        emptyPage_->append(*icon);
        emptyPage_->append(*sentence);
        // Over the whole web area after a failed load: the failure, in the
        // error colours of every refusal, and the address that failed. It
        // covers the page the view may have kept from before, which is not
        // what the tab shows.
        failedPage_ = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
        failedPage_->set_name(failedPageName);
        failedPage_->add_css_class("view");
        failedPage_->set_visible(false);
        failure_ = Gtk::make_managed<StatusPage>();
        failure_->set_name(failedSentenceName);
        failure_->set_vexpand(false);
        failure_->show("dialog-error-symbolic", NavigationNotice::failed, StatusPage::Tone::error);
        failedAddress_ = Gtk::make_managed<Gtk::Label>();
        failedAddress_->set_name(failedAddressName);
        failedAddress_->set_use_markup(false);
        failedAddress_->set_selectable(true);
        failedAddress_->set_wrap(true);
        failedAddress_->set_wrap_mode(Pango::WrapMode::CHAR);
        failedAddress_->set_max_width_chars(60);
        failedAddress_->set_justify(Gtk::Justification::CENTER);
        failedAddress_->add_css_class("dim-label");
        auto* failedColumn = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 4);
        failedColumn->set_valign(Gtk::Align::CENTER);
        failedColumn->set_vexpand(true);
        // The same page says that the page's process ended, with the way to
        // load it again.
        endedReload_ = Gtk::make_managed<Gtk::Button>(WebPaneRules::reloadLabel);
        endedReload_->set_name(endedReloadName);
        endedReload_->set_halign(Gtk::Align::CENTER);
        endedReload_->set_margin_top(12);
        endedReload_->set_visible(false);
        endedReload_->signal_clicked().connect([this] { model_->reload(); });
        failedColumn->append(*failure_);
        failedColumn->append(*failedAddress_);
        failedColumn->append(*endedReload_);
        failedPage_->append(*failedColumn);
        // The navigation notice at the page's foot, over the page: its
        // coming and going moves nothing (a row above the page would push
        // the page down at every load and back up at its end).
        notice_ = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 6);
        notice_->set_name(noticeBoxName);
        notice_->add_css_class(WebWorkspaceStyle::pageNoticeClass);
        notice_->set_halign(Gtk::Align::START);
        notice_->set_valign(Gtk::Align::END);
        notice_->set_can_target(false);
        notice_->set_visible(false);
        noticeText_ = Gtk::make_managed<Gtk::Label>();
        noticeText_->set_name(noticeName);
        noticeText_->set_use_markup(false);
        noticeText_->set_wrap(true);
        noticeText_->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
        noticeText_->set_xalign(0);
        spinner_ = Gtk::make_managed<Gtk::Spinner>();
        notice_->append(*spinner_);
        notice_->append(*noticeText_);
        webLayer_ = Gtk::make_managed<Gtk::Overlay>();
        webLayer_->set_child(*web_);
        webLayer_->add_overlay(*emptyPage_);
        webLayer_->add_overlay(*failedPage_);
        webLayer_->add_overlay(*notice_);
        divider_ = Gtk::make_managed<PanelDivider>();
        divider_->set_name(dividerName);
        panelBox_ = Gtk::make_managed<Gtk::Box>();
        panelBox_->set_name(panelBoxName);
        panelBox_->add_css_class("background");
        panel_ = Gtk::make_managed<CapturePanel>(model_);
        panel_->set_hexpand(true);
        panel_->set_vexpand(true);
        panelBox_->append(*panel_);
        rows_->set_parent(*this);
        webLayer_->set_parent(*this);
        foot_->set_parent(*this);
        divider_->set_parent(*this);
        panelBox_->set_parent(*this);
        // A managed split is disposed by the toolkit before its C++ side
        // goes: the children are let go then.
        signal_destroy().connect([this] { release(); });
    }

    ~SplitArea() override {
        if (gobj()) release();
    }

    WebArea& web() noexcept { return *web_; }
    double panelSize() const noexcept { return panelSize_; }

    void sync() {
        if (!web_) return;
        const Panel panel = model_->panel.get();
        const double preferred = this->preferred();
        if (panel != shownPanel_ || preferred != shownPreferred_) {
            shownPanel_ = panel;
            shownPreferred_ = preferred;
            queue_allocate();
        }
        web_->sync();
        const auto& session = *model_->selectedTab()->browser;
        const bool loading = session.loading.get();
        using PageState = WebPaneRules::PageState;
        const auto state = WebPaneRules::pageState(session.currentURL->has_value(), loading,
                                                   session.failedURL->has_value(), session.endedURL->has_value());
        setVisible(*emptyPage_, state == PageState::empty);
        setVisible(*failedPage_, state == PageState::failed || state == PageState::ended);
        if (state == PageState::failed || state == PageState::ended) {
            const bool ended = state == PageState::ended;
            if (ended != showsEnded_) {
                showsEnded_ = ended;
                if (ended) failure_->show("dialog-warning-symbolic", WebPaneRules::endedPage, StatusPage::Tone::warning);
                else failure_->show("dialog-error-symbolic", NavigationNotice::failed, StatusPage::Tone::error);
            }
            setVisible(*endedReload_, ended);
            const std::string& address = ended ? *session.endedURL.get() : *session.failedURL.get();
            if (failedAddress_->get_text().raw() != address) failedAddress_->set_text(address);
        }
        const auto notice = WebPaneRules::pageNotice(session.navigationNotice.get(), state, loading);
        setVisible(*notice_, notice.has_value());
        if (notice) {
            if (noticeText_->get_text().raw() != notice->text) noticeText_->set_text(notice->text);
            setVisible(*spinner_, notice->loading);
            if (spinner_->get_spinning() != notice->loading) spinner_->set_spinning(notice->loading);
        } else if (spinner_->get_spinning()) {
            spinner_->set_spinning(false);
        }
        updateDivider();
    }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

    void measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override {
        minimumBaseline = naturalBaseline = -1;
        minimum = natural = 0;
        if (!web_) return;
        const bool right = model_->panel.get() == Panel::right;
        const bool horizontal = orientation == Gtk::Orientation::HORIZONTAL;
        int rowsMinimum = 0, rowsNatural = 0, webMinimum = 0, webNatural = 0, footMinimum = 0, footNatural = 0;
        measureChild(*rows_, orientation, -1, rowsMinimum, rowsNatural);
        measureChild(*webLayer_, orientation, -1, webMinimum, webNatural);
        if (foot_->get_visible()) measureChild(*foot_, orientation, -1, footMinimum, footNatural);
        rowsMinimum = horizontal ? std::max(rowsMinimum, footMinimum) : rowsMinimum + footMinimum;
        rowsNatural = horizontal ? std::max(rowsNatural, footNatural) : rowsNatural + footNatural;
        // The web part: the rows over the page.
        int partMinimum = horizontal ? std::max(rowsMinimum, webMinimum) : rowsMinimum + webMinimum;
        int partNatural = horizontal ? std::max(rowsNatural, webNatural) : rowsNatural + webNatural;
        const bool along = horizontal == right;
        minimum = partMinimum;
        natural = partNatural;
        for (Gtk::Widget* child : {static_cast<Gtk::Widget*>(divider_), static_cast<Gtk::Widget*>(panelBox_)}) {
            int childMinimum = 0, childNatural = 0;
            measureChild(*child, orientation, -1, childMinimum, childNatural);
            if (along) {
                minimum += childMinimum;
                natural += childNatural;
            } else {
                minimum = std::max(minimum, childMinimum);
                natural = std::max(natural, childNatural);
            }
        }
    }

    void size_allocate_vfunc(int width, int height, int) override {
        if (!web_) return;
        const Panel panel = model_->panel.get();
        const bool right = panel == Panel::right;
        available_ = right ? width : height;
        const double windowHeight = this->windowHeight();
        // The rows are measured at the width they get: a wrapped sentence
        // or a download's reason takes the lines it needs there.
        const int rowsWidth = right ? WebPaneRules::split(preferred(), width, panel).web : width;
        int rowsMinimum = 0, rowsNatural = 0, footMinimum = 0, footNatural = 0;
        if (rows_->get_visible()) measureChild(*rows_, Gtk::Orientation::VERTICAL, rowsWidth, rowsMinimum, rowsNatural);
        if (foot_->get_visible()) measureChild(*foot_, Gtk::Orientation::VERTICAL, rowsWidth, footMinimum, footNatural);
        const auto column = WebPaneRules::column({.panel = panel,
                                                  .width = static_cast<double>(width),
                                                  .height = static_cast<double>(height),
                                                  .preferred = preferred(),
                                                  .windowHeight = windowHeight,
                                                  .rowsMinimum = rowsMinimum + footMinimum,
                                                  .rowsNatural = rowsNatural + footNatural});
        const auto& split = column.split;
        // The rows over the page and the list at its foot share the rows'
        // height: both whole, or both at their least.
        const int over = column.rows >= rowsNatural + footNatural ? rowsNatural : std::min(rowsMinimum, column.rows);
        const int under = column.rows - over;
        panelSize_ = split.panel;
        // The drag is clamped against the page's floor under the rows.
        floor_ = right ? 0 : WebPaneRules::pageFloor(windowHeight) + column.rows;
        // The split's own sizes win over the children's wishes.
        if (right) {
            web_->setArea(split.web, column.page);
            place(*rows_, {0, 0, split.web, over});
            place(*webLayer_, {0, over, split.web, column.page});
            place(*foot_, {0, over + column.page, split.web, under});
            place(*divider_, {split.web, 0, split.divider, height});
            place(*panelBox_, {split.web + split.divider, 0, split.panel, height});
        } else {
            // The panel at the bottom stops between two of its rows, never
            // through one: what it cannot show whole goes to the page.
            const int panelLength = static_cast<int>(split.panel);
            const int shown = panelLength > 0 ? panel_->wholeRows(panelLength) : 0;
            const int page = column.page + panelLength - shown;
            const int divider = static_cast<int>(split.divider);
            web_->setArea(width, page);
            place(*rows_, {0, 0, width, over});
            place(*webLayer_, {0, over, width, page});
            place(*foot_, {0, over + page, width, under});
            place(*divider_, {0, over + page + under, width, divider});
            place(*panelBox_, {0, over + page + under + divider, width, shown});
            // Placed at a new width, the rows may stand elsewhere than this
            // layout found them.
            if (panelLength > 0 && panel_->wholeRows(panelLength) != shown && !relayout_.connected()) {
                relayout_ = Glib::signal_idle().connect([this] {
                    queue_allocate();
                    return false;
                });
            }
        }
        updateDivider();
    }

private:
    static void setVisible(Gtk::Widget& widget, bool visible) {
        if (widget.get_visible() != visible) widget.set_visible(visible);
    }

    void release() {
        for (Gtk::Widget* child : {rows_, foot_, static_cast<Gtk::Widget*>(webLayer_), static_cast<Gtk::Widget*>(divider_),
                                   static_cast<Gtk::Widget*>(panelBox_)}) {
            if (child && child->get_parent() == this) child->unparent();
        }
        relayout_.disconnect();
        rows_ = nullptr;
        foot_ = nullptr;
        panel_ = nullptr;
        webLayer_ = nullptr;
        emptyPage_ = nullptr;
        failedPage_ = nullptr;
        notice_ = nullptr;
        web_ = nullptr;
        divider_ = nullptr;
        panelBox_ = nullptr;
    }

    // The height of the window the split stands in, as the user sees it:
    // its surface, the frame the toolkit draws around its content included;
    // its content's height while it has none.
    double windowHeight() {
        GtkRoot* root = gtk_widget_get_root(GTK_WIDGET(gobj()));
        if (!root) return 0;
        if (GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(root))) {
            const int height = gdk_surface_get_height(surface);
            if (height > 0) return height;
        }
        return gtk_widget_get_height(GTK_WIDGET(root));
    }

    double preferred() const {
        return model_->panel.get() == Panel::right ? model_->rightPanelPreferredWidth.get()
                                                   : model_->bottomPanelPreferredHeight.get();
    }

    // Every child is measured before it is placed, as the toolkit requires;
    // a hidden one is left as it is.
    static void place(Gtk::Widget& child, Gtk::Allocation allocation) {
        if (!child.get_visible()) return;
        int minimum = 0, natural = 0;
        measureChild(child, Gtk::Orientation::HORIZONTAL, -1, minimum, natural);
        measureChild(child, Gtk::Orientation::VERTICAL, allocation.get_width(), minimum, natural);
        child.size_allocate(allocation, -1);
    }

    void updateDivider() {
        const bool right = model_->panel.get() == Panel::right;
        const bool enabled = WebPaneRules::dividerEnabled(model_->webSaving(), model_->closing.get());
        const double size = panelSize_ > 0 ? panelSize_ : preferred();
        const auto& drag = divider_->drag();
        if (drag.vertical == right && drag.enabled == enabled && drag.panelSize == size && drag.changed) return;
        divider_->update({right, enabled, size, PanelDivider::defaultLabel,
                          [this](double proposed, bool finished) { dragged(proposed, finished); }});
    }

    void dragged(double proposed, bool finished) {
        const Panel panel = model_->panel.get();
        const auto size =
            WebPaneRules::draggedSize(proposed, available_, panel, model_->webSaving(), model_->closing.get(), floor_);
        if (!size) return;
        if (panel == Panel::right) model_->rightPanelPreferredWidth = *size;
        else model_->bottomPanelPreferredHeight = *size;
        // Only where the drag ends is kept: the steps between would each
        // rewrite the preferences file.
        if (!finished) return;
        auto& settings = model_->services.settings;
        if (panel == Panel::right) settings.update(&AppPreferences::rightPanelPreferredWidth, *size);
        else settings.update(&AppPreferences::bottomPanelPreferredHeight, *size);
    }

    std::shared_ptr<WindowModel> model_;
    Gtk::Widget* rows_ = nullptr;
    Gtk::Widget* foot_ = nullptr;
    WebArea* web_ = nullptr;
    // The web area with the empty page, the failure and the notice over it.
    Gtk::Overlay* webLayer_ = nullptr;
    Gtk::Box* emptyPage_ = nullptr;
    Gtk::Box* failedPage_ = nullptr;
    StatusPage* failure_ = nullptr;
    Gtk::Label* failedAddress_ = nullptr;
    Gtk::Button* endedReload_ = nullptr;
    // The failure's page says that the page's process ended.
    bool showsEnded_ = false;
    Gtk::Box* notice_ = nullptr;
    Gtk::Label* noticeText_ = nullptr;
    Gtk::Spinner* spinner_ = nullptr;
    PanelDivider* divider_ = nullptr;
    Gtk::Box* panelBox_ = nullptr;
    CapturePanel* panel_ = nullptr;
    // A layout again once the panel's rows stand where this one found them.
    sigc::connection relayout_;
    std::optional<Panel> shownPanel_;
    double shownPreferred_ = -1;
    // The split's length at the last layout: the drag is clamped against
    // the length the divider was placed in.
    double available_ = 0;
    // What the drag keeps above the panel at the bottom: the rows and the
    // page's half of the window.
    double floor_ = 0;
    double panelSize_ = 0;
};

// --- The pane.

namespace {

void iconButton(Gtk::Button& button, const char* name, const char* icon, const char* tooltip) {
    button.set_name(name);
    button.set_icon_name(icon);
    button.set_tooltip_text(tooltip);
    gtk_accessible_update_property(GTK_ACCESSIBLE(button.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, tooltip, -1);
}

void noteLabel(Gtk::Label& label, const char* name) {
    label.set_name(name);
    label.add_css_class("caption");
    label.set_use_markup(false);
    label.set_wrap(true);
    label.set_xalign(0);
    label.set_margin_start(12);
    label.set_margin_end(12);
    label.set_margin_top(4);
    label.set_margin_bottom(4);
}

}  // namespace

WebWorkspaceContent::WebWorkspaceContent(std::shared_ptr<WindowModel> model, DesktopActions& desktop)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 0), model_(std::move(model)), desktop_(desktop) {
    WebWorkspaceStyle::install();
    // The request present when the pane is first shown is not one to act on.
    focusRequest_ = model_->addressFocusRequest.get();

    addressBar_.set_name(addressBarName);
    addressBar_.add_css_class(WebWorkspaceStyle::addressBarClass);
    iconButton(back_, backName, "go-previous-symbolic", "戻る");
    iconButton(forward_, forwardName, "go-next-symbolic", "進む");
    iconButton(reload_, reloadName, "view-refresh-symbolic", "再読み込み");
    iconButton(stop_, stopName, "process-stop-symbolic", "読み込みを停止");
    address_.set_name(addressName);
    address_.set_placeholder_text(addressPlaceholder);
    address_.set_hexpand(true);
    open_.set_name(openName);
    for (Gtk::Widget* child : std::initializer_list<Gtk::Widget*>{&back_, &forward_, &reload_, &stop_, &address_, &open_}) {
        child->set_valign(Gtk::Align::CENTER);
        addressBar_.append(*child);
    }
    append(addressBar_);

    // The rows over the page, in the page's column: beside the panel on the
    // right (which keeps its place whatever comes and goes here), over the
    // page and the panel at the bottom.
    rows_ = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    rows_->set_name(rowsName);
    hint_ = Gtk::make_managed<Gtk::Label>(restoredHint);
    noteLabel(*hint_, hintName);
    rows_->append(*hint_);
    downloadPDF_ = Gtk::make_managed<Gtk::Button>(downloadPDFLabel);
    downloadPDF_->set_name(downloadPDFName);
    downloadPDF_->set_halign(Gtk::Align::START);
    downloadPDF_->set_margin_start(12);
    downloadPDF_->set_margin_top(4);
    downloadPDF_->set_margin_bottom(4);
    rows_->append(*downloadPDF_);
    status_ = Gtk::make_managed<CaptureStatusRow>(model_, desktop_);
    rows_->append(*status_);
    strips_ = Gtk::make_managed<OtherTabSaveStrips>(model_);
    rows_->append(*strips_);
    downloads_ = Gtk::make_managed<BrowserDownloadList>(model_->selectedTab(), desktop_);
    // The downloads at the page's foot: the list appears, grows and folds
    // away from the page, whose top, and what is under the pointer, stays.
    split_ = Gtk::make_managed<SplitArea>(model_, *rows_, *downloads_);
    append(*split_);

    // The web view operations go to the session selected when they run.
    back_.signal_clicked().connect([this] { webkit_web_view_go_back(model_->browser().webView()); });
    forward_.signal_clicked().connect([this] { webkit_web_view_go_forward(model_->browser().webView()); });
    reload_.signal_clicked().connect([this] { webkit_web_view_reload(model_->browser().webView()); });
    stop_.signal_clicked().connect([this] { model_->browser().stopNavigation(); });
    open_.signal_clicked().connect([this] { model_->navigate(); });
    address_.signal_activate().connect([this] { model_->navigate(); });
    address_.signal_changed().connect([this] {
        if (syncingAddress_) return;
        const std::string text = address_.get_text();
        if (text != model_->address()) model_->setAddress(text);
    });
    downloadPDF_->signal_clicked().connect([this] { model_->browser().saveDisplayedPDF(); });
    auto focus = Gtk::EventControllerFocus::create();
    focus->signal_enter().connect([this] { focusChanged(true); });
    focus->signal_leave().connect([this] { focusChanged(false); });
    address_.add_controller(focus);

    observation_ = model_->changed.connect([this] { sync(); });
    // A managed pane's parts go when the toolkit disposes of it, before its
    // C++ side: from then on the model's changes are not followed.
    signal_destroy().connect([this] { observation_.disconnect(); });
    sync();
}

WebWorkspaceContent::~WebWorkspaceContent() {
    observation_.disconnect();
    // The field's focus leaves with the pane: the tab is no longer edited.
    if (auto tab = editing_.lock()) {
        editing_.reset();
        tab->editingAddress = false;
    }
}

Gtk::Widget* WebWorkspaceContent::surface(const UUID& tabID) const { return split_->web().surface(tabID); }

Gtk::Widget* WebWorkspaceContent::shownSurface() const { return split_->web().shownSurface(); }

double WebWorkspaceContent::panelSize() const { return split_->panelSize(); }

void WebWorkspaceContent::sync() {
    const auto& tab = model_->selectedTab();
    const BrowserSession& session = *tab->browser;

    const auto bar = WebPaneRules::addressBar({.pending = session.hasPendingOperation(),
                                               .closing = model_->closing.get(),
                                               .canGoBack = session.canGoBack.get(),
                                               .canGoForward = session.canGoForward.get(),
                                               .loading = session.loading.get()});
    if (!bar.row && addressBar_.get_sensitive()) {
        // The field that holds the focus gives it up first, as a click
        // elsewhere would: made insensitive with it, its caret would go on
        // blinking without the focus.
        if (Gtk::Root* root = get_root()) {
            Gtk::Widget* focus = root->get_focus();
            if (focus && focus->is_ancestor(addressBar_)) root->unset_focus();
        }
    }
    addressBar_.set_sensitive(bar.row);
    back_.set_sensitive(bar.back);
    forward_.set_sensitive(bar.forward);
    stop_.set_sensitive(bar.stop);
    syncAddress();

    hint_->set_visible(tab->deferredURL->has_value());
    downloadPDF_->set_visible(session.displayedPDF.get());

    downloads_->show(tab);
    split_->sync();

    // The field keeps marking the tab it edits: another tab selected while
    // it has the focus is now the one edited.
    if (focused_) {
        auto editing = editing_.lock();
        if (editing != tab) {
            editing_ = tab;
            if (editing) editing->editingAddress = false;
            tab->editingAddress = true;
        }
    }

    const UUID request = model_->addressFocusRequest.get();
    if (request != focusRequest_) {
        focusRequest_ = request;
        address_.grab_focus();
    }
}

void WebWorkspaceContent::syncAddress() {
    const std::string& text = model_->address();
    if (address_.get_text().raw() == text) return;
    syncingAddress_ = true;
    address_.set_text(text);
    syncingAddress_ = false;
}

void WebWorkspaceContent::focusChanged(bool focused) {
    focused_ = focused;
    auto editing = editing_.lock();
    if (focused) {
        const auto& tab = model_->selectedTab();
        editing_ = tab;
        if (editing && editing != tab) editing->editingAddress = false;
        tab->editingAddress = true;
        return;
    }
    editing_.reset();
    if (editing) editing->editingAddress = false;
}

}  // namespace velmora
