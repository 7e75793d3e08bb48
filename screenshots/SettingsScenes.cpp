// The settings form, whole, in the short course and with the PC display (no
// smartphone width), and the setup wizard at its first step, at Print in the
// short course and at the summary, over the stored defaults and over a
// record with the PC display.
#include <gtkmm/adjustment.h>
#include <gtkmm/scrolledwindow.h>

#include "Scene.hpp"
#include "foundation/SettingsStore.hpp"
#include "settingsui/ProductSettingsForm.hpp"
#include "settingsui/SetupWizard.hpp"
#include "support/MainLoop.hpp"
#include "workspace/app/BrindlexApp.hpp"

namespace velmora::screenshots {

namespace {

// What the scenes show lives as long as the program.
struct Settings {
    SettingsStore store;
    SettingsFlow flow;
    explicit Settings(const std::filesystem::path& root) : store(root) {}
};

Settings& settingsOf(Stage& stage) {
    static Settings& shared = *new Settings(stage.storage / "scene-settings");
    return shared;
}

constexpr int formWidth = 620;
constexpr int formHeight = 1180;

// The whole form is taller than the screen: the detailed one is drawn twice,
// from its top and scrolled to its end.
Gtk::Window* formWindow(Stage& stage, bool detailed, bool atEnd = false, bool pc = false) {
    AppPreferences draft = settingsOf(stage).store.value();
    if (pc) draft.product.webMode = "current";
    auto* model = new FormModel(draft, std::nullopt, detailed);
    auto* window = new Gtk::Window();
    window->set_title("設定");
    auto& scroller = *Gtk::make_managed<Gtk::ScrolledWindow>();
    scroller.set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    auto& form = *Gtk::make_managed<ProductSettingsForm>(*model);
    form.set_margin(20);
    scroller.set_child(form);
    window->set_child(scroller);
    if (atEnd) {
        // Laid out at the scene's size first, then scrolled to the end.
        window->set_default_size(formWidth, formHeight);
        window->present();
        auto adjustment = scroller.get_vadjustment();
        test::spinUntil([&] { return adjustment->get_page_size() > 0 && adjustment->get_upper() > formHeight; });
        adjustment->set_value(adjustment->get_upper() - adjustment->get_page_size());
    }
    return window;
}

Gtk::Window* wizardAt(Stage& stage, int step, bool detailed) {
    stage.app.application()->activate();
    Gtk::Window* parent = stage.app.currentWindow();
    if (!parent) return nullptr;
    Settings& settings = settingsOf(stage);
    static SetupWizard& wizard = *new SetupWizard(settings.store, settings.flow);
    wizard.presentOver(*parent);
    wizard.model().setDetailed(detailed);
    for (int i = 0; i < step; ++i) wizard.model().next();
    return &wizard;
}

// The wizard's summary of a record with the PC display: no smartphone width.
Gtk::Window* wizardSummaryPC(Stage& stage) {
    stage.app.application()->activate();
    Gtk::Window* parent = stage.app.currentWindow();
    if (!parent) return nullptr;
    static Settings& settings = *new Settings(stage.storage / "scene-settings-pc");
    settings.store.change([](AppPreferences& p) { p.product.webMode = "current"; });
    static SetupWizard& wizard = *new SetupWizard(settings.store, settings.flow);
    wizard.presentOver(*parent);
    for (int i = 0; i < 5; ++i) wizard.model().next();
    return &wizard;
}

const bool registered =
    registerScene("settings-form", formWidth, formHeight, [](Stage& s) { return formWindow(s, true); }) &&
    registerScene("settings-form-end", formWidth, formHeight, [](Stage& s) { return formWindow(s, true, true); }) &&
    registerScene("settings-form-short", formWidth, 900, [](Stage& s) { return formWindow(s, false); }) &&
    registerScene("settings-form-pc", formWidth, 900, [](Stage& s) { return formWindow(s, false, false, true); }) &&
    registerScene("wizard-summary-pc", SetupWizard::width, SetupWizard::height, wizardSummaryPC) &&
    registerScene("wizard-first-step", SetupWizard::width, SetupWizard::height,
                  [](Stage& s) { return wizardAt(s, 0, false); }) &&
    registerScene("wizard-print-short", SetupWizard::width, SetupWizard::height,
                  [](Stage& s) { return wizardAt(s, 2, false); }) &&
    registerScene("wizard-summary", SetupWizard::width, SetupWizard::height,
                  [](Stage& s) { return wizardAt(s, 5, false); }) &&
    registerScene("wizard-ocr-detailed", SetupWizard::width, SetupWizard::height,
                  [](Stage& s) { return wizardAt(s, 3, true); });

}  // namespace

}  // namespace velmora::screenshots
