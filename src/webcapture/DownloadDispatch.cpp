#include "webcapture/DownloadDispatch.hpp"

#include <algorithm>
#include <vector>

#include "foundation/GObjectRef.hpp"
#include "webcapture/NavigationPolicy.hpp"

namespace velmora {

namespace {

constexpr const char* servedKey = "velmora-download-dispatch";

std::vector<NavigationPolicy*>& openPolicies() {
    static std::vector<NavigationPolicy*> policies;
    return policies;
}

}  // namespace

void DownloadDispatch::serve(WebKitNetworkSession* network) {
    if (!network || g_object_get_data(G_OBJECT(network), servedKey)) return;
    g_signal_connect(network, "download-started", G_CALLBACK(onDownloadStarted), nullptr);
    g_object_set_data(G_OBJECT(network), servedKey, GINT_TO_POINTER(1));
}

void DownloadDispatch::enter(NavigationPolicy& policy) { openPolicies().push_back(&policy); }

void DownloadDispatch::leave(NavigationPolicy& policy) { std::erase(openPolicies(), &policy); }

void DownloadDispatch::onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer) {
    // Held: the owner the download is handed to may cancel it, and a cancel
    // may drop the engine's own reference.
    auto keep = GObjectRef<WebKitDownload>::ref(download);
    WebKitWebView* view = webkit_download_get_web_view(download);
    if (view) {
        const auto& policies = openPolicies();
        auto owner = std::find_if(policies.begin(), policies.end(),
                                  [view](NavigationPolicy* p) { return p->view() == view; });
        if (owner != policies.end()) {
            (*owner)->handOff(download);
            return;
        }
    }
    webkit_download_cancel(download);
}

}  // namespace velmora
