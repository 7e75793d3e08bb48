// The settings screen over stored preferences a user has changed: from its
// top and scrolled to its end after a successful apply, over a file it
// cannot understand (read-only), after an apply refused because another
// window changed the settings, with the import sheet of a file holding an
// unknown key, with the reset question up, after an export and after the
// setup wizard's apply. Each scene has a store, a
// flow and a window of its own, kept until the process ends.
#include <gtkmm/adjustment.h>
#include <gtkmm/button.h>
#include <gtkmm/messagedialog.h>

#include "Scene.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "settingsui/SettingsScreen.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/sections/PrivacySection.hpp"
#include "workspace/windows/WorkspacePrivacyWindows.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

namespace velmora::screenshots {

namespace {

constexpr int sceneWidth = 1000;
constexpr int sceneHeight = 800;

// The privacy section as a window places it, over the application's
// services and a window set of the scenes' own.
Gtk::Widget* privacySection(Stage& stage) {
    stage.app.application()->activate();
    AppServices& services = stage.app.services ? stage.app.services() : AppServices::shared();
    static WorkspaceWindows* windows = [&] {
        auto* set = new WorkspaceWindows(services, Glib::RefPtr<Gtk::Application>());
        set->quitApplication = [] {};
        return set;
    }();
    return &makePrivacySection(services, std::make_shared<WorkspacePrivacyWindows>(*windows));
}

struct ScreenScene {
    SettingsStore store;
    OutputAccess access;
    SettingsFlow flow;
    Gtk::Window window;
    SettingsScreen* screen = nullptr;

    ScreenScene(const std::filesystem::path& root)
        : store(root / "settings"), access(AppRuntime{root, root / "out"}) {
        flow.storedPreferences = [this] { return store.value(); };
        flow.showSettings = [] {};
    }

    void build(Stage& stage) {
        window.set_title("設定");
        screen = Gtk::make_managed<SettingsScreen>(
            SettingsScreen::Parts{store, access, nullptr, privacySection(stage)}, flow);
        window.set_child(*screen);
    }

    // Presented at the scene's size, so that the screen has loaded the
    // stored preferences.
    void present() {
        window.set_default_size(sceneWidth, sceneHeight);
        window.present();
        test::spinUntil([&] { return screen->get_mapped(); });
    }

    // Scrolled to the end of the column, once it is laid out with its
    // status lines.
    void scrollToEnd() {
        auto adjustment = screen->scroller().get_vadjustment();
        test::spinUntil([&] { return adjustment->get_page_size() > 0 && adjustment->get_upper() > sceneHeight; });
        test::spinFor(std::chrono::milliseconds(100));
        adjustment->set_value(adjustment->get_upper() - adjustment->get_page_size());
    }
};

// Preferences a user has worked with: mobile capture at 390 px, A3
// landscape prints, dated folders, history kept for 90 days.
ScreenScene& sceneOf(Stage& stage, const std::string& name) {
    auto* scene = new ScreenScene(stage.storage / ("scene-" + name));
    scene->store.change([](AppPreferences& p) {
        p.mobileWidth = 390;
        p.historyDays = 90;
        p.product.paper = "A3";
        p.product.landscape = true;
        p.product.datedFolders = true;
    });
    return *scene;
}

Gtk::Window* top(Stage& stage) {
    auto& scene = sceneOf(stage, "top");
    scene.build(stage);
    return &scene.window;
}

Gtk::Window* endAfterApply(Stage& stage) {
    auto& scene = sceneOf(stage, "end");
    scene.build(stage);
    scene.present();
    AppPreferences draft = scene.screen->model().draft();
    draft.product.ocrAutoSave = true;
    scene.screen->model().form().setDraft(draft);
    scene.screen->model().apply();
    scene.scrollToEnd();
    return &scene.window;
}

Gtk::Window* readOnly(Stage& stage, bool atEnd) {
    // A file cut short, found as the application starts.
    const auto root = stage.storage / (atEnd ? "scene-read-only-end" : "scene-read-only");
    std::filesystem::create_directories(root / "settings");
    test::writeFile(root / "settings" / "preferences.json", "{\"saveMode\" : \"ask\", \"panel\" : ");
    auto& scene = *new ScreenScene(root);
    scene.build(stage);
    if (atEnd) {
        scene.present();
        scene.scrollToEnd();
    }
    return &scene.window;
}

Gtk::Window* staleApply(Stage& stage) {
    auto& scene = sceneOf(stage, "stale");
    scene.build(stage);
    scene.present();
    AppPreferences draft = scene.screen->model().draft();
    draft.product.paper = "Letter";
    scene.screen->model().form().setDraft(draft);
    // Another window chose the capture width meanwhile.
    SettingsStore(scene.store.root()).update(&AppPreferences::mobileWidth, int64_t{430});
    scene.screen->model().apply();
    scene.scrollToEnd();
    return &scene.window;
}

Gtk::Window* importSheet(Stage& stage) {
    auto& scene = sceneOf(stage, "import");
    scene.build(stage);
    scene.present();
    // A file from another machine, written by a newer version.
    SettingsStore other(stage.storage / "scene-import-source");
    other.change([](AppPreferences& p) {
        p.saveMode = AppPreferences::SaveMode::automatic;
        p.panel = AppPreferences::Panel::bottom;
        p.logDays = 180;
        p.product.printOutput = "both";
        p.product.ocrMode = OCRMode::vertical;
    });
    const auto file = other.exportSettings(stage.storage / "scene-import-files", "事務所PC");
    Json envelope = Json::parse(test::readFile(file));
    envelope["appVersion"] = "1.4.0";
    envelope["cloudSync"] = true;
    const auto bytes = JSON::bytes(envelope);
    test::writeFile(file, std::string(bytes.begin(), bytes.end()));
    scene.flow.read(file);
    test::spinUntil([&] { return scene.screen->importSheet() && scene.screen->importSheet()->get_mapped(); });
    ImportSheet* sheet = scene.screen->importSheet();
    // Photographed at the scene's size rather than its own natural height.
    if (sheet) sheet->set_resizable(true);
    return sheet;
}

// The PC display chosen: no smartphone width in the form, and the PC
// display's own words at the foot after "保存済み設定を読み直す" found
// nothing changed.
Gtk::Window* pcReread(Stage& stage) {
    auto& scene = sceneOf(stage, "pc");
    scene.store.change([](AppPreferences& p) { p.product.webMode = "current"; });
    scene.build(stage);
    scene.present();
    scene.screen->model().reread();
    // Scrolled to the web capture section.
    auto adjustment = scene.screen->scroller().get_vadjustment();
    test::spinUntil([&] { return adjustment->get_page_size() > 0 && adjustment->get_upper() > sceneHeight; });
    test::spinFor(std::chrono::milliseconds(100));
    if (Gtk::Widget* web = test::findByName(*scene.screen, "form.section.1")) {
        graphene_rect_t b{};
        if (gtk_widget_compute_bounds(web->gobj(), GTK_WIDGET(scene.screen->scroller().get_child()->gobj()), &b)) {
            adjustment->set_value(b.origin.y - 40);
        }
    }
    return &scene.window;
}

// The import sheet of a file made with the PC display: its summary names no
// smartphone width.
Gtk::Window* importSheetPC(Stage& stage) {
    auto& scene = sceneOf(stage, "import-pc");
    scene.build(stage);
    scene.present();
    SettingsStore other(stage.storage / "scene-import-pc-source");
    other.change([](AppPreferences& p) { p.product.webMode = "current"; });
    const auto file = other.exportSettings(stage.storage / "scene-import-pc-files", "自宅PC");
    scene.flow.read(file);
    test::spinUntil([&] { return scene.screen->importSheet() && scene.screen->importSheet()->get_mapped(); });
    ImportSheet* sheet = scene.screen->importSheet();
    if (sheet) sheet->set_resizable(true);
    return sheet;
}

// "設定を書き出す…" answered in the real save panel, into the documents
// folder: the sentence names the file and its folder, and "保存先を開く"
// stands beside it.
Gtk::Window* exported(Stage& stage) {
    auto& scene = sceneOf(stage, "export");
    scene.build(stage);
    scene.present();
    const std::filesystem::path folder = std::filesystem::path(g_get_home_dir()) / "ドキュメント";
    std::filesystem::create_directories(folder);
    auto* button = dynamic_cast<Gtk::Button*>(test::findByName(*scene.screen, SettingsScreen::exportName));
    if (!button) return nullptr;
    g_signal_emit_by_name(button->gobj(), "clicked");
    if (!test::saveThroughFileChooser(folder / "ベルモラ_Settings")) return nullptr;
    test::spinUntil([&] { return !scene.screen->model().exportedFile().empty(); });
    test::spinFor(std::chrono::milliseconds(100));
    return &scene.window;
}

// The wizard walked to its summary and applied: it is gone, and the screen
// says what its "適用" did.
Gtk::Window* afterWizard(Stage& stage) {
    auto& scene = sceneOf(stage, "wizard");
    scene.build(stage);
    scene.present();
    scene.screen->model().openWizard();
    test::spinUntil([&] { return scene.screen->wizard() && scene.screen->wizard()->get_mapped(); });
    SetupWizard* wizard = scene.screen->wizard();
    if (!wizard) return nullptr;
    AppPreferences draft = wizard->model().draft();
    draft.product.paper = "A4";
    wizard->model().form().setDraft(draft);
    for (const char* name : {"wizard.next", "wizard.next", "wizard.next", "wizard.next", "wizard.next", "wizard.apply"}) {
        if (auto* b = dynamic_cast<Gtk::Button*>(test::findByName(*wizard, name))) {
            g_signal_emit_by_name(b->gobj(), "clicked");
        }
        test::spinFor(std::chrono::milliseconds(20));
    }
    test::spinUntil([&] { return !wizard->get_visible(); });
    test::spinFor(std::chrono::milliseconds(100));
    return &scene.window;
}

Gtk::Window* resetQuestion(Stage& stage) {
    auto& scene = sceneOf(stage, "reset");
    scene.build(stage);
    scene.present();
    auto* reset = dynamic_cast<Gtk::Button*>(test::findByName(*scene.screen, SettingsScreen::resetName));
    if (!reset) return nullptr;
    g_signal_emit_by_name(reset->gobj(), "clicked");
    Gtk::Window* found = nullptr;
    test::spinUntil([&] {
        for (auto* dialog : test::visibleWindowsOf<Gtk::MessageDialog>()) {
            if (dialog->property_text().get_value().raw() == SettingsScreenModel::resetQuestion) found = dialog;
        }
        return found != nullptr;
    });
    return found;
}

const bool registered = registerScene("settings-screen", sceneWidth, sceneHeight, top) &&
                        registerScene("settings-screen-end", sceneWidth, sceneHeight, endAfterApply) &&
                        registerScene("settings-screen-read-only", sceneWidth, sceneHeight,
                                      [](Stage& s) { return readOnly(s, false); }) &&
                        registerScene("settings-screen-read-only-end", sceneWidth, sceneHeight,
                                      [](Stage& s) { return readOnly(s, true); }) &&
                        registerScene("settings-screen-stale-apply", sceneWidth, sceneHeight, staleApply) &&
                        registerScene("settings-import-sheet", ImportSheet::width, 470, importSheet) &&
                        registerScene("settings-screen-pc-reread", sceneWidth, sceneHeight, pcReread) &&
                        registerScene("settings-import-sheet-pc", ImportSheet::width, 470, importSheetPC) &&
                        registerScene("settings-reset-question", 330, 158, resetQuestion) &&
                        registerScene("settings-screen-exported", 1240, 850, exported) &&
                        registerScene("settings-screen-after-wizard", 1240, 850, afterWizard);

}  // namespace

}  // namespace velmora::screenshots
