#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/box.h>

#include <memory>
#include <stdexcept>

#include "support/web/WebTestWindow.hpp"
#include "workspace/web/WebSurface.hpp"
#include "workspace/window/WindowFixture.hpp"

// A tab's web view placed by its surface: the pane built again after a
// change of the window's model gives the surface the same session, and the
// page, its scroll position and its view stay; a frame never gets a second
// parent.

using namespace velmora;
using namespace std::chrono_literals;
using test::spinUntil;

namespace {

class WebSurfaceTest : public test::WindowFixture {
protected:
    WebSurfaceTest() {
        server.html("/long", test::page("長いページ", "<div style='height:6000px'>上から下まで続く記事</div>"));
    }
    bool parentIs(BrowserSession& session, Gtk::Widget& parent) {
        return gtk_widget_get_parent(GTK_WIDGET(session.frame().gobj())) == GTK_WIDGET(parent.gobj());
    }
};

}  // namespace

TEST_F(WebSurfaceTest, BuildingThePaneAgainKeepsTheFramePageAndScrollPosition) {
    auto model = makeModel();
    auto tab = model->selectedTab();
    WebKitWebView* view = tab->browser->webView();
    auto surface = std::make_unique<WebSurface>(tab->browser);
    ASSERT_TRUE(parentIs(*tab->browser, *surface));
    test::WebTestWindow shown(*surface, 900, 700);
    ASSERT_TRUE(shown.waitUntilShown());
    load(*model, "/long");
    EXPECT_EQ(run(*tab, "window.scrollTo(0, 1200); window.scrollY"), "1200");

    // Every change of the window's model builds the pane again, as the web
    // pane does.
    int rebuilt = 0;
    auto rebuild = model->changed.connect([&] {
        surface->show(model->selectedTab()->browser);
        ++rebuilt;
    });
    model->widthMode = "custom";
    model->scale = 2;
    model->panel = AppPreferences::Panel::bottom;
    test::spinFor(100ms);
    rebuild.disconnect();
    EXPECT_GE(rebuilt, 3);
    EXPECT_EQ(surface->frame(), &tab->browser->frame());
    EXPECT_EQ(surface->session(), tab->browser);
    EXPECT_EQ(tab->browser->webView(), view);
    EXPECT_EQ(tab->browser->frame().child(), GTK_WIDGET(view));
    EXPECT_EQ(run(*tab, "window.scrollY"), "1200");
    EXPECT_EQ(tab->browser->currentURL.get(), server.url("/long"));
    EXPECT_EQ(server.requests("/long"), 1);

    // A frame has one parent: a second surface for the session is refused
    // and leaves the first as it was.
    EXPECT_THROW(WebSurface second(tab->browser), std::logic_error);
    EXPECT_TRUE(parentIs(*tab->browser, *surface));

    // A surface that goes gives the frame back unplaced, the page loaded; a
    // new surface for the tab shows the same page where it was.
    shown.window().unset_child();
    surface.reset();
    EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(tab->browser->frame().gobj())), nullptr);
    WebSurface again(tab->browser);
    test::WebTestWindow shownAgain(again, 900, 700);
    ASSERT_TRUE(shownAgain.waitUntilShown());
    EXPECT_EQ(run(*tab, "window.scrollY"), "1200");
    EXPECT_EQ(server.requests("/long"), 1);
}

TEST_F(WebSurfaceTest, ASurfaceGivenAnotherSessionShowsItsFrameInstead) {
    auto model = makeModel();
    auto first = model->selectedTab();
    auto second = model->addTab(false);
    WebSurface surface(first->browser);
    surface.show(second->browser);
    EXPECT_TRUE(parentIs(*second->browser, surface));
    EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(first->browser->frame().gobj())), nullptr);
    EXPECT_EQ(gtk_widget_get_first_child(GTK_WIDGET(surface.gobj())), GTK_WIDGET(second->browser->frame().gobj()));
    EXPECT_EQ(gtk_widget_get_next_sibling(GTK_WIDGET(second->browser->frame().gobj())), nullptr);

    // A session whose frame stands elsewhere is refused, and the surface
    // keeps what it showed.
    WebSurface other(first->browser);
    EXPECT_THROW(surface.show(first->browser), std::logic_error);
    EXPECT_TRUE(parentIs(*second->browser, surface));
}

TEST_F(WebSurfaceTest, ASessionThatGoesFirstLeavesTheSurfaceEmpty) {
    auto session = std::make_shared<BrowserSession>(true, test::sharedEphemeralStore());
    WebSurface surface(session);
    ASSERT_NE(surface.frame(), nullptr);
    session.reset();
    EXPECT_EQ(surface.session(), nullptr);
    EXPECT_EQ(surface.frame(), nullptr);
    EXPECT_EQ(gtk_widget_get_first_child(GTK_WIDGET(surface.gobj())), nullptr);
}

TEST_F(WebSurfaceTest, AManagedSurfaceGivesTheFrameBackWhenItsWindowGoes) {
    auto model = makeModel();
    auto tab = model->selectedTab();
    {
        Gtk::Window window;
        auto& box = *Gtk::make_managed<Gtk::Box>();
        box.append(*Gtk::make_managed<WebSurface>(tab->browser));
        window.set_child(box);
        window.present();
        ASSERT_TRUE(spinUntil([&] { return window.get_mapped(); }));
        window.destroy();
    }
    test::spinFor(50ms);
    EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(tab->browser->frame().gobj())), nullptr);
    // The tab's next surface takes it.
    WebSurface again(tab->browser);
    EXPECT_TRUE(parentIs(*tab->browser, again));
}
