// The middle of a tall-PNG capture: the page's fixed and sticky elements are
// frozen, the parts are planned within the memory budget, and each part is
// taken viewport by viewport into one bitmap and encoded as PNG.
#include "webcapture/CaptureComposition.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/Raster.hpp"
#include "capture/CaptureOutcome.hpp"
#include "history/CaptureLifecycle.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/CaptureRun.hpp"

namespace velmora {

namespace CaptureScripts {

std::string freeze(const std::string& key) {
    // Fixed and sticky elements are pinned to the place they had in the view
    // at the top of the document. Turned absolute, a fixed element is placed
    // and sized against its nearest positioned ancestor rather than the
    // view: a box inside a relative block would move by that block's offset,
    // and a percentage height, a padding or a right and left pair would take
    // that block's size. So its used width, height and padding are kept as
    // they were, and it is moved back like a sticky one. An ancestor with a
    // transform, filter or containment already placed it and still does;
    // the pin leaves it where it was.
    //
    // A transition or animation of its own would move an element while it
    // is measured and placed: a transition on left or top (or on all) keeps
    // the box where it was when the pin reads it, so the solve sees no
    // movement, and ends it somewhere the pin never put it; an animation
    // moves it between tiles. So transitions are switched off and
    // animations paused, in the same change that turns the element absolute
    // or relative, before the page is laid out again: no transition starts,
    // and each animation holds the state the view showed at freeze time.
    // The restore script puts the page's own values back.
    //
    // What the view shows of a fixed element is what lies inside the view:
    // a shadow cast below a bar at the view's foot, or a box reaching past
    // its edge, never falls on the rows under it. Turned absolute, the
    // element would paint all of it onto the page below the first view, so
    // it is clipped to the view as it stood (an element with a clip of its
    // own, or turned or scaled, which a clip in its own frame would not
    // follow, is left as it paints).
    //
    // Only elements with a box are pinned: one without (display none or
    // contents) reads as all zeros, cannot be moved, and would make every
    // re-pin after the first scroll fail. Such elements are not drawn, so
    // leaving them is exact.
    //
    // While frozen, the page's own scripts cannot restyle it: a scroll
    // listener that moves a menu bar, makes a header fixed or toggles a
    // border class would shift or resize rows between tiles. Every attribute
    // change the page makes is taken back by a mutation observer before the
    // page is drawn again, so the page keeps the look it had at freeze time;
    // only the attributes that load an image or frame are let through.
    // Content added or removed is not taken back: the tile loop measures the
    // page and crops or fails. The observer lets go once the restore script
    // has removed the page-state object, and it gives up against a page that
    // answers each undo with another change in the same turn.
    return "(()=>{const s=window['" + key +
           "'];const imp='important';const found=[];"
           "for(const e of document.querySelectorAll('*')){const p=getComputedStyle(e).position;"
           "if(p==='fixed'||p==='sticky')found.push([e,p])}"
           "const sized=['width','height','padding-top','padding-right','padding-bottom','padding-left'];"
           "const root=document.scrollingElement||document.documentElement,vw=root.clientWidth,vh=root.clientHeight;"
           "const shifted=t=>t==='none'||/^matrix\\(1, 0, 0, 1,/.test(t);"
           "const clipOf=(c,r)=>c.clipPath==='none'&&shifted(c.transform)?'inset('+(-r.top)+'px '+(r.right-vw)+'px '+"
           "(r.bottom-vh)+'px '+(-r.left)+'px)':null;"
           "const read=found.map(([e,p])=>{const c=getComputedStyle(e),r=e.getBoundingClientRect();"
           "return {e,p,r,boxed:e.getClientRects().length>0,"
           "size:p==='fixed'?sized.map(n=>c.getPropertyValue(n)):null,clip:p==='fixed'?clipOf(c,r):null}});"
           "const anchorX=scrollX,anchorY=scrollY;"
           "const pinned=read.filter(i=>i.boxed);"
           "for(const i of read){s.items.push([i.e,i.e.getAttribute('style')]);const st=i.e.style;"
           "st.setProperty('transition','none',imp);st.setProperty('animation-play-state','paused',imp);"
           "st.setProperty('position',i.p==='fixed'?'absolute':'relative',imp);"
           "if(i.clip&&i.boxed)st.setProperty('clip-path',i.clip,imp);"
           "if(i.size&&i.boxed){sized.forEach((n,k)=>st.setProperty(n,i.size[k],imp));"
           "st.setProperty('min-width','0px',imp);st.setProperty('max-width','none',imp);"
           "st.setProperty('min-height','0px',imp);st.setProperty('max-height','none',imp)}}"
           "const loads=new Set(['src','srcset','sizes']);"
           "const undo=list=>{for(let i=list.length-1;i>=0;i--){const m=list[i];"
           "if(m.type!=='attributes'||loads.has(m.attributeName))continue;"
           "if(m.oldValue===null)m.target.removeAttribute(m.attributeName);"
           "else m.target.setAttribute(m.attributeName,m.oldValue)}};"
           "let turns=0,counting=false;"
           "const pin=new MutationObserver(list=>{if(window['" + key + "']!==s||++turns>100){pin.disconnect();return}"
           "if(!counting){counting=true;setTimeout(()=>{counting=false;turns=0})}"
           "undo(list);pin.takeRecords()});"
           "s.freezeSticky=()=>{undo(pin.takeRecords());for(const {e,r} of pinned){"
           "if(!e.isConnected||e.getClientRects().length===0)continue;const st=e.style;"
           "st.setProperty('right','auto',imp);st.setProperty('bottom','auto',imp);"
           "st.setProperty('left','0px',imp);st.setProperty('top','0px',imp);"
           "const base=e.getBoundingClientRect();"
           "st.setProperty('left','1px',imp);const a=e.getBoundingClientRect();st.setProperty('left','0px',imp);"
           "st.setProperty('top','1px',imp);const b=e.getBoundingClientRect();st.setProperty('top','0px',imp);"
           "const ax=a.x-base.x,ay=a.y-base.y,bx=b.x-base.x,by=b.y-base.y;"
           "const dx=r.x+anchorX-scrollX-base.x,dy=r.y+anchorY-scrollY-base.y;const det=ax*by-ay*bx;"
           "if(Math.abs(det)<0.000001){if(Math.abs(dx)+Math.abs(dy)>1){pin.takeRecords();"
           "throw new Error('capture-position')}continue}"
           "st.setProperty('left',((dx*by-dy*bx)/det)+'px',imp);"
           "st.setProperty('top',((dy*ax-dx*ay)/det)+'px',imp)}pin.takeRecords()};"
           "s.freezeSticky();"
           "pin.observe(document.documentElement,{attributes:true,attributeOldValue:true,subtree:true});"
           "return true})()";
}

std::string innerScroller() {
    // An element that scrolls in place of a root that does not, when it
    // holds what the page is about rather than a way around it. What it
    // holds decides: text mostly in links and navigation (a book's table of
    // contents) is a column beside the page, which the capture shows as
    // the view does, once, as on a page whose root scrolls. Anything else
    // is the page when the element takes at least half the view's height
    // and half its width (the page's pane, whatever it shows), or when,
    // whatever its size, it hides more than a view of running text, at
    // least 200 characters outside links and navigation (a text pane
    // beside a navigation column, however narrow the view makes it). A
    // small scrolling box that hides less (a code sample) is part of a page
    // of one view. The body itself is one of them: under a root that hides
    // its overflow, a body of the view's height that scrolls holds the
    // whole page (a slide deck's scroll view).
    //
    // Of those, the tallest, by its content height and a name a selector
    // would give it (tag, id, classes): "" when there is none.
    return "(()=>{const ih=innerHeight,iw=innerWidth;let best=null;"
           "const nav='a,nav,[role=navigation],button,select';"
           "const name=e=>{let n=e.localName;if(e.id)n+='#'+e.id;for(const c of e.classList)n+='.'+c;"
           "return n.slice(0,120)};"
           "const text=e=>{let all=0,out=0;const w=document.createTreeWalker(e,NodeFilter.SHOW_TEXT);"
           "for(let t=w.nextNode();t;t=w.nextNode()){const n=t.data.replace(/\\s+/g,'').length;if(!n)continue;"
           "all+=n;if(!t.parentElement.closest(nav))out+=n}return {all,out}};"
           "const body=document.body?[document.body]:[];"
           "for(const e of [...body,...document.querySelectorAll('body *')]){const o=getComputedStyle(e).overflowY;"
           "if(o!=='auto'&&o!=='scroll'&&o!=='overlay')continue;"
           "if(e.scrollHeight<=e.clientHeight+1||e.getClientRects().length===0)continue;"
           "const {all,out}=text(e);if(all>0&&out*2<=all)continue;"
           "const pane=e.clientHeight>=ih/2&&e.clientWidth>=iw/2;"
           "if(!pane&&!(e.scrollHeight-e.clientHeight>ih&&out>=200))continue;"
           "if(!best||e.scrollHeight>best.h)best={h:e.scrollHeight,n:name(e)}}"
           "return best?best.h+' '+best.n:''})()";
}

std::string capturedMotion(const std::string& key, bool finish) {
    // An animation that repeats for ever has no end to wait for or jump to;
    // it is left as the page runs it.
    return "(()=>{const s=window['" + key +
           "'];if(!s||!document.getAnimations)return 0;let n=0;"
           "for(const a of document.getAnimations()){if(s.motion.has(a)||a.playState!=='running')continue;"
           "const t=a.effect?a.effect.getComputedTiming():null;if(!t||!isFinite(t.endTime))continue;" +
           (finish ? std::string("try{a.finish();n++}catch(e){}") : std::string("n++")) + "}return n})()";
}

std::string repin(const std::string& key) { return "window['" + key + "'].freezeSticky();true"; }

}  // namespace CaptureScripts

namespace {

using namespace std::chrono_literals;
using Stage = WebCaptureDiagnosticStage;
using Metric = WebCaptureDiagnosticMetric;

// Time for the page to draw at its new scroll position before the re-pin
// (and at least its next two frames, in which its scroll listeners run).
constexpr auto settle = 100ms;
constexpr int64_t snapshotBitsPerPixel = 32;

double d(int64_t v) { return static_cast<double>(v); }

// A length the page wrote out in decimal: a whole number of CSS pixels in
// 0...2147483647 (fractions cut off), as evaluateInteger reads one.
int64_t pageLength(const std::string& text) {
    PageValue v;
    v.kind = PageValue::Kind::number;
    char* end = nullptr;
    v.number = std::strtod(text.c_str(), &end);
    if (text.empty() || end != text.c_str() + text.size()) raise(ErrorCase::dimensionOverflow);
    return v.integer();
}

Task<void> checkpoint(CaptureRun& run, CaptureOptions::Stage stage) {
    if (run.options.checkpoint) co_await run.options.checkpoint(stage);
    // A cancel asked for while the hook ran stops the capture here, before
    // the page is touched again.
    checkCancellation();
}

Task<void> planParts(CaptureRun& run, std::filesystem::path output, const FreeSpace& freeSpace) {
    // Measured after the freeze: a fixed element turned absolute can make
    // the document taller.
    const int64_t height = co_await run.session.evaluateInteger(CaptureRun::heightProbe);
    // The tiles are as wide and as high as the part of the view the page
    // draws in: a snapshot of the view leaves out a scroll bar that takes
    // room from the layout.
    const int64_t width = co_await run.session.evaluateInteger(CaptureRun::layoutWidthProbe);
    const int64_t layoutHeight = co_await run.session.evaluateInteger(CaptureRun::layoutHeightProbe);
    const double viewHeight = layoutHeight > 0 ? std::min(run.viewportHeight, static_cast<double>(layoutHeight))
                                               : run.viewportHeight;
    const int64_t viewport = CapturePlan::wholeViewport(viewHeight);
    if (height <= viewport) {
        // A root that does not scroll while an inner element does: the
        // document is one view high and the rest of the page lies inside
        // that element, out of reach of the tiles. Saving the view would
        // pass off part of the page as all of it.
        const PageValue inner = co_await run.session.evaluate(CaptureScripts::innerScroller());
        const std::string found = inner.stringValue().value_or("");
        if (!found.empty()) {
            const auto space = found.find(' ');
            if (space == std::string::npos) raise(ErrorCase::dimensionOverflow);
            run.record(Stage::plan,
                       {{Metric::documentHeight, d(height)},
                        {Metric::viewportHeight, d(viewport)},
                        {Metric::innerScrollHeight, d(pageLength(found.substr(0, space)))}},
                       found.substr(space + 1));
            throw CaptureOutcome::PageFault(CaptureOutcome::innerScroller);
        }
    }
    const CapturePlan::Inputs inputs{width,  run.options.scale,         viewHeight,
                                     height, run.options.maximumHeight, run.options.budget,
                                     run.geometry.innerWidth};
    run.planned.emplace(planCapture(inputs, run.diagnostic.get(), run.options.lifecycle.get(), output, freeSpace));
}

// Where the page stands once a tile's scroll has settled.
struct PagePosition {
    int64_t height = 0;
    int64_t scrollY = 0;
};

// The re-pin, the height probe and the scroll position in one script: each
// evaluation is a round trip to the web process, once per tile.
Task<PagePosition> repinAndMeasure(BrowserSession& session, const std::string& key) {
    const PageValue value = co_await session.evaluate(
        "(()=>{window['" + key + "'].freezeSticky();return String(" + CaptureRun::heightProbe + ")+' '+scrollY})()");
    const std::string text = value.stringValue().value_or("");
    const auto space = text.find(' ');
    if (space == std::string::npos) raise(ErrorCase::dimensionOverflow);
    co_return PagePosition{pageLength(text.substr(0, space)), pageLength(text.substr(space + 1))};
}

// The page's viewport as a bitmap at its current scroll position.
struct Viewport {
    GObjectRef<GdkTexture> texture;
    int64_t width = 0;
    int64_t height = 0;
};

Task<Viewport> snapshotViewport(BrowserSession& session) {
    Viewport v;
    v.texture = co_await session.snapshot(WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE);
    v.width = gdk_texture_get_width(v.texture.get());
    v.height = gdk_texture_get_height(v.texture.get());
    co_return v;
}

void download(const Viewport& v, std::vector<uint8_t>& into) {
    try {
        into.resize(static_cast<std::size_t>(v.width * PixelBuffer::bytesPerPixel * v.height));
    } catch (const std::bad_alloc&) {
        raise(ErrorCase::budgetExceeded);
    }
    gdk_texture_download(v.texture.get(), into.data(), static_cast<gsize>(v.width * PixelBuffer::bytesPerPixel));
}

// After the page got shorter under the tile at row top: whether the rows of
// this part already taken just above it (up to half a view of them) are
// still on the same rows of the page, pixel for pixel. Rows taken that moved
// mean something above them was removed: the part so far no longer joins the
// page below, so the capture cannot go on. A part with no rows taken yet has
// nothing that could have moved, unless earlier parts were published; those
// are not kept and so cannot be checked.
Task<void> checkTakenRows(CaptureRun& run, const PixelBuffer& image, const CapturePartSpan& span, int64_t top,
                          int64_t height, std::vector<uint8_t>& scratch) {
    if (top == 0) co_return;
    const CapturePlan& plan = run.planned->plan;
    const int64_t s = plan.scale;
    if (top == span.top) throw CaptureOutcome::PageFault(CaptureOutcome::heightChangedDuringSave);
    const int64_t from = std::max(span.top, top - plan.viewportHeight / 2);
    // The rows compared lie clear of the view's upper edge, as they did when
    // they were taken.
    const int64_t target = std::max<int64_t>(0, std::min(from - plan.margin, height - plan.viewportHeight));
    co_await run.session.evaluate(run.scrollScript(target));
    co_await run.session.settleAfterScroll(settle);
    co_await run.session.evaluate(CaptureScripts::repin(run.pageStateKey));
    const int64_t actual = co_await run.session.evaluateInteger("scrollY");
    const Viewport view = co_await snapshotViewport(run.session);
    const int64_t first = (from - actual) * s;
    const int64_t rows = (top - from) * s;
    if (view.width != plan.pixelWidth || first < 0 || first + rows > view.height) {
        throw CaptureOutcome::PageFault(CaptureOutcome::snapshotFailed);
    }
    download(view, scratch);
    const auto stride = static_cast<std::size_t>(image.bytesPerRow());
    for (int64_t i = 0; i < rows; ++i) {
        const uint8_t* now = scratch.data() + static_cast<std::size_t>(first + i) * stride;
        if (std::memcmp(now, image.row((from - span.top) * s + i), stride) != 0) {
            throw CaptureOutcome::PageFault(CaptureOutcome::rowsMoved);
        }
    }
}

// The part's PNG encoded on a worker while its tiles are still being taken:
// the encoder follows the rows placed so far and waits for the next tile's
// while the page settles, so little of it is left once the last tile is in.
// A part whose rows do not stay as placed (a page that got shorter, a tile
// that is not the next one down) or whose pixels are not opaque gives the
// stream up; its finished bitmap is then encoded whole, as before.
class StreamedPNG {
public:
    explicit StreamedPNG(std::shared_ptr<const PixelBuffer> image) : s_(std::make_shared<Shared>()) {
        s_->image = std::move(image);
        detail::runOnWorkerThread([s = s_] {
            std::optional<std::vector<uint8_t>> png;
            try {
                png = Raster::opaquePNG(*s->image, [&s](int64_t y) {
                    std::unique_lock lock(s->lock);
                    s->changed.wait(lock, [&] { return s->placed > y || s->abandoned; });
                    return !s->abandoned;
                });
            } catch (...) {
                // Out of memory for the encoder: the part is encoded whole.
            }
            detail::onMainContext([s, png = std::move(png)]() mutable {
                s->png = std::move(png);
                s->done = true;
                s->image.reset();
                if (s->waiter) std::exchange(s->waiter, std::nullopt)->resume();
            });
        });
    }
    StreamedPNG(const StreamedPNG&) = delete;
    StreamedPNG& operator=(const StreamedPNG&) = delete;
    // A capture that fails lets the encoder go at once.
    ~StreamedPNG() { abandon(); }

    // Tells the encoder, from any thread, that the rows from the top are
    // final.
    std::function<void()> placed(int64_t rows) const {
        return [s = s_, rows] {
            {
                std::lock_guard lock(s->lock);
                s->placed = rows;
            }
            s->changed.notify_all();
        };
    }

    void abandon() {
        {
            std::lock_guard lock(s_->lock);
            s_->abandoned = true;
        }
        s_->changed.notify_all();
    }

    // Once the encoder has ended: the PNG, or nothing when it was given up.
    Task<std::optional<std::vector<uint8_t>>> finish() {
        std::shared_ptr<Shared> s = s_;
        if (!s->done) {
            co_await awaitCallback<void>([&s](Resumer<void> resumer) { s->waiter.emplace(std::move(resumer)); });
        }
        bool abandoned = false;
        {
            std::lock_guard lock(s->lock);
            abandoned = s->abandoned;
        }
        if (abandoned || !s->png) co_return std::nullopt;
        co_return std::move(*s->png);
    }

private:
    struct Shared {
        // Between the worker and the main thread.
        std::mutex lock;
        std::condition_variable changed;
        int64_t placed = 0;
        bool abandoned = false;
        // The worker's until it hands over, then the main thread's.
        std::shared_ptr<const PixelBuffer> image;
        // Main thread only.
        std::optional<std::vector<uint8_t>> png;
        bool done = false;
        std::optional<Resumer<void>> waiter;
    };
    std::shared_ptr<Shared> s_;
};

// Each tile's pixels put into the part's bitmap on a worker while the page
// scrolls to the next tile and settles. One tile at a time: the next
// snapshot is taken once the tile before is in place, so no more snapshots
// are held at once than when each was placed on the spot.
class TilePlacer {
public:
    explicit TilePlacer(std::shared_ptr<PixelBuffer> image) : image_(std::move(image)) {}
    TilePlacer(const TilePlacer&) = delete;
    TilePlacer& operator=(const TilePlacer&) = delete;

    // Starts putting the tile's rows in place; placed runs on the worker
    // once they are.
    void place(Viewport view, TilePlacement at, std::function<void()> placed) {
        auto s = std::make_shared<Pending>();
        pending_ = s;
        detail::runOnWorkerThread(
            [s, image = image_, scratch = scratch_, view = std::move(view), at, placed = std::move(placed)]() mutable {
                try {
                    // GDK hands out the texture as premultiplied B, G, R, A
                    // bytes, the part bitmap's own layout; a tile that is the
                    // whole snapshot goes straight into place.
                    const int64_t stride = view.width * PixelBuffer::bytesPerPixel;
                    if (at.sourceRow == 0 && at.rows == view.height) {
                        gdk_texture_download(view.texture.get(), image->row(at.partRow), static_cast<gsize>(stride));
                    } else {
                        download(view, *scratch);
                        image->copyRows(at.partRow, scratch->data() + at.sourceRow * stride,
                                        static_cast<std::size_t>(stride), at.rows);
                    }
                    if (placed) placed();
                } catch (...) {
                    s->error = std::current_exception();
                }
                view.texture = {};
                detail::onMainContext([s] {
                    s->done = true;
                    if (s->waiter) std::exchange(s->waiter, std::nullopt)->resume();
                });
            });
    }

    // Waits until the tile in hand is in place; its error is thrown here.
    Task<void> settle() {
        std::shared_ptr<Pending> s = std::exchange(pending_, nullptr);
        if (!s) co_return;
        if (!s->done) {
            co_await awaitCallback<void>([&s](Resumer<void> resumer) { s->waiter.emplace(std::move(resumer)); });
        }
        if (s->error) std::rethrow_exception(s->error);
    }

private:
    struct Pending {
        // Main thread only.
        bool done = false;
        std::optional<Resumer<void>> waiter;
        // Set on the worker before it hands over.
        std::exception_ptr error;
    };
    std::shared_ptr<PixelBuffer> image_;
    // A tile that is not the whole snapshot goes through this one buffer.
    std::shared_ptr<std::vector<uint8_t>> scratch_ = std::make_shared<std::vector<uint8_t>>();
    std::shared_ptr<Pending> pending_;
};

Task<ComposedPart> capturePart(CaptureRun& run, CapturePartSpan span) {
    BrowserSession& session = run.session;
    const int64_t s = run.planned->plan.scale;
    const int64_t pixelWidth = run.planned->plan.pixelWidth;

    run.record(Stage::compose, {{Metric::pixelWidth, d(pixelWidth)}, {Metric::pixelHeight, d(span.height * s)}});
    auto image = std::make_shared<PixelBuffer>(pixelWidth, span.height * s);
    run.observed.canvasBytesPerRow = image->bytesPerRow();

    StreamedPNG stream(image);
    TilePlacer placer(image);
    // The rows from the top placed so far, each tile's right below the last.
    int64_t placedRows = 0;

    // The rows compared after the page got shorter go through this buffer.
    std::vector<uint8_t> scratch;
    // Tiles are taken one by one rather than from a list made up front: a
    // page that gets shorter under the capture ends its last part earlier.
    for (int64_t top = span.top; top < span.end();) {
        const CapturePlan& plan = run.planned->plan;
        const CaptureTile tile = plan.tile(span, top);
        checkCancellation();
        session.stage = "撮影中 " + std::to_string(tile.top) + "/" + std::to_string(plan.documentHeight);
        co_await checkpoint(run, CaptureOptions::Stage::tile);
        run.record(Stage::scroll, {{Metric::tileY, d(tile.top)},
                                   {Metric::scrollY, d(tile.scrollTarget)},
                                   {Metric::tileRows, d(tile.rows)}});
        co_await session.evaluate(run.scrollScript(tile.scrollTarget));
        co_await session.settleAfterScroll(settle);
        const PagePosition position = co_await repinAndMeasure(session, run.pageStateKey);
        // The tile before is in place by now, all but always: it had the
        // scroll and the settle.
        co_await placer.settle();
        // The plan holds only while the page keeps its height: rows that
        // moved would join into an image of no page at all.
        const int64_t height = position.height;
        if (height != plan.documentHeight) {
            run.record(Stage::scroll, {{Metric::tileY, d(tile.top)},
                                       {Metric::tileRows, d(tile.rows)},
                                       {Metric::documentHeight, d(plan.documentHeight)},
                                       {Metric::observedHeight, d(height)}});
            // The part's height is not the one the encoder began with.
            stream.abandon();
            CapturePlan shorter = plan.shortened(tile.top, height);
            co_await checkTakenRows(run, *image, span, tile.top, height, scratch);
            const int64_t parts = shorter.partCount;
            const bool fewer = parts != plan.partCount;
            run.planned->plan = shorter;
            if (fewer && run.options.lifecycle) run.options.lifecycle->expect(parts);
            span = run.planned->plan.part(span.index);
            // The same tile again, on the page as it is now.
            continue;
        }
        const int64_t actual = position.scrollY;

        // The snapshot is the visible area at the page's zoom (the output
        // scale over the screen's), W × s pixels wide.
        const int64_t backing = std::max(gtk_widget_get_scale_factor(GTK_WIDGET(session.webView())), 1);
        run.record(Stage::snapshotStart, {{Metric::rectX, 0},
                                          {Metric::rectY, d(tile.top - actual)},
                                          {Metric::rectWidth, d(plan.width)},
                                          {Metric::rectHeight, d(tile.rows)},
                                          {Metric::snapshotWidth, d(plan.pixelWidth) / d(backing)},
                                          {Metric::backingScale, d(backing)},
                                          {Metric::pixelWidth, d(plan.pixelWidth)},
                                          {Metric::pixelHeight, d(tile.rows * s)}});
        Viewport view = co_await snapshotViewport(session);
        const int64_t textureWidth = view.width;
        const int64_t textureHeight = view.height;
        // The rows of the tile that the snapshot actually holds.
        const int64_t first = std::clamp<int64_t>((tile.top - actual) * s, 0, textureHeight);
        const int64_t last = std::clamp<int64_t>((tile.top - actual + tile.rows) * s, 0, textureHeight);
        run.record(Stage::snapshotTile, {{Metric::imageLogicalWidth, d(textureWidth) / d(backing)},
                                         {Metric::imageLogicalHeight, d(last - first) / d(backing)},
                                         {Metric::actualPixelWidth, d(textureWidth)},
                                         {Metric::actualPixelHeight, d(last - first)},
                                         {Metric::pixelWidth, d(plan.pixelWidth)},
                                         {Metric::pixelHeight, d(tile.rows * s)}});
        const TilePlacement at = plan.place(span, tile, actual, textureWidth, textureHeight);
        const int64_t stride = textureWidth * PixelBuffer::bytesPerPixel;
        run.observed.observeTile(stride, snapshotBitsPerPixel);
        std::function<void()> placed;
        if (at.partRow == placedRows) {
            placedRows += at.rows;
            placed = stream.placed(placedRows);
        } else {
            stream.abandon();
        }
        placer.place(std::move(view), at, std::move(placed));
        top += tile.rows;
    }

    co_await placer.settle();
    checkCancellation();
    session.stage = std::string("結合・保存中");
    co_await checkpoint(run, CaptureOptions::Stage::joining);
    // A page that got shorter ends this part before the bitmap's end; the
    // encoder, given up, has let go of the bitmap before it is cut.
    if (image->height() != span.height * s) {
        stream.abandon();
        co_await stream.finish();
        image->keepRows(span.height * s);
    }
    run.record(Stage::compose);
    run.record(Stage::pngEncode, {{Metric::pixelWidth, d(image->width())}, {Metric::pixelHeight, d(image->height())}});
    std::shared_ptr<const PixelBuffer> composed = std::move(image);
    std::optional<std::vector<uint8_t>> streamed = co_await stream.finish();
    std::vector<uint8_t> png;
    if (streamed) {
        png = std::move(*streamed);
    } else {
        png = co_await BrowserSession::encodePNG(composed);
    }
    ComposedPart part{span, std::move(composed), std::move(png)};
    co_return part;
}

}  // namespace

Task<void> BrowserSession::captureParts(CaptureRun& run, std::filesystem::path output, PartHandOver handOver,
                                        const FreeSpace& freeSpace) {
    std::exception_ptr error;
    try {
        co_await evaluate(CaptureScripts::freeze(run.pageStateKey));
        co_await planParts(run, output, freeSpace);
        // Counted again after each part: a page that got shorter may have
        // lost parts at its end.
        for (int64_t index = 0; index < run.planned->plan.partCount; ++index) {
            const CapturePartSpan span = run.planned->plan.part(index);
            ComposedPart part = co_await capturePart(run, span);
            // Called in a statement of its own: the part is an aggregate, and
            // g++ 12 mishandles one built inside a co_await expression.
            Task<void> handed = handOver(std::move(part));
            co_await std::move(handed);
        }
    } catch (...) {
        error = std::current_exception();
    }
    if (error) {
        co_await run.fail(error);
        std::rethrow_exception(error);
    }
}

}  // namespace velmora
