#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/CaptureBudget.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/Task.hpp"
#include "capture/CaptureGeometry.hpp"
#include "capture/CaptureMetadata.hpp"
#include "capture/CaptureReceipt.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

namespace velmora {

class CaptureLifecycle;

// The limits and hooks one tall-PNG capture runs with. Every hook is called
// from the capture's task on the main thread; a hook that throws ends the
// capture with its error. The options must outlive the capture that uses
// them, hooks included.
struct CaptureOptions {
    // The capture's progress, announced through `checkpoint`.
    enum class Stage { waiting, scrolling, tile, joining, saving };

    std::shared_ptr<WebCaptureDiagnostic> diagnostic;
    // Output pixels per CSS pixel.
    int64_t scale = 1;
    // Scroll through the page once so lazily loaded content appears.
    bool lazyLoad = true;
    // A fixed wait before capturing, used when automaticWait is off.
    double waitSeconds = 0;
    // Wait for the page's images instead of a fixed time.
    bool automaticWait = true;
    // The one time limit of all waits on the page.
    double maximumSeconds = 60;
    int64_t maximumScrolls = 200;
    // CSS pixels.
    int64_t maximumHeight = 30000;
    // Bytes of memory the plan may use.
    int64_t budget = CaptureBudget::conservativeBytes();
    std::function<Task<void>(Stage)> checkpoint;
    // Once per published file.
    std::function<void(const std::filesystem::path&)> onPublished;
    // The publication journal; each part is announced to it before it is
    // linked into place.
    std::shared_ptr<CaptureLifecycle> lifecycle;
    // Once the outputs are committed.
    std::function<Task<void>()> afterCommit;
    std::optional<std::string> filenameStem;
    std::optional<CaptureMetadata> metadata;
    bool writeReceipt = true;
    // With the receipt once the parts are published; a text it returns is
    // added to the completion notice.
    std::function<Task<std::optional<std::string>>(CaptureReceipt)> completed;
    // CSS pixels; absent means the view's own width.
    std::optional<int64_t> viewportWidth;
    std::function<void(const CaptureGeometry&)> geometryObserved;
};

std::string_view rawValue(CaptureOptions::Stage stage);
template <>
std::optional<CaptureOptions::Stage> fromRaw<CaptureOptions::Stage>(std::string_view raw);

}  // namespace velmora
