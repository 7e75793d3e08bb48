#include <gtest/gtest.h>
#include <gtkmm/entry.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/scrolledwindow.h>

#include "workspace/tabbar/TabBarFixture.hpp"
#include "workspace/web/WebWorkspace.hpp"
#include "workspace/web/WebWorkspaceContent.hpp"

// The web section's pane in a real window: the bar above the content, the
// content following the tab the bar selects, and the address field left
// without the keyboard focus when the pane appears.

using namespace velmora;
using namespace std::chrono_literals;
using test::spinUntil;

namespace {

class WebWorkspaceTest : public test::TabBarFixture {};

}  // namespace

TEST_F(WebWorkspaceTest, TheBarStandsAboveTheSelectedTabsPaneAndChoosesWhatItShows) {
    server.html("/second", test::page("二番目"));
    auto model = makeModel();
    Gtk::Window window;
    WebWorkspace pane(model, desktop);
    window.set_child(pane);
    window.set_default_size(1200, 860);
    window.present();
    ASSERT_TRUE(spinUntil([&] { return window.get_mapped() && pane.content().get_height() > 0; }));

    // Nothing focuses the address field by itself.
    auto* address = named<Gtk::Entry>(pane, WebWorkspaceContent::addressName);
    ASSERT_NE(address, nullptr);
    test::spinFor(200ms);
    EXPECT_FALSE(address->has_focus());
    EXPECT_FALSE(model->selectedTab()->editingAddress.get());

    // The bar on top, the content under it filling the rest.
    graphene_rect_t bar{}, content{};
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(pane.tabBar().gobj()), GTK_WIDGET(pane.gobj()), &bar));
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(pane.content().gobj()), GTK_WIDGET(pane.gobj()), &content));
    EXPECT_LE(bar.origin.y + bar.size.height, content.origin.y);
    EXPECT_GT(content.size.height, 600);

    // A page in the first tab, a second tab added from the bar and loaded.
    auto first = model->selectedTab();
    load(*model, "/page");
    click(named(pane.tabBar(), BrowserTabBar::addName));
    auto second = model->selectedTab();
    ASSERT_NE(second, first);
    load(*model, "/second");
    auto* firstSurface = pane.content().surface(first->id);
    auto* secondSurface = pane.content().surface(second->id);
    ASSERT_NE(firstSurface, nullptr);
    ASSERT_NE(secondSurface, nullptr);
    EXPECT_TRUE(spinUntil([&] { return pane.content().shownSurface() == secondSurface; }));
    EXPECT_EQ(address->get_text().raw(), server.url("/second"));

    // The first tab's item: its page and its address come back.
    click(named(pane.tabBar(), BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, first->id)));
    EXPECT_TRUE(spinUntil([&] { return pane.content().shownSurface() == firstSurface; }));
    EXPECT_EQ(address->get_text().raw(), server.url("/page"));
    EXPECT_FALSE(address->has_focus());
    window.destroy();
}

namespace {

// The widget that has the window's keyboard focus is the field or inside it.
bool focusIn(Gtk::Window& window, Gtk::Widget& field) {
    GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window.gobj()));
    return focus && (focus == GTK_WIDGET(field.gobj()) || gtk_widget_is_ancestor(focus, GTK_WIDGET(field.gobj())));
}

}  // namespace

TEST_F(WebWorkspaceTest, ANewTabTakesTheCaretAndTheSelectedTabStaysInView) {
    auto model = makeModel();
    Gtk::Window window;
    WebWorkspace pane(model, desktop);
    window.set_child(pane);
    window.set_default_size(1240, 850);
    window.present();
    ASSERT_TRUE(spinUntil([&] { return window.get_mapped() && pane.content().get_height() > 0; }));
    auto* address = named<Gtk::Entry>(pane, WebWorkspaceContent::addressName);
    ASSERT_NE(address, nullptr);

    // ＋ and 私用, each pressed with the keyboard focus on it as a click
    // leaves it: the caret goes to the new tab's address field, so typing
    // and Return open the address there instead of pressing the button
    // again.
    for (const char* name : {BrowserTabBar::addName, BrowserTabBar::privateName}) {
        auto* button = named(pane.tabBar(), name);
        ASSERT_NE(button, nullptr);
        button->grab_focus();
        ASSERT_TRUE(focusIn(window, *button)) << name;
        const std::size_t before = model->tabs->size();
        click(button);
        ASSERT_EQ(model->tabs->size(), before + 1) << name;
        EXPECT_TRUE(spinUntil([&] { return focusIn(window, *address); })) << name;
        GtkWidget* typed = gtk_root_get_focus(GTK_ROOT(window.gobj()));
        ASSERT_TRUE(GTK_IS_EDITABLE(typed)) << name;
        gtk_editable_set_text(GTK_EDITABLE(typed), server.url("/page").c_str());
        pressReturn(*address);
        EXPECT_EQ(model->tabs->size(), before + 1) << name;
        EXPECT_TRUE(spinUntil([&] { return model->browser().currentURL.get() == server.url("/page"); }, 30s))
            << name << ": " << model->address() << " / " << model->browser().currentURL->value_or("none") << " / "
            << model->message.get();
    }

    // More tabs than the bar holds: after each addition and each selection
    // the selected tab lies wholly inside the bar's scrolling part.
    Gtk::Widget* scroller = pane.tabBar().get_first_child();
    ASSERT_NE(scroller, nullptr);
    auto selectedInView = [&] {
        Gtk::Widget* item =
            named(pane.tabBar(), BrowserTabBar::nameFor(BrowserTabBar::itemPrefix, model->selectedTabID.get()));
        graphene_rect_t bounds{};
        if (!item || !item->get_mapped() ||
            !gtk_widget_compute_bounds(GTK_WIDGET(item->gobj()), GTK_WIDGET(scroller->gobj()), &bounds)) {
            return false;
        }
        return bounds.size.width > 0 && bounds.origin.x >= -0.5 &&
               bounds.origin.x + bounds.size.width <= scroller->get_width() + 0.5;
    };
    for (int i = 0; i < 8; ++i) {
        click(named(pane.tabBar(), BrowserTabBar::addName));
        EXPECT_TRUE(spinUntil(selectedInView)) << "after adding tab " << model->tabs->size();
    }
    auto* adjustment = dynamic_cast<Gtk::ScrolledWindow*>(scroller);
    ASSERT_NE(adjustment, nullptr);
    ASSERT_GT(adjustment->get_hadjustment()->get_upper(), adjustment->get_hadjustment()->get_page_size())
        << "the bar holds more tabs than it shows";
    // The first tab, chosen from タブ一覧's action, comes back into view;
    // then the last again.
    pane.tabBar().actions()->activate_action(BrowserTabBar::selectAction,
                                             Glib::Variant<Glib::ustring>::create(model->tabs->front()->id.text()));
    EXPECT_TRUE(spinUntil(selectedInView)) << "the first tab";
    pane.tabBar().actions()->activate_action(BrowserTabBar::selectAction,
                                             Glib::Variant<Glib::ustring>::create(model->tabs->back()->id.text()));
    EXPECT_TRUE(spinUntil(selectedInView)) << "the last tab";
    window.destroy();
}
