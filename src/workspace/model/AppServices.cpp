#include "workspace/model/AppServices.hpp"

#include <mutex>

#include "browser/BrowserStores.hpp"
#include "capture/WebCaptureDiagnostic.hpp"
#include "foundation/SecureDirectory.hpp"
#include "history/CaptureHistory.hpp"
#include "webcapture/WebHooks.hpp"

namespace velmora {

AppServices& AppServices::shared() {
    static std::once_flag once;
    static AppServices* instance = nullptr;
    std::call_once(once, [] {
        // Never destroyed: windows, tabs and worker threads may still reach it
        // while the process ends.
        auto* made = new AppServices(AppRuntime::current());
        made->wire();
        instance = made;
    });
    return *instance;
}

AppServices::AppServices(AppRuntime runtimeRoots)
    : runtime(std::move(runtimeRoots)),
      settings(runtime.storage / "settings"),
      access(runtime, &chooser_),
      webStores(std::make_shared<BrowserStores>(runtime)),
      restoration(runtime.storage / "tabs", settings) {}

AppServices::AppServices(AppRuntime runtimeRoots, std::shared_ptr<BrowserStores> stores, FolderChooser* chooser)
    : runtime(std::move(runtimeRoots)),
      settings(runtime.storage / "settings"),
      access(runtime, chooser ? chooser : &chooser_),
      webStores(std::move(stores)),
      restoration(runtime.storage / "tabs", settings) {}

AppServices::~AppServices() = default;

void AppServices::wire() {
    AppHistory::configure({runtime.storage, &settings, &access});
    WebHooks::shared().normalStore = [stores = webStores] { return stores->normal(); };
    WebHooks::shared().logCapture = [this](const WebCaptureDiagnosticReport& report) { logCapture(report); };
}

void AppServices::log(SafeEvent::Stage stage, const UUID& id, std::optional<ErrorCase> error, Date now) noexcept {
    try {
        SecureDirectory logs(runtime.storage / logFolder, true);
        const SafeEvent event{id, stage, now, std::nullopt, error};
        logs.exportData(JSON::encode(event), UUID::random().text(), "json", std::nullopt, nullptr,
                        AppRuntime::isIsolated);
        // While the preferences file cannot be understood the store shows the
        // defaults, and their 30 days would delete events the user chose to
        // keep for longer: nothing is pruned until the file reads again.
        if (settings.readOnly()) return;
        try {
            LogRetention::prune(logs, now, settings.value().logDays);
        } catch (...) {
            // The event is written; old ones stay until a later event prunes.
        }
    } catch (...) {
        // The caller never learns of a logging failure (see the header).
    }
}

void AppServices::logCapture(const WebCaptureDiagnosticReport& report) noexcept {
    WebCaptureDiagnostic::storeLatest(runtime.storage, report);
}

BrowserDownload::Services AppServices::downloadServices() {
    return {&settings, &access, [this](SafeEvent::Stage stage, const UUID& id, std::optional<ErrorCase> error,
                                       Date now) { log(stage, id, error, now); }};
}

}  // namespace velmora
