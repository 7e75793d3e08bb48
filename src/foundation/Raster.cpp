#include "foundation/Raster.hpp"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csetjmp>
#include <cstring>
#include <functional>
#include <new>

#include <cairo.h>
#include <png.h>
#include <poppler.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/CaptureBudget.hpp"
#include "foundation/FileIO.hpp"

namespace velmora {

namespace {

template <typename T>
struct GObjectUnref {
    void operator()(T* p) const {
        if (p) g_object_unref(p);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref<T>>;

struct GErrorFree {
    void operator()(GError* e) const {
        if (e) g_error_free(e);
    }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

std::shared_ptr<GdkPixbuf> share(GdkPixbuf* pixbuf) {
    return std::shared_ptr<GdkPixbuf>(pixbuf, [](GdkPixbuf* p) { g_object_unref(p); });
}

bool isPlainRGB(GdkPixbuf* p) {
    const int channels = gdk_pixbuf_get_n_channels(p);
    return gdk_pixbuf_get_colorspace(p) == GDK_COLORSPACE_RGB && gdk_pixbuf_get_bits_per_sample(p) == 8 &&
           (channels == 3 || channels == 4) && gdk_pixbuf_get_has_alpha(p) == (channels == 4);
}

}  // namespace

RasterImage RasterImage::adopt(GdkPixbuf* pixbuf) {
    if (!pixbuf) raise(ErrorCase::invalidInput);
    auto shared = share(pixbuf);
    if (!isPlainRGB(pixbuf)) raise(ErrorCase::invalidInput);
    RasterImage r;
    r.pixbuf_ = std::move(shared);
    return r;
}

RasterImage RasterImage::fromPixels(int width, int height, int channels, const std::vector<uint8_t>& pixels) {
    if (width < 1 || height < 1 || (channels != 3 && channels != 4)) raise(ErrorCase::invalidInput);
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
    if (pixels.size() / rowBytes != static_cast<std::size_t>(height) || pixels.size() % rowBytes != 0) {
        raise(ErrorCase::invalidInput);
    }
    GdkPixbuf* p = gdk_pixbuf_new(GDK_COLORSPACE_RGB, channels == 4, 8, width, height);
    if (!p) raise(ErrorCase::budgetExceeded);
    auto shared = share(p);
    uint8_t* dst = gdk_pixbuf_get_pixels(p);
    const std::size_t stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(p));
    for (int y = 0; y < height; ++y) {
        std::memcpy(dst + stride * static_cast<std::size_t>(y), pixels.data() + rowBytes * static_cast<std::size_t>(y),
                    rowBytes);
    }
    RasterImage r;
    r.pixbuf_ = std::move(shared);
    return r;
}

int RasterImage::width() const { return pixbuf_ ? gdk_pixbuf_get_width(pixbuf_.get()) : 0; }
int RasterImage::height() const { return pixbuf_ ? gdk_pixbuf_get_height(pixbuf_.get()) : 0; }
int RasterImage::channels() const { return pixbuf_ ? gdk_pixbuf_get_n_channels(pixbuf_.get()) : 0; }
int RasterImage::rowStride() const { return pixbuf_ ? gdk_pixbuf_get_rowstride(pixbuf_.get()) : 0; }
const uint8_t* RasterImage::pixels() const {
    return pixbuf_ ? gdk_pixbuf_read_pixels(pixbuf_.get()) : nullptr;
}

namespace Raster {

namespace {

constexpr std::size_t readChunk = 65536;

// Opens a source file for reading. Only a regular file is a source: opening
// without blocking means a FIFO or device named like an image cannot hang the
// caller before it is refused.
UniqueFD openSource(const std::filesystem::path& url) {
    UniqueFD fd(::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) raise(ErrorCase::invalidInput);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) raise(ErrorCase::invalidInput);
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) raise(ErrorCase::invalidInput);
    return fd;
}

// The image formats a page may come in, told by the file's first bytes: a
// name says nothing of what a file holds, and every other decoder of the
// system is kept away from bytes that are not a page image.
enum class ImageFormat { png, jpeg, tiff };

constexpr uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

std::optional<ImageFormat> formatOf(const uint8_t* data, std::size_t size, TIFF tiff) {
    if (size >= sizeof pngSignature && std::memcmp(data, pngSignature, sizeof pngSignature) == 0) {
        return ImageFormat::png;
    }
    if (size >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff) return ImageFormat::jpeg;
    if (tiff == TIFF::accepted && size >= 4 &&
        (std::memcmp(data, "II*\0", 4) == 0 || std::memcmp(data, "MM\0*", 4) == 0)) {
        return ImageFormat::tiff;
    }
    return std::nullopt;
}

// Follows a PNG's chunks or a JPEG's segments as the bytes arrive, to tell
// whether the file goes on to the end its format marks. The decoders fill
// the rows of a cut file with grey or black and report success. (A TIFF's
// parts are found through offsets, and libtiff refuses one that points past
// the end.)
class FormatEnd {
public:
    explicit FormatEnd(ImageFormat format)
        : format_(format), skip_(format == ImageFormat::png ? 8 : 2), reached_(format == ImageFormat::tiff) {}

    void feed(const uint8_t* data, std::size_t size) {
        const uint8_t* end = data + size;
        while (data < end && !reached_) {
            if (skip_ > 0) {
                const auto n = static_cast<int64_t>(std::min<std::ptrdiff_t>(end - data, skip_));
                data += n;
                skip_ -= n;
                if (skip_ == 0 && format_ == ImageFormat::png && lastChunk_) reached_ = true;
                continue;
            }
            if (format_ == ImageFormat::png) {
                pngByte(*data++);
            } else if (state_ == Jpeg::entropy) {
                // Compressed data runs to the next marker, which starts with 0xff.
                const void* mark = std::memchr(data, 0xff, static_cast<std::size_t>(end - data));
                data = mark ? static_cast<const uint8_t*>(mark) + 1 : end;
                if (mark) state_ = Jpeg::entropyMark;
            } else {
                jpegByte(*data++);
            }
        }
    }

    bool reached() const { return reached_; }

private:
    enum class Jpeg { marker, code, lengthHigh, lengthLow, entropy, entropyMark };

    // Each chunk: a 4-byte length, a 4-byte type, the data and a 4-byte CRC;
    // IEND is the last.
    void pngByte(uint8_t b) {
        header_[have_++] = b;
        if (have_ < 8) return;
        have_ = 0;
        const uint32_t length = (uint32_t{header_[0]} << 24) | (uint32_t{header_[1]} << 16) |
                                (uint32_t{header_[2]} << 8) | header_[3];
        lastChunk_ = std::memcmp(header_ + 4, "IEND", 4) == 0;
        skip_ = int64_t{length} + 4;
    }

    // Markers 0xff xx; all but the standalone ones (start, restart, end)
    // carry a 2-byte length. After a start of scan comes compressed data,
    // where 0xff 0x00 is a data byte and 0xff 0xd0 to 0xd7 a restart.
    void jpegByte(uint8_t b) {
        switch (state_) {
        case Jpeg::marker:
            // Bytes between segments are skipped, as libjpeg skips them.
            if (b == 0xff) state_ = Jpeg::code;
            break;
        case Jpeg::entropyMark:
            if (b == 0x00 || (b >= 0xd0 && b <= 0xd7)) {
                state_ = Jpeg::entropy;
                break;
            }
            [[fallthrough]];
        case Jpeg::code:
            if (b == 0xff) break;
            if (b == 0xd9) {
                reached_ = true;
            } else if (b == 0xd8 || b == 0x01 || b == 0x00 || (b >= 0xd0 && b <= 0xd7)) {
                state_ = Jpeg::marker;
            } else {
                scan_ = b == 0xda;
                state_ = Jpeg::lengthHigh;
            }
            break;
        case Jpeg::lengthHigh:
            length_ = b << 8;
            state_ = Jpeg::lengthLow;
            break;
        case Jpeg::lengthLow:
            skip_ = std::max((length_ | b) - 2, 0);
            state_ = scan_ ? Jpeg::entropy : Jpeg::marker;
            break;
        case Jpeg::entropy: break;
        }
    }

    ImageFormat format_;
    int64_t skip_;
    bool reached_;
    uint8_t header_[8] = {};
    int have_ = 0;
    bool lastChunk_ = false;
    Jpeg state_ = Jpeg::marker;
    int length_ = 0;
    bool scan_ = false;
};

// JPEG denominators libjpeg decodes at directly, without the whole image
// first; a quarter of a 48-megapixel photo still gives an A4 page about
// 180 dots per inch, enough for its text, and an eighth would not.
constexpr int reducedDenominators[] = {2, 4};

// The size an image is decoded at: its own when the estimate of handling it
// fits the load limit. A JPEG over it (a phone camera's high-resolution
// photo) is decoded at the largest reduction that fits, as recognition needs
// far fewer pixels than such a photo has; a PNG or TIFF is decoded whole
// before any scaling, so it is refused.
std::pair<int, int> admittedSize(ImageFormat format, int width, int height) {
    const int64_t limit = CaptureBudget::loadLimit();
    if (CaptureBudget::estimate(width, height) <= limit) return {width, height};
    if (format == ImageFormat::jpeg) {
        for (int d : reducedDenominators) {
            const int w = (width + d - 1) / d;
            const int h = (height + d - 1) / d;
            if (CaptureBudget::estimate(w, h) <= limit) return {w, h};
        }
    }
    raise(ErrorCase::budgetExceeded);
}

struct LoadState {
    ImageFormat format;
    std::optional<BrindlexError> refusal;
};

// Runs once the decoder knows the size and before it allocates the bitmap.
// A size of 0 × 0 makes every loader stop with an error instead of
// allocating, which is how the refusal keeps memory untouched. A reduced
// size that is a JPEG scale libjpeg decodes at leaves the loader nothing to
// rescale.
void onSizePrepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    auto* state = static_cast<LoadState*>(data);
    try {
        const auto [w, h] = admittedSize(state->format, width, height);
        if (w != width || h != height) gdk_pixbuf_loader_set_size(loader, w, h);
    } catch (const BrindlexError& e) {
        state->refusal = e;
        gdk_pixbuf_loader_set_size(loader, 0, 0);
    }
}

// Decodes the first image of a file through one descriptor, so the size that
// was checked is the size of the bytes that are decoded.
GObjectPtr<GdkPixbuf> loadChecked(const std::filesystem::path& url, TIFF tiff) {
    UniqueFD fd = openSource(url);

    std::vector<uint8_t> buffer(readChunk);
    auto readSome = [&]() -> std::size_t {
        for (;;) {
            const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) raise(ErrorCase::invalidInput);
        }
    };
    // A regular file gives a whole first chunk, or all of a smaller file.
    std::size_t n = readSome();
    const std::optional<ImageFormat> format = formatOf(buffer.data(), n, tiff);
    if (!format) raise(ErrorCase::invalidInput);

    const char* loaderName = *format == ImageFormat::png ? "png" : *format == ImageFormat::jpeg ? "jpeg" : "tiff";
    GError* typeError = nullptr;
    GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_type(loaderName, &typeError));
    ErrorPtr heldTypeError(typeError);
    if (!loader) raise(ErrorCase::invalidInput);
    LoadState state{*format, std::nullopt};
    g_signal_connect(loader.get(), "size-prepared", G_CALLBACK(onSizePrepared), &state);
    FormatEnd formatEnd(*format);

    auto abandon = [&](ErrorCase fallback) {
        // The loader reports the abandoned decode as an error of its own;
        // the reason that matters is the refusal or the fallback case.
        GError* ignored = nullptr;
        gdk_pixbuf_loader_close(loader.get(), &ignored);
        ErrorPtr drop(ignored);
        if (state.refusal) throw *state.refusal;
        raise(fallback);
    };

    while (n > 0) {
        formatEnd.feed(buffer.data(), n);
        GError* error = nullptr;
        const bool ok = gdk_pixbuf_loader_write(loader.get(), buffer.data(), static_cast<gsize>(n), &error);
        ErrorPtr held(error);
        if (!ok || state.refusal) abandon(ErrorCase::invalidInput);
        try {
            n = readSome();
        } catch (const BrindlexError&) {
            abandon(ErrorCase::invalidInput);
        }
    }
    // A file cut short (an interrupted download or copy) is not a page, even
    // where the decoder made one of it.
    if (!formatEnd.reached()) abandon(ErrorCase::incompleteImages);

    GError* error = nullptr;
    const bool closed = gdk_pixbuf_loader_close(loader.get(), &error);
    ErrorPtr held(error);
    if (state.refusal) throw *state.refusal;
    GdkPixbuf* pixbuf = gdk_pixbuf_loader_get_pixbuf(loader.get());
    if (!closed || !pixbuf) raise(ErrorCase::invalidInput);
    GObjectPtr<GdkPixbuf> result(GDK_PIXBUF(g_object_ref(pixbuf)));
    // The estimate still decides whether the page may go on.
    CaptureBudget::checkLoad(gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf));
    if (!isPlainRGB(pixbuf)) raise(ErrorCase::invalidInput);
    return result;
}

uint32_t orientationOf(GdkPixbuf* pixbuf) {
    const char* option = gdk_pixbuf_get_option(pixbuf, "orientation");
    if (!option) return 1;
    uint32_t value = 0;
    const char* end = option + std::strlen(option);
    auto [ptr, ec] = std::from_chars(option, end, value);
    // Only the eight defined codes can be applied; anything else is upright.
    if (ec != std::errc() || ptr != end || value < 1 || value > 8) return 1;
    return value;
}

// Opens a PDF; a locked document needs its password.
GObjectPtr<PopplerDocument> openPDF(const std::filesystem::path& url, const std::optional<std::string>& password) {
    UniqueFD fd = openSource(url);
    // Poppler opens the file by name; the descriptor's own name in /proc
    // reopens the very file that was checked. (Poppler's descriptor entry
    // point cannot retry a password in its second encoding, so it is not
    // used.)
    const std::string checked = "/proc/self/fd/" + std::to_string(fd.get());
    GError* error = nullptr;
    char* uri = g_filename_to_uri(checked.c_str(), nullptr, &error);
    ErrorPtr uriError(error);
    if (!uri) raise(ErrorCase::invalidInput);
    error = nullptr;
    PopplerDocument* doc = poppler_document_new_from_file(uri, password ? password->c_str() : nullptr, &error);
    g_free(uri);
    ErrorPtr openError(error);
    if (!doc) {
        if (error && error->domain == POPPLER_ERROR && error->code == POPPLER_ERROR_ENCRYPTED) {
            raise(ErrorCase::lockedPDF);
        }
        raise(ErrorCase::invalidInput);
    }
    return GObjectPtr<PopplerDocument>(doc);
}

struct SurfaceDestroy {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct ContextDestroy {
    void operator()(cairo_t* c) const { cairo_destroy(c); }
};

// What the encoder writes: the image's size, its colour type and each row
// already in PNG's channel order (R, G, B[, A], straight alpha).
struct PNGSource {
    uint32_t width = 0;
    uint32_t height = 0;
    bool alpha = false;
    // Returns row y; may reuse one scratch row for every call.
    std::function<const uint8_t*(uint32_t y)> row;
};

// One fixed filter and zlib's fastest level: choosing a filter per row and
// searching harder cost four to five times the time for a file a few per
// cent smaller, and encoding would then outlast taking the page itself.
constexpr int compressionLevel = 1;
constexpr int fixedFilter = PNG_FILTER_NONE;
// Fewer, larger IDAT chunks and write calls than libpng's 8 KiB.
constexpr std::size_t deflateBuffer = std::size_t{1} << 20;

// libpng reports errors by longjmp; this function holds only trivially
// destructible locals across setjmp, so no destructor is skipped.
bool encodePNG(const PNGSource& source, std::vector<uint8_t>* out) {
    struct Callbacks {
        static void write(png_structp png, png_bytep data, png_size_t length) {
            auto* sink = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
            bool grown = true;
            try {
                sink->insert(sink->end(), data, data + length);
            } catch (const std::bad_alloc&) {
                grown = false;
            }
            // Outside the handler: png_error leaves by longjmp.
            if (!grown) png_error(png, "out of memory");
        }
        static void flush(png_structp) {}
        static void error(png_structp png, png_const_charp) { png_longjmp(png, 1); }
        static void warning(png_structp, png_const_charp) {}
        // A row source that throws (out of memory for its scratch row) must
        // not unwind through libpng's C frames.
        static png_bytep row(png_structp png, const PNGSource& source, uint32_t y) {
            const uint8_t* r = nullptr;
            try {
                r = source.row(y);
            } catch (...) {
                r = nullptr;
            }
            if (!r) png_error(png, "row unavailable");
            return const_cast<png_bytep>(r);
        }
    };

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Callbacks::error, Callbacks::warning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(png, out, Callbacks::write, Callbacks::flush);
    png_set_compression_level(png, compressionLevel);
    png_set_compression_buffer_size(png, deflateBuffer);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, fixedFilter);
    png_set_IHDR(png, info, source.width, source.height, 8, source.alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < source.height; ++y) png_write_row(png, Callbacks::row(png, source, y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// Premultiplied blue, green, red, alpha to straight red, green, blue and,
// with alpha, the alpha byte. Rounded to the nearest value, so premultiplying
// the result again gives back the source exactly.
void unpremultiplyRow(const uint8_t* src, uint8_t* dst, int64_t width, bool alpha) {
    for (int64_t x = 0; x < width; ++x, src += 4) {
        const unsigned a = src[3];
        unsigned r = src[2], g = src[1], b = src[0];
        if (a != 255) {
            if (a == 0) {
                r = g = b = 0;
            } else {
                // A component above its alpha is not valid premultiplied
                // colour; it is clamped rather than wrapped.
                r = std::min(255u, (r * 255 + a / 2) / a);
                g = std::min(255u, (g * 255 + a / 2) / a);
                b = std::min(255u, (b * 255 + a / 2) / a);
            }
        }
        dst[0] = static_cast<uint8_t>(r);
        dst[1] = static_cast<uint8_t>(g);
        dst[2] = static_cast<uint8_t>(b);
        if (alpha) {
            dst[3] = static_cast<uint8_t>(a);
            dst += 4;
        } else {
            dst += 3;
        }
    }
}

// The page's size in whole pixels at dpi, within the load limit.
std::pair<int, int> pageSize(PopplerPage* page, double dpi) {
    // Poppler gives the crop box with the page's rotation already applied
    // (90 and 270 swap the sides) and draws the page in that orientation.
    double orientedWidth = 0, orientedHeight = 0;
    poppler_page_get_size(page, &orientedWidth, &orientedHeight);

    // dpi × points ÷ 72 rather than (dpi ÷ 72) × points: the quotient is
    // inexact, and a product a hair above a whole number would add a column.
    const double w = dpi * orientedWidth / pointsPerInch;
    const double h = dpi * orientedHeight / pointsPerInch;
    auto fits = [](double v) { return std::isfinite(v) && v > 0 && v <= maximumPDFSide; };
    if (!fits(w) || !fits(h)) raise(ErrorCase::budgetExceeded);
    const int width = static_cast<int>(std::ceil(w));
    const int height = static_cast<int>(std::ceil(h));
    CaptureBudget::checkLoad(width, height);
    return {width, height};
}

// Poppler decodes every image a page draws into a cairo image surface of
// the image's own size, whatever size it is drawn at (1.6 GB for one of
// 20,000 pixels square on an A4 page), and leaves out, without a word, one
// that cairo cannot make (over 32,767 pixels a side). While a page is drawn,
// the surfaces Poppler asks cairo for are admitted here, against what the
// load limit leaves beside the page's own bitmap, and one refused fails the
// page instead of being decoded or dropped.
struct PageAdmission {
    int64_t room = 0;
    bool refused = false;
};
thread_local PageAdmission* drawnPage = nullptr;

constexpr int cairoLargestSide = 32767;
constexpr int64_t surfaceBytesPerPixel = 4;

// What the images of a page of that size may hold while it is drawn.
int64_t imageRoom(int width, int height) {
    return CaptureBudget::loadLimit() - CaptureBudget::fixedOverhead -
           int64_t{width} * height * surfaceBytesPerPixel;
}

// Draws the page on white into the surface, whose first row is the page's
// row `top`: shifted by a whole number of device pixels, so that outlines
// and glyphs fall on the same pixels as in a surface of the whole page.
// An image over the room the page's size leaves is dimensionOverflow.
void renderRows(PopplerPage* page, cairo_surface_t* surface, int top, double dpi, int64_t room) {
    PageAdmission admission{room, false};
    {
        std::unique_ptr<cairo_t, ContextDestroy> cr(cairo_create(surface));
        cairo_set_source_rgb(cr.get(), 1, 1, 1);
        cairo_paint(cr.get());
        cairo_translate(cr.get(), 0, -top);
        const double scale = dpi / pointsPerInch;
        cairo_scale(cr.get(), scale, scale);
        drawnPage = &admission;
        poppler_page_render(page, cr.get());
        drawnPage = nullptr;
        if (admission.refused) raise(ErrorCase::dimensionOverflow);
        if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) raise(ErrorCase::renderFailed);
    }
    cairo_surface_flush(surface);
}

// Cairo's native 0xXXRRGGBB pixels as R, G, B bytes.
void rgbRow(const unsigned char* source, uint8_t* d, int width) {
    const auto* row = reinterpret_cast<const uint32_t*>(source);
    for (int x = 0; x < width; ++x) {
        const uint32_t px = row[x];
        d[0] = static_cast<uint8_t>(px >> 16);
        d[1] = static_cast<uint8_t>(px >> 8);
        d[2] = static_cast<uint8_t>(px);
        d += 3;
    }
}

bool opaqueRow(const uint8_t* row, int64_t width) {
    for (int64_t x = 0; x < width; ++x) {
        if (row[x * 4 + 3] != 0xff) return false;
    }
    return true;
}

}  // namespace

SourceImage image(const std::filesystem::path& url, TIFF tiff) {
    GObjectPtr<GdkPixbuf> pixbuf = loadChecked(url, tiff);
    SourceImage result;
    result.orientation = orientationOf(pixbuf.get());
    result.image = RasterImage::adopt(pixbuf.release());
    return result;
}

RasterImage preview(const std::filesystem::path& url) {
    GObjectPtr<GdkPixbuf> pixbuf = loadChecked(url, TIFF::refused);
    GdkPixbuf* upright = gdk_pixbuf_apply_embedded_orientation(pixbuf.get());
    if (!upright) raise(ErrorCase::invalidInput);
    return RasterImage::adopt(upright);
}

int pdfPageCount(const std::filesystem::path& url, const std::optional<std::string>& password) {
    auto doc = openPDF(url, password);
    return poppler_document_get_n_pages(doc.get());
}

RasterImage pdf(const std::filesystem::path& url, int page, double dpi, const std::optional<std::string>& password) {
    if (!(dpi >= minimumDPI && dpi <= maximumDPI)) raise(ErrorCase::invalidInput);
    auto doc = openPDF(url, password);
    if (page < 0 || page >= poppler_document_get_n_pages(doc.get())) raise(ErrorCase::invalidInput);
    GObjectPtr<PopplerPage> pdfPage(poppler_document_get_page(doc.get(), page));
    if (!pdfPage) raise(ErrorCase::invalidInput);

    const auto [width, height] = pageSize(pdfPage.get(), dpi);
    std::unique_ptr<cairo_surface_t, SurfaceDestroy> surface(
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) raise(ErrorCase::budgetExceeded);
    renderRows(pdfPage.get(), surface.get(), 0, dpi, imageRoom(width, height));

    GdkPixbuf* out = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (!out) raise(ErrorCase::renderFailed);
    RasterImage result = RasterImage::adopt(out);
    const unsigned char* src = cairo_image_surface_get_data(surface.get());
    const int srcStride = cairo_image_surface_get_stride(surface.get());
    uint8_t* dst = gdk_pixbuf_get_pixels(out);
    const int dstStride = gdk_pixbuf_get_rowstride(out);
    for (int y = 0; y < height; ++y) {
        rgbRow(src + static_cast<std::ptrdiff_t>(srcStride) * y, dst + static_cast<std::ptrdiff_t>(dstStride) * y,
               width);
    }
    return result;
}

struct PDFPages::Document {
    GObjectPtr<PopplerDocument> doc;
};

PDFPages::PDFPages(const std::filesystem::path& url, const std::optional<std::string>& password)
    : document_(std::make_unique<Document>(Document{openPDF(url, password)})) {}

PDFPages::~PDFPages() = default;

int PDFPages::count() const { return poppler_document_get_n_pages(document_->doc.get()); }

std::vector<uint8_t> PDFPages::png(int page, double dpi, int64_t bandBytes) const {
    if (!(dpi >= minimumDPI && dpi <= maximumDPI)) raise(ErrorCase::invalidInput);
    if (page < 0 || page >= count()) raise(ErrorCase::invalidInput);
    GObjectPtr<PopplerPage> pdfPage(poppler_document_get_page(document_->doc.get(), page));
    if (!pdfPage) raise(ErrorCase::invalidInput);
    // Named values, not a structured binding: the row reader below captures
    // the width, which clang before 16 refuses for a binding.
    const auto size = pageSize(pdfPage.get(), dpi);
    const int width = size.first;
    const int height = size.second;
    const int band = static_cast<int>(std::clamp<int64_t>(bandBytes / (int64_t{width} * 4), 1, height));
    std::unique_ptr<cairo_surface_t, SurfaceDestroy> surface(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, band));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) raise(ErrorCase::budgetExceeded);
    std::vector<uint8_t> scratch(static_cast<std::size_t>(width) * 3);
    const int64_t room = imageRoom(width, height);
    const unsigned char* data = cairo_image_surface_get_data(surface.get());
    const int stride = cairo_image_surface_get_stride(surface.get());

    PNGSource source;
    source.width = static_cast<uint32_t>(width);
    source.height = static_cast<uint32_t>(height);
    source.alpha = false;
    int top = -1;
    // A band that cannot be drawn stops the encoder, which knows no reasons.
    std::optional<BrindlexError> refusal;
    source.row = [&](uint32_t y) -> const uint8_t* {
        const int row = static_cast<int>(y);
        if (top < 0 || row >= top + band) {
            top = row - row % band;
            try {
                renderRows(pdfPage.get(), surface.get(), top, dpi, room);
            } catch (const BrindlexError& e) {
                refusal = e;
                return nullptr;
            }
        }
        rgbRow(data + static_cast<std::ptrdiff_t>(stride) * (row - top), scratch.data(), width);
        return scratch.data();
    };
    std::vector<uint8_t> out;
    if (!encodePNG(source, &out)) {
        if (refusal) throw *refusal;
        raise(ErrorCase::renderFailed);
    }
    return out;
}

std::vector<uint8_t> png(const RasterImage& image) {
    if (!image) raise(ErrorCase::renderFailed);
    GdkPixbuf* pixbuf = image.pixbuf();
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
    const auto stride = static_cast<std::size_t>(gdk_pixbuf_get_rowstride(pixbuf));
    PNGSource source;
    source.width = static_cast<uint32_t>(gdk_pixbuf_get_width(pixbuf));
    source.height = static_cast<uint32_t>(gdk_pixbuf_get_height(pixbuf));
    source.alpha = gdk_pixbuf_get_has_alpha(pixbuf);
    source.row = [pixels, stride](uint32_t y) { return pixels + stride * y; };
    std::vector<uint8_t> out;
    if (!encodePNG(source, &out)) raise(ErrorCase::renderFailed);
    return out;
}

std::vector<uint8_t> png(const PixelBuffer& buffer) {
    PNGSource source;
    source.width = static_cast<uint32_t>(buffer.width());
    source.height = static_cast<uint32_t>(buffer.height());
    // A page is almost always opaque, and three bytes a pixel deflate faster
    // than four.
    source.alpha = !buffer.opaque();
    std::vector<uint8_t> scratch;
    try {
        scratch.resize(static_cast<std::size_t>(buffer.width()) * (source.alpha ? 4 : 3));
    } catch (const std::bad_alloc&) {
        raise(ErrorCase::budgetExceeded);
    }
    source.row = [&buffer, &scratch, alpha = source.alpha](uint32_t y) {
        unpremultiplyRow(buffer.row(y), scratch.data(), buffer.width(), alpha);
        return scratch.data();
    };
    std::vector<uint8_t> out;
    if (!encodePNG(source, &out)) raise(ErrorCase::renderFailed);
    return out;
}

std::optional<std::vector<uint8_t>> opaquePNG(const PixelBuffer& buffer, const std::function<bool(int64_t y)>& ready) {
    PNGSource source;
    source.width = static_cast<uint32_t>(buffer.width());
    source.height = static_cast<uint32_t>(buffer.height());
    source.alpha = false;
    std::vector<uint8_t> scratch(static_cast<std::size_t>(buffer.width()) * 3);
    source.row = [&](uint32_t y) -> const uint8_t* {
        if (!ready(y) || !opaqueRow(buffer.row(y), buffer.width())) return nullptr;
        unpremultiplyRow(buffer.row(y), scratch.data(), buffer.width(), false);
        return scratch.data();
    };
    std::vector<uint8_t> out;
    if (!encodePNG(source, &out)) return std::nullopt;
    return out;
}

}  // namespace Raster
}  // namespace velmora

// Every cairo image surface of the process is made here (this definition
// comes before cairo's own for every library); only those Poppler asks for
// while a page is drawn on this thread are admitted against the page's room.
extern "C" cairo_surface_t* cairo_image_surface_create(cairo_format_t format, int width, int height) {
    using Create = cairo_surface_t* (*)(cairo_format_t, int, int);
    static const auto cairoCreate = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "cairo_image_surface_create"));
    using velmora::Raster::drawnPage;
    if (velmora::Raster::PageAdmission* page = drawnPage) {
        // A mask of one bit a pixel costs an eighth of a byte a pixel, not four.
        const int stride = cairo_format_stride_for_width(format, std::max(width, 0));
        const bool fits = width <= velmora::Raster::cairoLargestSide && height <= velmora::Raster::cairoLargestSide &&
                          int64_t{stride} * height <= page->room;
        if (!fits) {
            page->refused = true;
            // A surface in error, which Poppler checks for and then draws nothing.
            return cairoCreate(format, -1, -1);
        }
    }
    return cairoCreate(format, width, height);
}
