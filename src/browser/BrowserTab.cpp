#include "browser/BrowserTab.hpp"

#include <glib.h>

#include <stdexcept>
#include <utility>

#include "capture/WebAddress.hpp"

namespace velmora {

namespace {

// The session on the store of the tab's mode (steps 2 and 3 of the
// construction).
std::shared_ptr<BrowserSession> makeSession(const UUID& id, bool privateMode, BrowserStores* stores,
                                            std::optional<WebViewConfiguration> configuration) {
    // A tab without the application's stores would quietly fall back to a
    // store of its own; that is a wiring fault, not a user's situation.
    if (!stores) throw std::invalid_argument("a tab needs the application's web stores");
    WebKitNetworkSession* store = privateMode ? stores->acquirePrivate(id) : stores->normal();
    try {
        return std::make_shared<BrowserSession>(privateMode, store, std::move(configuration));
    } catch (...) {
        if (privateMode) stores->releasePrivate(id);
        throw;
    }
}

}  // namespace

BrowserTab::BrowserTab(UUID tabID, bool privateMode, std::shared_ptr<BrowserStores> stores,
                       std::optional<WebViewConfiguration> configuration)
    : id(tabID),
      browser(makeSession(tabID, privateMode, stores.get(), std::move(configuration))),
      stores_(std::move(stores)) {
    // Held weakly: a session that outlives the application's stores has no
    // gate to ask and refuses to navigate.
    browser->navigationPermitted = [weak = std::weak_ptr<BrowserStores>(stores_), privateMode] {
        auto stores = weak.lock();
        return stores && stores->permitsNavigation(privateMode);
    };
    observation_ = browser->changed.connect([this] { changed.emit(); });
}

BrowserTab::~BrowserTab() {
    observation_.disconnect();
    // A tab dropped without a shutdown owns nothing any more: leaving its
    // identifier among the owners would keep the private store (and the
    // private data in it) for the rest of the run.
    if (!closed_ && isPrivate()) stores_->releasePrivate(id);
}

bool BrowserTab::active() const {
    if (browser->hasPendingOperation()) return true;
    for (const auto& download : downloads.get()) {
        if (download->active()) return true;
    }
    return false;
}

std::string BrowserTab::title() const {
    if (deferredURL->has_value()) return deferredPrefix + WebAddress::shownHost(*deferredURL.get()).value_or(deferredWithoutHost);
    if (restorationUnavailable) return reopenTitle;
    // A load that failed shows as that failure, under the address that
    // failed, whatever page was there before.
    if (browser->failedURL->has_value()) return *browser->failedURL.get();
    if (!browser->pageTitle->empty()) return browser->pageTitle.get();
    if (browser->currentURL->has_value()) {
        if (auto host = WebAddress::shownHost(*browser->currentURL.get())) return *host;
    }
    return emptyTitle;
}

void BrowserTab::shutdown() {
    if (closed_ || active()) return;
    closed_ = true;
    browser->shutdown();
    downloads = std::vector<std::shared_ptr<BrowserDownload>>{};
    deferredURL = std::nullopt;
    address = std::string();
    if (isPrivate()) stores_->releasePrivate(id);
}

void BrowserTab::cancel() {
    if (browser->hasPendingOperation()) browser->cancel();
    // Collected first: a cancel may change the list (the window drops an
    // ended download) while the rest still wait for theirs.
    std::vector<std::shared_ptr<BrowserDownload>> running;
    for (const auto& download : downloads.get()) {
        if (download->active()) running.push_back(download);
    }
    for (const auto& download : running) download->cancel();
}

}  // namespace velmora
