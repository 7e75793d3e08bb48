#include "webcapture/NavigationPolicy.hpp"

#include <libsoup/soup.h>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/BrindlexError.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/DownloadDispatch.hpp"
#include "webcapture/PageDialogs.hpp"

namespace velmora {

namespace {

using UriHolder = std::unique_ptr<GUri, decltype(&g_uri_unref)>;

UriHolder parse(const char* text) { return UriHolder(g_uri_parse(text, G_URI_FLAGS_NONE, nullptr), g_uri_unref); }

bool sameValue(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return std::string_view(a) == b;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = g_ascii_tolower(c);
    return out;
}

bool hasScheme(const char* address, std::string_view scheme) {
    const char* colon = address ? std::strchr(address, ':') : nullptr;
    return colon && asciiLower(std::string_view(address, static_cast<std::size_t>(colon - address))) == scheme;
}

// An HTTP response whose Content-Disposition, trimmed of spaces and tabs and
// in any letter case, begins with "attachment". Not over HTTP: no headers.
bool isAttachment(WebKitURIResponse* response) {
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(response);
    if (!headers) return false;
    const char* value = soup_message_headers_get_one(headers, "Content-Disposition");
    if (!value) return false;
    std::string_view v(value);
    while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
    return asciiLower(v.substr(0, 10)) == "attachment";
}

// --- The closing rules, for a view no session answers any more. They take
// no data: the view may outlive every session.

gboolean refusePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType, gpointer) {
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

GtkWidget* refuseChild(WebKitWebView*, WebKitNavigationAction*, gpointer) { return nullptr; }

// Not kept: the engine closes an unreferenced dialog when the handler
// returns, with the answer otherwise (false, no text).
gboolean answerDialogAtOnce(WebKitWebView*, WebKitScriptDialog* dialog, gpointer) {
    // A page's "leave this page?" never holds its tab.
    if (webkit_script_dialog_get_dialog_type(dialog) == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM)
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
    return TRUE;
}

gboolean cancelAuthentication(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
    webkit_authentication_request_cancel(request);
    return TRUE;
}

gboolean cancelFileChooser(WebKitWebView*, WebKitFileChooserRequest* request, gpointer) {
    webkit_file_chooser_request_cancel(request);
    return TRUE;
}

gboolean ignoreLoadFailure(WebKitWebView*, WebKitLoadEvent, char*, GError*, gpointer) { return TRUE; }

// --- Requests the policy never grants, open or closed.

// Nothing is printed: a page's window.print() opens no print dialog.
gboolean refusePrint(WebKitWebView*, WebKitPrintOperation*, gpointer) { return TRUE; }

gboolean denyPermission(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
    webkit_permission_request_deny(request);
    return TRUE;
}

gboolean answerDenied(WebKitWebView*, WebKitPermissionStateQuery* query, gpointer) {
    webkit_permission_state_query_finish(query, WEBKIT_PERMISSION_STATE_DENIED);
    return TRUE;
}

void connectRefusals(WebKitWebView* view, std::vector<SignalConnection>* into) {
    auto add = [view, into](const char* signal, GCallback handler) {
        gulong id = g_signal_connect(view, signal, handler, nullptr);
        if (into) into->emplace_back(view, id);
    };
    add("print", G_CALLBACK(refusePrint));
    add("permission-request", G_CALLBACK(denyPermission));
    add("query-permission-state", G_CALLBACK(answerDenied));
}

}  // namespace

NavigationPolicy::NavigationPolicy(BrowserSession& session) : session_(session) { DownloadDispatch::enter(*this); }

NavigationPolicy::~NavigationPolicy() { DownloadDispatch::leave(*this); }

WebKitWebView* NavigationPolicy::view() const noexcept { return session_.webView(); }

void NavigationPolicy::attach(WebKitWebView* view, std::vector<SignalConnection>& into) {
    DownloadDispatch::serve(webkit_web_view_get_network_session(view));
    into.emplace_back(view, g_signal_connect(view, "decide-policy", G_CALLBACK(onDecidePolicy), this));
    into.emplace_back(view, g_signal_connect(view, "create", G_CALLBACK(onCreate), this));
    into.emplace_back(view, g_signal_connect(view, "close", G_CALLBACK(onClose), this));
    into.emplace_back(view, g_signal_connect(view, "script-dialog", G_CALLBACK(onScriptDialog), this));
    into.emplace_back(view, g_signal_connect(view, "authenticate", G_CALLBACK(onAuthenticate), this));
    connectRefusals(view, &into);
}

void NavigationPolicy::answerAsClosed(WebKitWebView* view) {
    constexpr const char* key = "velmora-closed-policy";
    if (!view || g_object_get_data(G_OBJECT(view), key)) return;
    g_object_set_data(G_OBJECT(view), key, GINT_TO_POINTER(1));
    DownloadDispatch::serve(webkit_web_view_get_network_session(view));
    g_signal_connect(view, "decide-policy", G_CALLBACK(refusePolicy), nullptr);
    g_signal_connect(view, "create", G_CALLBACK(refuseChild), nullptr);
    g_signal_connect(view, "script-dialog", G_CALLBACK(answerDialogAtOnce), nullptr);
    g_signal_connect(view, "authenticate", G_CALLBACK(cancelAuthentication), nullptr);
    g_signal_connect(view, "run-file-chooser", G_CALLBACK(cancelFileChooser), nullptr);
    g_signal_connect(view, "load-failed", G_CALLBACK(ignoreLoadFailure), nullptr);
    connectRefusals(view, nullptr);
}

// --- Actions and responses.

bool NavigationPolicy::actionAllowed(WebKitURIRequest* request) {
    const char* address = request ? webkit_uri_request_get_uri(request) : nullptr;
    // In this order; the first that fails refuses.
    bool allowed = !session_.hasPendingOperation() && !session_.closingWeb() &&
                   (!session_.navigationPermitted || session_.navigationPermitted()) && address && *address &&
                   session_.allowedNavigation(address);
    if (!allowed)
        session_.navigationNotice =
            std::string(session_.hasPendingOperation() ? NavigationNotice::busy : NavigationNotice::refused);
    return allowed;
}

void NavigationPolicy::decide(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
    switch (type) {
    case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION:
    case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: {
        // A link with a download attribute passes here as a navigation; the
        // engine makes it a download itself, and the dispatch hands it on.
        WebKitNavigationAction* action =
            webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
        if (actionAllowed(webkit_navigation_action_get_request(action))) {
            webkit_policy_decision_use(decision);
        } else {
            typedPending_ = false;
            webkit_policy_decision_ignore(decision);
        }
        break;
    }
    case WEBKIT_POLICY_DECISION_TYPE_RESPONSE:
        respond(WEBKIT_RESPONSE_POLICY_DECISION(decision));
        break;
    default:
        webkit_policy_decision_ignore(decision);
        break;
    }
}

void NavigationPolicy::respond(WebKitResponsePolicyDecision* decision) {
    auto* answer = WEBKIT_POLICY_DECISION(decision);
    WebKitURIResponse* response = webkit_response_policy_decision_get_response(decision);
    const char* address = response ? webkit_uri_response_get_uri(response) : nullptr;
    const bool mainFrame = webkit_response_policy_decision_is_main_frame_main_resource(decision);
    const bool pdfViewer = !mainFrame && session_.displayedPDF && hasScheme(address, pdfViewerScheme);
    if (session_.closingWeb() || !address || !*address || !(session_.allowedNavigation(address) || pdfViewer)) {
        webkit_policy_decision_ignore(answer);
        return;
    }
    const bool attachment = isAttachment(response);
    if (mainFrame) {
        const char* mime = webkit_uri_response_get_mime_type(response);
        session_.displayedPDF = mime && asciiLower(mime) == "application/pdf" && !attachment;
        // The method of the request this page answers, after any redirect:
        // a page reached by a form post is never fetched again by itself.
        WebKitURIRequest* request = webkit_response_policy_decision_get_request(decision);
        const char* method = request ? webkit_uri_request_get_http_method(request) : nullptr;
        session_.lastMainMethod = method && *method ? method : "GET";
    }
    if (attachment || !webkit_response_policy_decision_is_mime_type_supported(decision))
        webkit_policy_decision_download(answer);
    else
        webkit_policy_decision_use(answer);
}

// --- Load events of the main frame.

void NavigationPolicy::loadChanged(WebKitLoadEvent event) {
    if (session_.closingWeb()) return;
    switch (event) {
    case WEBKIT_LOAD_STARTED: {
        // The view names a typed address from the start; a page's own
        // navigation shows its address only once it commits.
        const char* address = webkit_web_view_get_uri(session_.webView());
        typedAddress_ = std::exchange(typedPending_, false) && address && *address
                            ? std::optional<std::string>(address)
                            : std::nullopt;
        loadFailed_ = false;
        session_.failedURL = std::nullopt;
        session_.endedURL = std::nullopt;
        session_.displayedPDF = false;
        if (!stopPending_) session_.navigationNotice = std::string(NavigationNotice::loading);
        session_.refreshNavigation();
        break;
    }
    case WEBKIT_LOAD_COMMITTED: {
        // Measured on WebKitGTK 2.50: a typed address on a port the engine
        // never connects to (1, 6000, 10080…) reports no failure; the load
        // commits a blank page in its place. That blank is no page, and the
        // address stays the tab's failure.
        const std::optional<std::string> typed = std::exchange(typedAddress_, std::nullopt);
        const char* address = webkit_web_view_get_uri(session_.webView());
        if (typed && *typed != "about:blank" && address && std::string_view(address) == "about:blank") {
            fail(*typed);
            session_.refreshNavigation();
        }
        break;
    }
    case WEBKIT_LOAD_FINISHED: {
        stopPending_ = false;
        // The engine reports a finish right after every failure: that is no
        // page, and its notice stays.
        if (loadFailed_) break;
        const char* address = webkit_web_view_get_uri(session_.webView());
        if (address && (hasScheme(address, "http") || hasScheme(address, "https")))
            session_.documentOrigin = std::string(address);
        session_.navigationNotice = std::string();
        session_.refreshNavigation();
        break;
    }
    default:
        break;
    }
}

void NavigationPolicy::stopping() {
    typedPending_ = false;
    typedAddress_ = std::nullopt;
    // Only a load in progress reports anything after the stop.
    if (webkit_web_view_is_loading(session_.webView())) stopPending_ = true;
}

void NavigationPolicy::fail(const std::string& address) {
    loadFailed_ = true;
    session_.navigationNotice = std::string(NavigationNotice::failed);
    session_.failedURL = address.empty() ? std::nullopt : std::optional<std::string>(address);
}

void NavigationPolicy::loadFailed(const GError* error, const std::string& failingURI) {
    if (session_.closingWeb()) return;
    loadFailed_ = true;
    stopPending_ = false;
    typedAddress_ = std::nullopt;
    if (BrowserSession::isNavigationInterruption(error)) {
        if (session_.navigationNotice == NavigationNotice::loading) session_.navigationNotice = std::string();
    } else {
        fail(failingURI);
    }
    session_.refreshNavigation();
}

void NavigationPolicy::handOff(WebKitDownload* download) {
    if (!session_.closingWeb() && session_.downloadStarted) session_.downloadStarted(download);
    else webkit_download_cancel(download);
}

// --- Signal handlers of the session's view.

gboolean NavigationPolicy::onDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                          WebKitPolicyDecisionType type, gpointer self) {
    static_cast<NavigationPolicy*>(self)->decide(decision, type);
    return TRUE;
}

GtkWidget* NavigationPolicy::onCreate(WebKitWebView*, WebKitNavigationAction* action, gpointer self) {
    return static_cast<NavigationPolicy*>(self)->createChild(action);
}

GtkWidget* NavigationPolicy::createChild(WebKitNavigationAction* action) {
    BrowserSession& s = session_;
    if (s.closingWeb() || s.hasPendingOperation()) return nullptr;
    if (s.navigationPermitted && !s.navigationPermitted()) return nullptr;
    WebKitURIRequest* request = action ? webkit_navigation_action_get_request(action) : nullptr;
    const char* address = request ? webkit_uri_request_get_uri(request) : nullptr;
    if (address && *address && !s.allowedNavigation(address)) {
        s.navigationNotice = std::string(NavigationNotice::childRefused);
        return nullptr;
    }
    WebKitWebView* own = s.webView();
    WebKitNetworkSession* network = webkit_web_view_get_network_session(own);
    if (s.childRequested) {
        // The owner may do anything here, closing this tab included: only
        // locals are used afterwards.
        auto callback = s.childRequested;
        WebKitWebView* child = callback(WebViewConfiguration{GObjectRef<WebKitWebView>::ref(own)});
        if (child) {
            // The engine requires a view related to this one; a view on
            // another network session (another store) cannot be.
            if (webkit_web_view_get_network_session(child) != network) return nullptr;
            return GTK_WIDGET(child);
        }
    }
    s.navigationNotice = std::string(NavigationNotice::childFailed);
    return nullptr;
}

void NavigationPolicy::onClose(WebKitWebView*, gpointer self) {
    BrowserSession& s = static_cast<NavigationPolicy*>(self)->session_;
    if (s.closingWeb() || !s.closeRequested) return;
    auto callback = s.closeRequested;
    callback();
}

gboolean NavigationPolicy::onScriptDialog(WebKitWebView*, WebKitScriptDialog* dialog, gpointer self) {
    auto type = webkit_script_dialog_get_dialog_type(dialog);
    if (type == WEBKIT_SCRIPT_DIALOG_BEFORE_UNLOAD_CONFIRM) {
        // Not one of the page dialogs: a page cannot hold its tab.
        webkit_script_dialog_confirm_set_confirmed(dialog, TRUE);
        return TRUE;
    }
    PageDialogRequest request;
    request.kind = type == WEBKIT_SCRIPT_DIALOG_CONFIRM  ? PageDialogKind::confirm
                   : type == WEBKIT_SCRIPT_DIALOG_PROMPT ? PageDialogKind::prompt
                                                         : PageDialogKind::alert;
    const char* message = webkit_script_dialog_get_message(dialog);
    request.message = message ? message : "";
    if (type == WEBKIT_SCRIPT_DIALOG_PROMPT) {
        const char* text = webkit_script_dialog_prompt_get_default_text(dialog);
        request.defaultText = text ? text : "";
    }
    // An answer that comes at once is left on the dialog for the engine,
    // which closes it when the handler returns (closing it from inside the
    // handler crashes the engine). A later one closes the dialog we kept.
    struct Pending {
        WebKitScriptDialog* dialog;
        bool kept = false;
        bool answered = false;
    };
    auto pending = std::make_shared<Pending>(Pending{dialog});
    static_cast<NavigationPolicy*>(self)->session_.runPageDialog(
        std::move(request), [pending, type](PageDialogResult result) {
            WebKitScriptDialog* d = pending->dialog;
            pending->answered = true;
            if (type == WEBKIT_SCRIPT_DIALOG_CONFIRM) webkit_script_dialog_confirm_set_confirmed(d, result.accepted);
            if (type == WEBKIT_SCRIPT_DIALOG_PROMPT && result.text)
                webkit_script_dialog_prompt_set_text(d, result.text->c_str());
            if (!pending->kept) return;
            webkit_script_dialog_close(d);
            webkit_script_dialog_unref(d);
        });
    if (!pending->answered) {
        // The page waits until the dialog is closed.
        webkit_script_dialog_ref(dialog);
        pending->kept = true;
    }
    return TRUE;
}

// Without credentials: the page's own 401 body is shown, never the engine's
// sign-in dialog.
gboolean NavigationPolicy::onAuthenticate(WebKitWebView*, WebKitAuthenticationRequest* request, gpointer) {
    webkit_authentication_request_authenticate(request, nullptr);
    return TRUE;
}

// --- The members of the session that the policy defines.

bool BrowserSession::allowedNavigation(std::string_view address) const {
    std::string text(address);
    try {
        validatedURL(text);
        return true;
    } catch (const BrindlexError&) {
        // Not a web address: the two other rules decide.
    }
    if (text == "about:blank") return true;
    if (text.rfind("blob:", 0) != 0 || !documentOrigin) return false;
    UriHolder inner = parse(text.c_str() + 5);
    UriHolder origin = parse(documentOrigin->c_str());
    if (!inner || !origin) return false;
    // An absent port (-1) equals only an absent one.
    return sameValue(g_uri_get_scheme(inner.get()), g_uri_get_scheme(origin.get())) &&
           sameValue(g_uri_get_host(inner.get()), g_uri_get_host(origin.get())) &&
           g_uri_get_port(inner.get()) == g_uri_get_port(origin.get());
}

bool BrowserSession::isNavigationInterruption(const GError* error) {
    return g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED) ||
           g_error_matches(error, WEBKIT_POLICY_ERROR, WEBKIT_POLICY_ERROR_FRAME_LOAD_INTERRUPTED_BY_POLICY_CHANGE);
}

void BrowserSession::navigationPolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type) {
    policy_->decide(decision, type);
}

void BrowserSession::saveDisplayedPDF() {
    const std::optional<std::string>& address = currentURL.get();
    const bool allowed = displayedPDF && !hasPendingOperation() && !closingWeb_ && lastMainMethod == "GET" &&
                         address && allowedNavigation(*address);
    if (!allowed) {
        navigationNotice = std::string(NavigationNotice::resendRefused);
        return;
    }
    // The engine announces the download on the network session as well; it
    // reaches the owner through the dispatch like every other one, so the
    // object returned here is not used.
    g_object_unref(webkit_web_view_download_uri(webView_.get(), address->c_str()));
}

}  // namespace velmora
