#include <gtest/gtest.h>

#include <gtkmm/aboutdialog.h>
#include <gtkmm/applicationwindow.h>

#include "foundation/ProductBrand.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/WorkspaceFixture.hpp"
#include "workspace/app/BrindlexApp.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

std::vector<Gtk::ApplicationWindow*> workspaceWindows() {
    return test::visibleWindowsOf<Gtk::ApplicationWindow>();
}

class BrindlexAppTest : public test::WorkspaceFixture {};

}  // namespace

// The application in this process, never meeting another instance, with the
// fixture's container and a launch that only counts itself (and opens the
// window). One application per process, as in the program: GIO keeps an
// application's bus object for the life of the process.
TEST_F(BrindlexAppTest, TheDelegateLaunchesOnceRoutesFilesRaisesAndShowsAbout) {
    BrindlexApp app{Gio::Application::Flags::NON_UNIQUE};
    int launches = 0;
    std::vector<fs::path> received;
    app.services = [this]() -> AppServices& { return *services; };
    app.launchSteps = [&](AppServices&) {
        ++launches;
        return LaunchSequence::Steps{};
    };
    app.fileReceiver = [&](const fs::path& file) { received.push_back(file); };
    app.application()->register_application();
    auto open = [&](const std::vector<fs::path>& files) {
        std::vector<Glib::RefPtr<Gio::File>> list;
        for (const auto& f : files) list.push_back(Gio::File::create_for_path(f.string()));
        app.application()->open(list);
    };

    // Two files from the desktop: one launch, the first file only.
    open({tmp / "a.velmora-settings", tmp / "b.velmora-settings"});
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(received, (std::vector<fs::path>{tmp / "a.velmora-settings"}));
    ASSERT_EQ(workspaceWindows().size(), 1u);
    auto* window = workspaceWindows()[0];
    EXPECT_EQ(window->get_title(), "ベルモラ");
    int width = 0, height = 0;
    window->get_default_size(width, height);
    EXPECT_EQ(width, 1240);
    EXPECT_EQ(height, 850);
    window->get_size_request(width, height);
    EXPECT_EQ(width, 920);
    EXPECT_EQ(height, 720);

    // A later file is routed without a second launch; nothing is nothing.
    open({tmp / "c.velmora-settings"});
    open({});
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(received, (std::vector<fs::path>{tmp / "a.velmora-settings", tmp / "c.velmora-settings"}));

    // A second start while the window shows: the same window.
    app.application()->activate();
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(workspaceWindows(), std::vector<Gtk::ApplicationWindow*>{window});

    // About, over the current window: the name, the version, what it is for
    // and its licence, with the application's icon; no authors or site.
    ASSERT_TRUE(test::activateAction(*app.application(), "about"));
    Gtk::AboutDialog* about = nullptr;
    ASSERT_TRUE(test::spinUntil([&] {
        const auto found = test::visibleWindowsOf<Gtk::AboutDialog>();
        if (!found.empty()) about = found[0];
        return about != nullptr;
    }));
    EXPECT_EQ(about->get_program_name(), "ベルモラ");
    EXPECT_EQ(about->get_version(), "1.0.0");
    EXPECT_TRUE(about->get_modal());
    EXPECT_EQ(about->get_transient_for(), window);
    EXPECT_TRUE(about->get_authors().empty());
    EXPECT_TRUE(about->get_website().empty());
    EXPECT_EQ(about->get_comments(), BrindlexDelegate::aboutDescription);
    EXPECT_EQ(about->get_license_type(), Gtk::License::CUSTOM);
    EXPECT_EQ(about->get_license(), BrindlexDelegate::aboutLicence);
    EXPECT_EQ(about->get_logo_icon_name().raw(), ProductBrand::current().bundleIdentifier);
    about->close();
    EXPECT_TRUE(test::spinUntil([] { return test::visibleWindowsOf<Gtk::AboutDialog>().empty(); }));

    // With no visible window a second start opens one, still without a
    // second launch.
    window->hide();
    ASSERT_TRUE(workspaceWindows().empty());
    app.application()->activate();
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(workspaceWindows().size(), 1u);
}
