#pragma once

#include <functional>
#include <memory>

#include <gtkmm/widget.h>

#include "gui/PanelDivider.hpp"
#include "ocrqueue/QueueController.hpp"
#include "ocrviews/OCRResultColumn.hpp"
#include "ocrviews/OCRSourceColumn.hpp"

namespace velmora {

// The source column, the divider and the result column side by side. The
// split takes its width Ws from its allocation: the source column is
// `PaneLayout::sourceWidth(preferred, Ws)` wide, the divider 8, the result
// column the rest. A drag of the divider reports the preferred width it
// stands for; the owner decides what to keep and hands `preferred` back.
// It asks for the owner's least height (`setHeight`), never less than its
// columns need, and takes every height it is given above that.
class OCRSplit : public Gtk::Widget {
public:
    static constexpr const char* splitName = "ocr.split";
    static constexpr const char* dividerName = "ocr.divider";

    // preferred: the width the drag proposes; finished: the drag ended.
    using Dragged = std::function<void(double preferred, bool finished)>;

    explicit OCRSplit(std::shared_ptr<QueueController> controller);
    ~OCRSplit() override;
    OCRSplit(const OCRSplit&) = delete;
    OCRSplit& operator=(const OCRSplit&) = delete;

    void setPreferred(double preferred);
    double preferred() const noexcept { return preferred_; }
    void setHeight(int height);
    int height() const noexcept { return height_; }
    Dragged dragged;

    // The width of the last allocation and the widths given from it.
    int splitWidth() const noexcept { return width_; }
    int sourceWidth() const noexcept { return source_; }
    int resultWidth() const noexcept { return result_; }

    OCRSourceColumn& sourceColumn() { return sourceColumn_; }
    OCRResultColumn& resultColumn() { return resultColumn_; }
    PanelDivider& divider() { return divider_; }

protected:
    Gtk::SizeRequestMode get_request_mode_vfunc() const override;
    void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override;
    void size_allocate_vfunc(int width, int height, int baseline) override;

private:
    // The widths of the source column and of the result column in a split
    // `width` wide.
    std::pair<int, int> columnWidths(int width) const;
    void configureDivider();
    void unplace();

    OCRSourceColumn sourceColumn_;
    PanelDivider divider_;
    OCRResultColumn resultColumn_;
    double preferred_ = 360;
    int height_ = 320;
    int width_ = 0;
    int source_ = 0;
    int result_ = 0;
    double dividerSize_ = -1;
};

}  // namespace velmora
