#pragma once

#include <functional>

#include <webkit/webkit.h>

namespace velmora {

struct WebCaptureDiagnosticReport;

// What the web session needs from the layers above it (the browser's data
// stores, the application's log), filled by the service container at
// start-up and by tests themselves. Main thread only.
struct WebHooks {
    // The persistent network session of normal tabs; the container keeps
    // it alive for the whole run.
    std::function<WebKitNetworkSession*()> normalStore;
    // The sink of every capture's diagnostic report.
    std::function<void(const WebCaptureDiagnosticReport&)> logCapture;

    static WebHooks& shared();
};

}  // namespace velmora
