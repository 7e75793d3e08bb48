#pragma once

#include <optional>
#include <string_view>

#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"

namespace velmora {

// Where a file to recognise came from. A private file's results never reach
// the disk, and neither does any queue that holds one. The capture context
// of a private tab names this origin too, so it lives below both.
enum class InputOrigin { normal, privateSession };

std::string_view rawValue(InputOrigin o);
template <>
std::optional<InputOrigin> fromRaw<InputOrigin>(std::string_view raw);

// Stored as its raw value; any other string is a decode error.
void to_json(Json& j, InputOrigin o);
void from_json(const Json& j, InputOrigin& o);

}  // namespace velmora
