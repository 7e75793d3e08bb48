#pragma once

// One tab of a workspace window: its web session for the tab's whole life,
// on the store of its mode, and the per-tab state the window shows.
//
// The tab holds its session and the stores strongly. The navigation gate it
// installs in the session holds the stores weakly (a session that outlives
// them refuses to navigate), and the forwarding of the session's changes is
// cut when the tab goes, since a capture context may keep the session alive
// longer. A tab closes only through shutdown(), which does nothing while the
// tab is busy; every closer cancels first and waits until `active` is false.
// Main thread only.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include "browser/BrowserStores.hpp"
#include "browser/BrowserDownload.hpp"
#include "capture/PageRefusal.hpp"
#include "foundation/Geometry.hpp"
#include "foundation/Published.hpp"
#include "foundation/UUID.hpp"
#include "webcapture/BrowserSession.hpp"

namespace velmora {

class BrowserTab {
public:
    static constexpr const char* deferredPrefix = "復元待ち：";
    static constexpr const char* deferredWithoutHost = "ページ";
    static constexpr const char* reopenTitle = "再度開いてください";
    static constexpr const char* emptyTitle = "空のタブ";

    // A private tab becomes an owner of the shared private store; a normal
    // one uses the normal store. With a configuration (a page asked for a
    // new window) the view shares the opener's network session.
    BrowserTab(UUID id, bool privateMode, std::shared_ptr<BrowserStores> stores,
               std::optional<WebViewConfiguration> configuration = std::nullopt);
    ~BrowserTab();
    BrowserTab(const BrowserTab&) = delete;
    BrowserTab& operator=(const BrowserTab&) = delete;

    const UUID id;

    // Emitted after every assignment of a published field, and after every
    // change of the session's published state.
    sigc::signal<void()> changed;

    // The text of the address field.
    Published<std::string> address{changed, ""};
    // True while the user edits the address field.
    Published<bool> editingAddress{changed, false};
    // The address of a restored tab not loaded yet, as stored.
    Published<std::optional<std::string>> deferredURL{changed, std::nullopt};
    // The restored tab's address was not kept by the restoration.
    Published<bool> restorationUnavailable{changed, false};
    // The last output the window's save request produced from this tab.
    Published<std::optional<std::filesystem::path>> lastOutput{changed, std::nullopt};
    // The page (its address) the tab's last save was taken of: the save's
    // outcome belongs to that page and is shown only while it is.
    Published<std::optional<std::string>> savedPage{changed, std::nullopt};
    // The sentence with which the window refused the user's last request
    // about this tab's page (a save, an address), with the page as it stood
    // then: it is shown only while the page is still that one.
    Published<std::optional<PageRefusal>> refusal{changed, std::nullopt};
    // The view size held while a save request runs (view points).
    Published<std::optional<Size>> lockedSize{changed, std::nullopt};
    // Downloads begun in this tab, oldest first.
    Published<std::vector<std::shared_ptr<BrowserDownload>>> downloads{changed, {}};

    // The tab's web session; never replaced.
    const std::shared_ptr<BrowserSession> browser;

    const std::shared_ptr<BrowserStores>& stores() const noexcept { return stores_; }
    bool closed() const noexcept { return closed_; }
    bool isPrivate() const { return browser->isPrivate.get(); }
    // A save is pending or a download is running.
    bool active() const;
    // The text of the tab's button.
    std::string title() const;

    // Closes the session and gives back the private store; nothing while
    // the tab is busy or once it is closed.
    void shutdown();
    // Stops the pending save and every active download.
    void cancel();

private:
    std::shared_ptr<BrowserStores> stores_;
    bool closed_ = false;
    sigc::connection observation_;
};

}  // namespace velmora
