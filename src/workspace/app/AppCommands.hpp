#pragma once

// The menu bar's commands as data: each menu's title and items, each item's
// title, action and keys, and the rule that enables it. The application
// builds its menu model and its key bindings from this one table, and
// CommandState reads the enabled rules from it, so the menus, the keys and
// the enabled flags cannot drift apart. Needs no display.
//
// Ctrl stands where other desktops have Command. With Shift held a keyboard
// delivers "braceright" and "braceleft" for the bracket keys, so the tab
// cycling commands list both keyvals.

#include <string>
#include <vector>

#include <gio/gio.h>
#include <giomm/menu.h>

namespace velmora {

namespace AppCommands {

// When an item is enabled: always, or only while the current window shows
// the web or the OCR section (never without a current window).
enum class Rule { always, webSection, ocrSection };

struct Item {
    std::string title;
    // The detailed action: "app.<name>", or GTK's own "window.close".
    std::string action;
    // GTK accelerator strings, the first one shown in the menu.
    std::vector<std::string> accels;
    Rule rule = Rule::always;
};

struct Menu {
    std::string title;
    std::vector<Item> items;
};

// The desktop's own close action of a window; it goes through the window's
// close confirmation.
inline constexpr const char* windowClose = "window.close";
// The key the launch gives it, so that Ctrl+W stays with
// "タブ／ウインドウを閉じる".
inline constexpr const char* windowCloseAccel = "<Control><Shift>w";

// The menus in menu bar order.
const std::vector<Menu>& menus();
// The item bound to a detailed action; null when no item has it.
const Item* item(const std::string& action);

// A fresh menu model of the table: one submenu per menu, no keys in it (the
// application's key bindings are shown by the menus themselves).
Glib::RefPtr<Gio::Menu> menuModel();

// Walks the menu depth first (submenus and sections) and gives every item
// whose action is windowClose, at any depth, the accel attribute
// windowCloseAccel. Returns how many items it changed.
int fixCloseKey(const Glib::RefPtr<Gio::Menu>& menu);
int fixCloseKey(GMenu* menu);

}  // namespace AppCommands

}  // namespace velmora
