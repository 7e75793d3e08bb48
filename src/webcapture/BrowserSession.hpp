#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sigc++/sigc++.h>
#include <webkit/webkit.h>

#include "foundation/FreeSpace.hpp"
#include "foundation/GObjectRef.hpp"
#include "foundation/Published.hpp"
#include "foundation/Raster.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"
#include "foundation/UptimeClock.hpp"
#include "webcapture/CaptureComposition.hpp"
#include "capture/CaptureGeometry.hpp"
#include "capture/CaptureReceipt.hpp"
#include "webcapture/OperationTrace.hpp"
#include "webcapture/PageDialogs.hpp"
#include "webcapture/PageValue.hpp"
#include "webcapture/WebFrame.hpp"

namespace velmora {

class CaptureRun;
struct CaptureOptions;
class NavigationPolicy;
struct PrintOptions;
class WebCaptureDiagnostic;

// What a page's request for a new window hands to the tab that will hold
// it: the view that asked. A view made from it shares that view's network
// session, settings and content manager.
struct WebViewConfiguration {
    GObjectRef<WebKitWebView> relatedView;
};

// The view as a capture sees it. Sizes are CSS pixels: the view's logical
// pixels divided by its zoom level.
struct ViewMetrics {
    double zoomLevel = 1;
    double boundsWidth = 0;
    double boundsHeight = 0;
    // The part of the view its window shows; empty while the view is not
    // shown.
    double visibleWidth = 0;
    double visibleHeight = 0;
    // The width of the window's content; the bounds width outside a window.
    double windowContentWidth = 0;
    // The view is in a window that is mapped.
    bool attached = false;
    // Device pixels per logical pixel; 0 unless attached.
    double backingScale = 0;
};

// What a capture changes about the view and its window, read before it
// changes anything, so that the end of the capture can put it back.
struct SavedLayout {
    // The view's window; absent outside one.
    GObjectRef<GtkWindow> window;
    int windowWidth = 0;
    int windowHeight = 0;
    // The frame's forced width.
    std::optional<int> allocatedWidth;
    double zoomLevel = 1;
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
    // The address whose load failed (the engine could not reach it, or it
    // made no progress until the watchdog stopped it), for as long as no
    // other load has begun: the tab shows that failure, not a page.
    Published<std::optional<std::string>> failedURL{changed, std::nullopt};
    // The address of the page whose process ended (the engine's
    // "web-process-terminated"), for as long as no load has begun since:
    // the view shows nothing of it any more (and names no address), and the
    // tab offers to load it again.
    Published<std::optional<std::string>> endedURL{changed, std::nullopt};
    Published<bool> displayedPDF{changed, false};
    Published<bool> operationPending{changed, false};
    Published<std::shared_ptr<OperationTrace>> operation;

    // Unpublished state and the owners' callbacks.
    std::string lastMainMethod = "GET";
    std::optional<std::string> documentOrigin;
    std::function<void()> navigationChanged;
    std::function<bool()> navigationPermitted;
    // Returns the view of the tab opened for a page's new window, made from
    // the configuration (so related to this view), or null; the engine does
    // not take the returned reference.
    std::function<WebKitWebView*(const WebViewConfiguration&)> childRequested;
    std::function<void()> closeRequested;
    // Receives each download of this session's view, during the network
    // session's "download-started": the receiver takes its own reference and
    // must answer "decide-destination" (or cancel), or the engine saves it
    // into the user's download folder by itself.
    std::function<void(WebKitDownload*)> downloadStarted;
    // Present exactly while a page dialog of this session is shown; calling
    // it hides the dialog and answers the page "otherwise".
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
    // Whether the view holds a page that can be saved: it shows an address
    // other than about:blank, and its last main-frame load did not fail.
    // The blank the engine commits for an address it refuses, or a page
    // kept from before a failed load, is not the page the tab names.
    bool holdsPage() const;
    // Closes the session for good; ignored while a save is pending.
    void shutdown();
    // Removes the website data of one host (all hosts when absent) from the
    // network session of the current view; nothing while busy. Errors of the
    // data manager pass through as GLibError.
    Task<void> clearData(std::optional<std::string> host);

    // --- The navigation policy and the page dialogs (NavigationPolicy.cpp,
    // PageDialogs.cpp).

    // http or https with a host and no user; exactly "about:blank"; a blob
    // address whose inner scheme, host and port are documentOrigin's.
    bool allowedNavigation(std::string_view address) const;
    // A cancelled load or one a policy decision interrupted (a download).
    static bool isNavigationInterruption(const GError* error);
    // The answer to the view's decide-policy: actions, new-window actions and
    // responses.
    void navigationPolicy(WebKitPolicyDecision* decision, WebKitPolicyDecisionType type);
    // "表示中のPDFをダウンロード": a download of the displayed PDF, handed to
    // downloadStarted. Refused with a notice unless a PDF reached by GET is
    // displayed and no save is pending.
    void saveDisplayedPDF();
    // Shows a page dialog, or answers at once "otherwise" when the session
    // is closed, a dialog is already shown or the view is in no window.
    void runPageDialog(PageDialogRequest request, PageDialogCompletion completion);

    // How long a load started by navigate may go without progress before it
    // is stopped and reported as failed.
    void setNavigationWatchdog(std::chrono::milliseconds duration) { watchdogDuration_ = duration; }

    // The clock of every deadline of the page waits; tests move their own.
    void setClock(const UptimeClock& clock) { clock_ = &clock; }
    const UptimeClock& clock() const noexcept { return *clock_; }

    // How long the page waits last before they give up, in seconds of the
    // session's clock. The defaults are the product's; a test that is not
    // about a bound gives one that a heavily loaded machine keeps.
    struct WaitBounds {
        // The two animation frames of the ready marker.
        double readyMarker = 0.35;
        // The page laid out at a requested width.
        double widthLayout = 2.0;
    };
    void setWaitBounds(const WaitBounds& bounds) { waitBounds_ = bounds; }
    const WaitBounds& waitBounds() const noexcept { return waitBounds_; }

    // --- The page script bridge. Each call reads the current web view.

    // Runs a script in the page's own world. A script error is the web
    // engine's GError, unchanged (a GLibError). A cancel of the save ends
    // the wait at once (a page script that never yields would otherwise
    // hold the tab), and a cancelled save starts no script.
    Task<PageValue> evaluate(std::string script);
    // Runs a script that puts the page back after a save, a cancelled one
    // included: waited for whatever the task's state, given up after 2 s,
    // its errors ignored.
    Task<void> tidyPage(std::string script);
    // Runs a script whose value is ignored in view's own world. The wait ends
    // on the answer, after the bound (when given) or, with stopWaiting, on a
    // cancel; a late answer is dropped. A script error is a GLibError.
    static Task<void> runScript(WebKitWebView* view, std::string script,
                                std::optional<std::chrono::milliseconds> bound, WhenCancelled whenCancelled);
    // The script's value as a length (PageValue::integer): dimensionOverflow
    // for anything that is not a number from 0 to 2147483647.
    Task<int64_t> evaluateInteger(std::string script);
    // The same as a finite, non-negative number.
    Task<double> evaluateDouble(std::string script);
    // Whether the page drew two animation frames within the ready marker's
    // bound (0.35 s unless set otherwise). A page that
    // loses the marker meanwhile is dimensionOverflow; a cancel ends the wait
    // with CancellationError.
    Task<bool> waitForAnimationFrames();
    // After a scroll: at least the given time, and the page's next two
    // frames (as long as the ready marker waits), in which the page gets its
    // scroll event and its listeners and intersection observers run.
    Task<void> settleAfterScroll(std::chrono::milliseconds atLeast);
    // Waits until the page has laid out at the requested CSS width on two
    // passes in a row and measures it. A width outside 280...4096 is
    // invalidInput before the view is touched; a page that is not at the
    // width within its bound (2 s unless set otherwise) is renderFailed. The diagnostic, when given, records
    // every pass.
    Task<CaptureGeometry> measureGeometry(int64_t width, int64_t scale, WebCaptureDiagnostic* diagnostic);
    // The view's sizes as a capture measures them.
    ViewMetrics viewMetrics() const;
    SavedLayout saveLayout() const;
    // Lays the view out at width CSS pixels for an output of scale pixels
    // per CSS pixel: the page zoom becomes scale over the screen's scale and
    // the frame gives the view exactly the width times the zoom (its window
    // grows when it is too narrow). The page-side waits follow in
    // measureGeometry.
    void layOutWidth(int64_t width, int64_t scale);
    // Removes the forced width, puts the zoom back and then (unless
    // keepWindow) the window's default size, waits for the page to draw and
    // runs the page-state restore script. Never throws, also not when the
    // task is cancelled: the script still runs.
    Task<void> restoreLayout(SavedLayout saved, bool keepWindow, std::string script);
    // A snapshot of the view. A completion with neither a texture nor an
    // error is renderFailed.
    Task<GObjectRef<GdkTexture>> snapshot(WebKitSnapshotRegion region, WebKitSnapshotOptions options);
    // PNG encoding of a composed image on a worker thread.
    static Task<std::vector<uint8_t>> encodePNG(RasterImage image);
    // The same for a composed part, read in place on the worker.
    static Task<std::vector<uint8_t>> encodePNG(std::shared_ptr<const PixelBuffer> image);

    // --- The tall-PNG capture.

    // Saves the page as one tall PNG, or as numbered parts when it does not
    // fit the memory budget, into the folder output ("縦長PNGを保存").
    // Returns at once: the capture runs as the session's task, with its own
    // trace in `operation`, a diagnostic report and a publication journal
    // (normal sessions only), and ends in one status sentence in `stage`.
    // Ignored while the session is busy or already runs a save.
    void capture(CaptureOptions options, std::filesystem::path output);
    // Stops the running save; it ends as cancelled once it reaches its next
    // cancellation point, keeping what it already published. With no save
    // running (or one that has already ended) it is only recorded.
    void cancel();

    // The whole capture pipeline, from the admission to the release: the
    // preparation, the freeze, the plan, each part taken and published, the
    // receipt. Every failure puts back what was changed and gives back what
    // was taken before it is thrown.
    Task<CaptureReceipt> captureNow(CaptureOptions options, std::filesystem::path output);

    // The first half of a capture: admits it, takes its work folder and the
    // worker budget, saves the page state, lays the page out at the
    // requested width and waits for it to load, lazily loaded content
    // included, until the page stands at its top. Every failure gives back
    // what was taken, and puts the page back once its state was saved.
    Task<std::unique_ptr<CaptureRun>> prepareCapture(CaptureOptions options);
    // The middle of a capture, on a prepared run: freezes the page's fixed
    // and sticky elements, plans the parts within the memory budget (telling
    // the journal their number and opening the output folder), takes each
    // part viewport by viewport into one bitmap, encodes it and hands it on.
    // Every failure goes through the run's failure path (diagnostic, page
    // and layout put back, everything given back) and is then thrown. On
    // success the page stays frozen for the publication.
    Task<void> captureParts(CaptureRun& run, std::filesystem::path output, PartHandOver handOver,
                            const FreeSpace& freeSpace = FreeSpace::system());

    // --- The print-style save.

    // Saves the page print-style ("印刷用に保存") into the folder output:
    // printed to a PDF, checked, stamped when asked, and published as a PDF,
    // page PNGs or both. Returns at once, like capture(): the save runs as
    // the session's task with its own trace, a journal and a history entry
    // (normal sessions only), and ends in one status sentence in `stage`.
    // Ignored while the session is busy or already runs a save.
    void print(PrintOptions options, std::filesystem::path output);

private:
    Task<void> runPrint(PrintOptions options, std::filesystem::path output, std::shared_ptr<OperationTrace> trace,
                        bool privateSession);
    Task<void> runCapture(CaptureOptions options, std::filesystem::path output, std::shared_ptr<OperationTrace> trace,
                          std::shared_ptr<WebCaptureDiagnostic> diagnostic, bool privateSession);

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
    static void onProcessEnded(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);

    std::unique_ptr<WebFrame> frame_;
    GObjectRef<WebKitWebView> webView_;
    bool closingWeb_ = false;
    // The view's key-value observations: address, title, loading, and the
    // back-forward list for both directions.
    std::vector<SignalConnection> navigationObservers_;
    // The load signals the session answers as the view's delegate.
    std::vector<SignalConnection> delegateHandlers_;
    // The page's process ended while the running save was under way.
    bool endedDuringSave_ = false;
    guint refreshSource_ = 0;
    guint watchdogSource_ = 0;
    std::chrono::milliseconds watchdogDuration_ = defaultWatchdog;
    const UptimeClock* clock_ = &UptimeClock::system();
    WaitBounds waitBounds_;
    // Last, so they go first: a dialog still shown is answered while the
    // session is whole.
    std::unique_ptr<NavigationPolicy> policy_;
    std::unique_ptr<PageDialogs> dialogs_;
};

}  // namespace velmora
