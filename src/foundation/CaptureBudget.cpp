#include "foundation/CaptureBudget.hpp"

#include <unistd.h>

#include <atomic>

#include "foundation/BrindlexError.hpp"

namespace velmora::CaptureBudget {

namespace {

// 0 means no override.
std::atomic<uint64_t> physicalOverride{0};

int64_t multiply(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_mul_overflow(a, b, &r)) raise(ErrorCase::dimensionOverflow);
    return r;
}

int64_t add(int64_t a, int64_t b) {
    int64_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) raise(ErrorCase::dimensionOverflow);
    return r;
}

}  // namespace

int64_t estimate(int64_t width, int64_t height, int64_t tileHeight) {
    if (width < 1 || height < 1 || tileHeight < 1) raise(ErrorCase::dimensionOverflow);
    const int64_t image = multiply(multiply(width, height), bytesPerPixel);
    const int64_t tile = multiply(multiply(width, tileHeight), bytesPerTilePixel);
    return add(add(image, tile), fixedOverhead);
}

uint64_t physicalMemory() {
    if (uint64_t o = physicalOverride.load()) return o;
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    // Without a figure the budget falls back to its floor, the safe side.
    if (pages <= 0 || pageSize <= 0) return 0;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(pageSize);
}

int64_t conservativeBytes(uint64_t physical) {
    const uint64_t eighth = physical / 8;
    return eighth < static_cast<uint64_t>(conservativeCap) ? static_cast<int64_t>(eighth) : conservativeCap;
}

int64_t conservativeBytes() { return conservativeBytes(physicalMemory()); }

int64_t loadLimit(uint64_t physical) {
    const int64_t c = conservativeBytes(physical);
    return c > loadFloor ? c : loadFloor;
}

int64_t loadLimit() { return loadLimit(physicalMemory()); }

void checkLoad(int64_t width, int64_t height) {
    if (estimate(width, height) > loadLimit()) raise(ErrorCase::budgetExceeded);
}

ScopedPhysicalMemory::ScopedPhysicalMemory(uint64_t bytes) {
    const uint64_t old = physicalOverride.exchange(bytes);
    if (old != 0) previous_ = old;
}

ScopedPhysicalMemory::~ScopedPhysicalMemory() { physicalOverride.store(previous_.value_or(0)); }

}  // namespace velmora::CaptureBudget
