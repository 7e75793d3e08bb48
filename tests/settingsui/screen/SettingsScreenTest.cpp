#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/frame.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include "capture/TabRestoration.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "gui/DialogAnswers.hpp"
#include "gui/GtkConfirmation.hpp"
#include "settingsui/BrowserSettings.hpp"
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

    // The screen over the store (made now unless a section was), presented.
    void show(Gtk::Widget* section = nullptr) {
        if (!section) store.emplace(settingsRoot);
        privacy = Gtk::make_managed<Gtk::Label>("privacy");
        privacy->set_name("privacy.section");
        screen = Gtk::make_managed<SettingsScreen>(
            SettingsScreen::Parts{*store, access, nullptr, section ? section : privacy}, flow);
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
    EXPECT_EQ(result(), "");

    auto& form = named<Gtk::Widget>(SettingsScreen::formName);
    Gtk::Widget* column = form.get_parent();
    const std::vector<Gtk::Widget*> children = childrenOf(*column);
    // The title, the caption, the read-only reason (hidden), the form, the
    // folder's section, the privacy section, the management section, the
    // store's notice and the flow's message.
    ASSERT_EQ(children.size(), 9u);
    EXPECT_EQ(textOf(children[0]), "設定");
    EXPECT_EQ(textOf(children[1]), SettingsScreen::caption);
    EXPECT_EQ(children[2]->get_name().raw(), SettingsScreen::readOnlyName);
    EXPECT_FALSE(children[2]->get_visible());
    EXPECT_EQ(children[3], &form);
    EXPECT_EQ(textOf(children[7]), SettingsStore::Notices::ready);
    EXPECT_EQ(children[7]->get_name().raw(), SettingsScreen::noticeName);
    EXPECT_EQ(children[8]->get_name().raw(), SettingsScreen::flowMessageName);
    // Each section as the form's are: its heading over one framed box.
    const auto sectionOf = [&](Gtk::Widget& inside) {
        Gtk::Widget* w = &inside;
        while (w && w->get_parent() != column) w = w->get_parent();
        return w;
    };
    const auto framed = [](Gtk::Widget& inside) {
        for (Gtk::Widget* w = inside.get_parent(); w; w = w->get_parent()) {
            if (dynamic_cast<Gtk::Frame*>(w)) return true;
        }
        return false;
    };
    EXPECT_EQ(sectionOf(named<Gtk::Widget>(SettingsScreen::folderName)), children[4]);
    EXPECT_EQ(sectionOf(*privacy), children[5]);
    EXPECT_EQ(sectionOf(named<Gtk::Widget>(SettingsScreen::clearHistoryName)), children[5]);
    EXPECT_EQ(textOf(children[5]->get_first_child()), "プライバシー・Cookie");
    EXPECT_EQ(textOf(children[6]->get_first_child()), "設定管理");
    for (const char* name : {SettingsScreen::folderName, SettingsScreen::clearHistoryName, SettingsScreen::wizardName,
                             SettingsScreen::exportName, SettingsScreen::importName, SettingsScreen::resetName}) {
        EXPECT_TRUE(framed(named<Gtk::Widget>(name))) << name;
    }
    EXPECT_TRUE(framed(*privacy));
    // The management's four commands stand two by two, in their order.
    const auto at = [&](const char* name) {
        double x = 0, y = 0;
        EXPECT_TRUE(named<Gtk::Widget>(name).translate_coordinates(*screen, 0, 0, x, y));
        return std::pair{x, y};
    };
    EXPECT_EQ(at(SettingsScreen::wizardName).second, at(SettingsScreen::exportName).second);
    EXPECT_LT(at(SettingsScreen::wizardName).first, at(SettingsScreen::exportName).first);
    EXPECT_EQ(at(SettingsScreen::importName).second, at(SettingsScreen::resetName).second);
    EXPECT_GT(at(SettingsScreen::importName).second, at(SettingsScreen::wizardName).second);
    // Apply, its result and re-read are in the action bar, not the column.
    Gtk::Widget& bar = screen->actionBar();
    for (const char* name : {SettingsScreen::applyName, SettingsScreen::resultName, SettingsScreen::rereadName}) {
        EXPECT_EQ(named<Gtk::Widget>(name).get_parent(), &bar) << name;
    }

    // 1200 wide: the column with its padding is 760 and centred.
    EXPECT_EQ(column->get_width() + 2 * SettingsScreen::padding, SettingsScreen::maximumWidth);
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(column->gobj(), GTK_WIDGET(screen->gobj()), &bounds));
    const double left = bounds.origin.x;
    const double right = screen->get_width() - (left + bounds.size.width);
    EXPECT_GT(left, 200.0);
    EXPECT_NEAR(left, right, 16.0);  // the vertical scroll bar takes its side
}

TEST_F(SettingsScreenTest, TheActionBarStaysInSightWhateverTheColumnIsScrolledTo) {
    window.set_default_size(1000, 700);
    show();
    auto& apply = named<Gtk::Widget>(SettingsScreen::applyName);
    auto v = screen->scroller().get_vadjustment();
    ASSERT_TRUE(test::spinUntil([&] { return v->get_page_size() > 0 && v->get_upper() > v->get_page_size() * 2; }));
    const auto inSight = [&](Gtk::Widget& widget) {
        graphene_rect_t bounds;
        if (!gtk_widget_compute_bounds(widget.gobj(), GTK_WIDGET(window.gobj()), &bounds)) return false;
        return bounds.origin.y >= 0 && bounds.origin.y + bounds.size.height <= window.get_height() &&
               bounds.size.height > 0 && widget.is_drawable();
    };
    for (double at : {0.0, 0.5, 1.0}) {
        v->set_value(v->get_lower() + at * (v->get_upper() - v->get_page_size() - v->get_lower()));
        test::spinFor(std::chrono::milliseconds(30));
        EXPECT_TRUE(inSight(apply)) << at;
        EXPECT_TRUE(inSight(screen->actionBar())) << at;
    }
    // Its result beside it, at the same height, once there is one; re-read
    // stays where it was.
    auto& reread = named<Gtk::Widget>(SettingsScreen::rereadName);
    const auto left = [&](Gtk::Widget& w) {
        double x = 0, y = 0;
        EXPECT_TRUE(w.translate_coordinates(*screen, 0, 0, x, y));
        return x;
    };
    const double rereadBefore = left(reread);
    EXPECT_GT(rereadBefore, screen->get_width() / 2.0) << "at the bar's end";
    click(SettingsScreen::applyName);
    auto& result = named<Gtk::Widget>(SettingsScreen::resultName);
    ASSERT_TRUE(test::spinUntil([&] {
        return !dynamic_cast<Gtk::Label&>(result).get_text().empty() && result.is_drawable() && result.get_width() > 0;
    }));
    EXPECT_TRUE(inSight(result));
    double applyX = 0, applyY = 0, resultX = 0, resultY = 0;
    ASSERT_TRUE(apply.translate_coordinates(*screen, 0, apply.get_height() / 2.0, applyX, applyY));
    ASSERT_TRUE(result.translate_coordinates(*screen, 0, result.get_height() / 2.0, resultX, resultY));
    EXPECT_GT(resultX, applyX);
    EXPECT_NEAR(resultY, applyY, 2);
    EXPECT_EQ(left(reread), rereadBefore);
    EXPECT_GT(left(reread), resultX + result.get_width() - 1);
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
    // The reason stands at the top, above the greyed form, in the warning
    // colour; the notice line at the end does not repeat it.
    auto& reason = named<Gtk::Label>(SettingsScreen::readOnlyReasonName);
    EXPECT_TRUE(reason.is_drawable());
    EXPECT_EQ(reason.get_text().raw(), SettingsStore::Notices::unreadable);
    EXPECT_TRUE(reason.has_css_class("warning"));
    EXPECT_FALSE(named<Gtk::Label>(SettingsScreen::noticeName).get_visible());
    double x = 0, reasonY = 0, formY = 0;
    ASSERT_TRUE(reason.translate_coordinates(*screen, 0, 0, x, reasonY));
    ASSERT_TRUE(named<Gtk::Widget>(SettingsScreen::formName).translate_coordinates(*screen, 0, 0, x, formY));
    EXPECT_LT(reasonY, formY);
    EXPECT_LT(reasonY, 200);

    // Reset through the real question: "取消" first, which is also what
    // Return answers, then "初期値に戻す".
    click(SettingsScreen::resetName);
    ASSERT_TRUE(test::answerMessageDialog("設定を初期値に戻しますか？", GtkConfirmation::firstButton));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(storedBytes(), "this is not JSON");
    EXPECT_EQ(result(), "");
    click(SettingsScreen::resetName);
    ASSERT_TRUE(test::answerMessageDialog("設定を初期値に戻しますか？", GtkConfirmation::secondButton));
    ASSERT_TRUE(test::spinUntil([&] { return result() == SettingsScreenModel::Sentences::reset; }));
    EXPECT_FALSE(named<Gtk::Widget>(SettingsScreen::readOnlyName).get_visible());
    EXPECT_FALSE(named<Gtk::Label>(SettingsScreen::resultName).has_css_class("error"));
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
    EXPECT_TRUE(named<Gtk::Label>(SettingsScreen::resultName).has_css_class("error"));
    EXPECT_EQ(named<Gtk::DropDown>("form.product.paper").get_selected(), 2u);

    click(SettingsScreen::rereadName);
    EXPECT_EQ(named<Gtk::DropDown>("form.product.paper").get_selected(), 0u);
    named<Gtk::DropDown>("form.product.paper").set_selected(2);
    click(SettingsScreen::applyName);
    EXPECT_EQ(result(), SettingsScreenModel::Sentences::applied);
    EXPECT_FALSE(named<Gtk::Label>(SettingsScreen::resultName).has_css_class("error"));
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

// Only the restore switch of the privacy section is used.
struct NoSiteData final : SiteDataStores {
    Task<std::vector<WebsiteDataRecord>> records(bool) override { co_return std::vector<WebsiteDataRecord>{}; }
    std::shared_ptr<Store> store(bool) override { return nullptr; }
    bool beginDeletion(bool) override { return false; }
    void endDeletion(bool) override {}
};
struct NoWindows final : PrivacyWindows {
    std::vector<std::shared_ptr<PrivacyTab>> tabs() const override { return {}; }
    void saveSnapshot() override {}
};
TEST_F(SettingsScreenTest, TheRestoreSwitchOfItsOwnPrivacySectionLeavesTheOtherEditsToApply) {
    store.emplace(settingsRoot);
    TabRestoration restoration(tmp / "tabs", *store);
    show(Gtk::make_managed<BrowserSettings>(
        PrivacySettings::create(*store, restoration, std::make_shared<NoSiteData>(), std::make_shared<NoWindows>())));
    // An edit, then the switch (stored at once): both are kept.
    named<Gtk::DropDown>("form.logDays").set_selected(1);
    named<Gtk::CheckButton>(BrowserSettings::restoreName).set_active(true);
    click(SettingsScreen::applyName);
    EXPECT_EQ(result(), SettingsScreenModel::Sentences::applied);
    EXPECT_EQ(Json::parse(storedBytes())["logDays"], 90);
    EXPECT_EQ(Json::parse(storedBytes())["restoreTabs"], true);

    // Another writer's change before the switch still refuses the apply.
    SettingsStore(settingsRoot).update(&AppPreferences::lazyLoad, false);
    named<Gtk::CheckButton>(BrowserSettings::restoreName).set_active(false);
    click(SettingsScreen::applyName);
    EXPECT_EQ(result(), SettingsScreenModel::Sentences::applyRefused);
    window.unset_child();  // the section goes before the restoration it uses
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
    // Its answers stand and look as every question's: in the dialog's row of
    // answers, the way back on the left, plain and focused, 読み込む on the
    // right in the suggested style.
    auto* cancel = dynamic_cast<Gtk::Button*>(test::findByName(sheet, "settings.import.cancel"));
    auto* load = dynamic_cast<Gtk::Button*>(test::findByName(sheet, "settings.import.load"));
    ASSERT_TRUE(cancel && load);
    EXPECT_EQ(cancel->get_parent(), load->get_parent());
    EXPECT_TRUE(cancel->get_parent()->has_css_class("dialog-action-area"));
    EXPECT_FALSE(cancel->has_css_class(DialogAnswers::suggestedStyle));
    EXPECT_FALSE(cancel->has_css_class(DialogAnswers::destructiveStyle));
    EXPECT_TRUE(load->has_css_class(DialogAnswers::suggestedStyle));
    EXPECT_TRUE(test::spinUntil([&] { return cancel->has_focus(); }));
    graphene_rect_t back{}, ahead{};
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(cancel->gobj()), GTK_WIDGET(sheet.gobj()), &back));
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(load->gobj()), GTK_WIDGET(sheet.gobj()), &ahead));
    EXPECT_LE(back.origin.x + back.size.width, ahead.origin.x);
    EXPECT_EQ(back.origin.y, ahead.origin.y);
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
    const fs::path written = folder / "ベルモラ_Settings.velmorasettings";
    ASSERT_TRUE(
        test::spinUntil([&] { return result() == SettingsScreenModel::exportedSentence(written); }));
    EXPECT_TRUE(named<Gtk::Button>(SettingsScreen::revealName).get_visible());
    const auto parsed = SettingsTransfer::read(folder / "ベルモラ_Settings.velmorasettings");
    EXPECT_EQ(parsed.transfer.settings, PortableSettings(store->value()));
}
