#pragma once

#include <optional>
#include <string_view>

namespace velmora {

// Exact, case-sensitive conversion from a stored raw value. Each enumeration
// with string raw values specialises it beside its `rawValue` overload.
template <typename E>
std::optional<E> fromRaw(std::string_view raw);

}  // namespace velmora
