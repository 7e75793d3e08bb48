#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include "foundation/GObjectRef.hpp"
#include "foundation/Task.hpp"
#include "capture/PrintOptions.hpp"

namespace velmora::PrintRun {

// The web engine's print operation, run without a dialog into a PDF file.
//
// The only printer ever named is the GTK file backend's: the virtual printer
// that accepts PDF, found by enumerating printers (its name is translated).
// Leaving the printer unset, or naming another, would send the page to the
// default, real printer; so no printer found is an error before any print.

// Height of the header band and of the footer band added to the margins
// when a header and footer are stamped.
inline constexpr double headerBand = 32;

// The name of the file printer, looked up once per process without a nested
// main loop; absent when the lookup finds none within 5 s.
Task<std::optional<std::string>> pdfPrinterName();

// The page setup of the options: a custom paper of the options' millimetres,
// the orientation, margin m points on each side (m = the rounded margin),
// top and bottom m + 32 when a header and footer are stamped.
GObjectRef<GtkPageSetup> pageSetup(const PrintOptions& options);

// Print settings that send the job to printer as a PDF file at output.
GObjectRef<GtkPrintSettings> printSettings(const std::string& printer, const std::filesystem::path& output);

// The web engine's print operation of the view, set up.
GObjectRef<GObject> prepareOperation(WebKitWebView* view, GtkPageSetup* setup, GtkPrintSettings* settings);
// Runs it without a dialog and returns at once; done is called once on the
// main thread when it has finished, with whether it succeeded. An operation
// dropped before that never calls done.
void startOperation(GObject* operation, std::function<void(bool)> done);

// Both, awaited: returns once the operation has finished; a reported
// failure is renderFailed.
Task<void> print(WebKitWebView* view, GtkPageSetup* setup, GtkPrintSettings* settings);

}  // namespace velmora::PrintRun
