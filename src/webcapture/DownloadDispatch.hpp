#pragma once

// Every download of a network session reaches the session whose view started
// it, or nobody.
//
// WebKitGTK announces a download on the network session ("download-started"),
// which every tab of a store shares, not on the view that started it. A
// download that nobody answers is not left waiting: the engine's default
// saves it into the user's download folder. So each network session a
// session's view uses gets one dispatcher, connected the first time a session
// is made on it and never disconnected (it holds nothing of any session),
// which gives each download to the open session whose current view started
// it. Every other download (a closed tab's old view, a view that is gone, no
// view at all) is cancelled before it asks for a destination.
// Main thread only.

#include <webkit/webkit.h>

namespace velmora {

class NavigationPolicy;

class DownloadDispatch {
public:
    // Connects the dispatcher to a network session unless it has one.
    static void serve(WebKitNetworkSession* network);
    // The policies of the open sessions, each answering for its session's
    // current view.
    static void enter(NavigationPolicy& policy);
    static void leave(NavigationPolicy& policy);

private:
    static void onDownloadStarted(WebKitNetworkSession*, WebKitDownload* download, gpointer);
};

}  // namespace velmora
