#include "webcapture/PrintRun.hpp"

#include <gtk/gtkunixprint.h>

#include <exception>
#include <memory>
#include <utility>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "capture/PrintHeaderFooter.hpp"

namespace velmora::PrintRun {

namespace {

constexpr guint lookupBoundMS = 5000;

// One enumeration of the printers. GTK calls the printer function for each
// printer and the destroy notify once at the end; the bound answers first
// when the backends are slow, and the record stays until the notify.
struct Lookup {
    Resumer<std::optional<std::string>> resumer;
    std::optional<std::string> found;
    guint bound = 0;
};

gboolean onPrinter(GtkPrinter* printer, gpointer data) {
    auto* lookup = static_cast<Lookup*>(data);
    if (gtk_printer_is_virtual(printer) && gtk_printer_accepts_pdf(printer)) {
        lookup->found = gtk_printer_get_name(printer);
        return TRUE;
    }
    return FALSE;
}

void onLookupDone(gpointer data) {
    std::unique_ptr<Lookup> lookup(static_cast<Lookup*>(data));
    if (lookup->bound) g_source_remove(lookup->bound);
    lookup->resumer.resume(lookup->found);
}

gboolean onLookupBound(gpointer data) {
    auto* lookup = static_cast<Lookup*>(data);
    lookup->bound = 0;
    lookup->resumer.resume(std::nullopt);
    return G_SOURCE_REMOVE;
}

// The process's answer once one lookup has found the printer.
std::optional<std::string>& knownPrinter() {
    static std::optional<std::string> name;
    return name;
}

// What the operation's signals report: "failed" comes first, "finished"
// always ends the run. Kept as the operation's data, so it goes with it.
struct SystemRun {
    std::function<void(bool)> done;
    bool failed = false;
};

void onRunFailed(WebKitPrintOperation*, GError*, gpointer data) { static_cast<SystemRun*>(data)->failed = true; }

void onRunFinished(WebKitPrintOperation*, gpointer data) {
    auto* run = static_cast<SystemRun*>(data);
    auto done = std::exchange(run->done, nullptr);
    if (done) done(!run->failed);
}

// GTK's file printer adds every file it prints to the desktop's recent
// files (recently-used.xbel), a scratch file of ours as any other, and the
// entry is added on a later turn, after the job has ended. The addresses
// printed to are taken out of the process's recent-files list as soon as it
// holds them: its "changed" comes with each write of the list, and the
// removal is written on its next one. Only those exact addresses are
// removed, so the user's own entries, file panels' included, stay.
std::vector<std::string>& printedAddresses() {
    static std::vector<std::string> addresses;
    return addresses;
}

// A print that failed before its job ended adds nothing; its address is
// forgotten once this many newer ones wait.
constexpr std::size_t printedAddressesKept = 32;

void forgetPrinted(GtkRecentManager* manager) {
    auto& addresses = printedAddresses();
    std::erase_if(addresses, [manager](const std::string& uri) {
        if (!gtk_recent_manager_has_item(manager, uri.c_str())) return false;
        // A failure leaves the entry; it is tried again on the next change.
        return gtk_recent_manager_remove_item(manager, uri.c_str(), nullptr) == TRUE;
    });
}

void keepOutOfRecentFiles(GObject* operation) {
    GtkPrintSettings* settings = webkit_print_operation_get_print_settings(WEBKIT_PRINT_OPERATION(operation));
    const char* uri = settings ? gtk_print_settings_get(settings, GTK_PRINT_SETTINGS_OUTPUT_URI) : nullptr;
    if (!uri) return;
    GtkRecentManager* manager = gtk_recent_manager_get_default();
    static const gulong connected = g_signal_connect(
        manager, "changed", G_CALLBACK(+[](GtkRecentManager* m, gpointer) { forgetPrinted(m); }), nullptr);
    (void)connected;
    auto& addresses = printedAddresses();
    addresses.emplace_back(uri);
    if (addresses.size() > printedAddressesKept) addresses.erase(addresses.begin());
}

}  // namespace

Task<std::optional<std::string>> pdfPrinterName() {
    if (knownPrinter()) co_return knownPrinter();
    std::optional<std::string> name = co_await awaitCallback<std::optional<std::string>>(
        [](Resumer<std::optional<std::string>> resumer) {
            auto* lookup = new Lookup{std::move(resumer), std::nullopt, 0};
            lookup->bound = g_timeout_add(lookupBoundMS, onLookupBound, lookup);
            gtk_enumerate_printers(onPrinter, lookup, onLookupDone, FALSE);
        });
    if (name) knownPrinter() = name;
    co_return name;
}

GObjectRef<GtkPageSetup> pageSetup(const PrintOptions& options) {
    auto setup = GObjectRef<GtkPageSetup>::adopt(gtk_page_setup_new());
    const Size mm = PrintOptions::millimetres(options.paper);
    GtkPaperSize* paper = gtk_paper_size_new_custom("velmora-print", std::string(rawValue(options.paper)).c_str(),
                                                    mm.width, mm.height, GTK_UNIT_MM);
    gtk_page_setup_set_paper_size(setup.get(), paper);
    gtk_paper_size_free(paper);
    gtk_page_setup_set_orientation(setup.get(),
                                   options.landscape ? GTK_PAGE_ORIENTATION_LANDSCAPE : GTK_PAGE_ORIENTATION_PORTRAIT);
    const double m = PrintHeaderFooter::marginPoints(options.marginMM);
    const double band = options.headerFooter ? headerBand : 0;
    gtk_page_setup_set_top_margin(setup.get(), m + band, GTK_UNIT_POINTS);
    gtk_page_setup_set_bottom_margin(setup.get(), m + band, GTK_UNIT_POINTS);
    gtk_page_setup_set_left_margin(setup.get(), m, GTK_UNIT_POINTS);
    gtk_page_setup_set_right_margin(setup.get(), m, GTK_UNIT_POINTS);
    return setup;
}

GObjectRef<GtkPrintSettings> printSettings(const std::string& printer, const std::filesystem::path& output) {
    auto settings = GObjectRef<GtkPrintSettings>::adopt(gtk_print_settings_new());
    gtk_print_settings_set_printer(settings.get(), printer.c_str());
    gchar* uri = g_filename_to_uri(output.c_str(), nullptr, nullptr);
    if (!uri) raise(ErrorCase::unsafePath);
    gtk_print_settings_set(settings.get(), GTK_PRINT_SETTINGS_OUTPUT_URI, uri);
    g_free(uri);
    gtk_print_settings_set(settings.get(), GTK_PRINT_SETTINGS_OUTPUT_FILE_FORMAT, "pdf");
    return settings;
}

GObjectRef<GObject> prepareOperation(WebKitWebView* view, GtkPageSetup* setup, GtkPrintSettings* settings) {
    auto operation = GObjectRef<GObject>::adopt(G_OBJECT(webkit_print_operation_new(view)));
    webkit_print_operation_set_page_setup(WEBKIT_PRINT_OPERATION(operation.get()), setup);
    webkit_print_operation_set_print_settings(WEBKIT_PRINT_OPERATION(operation.get()), settings);
    return operation;
}

void startOperation(GObject* operation, std::function<void(bool)> done) {
    auto* run = new SystemRun{std::move(done)};
    g_object_set_data_full(operation, "velmora-run", run, [](gpointer p) { delete static_cast<SystemRun*>(p); });
    g_signal_connect(operation, "failed", G_CALLBACK(onRunFailed), run);
    g_signal_connect(operation, "finished", G_CALLBACK(onRunFinished), run);
    keepOutOfRecentFiles(operation);
    webkit_print_operation_print(WEBKIT_PRINT_OPERATION(operation));
}

Task<void> print(WebKitWebView* view, GtkPageSetup* setup, GtkPrintSettings* settings) {
    GObjectRef<GObject> operation = prepareOperation(view, setup, settings);
    const bool ok = co_await awaitCallback<bool>([&operation](Resumer<bool> resumer) {
        startOperation(operation.get(), [resumer](bool success) { resumer.resume(success); });
    });
    if (!ok) raise(ErrorCase::renderFailed);
}

}  // namespace velmora::PrintRun
