#include "support/TextPages.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>

#include "foundation/Unicode.hpp"

namespace velmora::test {

namespace {

struct Canvas {
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    PangoLayout* layout = nullptr;
    PangoFontDescription* font = nullptr;

    explicit Canvas(const TextLayout& setup) {
        surface = cairo_image_surface_create(setup.transparent ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, setup.width,
                                             setup.height);
        cr = cairo_create(surface);
        if (setup.transparent) {
            cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
            cairo_paint(cr);
            cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
        } else {
            cairo_set_source_rgb(cr, 1, 1, 1);
            cairo_paint(cr);
        }
        cairo_set_source_rgb(cr, 0, 0, 0);
        layout = pango_cairo_create_layout(cr);
        font = pango_font_description_from_string(setup.family.c_str());
        pango_font_description_set_absolute_size(font, setup.pixelSize * PANGO_SCALE);
        pango_layout_set_font_description(layout, font);
        // A word broken across lines is drawn as it is written, so each
        // drawn line is exactly a slice of the text.
        PangoAttrList* attributes = pango_attr_list_new();
        pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
        pango_layout_set_attributes(layout, attributes);
        pango_attr_list_unref(attributes);
    }
    ~Canvas() {
        pango_font_description_free(font);
        g_object_unref(layout);
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // Straight-alpha RGB(A) rows from cairo's premultiplied native pixels.
    RasterImage image(bool alpha) {
        cairo_surface_flush(surface);
        const int width = cairo_image_surface_get_width(surface);
        const int height = cairo_image_surface_get_height(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const int channels = alpha ? 4 : 3;
        std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * height * channels);
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<std::ptrdiff_t>(stride) * y);
            for (int x = 0; x < width; ++x) {
                const uint32_t argb = row[x];
                const uint32_t a = alpha ? (argb >> 24) : 255;
                auto unpremultiply = [a](uint32_t c) -> uint8_t {
                    return static_cast<uint8_t>(a == 0 ? 0 : std::min<uint32_t>(255, (c * 255 + a / 2) / a));
                };
                uint8_t* p = pixels.data() + (static_cast<std::size_t>(y) * width + x) * channels;
                p[0] = unpremultiply((argb >> 16) & 0xFF);
                p[1] = unpremultiply((argb >> 8) & 0xFF);
                p[2] = unpremultiply(argb & 0xFF);
                if (alpha) p[3] = static_cast<uint8_t>(a);
            }
        }
        return RasterImage::fromPixels(width, height, channels, pixels);
    }
};

}  // namespace

TextPage renderLines(const TextLayout& setup, const std::vector<std::string>& lines) {
    Canvas canvas(setup);
    TextPage page;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const double y = setup.top + static_cast<double>(i) * setup.pixelSize * setup.lineAdvance;
        if (setup.markup) {
            pango_layout_set_markup(canvas.layout, lines[i].c_str(), -1);
        } else {
            pango_layout_set_text(canvas.layout, lines[i].c_str(), -1);
        }
        cairo_move_to(canvas.cr, setup.left, y);
        pango_cairo_show_layout(canvas.cr, canvas.layout);
        PangoRectangle ink{}, logical{};
        pango_layout_get_pixel_extents(canvas.layout, &ink, &logical);
        page.lines.push_back({setup.markup ? pango_layout_get_text(canvas.layout) : lines[i],
                              {setup.left + ink.x, y + ink.y, double(ink.width), double(ink.height)}});
    }
    for (const Rect& r : setup.rules) cairo_rectangle(canvas.cr, r.x, r.y, r.width, r.height);
    cairo_fill(canvas.cr);
    page.image = canvas.image(setup.transparent);
    return page;
}

TextPage renderParagraphs(const TextLayout& setup, const std::vector<std::string>& paragraphs) {
    Canvas canvas(setup);
    TextPage page;
    const int columns = std::max(1, setup.columns);
    const double usable = (setup.width - 2 * setup.left - (columns - 1) * setup.columnGap) / columns;
    pango_layout_set_width(canvas.layout, static_cast<int>(usable * PANGO_SCALE));
    pango_layout_set_wrap(canvas.layout, setup.wrapWords ? PANGO_WRAP_WORD_CHAR : PANGO_WRAP_CHAR);
    double y = setup.top;
    int column = 0;
    const double pitch = setup.pixelSize * setup.lineAdvance;
    for (const std::string& paragraph : paragraphs) {
        pango_layout_set_text(canvas.layout, paragraph.c_str(), -1);
        PangoLayoutIter* iter = pango_layout_get_iter(canvas.layout);
        bool full = false;
        do {
            PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
            if (y + pitch > setup.height - setup.top) {
                if (column + 1 >= columns) {
                    full = true;
                    break;
                }
                column += 1;
                y = setup.top;
            }
            const double left = setup.left + column * (usable + setup.columnGap);
            PangoRectangle ink{}, logical{};
            pango_layout_line_get_pixel_extents(line, &ink, &logical);
            const double lineBaseline = y + setup.pixelSize;
            cairo_move_to(canvas.cr, left, lineBaseline);
            pango_cairo_show_layout_line(canvas.cr, line);
            const std::string text(paragraph.substr(static_cast<std::size_t>(line->start_index),
                                                    static_cast<std::size_t>(line->length)));
            page.lines.push_back({text, {left + ink.x, lineBaseline + ink.y, double(ink.width), double(ink.height)}});
            y += pitch;
        } while (pango_layout_iter_next_line(iter));
        pango_layout_iter_free(iter);
        if (full) break;
    }
    page.image = canvas.image(setup.transparent);
    return page;
}

TextPage renderPlaced(const TextLayout& setup, const std::vector<PlacedText>& items) {
    Canvas canvas(setup);
    TextPage page;
    for (const PlacedText& item : items) {
        if (setup.markup) {
            pango_layout_set_markup(canvas.layout, item.text.c_str(), -1);
        } else {
            pango_layout_set_text(canvas.layout, item.text.c_str(), -1);
        }
        PangoRectangle ink{}, logical{};
        pango_layout_get_pixel_extents(canvas.layout, &ink, &logical);
        const double x = item.alignRight ? item.x - logical.width : item.x;
        cairo_move_to(canvas.cr, x, item.y);
        pango_cairo_show_layout(canvas.cr, canvas.layout);
        page.lines.push_back({setup.markup ? pango_layout_get_text(canvas.layout) : item.text,
                              {x + ink.x, item.y + ink.y, double(ink.width), double(ink.height)}});
    }
    for (const Rect& r : setup.rules) cairo_rectangle(canvas.cr, r.x, r.y, r.width, r.height);
    cairo_fill(canvas.cr);
    page.image = canvas.image(setup.transparent);
    return page;
}

namespace {

std::vector<uint8_t> packed(const RasterImage& image) {
    const int rowBytes = image.width() * image.channels();
    std::vector<uint8_t> out(static_cast<std::size_t>(rowBytes) * image.height());
    for (int y = 0; y < image.height(); ++y) {
        std::copy_n(image.pixels() + static_cast<std::ptrdiff_t>(image.rowStride()) * y, rowBytes,
                    out.begin() + static_cast<std::ptrdiff_t>(rowBytes) * y);
    }
    return out;
}

}  // namespace

RasterImage blurred(const RasterImage& image, int radius) {
    const int w = image.width(), h = image.height(), c = image.channels();
    std::vector<uint8_t> source = packed(image);
    std::vector<uint8_t> across(source.size());
    // Separable: along rows, then along columns.
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int k = 0; k < c; ++k) {
                int sum = 0, n = 0;
                for (int d = -radius; d <= radius; ++d) {
                    const int xx = std::clamp(x + d, 0, w - 1);
                    sum += source[(static_cast<std::size_t>(y) * w + xx) * c + k];
                    n += 1;
                }
                across[(static_cast<std::size_t>(y) * w + x) * c + k] = static_cast<uint8_t>((sum + n / 2) / n);
            }
        }
    }
    std::vector<uint8_t> out(source.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int k = 0; k < c; ++k) {
                int sum = 0, n = 0;
                for (int d = -radius; d <= radius; ++d) {
                    const int yy = std::clamp(y + d, 0, h - 1);
                    sum += across[(static_cast<std::size_t>(yy) * w + x) * c + k];
                    n += 1;
                }
                out[(static_cast<std::size_t>(y) * w + x) * c + k] = static_cast<uint8_t>((sum + n / 2) / n);
            }
        }
    }
    return RasterImage::fromPixels(w, h, c, out);
}

RasterImage rotated(const RasterImage& image, double degrees) {
    const int w = image.width(), h = image.height(), c = image.channels();
    const std::vector<uint8_t> source = packed(image);
    std::vector<uint8_t> out(source.size(), 255);
    const double a = degrees * 3.14159265358979323846 / 180;
    const double cs = std::cos(a), sn = std::sin(a);
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // The source point that lands here, read bilinearly.
            const double dx = x - cx, dy = y - cy;
            const double sx = cs * dx + sn * dy + cx;
            const double sy = -sn * dx + cs * dy + cy;
            const int x0 = static_cast<int>(std::floor(sx)), y0 = static_cast<int>(std::floor(sy));
            const double tx = sx - x0, ty = sy - y0;
            for (int k = 0; k < c; ++k) {
                auto at = [&](int xx, int yy) -> double {
                    if (xx < 0 || yy < 0 || xx >= w || yy >= h) return 255;
                    return source[(static_cast<std::size_t>(yy) * w + xx) * c + k];
                };
                const double top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * tx;
                const double bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * tx;
                out[(static_cast<std::size_t>(y) * w + x) * c + k] =
                    static_cast<uint8_t>(std::clamp(top + (bottom - top) * ty + 0.5, 0.0, 255.0));
            }
        }
    }
    return RasterImage::fromPixels(w, h, c, out);
}

RasterImage speckled(const RasterImage& image, double share, unsigned seed) {
    const int w = image.width(), h = image.height(), c = image.channels();
    std::vector<uint8_t> out = packed(image);
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> draw(0, 1);
    for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i) {
        const double d = draw(random);
        if (d >= 2 * share) continue;
        const uint8_t grey = d < share ? 0 : 255;
        for (int k = 0; k < std::min(c, 3); ++k) out[i * c + k] = grey;
    }
    return RasterImage::fromPixels(w, h, c, out);
}

RasterImage jpegged(const RasterImage& image, int quality) {
    gchar* buffer = nullptr;
    gsize size = 0;
    const std::string q = std::to_string(quality);
    if (!gdk_pixbuf_save_to_buffer(image.pixbuf(), &buffer, &size, "jpeg", nullptr, "quality", q.c_str(), nullptr)) {
        throw std::runtime_error("cannot encode a JPEG");
    }
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("jpeg", nullptr);
    const bool read = loader && gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(buffer), size, nullptr) &&
                      gdk_pixbuf_loader_close(loader, nullptr);
    g_free(buffer);
    GdkPixbuf* decoded = read ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (decoded) g_object_ref(decoded);
    if (loader) g_object_unref(loader);
    if (!decoded) throw std::runtime_error("cannot decode a JPEG");
    return RasterImage::adopt(decoded);
}

std::size_t editDistance(std::string_view expected, std::string_view actual) {
    const std::vector<char32_t> a = Unicode::scalars(expected);
    const std::vector<char32_t> b = Unicode::scalars(actual);
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

double characterErrorRate(std::string_view expected, std::string_view actual) {
    const std::size_t length = Unicode::scalars(expected).size();
    if (length == 0) return actual.empty() ? 0.0 : 1.0;
    return static_cast<double>(editDistance(expected, actual)) / static_cast<double>(length);
}

}  // namespace velmora::test
