#pragma once

// What the web pane's tests share: the window model's fixture, the status
// row, the other tabs' strips and the control panel shown in a window of
// their own as the pane stacks them, a desktop that copies to the display's
// real clipboard but only records what it is asked to open, and real saves
// of loopback pages held back by an image the server keeps.

#include <gdkmm/clipboard.h>
#include <gdkmm/display.h>
#include <gtkmm/box.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/window.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/DesktopActions.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/web/CapturePanel.hpp"
#include "workspace/web/CaptureStatusRow.hpp"
#include "workspace/web/OtherTabSaveStrips.hpp"
#include "workspace/web/WebWorkspaceContent.hpp"
#include "workspace/window/WindowFixture.hpp"

namespace velmora::test {

class TestDesktop final : public DesktopActions {
public:
    std::vector<std::filesystem::path> opened;
    std::vector<std::filesystem::path> revealed;
    bool open(const std::filesystem::path& file) override {
        opened.push_back(file);
        return true;
    }
    void reveal(const std::filesystem::path& file) override { revealed.push_back(file); }
    void copyText(const std::string& text) override { clipboard_.copyText(text); }

private:
    GtkDesktopActions clipboard_;
};

// The pane's pieces over one model, top to bottom.
class PaneWindow {
public:
    PaneWindow(std::shared_ptr<WindowModel> model, DesktopActions& desktop, int width = 1100, int height = 900)
        : box(Gtk::Orientation::VERTICAL, 0), status(model, desktop), strips(model), panel(std::move(model)) {
        box.append(status);
        box.append(strips);
        box.append(panel);
        window.set_child(box);
        window.set_default_size(width, height);
        window.present();
    }
    ~PaneWindow() { window.destroy(); }
    bool shown() {
        return spinUntil([&] { return window.get_mapped() && panel.get_width() > 0; });
    }

    Gtk::Window window;
    Gtk::Box box;
    CaptureStatusRow status;
    OtherTabSaveStrips strips;
    CapturePanel panel;
};

// The whole pane in a window of its own.
class ContentWindow {
public:
    ContentWindow(std::shared_ptr<WindowModel> model, DesktopActions& desktop, int width, int height)
        : content(std::move(model), desktop) {
        window.set_child(content);
        window.set_default_size(width, height);
        window.present();
    }
    ~ContentWindow() { window.destroy(); }
    bool shown() {
        return spinUntil([&] { return window.get_mapped() && content.get_width() > 0; });
    }
    // Until the window's layout meets the condition.
    bool settled(const std::function<bool()>& condition) { return spinUntil(condition, 10s); }

    Gtk::Window window;
    WebWorkspaceContent content;
};

class WebPaneFixture : public WindowFixture {
protected:
    // The user answers the save request's folder question with the
    // approved output folder.
    WebPaneFixture() { chooser.answer = out; }

    template <typename T = Gtk::Widget>
    static T* named(Gtk::Widget& root, const std::string& name) {
        return dynamic_cast<T*>(findByName(root, name));
    }
    // Shown: the widget and every ancestor visible.
    static bool shownNow(Gtk::Widget* widget) {
        for (Gtk::Widget* w = widget; w; w = w->get_parent()) {
            if (!w->get_visible()) return false;
        }
        return widget != nullptr;
    }
    // The first widget of that name that is shown (the status row and the
    // panel both have save buttons; one of them is hidden).
    static Gtk::Widget* shownNamed(Gtk::Widget& root, const std::string& name) {
        if (root.get_name().raw() == name && shownNow(&root)) return &root;
        for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
            if (Gtk::Widget* found = shownNamed(*child, name)) return found;
        }
        return nullptr;
    }
    // A click as the user gives it from the keyboard: only on a button that
    // is shown and sensitive. The toolkit lets the button look pressed for a
    // moment before it reports the click; this returns once it has.
    static void click(Gtk::Widget* widget) {
        auto* button = dynamic_cast<Gtk::Button*>(widget);
        ASSERT_NE(button, nullptr);
        // The button may go in its own click (a strip whose save it ends).
        const std::string name = button->get_name();
        ASSERT_TRUE(shownNow(button)) << name;
        ASSERT_TRUE(button->is_sensitive()) << name;
        // A button that is not on screen yet takes no click.
        ASSERT_TRUE(spinUntil([&] { return button->get_mapped(); })) << name;
        bool clicked = false;
        // Before the button's own handlers, which may take it away.
        sigc::connection connection = button->signal_clicked().connect([&] { clicked = true; }, false);
        button->activate();
        const bool done = spinUntil([&] { return clicked; }, 5s);
        if (!done) connection.disconnect();
        ASSERT_TRUE(done) << name;
    }
    // Return in a text field.
    static void pressReturn(Gtk::Entry& entry) {
        // The entry's text part takes the key and announces it as its
        // "activate", which the entry passes on as its own.
        GtkWidget* text = gtk_widget_get_first_child(GTK_WIDGET(entry.gobj()));
        while (text && !GTK_IS_TEXT(text)) text = gtk_widget_get_next_sibling(text);
        ASSERT_NE(text, nullptr);
        g_signal_emit_by_name(text, "activate");
    }

    // Holds the loaded page's next save back: the page gets an image the
    // server keeps, which a capture waits for.
    void holdPage(BrowserTab& tab, const std::string& image) {
        server.held(image, "no image");
        run(tab, "document.body.insertAdjacentHTML('beforeend','<img src=" + image + " width=10 height=10>');true");
        ASSERT_TRUE(spinUntil([&] { return server.requests(image) > 0; }));
    }
    // The held capture of the tab started through the save button given,
    // and waiting for its image.
    void startHeldSave(WindowModel& model, BrowserTab& tab, Gtk::Widget* button,
                       const std::string& image = "/held.png") {
        holdPage(tab, image);
        click(button);
        ASSERT_TRUE(spinUntil([&] { return tab.browser->hasPendingOperation(); })) << model.message.get();
        ASSERT_TRUE(spinUntil([&] { return tab.browser->stage.get() == "下部の画像を読み込み中"; }, 30s));
    }

    // The display's clipboard as text.
    static std::string clipboardText() {
        auto clipboard = Gdk::Display::get_default()->get_clipboard();
        std::optional<std::string> text;
        clipboard->read_text_async([&](Glib::RefPtr<Gio::AsyncResult>& result) {
            try {
                text = clipboard->read_text_finish(result).raw();
            } catch (const Glib::Error&) {
                text = "";
            }
        });
        spinUntil([&] { return text.has_value(); });
        return text.value_or("");
    }

    TestDesktop desktop;
};

}  // namespace velmora::test
