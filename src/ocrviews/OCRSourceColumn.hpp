#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <gdkmm/texture.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/stringlist.h>

#include "foundation/Raster.hpp"
#include "gui/StatusPage.hpp"
#include "ocrqueue/QueueController.hpp"
#include "ocrviews/ColumnRules.hpp"
#include "ocrviews/IdleRefresh.hpp"

namespace velmora {

// The page image with its recognition boxes, drawn at the image frame of
// the viewport it is scrolled in. It draws what it was last given; the
// column gives it the image, the viewport, the zoom and the regions.
class OCRPreviewArea : public Gtk::Widget {
public:
    static constexpr const char* accessibleLabel = "原稿プレビューと認識枠";

    OCRPreviewArea();

    struct Content {
        std::optional<RasterImage> image;
        Size viewport;
        double zoom = 1.0;
        std::vector<TextRegion> regions;
        bool annotationPage = false;
        bool showCandidates = true;
    };
    void show(Content content);

    // What is drawn now: the image frame and the boxes in it.
    const Rect& frame() const noexcept { return frame_; }
    const std::vector<SourceColumnRules::Box>& boxes() const noexcept { return boxes_; }
    const std::string& description() const noexcept { return description_; }

protected:
    void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
    void measure_vfunc(Gtk::Orientation orientation, int forSize, int& minimum, int& natural, int& minimumBaseline,
                       int& naturalBaseline) const override;
    Gtk::SizeRequestMode get_request_mode_vfunc() const override { return Gtk::SizeRequestMode::CONSTANT_SIZE; }

private:
    void layOut(Size viewport);
    GdkTexture* pageTexture();

    Content content_;
    Rect frame_;
    Size size_;
    std::vector<SourceColumnRules::Box> boxes_;
    std::string description_;
    Glib::RefPtr<Gdk::Texture> texture_;
    GdkPixbuf* texturePixbuf_ = nullptr;  // the image the texture was made of
    Glib::RefPtr<Gdk::Texture> scaled_;   // the page at the size shown
};

// The left column of the OCR pane: the page row (previous, page of pages,
// next, the zoom buttons), the "原稿" picker of a queue of two inputs or
// more, and the preview of the shown page with its recognition boxes, or
// one of two texts on a status page without a page image. The page image
// opens fitted to the column's width, so its boxes and the text in them can
// be read, and scrolls down. Without an open queue the page and zoom
// buttons have nothing to act on and are insensitive. It reads the window's controller,
// writes its `zoom` and changes pages only through `goPage`. It observes
// the controller's `changed` and the viewport's size, and refreshes once per
// turn of the main loop.
class OCRSourceColumn : public Gtk::Box {
public:
    static constexpr const char* previousName = "ocr.page.previous";
    static constexpr const char* pageName = "ocr.page";
    static constexpr const char* nextName = "ocr.page.next";
    static constexpr const char* zoomOutName = "ocr.zoom.out";
    static constexpr const char* fitName = "ocr.zoom.fit";
    static constexpr const char* zoomInName = "ocr.zoom.in";
    static constexpr const char* pickerName = "ocr.input";
    static constexpr const char* previewName = "ocr.preview";
    static constexpr const char* scrollName = "ocr.preview.scroll";
    // The status page's sentence; the page itself is "ocr.preview.status".
    static constexpr const char* emptyName = "ocr.preview.empty";
    static constexpr const char* statusPageName = "ocr.preview.status";

    explicit OCRSourceColumn(std::shared_ptr<QueueController> controller);
    ~OCRSourceColumn() override;

    OCRPreviewArea& preview() { return area_; }
    Gtk::ScrolledWindow& scroller() { return scroller_; }

private:
    void refresh();
    void refreshPicker();
    void chosen();

    std::shared_ptr<QueueController> controller_;
    Gtk::Box row_{Gtk::Orientation::HORIZONTAL, 6};
    Gtk::Button previous_{"前"};
    Gtk::Label pageLabel_;
    Gtk::Button next_{"次"};
    Gtk::Button zoomOut_{"−"};
    Gtk::Button fit_{"フィット"};
    Gtk::Button zoomIn_{"＋"};
    Gtk::Box pickerRow_{Gtk::Orientation::HORIZONTAL, 6};
    Glib::RefPtr<Gtk::StringList> pickerModel_;
    Gtk::DropDown picker_;
    std::vector<SourceColumnRules::InputOption> options_;
    Gtk::ScrolledWindow scroller_;
    OCRPreviewArea area_;
    StatusPage empty_;
    sigc::connection changed_;
    sigc::connection chosen_;
    IdleRefresh refresh_{[this] { refresh(); }};
};

}  // namespace velmora
