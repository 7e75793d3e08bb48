#include "history/ThumbnailRenderer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <png.h>
#include <poppler.h>

#include "foundation/CaptureBudget.hpp"
#include "foundation/FileIO.hpp"
#include "foundation/GObjectRef.hpp"
#include "foundation/PixelBuffer.hpp"
#include "foundation/Raster.hpp"

namespace velmora::ThumbnailRenderer {

namespace {

using Bytes = std::vector<uint8_t>;

struct Size {
    int width = 0;
    int height = 0;
};

// The size that fits inside the box with the aspect kept; a source already
// inside it keeps its size.
Size fitted(double width, double height) {
    if (width <= box && height <= box) {
        return {std::max(1, static_cast<int>(std::lround(width))), std::max(1, static_cast<int>(std::lround(height)))};
    }
    const double scale = box / std::max(width, height);
    return {std::clamp(static_cast<int>(std::lround(width * scale)), 1, box),
            std::clamp(static_cast<int>(std::lround(height * scale)), 1, box)};
}

// How much of a page of that size is shown: all of it, or its top at
// tallestShown times its width.
double shownHeight(double width, double height) { return std::min(height, width * tallestShown); }

// Only a regular file, opened without waiting on it; nothing else is read.
UniqueFD openSource(const std::filesystem::path& url) {
    FileIO::OpenedFile opened = FileIO::openRegular(AT_FDCWD, url.c_str(), /*followLinks=*/true);
    if (!opened) return UniqueFD();
    return std::move(opened.fd);
}

// ---- PDF: the first page on white ------------------------------------------

struct GErrorFree {
    void operator()(GError* e) const {
        if (e) g_error_free(e);
    }
};

// The first page drawn to fit the box, or nothing when the file cannot be
// opened or drawn as a PDF (locked, damaged, not a PDF at all).
std::optional<PixelBuffer> drawFirstPage(const std::filesystem::path& url) {
    UniqueFD fd = openSource(url);
    if (!fd) return std::nullopt;
    // Poppler opens by name; the descriptor's own name reopens the very file
    // that was checked to be a regular file.
    const std::string checked = "/proc/self/fd/" + std::to_string(fd.get());
    char* uri = g_filename_to_uri(checked.c_str(), nullptr, nullptr);
    if (!uri) return std::nullopt;
    GError* error = nullptr;
    auto doc = GObjectRef<PopplerDocument>::adopt(poppler_document_new_from_file(uri, nullptr, &error));
    g_free(uri);
    std::unique_ptr<GError, GErrorFree> dropped(error);
    if (!doc || poppler_document_get_n_pages(doc.get()) < 1) return std::nullopt;
    auto page = GObjectRef<PopplerPage>::adopt(poppler_document_get_page(doc.get(), 0));
    if (!page) return std::nullopt;
    double width = 0, height = 0;
    poppler_page_get_size(page.get(), &width, &height);
    if (!(std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0)) return std::nullopt;

    // A page taller than it is shown is drawn from its top; the surface
    // ends the drawing where the shown part does.
    const double shown = shownHeight(width, height);
    const Size size = fitted(width, shown);
    PixelBuffer pixels(size.width, size.height);
    cairo_surface_t* surface = cairo_image_surface_create_for_data(
        pixels.data(), CAIRO_FORMAT_ARGB32, size.width, size.height, static_cast<int>(pixels.bytesPerRow()));
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_scale(cr, size.width / width, size.height / shown);
    poppler_page_render(page.get(), cr);
    const bool drawn = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    cairo_surface_destroy(surface);
    if (!drawn) return std::nullopt;
    return pixels;
}

// ---- PNG: streamed rows into a box filter ----------------------------------

// Averages each block of source pixels that falls on one thumbnail pixel,
// weighting colour by alpha. Rows arrive in order, so one row of sums is all
// it keeps besides the small result. Nothing here allocates after
// construction: it runs between libpng's setjmp and longjmp.
class BoxFilter {
public:
    BoxFilter(uint32_t width, uint32_t height, Size target)
        : width_(width), height_(height), target_(target), sums_(static_cast<std::size_t>(target.width) * 4),
          columnStart_(static_cast<std::size_t>(target.width) + 1),
          out_(static_cast<std::size_t>(target.width) * static_cast<std::size_t>(target.height) * 4) {
        // Column block tx starts at ceil(tx × width ÷ target width); with the
        // target no wider than the source every block holds a column.
        for (int tx = 0; tx <= target.width; ++tx) {
            columnStart_[tx] = static_cast<uint32_t>((static_cast<uint64_t>(tx) * width + target.width - 1) /
                                                     static_cast<uint64_t>(target.width));
        }
    }

    // One source row of width × 4 bytes, straight RGBA; rows past the
    // filter's height (below the part shown) are not counted.
    void add(const uint8_t* row) noexcept {
        if (nextRow_ >= height_) return;
        const int ty = static_cast<int>(static_cast<uint64_t>(nextRow_) * static_cast<uint64_t>(target_.height) /
                                        height_);
        if (ty != currentRow_) {
            flush();
            currentRow_ = ty;
        }
        for (int tx = 0; tx < target_.width; ++tx) {
            uint64_t* sum = &sums_[static_cast<std::size_t>(tx) * 4];
            for (uint32_t x = columnStart_[tx]; x < columnStart_[tx + 1]; ++x) {
                const uint8_t* p = row + static_cast<std::size_t>(x) * 4;
                const uint64_t a = p[3];
                sum[0] += p[0] * a;
                sum[1] += p[1] * a;
                sum[2] += p[2] * a;
                sum[3] += a;
                opaque_ = opaque_ && a == 255;
            }
        }
        ++rowsInBlock_;
        ++nextRow_;
    }

    void finish() noexcept { flush(); }
    bool complete() const noexcept { return nextRow_ == height_; }

    // The result as RGB when every source pixel was opaque, else RGBA.
    RasterImage image() const {
        if (!opaque_) return RasterImage::fromPixels(target_.width, target_.height, 4, out_);
        Bytes rgb;
        rgb.reserve(out_.size() / 4 * 3);
        for (std::size_t i = 0; i < out_.size(); i += 4) rgb.insert(rgb.end(), &out_[i], &out_[i] + 3);
        return RasterImage::fromPixels(target_.width, target_.height, 3, rgb);
    }

private:
    void flush() noexcept {
        if (rowsInBlock_ == 0) return;
        uint8_t* out = &out_[static_cast<std::size_t>(currentRow_) * static_cast<std::size_t>(target_.width) * 4];
        for (int tx = 0; tx < target_.width; ++tx, out += 4) {
            uint64_t* sum = &sums_[static_cast<std::size_t>(tx) * 4];
            const uint64_t count = static_cast<uint64_t>(columnStart_[tx + 1] - columnStart_[tx]) * rowsInBlock_;
            const uint64_t alpha = sum[3];
            if (alpha == 0) {
                std::memset(out, 0, 4);
            } else {
                for (int c = 0; c < 3; ++c) out[c] = static_cast<uint8_t>((sum[c] + alpha / 2) / alpha);
                out[3] = static_cast<uint8_t>((alpha + count / 2) / count);
            }
            std::fill(sum, sum + 4, 0);
        }
        rowsInBlock_ = 0;
    }

    uint32_t width_;
    uint32_t height_;
    Size target_;
    std::vector<uint64_t> sums_;
    std::vector<uint32_t> columnStart_;
    Bytes out_;
    uint32_t nextRow_ = 0;
    int currentRow_ = 0;
    uint64_t rowsInBlock_ = 0;
    bool opaque_ = true;
};

struct PNGReader {
    png_structp png = nullptr;
    png_infop info = nullptr;
    FILE* file = nullptr;

    ~PNGReader() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
        if (file) std::fclose(file);
    }
};

struct PNGHeader {
    uint32_t width = 0;
    uint32_t height = 0;
    bool interlaced = false;
};

// libpng reports errors by longjmp; the two functions that call it hold only
// trivially destructible locals, so no destructor is skipped.
void pngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void pngWarning(png_structp, png_const_charp) {}

// Reads the header and asks for 8-bit RGBA rows whatever the stored form.
bool readHeader(PNGReader& r, PNGHeader& header) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    png_init_io(r.png, r.file);
    // Rows are held one at a time, so the width bounds the memory: libpng's
    // own million-pixel width limit stays, the height is bounded only by the
    // pixel count the caller checks.
    png_set_user_limits(r.png, 1000000, 0x7fffffff);
    png_read_info(r.png, r.info);
    header.width = png_get_image_width(r.png, r.info);
    header.height = png_get_image_height(r.png, r.info);
    header.interlaced = png_get_interlace_type(r.png, r.info) != PNG_INTERLACE_NONE;
    const int colour = png_get_color_type(r.png, r.info);
    png_set_strip_16(r.png);
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(r.png);
    if (colour == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(r.png, r.info) < 8) png_set_expand_gray_1_2_4_to_8(r.png);
    if (png_get_valid(r.png, r.info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(r.png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(r.png);
    png_set_filler(r.png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(r.png, r.info);
    return png_get_rowbytes(r.png, r.info) == static_cast<std::size_t>(header.width) * 4;
}

// Every row is read, so that a file damaged further down gives nothing; the
// filter takes those of the part shown.
bool readRows(PNGReader& r, uint8_t* row, uint32_t height, BoxFilter& filter) {
    if (setjmp(png_jmpbuf(r.png))) return false;
    for (uint32_t y = 0; y < height; ++y) {
        png_read_row(r.png, row, nullptr);
        filter.add(row);
    }
    filter.finish();
    return true;
}

enum class PNGResult { image, nothing, notStreamable };

PNGResult streamPNG(int fd, RasterImage& result) {
    PNGReader r;
    UniqueFD own(::dup(fd));
    if (!own) return PNGResult::nothing;
    r.file = ::fdopen(own.get(), "rb");
    if (!r.file) return PNGResult::nothing;
    own.release();
    r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, pngError, pngWarning);
    if (!r.png) return PNGResult::nothing;
    r.info = png_create_info_struct(r.png);
    if (!r.info) return PNGResult::nothing;

    PNGHeader header;
    if (!readHeader(r, header)) return PNGResult::nothing;
    if (static_cast<int64_t>(header.width) * header.height > maximumSourcePixels) return PNGResult::nothing;
    // Interlaced rows arrive in seven passes; such a file is decoded whole
    // under the raster load limit instead.
    if (header.interlaced) return PNGResult::notStreamable;

    const auto shown = static_cast<uint32_t>(
        std::clamp<double>(std::lround(shownHeight(header.width, header.height)), 1.0, header.height));
    BoxFilter filter(header.width, shown, fitted(header.width, shown));
    Bytes row(static_cast<std::size_t>(header.width) * 4);
    if (!readRows(r, row.data(), header.height, filter) || !filter.complete()) return PNGResult::nothing;
    result = filter.image();
    return PNGResult::image;
}

// ---- Everything else: gdk-pixbuf, sized before decoding --------------------

struct LoaderState {
    bool refused = false;
};

// Runs once the decoder knows the size and before it allocates the bitmap.
// A JPEG decoder shrinks while it decodes, so only the pixel count bounds
// it; any other format decodes whole first and stays under the raster load
// limit. A size of 0 × 0 makes the loader stop without allocating.
void onSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    auto* state = static_cast<LoaderState*>(data);
    bool allowed = width > 0 && height > 0 && static_cast<int64_t>(width) * height <= maximumSourcePixels;
    if (allowed) {
        GdkPixbufFormat* format = gdk_pixbuf_loader_get_format(loader);
        gchar* name = format ? gdk_pixbuf_format_get_name(format) : nullptr;
        const bool jpeg = name && std::strcmp(name, "jpeg") == 0;
        g_free(name);
        if (!jpeg) {
            try {
                CaptureBudget::checkLoad(width, height);
            } catch (...) {
                allowed = false;
            }
        }
    }
    if (!allowed) {
        state->refused = true;
        gdk_pixbuf_loader_set_size(loader, 0, 0);
        return;
    }
    // Scaled to the width of the part shown; its top is cut out once
    // decoded and turned upright.
    const Size size = fitted(width, shownHeight(width, height));
    if (size.width != width) {
        const double scale = static_cast<double>(size.width) / width;
        gdk_pixbuf_loader_set_size(loader, size.width, std::max(1, static_cast<int>(std::lround(height * scale))));
    }
}

RasterImage loadScaled(int fd) {
    auto loader = GObjectRef<GdkPixbufLoader>::adopt(gdk_pixbuf_loader_new());
    LoaderState state;
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(onSizePrepared), &state);
    auto abandon = [&] {
        GError* ignored = nullptr;
        gdk_pixbuf_loader_close(loader.get(), &ignored);
        if (ignored) g_error_free(ignored);
        return RasterImage();
    };

    Bytes buffer(65536);
    off_t offset = 0;
    for (;;) {
        const ssize_t n = ::pread(fd, buffer.data(), buffer.size(), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return abandon();
        if (n == 0) break;
        offset += n;
        GError* error = nullptr;
        const bool ok = gdk_pixbuf_loader_write(loader.get(), buffer.data(), static_cast<gsize>(n), &error);
        if (error) g_error_free(error);
        if (!ok || state.refused) return abandon();
    }
    GError* error = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader.get(), &error);
    if (error) g_error_free(error);
    GdkPixbuf* decoded = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!closed || state.refused || !decoded) return RasterImage();

    auto upright = GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_apply_embedded_orientation(decoded));
    if (!upright) return RasterImage();
    const int width = gdk_pixbuf_get_width(upright.get());
    const int height = gdk_pixbuf_get_height(upright.get());
    // The part shown, upright; a decoder that ignored the requested size
    // (some report none) is scaled here.
    const int shown = std::clamp(static_cast<int>(std::lround(shownHeight(width, height))), 1, height);
    if (shown != height) {
        auto top = GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_new_subpixbuf(upright.get(), 0, 0, width, shown));
        if (!top) return RasterImage();
        upright = GObjectRef<GdkPixbuf>::adopt(gdk_pixbuf_copy(top.get()));
        if (!upright) return RasterImage();
    }
    const Size size = fitted(width, shown);
    if (size.width != width || size.height != shown) {
        upright = GObjectRef<GdkPixbuf>::adopt(
            gdk_pixbuf_scale_simple(upright.get(), size.width, size.height, GDK_INTERP_BILINEAR));
        if (!upright) return RasterImage();
    }
    // Raster takes 8-bit RGB or RGBA only.
    if (gdk_pixbuf_get_bits_per_sample(upright.get()) != 8 ||
        gdk_pixbuf_get_colorspace(upright.get()) != GDK_COLORSPACE_RGB) {
        return RasterImage();
    }
    return RasterImage::adopt(upright.release());
}

std::optional<Bytes> renderImage(const std::filesystem::path& url) {
    UniqueFD fd = openSource(url);
    if (!fd) return std::nullopt;
    static constexpr uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t magic[8] = {};
    const bool isPNG = ::pread(fd.get(), magic, sizeof magic, 0) == static_cast<ssize_t>(sizeof magic) &&
                       std::memcmp(magic, pngSignature, sizeof magic) == 0;
    RasterImage image;
    if (isPNG) {
        switch (streamPNG(fd.get(), image)) {
        case PNGResult::image: break;
        case PNGResult::nothing: return std::nullopt;
        case PNGResult::notStreamable: image = loadScaled(fd.get()); break;
        }
    } else {
        image = loadScaled(fd.get());
    }
    if (!image) return std::nullopt;
    return Raster::png(image);
}

bool hasPDFExtension(const std::filesystem::path& url) {
    std::string ext = url.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".pdf";
}

}  // namespace

bool outdated(const std::vector<uint8_t>& png) {
    static constexpr uint8_t header[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    if (png.size() < 24 || std::memcmp(png.data(), header, sizeof header) != 0) return false;
    const auto be = [&](std::size_t at) {
        return (uint32_t{png[at]} << 24) | (uint32_t{png[at + 1]} << 16) | (uint32_t{png[at + 2]} << 8) | png[at + 3];
    };
    const uint32_t width = be(16), height = be(20);
    // One pixel of rounding allowed.
    return height > width * tallestShown + 1;
}

std::optional<std::vector<uint8_t>> render(const std::filesystem::path& url) {
    try {
        if (hasPDFExtension(url)) {
            if (std::optional<PixelBuffer> page = drawFirstPage(url)) return Raster::png(*page);
        }
        return renderImage(url);
    } catch (...) {
        // Nothing here is the user's business: a file that gives no picture
        // keeps the placeholder.
        return std::nullopt;
    }
}

}  // namespace velmora::ThumbnailRenderer
