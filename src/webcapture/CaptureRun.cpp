#include "webcapture/CaptureRun.hpp"

#include "foundation/WorkerBudget.hpp"
#include "capture/CaptureAdmission.hpp"

namespace velmora {

CaptureRun::CaptureRun(BrowserSession& session, CaptureOptions options)
    : session(session), options(std::move(options)) {}

CaptureRun::~CaptureRun() { release(); }

std::string CaptureRun::saveScript() const {
    // The animations running before the capture moves anything: those
    // that start afterwards are the capture's doing.
    //
    // A root that scrolls smoothly would animate every scroll of the
    // capture, so tiles would be taken while the page still moves; one that
    // snaps would pull a tile onto its nearest snap point. Until the restore
    // script has put the page back where it was, the root (and the body
    // that scrolls in its place in quirks mode) scrolls at once and snaps
    // nowhere; its style attribute is kept to be put back after that last
    // scroll.
    return "(()=>{const s=window['" + pageStateKey +
           "']={x:scrollX,y:scrollY,focus:document.activeElement,items:[],scrolling:[],"
           "motion:new Set(document.getAnimations?document.getAnimations():[])};"
           "for(const e of new Set([document.documentElement,document.scrollingElement])){if(!e)continue;"
           "s.scrolling.push([e,e.getAttribute('style')]);"
           "e.style.setProperty('scroll-behavior','auto','important');"
           "e.style.setProperty('scroll-snap-type','none','important')}return true})()";
}

std::string CaptureRun::scrollScript(int64_t y) const {
    return "scrollTo(window['" + pageStateKey + "'].x," + std::to_string(y) + ");true";
}

std::string CaptureRun::topScript() const { return "scrollTo(window['" + pageStateKey + "'].x,0);true"; }

void CaptureRun::record(WebCaptureDiagnosticStage stage, const WebCaptureDiagnostic::Metrics& values,
                        std::optional<std::string> element) const {
    if (diagnostic) diagnostic->record(stage, values, std::move(element));
}

Task<void> CaptureRun::restore() {
    if (!layout) co_return;
    SavedLayout saved = std::move(*layout);
    layout.reset();
    // Without a window there is no window to put back.
    bool keepWindow = !saved.window;
    co_await session.restoreLayout(std::move(saved), keepWindow, restoreScript);
}

void CaptureRun::release() {
    if (counted) {
        counted = false;
        session.busy = false;
        WorkerBudget::shared().capture(-1);
    }
    if (workFolder) {
        try {
            workFolder->finish();
        } catch (...) {
            // What finish could not remove stays recorded in the folder; the
            // next launch's clean-up removes it. The capture's outcome is
            // what gets reported.
        }
        workFolder.reset();
    }
    if (admission) {
        CaptureAdmission::release(*admission);
        admission.reset();
    }
}

Task<void> CaptureRun::fail(std::exception_ptr error) {
    // What the failing step was building goes first: nothing is published
    // from here on, so the output folder and the parts list are done with.
    planned.reset();
    parts.clear();
    // Before the page state is saved nothing on the page has changed and
    // there is nothing to report from it.
    if (layout) {
        if (diagnostic) diagnostic->fail(error);
        co_await restore();
    }
    release();
}

}  // namespace velmora
