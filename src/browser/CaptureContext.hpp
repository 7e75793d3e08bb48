#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "browser/BrowserTab.hpp"
#include "capture/CaptureSelection.hpp"
#include "foundation/AppPreferences.hpp"
#include "foundation/Geometry.hpp"
#include "foundation/InputOrigin.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/UUID.hpp"
#include "webcapture/BrowserSession.hpp"

namespace velmora {

// The snapshot of one tab that a window's tall-PNG save starts from. Making
// it is also the save's admission check on the tab: a page that is not
// loaded, still loading or already being saved cannot be captured.
struct CaptureContext {
    UUID windowID;
    UUID tabID;
    std::shared_ptr<BrowserSession> browser;
    InputOrigin origin = InputOrigin::normal;
    // The session's current address, else the view's own.
    std::optional<std::string> url;
    std::string title;
    // The view's bounds in CSS pixels.
    Size size;
    // The width the page is captured at.
    int64_t viewportWidth = 0;
    CaptureSelection settings;
    // The preferences' save mode when the request was made.
    AppPreferences::SaveMode saveMode = AppPreferences::SaveMode::ask;

    // Checks, in this order, the first failure deciding: the selection
    // (invalidInput), a restored page not loaded yet, a view without an
    // address, a page still loading (loadTimeout), a save already running
    // (navigationBusy). Then reads the tab, its view and the settings.
    CaptureContext(UUID windowID, const SettingsStore& settings, BrowserTab& tab, const CaptureSelection& selection);
};

}  // namespace velmora
