#pragma once

#include <gtkmm/widget.h>

namespace velmora {

// Holds one child at most `maximum` wide, centred in whatever width it is
// given; narrower, the child takes the whole width (never less than its
// minimum). GTK has no maximum width of its own.
class WidthClamp : public Gtk::Widget {
public:
    explicit WidthClamp(int maximum);
    ~WidthClamp() override;
    WidthClamp(const WidthClamp&) = delete;
    WidthClamp& operator=(const WidthClamp&) = delete;

    // The child is placed in the clamp; a managed child is owned by it.
    void set_child(Gtk::Widget& child);
    int maximum() const noexcept { return maximum_; }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural,
                       int& minimumBaseline, int& naturalBaseline) const override;
    void size_allocate_vfunc(int width, int height, int baseline) override;

private:
    int childWidth(int available) const;

    const int maximum_;
    Gtk::Widget* child_ = nullptr;
};

}  // namespace velmora
