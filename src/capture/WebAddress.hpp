#pragma once

#include <optional>
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

// How a page's place reads where no title names it: the host, with the port
// when the address gives one other than its scheme's own, so that two
// servers on one host read apart ("127.0.0.1:8080", "[::1]:8443"). Nothing
// for text without a host.
std::optional<std::string> shownHost(std::string_view address);

}  // namespace WebAddress
}  // namespace velmora
