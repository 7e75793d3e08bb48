#pragma once

#include <optional>

#include <gtkmm/widget.h>

namespace velmora {

// The widget a session's web view sits in; the window places this frame,
// never the bare view. It gives its one child its whole area, or, while a
// capture lays the page out, exactly the width asked for, centred; that width is
// also the frame's minimum, so a window too narrow for it grows. When it
// goes while still placed, it takes itself out of its parent.
class WebFrame : public Gtk::Widget {
public:
    WebFrame();
    ~WebFrame() override;

    // Replaces the child; the old one is unparented. nullptr leaves it empty.
    void setChild(GtkWidget* child);
    GtkWidget* child() const noexcept { return child_; }

    void setAllocatedWidth(std::optional<int> width);
    std::optional<int> allocatedWidth() const noexcept { return width_; }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural,
                       int& minimum_baseline, int& natural_baseline) const override;
    void size_allocate_vfunc(int width, int height, int baseline) override;

private:
    GtkWidget* child_ = nullptr;
    std::optional<int> width_;
};

}  // namespace velmora
