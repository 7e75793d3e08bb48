#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include <gtk/gtk.h>

#include "foundation/JSON.hpp"

namespace velmora {

// A time stamp of one step of the platform print run, taken on whichever
// thread the step happened.
struct PrintClock {
    double time;        // seconds of uptime
    double wallTime;    // seconds since 1970-01-01T00:00:00Z
    bool mainThread;    // taken on the main thread

    // Stamps now.
    PrintClock();
    PrintClock(double time, double wallTime, bool mainThread) : time(time), wallTime(wallTime), mainThread(mainThread) {}
};

// What the print operation was set up to do, read from the GTK print
// settings of a web-engine print operation run without a dialog: it never
// copies, spawns no thread of its own and shows neither a print nor a
// progress panel; it saves when the output goes to the file printer and an
// output URI is set.
struct PrintOperationSettings {
    bool copyingOperation = false;
    bool canSpawnSeparateThread = false;
    bool showsPrintPanel = false;
    bool showsProgressPanel = false;
    bool saveDisposition = false;
    bool hasSavingURL = false;

    // filePrinterName is the name under which the GTK file backend offers
    // its printer (it is translated, so the caller looks it up).
    static PrintOperationSettings fromPrintSettings(GtkPrintSettings* settings, std::string_view filePrinterName);
};

// The record of one step of the platform print operation.
struct NativePrintObservation {
    enum class Kind {
        factoryBegin,
        factoryReady,
        runCallBegin,
        runCallReturned,
        completionCallback,
        continuationResumed,
        pdfAvailable,
        decorationBegin,
        decorationEnd,
    };
    static std::string_view rawValue(Kind k) noexcept;
    static std::optional<Kind> fromRaw(std::string_view raw) noexcept;

    Kind kind = Kind::factoryBegin;
    double time = 0;
    double wallTime = 0;
    bool mainThread = false;
    bool recordingMainThread = false;
    int64_t windowNumber = 0;
    // Absent until the print operation exists.
    std::optional<bool> copyingOperation;
    std::optional<bool> canSpawnSeparateThread;
    std::optional<bool> showsPrintPanel;
    std::optional<bool> showsProgressPanel;
    std::optional<bool> saveDisposition;
    std::optional<bool> hasSavingURL;

    NativePrintObservation() = default;
    // widget is the web view (or any widget in its window); the observation
    // is built on the calling thread, the clock may come from another.
    NativePrintObservation(Kind kind, GtkWidget* widget, const std::optional<PrintOperationSettings>& operation,
                           const PrintClock& clock);

    bool operator==(const NativePrintObservation&) const = default;
};

// A process-unique number of the widget's toplevel window, given on first
// use and kept for the window's life; 0 for a widget in no window.
int64_t windowNumber(GtkWidget* widget);

void to_json(Json& j, NativePrintObservation::Kind k);
void from_json(const Json& j, NativePrintObservation::Kind& k);
void to_json(Json& j, const NativePrintObservation& o);
void from_json(const Json& j, NativePrintObservation& o);

}  // namespace velmora
