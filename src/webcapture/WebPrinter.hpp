#pragma once

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "foundation/GObjectRef.hpp"
#include "foundation/Task.hpp"
#include "capture/PrintOptions.hpp"
#include "webcapture/NativePrintObservation.hpp"

namespace velmora {

class BrowserSession;

// Hands the result of one print run to the save waiting for it, once: the
// first delivery (or failure) takes the continuation, later ones find none
// and do nothing. Main thread only.
class PrintCompletion {
public:
    std::optional<Resumer<bool>> continuation;
    // Told the clock of each delivery that finds a continuation.
    std::function<void(const PrintClock&)> onCompletion;

    void deliver(bool success, const PrintClock& clock);
    // Ends the wait with an error instead (a watchdog, a cancel, a web
    // process that went away); nothing once delivered.
    void fail(std::exception_ptr error);
};

// The platform side of one print, behind a seam: tests run prints that write
// a chosen PDF, report failure or never answer, and lookups that find no
// printer. The system engine is WebKit's print operation on the GTK file
// printer.
struct PrintEngine {
    // The name of the virtual printer that accepts PDF; absent when none.
    std::function<Task<std::optional<std::string>>()> findPrinter;
    // Makes and configures the print operation of the view.
    std::function<GObjectRef<GObject>(WebKitWebView*, GtkPageSetup*, GtkPrintSettings*)> prepare;
    // Starts the operation without a dialog and returns at once; done is
    // called once, on the main thread, with whether it succeeded.
    std::function<void(GObject* operation, std::function<void(bool)> done)> run;
    // A run that has not finished after this long fails.
    std::chrono::milliseconds watchdog{120000};

    static PrintEngine system();
    // The engine every print-style save uses; tests put their own in place.
    static PrintEngine& shared();
};

// The print-style save of a session's page: printed into a private work
// folder, checked against the paper, stamped when asked, and published as a
// PDF, page PNGs or both without overwriting.
//
// Guarantees: the page's print style and the view's background preference
// are put back on every path that changed them; the work folder (scratch and
// stamped PDFs) is finished on every path that made it, and a process killed
// midway leaves it to the launch-time clean-up of print work folders; a
// published file is never removed. Every wait on the engine (scripts, the
// print run) ends on a cancel, and the print run also on its watchdog or on
// the web process going away, so a save always ends.
namespace WebPrinter {

// Returns the published files in order: the PDF first, then the pages.
Task<std::vector<std::filesystem::path>> printPDF(BrowserSession& session, PrintOptions options,
                                                  std::filesystem::path output);

}  // namespace WebPrinter
}  // namespace velmora
