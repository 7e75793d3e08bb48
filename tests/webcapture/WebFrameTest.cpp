#include <gtest/gtest.h>

#include <gtkmm/box.h>
#include <gtkmm/stack.h>
#include <gtkmm/window.h>

#include <memory>

#include "support/MainLoop.hpp"
#include "webcapture/BrowserSession.hpp"

using namespace velmora;
using namespace std::chrono_literals;

// A tab may go before the window that shows it: its frame must not stay
// behind in the window's containers (a window's child slot would point at a
// widget that is gone).
TEST(WebFrame, ASessionThatGoesTakesItsFrameOutOfItsParent) {
    Gtk::Window window;
    Gtk::Box box;
    Gtk::Stack stack;
    box.append(stack);
    window.set_child(box);
    window.present();

    auto inBox = std::make_unique<BrowserSession>(true);
    auto inStack = std::make_unique<BrowserSession>(true);
    box.append(inBox->frame());
    stack.add(inStack->frame(), "web");
    test::spinFor(50ms);
    inBox.reset();
    inStack.reset();
    EXPECT_EQ(gtk_widget_get_next_sibling(GTK_WIDGET(stack.gobj())), nullptr);
    EXPECT_EQ(gtk_stack_get_child_by_name(stack.gobj(), "web"), nullptr);

    window.unset_child();
    auto alone = std::make_unique<BrowserSession>(true);
    window.set_child(alone->frame());
    test::spinFor(50ms);
    alone.reset();
    EXPECT_EQ(gtk_window_get_child(window.gobj()), nullptr);
    test::spinFor(50ms);  // the window lays out and draws without it
}
