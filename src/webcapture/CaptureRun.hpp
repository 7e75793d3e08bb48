#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/OwnedWorkspace.hpp"
#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"
#include "webcapture/BrowserSession.hpp"
#include "capture/CaptureGeometry.hpp"
#include "capture/CaptureOptions.hpp"
#include "capture/CapturePlan.hpp"
#include "capture/CaptureReceipt.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

namespace velmora {

// The state of one running tall-PNG capture: what it has taken, what it
// saved so the page and the view can be put back, and what it has measured.
// Each stage of the capture adds its own values and leaves the rest to the
// next one. Main thread only; lives inside the capture's task, which its
// session ends before the session goes away.
//
// What is taken is given back in the reverse order of taking: the admission
// first taken is the last released, so no other capture starts while this
// one still restores its page.
class CaptureRun {
public:
    static constexpr const char* markerText = "capture-active";
    // The height the page scrolls through, CSS pixels: that of the scrolling
    // element (the root, or the body in quirks mode). The body's own box can
    // reach above the document (a negative top margin collapsing through it)
    // and so be taller than anything a scroll can show.
    static constexpr const char* heightProbe =
        "(document.scrollingElement||document.documentElement).scrollHeight";
    // The width and height the page lays out and draws in, CSS pixels: the
    // view less a scroll bar that takes room from the layout (a page that
    // styles its scroll bar gets a classic one).
    static constexpr const char* layoutWidthProbe =
        "(document.scrollingElement||document.documentElement).clientWidth";
    static constexpr const char* layoutHeightProbe =
        "(document.scrollingElement||document.documentElement).clientHeight";

    CaptureRun(BrowserSession& session, CaptureOptions options);
    // Gives back whatever is still held (a capture whose task was dropped);
    // the page cannot be restored from here.
    ~CaptureRun();
    CaptureRun(const CaptureRun&) = delete;
    CaptureRun& operator=(const CaptureRun&) = delete;

    BrowserSession& session;
    // The caller's options; their hooks are called from the capture's task.
    CaptureOptions options;
    // The options' diagnostic; none at all in a private session.
    std::shared_ptr<WebCaptureDiagnostic> diagnostic;

    // --- Taken, in this order.
    // The owner with which the capture admission was taken, while held.
    std::optional<UUID> admission;
    // The attempt's owned work folder, with its marker file.
    std::unique_ptr<OwnedWorkspace> workFolder;
    // `busy` set on the session and the capture counted in the worker budget.
    bool counted = false;
    // Set once the page state is saved in the page: from then on an end of
    // the capture restores the layout and the page.
    std::optional<SavedLayout> layout;

    // --- The page state.
    // The property of the page's window that holds the saved scroll
    // position, focus and styles: "__brindlex_" and 32 hexadecimal digits.
    std::string pageStateKey;
    std::string restoreScript;

    // --- Measured by the preparation.
    // CSS pixels.
    int64_t requestedWidth = 0;
    CaptureGeometry geometry;
    // Uptime seconds; every wait on the page counts from it.
    double startTime = 0;
    // CSS pixels.
    double viewportHeight = 0;

    // --- Planned and observed by the tile capture.
    // The parts and the output folder, once the plan passed its checks.
    std::optional<PlannedCapture> planned;
    // The bitmaps' row sizes, for the receipt's memory figures.
    CaptureObservation observed;

    // --- Published, in page order.
    std::vector<CapturePart> parts;

    // The scripts the capture runs on the page state.
    std::string saveScript() const;
    std::string scrollScript(int64_t y) const;
    std::string topScript() const;

    // Records a stage when the capture has a diagnostic, with the element of
    // the page it is about when there is one.
    void record(WebCaptureDiagnosticStage stage, const WebCaptureDiagnostic::Metrics& values = {},
                std::optional<std::string> element = std::nullopt) const;

    // Puts the layout and the page back, once; nothing when the page state
    // was never saved. Never throws.
    Task<void> restore();
    // Gives back what is still held, in this order: `busy`, the worker
    // budget's count, the work folder (finished; its error is ignored), the
    // admission.
    void release();
    // The end of a failed capture: the failure goes to the diagnostic (once
    // the page state was saved), then restore and release. The caller throws
    // the error afterwards.
    Task<void> fail(std::exception_ptr error);
};

}  // namespace velmora
