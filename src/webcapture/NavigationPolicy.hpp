#pragma once

// How a session answers its view: which navigations, responses and new
// windows are allowed, which responses become downloads, when the main frame
// shows a PDF, how loads end, and what a page may ask of the user.
//
// Guarantees:
// - A tab stays on http and https addresses with a host, "about:blank", and
//   blob addresses of the last page that finished over http or https; every
//   other navigation or response is refused before the engine loads it.
// - During a save no navigation, new window or PDF download of the session
//   starts; after shutdown every request of the old view is refused,
//   cancelled or ignored for as long as the engine keeps that view alive
//   (its own defaults would show dialogs and allow navigations).
// - Nothing of the page reaches the user except through our dialogs: no
//   engine error page, authentication or print dialog, and every permission
//   is denied.
// - A failed load keeps its notice and its address (failedURL) until
//   another load begins: the finish the engine reports right after a
//   failure is not a finished page. A typed address the engine refuses to
//   load (a port it never connects to) is such a failure too: the engine
//   reports no failure but puts a blank page in its place.
// Main thread only. The policy lives inside its session and answers only
// through the handlers connected to the session's current view.

#include <optional>
#include <string>
#include <vector>

#include <webkit/webkit.h>

#include "foundation/GObjectRef.hpp"

namespace velmora {

class BrowserSession;

// The one-line notices of navigation events.
namespace NavigationNotice {
inline constexpr const char* loading = "読み込み中";
inline constexpr const char* busy = "保存中のページは移動できません。";
inline constexpr const char* refused = "このアドレスへの移動は許可されていません。";
inline constexpr const char* failed = "ページを読み込めません。アドレスと接続を確認してください。";
inline constexpr const char* childRefused = "この別タブの移動は許可されていません。";
inline constexpr const char* childFailed = "別タブを開けませんでした。";
inline constexpr const char* resendRefused =
    "送信済みの内容は自動で再送しません。ページのダウンロードリンクをご利用ください。";
}  // namespace NavigationNotice

class NavigationPolicy {
public:
    // The scheme of the engine's built-in PDF viewer. The engine shows a PDF
    // main-frame response itself, in a sub-frame it loads from this scheme
    // (measured on WebKitGTK 2.50); the address rule would refuse that frame
    // and leave the tab white, so it alone passes while a PDF is displayed.
    static constexpr const char* pdfViewerScheme = "webkit-pdfjs-viewer";

    // Enters the session into the download dispatch.
    explicit NavigationPolicy(BrowserSession& session);
    ~NavigationPolicy();
    NavigationPolicy(const NavigationPolicy&) = delete;
    NavigationPolicy& operator=(const NavigationPolicy&) = delete;

    // Connects the policy's handlers to the session's view; the connections
    // go into the session's delegate handlers, which shutdown drops.
    void attach(WebKitWebView* view, std::vector<SignalConnection>& into);
    // Makes a view the session no longer answers keep the closing rules:
    // refuse, cancel, ignore. The handlers hold nothing of the session and
    // stay until the view is gone.
    static void answerAsClosed(WebKitWebView* view);

    // The view's decide-policy: navigation and new-window actions, responses.
    void decide(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    // Load events of the main frame, from the session's load handlers.
    void loadChanged(WebKitLoadEvent event);
    // The session is about to stop the view's load (the user's stop or the
    // watchdog), whose notice the events of that load must not replace.
    void stopping();
    // The failing address is the one the load was for.
    void loadFailed(const GError* error, const std::string& failingURI);
    // The session asked the view to load a typed address.
    void typedLoad() { typedPending_ = true; }
    // Passes a download of the session's view to the owner, or cancels it.
    void handOff(WebKitDownload* download);
    // The session's current view.
    WebKitWebView* view() const noexcept;

private:
    bool actionAllowed(WebKitURIRequest* request);
    void respond(WebKitResponsePolicyDecision* decision);

    static gboolean onDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    static GtkWidget* onCreate(WebKitWebView*, WebKitNavigationAction*, gpointer self);
    static void onClose(WebKitWebView*, gpointer self);
    static gboolean onScriptDialog(WebKitWebView*, WebKitScriptDialog*, gpointer self);
    static gboolean onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest*, gpointer);

    GtkWidget* createChild(WebKitNavigationAction* action);
    // The load of address failed: its notice and address are the tab's.
    void fail(const std::string& address);

    BrowserSession& session_;
    // The current main-frame load reported a failure; its finish is no page.
    bool loadFailed_ = false;
    // A load was stopped and has not reported its end yet: the engine may
    // still report its start after the stop, and that start shows nothing.
    bool stopPending_ = false;
    // A typed address was handed to the view and its load has not started.
    bool typedPending_ = false;
    // The address of the typed load under way, until it commits or fails.
    std::optional<std::string> typedAddress_;
};

}  // namespace velmora
