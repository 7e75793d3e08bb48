#include "workspace/app/AppCommands.hpp"

#include <gio/gio.h>

#include <string_view>

#include "foundation/ProductBrand.hpp"

namespace velmora::AppCommands {

const std::vector<Menu>& menus() {
    static const std::vector<Menu> table = [] {
        const ProductBrand& brand = ProductBrand::current();
        return std::vector<Menu>{
            {brand.displayName,
             {
                 {brand.about + "について", "app.about", {}},
                 {"設定…", "app.settings", {"<Control>comma"}},
                 {"初期設定ウィザード…", "app.wizard", {}},
                 {"終了", "app.quit", {"<Control>q"}},
             }},
            {"ファイル",
             {
                 {"新しいウインドウ", "app.new-window", {"<Control>n"}},
                 {"タブ／ウインドウを閉じる", "app.close-selected", {"<Control>w"}},
                 // Its key comes with the launch (fixCloseKey).
                 {"ウインドウを閉じる", windowClose, {}},
             }},
            {"タブ",
             {
                 {"新しい通常タブ", "app.new-tab", {"<Control>t"}, Rule::webSection},
                 {"新しいプライベートタブ", "app.new-private-tab", {"<Control><Shift>t"}, Rule::webSection},
                 // The same command as Ctrl+W, without a key of its own: a
                 // separate action, so the menu does not show Ctrl+W twice.
                 {"タブを閉じる", "app.close-tab", {}},
                 {"次のタブ",
                  "app.next-tab",
                  {"<Control><Shift>bracketright", "<Control><Shift>braceright", "<Control>Page_Down"}},
                 {"前のタブ",
                  "app.previous-tab",
                  {"<Control><Shift>bracketleft", "<Control><Shift>braceleft", "<Control>Page_Up"}},
                 {"アドレスを入力", "app.focus-address", {"<Control>l"}},
                 {"ページを再読み込み", "app.reload", {"<Control>r", "F5"}},
             }},
            {"OCR",
             {
                 {"OCRファイルを開く", "app.open-ocr", {"<Control>o"}, Rule::ocrSection},
                 {"OCR結果を検索", "app.search-ocr", {"<Control>f"}, Rule::ocrSection},
                 {"OCRテキストを保存", "app.save-ocr", {"<Control>s"}, Rule::ocrSection},
             }},
            {"ヘルプ",
             {
                 {brand.displayName + "ヘルプ", "app.help", {"F1"}},
             }},
        };
    }();
    return table;
}

const Item* item(const std::string& action) {
    for (const auto& menu : menus()) {
        for (const auto& entry : menu.items) {
            if (entry.action == action) return &entry;
        }
    }
    return nullptr;
}

Glib::RefPtr<Gio::Menu> menuModel() {
    auto bar = Gio::Menu::create();
    for (const auto& menu : menus()) {
        auto submenu = Gio::Menu::create();
        for (const auto& entry : menu.items) submenu->append(entry.title, entry.action);
        bar->append_submenu(menu.title, submenu);
    }
    return bar;
}

int fixCloseKey(const Glib::RefPtr<Gio::Menu>& menu) { return menu ? fixCloseKey(menu->gobj()) : 0; }

int fixCloseKey(GMenu* menu) {
    if (!menu) return 0;
    GMenuModel* model = G_MENU_MODEL(menu);
    int changed = 0;
    const int count = g_menu_model_get_n_items(model);
    for (int i = 0; i < count; ++i) {
        gchar* action = nullptr;
        g_menu_model_get_item_attribute(model, i, G_MENU_ATTRIBUTE_ACTION, "s", &action);
        const bool closes = action && std::string_view(action) == windowClose;
        g_free(action);
        if (closes) {
            // Menu items cannot be edited in place: the copy keeps every
            // attribute and link of the item and takes the new key.
            GMenuItem* copy = g_menu_item_new_from_model(model, i);
            g_menu_item_set_attribute_value(copy, "accel", g_variant_new_string(windowCloseAccel));
            g_menu_remove(menu, i);
            g_menu_insert_item(menu, i, copy);
            g_object_unref(copy);
            ++changed;
        }
        for (const char* link : {G_MENU_LINK_SUBMENU, G_MENU_LINK_SECTION}) {
            GMenuModel* inner = g_menu_model_get_item_link(model, i, link);
            // Only menus of our own making can be changed; a model of
            // another kind keeps its items.
            if (inner && G_IS_MENU(inner)) changed += fixCloseKey(G_MENU(inner));
            if (inner) g_object_unref(inner);
        }
    }
    return changed;
}

}  // namespace velmora::AppCommands
