#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include "foundation/GObjectRef.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"
#include "webcapture/OperationTrace.hpp"
#include "foundation/Published.hpp"
#include "webcapture/WebFrame.hpp"

namespace velmora {

// What a page's request for a new window hands to the tab that will hold
// it: the view that asked. A view made from it shares that view's network
// session, settings and content manager.
struct WebViewConfiguration {
    GObjectRef<WebKitWebView> relatedView;
};

// The web session of one browser tab: its web view (inside a frame widget
// the window places), the navigation state the window shows, and the object
// the tab's saves run on. Main thread only.
class BrowserSession {
public:
    static constexpr const char* initialStage = "ページを選んでください";
    static constexpr const char* stoppedNotice = "読み込みを停止しました。";
    static constexpr const char* loadFailedNotice = "ページを読み込めません。アドレスと接続を確認してください。";
    static constexpr std::chrono::milliseconds defaultWatchdog{60000};

    // The view's network session is, in this order: the related view's (with
    // a configuration), store, a new ephemeral one for a private session, or
    // the normal store of the web hooks.
    BrowserSession(bool privateMode, WebKitNetworkSession* store = nullptr,
                   std::optional<WebViewConfiguration> configuration = std::nullopt);
    ~BrowserSession();
    BrowserSession(const BrowserSession&) = delete;
    BrowserSession& operator=(const BrowserSession&) = delete;

    // Emitted after every assignment of a published field (and the web view).
    sigc::signal<void()> changed;

    // Published fields, in the order of the tab's model.
    Published<std::string> captureDiagnosticText{changed, ""};
    Published<bool> busy{changed, false};
    Published<std::string> stage{changed, initialStage};
    Published<bool> isPrivate;
    Published<std::optional<std::string>> currentURL{changed, std::nullopt};
    Published<std::string> pageTitle{changed, ""};
    Published<bool> loading{changed, false};
    Published<bool> canGoBack{changed, false};
    Published<bool> canGoForward{changed, false};
    Published<std::string> navigationNotice{changed, ""};
    Published<bool> displayedPDF{changed, false};
    Published<bool> operationPending{changed, false};
    Published<std::shared_ptr<OperationTrace>> operation;

    // Unpublished state and the owners' callbacks.
    std::string lastMainMethod = "GET";
    std::optional<std::string> documentOrigin;
    std::function<void()> navigationChanged;
    std::function<bool()> navigationPermitted;
    std::function<WebKitWebView*(const WebViewConfiguration&)> childRequested;
    std::function<void()> closeRequested;
    std::function<void(WebKitDownload*)> downloadStarted;
    std::function<void()> dialogCancel;
    std::optional<TaskHandle> captureTask;

    // The tab's web view; replaced only by shutdown.
    WebKitWebView* webView() const noexcept { return webView_.get(); }
    // The frame the window places; it holds the view until shutdown.
    WebFrame& frame() noexcept { return *frame_; }
    bool closingWeb() const noexcept { return closingWeb_; }

    // Trimmed text that parses as an http or https address with a non-empty
    // host and no user or password; anything else throws invalidInput.
    static std::string validatedURL(std::string_view text);
    // The identifier of the normal tabs' persistent data store.
    static UUID normalStoreID();

    // Loads typed text. Throws navigationBusy (changing nothing) during a
    // save, while closing or when navigationPermitted refuses; otherwise
    // clears the notice and throws invalidInput for an address it may not load.
    void navigate(std::string_view text);
    void stopNavigation();
    void refreshNavigation();
    bool hasPendingOperation() const noexcept { return operationPending.get() || busy.get(); }
    // Closes the session for good; ignored while a save is pending.
    void shutdown();
    // Removes the website data of one host (all hosts when absent) from the
    // network session of the current view; nothing while busy. Errors of the
    // data manager pass through as GLibError.
    Task<void> clearData(std::optional<std::string> host);

    // How long a load started by navigate may go without progress before it
    // is stopped and reported as failed.
    void setNavigationWatchdog(std::chrono::milliseconds duration) { watchdogDuration_ = duration; }

private:
    void observe(WebKitWebView* view);
    void scheduleRefresh();
    void armWatchdog();
    void disarmWatchdog();
    void watchdogFired();

    static void onNavigationProperty(GObject*, GParamSpec*, gpointer self);
    static void onBackForwardChanged(WebKitBackForwardList*, WebKitBackForwardListItem*, gpointer, gpointer self);
    static void onProgress(GObject*, GParamSpec*, gpointer self);
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static gboolean onLoadFailed(WebKitWebView*, WebKitLoadEvent, char*, GError*, gpointer self);

    std::unique_ptr<WebFrame> frame_;
    GObjectRef<WebKitWebView> webView_;
    bool closingWeb_ = false;
    // The view's key-value observations: address, title, loading, and the
    // back-forward list for both directions.
    std::vector<SignalConnection> navigationObservers_;
    // The load signals the session answers as the view's delegate.
    std::vector<SignalConnection> delegateHandlers_;
    guint refreshSource_ = 0;
    guint watchdogSource_ = 0;
    std::chrono::milliseconds watchdogDuration_ = defaultWatchdog;
};

}  // namespace velmora
