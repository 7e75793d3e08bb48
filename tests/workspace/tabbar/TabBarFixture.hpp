#pragma once

// What the tab bar's and the strips' tests share: the bar, the OCR strip and
// the web strips over one window model in a window of their own, the menus'
// entries read from the popovers as the user sees them and chosen there,
// and print-style saves held at a stage of the test's choosing.

#include <gtk/gtk.h>
#include <gtkmm/label.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/popover.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/PrintOptions.hpp"
#include "workspace/web/ActivityStrips.hpp"
#include "workspace/web/BrowserTabBar.hpp"
#include "workspace/webpane/WebPaneFixture.hpp"

namespace velmora::test {

class BarWindow {
public:
    explicit BarWindow(const std::shared_ptr<WindowModel>& model)
        : box(Gtk::Orientation::VERTICAL, 0),
          bar(model),
          queueStrip(model->queue, [model] { model->section = WindowModel::Section::ocr; }),
          webStrips(model) {
        box.append(bar);
        box.append(queueStrip);
        box.append(webStrips);
        window.set_child(box);
        window.set_default_size(1100, 400);
        window.present();
    }
    ~BarWindow() { window.destroy(); }
    bool shown() {
        return spinUntil([&] { return window.get_mapped() && bar.get_width() > 0; });
    }

    Gtk::Window window;
    Gtk::Box box;
    BrowserTabBar bar;
    QueueActivityStrip queueStrip;
    WebActivityStrips webStrips;
};

// A print-style save that waits at one stage until the test lets it on.
struct PrintHold {
    std::optional<PrintOptions::Stage> holdAt;
    std::optional<PrintOptions::Stage> reached;
};

class TabBarFixture : public WebPaneFixture {
protected:
    // The first shown label under a widget, depth first.
    static Gtk::Label* labelIn(Gtk::Widget& root) {
        if (!root.get_visible()) return nullptr;
        if (auto* label = dynamic_cast<Gtk::Label*>(&root)) return label;
        for (auto* child = root.get_first_child(); child; child = child->get_next_sibling()) {
            if (auto* found = labelIn(*child)) return found;
        }
        return nullptr;
    }
    // What a tab's select button reads: its shown labels, in order.
    static std::string itemText(BrowserTabBar& bar, const UUID& tabID) {
        auto* button = named(bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, tabID));
        if (!button) return "<no item>";
        std::string text;
        for (const auto& part : texts(button->gobj())) text += part;
        return text;
    }
    // The first label shown after `widget` among its siblings: a title's
    // tail stands between it and the busy mark only for a title that has one.
    static Gtk::Label* nextShown(Gtk::Widget& widget) {
        for (auto* next = widget.get_next_sibling(); next; next = next->get_next_sibling()) {
            if (next->get_visible()) return dynamic_cast<Gtk::Label*>(next);
        }
        return nullptr;
    }
    // The part of a select button that holds its icon and text, between
    // its bounds.
    static Gtk::Widget* labelArea(BrowserTabBar& bar, const UUID& tabID) {
        auto* button = named(bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, tabID));
        return button ? button->get_first_child() : nullptr;
    }

    // The texts a popover shows now, in its order (the menus' own entries,
    // as drawn: mnemonic marks are not part of a label's text).
    static std::vector<std::string> texts(GtkWidget* root) {
        std::vector<std::string> found;
        collect(root, found);
        return found;
    }
    // The menu entry of a shown popover that reads `text`; null if none.
    static GtkWidget* entry(GtkWidget* popover, const std::string& text) {
        GtkWidget* label = findLabel(popover, text);
        for (GtkWidget* w = label; w && w != popover; w = gtk_widget_get_parent(w)) {
            if (std::string(G_OBJECT_TYPE_NAME(w)) == "GtkModelButton") return w;
        }
        return nullptr;
    }
    // Chooses the entry as a click does: the entry's activation.
    static bool choose(GtkWidget* popover, const std::string& text) {
        GtkWidget* button = entry(popover, text);
        if (!button) return false;
        return gtk_widget_activate(button);
    }

    // "タブ一覧"'s popover, opened and shown.
    static GtkWidget* openList(BrowserTabBar& bar) {
        auto* button = named<Gtk::MenuButton>(bar, BrowserTabBar::listName);
        button->popup();
        GtkWidget* popover = GTK_WIDGET(button->get_popover()->gobj());
        spinUntil([&] { return gtk_widget_get_mapped(popover); });
        return popover;
    }
    // A tab item's context menu, as the right click opened it.
    static GtkWidget* contextPopover(BrowserTabBar& bar, const UUID& tabID) {
        auto* item = named(bar, BrowserTabBar::nameFor(BrowserTabBar::itemPrefix, tabID));
        if (!item) return nullptr;
        for (auto* child = item->get_first_child(); child; child = child->get_next_sibling()) {
            if (GTK_IS_POPOVER(child->gobj())) return GTK_WIDGET(child->gobj());
        }
        return nullptr;
    }
    static void closePopover(GtkWidget* popover) {
        gtk_popover_popdown(GTK_POPOVER(popover));
        spinUntil([&] { return !gtk_widget_get_mapped(popover); });
    }

    // Starts a print-style save of the tab's page (PDF only), which waits at
    // hold->holdAt for as long as it names that stage.
    static void startHeldPrint(BrowserTab& tab, std::shared_ptr<PrintHold> hold, const std::filesystem::path& folder) {
        PrintSelection selection;
        selection.output = PrintOptions::Output::pdf;
        PrintOptions options = selection.options(tab.browser->currentURL.get(), tab.browser->pageTitle.get(),
                                                 std::chrono::system_clock::now());
        options.checkpoint = [hold](PrintOptions::Stage stage) -> Task<void> {
            hold->reached = stage;
            while (hold->holdAt == stage) co_await sleepFor(std::chrono::milliseconds(10));
        };
        tab.browser->print(std::move(options), folder);
        ASSERT_TRUE(tab.browser->hasPendingOperation());
    }

private:
    static void collect(GtkWidget* widget, std::vector<std::string>& found) {
        if (!gtk_widget_get_visible(widget)) return;
        if (GTK_IS_LABEL(widget)) found.emplace_back(gtk_label_get_text(GTK_LABEL(widget)));
        for (GtkWidget* c = gtk_widget_get_first_child(widget); c; c = gtk_widget_get_next_sibling(c)) collect(c, found);
    }
    static GtkWidget* findLabel(GtkWidget* widget, const std::string& text) {
        if (GTK_IS_LABEL(widget) && text == gtk_label_get_text(GTK_LABEL(widget))) return widget;
        for (GtkWidget* c = gtk_widget_get_first_child(widget); c; c = gtk_widget_get_next_sibling(c)) {
            if (GtkWidget* found = findLabel(c, text)) return found;
        }
        return nullptr;
    }
};

}  // namespace velmora::test
