#pragma once

// A request about a tab's page that the window refused (a save, an address),
// kept with the page as it stood when it was refused: its sentence belongs
// beside the control that asked, and only for as long as the page on screen
// is still that one.

#include <optional>
#include <string>

namespace velmora {

struct PageRefusal {
    std::string text;
    // The page's address then; none when the tab showed no page.
    std::optional<std::string> page;
    bool loading = false;
    // Read as an error; the user's own cancelling is none.
    bool failure = true;

    // The page on screen is still the one refused on: the same address, and
    // not finished (or begun) loading since.
    bool concerns(const std::optional<std::string>& shownPage, bool shownLoading) const {
        return page == shownPage && loading == shownLoading;
    }

    bool operator==(const PageRefusal&) const = default;
};

}  // namespace velmora
