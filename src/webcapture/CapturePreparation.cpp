// The first half of a tall-PNG capture: from the request until the page
// stands at its top, laid out at the requested width, loaded, with its lazily
// loaded content pulled in.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/UptimeClock.hpp"
#include "history/CaptureLifecycle.hpp"
#include "foundation/WorkerBudget.hpp"
#include "capture/CaptureAdmission.hpp"
#include "capture/CapturePlan.hpp"
#include "webcapture/CaptureComposition.hpp"
#include "webcapture/CaptureRun.hpp"

namespace velmora {

namespace {

using namespace std::chrono_literals;
using Stage = WebCaptureDiagnosticStage;
using Metric = WebCaptureDiagnosticMetric;

constexpr auto waitPoll = 100ms;
// How far each pre-scroll step stops short of a whole viewport, so that
// content at a viewport's edge is seen twice rather than skipped.
constexpr int64_t scrollOverlap = 80;
// How many polls the page's height must hold with its end in view before
// the pre-scroll takes it as loaded: a feed appends its next items a while
// after its end comes into view (a request, a timer), not in the frames
// that follow the scroll. With the settle after the scroll, the page is
// watched for about half a second, which every capture with lazy loading
// pays once.
constexpr int quietPolls = 4;
// How long the page's own transitions and animations that the capture's
// scrolling started may run on before the capture ends them itself.
constexpr auto motionBound = 1000ms;
// How long what the view shows may keep changing after that before the
// capture takes the page as it then stands.
constexpr auto stillViewBound = 2000ms;

const char* const heightProbe = CaptureRun::heightProbe;
const char* const fontProbe = "document.fonts.status";
const char* const loadingImagesProbe = "Array.from(document.images).some(i=>!i.complete)";
const char* const brokenImagesProbe = "Array.from(document.images).some(i=>i.complete&&i.naturalWidth===0)";

// Style attributes go back in the reverse order of saving, so an element
// saved twice ends with the value it had first. The root's own scrolling
// comes back last, once the page stands where it stood.
std::string restoreScriptFor(const std::string& key) {
    return "(()=>{const s=window['" + key +
           "'];if(s){const back=list=>{for(const [e,v] of [...list].reverse()){e.setAttribute('style',v?\?'');"
           "void e.getAttribute('style');if(v===null)e.removeAttribute('style')}};back(s.items);"
           "if(s.focus&&s.focus.isConnected)s.focus.focus({preventScroll:true});scrollTo(s.x,s.y);"
           "back(s.scrolling);delete window['" +
           key + "']}return true})()";
}

std::string hex32() {
    std::string text = UUID::random().text();
    std::erase(text, '-');
    return text;
}

// A fixed wait in whole milliseconds; a wait too long to count is as long as
// a timer can wait.
std::chrono::milliseconds fixedWait(double seconds) {
    double ms = std::ceil(seconds * 1000.0);
    return std::chrono::milliseconds(static_cast<int64_t>(std::min(ms, 4294967295.0)));
}

Task<void> checkpoint(CaptureRun& run, CaptureOptions::Stage stage) {
    if (run.options.checkpoint) co_await run.options.checkpoint(stage);
}

// What the view shows, as bytes: two alike mean nothing on it moved.
Task<std::vector<uint8_t>> viewPixels(BrowserSession& session) {
    GObjectRef<GdkTexture> texture =
        co_await session.snapshot(WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE);
    const int width = gdk_texture_get_width(texture.get());
    const int height = gdk_texture_get_height(texture.get());
    std::vector<uint8_t> pixels(static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(height));
    gdk_texture_download(texture.get(), pixels.data(), static_cast<gsize>(width) * 4);
    co_return pixels;
}

// A scroll listener that toggles a class with a transition (a banner that
// fades once the page is scrolled) answers the capture's own scrolling, and
// its return to the top, with motion that would still run while the tiles
// are taken. The capture waits for it to end, within a bound, and then ends
// what still runs; the page then draws its resting state.
//
// A page's script can run the same fade itself, an opacity stepped each
// frame or on a timer, which no list of animations holds. So the capture
// then compares what the view shows a poll apart until two views agree,
// within a bound of its own: the page is back as it stood before the
// capture scrolled it. Motion that never ends (a carousel, a video) keeps
// its bound, and the freeze holds the page as it then stands.
Task<void> settleMotion(CaptureRun& run) {
    BrowserSession& session = run.session;
    const UptimeClock& clock = session.clock();
    const double until = clock.seconds() + std::chrono::duration<double>(motionBound).count();
    int64_t running = (co_await session.evaluate(CaptureScripts::capturedMotion(run.pageStateKey, false))).integer();
    const int64_t found = running;
    while (running > 0 && clock.seconds() < until) {
        co_await sleepFor(waitPoll);
        running = (co_await session.evaluate(CaptureScripts::capturedMotion(run.pageStateKey, false))).integer();
    }
    int64_t finished = 0;
    if (running > 0) {
        finished = (co_await session.evaluate(CaptureScripts::capturedMotion(run.pageStateKey, true))).integer();
        co_await session.waitForAnimationFrames();
    }

    const double stillFrom = clock.seconds();
    const double stillUntil = stillFrom + std::chrono::duration<double>(stillViewBound).count();
    std::vector<uint8_t> before = co_await viewPixels(session);
    bool moved = false;
    while (clock.seconds() < stillUntil) {
        co_await sleepFor(waitPoll);
        std::vector<uint8_t> now = co_await viewPixels(session);
        if (now == before) break;
        moved = true;
        before = std::move(now);
    }

    WebCaptureDiagnostic::Metrics values;
    if (found > 0) {
        values[Metric::runningAnimations] = static_cast<double>(found);
        values[Metric::finishedAnimations] = static_cast<double>(finished);
    }
    if (moved) values[Metric::viewStillAfter] = clock.seconds() - stillFrom;
    if (!values.empty()) run.record(Stage::sticky, values);
}

// Steps after the page state is saved; every error here goes through the
// capture's failure path.
Task<void> layOutAndWait(CaptureRun& run) {
    BrowserSession& session = run.session;
    const CaptureOptions& options = run.options;
    const UptimeClock& clock = session.clock();
    const int64_t width = run.requestedWidth;

    session.layOutWidth(width, options.scale);
    run.geometry = co_await session.measureGeometry(width, options.scale, run.diagnostic.get());
    run.record(Stage::pageMetrics, {{Metric::requestedWidth, static_cast<double>(width)},
                                    {Metric::innerWidth, static_cast<double>(run.geometry.innerWidth)},
                                    {Metric::clientWidth, static_cast<double>(run.geometry.clientWidth)},
                                    {Metric::scrollWidth, static_cast<double>(run.geometry.scrollWidth)},
                                    {Metric::devicePixelRatio, run.geometry.devicePixelRatio}});
    if (options.geometryObserved) options.geometryObserved(run.geometry);

    run.startTime = clock.seconds();
    auto elapsed = [&] { return clock.seconds() - run.startTime; };
    session.stage = std::string("読み込み待機");
    run.record(Stage::waiting);
    co_await checkpoint(run, CaptureOptions::Stage::waiting);

    if (options.waitSeconds > 0) co_await sleepFor(fixedWait(options.waitSeconds));

    if (options.automaticWait) {
        while (true) {
            PageValue fonts = co_await session.evaluate(fontProbe);
            bool loading = webkit_web_view_is_loading(session.webView());
            if (!loading && fonts.stringValue() == "loaded") break;
            if (elapsed() >= options.maximumSeconds) raise(ErrorCase::loadTimeout);
            co_await sleepFor(waitPoll);
        }
    }

    run.viewportHeight = session.viewMetrics().boundsHeight;

    if (options.lazyLoad) {
        run.record(Stage::lazyLoad);
        session.stage = std::string("下部の画像を読み込み中");
        co_await checkpoint(run, CaptureOptions::Stage::scrolling);

        const int64_t viewport = static_cast<int64_t>(run.viewportHeight);
        const int64_t step = std::max<int64_t>(viewport - scrollOverlap, 1);
        if (options.maximumScrolls <= 0) raise(ErrorCase::loadTimeout);
        checkCancellation();
        int64_t before = co_await session.evaluateInteger(heightProbe);
        int64_t y = 0;
        int64_t scrolls = 0;
        while (true) {
            // Past the limit the page is too tall for a tall PNG whatever
            // else it would still load.
            if (options.maximumHeight < before) throw PageTooTall(options.maximumHeight);
            if (elapsed() >= options.maximumSeconds) raise(ErrorCase::loadTimeout);
            co_await session.evaluate(run.scrollScript(y));
            // Observers that bring content in answer the scroll in the
            // page's next frames, which a loaded machine draws late.
            co_await session.settleAfterScroll(waitPoll);
            int64_t after = co_await session.evaluateInteger(heightProbe);
            if (y + viewport >= after && after == before) {
                for (int poll = 0; poll < quietPolls && after == before; ++poll) {
                    if (elapsed() >= options.maximumSeconds) raise(ErrorCase::loadTimeout);
                    co_await sleepFor(waitPoll);
                    after = co_await session.evaluateInteger(heightProbe);
                }
                if (after == before) break;
                // The page grew at its end: the scrolling goes on from the
                // last view that reached the old end, through what came.
                y = std::min(y, std::max<int64_t>(before - viewport, 0));
            }
            y += step;
            if (++scrolls >= options.maximumScrolls) raise(ErrorCase::loadTimeout);
            checkCancellation();
            before = co_await session.evaluateInteger(heightProbe);
        }

        // A probe answer that is not a Boolean counts as false.
        while ((co_await session.evaluate(loadingImagesProbe)).booleanValue() == true) {
            if (elapsed() >= options.maximumSeconds) raise(ErrorCase::loadTimeout);
            co_await sleepFor(waitPoll);
        }
        if ((co_await session.evaluate(brokenImagesProbe)).booleanValue() == true) raise(ErrorCase::incompleteImages);
    }

    run.record(Stage::sticky);
    co_await session.evaluate(run.topScript());
    co_await session.waitForAnimationFrames();
    co_await settleMotion(run);
}

}  // namespace

Task<std::unique_ptr<CaptureRun>> BrowserSession::prepareCapture(CaptureOptions options) {
    auto run = std::make_unique<CaptureRun>(*this, std::move(options));
    run->diagnostic = isPrivate ? nullptr : run->options.diagnostic;

    const ViewMetrics view = viewMetrics();
    run->record(Stage::prepare, {{Metric::boundsWidth, view.boundsWidth},
                                 {Metric::boundsHeight, view.boundsHeight},
                                 {Metric::attached, view.attached ? 1.0 : 0.0},
                                 {Metric::visibleWidth, view.visibleWidth},
                                 {Metric::visibleHeight, view.visibleHeight},
                                 {Metric::backingScale, view.backingScale},
                                 {Metric::mainThread, isMainThread() ? 1.0 : 0.0}});

    if (busy) raise(ErrorCase::navigationBusy);
    const UUID owner = UUID::random();
    CaptureAdmission::acquire(owner);
    run->admission = owner;

    // Until the page state is saved, a failure only gives back what was
    // taken (the run's release, also when it goes away with the error).
    const CaptureOptions& o = run->options;
    if (o.scale != 1 && o.scale != 2) raise(ErrorCase::invalidInput);
    if (!(view.boundsWidth > 0) || !(view.boundsHeight > 0)) raise(ErrorCase::invalidInput);
    run->requestedWidth = o.viewportWidth ? *o.viewportWidth : static_cast<int64_t>(std::round(view.boundsWidth));
    if (run->requestedWidth < 280 || run->requestedWidth > 4096) raise(ErrorCase::invalidInput);
    // A blank or failed page never loaded anything to save, whoever asks.
    if (!holdsPage()) raise(ErrorCase::loadTimeout);

    UUID runID = UUID::random(), jobID = UUID::random(), attemptID = UUID::random();
    if (o.lifecycle) {
        const auto& journal = o.lifecycle->journal();
        runID = journal.launchID;
        jobID = journal.jobID;
        attemptID = journal.attemptID;
    }
    run->workFolder =
        std::make_unique<OwnedWorkspace>(Phase0Work::captures(), OwnedRecord::Purpose::capture, runID, jobID, attemptID);
    try {
        const std::string marker = CaptureRun::markerText;
        run->workFolder->write(std::vector<uint8_t>(marker.begin(), marker.end()));
    } catch (...) {
        // Left unfinished: the lease goes with the object, and the launch
        // clean-up removes whatever the failed write left behind.
        run->workFolder.reset();
        throw;
    }

    busy = true;
    WorkerBudget::shared().capture(1);
    run->counted = true;

    run->pageStateKey = "__brindlex_" + hex32();
    SavedLayout saved = saveLayout();
    run->record(Stage::javascript);
    std::exception_ptr error;
    try {
        co_await evaluate(run->saveScript());
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        run->release();
        std::rethrow_exception(error);
    }
    run->restoreScript = restoreScriptFor(run->pageStateKey);
    run->layout = std::move(saved);

    try {
        co_await layOutAndWait(*run);
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        co_await run->fail(error);
        std::rethrow_exception(error);
    }
    co_return run;
}

}  // namespace velmora
