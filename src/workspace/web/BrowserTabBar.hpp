#pragma once

// The strip of tabs at the top of a window's web pane: one item per tab in
// the order of the model's tabs (its title with the private and busy marks,
// its own close button and a context menu that moves it), the buttons that
// add a normal or a private tab, and "タブ一覧", which lists the tabs (the
// selected one marked, and focused when the list opens) and moves the
// selected one. A tab is as wide as its title needs up to a bound; when the
// bar is full every tab gives up width alike.
//
// The bar keeps no state of its own: it follows the window model's `changed`
// (a tab's changes arrive as the model's), updating the items it has in
// place, keyed by tab id, so a tab's widgets stay the same while it lives.
// Both menus call actions of a group inserted on the bar ("tabbar."), a
// tab's id text as their target; while the window closes the actions are
// disabled and the whole bar is insensitive. The selected tab is scrolled
// into view whenever the selection or the tabs change. Main thread only.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <giomm/menu.h>
#include <giomm/simpleactiongroup.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/scrolledwindow.h>

#include "foundation/UUID.hpp"

namespace velmora {

class WindowModel;

class BrowserTabBar : public Gtk::Box {
public:
    // Widget names, for tests and the accessibility tree.
    static constexpr const char* barName = "tab.bar";
    static constexpr const char* addName = "tab.add";
    static constexpr const char* privateName = "tab.private";
    static constexpr const char* listName = "tab.list";
    static constexpr const char* itemPrefix = "tab.item.";
    static constexpr const char* selectPrefix = "tab.select.";
    static constexpr const char* closePrefix = "tab.close.";

    static constexpr const char* listLabel = "タブ一覧";
    static constexpr const char* moveSelectedLeftLabel = "選択タブを左へ";
    static constexpr const char* moveSelectedRightLabel = "選択タブを右へ";
    static constexpr const char* moveLeftLabel = "左へ移動";
    static constexpr const char* moveRightLabel = "右へ移動";

    // The action group's prefix and its actions; the first three take a
    // tab's id text.
    static constexpr const char* actionPrefix = "tabbar";
    static constexpr const char* selectAction = "select";
    static constexpr const char* moveLeftAction = "move-left";
    static constexpr const char* moveRightAction = "move-right";
    static constexpr const char* moveSelectedLeftAction = "move-selected-left";
    static constexpr const char* moveSelectedRightAction = "move-selected-right";

    explicit BrowserTabBar(std::shared_ptr<WindowModel> model);
    ~BrowserTabBar() override;
    BrowserTabBar(const BrowserTabBar&) = delete;
    BrowserTabBar& operator=(const BrowserTabBar&) = delete;

    // The tabs the items stand for, in their order.
    const std::vector<UUID>& shownTabs() const noexcept { return order_; }
    // The actions both menus call, and the model of "タブ一覧".
    const Glib::RefPtr<Gio::SimpleActionGroup>& actions() const noexcept { return actions_; }
    const Glib::RefPtr<Gio::Menu>& listMenu() const noexcept { return listMenu_; }
    // The context menu of a tab's item; null for a tab the bar does not show.
    Glib::RefPtr<Gio::MenuModel> contextMenu(const UUID& tabID) const;
    // Opens a tab's context menu, as a right click on its item does.
    void openContextMenu(const UUID& tabID);

    // The composite name of a tab's control: prefix and the id's text.
    static std::string nameFor(const char* prefix, const UUID& tabID) { return prefix + tabID.text(); }

private:
    class Item;
    void buildActions();
    void sync();
    void syncItems();
    void syncMenu();
    void focusSelectedLine();
    // Scrolls the selected tab's item into view once the row has been laid
    // out with it.
    void revealSelected();
    // The scroll itself; false while the item has no place in the row yet.
    bool revealNow();
    void tabAction(const Glib::VariantBase& parameter, int offset, bool select);
    void moveSelected(int offset);

    std::shared_ptr<WindowModel> model_;
    Gtk::ScrolledWindow scroller_;
    Gtk::Box row_{Gtk::Orientation::HORIZONTAL, 5};
    Gtk::Button add_;
    Gtk::Button private_;
    Gtk::MenuButton list_;
    Glib::RefPtr<Gio::Menu> listMenu_ = Gio::Menu::create();
    Glib::RefPtr<Gio::SimpleActionGroup> actions_ = Gio::SimpleActionGroup::create();
    std::map<UUID, Item*> items_;
    std::vector<UUID> order_;
    // The labels the menu was last built from, so it is rebuilt only when
    // one of them changes.
    std::vector<std::pair<std::string, std::string>> menuEntries_;
    sigc::connection observation_;
    sigc::connection focusing_;
    // The selection last scrolled into view, and the pending scroll: the
    // row's layout of a new or moved item comes with the next frame.
    UUID revealed_;
    std::string revealedTitle_;
    sigc::connection revealing_;
    int revealFrames_ = 0;
    sigc::connection stripChanged_;
};

}  // namespace velmora
