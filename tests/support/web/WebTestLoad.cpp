#include "support/web/WebTestLoad.hpp"

#include "support/MainLoop.hpp"

namespace velmora::test {

LoadWatch::LoadWatch(WebKitWebView* view) : view_(view) {
    handler_ = g_signal_connect(view_, "load-changed", G_CALLBACK(onLoadChanged), this);
}

LoadWatch::~LoadWatch() { g_signal_handler_disconnect(view_, handler_); }

void LoadWatch::onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event == WEBKIT_LOAD_FINISHED) static_cast<LoadWatch*>(self)->finished_ += 1;
}

BrowserSession::WaitBounds patientBounds() {
    BrowserSession::WaitBounds bounds;
    bounds.readyMarker = 30;
    bounds.widthLayout = 30;
    return bounds;
}

bool publishedStateCaughtUp(const BrowserSession& session) {
    WebKitWebView* view = session.webView();
    const char* uri = webkit_web_view_get_uri(view);
    const char* title = webkit_web_view_get_title(view);
    const std::optional<std::string> address = uri && *uri ? std::optional<std::string>(uri) : std::nullopt;
    return session.currentURL.get() == address && session.pageTitle.get() == (title ? title : "") &&
           session.loading.get() == static_cast<bool>(webkit_web_view_is_loading(view));
}

bool loadPage(BrowserSession& session, const std::string& url, const std::string& title,
              std::chrono::milliseconds bound) {
    LoadWatch watch(session.webView());
    session.navigate(url);
    return spinUntil(
        [&] {
            return watch.finished() > 0 && !session.loading.get() && session.pageTitle.get() == title &&
                   publishedStateCaughtUp(session);
        },
        bound);
}

}  // namespace velmora::test
