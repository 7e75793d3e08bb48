#pragma once

// Tab restoration reads a BrowserTab through six facts, so that the
// restoration itself stays display-free.

#include <memory>
#include <optional>
#include <vector>

#include "browser/BrowserTab.hpp"
#include "capture/TabRestoration.hpp"

namespace velmora {

// The tab's id, privacy, deferred address and restoration mark, with its
// session's current address and last main-frame method.
RestorableTab restorable(const BrowserTab& tab);

// TabRestoration::snapshotWindow over a window's tabs in tab order.
std::optional<RestoredWindow> snapshotWindow(const UUID& id, const std::vector<std::shared_ptr<BrowserTab>>& tabs,
                                             const UUID& selected);

}  // namespace velmora
