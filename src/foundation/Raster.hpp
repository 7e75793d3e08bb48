#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "foundation/PixelBuffer.hpp"

namespace velmora {

// A decoded page image: 8 bits per channel, RGB or RGBA with straight
// (not premultiplied) alpha, rows top to bottom. Immutable; copies share the
// pixels, so an image is cheap to pass between threads.
class RasterImage {
public:
    RasterImage() = default;
    // Takes over the caller's reference. The pixbuf must be 8-bit RGB(A) and
    // must not be changed afterwards.
    static RasterImage adopt(GdkPixbuf* pixbuf);
    // Copies tightly packed rows of width × channels bytes (3 = RGB, 4 = RGBA).
    static RasterImage fromPixels(int width, int height, int channels, const std::vector<uint8_t>& pixels);

    explicit operator bool() const { return pixbuf_ != nullptr; }
    int width() const;
    int height() const;
    int channels() const;
    bool hasAlpha() const { return channels() == 4; }
    // Bytes from one row to the next; may exceed width × channels.
    int rowStride() const;
    const uint8_t* pixels() const;
    // Borrowed; valid while any copy of this image lives.
    GdkPixbuf* pixbuf() const { return pixbuf_.get(); }

private:
    std::shared_ptr<GdkPixbuf> pixbuf_;
};

// The one place where page images enter the system. Stateless, synchronous,
// callable from any thread. Every failure is a BrindlexError: invalidInput
// (unreadable, malformed, bad page or resolution), lockedPDF,
// dimensionOverflow, budgetExceeded (over the load limit, 20000 pixels per
// PDF side, no bitmap) and renderFailed.
namespace Raster {

inline constexpr double minimumDPI = 36;
inline constexpr double maximumDPI = 600;
inline constexpr double maximumPDFSide = 20000;
inline constexpr double pointsPerInch = 72;

// The first image of a file, as stored, with its orientation code
// (1 = up; 2 to 8 the mirrored and rotated variants) for recognition to apply.
struct SourceImage {
    RasterImage image;
    uint32_t orientation = 1;
};

// Whether a TIFF is read: only the single-file reading offers it.
enum class TIFF { refused, accepted };

// The file's content decides its format: PNG or JPEG (and TIFF where it is
// accepted), whatever its name; anything else is invalidInput, and a PNG or
// JPEG that stops before the end its format marks (an interrupted download)
// is incompleteImages. The size is read from the file's header and checked
// against the load limit before any pixel is decoded; a JPEG over it is
// decoded at a half or a quarter of its size where that fits.
SourceImage image(const std::filesystem::path& url, TIFF tiff = TIFF::refused);

// The whole image upright (its orientation applied), read as image() reads
// it, so a huge file cannot exhaust memory in a preview either.
RasterImage preview(const std::filesystem::path& url);

// One page (zero-based) rendered at dpi on white, with the page's rotation
// applied. A locked document needs its password; a password given for an
// unlocked one is ignored. An image of the page that would not fit beside
// the page's bitmap within the load limit, or that cairo cannot hold, is
// dimensionOverflow rather than decoded or left out.
RasterImage pdf(const std::filesystem::path& url, int page, double dpi,
                const std::optional<std::string>& password = std::nullopt);

// The number of pages, opening the document as pdf() does.
int pdfPageCount(const std::filesystem::path& url, const std::optional<std::string>& password = std::nullopt);

// The image as a PNG file's bytes, encoded for speed: zlib's fastest level
// and one fixed filter. An image that cannot be encoded is renderFailed.
std::vector<uint8_t> png(const RasterImage& image);

// The same for a premultiplied buffer, read in place: each row is turned into
// straight alpha on its way to the encoder, so the only extra memory is one
// row. An opaque buffer is written as RGB, any other as RGBA.
std::vector<uint8_t> png(const PixelBuffer& buffer);

// The bytes png(buffer) gives for an opaque buffer, encoded while the buffer
// is still being filled, on a thread of the caller's: before reading row y
// the encoder calls ready(y), which may wait until that row is final. Nothing
// (the caller encodes the finished buffer instead) when ready answers false
// or a row turns out not to be opaque, which png(buffer) would write as RGBA.
std::optional<std::vector<uint8_t>> opaquePNG(const PixelBuffer& buffer, const std::function<bool(int64_t y)>& ready);

// A PDF opened once to render many of its pages one after another, on the
// thread that made it: a Poppler document is never shared between threads.
class PDFPages {
public:
    explicit PDFPages(const std::filesystem::path& url, const std::optional<std::string>& password = std::nullopt);
    ~PDFPages();
    PDFPages(const PDFPages&) = delete;
    PDFPages& operator=(const PDFPages&) = delete;

    int count() const;
    // The page as png(pdf(url, page, dpi)) encodes it, drawn band by band
    // into the encoder, so that a band of rows is held rather than the page
    // twice. Text, lines and flat colour come out byte for byte the same;
    // a gradient or a scaled image may differ by a few levels in a channel,
    // as the renderer's fixed-point sampling starts from each band's origin.
    // A band holds about bandBytes of pixels, at least one row.
    std::vector<uint8_t> png(int page, double dpi, int64_t bandBytes = int64_t{4} << 20) const;

    // About what the encoder holds beside the band while a page is encoded
    // (its deflate state and output buffer), for callers that budget
    // several pages at once.
    static constexpr int64_t encoderBytes = int64_t{3} << 19;

private:
    struct Document;
    std::unique_ptr<Document> document_;
};

}  // namespace Raster
}  // namespace velmora
