#include "support/VerticalPages.hpp"

#include <algorithm>
#include <cmath>

#include <cairo.h>
#include <pango/pangocairo.h>

namespace velmora::test {

namespace {

struct VerticalCanvas {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    PangoLayout* layout = nullptr;
    PangoFontDescription* font = nullptr;
    const VerticalLayout& setup;

    explicit VerticalCanvas(const VerticalLayout& s) : setup(s) {
        surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, s.width, s.height);
        cr = cairo_create(surface);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        prepare();
    }
    // Draws on someone else's context (a PDF page), in its units.
    VerticalCanvas(const VerticalLayout& s, cairo_t* target) : setup(s) {
        cr = cairo_reference(target);
        cairo_save(cr);
        prepare();
    }

    void prepare() {
        const VerticalLayout& s = setup;
        cairo_set_source_rgb(cr, 0, 0, 0);
        // Lines of the layout run down the page: the layout's x axis is the
        // page's y axis, its y axis the page's x axis from right to left.
        cairo_translate(cr, s.width - s.right, s.top);
        cairo_rotate(cr, M_PI / 2);
        layout = pango_cairo_create_layout(cr);
        PangoContext* context = pango_layout_get_context(layout);
        pango_context_set_base_gravity(context, PANGO_GRAVITY_EAST);
        pango_context_set_gravity_hint(context, PANGO_GRAVITY_HINT_NATURAL);
        font = pango_font_description_from_string(s.family.c_str());
        pango_font_description_set_absolute_size(font, s.pixelSize * PANGO_SCALE);
        pango_layout_set_font_description(layout, font);
        pango_cairo_update_layout(cr, layout);
    }
    ~VerticalCanvas() {
        pango_font_description_free(font);
        g_object_unref(layout);
        if (!surface) cairo_restore(cr);
        cairo_destroy(cr);
        if (surface) cairo_surface_destroy(surface);
    }
    VerticalCanvas(const VerticalCanvas&) = delete;
    VerticalCanvas& operator=(const VerticalCanvas&) = delete;

    double pitch() const { return setup.pixelSize * setup.columnAdvance; }
    bool fits(std::size_t index) const {
        return setup.right + (static_cast<double>(index) + 1) * pitch() <= setup.width - setup.right + 1e-9;
    }

    // Draws a layout line as column `index` and returns its ink on the page.
    Rect draw(PangoLayoutLine* line, std::size_t index) {
        // The centre of the column, where vertical gravity puts the baseline.
        const double baseline = (static_cast<double>(index) + 0.5) * pitch();
        cairo_move_to(cr, 0, baseline);
        pango_cairo_show_layout_line(cr, line);
        PangoRectangle ink{}, logical{};
        pango_layout_line_get_pixel_extents(line, &ink, &logical);
        const double originX = setup.width - setup.right;
        return {originX - (baseline + ink.y + ink.height), setup.top + ink.x, double(ink.height), double(ink.width)};
    }

    RasterImage image() {
        cairo_surface_flush(surface);
        const int width = cairo_image_surface_get_width(surface);
        const int height = cairo_image_surface_get_height(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * 3);
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::ptrdiff_t>(stride) * y);
            for (int x = 0; x < width; ++x) {
                uint8_t* p = pixels.data() + (static_cast<std::size_t>(y) * width + x) * 3;
                p[0] = static_cast<uint8_t>(row[x] >> 16);
                p[1] = static_cast<uint8_t>(row[x] >> 8);
                p[2] = static_cast<uint8_t>(row[x]);
            }
        }
        return RasterImage::fromPixels(width, height, 3, pixels);
    }
};

}  // namespace

void drawColumns(cairo_t* cr, const VerticalLayout& setup, const std::vector<std::string>& columns) {
    VerticalCanvas canvas(setup, cr);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        pango_layout_set_text(canvas.layout, columns[i].c_str(), -1);
        canvas.draw(pango_layout_get_line_readonly(canvas.layout, 0), i);
    }
}

VerticalPage renderColumns(const VerticalLayout& setup, const std::vector<std::string>& columns) {
    VerticalCanvas canvas(setup);
    VerticalPage page;
    for (std::size_t i = 0; i < columns.size(); ++i) {
        pango_layout_set_text(canvas.layout, columns[i].c_str(), -1);
        PangoLayoutLine* line = pango_layout_get_line_readonly(canvas.layout, 0);
        page.columns.push_back({columns[i], canvas.draw(line, i)});
    }
    page.image = canvas.image();
    return page;
}

RasterImage overlaid(const RasterImage& a, const RasterImage& b) {
    std::vector<uint8_t> pixels(static_cast<std::size_t>(a.width()) * a.height() * 3);
    for (int y = 0; y < a.height(); ++y) {
        const uint8_t* ra = a.pixels() + static_cast<std::ptrdiff_t>(y) * a.rowStride();
        const uint8_t* rb = b.pixels() + static_cast<std::ptrdiff_t>(y) * b.rowStride();
        for (int i = 0; i < a.width() * 3; ++i) {
            pixels[static_cast<std::size_t>(y) * a.width() * 3 + i] = std::min(ra[i], rb[i]);
        }
    }
    return RasterImage::fromPixels(a.width(), a.height(), 3, pixels);
}

VerticalPage renderVerticalParagraphs(const VerticalLayout& setup, const std::vector<std::string>& paragraphs) {
    VerticalCanvas canvas(setup);
    VerticalPage page;
    pango_layout_set_width(canvas.layout, static_cast<int>((setup.height - 2 * setup.top) * PANGO_SCALE));
    pango_layout_set_wrap(canvas.layout, PANGO_WRAP_CHAR);
    std::size_t index = 0;
    for (const std::string& paragraph : paragraphs) {
        pango_layout_set_text(canvas.layout, paragraph.c_str(), -1);
        PangoLayoutIter* iter = pango_layout_get_iter(canvas.layout);
        bool full = false;
        do {
            if (!canvas.fits(index)) {
                full = true;
                break;
            }
            PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
            const std::string text(paragraph.substr(static_cast<std::size_t>(line->start_index),
                                                    static_cast<std::size_t>(line->length)));
            page.columns.push_back({text, canvas.draw(line, index)});
            ++index;
        } while (pango_layout_iter_next_line(iter));
        pango_layout_iter_free(iter);
        if (full) break;
    }
    page.image = canvas.image();
    return page;
}

}  // namespace velmora::test
