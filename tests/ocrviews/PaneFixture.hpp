#pragma once

// The OCR pane in a presented window on a real queue controller (a fixed or
// gated recogniser, fakes for its dialogs, temporary roots) and a real
// settings store on a temporary folder; widgets are found by name.

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/widgetpaintable.h>
#include <gtkmm/window.h>

#include <array>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "ocrqueue/PortFakes.hpp"
#include "ocrqueue/RunFixtures.hpp"
#include "ocrviews/OCRProductView.hpp"
#include "support/FakeDesktopActions.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"

namespace velmora::test {

namespace fs = std::filesystem;

// A pane of a given size in a presented window. The pane asks for its size,
// so the window takes it; resizing asks again.
struct PaneWindow {
    Gtk::Window window;
    Gtk::Box box;
    OCRProductView* pane;

    PaneWindow(std::shared_ptr<QueueController> c, SettingsStore& settings, int width, int height)
        : pane(Gtk::make_managed<OCRProductView>(std::move(c), settings)) {
        pane->set_halign(Gtk::Align::START);
        pane->set_valign(Gtk::Align::START);
        box.append(*pane);
        window.set_child(box);
        window.set_default_size(width, height);
        window.present();
        resize(width, height);
    }
    ~PaneWindow() { window.destroy(); }

    void resize(int width, int height) {
        pane->set_size_request(width, height);
        if (!spinUntil([&] {
                return pane->get_mapped() && pane->get_width() == width && pane->get_height() == height &&
                       !pane->layoutPending() && !g_main_context_pending(nullptr);
            })) {
            throw std::runtime_error("the pane did not take its size");
        }
        // The layout of the new size is allocated in the next frame.
        nextFrame();
    }

    // Waits (bounded) for the window's next painted frame: every resize
    // queued before it has been allocated by then.
    void nextFrame() {
        GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj()));
        if (!clock) throw std::runtime_error("the window has no frame clock");
        long paints = 0;
        const gulong handler = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer data) {
                                                    ++*static_cast<long*>(data);
                                                }),
                                                &paints);
        pane->queue_draw();
        const bool painted = spinUntil([&] { return paints > 0; });
        g_signal_handler_disconnect(clock, handler);
        if (!painted) throw std::runtime_error("no frame was painted");
    }

    // The colour the window paints at a point of the pane, as its renderer
    // draws it now: red, green, blue.
    std::array<int, 3> paintedAt(int x, int y) {
        auto paintable = Gtk::WidgetPaintable::create(*pane);
        GtkSnapshot* snapshot = gtk_snapshot_new();
        gdk_paintable_snapshot(GDK_PAINTABLE(paintable->gobj()), snapshot, pane->get_width(), pane->get_height());
        GskRenderNode* node = gtk_snapshot_free_to_node(snapshot);
        if (!node) throw std::runtime_error("the pane painted nothing");
        GskRenderer* renderer = gtk_native_get_renderer(GTK_NATIVE(window.gobj()));
        const graphene_rect_t area = GRAPHENE_RECT_INIT(static_cast<float>(x), static_cast<float>(y), 1, 1);
        GdkTexture* texture = gsk_renderer_render_texture(renderer, node, &area);
        gsk_render_node_unref(node);
        guchar bgra[4] = {0, 0, 0, 0};
        gdk_texture_download(texture, bgra, 4);
        g_object_unref(texture);
        return {bgra[2], bgra[1], bgra[0]};
    }

    // Whether the window's focus is in the widget (an entry focuses its
    // text child).
    bool focused(Gtk::Widget& widget) {
        Gtk::Widget* focus = window.get_focus();
        return focus && (focus == &widget || gtk_widget_is_ancestor(focus->gobj(), widget.gobj()));
    }

    template <typename W>
    W& find(const char* name) {
        auto* widget = dynamic_cast<W*>(findByName(window, name));
        if (!widget) throw std::runtime_error(std::string("no widget named ") + name);
        return *widget;
    }
    Gtk::Widget& widget(const char* name) { return find<Gtk::Widget>(name); }
    // Shown: visible itself and in every ancestor up to the pane.
    bool shows(const char* name) {
        Gtk::Widget* w = findByName(window, name);
        for (; w && w != pane; w = w->get_parent()) {
            if (!w->get_visible()) return false;
        }
        return w == pane;
    }
    // Usable: sensitive itself and in every ancestor.
    bool usable(const char* name) { return widget(name).is_sensitive(); }
    std::string text(const char* name) { return find<Gtk::Label>(name).get_text(); }
};

inline void settle() { ASSERT_TRUE(spinUntil([] { return !g_main_context_pending(nullptr); }, 5s)); }

inline void press(Gtk::Widget& widget) {
    auto* button = dynamic_cast<Gtk::Button*>(&widget);
    ASSERT_TRUE(button);
    ASSERT_TRUE(button->is_sensitive());
    g_signal_emit_by_name(button->gobj(), "clicked");
}

inline std::string read(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Pane : public ::testing::Test, protected RunRoots {
protected:
    std::shared_ptr<FakeConfirmer> confirmer = std::make_shared<FakeConfirmer>();
    std::shared_ptr<FakeFilePicker> picker = std::make_shared<FakeFilePicker>();
    std::shared_ptr<FakeClipboard> clipboard = std::make_shared<FakeClipboard>();
    std::shared_ptr<FakeDesktopActions> desktop = std::make_shared<FakeDesktopActions>();
    PageGate gate;

    QueuePorts withFakes(QueuePorts ports) {
        ports.confirmer = confirmer;
        ports.filePicker = picker;
        ports.clipboard = clipboard;
        ports.desktop = desktop;
        return ports;
    }
    std::shared_ptr<QueueController> fixed() { return controller(withFakes(fakeRecognition())); }
    std::shared_ptr<QueueController> gated() { return controller(withFakes(gate.ports())); }
    std::shared_ptr<QueueController> c;
};

}  // namespace velmora::test
