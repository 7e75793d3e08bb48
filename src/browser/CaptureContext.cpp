#include "browser/CaptureContext.hpp"

#include <string_view>

#include "foundation/BrindlexError.hpp"

namespace velmora {

CaptureContext::CaptureContext(UUID window, const SettingsStore& store, BrowserTab& tab,
                               const CaptureSelection& selection)
    : windowID(window), tabID(tab.id), browser(tab.browser), settings(selection) {
    selection.validate();
    if (tab.deferredURL->has_value()) raise(ErrorCase::loadTimeout);
    WebKitWebView* view = browser->webView();
    const char* viewURL = webkit_web_view_get_uri(view);
    // A blank page never loaded anything to save.
    if (!viewURL || !*viewURL || std::string_view(viewURL) == "about:blank") raise(ErrorCase::loadTimeout);
    // The view itself too: the session publishes a load that has just
    // started only on the next turn of the main loop.
    if (browser->loading || webkit_web_view_is_loading(view)) raise(ErrorCase::loadTimeout);
    if (browser->hasPendingOperation()) raise(ErrorCase::navigationBusy);

    origin = tab.isPrivate() ? InputOrigin::privateSession : InputOrigin::normal;
    url = browser->currentURL.get() ? browser->currentURL.get() : std::optional<std::string>(viewURL);
    title = browser->pageTitle.get();
    const ViewMetrics metrics = browser->viewMetrics();
    size = Size{metrics.boundsWidth, metrics.boundsHeight};
    viewportWidth = selection.captureWidth(metrics.boundsWidth);
    saveMode = store.value().saveMode;
}

}  // namespace velmora
