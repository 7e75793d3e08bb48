#pragma once

// The application's website data stores.
//
// - Normal tabs of every window share one persistent network session, kept
//   in "<storage>/web/<normal store identifier>/" ("data" and "cache"), so
//   the same identifier always opens the same cookies and caches. Both
//   folders are made and checked through SecureDirectory before the engine
//   sees their paths: a link or a folder we may not make is an error at
//   start-up, never a store the engine follows elsewhere or keeps nowhere.
// - Private tabs that are open at the same time share one ephemeral network
//   session. The stores hold it only while some tab owns it; the last
//   release drops our reference, and the next private tab gets a new,
//   empty one. Views keep their own reference, so a view still on screen
//   never loses its session underneath it.
// - The deletion gate is a per-mode flag set, not a lock: it stops new
//   navigations of that mode while the site-data deletion works, nothing
//   that already runs.
// Only one persistent session may be opened on a pair of folders per
// process (the engine's network process keeps writing into them); the
// service container makes the one instance. Main thread only.

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include "foundation/GObjectRef.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Published.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// One site's website data as the engine groups it. It holds the engine's
// record itself, so the site-data deletion removes exactly the records the
// user picked, through the website data manager of the store they came from.
struct WebsiteDataRecord {
    // The site's name as the engine reports it ("127.0.0.1", "example.com").
    std::string name;
    std::shared_ptr<WebKitWebsiteData> data;

    // Takes a reference of its own.
    static WebsiteDataRecord from(WebKitWebsiteData* record);
};

class BrowserStores {
public:
    // Opens the normal store of the runtime's storage root. The folders'
    // SecureDirectory errors (unsafePath, saveFailed) pass through.
    explicit BrowserStores(const AppRuntime& runtime);
    // Uses a normal store the caller already opened: tests share one per
    // process.
    explicit BrowserStores(WebKitNetworkSession* normal);
    BrowserStores(const BrowserStores&) = delete;
    BrowserStores& operator=(const BrowserStores&) = delete;

    // The data and cache folders of the normal store under a storage root.
    static std::filesystem::path normalDataFolder(const std::filesystem::path& storage);
    static std::filesystem::path normalCacheFolder(const std::filesystem::path& storage);

    // Emitted after every change of privateOwners.
    sigc::signal<void()> privateOwnersChanged;
    // The tabs that currently use the private store.
    Published<std::set<UUID>> privateOwners{privateOwnersChanged, {}};

    WebKitNetworkSession* normal() const noexcept { return normal_.get(); }
    // Present exactly while some tab owns it.
    WebKitNetworkSession* privateStore() const noexcept { return private_.get(); }
    // The modes whose website data is being deleted now (true: private).
    const std::set<bool>& deleting() const noexcept { return deleting_; }

    // Makes the private store when there is none and records the tab as one
    // of its owners (again: no change).
    WebKitNetworkSession* acquirePrivate(const UUID& tab);
    // The tab no longer owns the private store; the last owner's release
    // drops it. An identifier that never acquired changes nothing.
    void releasePrivate(const UUID& tab);

    // Closes the gate of a mode: false, changing nothing, when a deletion of
    // that mode is already under way.
    bool beginDeletion(bool privateMode);
    void endDeletion(bool privateMode);
    bool permitsNavigation(bool privateMode) const { return !deleting_.contains(privateMode); }

    // The website data records of a mode's store, for every data type, in
    // the engine's order. Empty at once, without asking the engine, while
    // there is no private store.
    Task<std::vector<WebsiteDataRecord>> records(bool privateMode);

private:
    GObjectRef<WebKitNetworkSession> normal_;
    GObjectRef<WebKitNetworkSession> private_;
    std::set<bool> deleting_;
};

}  // namespace velmora
