#include <gtest/gtest.h>
#include <gtkmm/aboutdialog.h>
#include <gtkmm/applicationwindow.h>
#include <gtkmm/icontheme.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/popovermenubar.h>

#include "settingsui/SettingsFlow.hpp"
#include "settingsui/SetupWizard.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "support/gui/Pointer.hpp"
#include "workspace/WorkspaceFixture.hpp"
#include "workspace/app/AppCommands.hpp"
#include "workspace/app/BrindlexApp.hpp"

// The application with its launch skipped (the test key): no window opens
// and the desktop's close keeps no key of ours. The menu bar's items then
// work from nothing: the wizard opens a window in its settings section, and
// the About and Help items, chosen in the real menu bar, read and do what
// they say. One application per process: a program of its own.

using namespace velmora;
using test::spinUntil;

namespace {

class SkippedLaunchTest : public test::WorkspaceFixture {};

// The first label under root whose text is text, depth first.
Gtk::Label* labelSaying(Gtk::Widget& root, const std::string& text) {
    if (auto* label = dynamic_cast<Gtk::Label*>(&root); label && label->get_text().raw() == text) return label;
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        if (auto* found = labelSaying(*child, text)) return found;
    }
    return nullptr;
}

// The first widget of type T under root, depth first.
template <typename T>
T* firstOf(Gtk::Widget& root) {
    if (auto* found = dynamic_cast<T*>(&root)) return found;
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        if (auto* found = firstOf<T>(*child)) return found;
    }
    return nullptr;
}

// A label of root on screen; popovers are children of the widget that
// holds them, so a menu's items are found under its bar.
Gtk::Label* awaitLabel(Gtk::Widget& root, const std::string& text) {
    Gtk::Label* found = nullptr;
    spinUntil([&] {
        found = labelSaying(root, text);
        return found && found->get_mapped() && found->get_width() > 0;
    });
    return found && found->get_mapped() ? found : nullptr;
}

}  // namespace

TEST_F(SkippedLaunchTest, NoWindowNoCloseKeyThenTheWizardAboutAndHelpFromTheMenuBar) {
    BrindlexApp app{Gio::Application::Flags::NON_UNIQUE};
    app.services = [this]() -> AppServices& { return *services; };
    app.launchSteps = [](AppServices&) {
        LaunchSequence::Steps steps;
        steps.skip = [] { return true; };
        return steps;
    };
    app.application()->register_application();
    app.application()->activate();
    ASSERT_NE(app.windows(), nullptr);
    EXPECT_TRUE(app.windows()->windows().empty());
    EXPECT_TRUE(app.application()->get_accels_for_action(AppCommands::windowClose).empty());
    EXPECT_EQ(app.application()->get_accels_for_action("app.close-selected"), std::vector<Glib::ustring>{"<Control>w"});
    // The windows' icon is the application's own, found from the build tree.
    EXPECT_EQ(Gtk::Window::get_default_icon_name().raw(), ProductBrand::current().bundleIdentifier);
    EXPECT_TRUE(Gtk::IconTheme::get_for_display(Gdk::Display::get_default())
                    ->has_icon(ProductBrand::current().bundleIdentifier));

    // The wizard with no window: one opens in its settings section, and the
    // wizard shows over it.
    ASSERT_TRUE(test::activateAction(*app.application(), "wizard"));
    ASSERT_EQ(app.windows()->windows().size(), 1u);
    auto& window = *app.windows()->windows().begin()->second;
    EXPECT_EQ(window.model()->section.get(), WindowModel::Section::settings);
    SetupWizard* wizard = nullptr;
    ASSERT_TRUE(spinUntil([&] {
        const auto found = test::visibleWindowsOf<SetupWizard>();
        if (!found.empty()) wizard = found[0];
        return wizard != nullptr;
    }));
    EXPECT_EQ(wizard->get_transient_for(), &window.window());
    EXPECT_TRUE(SettingsFlow::shared().wizard.get());
    wizard->close();
    ASSERT_TRUE(spinUntil([] { return test::visibleWindowsOf<SetupWizard>().empty(); }));

    // The menu bar in the window: "ベルモラ", then its About item.
    auto* bar = firstOf<Gtk::PopoverMenuBar>(window.window());
    ASSERT_NE(bar, nullptr);
    Gtk::Label* menu = awaitLabel(*bar, "ベルモラ");
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(test::pointerClick(test::centreOf(*menu)));
    Gtk::Label* about = awaitLabel(*bar, "ベルモラについて");
    ASSERT_NE(about, nullptr);
    ASSERT_TRUE(test::pointerClick(test::centreOf(*about)));
    Gtk::AboutDialog* dialog = nullptr;
    ASSERT_TRUE(spinUntil([&] {
        const auto found = test::visibleWindowsOf<Gtk::AboutDialog>();
        if (!found.empty()) dialog = found[0];
        return dialog != nullptr;
    }));
    EXPECT_EQ(dialog->get_program_name(), "ベルモラ");
    EXPECT_EQ(dialog->get_version().raw(), ProductPresentation::version());
    dialog->close();
    ASSERT_TRUE(spinUntil([] { return test::visibleWindowsOf<Gtk::AboutDialog>().empty(); }));

    // "ヘルプ", then "ベルモラヘルプ": the help dialog.
    Gtk::Label* helpMenu = awaitLabel(*bar, "ヘルプ");
    ASSERT_NE(helpMenu, nullptr);
    ASSERT_TRUE(test::pointerClick(test::centreOf(*helpMenu)));
    Gtk::Label* help = awaitLabel(*bar, "ベルモラヘルプ");
    ASSERT_NE(help, nullptr);
    ASSERT_TRUE(test::pointerClick(test::centreOf(*help)));
    ASSERT_TRUE(spinUntil([] { return test::findByName(WorkspaceWindows::helpDialogName) != nullptr; }));
}
