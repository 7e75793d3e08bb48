#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "gui/GtkConfirmation.hpp"
#include "settingsui/SettingsScreen.hpp"
#include "support/TempDir.hpp"
#include "support/gui/GuiHelpers.hpp"

// The settings screen as real widgets in a presented window over a real
// store on a temporary folder: the controls are found by name and used as
// the user would, the confirmation is the real dialog and the file panels
// are the desktop's own, answered through their own buttons.

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class SettingsScreenTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    fs::path settingsRoot = tmp / "state";
    std::optional<SettingsStore> store;
    OutputAccess access{AppRuntime{tmp / "storage", tmp / "outputs"}};
    SettingsFlow flow;
    Gtk::Window window;
    Gtk::Label* privacy = nullptr;
    SettingsScreen* screen = nullptr;

    SettingsScreenTest() {
        window.set_default_size(1200, 900);
        flow.storedPreferences = SettingsFlow::storedIn(*store);
        flow.showSettings = [] {};
    }
    ~SettingsScreenTest() override {
        window.unset_child();
        window.hide();
    }

    // The screen over the store as the file is now, presented.
    void show() {
        store.emplace(settingsRoot);
        privacy = Gtk::make_managed<Gtk::Label>("privacy");
        privacy->set_name("privacy.section");
        screen = Gtk::make_managed<SettingsScreen>(SettingsScreen::Parts{*store, access, nullptr, privacy}, flow);
        window.set_child(*screen);
        window.present();
        ASSERT_TRUE(test::spinUntil([&] { return screen->get_mapped() && screen->get_width() > 0; }));
    }

    template <typename T>
    T& named(const std::string& name) {
        auto* found = dynamic_cast<T*>(test::findByName(*screen, name));
        if (!found) throw std::runtime_error("no widget " + name);
        return *found;
    }
    void click(const std::string& name) {
        auto& button = named<Gtk::Button>(name);
        ASSERT_TRUE(button.is_visible() && button.is_sensitive()) << name;
        g_signal_emit_by_name(button.gobj(), "clicked");
    }
    std::string result() { return named<Gtk::Label>(SettingsScreen::resultName).get_text().raw(); }
    std::string storedBytes() { return test::readFile(settingsRoot / "preferences.json"); }
};

std::vector<Gtk::Widget*> childrenOf(Gtk::Widget& parent) {
    std::vector<Gtk::Widget*> children;
    for (auto* child = parent.get_first_child(); child; child = child->get_next_sibling()) children.push_back(child);
    return children;
}

std::string textOf(Gtk::Widget* widget) {
    if (auto* label = dynamic_cast<Gtk::Label*>(widget)) return label->get_text().raw();
    if (auto* button = dynamic_cast<Gtk::Button*>(widget)) return button->get_label().raw();
    return {};
}

Gtk::Window* panelTitled(const std::string& title) {
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->get_visible() && w->get_title().raw() == title && GTK_IS_FILE_CHOOSER(w->gobj())) return w;
    }
    return nullptr;
}

G_GNUC_BEGIN_IGNORE_DEPRECATIONS
// The panel's own button for a response, pressed as the user would.
void press(Gtk::Window* panel, int response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(panel->gobj()), response);
    ASSERT_NE(button, nullptr);
    gtk_widget_activate(button);
}

fs::path chooserPath(GFile* file) {
    if (!file) return {};
    char* path = g_file_get_path(file);
    g_object_unref(file);
    fs::path out = path ? fs::path(path) : fs::path();
    g_free(path);
    return out;
}

bool select(Gtk::Window* panel, const fs::path& file) {
    GFile* f = g_file_new_for_path(file.c_str());
    const bool ok = gtk_file_chooser_set_file(GTK_FILE_CHOOSER(panel->gobj()), f, nullptr);
    g_object_unref(f);
    return ok &&
           test::spinUntil([&] { return chooserPath(gtk_file_chooser_get_file(GTK_FILE_CHOOSER(panel->gobj()))) == file; });
}

void typeName(Gtk::Window* panel, const std::string& name) {
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(panel->gobj()), name.c_str());
}

std::string currentName(Gtk::Window* panel) {
    char* name = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(panel->gobj()));
    std::string out = name ? name : "";
    g_free(name);
    return out;
}
G_GNUC_END_IGNORE_DEPRECATIONS

}  // namespace

TEST_F(SettingsScreenTest, TheColumnShowsTheStoredValuesCentredAndAtMost760Wide) {
    {
        SettingsStore before(settingsRoot);
        before.update(&AppPreferences::mobileWidth, int64_t{390});
    }
    show();
    // The stored values, not the defaults the screen was built with.
    EXPECT_EQ(named<Gtk::DropDown>("form.mobileWidth").get_selected(), 1u);
    EXPECT_TRUE(named<Gtk::Button>(SettingsScreen::applyName).get_sensitive());
    EXPECT_FALSE(named<Gtk::Label>(SettingsScreen::resultName).get_visible());

    auto& form = named<Gtk::Widget>(SettingsScreen::formName);
    Gtk::Widget* column = form.get_parent();
    const std::vector<Gtk::Widget*> children = childrenOf(*column);
    ASSERT_EQ(children.size(), 20u);
    const std::vector<std::string> texts{"設定",
                                         SettingsScreen::caption,
                                         "",
                                         "設定を適用",
                                         "保存済み設定を読み直す",
                                         "保存先を選ぶ…",
                                         "",
                                         "プライバシー・Cookie",
                                         "privacy",
                                         SettingsScreen::historyCaption,
                                         "履歴をすべて削除…",
                                         "",
                                         "設定管理",
                                         "初期設定ウィザード…",
                                         "設定を書き出す…",
                                         "設定を読み込む…",
                                         "設定を初期値に戻す…",
                                         SettingsStore::Notices::ready,
                                         "",
                                         ""};
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(textOf(children[i]), texts[i]) << i;
    EXPECT_EQ(children[2], &form);
    EXPECT_EQ(children[8], privacy);
    EXPECT_EQ(children[18]->get_name().raw(), SettingsScreen::resultName);
    EXPECT_EQ(children[19]->get_name().raw(), SettingsScreen::flowMessageName);

    // 1200 wide: the column with its padding is 760 and centred.
    EXPECT_EQ(column->get_width() + 2 * SettingsScreen::padding, SettingsScreen::maximumWidth);
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(column->gobj(), GTK_WIDGET(screen->gobj()), &bounds));
    const double left = bounds.origin.x;
    const double right = screen->get_width() - (left + bounds.size.width);
    EXPECT_GT(left, 200.0);
    EXPECT_NEAR(left, right, 16.0);  // the vertical scroll bar takes its side
}

TEST_F(SettingsScreenTest, AReadOnlyStoreDisablesOnlyTheFormAndApply) {
    fs::create_directories(settingsRoot);
    test::writeFile(settingsRoot / "preferences.json", "this is not JSON");
    show();
    ASSERT_TRUE(store->readOnly());
    EXPECT_FALSE(named<Gtk::Widget>(SettingsScreen::formName).get_sensitive());
    EXPECT_FALSE(named<Gtk::Button>(SettingsScreen::applyName).get_sensitive());
    for (const char* name : {SettingsScreen::rereadName, SettingsScreen::folderName, SettingsScreen::clearHistoryName,
                             SettingsScreen::wizardName, SettingsScreen::exportName, SettingsScreen::importName,
                             SettingsScreen::resetName}) {
        EXPECT_TRUE(named<Gtk::Button>(name).get_sensitive()) << name;
    }
    EXPECT_TRUE(privacy->is_sensitive());
    EXPECT_EQ(named<Gtk::Label>(SettingsScreen::noticeName).get_text().raw(), SettingsStore::Notices::unreadable);

    // Reset through the real question: "取消" first, which is also what
    // Return answers, then "実行".
    click(SettingsScreen::resetName);
    ASSERT_TRUE(test::answerMessageDialog("設定を初期値に戻しますか？", GtkConfirmation::firstButton));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(storedBytes(), "this is not JSON");
    EXPECT_FALSE(named<Gtk::Label>(SettingsScreen::resultName).get_visible());
    click(SettingsScreen::resetName);
    ASSERT_TRUE(test::answerMessageDialog("設定を初期値に戻しますか？", GtkConfirmation::secondButton));
    ASSERT_TRUE(test::spinUntil([&] { return result() == SettingsScreenModel::Sentences::reset; }));
    EXPECT_EQ(test::readFile(settingsRoot / "preserved-settings.json"), "this is not JSON");
    EXPECT_TRUE(named<Gtk::Widget>(SettingsScreen::formName).get_sensitive());
    EXPECT_TRUE(named<Gtk::Button>(SettingsScreen::applyName).get_sensitive());
}

TEST_F(SettingsScreenTest, ApplyWritesAnEditOfTheRealFormUnlessTheStoreChangedElsewhere) {
    show();
    named<Gtk::DropDown>("form.product.paper").set_selected(2);
    // Another writer: refused, the edit stays on screen.
    SettingsStore(settingsRoot).update(&AppPreferences::logDays, int64_t{90});
    click(SettingsScreen::applyName);
    EXPECT_EQ(result(), SettingsScreenModel::Sentences::applyRefused);
    EXPECT_EQ(named<Gtk::DropDown>("form.product.paper").get_selected(), 2u);

    click(SettingsScreen::rereadName);
    EXPECT_EQ(named<Gtk::DropDown>("form.product.paper").get_selected(), 0u);
    named<Gtk::DropDown>("form.product.paper").set_selected(2);
    click(SettingsScreen::applyName);
    EXPECT_EQ(result(), SettingsScreenModel::Sentences::applied);
    const Json stored = Json::parse(storedBytes());
    EXPECT_EQ(stored["product"]["paper"], "JIS B5");
    EXPECT_EQ(stored["logDays"], 90);

    // The wizard is presented over the screen's window while the flow asks
    // for it; its "取消" keeps the screen's unapplied edit.
    named<Gtk::DropDown>("form.product.paper").set_selected(1);
    click(SettingsScreen::wizardName);
    ASSERT_TRUE(flow.wizard.get());
    ASSERT_TRUE(test::spinUntil([&] { return screen->wizard() && screen->wizard()->get_mapped(); }));
    EXPECT_EQ(screen->wizard()->get_transient_for(), &window);
    auto* cancel = dynamic_cast<Gtk::Button*>(test::findByName(*screen->wizard(), "wizard.cancel"));
    ASSERT_NE(cancel, nullptr);
    g_signal_emit_by_name(cancel->gobj(), "clicked");
    EXPECT_FALSE(flow.wizard.get());
    EXPECT_EQ(named<Gtk::DropDown>("form.product.paper").get_selected(), 1u);
}

TEST_F(SettingsScreenTest, TheRealOpenPanelReadsAFileAndTheSheetAsksBeforeApplying) {
    // A file of another machine, with a key this version does not know.
    SettingsStore source(tmp / "source");
    source.update(&AppPreferences::logDays, int64_t{180});
    const fs::path plain = source.exportSettings(tmp / "files", "plain");
    Json envelope = Json::parse(test::readFile(plain));
    envelope["futureOption"] = 1;
    const auto bytes = JSON::bytes(envelope);
    const fs::path extra = tmp / "files" / "extra.velmorasettings";
    test::writeFile(extra, std::string(bytes.begin(), bytes.end()));
    SettingsStore(settingsRoot).update(&AppPreferences::mobileWidth, int64_t{375});
    show();

    auto readThroughPanel = [&](const fs::path& file) {
        click(SettingsScreen::importName);
        Gtk::Window* panel = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (panel = panelTitled("設定を読み込む")) != nullptr; }));
        EXPECT_EQ(panel->get_transient_for(), &window);
        ASSERT_TRUE(select(panel, file));
        press(panel, GTK_RESPONSE_ACCEPT);
        ASSERT_TRUE(test::spinUntil([&] {
            return screen->importSheet() && screen->importSheet()->get_mapped() && screen->importSheet()->get_width() > 0;
        }));
    };

    readThroughPanel(extra);
    ASSERT_TRUE(flow.incoming.get());
    ImportSheet& sheet = *screen->importSheet();
    EXPECT_EQ(sheet.get_transient_for(), &window);
    EXPECT_TRUE(sheet.get_modal());
    EXPECT_EQ(sheet.get_width(), ImportSheet::width);
    auto sheetLabel = [&](const std::string& name) -> Gtk::Label& {
        return *dynamic_cast<Gtk::Label*>(test::findByName(sheet, name));
    };
    EXPECT_EQ(sheetLabel("settings.import.version").get_text().raw(),
              "形式 1・作成版 " + flow.incoming.get()->appVersion);
    EXPECT_EQ(sheetLabel("settings.import.summary").get_text().raw(), PortableSettings(source.value()).summary());
    EXPECT_TRUE(sheetLabel("settings.import.unknownKeys").get_visible());
    // "取消": nothing written, the request gone.
    const std::string before = storedBytes();
    g_signal_emit_by_name(test::findByName(sheet, "settings.import.cancel")->gobj(), "clicked");
    EXPECT_FALSE(flow.incoming.get());
    EXPECT_TRUE(test::spinUntil([&] { return !sheet.get_visible(); }));
    EXPECT_EQ(storedBytes(), before);

    readThroughPanel(plain);
    EXPECT_FALSE(sheetLabel("settings.import.unknownKeys").get_visible());
    g_signal_emit_by_name(test::findByName(sheet, "settings.import.load")->gobj(), "clicked");
    EXPECT_FALSE(flow.incoming.get());
    EXPECT_TRUE(test::spinUntil([&] { return !sheet.get_visible(); }));
    EXPECT_EQ(result(), SettingsScreenModel::Sentences::imported);
    EXPECT_EQ(Json::parse(storedBytes())["logDays"], 180);
    EXPECT_EQ(named<Gtk::DropDown>("form.logDays").get_selected(), 2u);
}

TEST_F(SettingsScreenTest, AnExportThroughTheRealSavePanelWritesTheFile) {
    show();
    const fs::path folder = tmp / "exports";
    fs::create_directories(folder);
    click(SettingsScreen::exportName);
    Gtk::Window* panel = nullptr;
    ASSERT_TRUE(test::spinUntil([&] { return (panel = panelTitled("設定を書き出す")) != nullptr; }));
    EXPECT_EQ(currentName(panel), "ベルモラ_Settings.velmorasettings");
    // The whole path typed into the name field, as the user may.
    typeName(panel, (folder / "ベルモラ_Settings.velmorasettings").string());
    press(panel, GTK_RESPONSE_ACCEPT);
    ASSERT_TRUE(test::spinUntil([&] { return result() == SettingsScreenModel::Sentences::exported; }));
    const auto parsed = SettingsTransfer::read(folder / "ベルモラ_Settings.velmorasettings");
    EXPECT_EQ(parsed.transfer.settings, PortableSettings(store->value()));
}
