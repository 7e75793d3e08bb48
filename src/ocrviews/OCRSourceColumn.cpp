#include "ocrviews/OCRSourceColumn.hpp"

#include <gtk/gtk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/overlay.h>
#include <gtkmm/snapshot.h>
#include <gtkmm/tooltip.h>

#include <cmath>

#include "ocrviews/ColumnStyle.hpp"
#include "recognition/page/OCRGeometry.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora {

namespace {

graphene_rect_t grapheneRect(const Rect& r) {
    graphene_rect_t g;
    graphene_rect_init(&g, static_cast<float>(r.x), static_cast<float>(r.y), static_cast<float>(r.width),
                       static_cast<float>(r.height));
    return g;
}

GdkRGBA rgba(double r, double g, double b, double a) {
    return {static_cast<float>(r / 255.0), static_cast<float>(g / 255.0), static_cast<float>(b / 255.0),
            static_cast<float>(a)};
}

const GdkRGBA boxBlue = rgba(53, 132, 228, 1);
const GdkRGBA lowFill = rgba(246, 211, 45, 0.24);

}  // namespace

// ---- the preview area

OCRPreviewArea::OCRPreviewArea() {
    set_overflow(Gtk::Overflow::HIDDEN);
    // A tag without room beside its box is read on hovering the box.
    set_has_tooltip(true);
    signal_query_tooltip().connect(
        [this](int x, int y, bool keyboard, const Glib::RefPtr<Gtk::Tooltip>& tooltip) {
            if (keyboard) return false;
            const std::optional<std::string> tag = SourceColumnRules::tagAt(boxes_, x, y);
            if (!tag) return false;
            tooltip->set_text(*tag);
            return true;
        },
        false);
    gtk_accessible_update_property(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, accessibleLabel, -1);
}

void OCRPreviewArea::show(Content content) {
    content_ = std::move(content);
    const RasterImage* image = content_.image ? &*content_.image : nullptr;
    GdkPixbuf* pixbuf = image ? image->pixbuf() : nullptr;
    if (pixbuf != texturePixbuf_) {
        texture_.reset();
        scaled_.reset();
        if (pixbuf) texture_ = Glib::wrap(gdk_texture_new_for_pixbuf(pixbuf), false);
        texturePixbuf_ = pixbuf;
    }
    layOut(content_.viewport);
    std::string description = SourceColumnRules::boxDescription(boxes_);
    if (description != description_) {
        description_ = std::move(description);
        gtk_accessible_update_property(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                       description_.c_str(), -1);
    }
    // The content grows with the zoomed frame, never below the viewport;
    // this runs on idle, outside any allocation, so the two never feed back.
    const Size size = image ? SourceColumnRules::contentSize(content_.viewport, frame_) : Size{};
    if (size != size_) {
        size_ = size;
        queue_resize();
    }
    queue_draw();
}

void OCRPreviewArea::layOut(Size viewport) {
    content_.viewport = viewport;
    const RasterImage* image = content_.image ? &*content_.image : nullptr;
    const Size imageSize = image ? Size{static_cast<double>(image->width()), static_cast<double>(image->height())}
                                 : Size{};
    frame_ = SourceColumnRules::pageFrame(imageSize, viewport, content_.zoom);
    boxes_ = image ? SourceColumnRules::boxes(content_.regions, content_.annotationPage, content_.showCandidates, frame_)
                   : std::vector<SourceColumnRules::Box>{};
}

GdkTexture* OCRPreviewArea::pageTexture() {
    // The renderer scales a large page on every frame; a copy at the size
    // shown is scaled once per frame size and then only copied. A page
    // shown larger than it is keeps its own pixels.
    const int scale = get_scale_factor();
    const int width = static_cast<int>(std::lround(frame_.width * scale));
    const int height = static_cast<int>(std::lround(frame_.height * scale));
    if (!texturePixbuf_ || width <= 0 || height <= 0 ||
        static_cast<int64_t>(width) * height >= static_cast<int64_t>(gdk_pixbuf_get_width(texturePixbuf_)) *
                                                   gdk_pixbuf_get_height(texturePixbuf_)) {
        return texture_ ? texture_->gobj() : nullptr;
    }
    if (!scaled_ || scaled_->get_width() != width || scaled_->get_height() != height) {
        GdkPixbuf* copy = gdk_pixbuf_scale_simple(texturePixbuf_, width, height, GDK_INTERP_BILINEAR);
        if (!copy) return texture_->gobj();
        scaled_ = Glib::wrap(gdk_texture_new_for_pixbuf(copy), false);
        g_object_unref(copy);
    }
    return scaled_->gobj();
}

void OCRPreviewArea::measure_vfunc(Gtk::Orientation orientation, int, int& minimum, int& natural, int& minimumBaseline,
                                   int& naturalBaseline) const {
    const double extent = orientation == Gtk::Orientation::HORIZONTAL ? size_.width : size_.height;
    minimum = natural = static_cast<int>(std::floor(extent));
    minimumBaseline = naturalBaseline = -1;
}

void OCRPreviewArea::snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshotRef) {
    GtkSnapshot* snapshot = snapshotRef->gobj();
    // The viewport as allocated for this frame: the first frame of a new
    // size shows the page at once, while the scrolled size follows on idle.
    if (const Gtk::Widget* viewport = get_parent()) {
        const Size now{static_cast<double>(viewport->get_width()), static_cast<double>(viewport->get_height())};
        if (now != content_.viewport && now.width > 0 && now.height > 0) layOut(now);
    }
    if (!texture_ || frame_.width <= 0 || frame_.height <= 0) return;
    const graphene_rect_t frame = grapheneRect(frame_);
    if (GdkTexture* page = pageTexture()) gtk_snapshot_append_texture(snapshot, page, &frame);

    GdkRGBA windowBackground = rgba(255, 255, 255, 1);
    GtkStyleContext* style = gtk_widget_get_style_context(GTK_WIDGET(gobj()));
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (!gtk_style_context_lookup_color(style, "window_bg_color", &windowBackground)) {
        gtk_style_context_lookup_color(style, "theme_bg_color", &windowBackground);
    }
    GdkRGBA textColour;
    gtk_style_context_get_color(style, &textColour);
    G_GNUC_END_IGNORE_DEPRECATIONS
    windowBackground.alpha = 0.85f;

    const Size content{static_cast<double>(get_width()), static_cast<double>(get_height())};
    for (std::size_t index = 0; index < boxes_.size(); ++index) {
        const SourceColumnRules::Box& box = boxes_[index];
        const graphene_rect_t rect = grapheneRect(box.rect);
        if (box.tinted) gtk_snapshot_append_color(snapshot, &lowFill, &rect);
        if (box.dashed) {
            const double half = box.lineWidth / 2;
            const Rect bounds{box.rect.x - box.lineWidth, box.rect.y - box.lineWidth,
                              box.rect.width + 2 * box.lineWidth, box.rect.height + 2 * box.lineWidth};
            const graphene_rect_t area = grapheneRect(bounds);
            cairo_t* cr = gtk_snapshot_append_cairo(snapshot, &area);
            const double dashes[] = {4, 3};
            cairo_set_dash(cr, dashes, 2, 0);
            cairo_set_line_width(cr, box.lineWidth);
            gdk_cairo_set_source_rgba(cr, &boxBlue);
            cairo_rectangle(cr, box.rect.x + half, box.rect.y + half, std::max(box.rect.width - box.lineWidth, 0.0),
                            std::max(box.rect.height - box.lineWidth, 0.0));
            cairo_stroke(cr);
            cairo_destroy(cr);
        } else {
            GskRoundedRect outline;
            gsk_rounded_rect_init_from_rect(&outline, &rect, 0);
            const float w = static_cast<float>(box.lineWidth);
            const float widths[4] = {w, w, w, w};
            const GdkRGBA colours[4] = {boxBlue, boxBlue, boxBlue, boxBlue};
            gtk_snapshot_append_border(snapshot, &outline, widths, colours);
        }
        if (box.tag) {
            auto layout = const_cast<OCRPreviewArea*>(this)->create_pango_layout(*box.tag);
            Pango::FontDescription font;
            font.set_size(9 * PANGO_SCALE);
            layout->set_font_description(font);
            int width = 0;
            int height = 0;
            layout->get_pixel_size(width, height);
            const std::optional<Rect> place =
                SourceColumnRules::tagPlace(boxes_, index, {width + 2.0, height + 2.0}, content);
            if (!place) continue;
            const graphene_rect_t tagRect = grapheneRect(*place);
            gtk_snapshot_append_color(snapshot, &windowBackground, &tagRect);
            gtk_snapshot_save(snapshot);
            const graphene_point_t at = GRAPHENE_POINT_INIT(static_cast<float>(place->x + 1),
                                                           static_cast<float>(place->y + 1));
            gtk_snapshot_translate(snapshot, &at);
            gtk_snapshot_append_layout(snapshot, layout->gobj(), &textColour);
            gtk_snapshot_restore(snapshot);
        }
    }
}

// ---- the column

OCRSourceColumn::OCRSourceColumn(std::shared_ptr<QueueController> controller)
    : Gtk::Box(Gtk::Orientation::VERTICAL, 6), controller_(std::move(controller)) {
    // The page row.
    row_.set_valign(Gtk::Align::CENTER);
    previous_.set_name(previousName);
    pageLabel_.set_name(pageName);
    styleWidget(pageLabel_, "label { font-feature-settings: \"tnum\"; }");
    next_.set_name(nextName);
    auto& space = *Gtk::make_managed<Gtk::Box>();
    space.set_hexpand(true);
    space.set_size_request(3, -1);
    zoomOut_.set_name(zoomOutName);
    zoomOut_.set_tooltip_text("原稿を縮小");
    fit_.set_name(fitName);
    zoomIn_.set_name(zoomInName);
    zoomIn_.set_tooltip_text("原稿を拡大");
    for (Gtk::Widget* w : std::initializer_list<Gtk::Widget*>{&previous_, &pageLabel_, &next_, &space, &zoomOut_,
                                                              &fit_, &zoomIn_}) {
        row_.append(*w);
    }
    append(row_);

    // The picker of the queue's inputs.
    auto& pickerTitle = *Gtk::make_managed<Gtk::Label>("原稿");
    pickerModel_ = Gtk::StringList::create({});
    picker_.set_model(pickerModel_);
    picker_.set_name(pickerName);
    picker_.set_hexpand(true);
    gtk_accessible_update_property(GTK_ACCESSIBLE(picker_.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, "原稿", -1);
    pickerRow_.append(pickerTitle);
    pickerRow_.append(picker_);
    pickerRow_.set_visible(false);
    append(pickerRow_);

    // The preview, with the empty-state text over it.
    scroller_.set_name(scrollName);
    scroller_.set_policy(Gtk::PolicyType::AUTOMATIC, Gtk::PolicyType::AUTOMATIC);
    scroller_.set_vexpand(true);
    scroller_.set_hexpand(true);
    area_.set_name(previewName);
    scroller_.set_child(area_);
    empty_.set_name(statusPageName);
    empty_.label().set_name(emptyName);
    empty_.label().remove_css_class("title-4");
    empty_.label().add_css_class("dim-label");
    auto& overlay = *Gtk::make_managed<Gtk::Overlay>();
    overlay.set_child(scroller_);
    overlay.add_overlay(empty_);
    overlay.set_vexpand(true);
    append(overlay);

    previous_.signal_clicked().connect([this] { controller_->goPage(controller_->page.get() - 1); });
    next_.signal_clicked().connect([this] { controller_->goPage(controller_->page.get() + 1); });
    zoomOut_.signal_clicked().connect(
        [this] { controller_->zoom = SourceColumnRules::zoomedOut(controller_->zoom.get()); });
    fit_.signal_clicked().connect([this] { controller_->zoom = SourceColumnRules::fitZoom; });
    zoomIn_.signal_clicked().connect([this] { controller_->zoom = SourceColumnRules::zoomedIn(controller_->zoom.get()); });
    chosen_ = picker_.property_selected().signal_changed().connect([this] { chosen(); });
    // The viewport's size is the adjustments' page size.
    scroller_.get_hadjustment()->signal_changed().connect([this] { refresh_.schedule(); });
    scroller_.get_vadjustment()->signal_changed().connect([this] { refresh_.schedule(); });

    changed_ = controller_->changed.connect([this] { refresh_.schedule(); });
    refresh();
}

OCRSourceColumn::~OCRSourceColumn() {
    changed_.disconnect();
    chosen_.disconnect();
}

void OCRSourceColumn::refresh() {
    QueueController& c = *controller_;
    const int64_t page = c.page.get();
    const int64_t count = c.previewPageCount.get();
    const bool queueOpen = c.snapshot->has_value();
    // A locked PDF has no page count to tell until it is unlocked.
    const bool locked = c.shownLocked();
    pageLabel_.set_text(SourceColumnRules::pageIndicator(queueOpen && !locked, page, count));
    previous_.set_sensitive(queueOpen && SourceColumnRules::previousEnabled(page));
    next_.set_sensitive(queueOpen && SourceColumnRules::nextEnabled(page, count));
    for (Gtk::Widget* zoom : std::initializer_list<Gtk::Widget*>{&zoomOut_, &fit_, &zoomIn_}) {
        if (zoom->get_sensitive() != queueOpen) zoom->set_sensitive(queueOpen);
    }
    refreshPicker();

    const bool hasImage = c.preview->has_value();
    const bool preparing = c.picturePending.get() && !locked;
    empty_.show(!queueOpen  ? "image-x-generic-symbolic"
                : locked    ? "changes-prevent-symbolic"
                : preparing ? "image-loading-symbolic"
                            : "image-missing-symbolic",
                SourceColumnRules::emptyText(queueOpen, locked, preparing));
    // Before any document the result column beside says where to drop one;
    // here only the picture of a page says what will show.
    if (empty_.label().get_visible() != queueOpen) empty_.label().set_visible(queueOpen);
    empty_.set_visible(!hasImage);
    OCRPreviewArea::Content content;
    if (hasImage) {
        content.image = c.preview.get();
        content.regions = c.previewRegions();
        content.annotationPage = c.hasAnnotationResult();
        content.showCandidates = c.showAnnotationCandidates.get();
    }
    content.viewport = {scroller_.get_hadjustment()->get_page_size(), scroller_.get_vadjustment()->get_page_size()};
    content.zoom = c.zoom.get();
    area_.show(std::move(content));
}

void OCRSourceColumn::refreshPicker() {
    const auto& snapshot = controller_->snapshot.get();
    const bool shows = SourceColumnRules::showsPicker(snapshot);
    pickerRow_.set_visible(shows);
    if (!shows) return;
    // The options change only with the queue; the choice with the selection.
    std::vector<SourceColumnRules::InputOption> options = SourceColumnRules::inputOptions(*snapshot);
    chosen_.block();
    if (options != options_) {
        options_ = std::move(options);
        std::vector<Glib::ustring> labels;
        for (const auto& option : options_) labels.push_back(option.label);
        pickerModel_->splice(0, pickerModel_->get_n_items(), labels);
    }
    guint selected = GTK_INVALID_LIST_POSITION;
    for (std::size_t i = 0; i < options_.size(); ++i) {
        if (controller_->selectedID.get() == options_[i].id) selected = static_cast<guint>(i);
    }
    if (picker_.get_selected() != selected) picker_.set_selected(selected);
    chosen_.unblock();
}

void OCRSourceColumn::chosen() {
    const guint index = picker_.get_selected();
    if (index >= options_.size()) return;
    const UUID id = options_[index].id;
    if (controller_->selectedID.get() == id) return;
    // Another input always opens on its first page.
    controller_->goPage(1, id);
}

}  // namespace velmora
