#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The standard alphabet with "=" padding and no line breaks: the JSON form of
// raw bytes in stored envelopes.
namespace Base64 {

std::string encode(const std::vector<uint8_t>& bytes);

// Only the canonical form is accepted: a length that is a multiple of four,
// alphabet characters only, and padding only at the end. Anything else
// (whitespace, a stray character, a missing "=") is nothing, rather than
// being skipped over as lenient decoders do, so a damaged envelope is never
// read as some other payload.
std::optional<std::vector<uint8_t>> decode(std::string_view text);

}  // namespace Base64
}  // namespace velmora
