#include <gtest/gtest.h>

#include <giomm/init.h>
#include <gio/gio.h>
#include <giomm/menuitem.h>

#include <set>

#include "workspace/app/AppCommands.hpp"
#include "workspace/app/CommandState.hpp"

// The menu commands without a display: which are enabled in each section,
// the table the menus and keys come from, and the close key's walk over a
// menu model.

using namespace velmora;
using Section = WindowModel::Section;

namespace {

const std::vector<std::string> newTabItems{"app.new-tab", "app.new-private-tab"};
const std::vector<std::string> ocrItems{"app.open-ocr", "app.search-ocr", "app.save-ocr"};

std::vector<std::string> everyAction() {
    std::vector<std::string> all;
    for (const auto& menu : AppCommands::menus()) {
        for (const auto& item : menu.items) all.push_back(item.action);
    }
    return all;
}

bool contains(const std::vector<std::string>& list, const std::string& value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

std::string attribute(GMenuModel* menu, int index, const char* name) {
    gchar* value = nullptr;
    if (!g_menu_model_get_item_attribute(menu, index, name, "s", &value)) return "";
    std::string text = value;
    g_free(value);
    return text;
}
template <typename M>
std::string actionOf(const M& menu, int index) {
    return attribute(G_MENU_MODEL(menu->gobj()), index, G_MENU_ATTRIBUTE_ACTION);
}
template <typename M>
std::string accelOf(const M& menu, int index) {
    return attribute(G_MENU_MODEL(menu->gobj()), index, "accel");
}
// The menu an item links to; the parent keeps it alive.
template <typename M>
GMenuModel* linkOf(const M& menu, int index, const char* link = G_MENU_LINK_SUBMENU) {
    GMenuModel* inner = g_menu_model_get_item_link(G_MENU_MODEL(menu->gobj()), index, link);
    if (inner) g_object_unref(inner);
    return inner;
}
struct Borrowed {
    GMenuModel* model;
    GMenuModel* gobj() const { return model; }
    const Borrowed* operator->() const { return this; }
    int get_n_items() const { return g_menu_model_get_n_items(model); }
};

}  // namespace

TEST(CommandStateTest, NewTabsOnlyInTheWebSectionOCROnlyInTheOCRSectionTheRestAlways) {
    for (auto section : WindowModel::allSections) {
        const CommandState state(section);
        EXPECT_EQ(state.newTab(), section == Section::web);
        EXPECT_EQ(state.ocr(), section == Section::ocr);
        for (const auto& action : everyAction()) {
            bool expected = true;
            if (contains(newTabItems, action)) expected = section == Section::web;
            if (contains(ocrItems, action)) expected = section == Section::ocr;
            EXPECT_EQ(state.enabled(action), expected) << action << " in " << rawValue(section);
        }
    }
    // Without a current window every condition on its section is false.
    const CommandState none(std::nullopt);
    for (const auto& action : everyAction()) {
        const bool conditional = contains(newTabItems, action) || contains(ocrItems, action);
        EXPECT_EQ(none.enabled(action), !conditional) << action;
    }
    EXPECT_FALSE(CommandState(Section::web).enabled("app.no-such-command"));
}

TEST(CommandStateTest, TheMenusCarryEveryCommandWithItsKey) {
    const auto& menus = AppCommands::menus();
    std::vector<std::string> titles;
    for (const auto& menu : menus) titles.push_back(menu.title);
    EXPECT_EQ(titles, (std::vector<std::string>{"ベルモラ", "ファイル", "タブ", "OCR", "ヘルプ"}));

    auto keys = [](const std::string& action) { return AppCommands::item(action)->accels; };
    using Keys = std::vector<std::string>;
    EXPECT_EQ(AppCommands::item("app.about")->title, "ベルモラについて");
    EXPECT_EQ(AppCommands::item("app.help")->title, "ベルモラヘルプ");
    EXPECT_EQ(keys("app.help"), Keys{"F1"});
    EXPECT_EQ(keys("app.settings"), Keys{"<Control>comma"});
    EXPECT_TRUE(keys("app.wizard").empty());
    EXPECT_EQ(keys("app.quit"), Keys{"<Control>q"});
    EXPECT_EQ(keys("app.new-window"), Keys{"<Control>n"});
    EXPECT_EQ(keys("app.close-selected"), Keys{"<Control>w"});
    EXPECT_EQ(AppCommands::item("app.close-selected")->title, "タブ／ウインドウを閉じる");
    EXPECT_TRUE(keys(AppCommands::windowClose).empty());
    EXPECT_EQ(AppCommands::item(AppCommands::windowClose)->title, "ウインドウを閉じる");
    EXPECT_EQ(keys("app.new-tab"), Keys{"<Control>t"});
    EXPECT_EQ(keys("app.new-private-tab"), Keys{"<Control><Shift>t"});
    EXPECT_TRUE(keys("app.close-tab").empty());
    // Shift turns the brackets into braces on a keyboard: both are bound.
    EXPECT_EQ(keys("app.next-tab"),
              (Keys{"<Control><Shift>bracketright", "<Control><Shift>braceright", "<Control>Page_Down"}));
    EXPECT_EQ(keys("app.previous-tab"),
              (Keys{"<Control><Shift>bracketleft", "<Control><Shift>braceleft", "<Control>Page_Up"}));
    EXPECT_EQ(keys("app.focus-address"), Keys{"<Control>l"});
    EXPECT_EQ(keys("app.reload"), (Keys{"<Control>r", "F5"}));
    EXPECT_EQ(keys("app.open-ocr"), Keys{"<Control>o"});
    EXPECT_EQ(keys("app.search-ocr"), Keys{"<Control>f"});
    EXPECT_EQ(keys("app.save-ocr"), Keys{"<Control>s"});

    // No key answers two commands, and no action sits in two items.
    std::set<std::string> seenKeys, seenActions;
    for (const auto& menu : menus) {
        for (const auto& item : menu.items) {
            EXPECT_TRUE(seenActions.insert(item.action).second) << item.action;
            for (const auto& key : item.accels) EXPECT_TRUE(seenKeys.insert(key).second) << key;
        }
    }
    EXPECT_FALSE(seenKeys.contains(AppCommands::windowCloseAccel));

    // The model: one submenu per menu, its items in table order.
    Gio::init();
    auto model = AppCommands::menuModel();
    ASSERT_EQ(model->get_n_items(), static_cast<int>(menus.size()));
    for (int m = 0; m < model->get_n_items(); ++m) {
        const Borrowed submenu{linkOf(model, m)};
        ASSERT_TRUE(submenu.model);
        ASSERT_EQ(submenu.get_n_items(), static_cast<int>(menus[m].items.size()));
        for (int i = 0; i < submenu.get_n_items(); ++i) EXPECT_EQ(actionOf(submenu, i), menus[m].items[i].action);
    }
}

TEST(CommandStateTest, TheCloseKeyReachesEveryCloseItemAtAnyDepth) {
    Gio::init();
    // The application's own menus: only "ウインドウを閉じる" changes.
    auto model = AppCommands::menuModel();
    EXPECT_EQ(AppCommands::fixCloseKey(model), 1);
    const Borrowed file{linkOf(model, 1)};
    ASSERT_TRUE(file.model);
    EXPECT_EQ(actionOf(file, 2), AppCommands::windowClose);
    EXPECT_EQ(accelOf(file, 2), AppCommands::windowCloseAccel);
    EXPECT_EQ(accelOf(file, 1), "");
    // The item kept its title and place.
    EXPECT_EQ(attribute(file.model, 2, G_MENU_ATTRIBUTE_LABEL), "ウインドウを閉じる");
    EXPECT_EQ(file.get_n_items(), 3);

    // A close item inside a submenu of a submenu, one in a section, and one
    // that itself carries a submenu, which is walked too.
    auto top = Gio::Menu::create();
    auto outer = Gio::Menu::create();
    auto inner = Gio::Menu::create();
    auto section = Gio::Menu::create();
    auto carried = Gio::Menu::create();
    inner->append("閉じる", AppCommands::windowClose);
    inner->append("ほか", "app.other");
    outer->append_submenu("中", inner);
    section->append("閉じる", AppCommands::windowClose);
    outer->append_section(section);
    top->append_submenu("外", outer);
    carried->append("閉じる", AppCommands::windowClose);
    auto withLink = Gio::MenuItem::create("閉じる", AppCommands::windowClose);
    withLink->set_link("submenu", carried);
    top->append_item(withLink);
    EXPECT_EQ(AppCommands::fixCloseKey(top), 4);
    EXPECT_EQ(accelOf(inner, 0), AppCommands::windowCloseAccel);
    EXPECT_EQ(accelOf(inner, 1), "");
    EXPECT_EQ(accelOf(section, 0), AppCommands::windowCloseAccel);
    EXPECT_EQ(accelOf(top, 1), AppCommands::windowCloseAccel);
    EXPECT_EQ(accelOf(carried, 0), AppCommands::windowCloseAccel);
    // The rewritten item still leads to its submenu.
    EXPECT_EQ(linkOf(top, 1), G_MENU_MODEL(carried->gobj()));
}
