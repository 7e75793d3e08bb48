#include "webcapture/BrowserSession.hpp"

#include <stdexcept>
#include <string_view>

#include "capture/WebAddress.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/ProductBrand.hpp"
#include "webcapture/NavigationPolicy.hpp"
#include "webcapture/WebHooks.hpp"

namespace velmora {

namespace {

GObjectRef<WebKitWebView> makeView(GObjectRef<WebKitNetworkSession> session) {
    auto settings = GObjectRef<WebKitSettings>::adopt(webkit_settings_new());
    webkit_settings_set_javascript_can_open_windows_automatically(settings.get(), FALSE);
    gpointer view = g_object_new(WEBKIT_TYPE_WEB_VIEW, "network-session", session.get(), "settings", settings.get(),
                                 nullptr);
    return GObjectRef<WebKitWebView>::sink(WEBKIT_WEB_VIEW(view));
}

struct WebsiteDataList {
    GList* list = nullptr;
    ~WebsiteDataList() { g_list_free_full(list, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref)); }
};

}  // namespace

BrowserSession::BrowserSession(bool privateMode, WebKitNetworkSession* store,
                               std::optional<WebViewConfiguration> configuration)
    : isPrivate(changed, privateMode),
      operation(changed, std::make_shared<OperationTrace>()),
      frame_(std::make_unique<WebFrame>()),
      policy_(std::make_unique<NavigationPolicy>(*this)),
      dialogs_(std::make_unique<PageDialogs>(*this)) {
    if (configuration && configuration->relatedView) {
        // Used as it is: the new view shares the opener's network session,
        // settings and content manager.
        gpointer view = g_object_new(WEBKIT_TYPE_WEB_VIEW, "related-view", configuration->relatedView.get(), nullptr);
        webView_ = GObjectRef<WebKitWebView>::sink(WEBKIT_WEB_VIEW(view));
    } else {
        GObjectRef<WebKitNetworkSession> session;
        if (store) {
            session = GObjectRef<WebKitNetworkSession>::ref(store);
        } else if (privateMode) {
            session = GObjectRef<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral());
        } else {
            const auto& normal = WebHooks::shared().normalStore;
            WebKitNetworkSession* shared = normal ? normal() : nullptr;
            // A normal tab quietly falling back to a throwaway store would
            // lose the user's sign-ins; a missing store is a wiring fault.
            if (!shared) throw std::logic_error("the normal web store is not set up");
            session = GObjectRef<WebKitNetworkSession>::ref(shared);
        }
        webView_ = makeView(std::move(session));
    }
    frame_->setChild(GTK_WIDGET(webView_.get()));
    observe(webView_.get());
}

BrowserSession::~BrowserSession() {
    // A save still suspended would resume into a session that is gone:
    // end it here, while everything it may touch on its way out still exists.
    if (captureTask) {
        captureTask->cancel();
        captureTask->discard();
    }
    navigationObservers_.clear();
    delegateHandlers_.clear();
    NavigationPolicy::answerAsClosed(webView_.get());
    if (refreshSource_) g_source_remove(std::exchange(refreshSource_, 0));
    disarmWatchdog();
    frame_->setChild(nullptr);
}

void BrowserSession::observe(WebKitWebView* view) {
    for (const char* property : {"notify::uri", "notify::title", "notify::is-loading"})
        navigationObservers_.emplace_back(
            view, g_signal_connect(view, property, G_CALLBACK(onNavigationProperty), this));
    WebKitBackForwardList* list = webkit_web_view_get_back_forward_list(view);
    navigationObservers_.emplace_back(list,
                                      g_signal_connect(list, "changed", G_CALLBACK(onBackForwardChanged), this));

    delegateHandlers_.emplace_back(
        view, g_signal_connect(view, "notify::estimated-load-progress", G_CALLBACK(onProgress), this));
    delegateHandlers_.emplace_back(view, g_signal_connect(view, "load-changed", G_CALLBACK(onLoadChanged), this));
    delegateHandlers_.emplace_back(view, g_signal_connect(view, "load-failed", G_CALLBACK(onLoadFailed), this));
    delegateHandlers_.emplace_back(
        view, g_signal_connect(view, "web-process-terminated", G_CALLBACK(onProcessEnded), this));
    policy_->attach(view, delegateHandlers_);
}

void BrowserSession::onNavigationProperty(GObject*, GParamSpec*, gpointer self) {
    static_cast<BrowserSession*>(self)->scheduleRefresh();
}

void BrowserSession::onBackForwardChanged(WebKitBackForwardList*, WebKitBackForwardListItem*, gpointer,
                                          gpointer self) {
    static_cast<BrowserSession*>(self)->scheduleRefresh();
}

// A change notification only schedules the refresh: it runs on the next turn
// of the main loop, outside the web engine's signal emission, and a burst of
// changes refreshes once.
void BrowserSession::scheduleRefresh() {
    if (refreshSource_ || closingWeb_) return;
    refreshSource_ = g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer self) -> gboolean {
            auto* session = static_cast<BrowserSession*>(self);
            session->refreshSource_ = 0;
            session->refreshNavigation();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

void BrowserSession::refreshNavigation() {
    if (closingWeb_) return;
    WebKitWebView* view = webView_.get();
    const char* uri = webkit_web_view_get_uri(view);
    std::optional<std::string> shown = uri && *uri ? std::optional<std::string>(uri) : std::nullopt;
    // What the view holds in place of a page that is not there (the blank
    // the engine puts for an address it refuses, nothing once the page's
    // process ended) does not take the page's address from the tab.
    if (failedURL.get() && shown == "about:blank") shown = failedURL.get();
    else if (endedURL.get() && !shown) shown = endedURL.get();
    currentURL = shown;
    const char* title = webkit_web_view_get_title(view);
    pageTitle = std::string(title ? title : "");
    loading = static_cast<bool>(webkit_web_view_is_loading(view));
    canGoBack = static_cast<bool>(webkit_web_view_can_go_back(view));
    canGoForward = static_cast<bool>(webkit_web_view_can_go_forward(view));
    if (navigationChanged) navigationChanged();
}

std::string BrowserSession::validatedURL(std::string_view text) { return WebAddress::validatedURL(text); }

UUID BrowserSession::normalStoreID() { return ProductBrand::current().normalWebStoreID; }

void BrowserSession::navigate(std::string_view text) {
    if (operationPending || busy || closingWeb_ || (navigationPermitted && !navigationPermitted()))
        raise(ErrorCase::navigationBusy);
    navigationNotice = std::string();
    std::string address = validatedURL(text);
    auto request = GObjectRef<WebKitURIRequest>::adopt(webkit_uri_request_new(address.c_str()));
    policy_->typedLoad();
    webkit_web_view_load_request(webView_.get(), request.get());
    armWatchdog();
}

bool BrowserSession::holdsPage() const {
    const char* shown = webkit_web_view_get_uri(webView_.get());
    return shown && *shown && std::string_view(shown) != "about:blank" && !failedURL.get();
}

void BrowserSession::stopNavigation() {
    if (hasPendingOperation()) return;
    disarmWatchdog();
    policy_->stopping();
    webkit_web_view_stop_loading(webView_.get());
    navigationNotice = std::string(stoppedNotice);
    refreshNavigation();
}

void BrowserSession::shutdown() {
    if (hasPendingOperation()) return;
    closingWeb_ = true;
    if (dialogCancel) {
        // The dismissal may clear the callback itself; take it out first.
        auto dismiss = std::move(dialogCancel);
        dialogCancel = nullptr;
        dismiss();
    }
    dialogCancel = nullptr;
    disarmWatchdog();
    webkit_web_view_stop_loading(webView_.get());
    delegateHandlers_.clear();
    // The old view may live on a moment (a pending script holds it).
    NavigationPolicy::answerAsClosed(webView_.get());
    navigationObservers_.clear();
    if (refreshSource_) g_source_remove(std::exchange(refreshSource_, 0));
    frame_->setChild(nullptr);
    webView_ = makeView(GObjectRef<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral()));
    NavigationPolicy::answerAsClosed(webView_.get());
    changed.emit();
    childRequested = nullptr;
    closeRequested = nullptr;
    navigationChanged = nullptr;
    downloadStarted = nullptr;
    navigationPermitted = nullptr;
}

Task<void> BrowserSession::clearData(std::optional<std::string> host) {
    if (busy) co_return;
    // Held here: a shutdown while this waits replaces the view, not the
    // manager whose data is being removed.
    WebKitNetworkSession* network = webkit_web_view_get_network_session(webView_.get());
    auto manager = GObjectRef<WebKitWebsiteDataManager>::ref(webkit_network_session_get_website_data_manager(network));

    auto fetched = co_await awaitAsync([&manager](GAsyncReadyCallback callback, gpointer data) {
        webkit_website_data_manager_fetch(manager.get(), WEBKIT_WEBSITE_DATA_ALL, nullptr, callback, data);
    });
    GError* error = nullptr;
    WebsiteDataList records{webkit_website_data_manager_fetch_finish(manager.get(), fetched.get(), &error)};
    GLibError::check(error);

    WebsiteDataList selected;
    for (GList* l = records.list; l; l = l->next) {
        auto* record = static_cast<WebKitWebsiteData*>(l->data);
        const char* name = webkit_website_data_get_name(record);
        if (!host || (name && *host == name))
            selected.list = g_list_prepend(selected.list, webkit_website_data_ref(record));
    }
    if (!selected.list) co_return;

    auto removed = co_await awaitAsync([&manager, &selected](GAsyncReadyCallback callback, gpointer data) {
        webkit_website_data_manager_remove(manager.get(), WEBKIT_WEBSITE_DATA_ALL, selected.list, nullptr, callback,
                                           data);
    });
    webkit_website_data_manager_remove_finish(manager.get(), removed.get(), &error);
    GLibError::check(error);
}

// WebKitGTK has no timeout for a request: a load that makes no progress for
// the watchdog's duration is stopped and counts as a failed load, not as a
// stop by the user.
void BrowserSession::armWatchdog() {
    disarmWatchdog();
    auto ms = watchdogDuration_.count();
    watchdogSource_ = g_timeout_add_full(
        G_PRIORITY_DEFAULT, ms < 0 ? 0u : static_cast<guint>(ms),
        [](gpointer self) -> gboolean {
            auto* session = static_cast<BrowserSession*>(self);
            session->watchdogSource_ = 0;
            session->watchdogFired();
            return G_SOURCE_REMOVE;
        },
        this, nullptr);
}

void BrowserSession::disarmWatchdog() {
    if (watchdogSource_) g_source_remove(std::exchange(watchdogSource_, 0));
}

void BrowserSession::watchdogFired() {
    if (closingWeb_) return;
    // The address that never answered, read before the stop takes it back.
    const char* loadingURI = webkit_web_view_get_uri(webView_.get());
    const std::optional<std::string> failed =
        loadingURI && *loadingURI ? std::optional<std::string>(loadingURI) : std::nullopt;
    policy_->stopping();
    webkit_web_view_stop_loading(webView_.get());
    navigationNotice = std::string(loadFailedNotice);
    failedURL = failed;
    refreshNavigation();
}

void BrowserSession::onProgress(GObject*, GParamSpec*, gpointer self) {
    auto* session = static_cast<BrowserSession*>(self);
    if (session->watchdogSource_) session->armWatchdog();
}

void BrowserSession::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* session = static_cast<BrowserSession*>(self);
    if (event == WEBKIT_LOAD_FINISHED) session->disarmWatchdog();
    session->policy_->loadChanged(event);
}

gboolean BrowserSession::onLoadFailed(WebKitWebView*, WebKitLoadEvent, char* failingURI, GError* error,
                                      gpointer self) {
    auto* session = static_cast<BrowserSession*>(self);
    session->disarmWatchdog();
    session->policy_->loadFailed(error, failingURI ? failingURI : "");
    return TRUE;  // the failure is our notice: no engine error page
}

// Whatever the reason (a crash, the memory limit, an end asked for), the
// page is gone: a save under way cannot go on with it, and says why.
void BrowserSession::onProcessEnded(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self) {
    auto* session = static_cast<BrowserSession*>(self);
    if (session->closingWeb_) return;
    session->disarmWatchdog();
    const char* shown = webkit_web_view_get_uri(session->webView());
    session->endedURL = shown && *shown ? std::optional<std::string>(shown) : session->currentURL.get();
    session->navigationNotice = std::string();
    if (session->captureTask && session->busy) {
        session->endedDuringSave_ = true;
        session->captureTask->cancel();
    }
    session->refreshNavigation();
}

}  // namespace velmora
