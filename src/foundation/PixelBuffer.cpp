#include "foundation/PixelBuffer.hpp"

#include <bit>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "foundation/BrindlexError.hpp"

namespace velmora {

// The byte order above is the little-endian reading of cairo's and GDK's
// 32-bit pixels; the alpha scan below relies on it too.
static_assert(std::endian::native == std::endian::little);

void PixelBuffer::Free::operator()(uint8_t* p) const noexcept { std::free(p); }

PixelBuffer::PixelBuffer(int64_t width, int64_t height) {
    if (width < 1 || height < 1 || width > maximumSide || height > maximumSide) raise(ErrorCase::dimensionOverflow);
    int64_t rowBytes = 0;
    int64_t total = 0;
    if (__builtin_mul_overflow(width, bytesPerPixel, &rowBytes) || __builtin_mul_overflow(rowBytes, height, &total) ||
        static_cast<uint64_t>(total) > std::numeric_limits<std::size_t>::max() / 2) {
        raise(ErrorCase::dimensionOverflow);
    }
    // calloc, not new[]: a large zeroed block is mapped lazily instead of
    // being written once here and again by the capture.
    auto* bytes = static_cast<uint8_t*>(std::calloc(static_cast<std::size_t>(total), 1));
    if (!bytes) raise(ErrorCase::budgetExceeded);
    bytes_.reset(bytes);
    width_ = width;
    height_ = height;
}

void PixelBuffer::copyRows(int64_t y, const uint8_t* source, std::size_t sourceStride, int64_t rows) {
    const auto rowBytes = static_cast<std::size_t>(bytesPerRow());
    if (!source || y < 0 || rows < 0 || rows > height_ - y || sourceStride < rowBytes) raise(ErrorCase::renderFailed);
    if (sourceStride == rowBytes) {
        std::memcpy(row(y), source, rowBytes * static_cast<std::size_t>(rows));
        return;
    }
    for (int64_t i = 0; i < rows; ++i) {
        std::memcpy(row(y + i), source + sourceStride * static_cast<std::size_t>(i), rowBytes);
    }
}

void PixelBuffer::keepRows(int64_t rows) {
    if (rows < 1 || rows > height_) raise(ErrorCase::renderFailed);
    height_ = rows;
}

bool PixelBuffer::opaque() const noexcept {
    const uint8_t* p = data();
    const uint8_t* end = p + byteCount();
    // The alpha byte is the fourth of each pixel; eight pixels at a time
    // keep the loop branch-light on a page that is opaque throughout.
    constexpr uint64_t alphaMask = 0xff000000ff000000ULL;
    while (end - p >= 32) {
        uint64_t w[4];
        std::memcpy(w, p, sizeof w);
        if (((w[0] & w[1] & w[2] & w[3]) & alphaMask) != alphaMask) return false;
        p += 32;
    }
    for (; p < end; p += 4) {
        if (p[3] != 0xff) return false;
    }
    return true;
}

}  // namespace velmora
