#include <gtest/gtest.h>
#include <gtkmm/entry.h>
#include <gtkmm/filechooser.h>

#include <functional>

#include "gui/GtkConfirmation.hpp"
#include "support/RasterFiles.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/app/AppCommands.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/web/WebWorkspaceContent.hpp"
#include "workspace/window/WindowFixture.hpp"
#include "workspace/windows/WorkspaceView.hpp"

// Last: its macros clash with the C++ wrappers' names.
#include <gdk/x11/gdkx.h>

// The menu commands through their keys, typed with xdotool into real
// windows of the application launched in this process: what each does in
// each section, with the web view and with a text field holding the focus.
// One application per process (GIO keeps its bus object): one test.

using namespace velmora;
using namespace std::chrono_literals;
using test::spinFor;
using test::spinUntil;
using Section = WindowModel::Section;

namespace {

bool shell(const std::string& command) { return std::system(command.c_str()) == 0; }

unsigned long xidOf(Gtk::Window& window) {
    GdkSurface* surface = gtk_native_get_surface(GTK_NATIVE(window.gobj()));
    return surface && GDK_IS_X11_SURFACE(surface) ? gdk_x11_surface_get_xid(surface) : 0;
}

std::vector<Gtk::Window*> fileChoosers() {
    std::vector<Gtk::Window*> found;
    for (auto* window : test::visibleWindows()) {
        if (GTK_IS_FILE_CHOOSER(window->gobj())) found.push_back(window);
    }
    return found;
}

// The application's menu bar inside a window; null without one.
GtkWidget* menuBarOf(GtkWidget* widget) {
    if (GTK_IS_POPOVER_MENU_BAR(widget)) return widget;
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        if (GtkWidget* found = menuBarOf(child)) return found;
    }
    return nullptr;
}

class MenuKeysTest : public test::WindowFixture {
protected:
    MenuKeysTest() {
        app.services = [this]() -> AppServices& { return *services; };
        app.launchSteps = [](AppServices&) { return LaunchSequence::Steps{}; };
        app.application()->register_application();
        app.application()->activate();
    }

    WorkspaceWindows& set() { return *app.windows(); }
    WorkspaceWindow& current() { return *set().current(); }

    // Types keys (xdotool's names, "ctrl+shift+t") into the window, which
    // takes the keyboard focus first, then lets the main loop take them:
    // until `done` holds (bounded), or, for a key that must do nothing, for
    // a while.
    void type(WorkspaceWindow& window, const std::string& keys, const std::function<bool()>& done = {}) {
        ASSERT_TRUE(spinUntil([&] { return window.window().get_mapped(); }));
        const auto xid = std::to_string(xidOf(window.window()));
        ASSERT_TRUE(shell("timeout 10 xdotool windowfocus --sync " + xid + " key --clearmodifiers " + keys)) << keys;
        ASSERT_TRUE(spinUntil([&] { return window.window().is_active(); }));
        if (done) {
            EXPECT_TRUE(spinUntil(done)) << keys;
        } else {
            spinFor(300ms);
        }
    }

    Gtk::Entry& address(WorkspaceWindow& window) {
        auto* entry = dynamic_cast<Gtk::Entry*>(test::findByName(window.window(), WebWorkspaceContent::addressName));
        EXPECT_NE(entry, nullptr);
        return *entry;
    }
    static bool focused(Gtk::Widget& widget) {
        auto* root = dynamic_cast<Gtk::Window*>(widget.get_root());
        for (Gtk::Widget* w = root ? root->get_focus() : nullptr; w; w = w->get_parent()) {
            if (w == &widget) return true;
        }
        return false;
    }

    // The two holders of the keyboard the commands must get past.
    enum class Focus { webView, entry };
    void focus(WorkspaceWindow& window, Focus where) {
        window.window().present();
        if (where == Focus::webView) {
            GtkWidget* view = GTK_WIDGET(window.model()->browser().webView());
            ASSERT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(view); }));
            ASSERT_TRUE(gtk_widget_grab_focus(view));
            ASSERT_TRUE(spinUntil([&] { return gtk_widget_has_focus(view); }));
        } else {
            auto& entry = address(window);
            ASSERT_TRUE(spinUntil([&] { return entry.get_mapped(); }));
            ASSERT_TRUE(entry.grab_focus());
            ASSERT_TRUE(spinUntil([&] { return focused(entry); }));
        }
    }

    BrindlexApp app{Gio::Application::Flags::NON_UNIQUE};
};

}  // namespace

TEST_F(MenuKeysTest, EveryCommandAnswersItsKeyInItsSectionWhateverHoldsTheFocus) {
    ASSERT_NE(app.windows(), nullptr);
    ASSERT_EQ(set().windows().size(), 1u);
    auto& window = current();
    auto& model = *window.model();

    // The launch gave the desktop's own close its key; the menu bar is
    // the table's.
    const auto closeKeys = app.application()->get_accels_for_action(AppCommands::windowClose);
    ASSERT_EQ(closeKeys.size(), 1u);
    guint key = 0;
    Gdk::ModifierType mods{};
    ASSERT_TRUE(gtk_accelerator_parse(closeKeys[0].c_str(), &key, reinterpret_cast<GdkModifierType*>(&mods)));
    EXPECT_EQ(key, GDK_KEY_w);
    EXPECT_EQ(mods, Gdk::ModifierType::CONTROL_MASK | Gdk::ModifierType::SHIFT_MASK);
    EXPECT_EQ(app.application()->get_menubar(), app.menubar());
    EXPECT_TRUE(window.window().get_show_menubar());
    EXPECT_EQ(Gtk::Window::get_default_icon_name().raw(), ProductBrand::current().bundleIdentifier);

    server.html("/other", test::page("他"));
    load(model, "/page");


    for (const Focus where : {Focus::webView, Focus::entry}) {
        SCOPED_TRACE(where == Focus::webView ? "web view focused" : "entry focused");
        // New tabs, normal and private, each selected.
        std::size_t count = model.tabs.get().size();
        focus(window, where);
        type(window, "ctrl+t", [&] { return model.tabs.get().size() == count + 1; });
        ASSERT_EQ(model.tabs.get().size(), count + 1);
        EXPECT_EQ(model.selectedTab(), model.tabs.get().back());
        EXPECT_FALSE(model.privateMode());
        focus(window, where);
        type(window, "ctrl+shift+t", [&] { return model.tabs.get().size() == count + 2; });
        ASSERT_EQ(model.tabs.get().size(), count + 2);
        EXPECT_TRUE(model.privateMode());

        // Cycling wraps both ways, by brackets and by page keys.
        auto tabs = model.tabs.get();
        focus(window, where);
        type(window, "ctrl+shift+bracketright", [&] { return model.selectedTabID.get() == tabs.front()->id; });
        EXPECT_EQ(model.selectedTabID.get(), tabs.front()->id);
        focus(window, where);
        type(window, "ctrl+shift+bracketleft", [&] { return model.selectedTabID.get() == tabs.back()->id; });
        EXPECT_EQ(model.selectedTabID.get(), tabs.back()->id);
        focus(window, where);
        type(window, "ctrl+Page_Down", [&] { return model.selectedTabID.get() == tabs.front()->id; });
        EXPECT_EQ(model.selectedTabID.get(), tabs.front()->id);
        focus(window, where);
        type(window, "ctrl+Page_Up", [&] { return model.selectedTabID.get() == tabs.back()->id; });
        EXPECT_EQ(model.selectedTabID.get(), tabs.back()->id);

        // Ctrl+W closes the selected tab only: the two new ones.
        focus(window, where);
        type(window, "ctrl+w", [&] { return model.tabs.get().size() == count + 1; });
        ASSERT_EQ(model.tabs.get().size(), count + 1);
        model.selectTab(tabs[tabs.size() - 2]->id, true);
        focus(window, where);
        type(window, "ctrl+w", [&] { return model.tabs.get().size() == count; });
        ASSERT_EQ(model.tabs.get().size(), count);
        EXPECT_EQ(model.tabs.get().front(), tabs.front());
        EXPECT_EQ(set().windows().size(), 1u);
        model.selectTab(tabs.front()->id, true);

        // Ctrl+L: the address field takes the keyboard.
        focus(window, where);
        const UUID request = model.addressFocusRequest.get();
        if (where == Focus::entry) window.window().unset_focus();
        type(window, "ctrl+l", [&] { return model.addressFocusRequest.get() != request; });
        EXPECT_NE(model.addressFocusRequest.get(), request);
        EXPECT_TRUE(spinUntil([&] { return focused(address(window)); }));

        // Ctrl+R and F5 load the page again; nothing during a save.
        int requests = server.requests("/page");
        focus(window, where);
        type(window, "ctrl+r", [&] { return server.requests("/page") == requests + 1; });
        EXPECT_TRUE(spinUntil([&] { return server.requests("/page") == requests + 1; }));
        ASSERT_TRUE(spinUntil([&] { return !model.browser().loading.get(); }));
        focus(window, where);
        type(window, "F5", [&] { return server.requests("/page") == requests + 2; });
        EXPECT_TRUE(spinUntil([&] { return server.requests("/page") == requests + 2; }));
        ASSERT_TRUE(spinUntil([&] { return !model.browser().loading.get(); }));
        auto& tab = *model.selectedTab();
        // While the save runs the page and the address bar take no focus:
        // the key goes to whatever holds it.
        startHeldCapture(tab, where == Focus::webView ? "/held-1.png" : "/held-2.png");
        requests = server.requests("/page");
        type(window, "ctrl+r");
        type(window, "F5");
        spinFor(300ms);
        EXPECT_EQ(server.requests("/page"), requests);
        endHeldCapture(tab, where == Focus::webView ? "/held-1.png" : "/held-2.png");

        // The OCR commands are not the web section's.
        const std::size_t asked = chooser.requests.size();
        focus(window, where);
        type(window, "ctrl+o");
        type(window, "ctrl+s");
        spinFor(200ms);
        EXPECT_TRUE(fileChoosers().empty());
        EXPECT_EQ(chooser.requests.size(), asked);

        // Ctrl+, : the settings section; then back.
        focus(window, where);
        type(window, "ctrl+comma", [&] { return model.section.get() == Section::settings; });
        EXPECT_EQ(model.section.get(), Section::settings);
        model.section = Section::web;
    }

    // The history section: no new tab; Ctrl+W closes the window, after its
    // question while its work runs. A second window keeps this one from
    // being the last.
    type(window, "ctrl+n", [&] { return set().windows().size() == 2; });
    ASSERT_EQ(set().windows().size(), 2u);
    auto& second = *set().windows().at(set().order().back());
    second.model()->section = Section::history;
    const std::size_t tabCount = second.model()->tabs.get().size();
    type(second, "ctrl+t");
    type(second, "ctrl+shift+t");
    EXPECT_EQ(second.model()->tabs.get().size(), tabCount);
    // Cycling does nothing outside the web section either.
    const UUID selected = second.model()->selectedTabID.get();
    type(second, "ctrl+Page_Down");
    EXPECT_EQ(second.model()->selectedTabID.get(), selected);

    // Help (F1) over the current window.
    type(second, "F1", [] { return test::findByName(WorkspaceWindows::helpDialogName) != nullptr; });
    Gtk::Widget* help = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (help = test::findByName(WorkspaceWindows::helpDialogName)) != nullptr; }));
    dynamic_cast<Gtk::Window&>(*help).close();

    // The OCR section: open, search and save act on the window's queue.
    second.model()->section = Section::ocr;
    bool searched = false;
    auto& queue = *second.model()->queue;
    auto watch = queue.changed.connect([&] { searched = searched || queue.focusSearch.get(); });
    type(second, "ctrl+f", [&] { return searched; });
    EXPECT_TRUE(searched);
    watch.disconnect();
    type(second, "ctrl+o", [] { return fileChoosers().size() == 1; });
    ASSERT_TRUE(spinUntil([&] { return fileChoosers().size() == 1; }));
    fileChoosers()[0]->close();
    ASSERT_TRUE(spinUntil([&] { return fileChoosers().empty(); }));
    const std::filesystem::path png = dir / "page.png";
    test::writePNG(png, 40, 30, 3, [](int, uint8_t* row) { std::fill(row, row + 40 * 3, 0xff); });
    queue.select({png}, nullptr);
    ASSERT_TRUE(queue.engine);
    const std::size_t asked = chooser.requests.size();
    chooser.answer = std::nullopt;
    // Nothing is read yet: the save says so instead of asking for a folder.
    type(second, "ctrl+s", [&] { return queue.status.get() == QueueController::nothingReadSentence; });
    EXPECT_EQ(chooser.requests.size(), asked);

    // Closing the window from the history section while a download runs:
    // the question first, then the window goes.
    second.model()->section = Section::web;
    auto& busyTab = *second.model()->selectedTab();
    test::WebTestServer::Stream slow;
    slow.length = 1 << 20;
    slow.chunk = 1024;
    slow.interval = 50ms;
    slow.headers = {{"Content-Disposition", "attachment; filename=velmora-" + UUID::random().text() + ".bin"}};
    server.stream("/slow.bin", slow);
    chooser.answer = out;
    busyTab.browser->navigate(server.url("/slow.bin"));
    ASSERT_TRUE(spinUntil([&] { return busyTab.active(); }));
    second.model()->section = Section::history;
    const UUID secondID = second.model()->id;
    type(second, "ctrl+w");
    EXPECT_TRUE(test::answerMessageDialog(WorkspaceWindow::runningQuestion, GtkConfirmation::secondButton));
    EXPECT_TRUE(spinUntil([&] { return !set().windows().contains(secondID); }, 30s));

    // Ctrl+Shift+W is the desktop's own close: an idle window goes at once.
    type(window, "ctrl+n", [&] { return set().windows().size() == 2; });
    ASSERT_EQ(set().windows().size(), 2u);
    auto& third = *set().windows().at(set().order().back());
    const UUID thirdID = third.model()->id;
    third.model()->section = Section::web;
    focus(third, Focus::entry);
    type(third, "ctrl+shift+w", [&] { return !set().windows().contains(thirdID); });
    EXPECT_TRUE(spinUntil([&] { return !set().windows().contains(thirdID); }));

    // A window restored from the last quit has the menu bar as every
    // window has.
    RestoredWindow restored{UUID::random(), {RestoredTab{UUID::random(), server.url("/other"), false}}, UUID()};
    restored.selected = restored.tabs[0].id;
    auto* reopened = set().open(restored);
    ASSERT_NE(reopened, nullptr);
    EXPECT_TRUE(reopened->window().get_show_menubar());
    GtkWidget* menuBar = nullptr;
    EXPECT_TRUE(spinUntil([&] {
        menuBar = menuBarOf(GTK_WIDGET(reopened->window().gobj()));
        return menuBar && gtk_widget_get_mapped(menuBar);
    }));
    const UUID reopenedID = reopened->model()->id;
    reopened->window().close();
    EXPECT_TRUE(spinUntil([&] { return !set().windows().contains(reopenedID); }));

    // Ctrl+Q asks the window set: nothing runs, so it quits.
    type(window, "ctrl+q", [&] { return set().terminating(); });
    EXPECT_TRUE(set().terminating());
}
