#pragma once

#include <webkit/webkit.h>

#include <chrono>
#include <string>

#include "webcapture/BrowserSession.hpp"

namespace velmora::test {

// Counts the loads of a view that finish after it was made. A view's
// loading flag alone cannot tell a load that has ended from one that has not
// started yet: right after a request the view already shows the new address
// but is not loading.
class LoadWatch {
public:
    explicit LoadWatch(WebKitWebView* view);
    ~LoadWatch();
    LoadWatch(const LoadWatch&) = delete;
    LoadWatch& operator=(const LoadWatch&) = delete;

    int finished() const noexcept { return finished_; }

private:
    static void onLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);

    WebKitWebView* view_;
    gulong handler_ = 0;
    int finished_ = 0;
};

// Loads an address in the session and waits until that load has finished,
// the page has its title, and the session's published address, title and
// loading state have caught up with the view: tests read them next (a
// capture takes its file name and metadata from the title). The title is
// waited for by name because the engine may announce it after the end of
// the load. False when the bound passed first.
bool loadPage(BrowserSession& session, const std::string& url, const std::string& title,
              std::chrono::milliseconds bound = std::chrono::seconds(10));

// Page-wait bounds for a session whose test is not about them: ones that a
// machine under heavy load keeps (two frames or a relayout can take seconds
// there), so that a slow frame never passes for a page that draws none.
BrowserSession::WaitBounds patientBounds();

// Whether the session's published navigation state shows what its view
// holds now.
bool publishedStateCaughtUp(const BrowserSession& session);

}  // namespace velmora::test
