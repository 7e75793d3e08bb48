#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora {

// A bitmap in the web engine's own pixel layout: 4 bytes per pixel in the
// order blue, green, red, alpha, colour premultiplied by alpha (cairo's
// ARGB32 and GDK's default memory format on a little-endian machine), rows
// top to bottom, tightly packed. A tall capture is composed in one; cairo
// surfaces stop at 32767 pixels per side, which a long page at scale 2 passes.
//
// A new buffer is transparent black. Large buffers come straight from the
// kernel as zero pages, so making one costs no time until it is written.
class PixelBuffer {
public:
    static constexpr int64_t bytesPerPixel = 4;
    // PNG's limit on either side.
    static constexpr int64_t maximumSide = 2147483647;

    // A side below 1 or past maximumSide, or a byte count past the address
    // range, is dimensionOverflow; memory the system will not give is
    // budgetExceeded.
    PixelBuffer(int64_t width, int64_t height);
    PixelBuffer(PixelBuffer&&) noexcept = default;
    PixelBuffer& operator=(PixelBuffer&&) noexcept = default;
    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;

    int64_t width() const noexcept { return width_; }
    int64_t height() const noexcept { return height_; }
    int64_t bytesPerRow() const noexcept { return width_ * bytesPerPixel; }
    std::size_t byteCount() const noexcept { return static_cast<std::size_t>(bytesPerRow() * height_); }

    uint8_t* data() noexcept { return bytes_.get(); }
    const uint8_t* data() const noexcept { return bytes_.get(); }
    // Row y, unchecked.
    uint8_t* row(int64_t y) noexcept { return bytes_.get() + static_cast<std::ptrdiff_t>(y * bytesPerRow()); }
    const uint8_t* row(int64_t y) const noexcept {
        return bytes_.get() + static_cast<std::ptrdiff_t>(y * bytesPerRow());
    }

    // Copies `rows` rows of exactly one buffer row each from source (rows
    // sourceStride bytes apart) to the rows starting at y. Rows outside the
    // buffer or a stride shorter than a row are renderFailed, with nothing
    // copied.
    void copyRows(int64_t y, const uint8_t* source, std::size_t sourceStride, int64_t rows);

    // Keeps only the first `rows` rows (a capture part cropped to a page that
    // got shorter); the memory stays with the buffer until it goes. A count
    // below 1 or past the height is renderFailed.
    void keepRows(int64_t rows);

    // Whether every alpha byte is 255.
    bool opaque() const noexcept;

private:
    struct Free {
        void operator()(uint8_t* p) const noexcept;
    };

    int64_t width_ = 0;
    int64_t height_ = 0;
    std::unique_ptr<uint8_t, Free> bytes_;
};

}  // namespace velmora
