#pragma once

// The thin drag handle between a pane and the side panel it resizes (the web
// view and its control panel, the source page and the OCR result). It draws
// a one-pixel line across its middle, shows the resize cursor, and turns a
// drag of the primary button into a stream of proposed panel sizes
// (gui/PanelDividerDrag.hpp). The rest of its thickness is transparent grip.
//
// Pointer positions are read in the coordinates of the window's surface, not
// the widget's: the divider moves with the panel it resizes, and positions
// relative to it would feed that movement back into the drag.
// Main thread only.

#include <string>

#include <gtkmm/gesturedrag.h>
#include <gtkmm/widget.h>

#include "gui/PanelDividerDrag.hpp"

namespace velmora {

class PanelDivider : public Gtk::Widget {
public:
    static constexpr const char* defaultLabel = "Web表示と操作パネルのサイズを変更";
    static constexpr const char* tooltip = "ドラッグして操作パネルのサイズを変更（保存処理中は固定）";
    // The divider's thickness across the split, in logical pixels.
    static constexpr int thickness = 8;

    // What the owner gives the divider each time it lays out its split.
    struct Configuration {
        bool vertical = true;
        bool enabled = true;
        double size = 320;
        std::string label = defaultLabel;
        PanelDividerDrag::Changed changed;
    };

    PanelDivider();
    ~PanelDivider() override;

    // Takes the owner's current values: the accessible label, then the
    // orientation, state, size and receiver, then the cursor that follows
    // them. A drag under way keeps its origin and its starting size.
    void update(Configuration configuration);

    const PanelDividerDrag& drag() const noexcept { return drag_; }
    const std::string& label() const noexcept { return label_; }
    // The name of the pointer's cursor over the divider: "col-resize",
    // "row-resize", or "default" while disabled.
    std::string cursorName() const;

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                       int& minimum_baseline, int& natural_baseline) const override;
    void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;

private:
    // The position of the gesture's latest event in surface coordinates;
    // false when the gesture has none.
    bool eventPoint(PanelDividerDrag::Point& point) const;
    void onBegin(double, double);
    void onUpdate(double, double);
    void onEnd(double, double);

    PanelDividerDrag drag_;
    std::string label_;
    Glib::RefPtr<Gtk::GestureDrag> gesture_;
};

}  // namespace velmora
