#pragma once

// What the privacy section reaches beyond the settings: the open tabs of
// every window and the website data stores. The windows live in the
// workspace, above this layer, so the section sees them only through these
// interfaces, which the application implements over its window set; the
// stores sit behind an interface too, so the section's rules run without a
// web engine in tests.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "browser/BrowserStores.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// One open tab of some window, as a site-data deletion sees it. An
// implementation holds its window and its tab weakly: once either is gone
// the tab is no longer active, and cancel and close do nothing.
class PrivacyTab {
public:
    virtual ~PrivacyTab() = default;

    virtual UUID id() const = 0;
    virtual bool isPrivate() const = 0;
    // The address of the page the tab's session shows.
    virtual std::optional<std::string> currentURL() const = 0;
    // The text of the tab's address field.
    virtual std::string address() const = 0;
    // A save or print is pending, or a download runs.
    virtual bool active() const = 0;
    // Stops the pending save and every active download; returns at once.
    virtual void cancel() = 0;
    // Closes the idle tab in its window, which gets a fresh normal tab when
    // this was its last one; nothing for a busy tab.
    virtual void close() = 0;
};

// The set of open windows.
class PrivacyWindows {
public:
    virtual ~PrivacyWindows() = default;
    // Every tab of every open window, window by window, each window's tabs
    // in tab order.
    virtual std::vector<std::shared_ptr<PrivacyTab>> tabs() const = 0;
    // Writes the tab snapshot now.
    virtual void saveSnapshot() = 0;
};

// The website data stores of normal and private tabs, with their deletion
// gate.
class SiteDataStores {
public:
    // One store, chosen when a deletion is confirmed and held by it until
    // the data is gone: the private store may be dropped and made anew
    // meanwhile, and the records belong to the one they were listed from.
    class Store {
    public:
        virtual ~Store() = default;
        // Removes every kind of website data of the records. The engine's
        // error passes on (a GLibError).
        virtual Task<void> remove(std::vector<WebsiteDataRecord> records) = 0;
    };

    virtual ~SiteDataStores() = default;
    // The records of a kind's store, in the engine's order; empty while
    // there is no private store.
    virtual Task<std::vector<WebsiteDataRecord>> records(bool privateMode) = 0;
    // The store of a kind now; null for the private kind while no private
    // tab holds one.
    virtual std::shared_ptr<Store> store(bool privateMode) = 0;
    virtual bool beginDeletion(bool privateMode) = 0;
    virtual void endDeletion(bool privateMode) = 0;
};

// The stores of the application, over the engine's website data managers.
class BrowserSiteDataStores final : public SiteDataStores {
public:
    explicit BrowserSiteDataStores(std::shared_ptr<BrowserStores> stores) : stores_(std::move(stores)) {}

    Task<std::vector<WebsiteDataRecord>> records(bool privateMode) override;
    std::shared_ptr<Store> store(bool privateMode) override;
    bool beginDeletion(bool privateMode) override { return stores_->beginDeletion(privateMode); }
    void endDeletion(bool privateMode) override { stores_->endDeletion(privateMode); }

private:
    std::shared_ptr<BrowserStores> stores_;
};

}  // namespace velmora
