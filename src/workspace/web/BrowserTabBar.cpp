#include "workspace/web/BrowserTabBar.hpp"

#include <glibmm/main.h>
#include <gtk/gtk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/gestureclick.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/popovermenu.h>

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

#include "workspace/model/WebWorkspaceRules.hpp"
#include "workspace/model/WindowModel.hpp"
#include "workspace/web/WebWorkspaceStyle.hpp"

namespace velmora {

namespace {

constexpr int listWidth = 95;

// Holds one child at a width between two bounds: at least the lower one,
// and never wider than the upper one however long the child's text, which
// the child then cuts to fit. The marks inside the child that are shown
// widen the upper bound by their own width: they never take a title's room.
class WidthClamp final : public Gtk::Widget {
public:
    WidthClamp(Gtk::Widget& child, int minimum, int maximum, std::vector<Gtk::Widget*> marks)
        : Glib::ObjectBase("VelmoraWidthClamp"),
          child_(&child),
          minimum_(minimum),
          maximum_(maximum),
          marks_(std::move(marks)) {
        child.insert_at_end(*this);
        // A managed widget's C++ side goes only when its object is
        // finalized, after the toolkit has disposed of it: the child is let
        // go as it is disposed.
        signal_destroy().connect([this] { unparentChild(); });
    }
    ~WidthClamp() override {
        if (gobj()) unparentChild();
    }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

    void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override {
        child_->measure(orientation, forSize, minimum, natural, minimumBaseline, naturalBaseline);
        if (orientation != Gtk::Orientation::HORIZONTAL) return;
        int marks = 0;
        for (Gtk::Widget* mark : marks_) {
            if (!mark->get_visible()) continue;
            int markMinimum = 0, markNatural = 0, ignored = -1, ignoredNatural = -1;
            mark->measure(orientation, -1, markMinimum, markNatural, ignored, ignoredNatural);
            marks += markNatural;
        }
        const int maximum = maximum_ + marks;
        minimum = std::clamp(minimum, minimum_, maximum);
        natural = std::clamp(natural, minimum, maximum);
        minimumBaseline = naturalBaseline = -1;
    }

    void size_allocate_vfunc(int width, int height, int baseline) override {
        child_->size_allocate(Gtk::Allocation(0, 0, width, height), baseline);
    }

private:
    void unparentChild() {
        if (GtkWidget* child = gtk_widget_get_first_child(GTK_WIDGET(gobj()))) gtk_widget_unparent(child);
    }

    Gtk::Widget* child_;
    const int minimum_;
    const int maximum_;
    const std::vector<Gtk::Widget*> marks_;
};

// The width of the fewest characters a title shows, and its "…", in the
// label's font: wide (ideographic) characters, the widest a title has.
// Measured once: every title of the bar has the same font.
int titleMinimumWidth(Gtk::Label& label) {
    static int width = -1;
    if (width >= 0) return width;
    std::string text;
    for (int i = 0; i < WebWorkspaceRules::titleMinimumCharacters; ++i) text += "国";
    text += "…";
    int height = 0;
    label.create_pango_layout(text)->get_pixel_size(width, height);
    return width;
}

Glib::RefPtr<Gio::MenuItem> menuItem(const std::string& label, const std::string& action,
                                     const std::optional<std::string>& target = std::nullopt) {
    auto item = Gio::MenuItem::create(label, "");
    const std::string detailed = std::string(BrowserTabBar::actionPrefix) + "." + action;
    if (target) item->set_action_and_target(detailed, Glib::Variant<Glib::ustring>::create(*target));
    else item->set_action(detailed);
    return item;
}

}  // namespace

// One tab: its select button (icon and text, cut to fit) and its close
// button on the rounded background, with the context menu that moves it.
class BrowserTabBar::Item final : public Gtk::Box {
public:
    Item(const UUID& tabID, BrowserTabBar& bar)
        : Gtk::Box(Gtk::Orientation::HORIZONTAL, 3),
          clamp_(*Gtk::make_managed<WidthClamp>(content_, WebWorkspaceRules::tabMinimumWidth,
                                                WebWorkspaceRules::tabMaximumWidth,
                                                std::vector<Gtk::Widget*>{&privateMark_, &busy_})) {
        const std::string id = tabID.text();
        set_name(nameFor(itemPrefix, tabID));
        add_css_class(WebWorkspaceStyle::tabClass);

        label_.set_use_markup(false);
        label_.set_single_line_mode(true);
        label_.set_ellipsize(Pango::EllipsizeMode::END);
        label_.set_xalign(0);
        // Cut as it may be, the title keeps a few characters beside the
        // marks: a narrow tab never shows only its marks.
        label_.set_size_request(titleMinimumWidth(label_), -1);
        // The title's tail (a port) stands whole after the cut head.
        tail_.set_use_markup(false);
        tail_.set_single_line_mode(true);
        tail_.set_xalign(0);
        tail_.set_visible(false);
        privateMark_.set_text(std::string(WebWorkspaceRules::privatePrefix));
        privateMark_.set_visible(false);
        busy_.set_text(std::string(WebWorkspaceRules::busySuffix));
        busy_.set_visible(false);
        text_.append(privateMark_);
        text_.append(label_);
        text_.append(tail_);
        text_.append(busy_);
        content_.append(icon_);
        content_.append(text_);
        select_.set_child(clamp_);
        select_.add_css_class("flat");
        select_.set_name(nameFor(selectPrefix, tabID));
        select_.signal_clicked().connect([&bar, id] {
            bar.tabAction(Glib::Variant<Glib::ustring>::create(id), 0, true);
        });

        close_.set_icon_name("window-close-symbolic");
        close_.set_tooltip_text("このタブを閉じる");
        close_.add_css_class("flat");
        close_.add_css_class(WebWorkspaceStyle::closeClass);
        close_.set_name(nameFor(closePrefix, tabID));
        close_.signal_clicked().connect([&bar, tabID] {
            if (!bar.model_->closing) bar.model_->requestCloseTab(tabID);
        });
        for (Gtk::Widget* child : std::initializer_list<Gtk::Widget*>{&select_, &close_}) {
            child->set_valign(Gtk::Align::CENTER);
            append(*child);
        }

        menu_->append_item(menuItem(moveLeftLabel, moveLeftAction, id));
        menu_->append_item(menuItem(moveRightLabel, moveRightAction, id));
        popover_.set_menu_model(menu_);
        popover_.set_has_arrow(false);
        popover_.set_parent(*this);
        auto click = Gtk::GestureClick::create();
        click->set_button(GDK_BUTTON_SECONDARY);
        click->signal_pressed().connect([this](int, double x, double y) {
            popover_.set_pointing_to(Gdk::Rectangle(static_cast<int>(x), static_cast<int>(y), 1, 1));
            popover_.popup();
        });
        add_controller(click);
        signal_destroy().connect([this] { unparentMenu(); });
    }
    ~Item() override {
        if (gobj()) unparentMenu();
    }

    void update(const std::string& title, bool active, bool isPrivate, bool selected) {
        const WebWorkspaceRules::TitleCut cut = WebWorkspaceRules::titleCut(title);
        if (label_.get_text().raw() != cut.head) label_.set_text(cut.head);
        if (tail_.get_text().raw() != cut.tail) tail_.set_text(cut.tail);
        tail_.set_visible(!cut.tail.empty());
        if (busy_.get_visible() != active) busy_.set_visible(active);
        if (!isPrivate_ || *isPrivate_ != isPrivate) {
            isPrivate_ = isPrivate;
            privateMark_.set_visible(isPrivate);
            icon_.set_from_icon_name(isPrivate ? "changes-prevent-symbolic" : "web-browser-symbolic");
        }
        if (selected_ == selected) return;
        selected_ = selected;
        if (selected) add_css_class(WebWorkspaceStyle::selectedTabClass);
        else remove_css_class(WebWorkspaceStyle::selectedTabClass);
        const std::string value = selected ? std::string(WebWorkspaceRules::selectedValue) : std::string();
        gtk_accessible_update_property(GTK_ACCESSIBLE(select_.gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                       value.c_str(), -1);
    }

    const Glib::RefPtr<Gio::Menu>& menu() const noexcept { return menu_; }
    void openMenu() {
        popover_.set_pointing_to(Gdk::Rectangle(0, get_height() / 2, 1, 1));
        popover_.popup();
    }

private:
    void unparentMenu() {
        if (popover_.gobj() && popover_.get_parent()) popover_.unparent();
    }

    Gtk::Box content_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Image icon_;
    Gtk::Box text_{Gtk::Orientation::HORIZONTAL, 0};
    // The marks stand apart from the title, so that cutting a long title to
    // fit never cuts a mark away.
    Gtk::Label privateMark_;
    Gtk::Label label_;
    Gtk::Label tail_;
    Gtk::Label busy_;
    WidthClamp& clamp_;
    Gtk::Button select_;
    Gtk::Button close_;
    Glib::RefPtr<Gio::Menu> menu_ = Gio::Menu::create();
    Gtk::PopoverMenu popover_;
    std::optional<bool> isPrivate_;
    std::optional<bool> selected_;
};

BrowserTabBar::BrowserTabBar(std::shared_ptr<WindowModel> model)
    : Gtk::Box(Gtk::Orientation::HORIZONTAL, 6), model_(std::move(model)) {
    WebWorkspaceStyle::install();
    set_name(barName);
    set_margin_start(10);
    set_margin_end(10);
    set_margin_top(8);

    row_.set_margin_bottom(8);
    row_.set_valign(Gtk::Align::CENTER);
    scroller_.set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::NEVER);
    scroller_.set_hexpand(true);
    scroller_.set_child(row_);
    // A strip made narrower or wider (the window resized, the row laid out
    // after its window was shown) shows the selected tab again, as a new
    // selection does.
    stripChanged_ = scroller_.get_hadjustment()->signal_changed().connect([this] { revealSelected(); });

    add_.set_icon_name("list-add-symbolic");
    add_.set_tooltip_text("通常タブを追加");
    add_.set_name(addName);
    add_.signal_clicked().connect([this] {
        if (!model_->closing) model_->openTab(false);
    });

    auto* lock = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 4);
    auto* lockIcon = Gtk::make_managed<Gtk::Image>();
    lockIcon->set_from_icon_name("changes-prevent-symbolic");
    lock->append(*lockIcon);
    lock->append(*Gtk::make_managed<Gtk::Label>("私用"));
    private_.set_child(*lock);
    private_.set_tooltip_text("プライベートタブを追加");
    private_.set_name(privateName);
    private_.signal_clicked().connect([this] {
        if (!model_->closing) model_->openTab(true);
    });

    list_.set_label(listLabel);
    list_.set_name(listName);
    list_.set_size_request(listWidth, -1);
    list_.set_menu_model(listMenu_);
    // The list opens on the selected tab's line, not on the first.
    if (Gtk::Popover* popover = list_.get_popover()) {
        // After the popover's own focus, which goes to its first line when
        // it is shown.
        popover->signal_map().connect([this] {
            focusing_.disconnect();
            focusing_ = Glib::signal_idle().connect([this] {
                focusSelectedLine();
                return false;
            });
        });
    }

    for (Gtk::Widget* child : std::initializer_list<Gtk::Widget*>{&scroller_, &add_, &private_, &list_}) {
        child->set_valign(Gtk::Align::CENTER);
        append(*child);
    }

    buildActions();
    insert_action_group(actionPrefix, actions_);
    observation_ = model_->changed.connect([this] { sync(); });
    sync();
}

BrowserTabBar::~BrowserTabBar() {
    stripChanged_.disconnect();
    observation_.disconnect();
    focusing_.disconnect();
    revealing_.disconnect();
}

void BrowserTabBar::buildActions() {
    const Glib::VariantType text("s");
    // Stateful, its state the selected tab's id: "タブ一覧" marks the
    // selected tab's line as the chosen one of a radio group.
    auto select = Gio::SimpleAction::create(selectAction, text, Glib::Variant<Glib::ustring>::create(""));
    select->signal_activate().connect([this](const Glib::VariantBase& id) { tabAction(id, 0, true); });
    actions_->add_action(select);
    actions_->add_action_with_parameter(moveLeftAction, text,
                                        [this](const Glib::VariantBase& id) { tabAction(id, -1, false); });
    actions_->add_action_with_parameter(moveRightAction, text,
                                        [this](const Glib::VariantBase& id) { tabAction(id, 1, false); });
    actions_->add_action(moveSelectedLeftAction, [this] { moveSelected(-1); });
    actions_->add_action(moveSelectedRightAction, [this] { moveSelected(1); });
}

void BrowserTabBar::tabAction(const Glib::VariantBase& parameter, int offset, bool select) {
    if (model_->closing) return;
    std::optional<UUID> tabID;
    try {
        tabID = UUID::parse(Glib::VariantBase::cast_dynamic<Glib::Variant<Glib::ustring>>(parameter).get().raw());
    } catch (const std::bad_cast&) {
        // Not a tab's id text: no tab of this window.
    }
    if (!tabID) return;
    if (select) model_->selectTab(*tabID, true);
    else model_->moveTab(*tabID, offset);
}

void BrowserTabBar::moveSelected(int offset) {
    if (model_->closing) return;
    model_->moveTab(model_->selectedTabID, offset);
}

Glib::RefPtr<Gio::MenuModel> BrowserTabBar::contextMenu(const UUID& tabID) const {
    auto found = items_.find(tabID);
    if (found == items_.end()) return {};
    return found->second->menu();
}

void BrowserTabBar::openContextMenu(const UUID& tabID) {
    auto found = items_.find(tabID);
    if (found != items_.end() && is_sensitive()) found->second->openMenu();
}

void BrowserTabBar::sync() {
    const bool closing = model_->closing;
    if (is_sensitive() == closing) set_sensitive(!closing);
    for (const auto& name : actions_->list_actions()) {
        auto action = std::dynamic_pointer_cast<Gio::SimpleAction>(actions_->lookup_action(name));
        if (action && action->get_enabled() == closing) action->set_enabled(!closing);
    }
    const std::vector<UUID> before = order_;
    syncItems();
    syncMenu();
    // A title that grows moves the item's end as well.
    std::string title = model_->selectedTab()->title();
    if (model_->selectedTabID.get() != revealed_ || order_ != before || title != revealedTitle_) {
        revealedTitle_ = std::move(title);
        revealSelected();
    }
    const std::string selected = model_->selectedTabID.get().text();
    auto select = std::dynamic_pointer_cast<Gio::SimpleAction>(actions_->lookup_action(selectAction));
    if (!select) return;
    GVariant* state = g_action_get_state(G_ACTION(select->gobj()));
    const bool same = state && g_variant_is_of_type(state, G_VARIANT_TYPE_STRING) &&
                      selected == g_variant_get_string(state, nullptr);
    if (state) g_variant_unref(state);
    if (!same) select->set_state(Glib::Variant<Glib::ustring>::create(selected));
}

void BrowserTabBar::syncItems() {
    const auto& tabs = model_->tabs.get();
    const UUID selected = model_->selectedTabID;
    std::vector<UUID> order;
    order.reserve(tabs.size());
    for (const auto& tab : tabs) order.push_back(tab->id);
    // Items whose tab left go.
    for (auto it = items_.begin(); it != items_.end();) {
        if (std::find(order.begin(), order.end(), it->first) == order.end()) {
            row_.remove(*it->second);
            it = items_.erase(it);
        } else {
            ++it;
        }
    }
    for (const auto& tab : tabs) {
        auto& item = items_[tab->id];
        if (!item) item = Gtk::make_managed<Item>(tab->id, *this);
        // The title alone: the item shows the marks beside it.
        item->update(tab->title(), tab->active(), tab->isPrivate(), tab->id == selected);
    }
    if (order == order_) return;
    // The tabs' order: each item after the one before it.
    Gtk::Widget* previous = nullptr;
    for (const auto& id : order) {
        Item* item = items_[id];
        if (item->get_parent()) {
            if (previous) row_.reorder_child_after(*item, *previous);
            else row_.reorder_child_at_start(*item);
        } else {
            if (previous) row_.insert_child_after(*item, *previous);
            else row_.insert_child_at_start(*item);
        }
        previous = item;
    }
    order_ = std::move(order);
}

void BrowserTabBar::revealSelected() {
    revealed_ = model_->selectedTabID.get();
    revealFrames_ = 0;
    if (revealing_.connected()) return;
    // After the frame that lays the row out anew for the change: the
    // frame's layout runs at a higher priority than this idle. A row not
    // laid out yet is looked at again a few times, a little later each.
    // (A tick callback would keep the frame clock pacing its frames, and
    // the new tab would be painted a frame later.)
    revealing_ = Glib::signal_idle().connect([this] {
        if (revealNow()) return false;
        revealing_ = Glib::signal_timeout().connect(
            [this] {
                constexpr int tries = 20;
                return !revealNow() && ++revealFrames_ < tries;
            },
            8);
        return false;
    });
}

bool BrowserTabBar::revealNow() {
    auto found = items_.find(model_->selectedTabID.get());
    if (found == items_.end()) return true;
    Item& item = *found->second;
    auto adjustment = scroller_.get_hadjustment();
    graphene_rect_t bounds{};
    if (!item.get_mapped() || item.get_width() <= 0 || !adjustment ||
        !gtk_widget_compute_bounds(GTK_WIDGET(item.gobj()), GTK_WIDGET(row_.gobj()), &bounds)) {
        return false;
    }
    const double start = bounds.origin.x;
    const double end = start + bounds.size.width;
    // The row not yet laid out with the item inside it.
    if (end > adjustment->get_upper() + 0.5) return false;
    const double offset = WebWorkspaceRules::offsetShowing(adjustment->get_value(), adjustment->get_page_size(),
                                                           adjustment->get_upper(), start, end);
    if (offset != adjustment->get_value()) adjustment->set_value(offset);
    return true;
}

namespace {

// The lines a popover menu draws, in the menu's order.
void menuLines(GtkWidget* widget, std::vector<GtkWidget*>& lines) {
    if (std::string_view(G_OBJECT_TYPE_NAME(widget)) == "GtkModelButton") lines.push_back(widget);
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child))
        menuLines(child, lines);
}

}  // namespace

void BrowserTabBar::focusSelectedLine() {
    Gtk::Popover* popover = list_.get_popover();
    if (!popover) return;
    // The tabs' lines come first, one per tab in the tabs' order (the menu
    // tracker activates them itself, so they name no action to find them
    // by).
    const auto& tabs = model_->tabs.get();
    const UUID selected = model_->selectedTabID;
    const auto at = std::find_if(tabs.begin(), tabs.end(), [&](const auto& tab) { return tab->id == selected; });
    if (at == tabs.end()) return;
    std::vector<GtkWidget*> lines;
    menuLines(GTK_WIDGET(popover->gobj()), lines);
    // A list not yet rebuilt for the tabs as they are now is left alone:
    // one line per tab, then the two moves of the selected tab.
    constexpr std::size_t moves = 2;
    if (lines.size() != tabs.size() + moves) return;
    gtk_widget_grab_focus(lines[static_cast<std::size_t>(at - tabs.begin())]);
}

void BrowserTabBar::syncMenu() {
    std::vector<std::pair<std::string, std::string>> entries;
    for (const auto& tab : model_->tabs.get()) {
        entries.emplace_back(tab->id.text(), WebWorkspaceRules::menuTitle(tab->isPrivate(), tab->title()));
    }
    if (entries == menuEntries_) return;
    menuEntries_ = std::move(entries);
    auto tabsSection = Gio::Menu::create();
    for (const auto& [id, title] : menuEntries_) {
        tabsSection->append_item(menuItem(WebWorkspaceRules::menuLabel(title), selectAction, id));
    }
    auto moves = Gio::Menu::create();
    moves->append_item(menuItem(moveSelectedLeftLabel, moveSelectedLeftAction));
    moves->append_item(menuItem(moveSelectedRightLabel, moveSelectedRightAction));
    listMenu_->remove_all();
    // Two sections: the menu draws the divider between them.
    listMenu_->append_section(tabsSection);
    listMenu_->append_section(moves);
}

}  // namespace velmora
