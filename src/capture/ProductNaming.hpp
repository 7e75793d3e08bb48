#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "foundation/JSON.hpp"

namespace velmora {

// Stems of output files from the chosen naming pattern.
namespace ProductNaming {
std::string stem(const std::optional<std::string>& url, std::string_view title, std::string_view pattern, Date date);
}  // namespace ProductNaming

}  // namespace velmora
