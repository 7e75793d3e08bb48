#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/togglebutton.h>
#include <gtkmm/window.h>

#include "foundation/PortableSettings.hpp"
#include "foundation/UUID.hpp"
#include "settingsui/SetupWizard.hpp"
#include "support/TempDir.hpp"
#include "support/gui/GuiHelpers.hpp"

// The wizard as a real modal window over a real store on a temporary
// folder, driven through its buttons and the form's controls found by name.

using namespace velmora;

namespace {

class SetupWizardTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    SettingsStore store{tmp / "state"};
    SettingsFlow flow;
    Gtk::Window parent;
    std::unique_ptr<SetupWizard> wizard;

    SetupWizardTest() {
        store.change([](AppPreferences& p) {
            p.rightPanelPreferredWidth = 401;
            p.destinationID = UUID::random();
            p.restoreTabs = true;
            p.restoreEpoch = UUID::random();
        });
        parent.set_default_size(800, 700);
        parent.present();
        wizard = std::make_unique<SetupWizard>(store, flow);
    }
    ~SetupWizardTest() override {
        wizard.reset();
        parent.hide();
    }

    void open() {
        flow.wizard = true;
        wizard->presentOver(parent);
        ASSERT_TRUE(test::spinUntil([&] { return wizard->get_mapped() && wizard->get_width() > 0; }));
    }

    template <typename T>
    T& named(const std::string& name) {
        auto* found = dynamic_cast<T*>(test::findByName(*wizard, name));
        if (!found) throw std::runtime_error("no widget " + name);
        return *found;
    }

    std::string stepLine() { return named<Gtk::Label>("wizard.step").get_text().raw(); }
    // A click reaches only a button the user can see and press.
    void click(const std::string& name) {
        auto& button = named<Gtk::Button>(name);
        ASSERT_TRUE(button.is_visible() && button.is_sensitive()) << name;
        g_signal_emit_by_name(button.gobj(), "clicked");
    }
    // What the window does with a key: the shortcut of the wizard's own
    // controllers whose trigger is `key`, activated as GTK would.
    void press(const std::string& key) {
        auto controllers = wizard->observe_controllers();
        for (guint i = 0; i < controllers->get_n_items(); ++i) {
            auto* item = static_cast<GObject*>(g_list_model_get_item(controllers->gobj(), i));
            if (!GTK_IS_SHORTCUT_CONTROLLER(item)) {
                g_object_unref(item);
                continue;
            }
            auto* c = GTK_SHORTCUT_CONTROLLER(item);
            const guint n = g_list_model_get_n_items(G_LIST_MODEL(c));
            for (guint k = 0; k < n; ++k) {
                auto* shortcut = GTK_SHORTCUT(g_list_model_get_item(G_LIST_MODEL(c), k));
                char* trigger = gtk_shortcut_trigger_to_string(gtk_shortcut_get_trigger(shortcut));
                const bool match = key == trigger;
                g_free(trigger);
                if (match) {
                    gtk_shortcut_action_activate(gtk_shortcut_get_action(shortcut), GTK_SHORTCUT_ACTION_EXCLUSIVE,
                                                 GTK_WIDGET(wizard->gobj()), nullptr);
                }
                g_object_unref(shortcut);
                if (match) {
                    g_object_unref(c);
                    return;
                }
            }
            g_object_unref(c);
        }
        ADD_FAILURE() << "no shortcut for " << key;
    }
    std::string storedBytes() { return test::readFile(tmp / "state" / "preferences.json"); }
};

}  // namespace

TEST_F(SetupWizardTest, OpensOnTheFirstStepAndWalksToTheSummary) {
    open();
    EXPECT_EQ(wizard->get_title(), "初期設定ウィザード");
    EXPECT_TRUE(wizard->get_modal());
    EXPECT_EQ(wizard->get_transient_for(), &parent);
    EXPECT_EQ(wizard->get_width(), SetupWizard::width);
    EXPECT_EQ(wizard->get_height(), SetupWizard::height);
    EXPECT_EQ(stepLine(), "1/6  保存");
    EXPECT_TRUE(named<Gtk::ToggleButton>("wizard.course.short").get_active());
    EXPECT_FALSE(named<Gtk::ToggleButton>("wizard.course.detailed").get_active());
    EXPECT_FALSE(named<Gtk::Button>("wizard.back").get_sensitive());
    EXPECT_TRUE(named<Gtk::Button>("wizard.next").get_visible());
    EXPECT_FALSE(named<Gtk::Button>("wizard.apply").get_visible());
    EXPECT_EQ(named<Gtk::DropDown>("form.saveMode").get_selected(), 0u);

    click("wizard.next");
    click("wizard.next");
    EXPECT_EQ(stepLine(), "3/6  印刷");
    EXPECT_TRUE(named<Gtk::Button>("wizard.back").get_sensitive());
    // The short course of Print, then the detailed one at the same step.
    EXPECT_EQ(test::findByName(*wizard, "form.product.margin"), nullptr);
    named<Gtk::DropDown>("form.product.paper").set_selected(2);
    named<Gtk::ToggleButton>("wizard.course.detailed").set_active(true);
    EXPECT_EQ(stepLine(), "3/6  印刷");
    named<Gtk::DropDown>("form.product.margin").set_selected(1);
    named<Gtk::ToggleButton>("wizard.course.short").set_active(true);
    EXPECT_EQ(test::findByName(*wizard, "form.product.margin"), nullptr);
    EXPECT_EQ(wizard->model().draft().product.margin, 5.0);
    EXPECT_EQ(named<Gtk::DropDown>("form.product.paper").get_selected(), 2u);

    click("wizard.back");
    EXPECT_EQ(stepLine(), "2/6  Webキャプチャ");
    // Return is the default button, "次へ" here, even with the focus on
    // another button.
    named<Gtk::Button>("wizard.cancel").grab_focus();
    press("Return");
    EXPECT_EQ(stepLine(), "3/6  印刷");
    EXPECT_TRUE(wizard->get_visible());
    click("wizard.next");
    click("wizard.next");
    EXPECT_EQ(stepLine(), "5/6  履歴");
    click("wizard.next");
    EXPECT_EQ(stepLine(), "6/6  確認");
    EXPECT_FALSE(named<Gtk::Button>("wizard.next").get_visible());
    EXPECT_TRUE(named<Gtk::Button>("wizard.apply").get_visible());
    auto& summary = named<Gtk::Label>("wizard.summary");
    EXPECT_TRUE(summary.get_visible());
    EXPECT_EQ(summary.get_text().raw(), PortableSettings(wizard->model().draft()).summary());
    EXPECT_NE(summary.get_text().raw(), PortableSettings(store.value()).summary());
    EXPECT_FALSE(named<Gtk::Widget>("form").get_visible());
}

TEST_F(SetupWizardTest, CancelWritesNothingAndTheNextOpeningStartsAfresh) {
    const std::string bytes = storedBytes();
    for (int steps : {0, 3, 5}) {
        open();
        named<Gtk::ToggleButton>("wizard.course.detailed").set_active(true);
        named<Gtk::DropDown>("form.saveMode").set_selected(1);
        for (int i = 0; i < steps; ++i) click("wizard.next");
        click("wizard.cancel");
        EXPECT_FALSE(wizard->get_visible());
        EXPECT_FALSE(flow.wizard.get());
        EXPECT_EQ(storedBytes(), bytes);

        open();
        EXPECT_EQ(stepLine(), "1/6  保存");
        EXPECT_TRUE(named<Gtk::ToggleButton>("wizard.course.short").get_active());
        EXPECT_EQ(named<Gtk::DropDown>("form.saveMode").get_selected(), 0u);
        EXPECT_EQ(wizard->model().draft(), store.value());
        // Closed by the title bar, by Escape, or by the host clearing the
        // request.
        if (steps == 0) {
            wizard->close();
        } else if (steps == 3) {
            press("Escape");
        } else {
            flow.wizard = false;
        }
        EXPECT_FALSE(wizard->get_visible());
        EXPECT_FALSE(flow.wizard.get());
    }
    EXPECT_EQ(storedBytes(), bytes);
}

TEST_F(SetupWizardTest, ApplyIsRefusedAfterAChangeElsewhereAndOtherwiseWritesAndCloses) {
    const AppPreferences before = store.value();
    open();
    named<Gtk::DropDown>("form.saveMode").set_selected(1);
    for (int i = 0; i < 5; ++i) click("wizard.next");
    store.update(&AppPreferences::lazyLoad, false);
    const std::string changed = storedBytes();
    click("wizard.apply");
    EXPECT_TRUE(wizard->get_visible());
    EXPECT_EQ(named<Gtk::Label>("wizard.message").get_text().raw(),
              "適用できませんでした。現在の設定は変更していません。取消して設定を読み直してください。");
    EXPECT_EQ(stepLine(), "6/6  確認");
    EXPECT_EQ(storedBytes(), changed);
    EXPECT_TRUE(flow.wizard.get());
    EXPECT_FALSE(flow.wizardApplied);

    // A fresh opening against the stored record: "適用" by Return.
    click("wizard.cancel");
    open();
    EXPECT_EQ(named<Gtk::Label>("wizard.message").get_text().raw(), "");
    named<Gtk::DropDown>("form.saveMode").set_selected(1);
    for (int i = 0; i < 5; ++i) click("wizard.next");
    press("KP_Enter");
    EXPECT_FALSE(wizard->get_visible());
    EXPECT_FALSE(flow.wizard.get());
    EXPECT_TRUE(flow.wizardApplied) << "for the screen to say so";
    SettingsStore reread(tmp / "state");
    EXPECT_EQ(reread.value().saveMode, AppPreferences::SaveMode::automatic);
    EXPECT_FALSE(reread.value().lazyLoad);
    EXPECT_EQ(reread.value().rightPanelPreferredWidth, before.rightPanelPreferredWidth);
    EXPECT_EQ(reread.value().destinationID, before.destinationID);
    EXPECT_EQ(reread.value().restoreTabs, before.restoreTabs);
    EXPECT_EQ(reread.value().restoreEpoch, before.restoreEpoch);

    // A draft value outside its set is refused the same way.
    open();
    AppPreferences spoiled = wizard->model().draft();
    spoiled.mobileWidth = 414;
    wizard->model().form().setDraft(spoiled);
    const std::string bytes = storedBytes();
    for (int i = 0; i < 5; ++i) click("wizard.next");
    click("wizard.apply");
    EXPECT_TRUE(wizard->get_visible());
    EXPECT_EQ(named<Gtk::Label>("wizard.message").get_text().raw(), WizardModel::applyFailure);
    EXPECT_EQ(storedBytes(), bytes);
}
