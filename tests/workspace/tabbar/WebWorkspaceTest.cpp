#include <gtest/gtest.h>
#include <gtkmm/entry.h>

#include "workspace/WebWorkspace.hpp"
#include "workspace/WebWorkspaceContent.hpp"
#include "workspace/tabbar/TabBarFixture.hpp"

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
