#include "browser/TabRestorationView.hpp"

namespace velmora {

RestorableTab restorable(const BrowserTab& tab) {
    RestorableTab facts;
    facts.id = tab.id;
    facts.isPrivate = tab.isPrivate();
    facts.deferredURL = tab.deferredURL.get();
    facts.restorationUnavailable = tab.restorationUnavailable.get();
    facts.currentURL = tab.browser->currentURL.get();
    facts.lastMainMethod = tab.browser->lastMainMethod;
    return facts;
}

std::optional<RestoredWindow> snapshotWindow(const UUID& id, const std::vector<std::shared_ptr<BrowserTab>>& tabs,
                                             const UUID& selected) {
    std::vector<RestorableTab> facts;
    facts.reserve(tabs.size());
    for (const auto& tab : tabs) facts.push_back(restorable(*tab));
    return TabRestoration::snapshotWindow(id, facts, selected);
}

}  // namespace velmora
