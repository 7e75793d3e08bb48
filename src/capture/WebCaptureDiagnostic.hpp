#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// The stages of a tall-PNG capture in pipeline order. The raw value is the
// code a failed capture shows the user ("WC-041"); the report stores codes.
enum class WebCaptureDiagnosticStage {
    destination,
    prepare,
    javascript,
    pageMetrics,
    waiting,
    lazyLoad,
    sticky,
    plan,
    scroll,
    snapshotStart,
    snapshotTile,
    compose,
    pngEncode,
    write,
    written,
    receipt,
    history,
    cleanup,
    completed,
};
inline constexpr std::size_t webCaptureDiagnosticStageCount = 19;

std::string_view rawValue(WebCaptureDiagnosticStage stage);
template <>
std::optional<WebCaptureDiagnosticStage> fromRaw<WebCaptureDiagnosticStage>(std::string_view raw);
const std::array<WebCaptureDiagnosticStage, webCaptureDiagnosticStageCount>& allWebCaptureDiagnosticStages();

// The measurements a stage may carry; the raw value (the case name) is the key
// in an event's values. View sizes are points, page lengths CSS pixels, image
// sizes device pixels, flags 1 or 0.
enum class WebCaptureDiagnosticMetric {
    requestedWidth,
    scale,
    boundsWidth,
    boundsHeight,
    visibleWidth,
    visibleHeight,
    attached,
    mainThread,
    backingScale,
    innerWidth,
    clientWidth,
    scrollWidth,
    devicePixelRatio,
    documentHeight,
    viewportHeight,
    partCount,
    budgetBytes,
    estimatedBytes,
    tileY,
    scrollY,
    tileRows,
    rectX,
    rectY,
    rectWidth,
    rectHeight,
    snapshotWidth,
    pixelWidth,
    pixelHeight,
    imageLogicalWidth,
    imageLogicalHeight,
    actualPixelWidth,
    actualPixelHeight,
    outputBytes,
    // The document's height as a tile found it after its scroll, recorded
    // when it differs from the planned documentHeight.
    observedHeight,
    // The content height of an inner element that scrolls in place of a
    // root that does not.
    innerScrollHeight,
    // The transitions and animations that began during the capture's own
    // scrolling and still ran when it stood back at the top; those of them
    // the capture finished itself after its bounded wait.
    runningAnimations,
    finishedAnimations,
    // Seconds the capture waited, back at the top, for what the view shows
    // to hold still (motion the page's own scripts run, which no list of
    // animations holds); recorded when the view moved at all.
    viewStillAfter,
};
inline constexpr std::size_t webCaptureDiagnosticMetricCount = 38;

std::string_view rawValue(WebCaptureDiagnosticMetric metric);
template <>
std::optional<WebCaptureDiagnosticMetric> fromRaw<WebCaptureDiagnosticMetric>(std::string_view raw);
const std::array<WebCaptureDiagnosticMetric, webCaptureDiagnosticMetricCount>& allWebCaptureDiagnosticMetrics();

struct WebCaptureDiagnosticEvent {
    Date date;
    WebCaptureDiagnosticStage stage = WebCaptureDiagnosticStage::prepare;
    // Metric name to value; only finite values are ever stored.
    std::map<std::string, double> values;
    // The element of the page the event is about, as a selector names it
    // (tag, id, classes): the one behind a refusal. Absent for most events.
    std::optional<std::string> element;

    bool operator==(const WebCaptureDiagnosticEvent&) const = default;
};

// Why a capture failed: the stage it was in and up to four links of the
// error chain behind it, each named by the domain a reader of the report
// knows ("WKErrorDomain", "NSPOSIXErrorDomain", "NSCocoaErrorDomain",
// "NSURLErrorDomain" or "other") and a code.
struct WebCaptureDiagnosticFailure {
    struct Code {
        std::string domain;
        int64_t code = 0;

        bool operator==(const Code&) const = default;
    };

    static constexpr std::size_t maximumErrors = 4;

    WebCaptureDiagnosticStage stage = WebCaptureDiagnosticStage::prepare;
    std::vector<Code> errors;
    // Set when the error itself is a BrindlexError.
    std::optional<ErrorCase> appError;

    WebCaptureDiagnosticFailure() = default;
    WebCaptureDiagnosticFailure(WebCaptureDiagnosticStage stage, std::vector<Code> errors,
                                std::optional<ErrorCase> appError = std::nullopt)
        : stage(stage), errors(std::move(errors)), appError(appError) {}
    // Walks the error and the errors behind it (a GLibError's underlying
    // error, a nested exception), stopping at an error already seen, so a
    // cycle ends, and after four entries. A null error gives no entries.
    WebCaptureDiagnosticFailure(WebCaptureDiagnosticStage stage, const std::exception_ptr& error);

    // How one error, on its own, is named in the report.
    static Code code(const std::exception_ptr& error);

    bool operator==(const WebCaptureDiagnosticFailure&) const = default;
};

struct WebCaptureDiagnosticReport {
    UUID id;
    std::string product;
    std::string version;
    std::string build;
    // The key keeps the report format's name; it holds this system's
    // version text (os-release PRETTY_NAME and the kernel release).
    std::string macOS;
    std::vector<WebCaptureDiagnosticEvent> events;
    std::optional<WebCaptureDiagnosticFailure> failure;

    bool operator==(const WebCaptureDiagnosticReport&) const = default;
};

void to_json(Json& j, WebCaptureDiagnosticStage stage);
void from_json(const Json& j, WebCaptureDiagnosticStage& stage);
void to_json(Json& j, const WebCaptureDiagnosticEvent& event);
void from_json(const Json& j, WebCaptureDiagnosticEvent& event);
void to_json(Json& j, const WebCaptureDiagnosticFailure::Code& code);
void from_json(const Json& j, WebCaptureDiagnosticFailure::Code& code);
void to_json(Json& j, const WebCaptureDiagnosticFailure& failure);
void from_json(const Json& j, WebCaptureDiagnosticFailure& failure);
// "failure" is left out while there is none.
void to_json(Json& j, const WebCaptureDiagnosticReport& report);
void from_json(const Json& j, WebCaptureDiagnosticReport& report);

// The diagnostic report of one tall-PNG capture: a timeline of stages with
// measurements, frozen at the first failure. The whole report goes to the
// sink (the application stores it as the latest capture's report) whenever
// the capture enters another stage, fails or completes, and within one stage
// at most once per deliveryInterval: a tall page records several events per
// tile, and handing over the whole report at each would cost time that grows
// with the square of the page's height. The tile loop's scroll, snapshot
// start and snapshot count as one stage. Owned by one capture and used from
// the main thread only; nothing here throws.
class WebCaptureDiagnostic {
public:
    using Sink = std::function<void(const WebCaptureDiagnosticReport&)>;
    using Metrics = std::map<WebCaptureDiagnosticMetric, double>;

    // A long capture records one event per tile; the report keeps the first
    // events (how it began) and the latest ones (where it got to).
    static constexpr std::size_t maximumEvents = 192;
    static constexpr std::size_t keptFirstEvents = 16;
    // The longest a stage's later events wait for the sink.
    static constexpr std::chrono::milliseconds deliveryInterval{250};

    // Version and build come from the build's information dictionary. The
    // sink is not called.
    explicit WebCaptureDiagnostic(Sink sink);
    // The same with another information dictionary and clock, for tests.
    WebCaptureDiagnostic(Sink sink, const Json& infoDictionary, std::function<Date()> now = nullptr);
    WebCaptureDiagnostic(const WebCaptureDiagnostic&) = delete;
    WebCaptureDiagnostic& operator=(const WebCaptureDiagnostic&) = delete;

    const WebCaptureDiagnosticReport& report() const noexcept { return report_; }
    // The last recorded stage, `prepare` before any.
    WebCaptureDiagnosticStage stage() const noexcept { return stage_; }

    // Enters a stage with its measurements, and the element they are about
    // when there is one; values that are not finite are left out. Ignored
    // once the report has a failure.
    void record(WebCaptureDiagnosticStage stage, const Metrics& values = {},
                std::optional<std::string> element = std::nullopt);
    // Records the failure at the current stage; only the first one counts.
    void fail(const std::exception_ptr& error);
    // The report as the shared JSON printer writes it, "" if it cannot.
    std::string text() const;

    // This system's version text: os-release's PRETTY_NAME and the kernel
    // release.
    static std::string systemVersion();

    // Where the latest capture's report is kept: this file in the folder
    // "logs" of the storage root, beside the event log.
    static constexpr const char* logFolder = "logs";
    static constexpr const char* latestFileName = "web-capture-latest.json";
    // The application's sink: opens (creating it when needed) the log folder
    // under storage and replaces the latest report there with the shared
    // encoder's bytes. Every error is dropped: the report describes a
    // capture, and failing to keep it must not change the capture.
    // The report is made durable (synced) only once it is final; before
    // that a crash of the application still leaves the last one written.
    static void storeLatest(const std::filesystem::path& storage, const WebCaptureDiagnosticReport& report) noexcept;
    // Whether the report is its capture's last: it has a failure or its last
    // event is `completed`.
    static bool isFinal(const WebCaptureDiagnosticReport& report) noexcept;

private:
    void deliver();

    WebCaptureDiagnosticReport report_;
    Sink sink_;
    WebCaptureDiagnosticStage stage_ = WebCaptureDiagnosticStage::prepare;
    std::function<Date()> now_;
    // The last delivery's clock and stage; none before the first.
    std::optional<Date> deliveredAt_;
    WebCaptureDiagnosticStage deliveredStage_ = WebCaptureDiagnosticStage::prepare;
};

}  // namespace velmora
