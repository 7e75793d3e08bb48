#pragma once

#include <memory>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/droptarget.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/widget.h>

#include "foundation/SettingsStore.hpp"
#include "ocrqueue/QueueController.hpp"
#include "ocrviews/IdleRefresh.hpp"
#include "ocrviews/OCRControlPanel.hpp"
#include "ocrviews/OCROptionRows.hpp"
#include "ocrviews/OCRSplit.hpp"

namespace velmora {

class OCRPage;

// The OCR section of a workspace window: a page that scrolls both ways,
// holding the queue panel (while the controller's `processingList` is on),
// the recovery banner, the control panel, the split of source and result,
// and the option rows. The pane starts no work of its own: every control
// calls the window's controller, and the pane keeps only view-local values
// (the preferred source width, the drop hover, the search focus hand-over).
//
// Layout: the pane takes its size (W, H) from its allocation. The page's
// width (max(W − 24, 680)), the compact rows (W < 900) and the split's
// least height are applied on idle after a change of size, never inside the
// allocation, so a resize across a threshold lays out once more and stops.
// The page is at least as high as the pane, and the split takes the height
// the other rows leave: the page image and the result text grow with the
// window, and the option rows stay right under them.
//
// The preferred source width comes from the settings on creation, follows
// every later change of that preference, follows a drag of the divider at
// once and is written to the settings only when the drag ends.
//
// Files dropped anywhere on the pane go to the controller's `receiveDrop`.
class OCRProductView : public Gtk::Widget {
public:
    static constexpr const char* scrollName = "ocr.workspace.scroll";
    static constexpr const char* queueSlotName = "ocr.queue";
    static constexpr const char* bannerName = "ocr.recovery";
    static constexpr const char* bannerTextName = "ocr.recovery.text";
    static constexpr const char* bannerShowName = "ocr.recovery.show";
    static constexpr const char* bannerLaterName = "ocr.recovery.later";
    // The style class painting the drop hover.
    static constexpr const char* targetedClass = "ocr-drop-targeted";

    OCRProductView(std::shared_ptr<QueueController> model, SettingsStore& settings);
    ~OCRProductView() override;
    OCRProductView(const OCRProductView&) = delete;
    OCRProductView& operator=(const OCRProductView&) = delete;

    // The view-local state.
    double preferred() const noexcept { return preferred_; }
    bool targeted() const noexcept { return targeted_; }
    // The layout applied last: the page's content width, compact or not.
    int contentWidth() const noexcept { return contentWidth_; }
    bool compact() const noexcept { return compact_; }
    // Whether a layout for a new size waits for its idle turn.
    bool layoutPending() const noexcept { return layout_.pending(); }

    OCRControlPanel& controlPanel() { return panel_; }
    OCRSplit& split() { return split_; }
    OCROptionRows& optionRows() { return options_; }
    Gtk::ScrolledWindow& scroller() { return scroll_; }
    const Glib::RefPtr<Gtk::DropTarget>& dropTarget() const noexcept { return drop_; }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override;
    void size_allocate_vfunc(int width, int height, int baseline) override;

private:
    void unplace();
    void buildBanner();
    void setUpDrop();
    void setPreferred(double preferred);
    void dragged(double preferred, bool finished);
    void layOut();
    // The split's least height now: what the other rows leave, up to half
    // the pane (PaneLayout::splitMinimum).
    double splitHeight() const;
    void refresh();

    std::shared_ptr<QueueController> model_;
    SettingsStore& settings_;

    Gtk::ScrolledWindow scroll_;
    OCRPage* page_ = nullptr;
    Gtk::Box stack_{Gtk::Orientation::VERTICAL, 8};
    Gtk::Box queueSlot_{Gtk::Orientation::VERTICAL, 0};
    Gtk::Widget* queueView_ = nullptr;
    Gtk::Box banner_{Gtk::Orientation::HORIZONTAL, 8};
    OCRControlPanel panel_;
    OCRSplit split_;
    OCROptionRows options_;

    Glib::RefPtr<Gtk::DropTarget> drop_;

    double preferred_ = 360;
    bool targeted_ = false;
    int width_ = -1;
    int height_ = -1;
    int contentWidth_ = 0;
    bool compact_ = false;

    sigc::connection changed_;
    sigc::connection preferenceChanged_;
    IdleRefresh layout_{[this] { layOut(); }};
    IdleRefresh refresh_{[this] { refresh(); }};
};

}  // namespace velmora
