#pragma once

#include <string>
#include <string_view>

namespace velmora {

// The one rule for the addresses the browser may load, display-free so that
// the records which keep addresses (tab restoration, downloads) check them
// the way the web session does.
namespace WebAddress {

// Trimmed text that parses as an http or https address with a non-empty host
// and no user or password, written back in its one canonical text; anything
// else throws invalidInput. Applying it to its own result changes nothing.
std::string validatedURL(std::string_view text);

}  // namespace WebAddress
}  // namespace velmora
