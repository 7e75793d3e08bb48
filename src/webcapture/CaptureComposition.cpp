// The middle of a tall-PNG capture: the page's fixed and sticky elements are
// frozen, the parts are planned within the memory budget, and each part is
// taken viewport by viewport into one bitmap and encoded as PNG.
#include "webcapture/CaptureComposition.hpp"

#include <algorithm>
#include <chrono>

#include "foundation/BrindlexError.hpp"
#include "history/CaptureLifecycle.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/CaptureRun.hpp"

namespace velmora {

namespace CaptureScripts {

std::string freeze(const std::string& key) {
    // Sticky records keep only elements with a box: one without (display
    // none or contents) reads as all zeros, cannot be moved, and would make
    // every re-pin after the first scroll fail. Such elements are not drawn,
    // so leaving them is exact.
    return "(()=>{const s=window['" + key +
           "'];const imp='important';const found=[];"
           "for(const e of document.querySelectorAll('*')){const p=getComputedStyle(e).position;"
           "if(p==='fixed'||p==='sticky')found.push([e,p])}"
           "const read=found.map(([e,p])=>({e,p,r:e.getBoundingClientRect(),boxed:e.getClientRects().length>0}));"
           "const anchorX=scrollX,anchorY=scrollY;"
           "const sticky=read.filter(i=>i.p==='sticky'&&i.boxed);"
           "for(const i of read){s.items.push([i.e,i.e.getAttribute('style')]);"
           "i.e.style.setProperty('position',i.p==='fixed'?'absolute':'relative',imp)}"
           "s.freezeSticky=()=>{for(const {e,r} of sticky){"
           "if(!e.isConnected||e.getClientRects().length===0)continue;const st=e.style;"
           "st.setProperty('right','auto',imp);st.setProperty('bottom','auto',imp);"
           "st.setProperty('left','0px',imp);st.setProperty('top','0px',imp);"
           "const base=e.getBoundingClientRect();"
           "st.setProperty('left','1px',imp);const a=e.getBoundingClientRect();st.setProperty('left','0px',imp);"
           "st.setProperty('top','1px',imp);const b=e.getBoundingClientRect();st.setProperty('top','0px',imp);"
           "const ax=a.x-base.x,ay=a.y-base.y,bx=b.x-base.x,by=b.y-base.y;"
           "const dx=r.x+anchorX-scrollX-base.x,dy=r.y+anchorY-scrollY-base.y;const det=ax*by-ay*bx;"
           "if(Math.abs(det)<0.000001){if(Math.abs(dx)+Math.abs(dy)>1)throw new Error('capture-position');continue}"
           "st.setProperty('left',((dx*by-dy*bx)/det)+'px',imp);"
           "st.setProperty('top',((dy*ax-dx*ay)/det)+'px',imp)}};"
           "s.freezeSticky();return true})()";
}

std::string repin(const std::string& key) { return "window['" + key + "'].freezeSticky();true"; }

}  // namespace CaptureScripts

namespace {

using namespace std::chrono_literals;
using Stage = WebCaptureDiagnosticStage;
using Metric = WebCaptureDiagnosticMetric;

// Time for the page to draw at its new scroll position before the re-pin.
constexpr auto settle = 100ms;
constexpr int64_t snapshotBitsPerPixel = 32;

double d(int64_t v) { return static_cast<double>(v); }

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
    const CapturePlan::Inputs inputs{run.geometry.innerWidth, run.options.scale, run.viewportHeight,
                                     height,                  run.options.maximumHeight, run.options.budget};
    run.planned.emplace(planCapture(inputs, run.diagnostic.get(), run.options.lifecycle.get(), output, freeSpace));
}

Task<ComposedPart> capturePart(CaptureRun& run, CapturePartSpan span) {
    BrowserSession& session = run.session;
    const CapturePlan& plan = run.planned->plan;
    const int64_t s = plan.scale;

    run.record(Stage::compose, {{Metric::pixelWidth, d(plan.pixelWidth)}, {Metric::pixelHeight, d(span.height * s)}});
    auto image = std::make_shared<PixelBuffer>(plan.pixelWidth, span.height * s);
    run.observed.canvasBytesPerRow = image->bytesPerRow();

    // A tile that is not the whole snapshot goes through this one buffer.
    std::vector<uint8_t> scratch;
    // Named rather than iterated as a temporary: a temporary's lifetime
    // across suspensions is where coroutine compilers have gone wrong.
    const std::vector<CaptureTile> tiles = plan.tiles(span);
    for (const CaptureTile& tile : tiles) {
        checkCancellation();
        session.stage = "撮影中 " + std::to_string(tile.top) + "/" + std::to_string(plan.documentHeight);
        co_await checkpoint(run, CaptureOptions::Stage::tile);
        run.record(Stage::scroll, {{Metric::tileY, d(tile.top)},
                                   {Metric::scrollY, d(tile.scrollTarget)},
                                   {Metric::tileRows, d(tile.rows)}});
        co_await session.evaluate(run.scrollScript(tile.scrollTarget));
        co_await sleepFor(settle);
        co_await session.evaluate(CaptureScripts::repin(run.pageStateKey));
        const int64_t actual = co_await session.evaluateInteger("scrollY");

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
        GObjectRef<GdkTexture> texture =
            co_await session.snapshot(WEBKIT_SNAPSHOT_REGION_VISIBLE, WEBKIT_SNAPSHOT_OPTIONS_NONE);
        const int64_t textureWidth = gdk_texture_get_width(texture.get());
        const int64_t textureHeight = gdk_texture_get_height(texture.get());
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

        // GDK hands out the texture as premultiplied B, G, R, A bytes, the
        // part bitmap's own layout; a tile that is the whole snapshot goes
        // straight into place.
        if (at.sourceRow == 0 && at.rows == textureHeight) {
            gdk_texture_download(texture.get(), image->row(at.partRow), static_cast<gsize>(stride));
        } else {
            try {
                scratch.resize(static_cast<std::size_t>(stride * textureHeight));
            } catch (const std::bad_alloc&) {
                raise(ErrorCase::budgetExceeded);
            }
            gdk_texture_download(texture.get(), scratch.data(), static_cast<gsize>(stride));
            image->copyRows(at.partRow, scratch.data() + at.sourceRow * stride, static_cast<std::size_t>(stride),
                            at.rows);
        }
    }

    checkCancellation();
    session.stage = std::string("結合・保存中");
    co_await checkpoint(run, CaptureOptions::Stage::joining);
    run.record(Stage::compose);
    run.record(Stage::pngEncode, {{Metric::pixelWidth, d(image->width())}, {Metric::pixelHeight, d(image->height())}});
    std::shared_ptr<const PixelBuffer> composed = std::move(image);
    std::vector<uint8_t> png = co_await BrowserSession::encodePNG(composed);
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
        const std::vector<CapturePartSpan> spans = run.planned->plan.parts();
        for (const CapturePartSpan& span : spans) {
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
