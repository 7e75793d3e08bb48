// Base64::decode, the reader of every envelope's payload: canonical text
// only, and what it accepts encodes back to exactly the same text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "foundation/Base64.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto bytes = Base64::decode(text);
    if (!bytes) return 0;
    if (bytes->size() != size / 4 * 3 - (text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0)) {
        fuzz::fail("Base64: decoded length does not follow from the text");
    }
    if (Base64::encode(*bytes) != text) fuzz::fail("Base64: an accepted text is not canonical");
    return 0;
}
