// The page script bridge of BrowserSession: scripts, numbers read from the
// page, the ready marker, the width probe, the layout restore, snapshots and
// PNG encoding.
#include <graphene.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <memory>

#include "foundation/BrindlexError.hpp"
#include "foundation/GLibError.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/CaptureRun.hpp"
#include "capture/CaptureOutcome.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

namespace velmora {

namespace {

using namespace std::chrono_literals;
using Metric = WebCaptureDiagnosticMetric;

constexpr auto pollInterval = 10ms;
constexpr auto tidyBound = 2000ms;

// Halves away from zero, as every rounding of a measured size.
int64_t rounded(double v) { return static_cast<int64_t>(std::round(v)); }

std::string hex32() {
    std::string text = UUID::random().text();
    std::erase(text, '-');
    return text;
}

// The window the widget is in, mapped or not.
GtkWindow* windowOf(GtkWidget* widget) {
    GtkRoot* root = gtk_widget_get_root(widget);
    return root && GTK_IS_WINDOW(root) ? GTK_WINDOW(root) : nullptr;
}

// The view's rectangle in its window, clipped by every ancestor that clips
// its children and by the window itself; in logical pixels. A view inside
// a scrolled area (the window's page area, which scrolls sideways for a page
// wider than itself) is laid out whole, and the area shows one part of it
// at a time: only what clips it inside the area counts. A capture wider
// than the area (twice the scale, a custom width) lays the view out wider
// than the area shows, and the engine draws and snapshots the whole of it.
graphene_rect_t visibleRect(GtkWidget* view, GtkWindow* window) {
    graphene_rect_t none = GRAPHENE_RECT_INIT(0, 0, 0, 0);
    GtkWidget* top = GTK_WIDGET(window);
    if (!gtk_widget_get_mapped(view)) return none;
    graphene_rect_t rect;
    if (!gtk_widget_compute_bounds(view, top, &rect)) return none;
    for (GtkWidget* a = gtk_widget_get_parent(view); a && a != top; a = gtk_widget_get_parent(a)) {
        if (GTK_IS_SCROLLABLE(a)) return rect;
        if (gtk_widget_get_overflow(a) != GTK_OVERFLOW_HIDDEN) continue;
        graphene_rect_t clip;
        if (!gtk_widget_compute_bounds(a, top, &clip)) return none;
        if (!graphene_rect_intersection(&rect, &clip, &rect)) return none;
    }
    graphene_rect_t whole = GRAPHENE_RECT_INIT(0, 0, static_cast<float>(gtk_widget_get_width(top)),
                                               static_cast<float>(gtk_widget_get_height(top)));
    if (!graphene_rect_intersection(&rect, &whole, &rect)) return none;
    return rect;
}

}  // namespace

// ---------------------------------------------------------------------------
// Scripts

Task<PageValue> BrowserSession::evaluate(std::string script) {
    // Held for the call: a shutdown meanwhile replaces the session's view,
    // not the one the script runs in.
    auto view = GObjectRef<WebKitWebView>::ref(webView_.get());
    auto result = co_await awaitAsync(
        [&view, &script](GAsyncReadyCallback callback, gpointer data) {
            // No world name: the page's own world, where its scripts live.
            webkit_web_view_evaluate_javascript(view.get(), script.c_str(), static_cast<gssize>(script.size()),
                                                nullptr, nullptr, nullptr, callback, data);
        },
        WhenCancelled::stopWaiting);
    GError* error = nullptr;
    auto value = GObjectRef<JSCValue>::adopt(
        webkit_web_view_evaluate_javascript_finish(view.get(), result.get(), &error));
    GLibError::check(error);
    co_return PageValue::fromJSC(value.get());
}

namespace {

struct ScriptCall {
    Resumer<void> resumer;
    GObjectRef<WebKitWebView> view;
};

void onScriptDone(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<ScriptCall> call(static_cast<ScriptCall*>(data));
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(call->view.get(), result, &error);
    if (value) g_object_unref(value);
    if (error) {
        call->resumer.fail(std::make_exception_ptr(GLibError(error)));
        g_error_free(error);
    } else {
        call->resumer.resume();
    }
}

struct ScriptBound {
    guint source = 0;
    ~ScriptBound() {
        if (source) g_source_remove(source);
    }
};

// What the bound's timeout holds: the wait to end, and the bound's record of
// its source, cleared as the source goes by itself so that the bound does
// not remove it a second time.
struct BoundFire {
    Resumer<void> resumer;
    guint* source;
};

}  // namespace

Task<void> BrowserSession::runScript(WebKitWebView* view, std::string script,
                                     std::optional<std::chrono::milliseconds> bound, WhenCancelled whenCancelled) {
    ScriptBound timer;
    co_await awaitCallback<void>(
        [&](Resumer<void> resumer) {
            auto* call = new ScriptCall{resumer, GObjectRef<WebKitWebView>::ref(view)};
            if (bound) {
                timer.source = g_timeout_add_full(
                    G_PRIORITY_DEFAULT, static_cast<guint>(bound->count()),
                    [](gpointer p) {
                        auto* fire = static_cast<BoundFire*>(p);
                        *fire->source = 0;
                        fire->resumer.resume();
                        return G_SOURCE_REMOVE;
                    },
                    new BoundFire{resumer, &timer.source}, [](gpointer p) { delete static_cast<BoundFire*>(p); });
            }
            webkit_web_view_evaluate_javascript(view, script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                                nullptr, nullptr, onScriptDone, call);
        },
        whenCancelled);
}

Task<void> BrowserSession::tidyPage(std::string script) {
    try {
        co_await runScript(webView_.get(), std::move(script), tidyBound, WhenCancelled::keepWaiting);
    } catch (...) {
        // Only tidying up: what the save itself ended with is what counts.
    }
}

Task<int64_t> BrowserSession::evaluateInteger(std::string script) {
    PageValue value = co_await evaluate(std::move(script));
    co_return value.integer();
}

Task<double> BrowserSession::evaluateDouble(std::string script) {
    PageValue value = co_await evaluate(std::move(script));
    co_return value.nonNegative();
}

// ---------------------------------------------------------------------------
// Ready marker

Task<bool> BrowserSession::waitForAnimationFrames() {
    const std::string key = "__brindlex_ready_" + hex32();
    const std::string property = "window['" + key + "']";
    const std::string erase = "delete " + property + ";true";
    // The frame callback only marks a property that is still there: a wait
    // that ended first (cancelled, or past its deadline) has erased it, and
    // a late frame must not put it back into the page.
    co_await evaluate(property + "=0;requestAnimationFrame(()=>requestAnimationFrame(()=>{if('" + key + "' in window)" +
                      property + "=1}));true");
    const double start = clock_->seconds();
    bool drawn = false;
    std::exception_ptr error;
    try {
        while (true) {
            // A page that lost the property answers undefined: dimensionOverflow.
            int64_t state = co_await evaluateInteger(property);
            if (state == 1) {
                drawn = true;
                break;
            }
            checkCancellation();
            if (start + waitBounds_.readyMarker <= clock_->seconds()) break;
            co_await sleepFor(pollInterval);
        }
    } catch (...) {
        error = std::current_exception();
    }
    // The marker goes however the wait ended, a cancelled one included: the
    // page keeps nothing of a capture.
    co_await tidyPage(erase);
    if (error) std::rethrow_exception(error);
    co_return drawn;
}

Task<void> BrowserSession::settleAfterScroll(std::chrono::milliseconds atLeast) {
    const auto start = std::chrono::steady_clock::now();
    co_await waitForAnimationFrames();
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    if (spent < atLeast) co_await sleepFor(atLeast - spent);
}

// ---------------------------------------------------------------------------
// View sizes and the width layout

ViewMetrics BrowserSession::viewMetrics() const {
    ViewMetrics m;
    GtkWidget* view = GTK_WIDGET(webView_.get());
    double zoom = webkit_web_view_get_zoom_level(webView_.get());
    if (!(zoom > 0)) zoom = 1;
    m.zoomLevel = zoom;
    m.boundsWidth = gtk_widget_get_width(view) / zoom;
    m.boundsHeight = gtk_widget_get_height(view) / zoom;
    m.windowContentWidth = m.boundsWidth;
    if (GtkWindow* window = windowOf(view)) {
        GtkWidget* content = gtk_window_get_child(window);
        m.windowContentWidth = gtk_widget_get_width(content ? content : GTK_WIDGET(window)) / zoom;
        m.attached = gtk_widget_get_mapped(GTK_WIDGET(window));
        if (m.attached) {
            graphene_rect_t visible = visibleRect(view, window);
            m.visibleWidth = visible.size.width / zoom;
            m.visibleHeight = visible.size.height / zoom;
            m.backingScale = gtk_widget_get_scale_factor(view);
        }
    }
    return m;
}

SavedLayout BrowserSession::saveLayout() const {
    SavedLayout saved;
    saved.allocatedWidth = frame_->allocatedWidth();
    saved.zoomLevel = webkit_web_view_get_zoom_level(webView_.get());
    if (GtkWindow* window = windowOf(GTK_WIDGET(webView_.get()))) {
        saved.window = GObjectRef<GtkWindow>::ref(window);
        gtk_window_get_default_size(window, &saved.windowWidth, &saved.windowHeight);
        // A window never given a default size (nor resized) reports none;
        // its present size is what it should go back to.
        if (saved.windowWidth <= 0) saved.windowWidth = gtk_widget_get_width(GTK_WIDGET(window));
        if (saved.windowHeight <= 0) saved.windowHeight = gtk_widget_get_height(GTK_WIDGET(window));
    }
    return saved;
}

void BrowserSession::layOutWidth(int64_t width, int64_t scale) {
    WebKitWebView* view = webView_.get();
    // Text and lines render at the output scale rather than being enlarged
    // afterwards: the page is zoomed by the scale the screen does not give.
    int device = std::max(gtk_widget_get_scale_factor(GTK_WIDGET(view)), 1);
    double zoom = static_cast<double>(scale) / device;
    if (webkit_web_view_get_zoom_level(view) != zoom) webkit_web_view_set_zoom_level(view, zoom);
    // GTK has no frame and bounds apart: both are the allocation.
    if (rounded(gtk_widget_get_width(GTK_WIDGET(view)) / zoom) != width || frame_->allocatedWidth())
        frame_->setAllocatedWidth(static_cast<int>(rounded(static_cast<double>(width) * zoom)));
    gtk_widget_queue_resize(GTK_WIDGET(frame_->gobj()));
}

Task<CaptureGeometry> BrowserSession::measureGeometry(int64_t width, int64_t scale, WebCaptureDiagnostic* diagnostic) {
    if (width < 280 || width > 4096) raise(ErrorCase::invalidInput);
    const double start = clock_->seconds();
    bool firstPass = true;
    while (true) {
        gtk_widget_queue_resize(GTK_WIDGET(webView_.get()));
        co_await waitForAnimationFrames();
        int64_t inner = co_await evaluateInteger("window.innerWidth");
        int64_t client = co_await evaluateInteger(CaptureRun::layoutWidthProbe);
        ViewMetrics m = viewMetrics();
        int64_t visible = rounded(m.visibleWidth);
        if (diagnostic) {
            diagnostic->record(WebCaptureDiagnosticStage::pageMetrics,
                               {{Metric::requestedWidth, static_cast<double>(width)},
                                {Metric::innerWidth, static_cast<double>(inner)},
                                {Metric::clientWidth, static_cast<double>(client)},
                                {Metric::visibleWidth, static_cast<double>(visible)},
                                {Metric::boundsWidth, m.boundsWidth},
                                {Metric::boundsHeight, m.boundsHeight}});
        }
        if (!CaptureGeometry::isReady(width, inner, client, static_cast<double>(visible))) {
            if (clock_->seconds() >= start + waitBounds_.widthLayout) {
                throw CaptureOutcome::PageFault(CaptureOutcome::widthNotTaken);
            }
            firstPass = true;
            continue;
        }
        if (firstPass) {
            co_await sleepFor(pollInterval);
            firstPass = false;
            continue;
        }
        int64_t scroll =
            co_await evaluateInteger("Math.max(document.body.scrollWidth,document.documentElement.scrollWidth)");
        ViewMetrics last = viewMetrics();
        double dpr = co_await evaluateDouble("window.devicePixelRatio");
        CaptureGeometry g;
        g.requestedWidth = width;
        g.windowContentWidth = rounded(last.windowContentWidth);
        g.webViewVisibleWidth = rounded(last.visibleWidth);
        g.webViewBoundsWidth = rounded(last.boundsWidth);
        g.webViewFrameWidth = rounded(last.boundsWidth);
        // The view scrolls its page itself; no scroll view encloses it.
        g.scrollViewBoundsWidth = rounded(last.boundsWidth);
        g.scrollDocumentWidth = scroll;
        g.innerWidth = inner;
        g.clientWidth = client;
        g.scrollWidth = scroll;
        g.devicePixelRatio = dpr;
        g.snapshotRectWidth = inner;
        g.outputPixelWidth = inner * scale;
        g.scale = scale;
        co_return g;
    }
}

// ---------------------------------------------------------------------------
// Layout restore

Task<void> BrowserSession::restoreLayout(SavedLayout saved, bool keepWindow, std::string script) {
    // In this order, so that the window can shrink once nothing holds it wide.
    frame_->setAllocatedWidth(saved.allocatedWidth);
    WebKitWebView* view = webView_.get();
    if (saved.zoomLevel > 0 && webkit_web_view_get_zoom_level(view) != saved.zoomLevel)
        webkit_web_view_set_zoom_level(view, saved.zoomLevel);
    if (saved.window && !keepWindow)
        gtk_window_set_default_size(saved.window.get(), saved.windowWidth, saved.windowHeight);
    gtk_widget_queue_resize(GTK_WIDGET(frame_->gobj()));
    try {
        co_await waitForAnimationFrames();
    } catch (...) {
        // The restore goes on whatever the page did; a cancelled capture ends
        // up here at once and still has its script to run.
    }
    // The capture's own outcome is what gets reported, not the restore's.
    co_await tidyPage(std::move(script));
}

// ---------------------------------------------------------------------------
// Snapshots and PNG encoding

Task<GObjectRef<GdkTexture>> BrowserSession::snapshot(WebKitSnapshotRegion region, WebKitSnapshotOptions options) {
    auto view = GObjectRef<WebKitWebView>::ref(webView_.get());
    auto result = co_await awaitAsync([&view, region, options](GAsyncReadyCallback callback, gpointer data) {
        webkit_web_view_get_snapshot(view.get(), region, options, nullptr, callback, data);
    });
    GError* error = nullptr;
    auto texture = GObjectRef<GdkTexture>::adopt(webkit_web_view_get_snapshot_finish(view.get(), result.get(), &error));
    GLibError::check(error);
    if (!texture) throw CaptureOutcome::PageFault(CaptureOutcome::snapshotFailed);
    co_return texture;
}

Task<std::vector<uint8_t>> BrowserSession::encodePNG(RasterImage image) {
    co_return co_await runOnWorker([](const RasterImage& i) { return Raster::png(i); }, std::move(image));
}

Task<std::vector<uint8_t>> BrowserSession::encodePNG(std::shared_ptr<const PixelBuffer> image) {
    co_return co_await runOnWorker([](const std::shared_ptr<const PixelBuffer>& i) { return Raster::png(*i); },
                                   std::move(image));
}

}  // namespace velmora
