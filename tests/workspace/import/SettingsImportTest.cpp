#include <gtest/gtest.h>

#include <gtkmm/applicationwindow.h>

#include "settingsui/SettingsFlow.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/WorkspaceFixture.hpp"
#include "workspace/app/BrindlexApp.hpp"

// The desktop's route for a settings file, in process: the application's
// open request (as the desktop sends it, and as a second start forwards it)
// reaches the settings flow with the application's own preferences as the
// baseline, and brings a window forward.

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class SettingsImportTest : public test::WorkspaceFixture {};

std::vector<Gtk::ApplicationWindow*> workspaceWindows() {
    return test::visibleWindowsOf<Gtk::ApplicationWindow>();
}

}  // namespace

TEST_F(SettingsImportTest, AnOpenedSettingsFileIsHeldForConfirmation) {
    BrindlexApp app{Gio::Application::Flags::NON_UNIQUE};
    app.services = [this]() -> AppServices& { return *services; };
    app.launchSteps = [](AppServices&) { return LaunchSequence::Steps{}; };
    app.application()->register_application();
    auto open = [&](const std::vector<fs::path>& files) {
        std::vector<Glib::RefPtr<Gio::File>> list;
        for (const auto& f : files) list.push_back(Gio::File::create_for_path(f.string()));
        app.application()->open(list);
    };
    SettingsFlow& flow = SettingsFlow::shared();
    SettingsStore& store = services->settings;

    // Two files at once: the first is read, the second ignored.
    store.update(&AppPreferences::historyDays, int64_t{30});
    const fs::path first = store.exportSettings(tmp / "files", "first");
    store.update(&AppPreferences::historyDays, int64_t{90});
    const fs::path second = store.exportSettings(tmp / "files", "second");
    open({first, second});
    ASSERT_TRUE(flow.incoming.get());
    EXPECT_EQ(flow.incoming.get()->settings.historyDays, 30);
    EXPECT_EQ(flow.expected, store.value());
    EXPECT_EQ(flow.message.get(), "");
    ASSERT_EQ(workspaceWindows().size(), 1u);

    // With no window showing, the next file opens one; it replaces the
    // pending import and takes the baseline of its own read.
    workspaceWindows()[0]->hide();
    ASSERT_TRUE(workspaceWindows().empty());
    store.update(&AppPreferences::logDays, int64_t{90});
    open({second});
    EXPECT_EQ(flow.incoming.get()->settings.historyDays, 90);
    EXPECT_EQ(flow.expected.logDays, 90);
    EXPECT_EQ(workspaceWindows().size(), 1u);

    // A file that cannot be read: the sentence, the pending import kept, the
    // window in front rather than a new one.
    const fs::path wrong = tmp / "files" / "settings.json";
    fs::copy_file(first, wrong);
    open({wrong});
    EXPECT_EQ(flow.message.get(), SettingsFlow::readFailure);
    EXPECT_EQ(flow.incoming.get()->settings.historyDays, 90);
    EXPECT_EQ(workspaceWindows().size(), 1u);
}
