#pragma once

#include <cstdint>
#include <optional>

namespace velmora {

// The memory arithmetic that decides whether an image is small enough to
// handle: it guards OCR page loading and the tall web capture, and seeds the
// worker budget shared by captures and OCR pages.
namespace CaptureBudget {

inline constexpr int64_t defaultTileHeight = 800;
inline constexpr int64_t fixedOverhead = 268435456;    // 256 MiB
inline constexpr int64_t bytesPerPixel = 12;           // whole image
inline constexpr int64_t bytesPerTilePixel = 8;        // one tile
inline constexpr int64_t conservativeCap = 805306368;  // 768 MiB
inline constexpr int64_t loadFloor = 402653184;        // 384 MiB

// Estimated peak bytes for handling an image of that size. A non-positive
// argument or any step past the signed 64-bit range is dimensionOverflow.
int64_t estimate(int64_t width, int64_t height, int64_t tileHeight = defaultTileHeight);

// The machine's physical memory in bytes (sysconf), or the test override.
uint64_t physicalMemory();

// min(physical memory / 8, 768 MiB).
int64_t conservativeBytes();
int64_t conservativeBytes(uint64_t physicalMemory);

// The most one loaded page image may cost: max(conservativeBytes, 384 MiB).
int64_t loadLimit();
int64_t loadLimit(uint64_t physicalMemory);

// Throws dimensionOverflow for a size the estimate cannot express and
// budgetExceeded when the estimate (default tile height) is over the load limit.
void checkLoad(int64_t width, int64_t height);

// Makes physicalMemory() report a fixed figure while it lives, so the 8 GiB
// and 2 GiB machines can be exercised anywhere. Not for production callers.
class ScopedPhysicalMemory {
public:
    explicit ScopedPhysicalMemory(uint64_t bytes);
    ~ScopedPhysicalMemory();
    ScopedPhysicalMemory(const ScopedPhysicalMemory&) = delete;
    ScopedPhysicalMemory& operator=(const ScopedPhysicalMemory&) = delete;

private:
    std::optional<uint64_t> previous_;
};

}  // namespace CaptureBudget
}  // namespace velmora
