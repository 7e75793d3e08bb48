#pragma once

#include <filesystem>
#include <memory>
#include <optional>

#include "browser/BrowserDownload.hpp"
#include "capture/TabRestoration.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/JSON.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SafeEvent.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/UUID.hpp"
#include "gui/GtkFolderChooser.hpp"

namespace velmora {

class BrowserStores;
struct WebCaptureDiagnosticReport;

// The one container of the services every window shares, and the writer of
// the event log. The process has exactly one (shared()); tests make private
// ones on temporary roots. Main thread only, apart from log and logCapture,
// which do their file work on the calling thread.
class AppServices {
public:
    // Made on first use, once even when two threads ask at the same time, from
    // AppRuntime::current(), and then wired into the layers below (the
    // history, the web sessions). The website data stores' errors (the normal
    // store's folders cannot be made safely) pass through, and the next call
    // tries again.
    static AppServices& shared();

    // Builds the services in this order: the runtime, the settings, the
    // output folders, the website data stores, the tab restoration. Wires
    // nothing.
    explicit AppServices(AppRuntime runtime);
    // The same with website data stores already opened (tests share the
    // process's one persistent test store: the engine allows one per folder
    // and process) and, when given, another folder chooser.
    AppServices(AppRuntime runtime, std::shared_ptr<BrowserStores> webStores, FolderChooser* chooser = nullptr);
    AppServices(const AppServices&) = delete;
    AppServices& operator=(const AppServices&) = delete;
    ~AppServices();

    // Points the history and the web sessions' hooks at this instance.
    // shared() does it once; a test instance only when the test asks.
    void wire();

    // One event as one new file under "logs", then the retention of the
    // current preferences. Every failure ends it silently: an event log that
    // cannot be written must never stop the work it describes.
    void log(SafeEvent::Stage stage, const UUID& id, std::optional<ErrorCase> error, Date now) noexcept;
    // Replaces the diagnostic report of the latest capture.
    void logCapture(const WebCaptureDiagnosticReport& report) noexcept;
    // What a browser download uses of these services: the settings, the
    // output folders and this event log.
    BrowserDownload::Services downloadServices();

    static constexpr const char* logFolder = "logs";

private:
    // The output folders ask the user through it; it holds no window.
    GtkFolderChooser chooser_;

public:
    // Declared in the order they are built: C++ initialises members in
    // declaration order, and each may need the ones above it.
    const AppRuntime runtime;
    SettingsStore settings;
    OutputAccess access;
    // Shared with every tab, which keeps the stores alive while it runs.
    const std::shared_ptr<BrowserStores> webStores;
    // The normal tabs' addresses, kept per window for the next launch.
    TabRestoration restoration;
};

}  // namespace velmora
