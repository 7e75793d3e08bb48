#include "capture/WebCaptureDiagnostic.hpp"

#include <gio/gio.h>
#include <sys/utsname.h>

#include <cmath>
#include <fstream>
#include <system_error>
#include <utility>

#include "foundation/BuildInfo.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"

namespace velmora {

namespace {

using Stage = WebCaptureDiagnosticStage;
using Metric = WebCaptureDiagnosticMetric;

// The stage as the sink's pace sees it: one tile's scroll, snapshot start and
// snapshot repeat for every tile and count as one.
Stage phase(Stage stage) {
    return stage == Stage::snapshotStart || stage == Stage::snapshotTile ? Stage::scroll : stage;
}

constexpr std::array<std::pair<Stage, std::string_view>, webCaptureDiagnosticStageCount> stageCodes{{
    {Stage::destination, "WC-001"},
    {Stage::prepare, "WC-010"},
    {Stage::javascript, "WC-015"},
    {Stage::pageMetrics, "WC-020"},
    {Stage::waiting, "WC-025"},
    {Stage::lazyLoad, "WC-030"},
    {Stage::sticky, "WC-035"},
    {Stage::plan, "WC-036"},
    {Stage::scroll, "WC-038"},
    {Stage::snapshotStart, "WC-040"},
    {Stage::snapshotTile, "WC-041"},
    {Stage::compose, "WC-050"},
    {Stage::pngEncode, "WC-060"},
    {Stage::write, "WC-070"},
    {Stage::written, "WC-071"},
    {Stage::receipt, "WC-075"},
    {Stage::history, "WC-080"},
    {Stage::cleanup, "WC-090"},
    {Stage::completed, "WC-100"},
}};

constexpr std::array<std::pair<Metric, std::string_view>, webCaptureDiagnosticMetricCount> metricNames{{
    {Metric::requestedWidth, "requestedWidth"},
    {Metric::scale, "scale"},
    {Metric::boundsWidth, "boundsWidth"},
    {Metric::boundsHeight, "boundsHeight"},
    {Metric::visibleWidth, "visibleWidth"},
    {Metric::visibleHeight, "visibleHeight"},
    {Metric::attached, "attached"},
    {Metric::mainThread, "mainThread"},
    {Metric::backingScale, "backingScale"},
    {Metric::innerWidth, "innerWidth"},
    {Metric::clientWidth, "clientWidth"},
    {Metric::scrollWidth, "scrollWidth"},
    {Metric::devicePixelRatio, "devicePixelRatio"},
    {Metric::documentHeight, "documentHeight"},
    {Metric::viewportHeight, "viewportHeight"},
    {Metric::partCount, "partCount"},
    {Metric::budgetBytes, "budgetBytes"},
    {Metric::estimatedBytes, "estimatedBytes"},
    {Metric::tileY, "tileY"},
    {Metric::scrollY, "scrollY"},
    {Metric::tileRows, "tileRows"},
    {Metric::rectX, "rectX"},
    {Metric::rectY, "rectY"},
    {Metric::rectWidth, "rectWidth"},
    {Metric::rectHeight, "rectHeight"},
    {Metric::snapshotWidth, "snapshotWidth"},
    {Metric::pixelWidth, "pixelWidth"},
    {Metric::pixelHeight, "pixelHeight"},
    {Metric::imageLogicalWidth, "imageLogicalWidth"},
    {Metric::imageLogicalHeight, "imageLogicalHeight"},
    {Metric::actualPixelWidth, "actualPixelWidth"},
    {Metric::actualPixelHeight, "actualPixelHeight"},
    {Metric::outputBytes, "outputBytes"},
    {Metric::observedHeight, "observedHeight"},
    {Metric::innerScrollHeight, "innerScrollHeight"},
    {Metric::runningAnimations, "runningAnimations"},
    {Metric::finishedAnimations, "finishedAnimations"},
    {Metric::viewStillAfter, "viewStillAfter"},
}};

// Text that reaches the report must be valid UTF-8, or the whole report
// could not be printed; anything else becomes U+FFFD.
std::string validUTF8(std::string_view text) {
    std::string out;
    for (char32_t c : Unicode::scalars(text)) Unicode::appendScalar(out, c);
    return out;
}

std::string infoString(const Json& info, const char* key) {
    if (info.is_object()) {
        auto it = info.find(key);
        if (it != info.end() && it->is_string()) return validUTF8(it->get_ref<const std::string&>());
    }
    return "unavailable";
}

// A value of an os-release line: shell-style quotes removed, backslash
// escapes resolved.
std::string unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        const char quote = value.front();
        value = value.substr(1, value.size() - 2);
        if (quote == '\'') return std::string(value);
        std::string out;
        for (std::size_t i = 0; i < value.size(); ++i) {
            if (value[i] == '\\' && i + 1 < value.size()) ++i;
            out += value[i];
        }
        return out;
    }
    return std::string(value);
}

std::optional<std::string> prettyName() {
    for (const char* path : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(path);
        if (!in) continue;
        std::string line;
        while (std::getline(in, line)) {
            constexpr std::string_view key = "PRETTY_NAME=";
            if (line.starts_with(key)) {
                std::string value = unquote(std::string_view(line).substr(key.size()));
                if (!value.empty()) return value;
            }
        }
        return std::nullopt;
    }
    return std::nullopt;
}

// The code of an error type that has no number of its own, as a bridged
// error of such a type carries.
constexpr int64_t codelessError = 1;

std::string glibDomain(const GLibError& e) {
    const std::string name = e.domainName();
    if (e.domain() == G_TLS_ERROR || name == "WebKitNetworkError" || name.starts_with("soup-")) {
        return "NSURLErrorDomain";
    }
    if (name.starts_with("WebKit")) return "WKErrorDomain";
    if (e.domain() == G_IO_ERROR) return "NSCocoaErrorDomain";
    return "other";
}

std::exception_ptr nestedOf(const std::exception& e) {
    if (auto* nested = dynamic_cast<const std::nested_exception*>(&e)) return nested->nested_ptr();
    return nullptr;
}

struct Link {
    WebCaptureDiagnosticFailure::Code code;
    std::exception_ptr next;
};

Link link(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const GLibError& e) {
        std::exception_ptr next = e.underlying() ? e.underlying() : nestedOf(e);
        return {{glibDomain(e), e.code()}, next};
    } catch (const BrindlexError& e) {
        return {{"other", static_cast<int64_t>(e.errorCase())}, nestedOf(e)};
    } catch (const std::system_error& e) {
        const auto& category = e.code().category();
        const bool posix = category == std::generic_category() || category == std::system_category();
        return {{posix ? "NSPOSIXErrorDomain" : "other", e.code().value()}, nestedOf(e)};
    } catch (const std::exception& e) {
        return {{"other", codelessError}, nestedOf(e)};
    } catch (...) {
        return {{"other", codelessError}, nullptr};
    }
}

std::optional<ErrorCase> appErrorOf(const std::exception_ptr& error) {
    if (!error) return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const BrindlexError& e) {
        return e.errorCase();
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace

std::string_view rawValue(WebCaptureDiagnosticStage stage) {
    for (const auto& [s, code] : stageCodes)
        if (s == stage) return code;
    return {};
}

template <>
std::optional<WebCaptureDiagnosticStage> fromRaw<WebCaptureDiagnosticStage>(std::string_view raw) {
    for (const auto& [s, code] : stageCodes)
        if (code == raw) return s;
    return std::nullopt;
}

const std::array<WebCaptureDiagnosticStage, webCaptureDiagnosticStageCount>& allWebCaptureDiagnosticStages() {
    static const auto all = [] {
        std::array<Stage, webCaptureDiagnosticStageCount> a{};
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = stageCodes[i].first;
        return a;
    }();
    return all;
}

std::string_view rawValue(WebCaptureDiagnosticMetric metric) {
    for (const auto& [m, name] : metricNames)
        if (m == metric) return name;
    return {};
}

template <>
std::optional<WebCaptureDiagnosticMetric> fromRaw<WebCaptureDiagnosticMetric>(std::string_view raw) {
    for (const auto& [m, name] : metricNames)
        if (name == raw) return m;
    return std::nullopt;
}

const std::array<WebCaptureDiagnosticMetric, webCaptureDiagnosticMetricCount>& allWebCaptureDiagnosticMetrics() {
    static const auto all = [] {
        std::array<Metric, webCaptureDiagnosticMetricCount> a{};
        for (std::size_t i = 0; i < a.size(); ++i) a[i] = metricNames[i].first;
        return a;
    }();
    return all;
}

WebCaptureDiagnosticFailure::WebCaptureDiagnosticFailure(WebCaptureDiagnosticStage stage,
                                                         const std::exception_ptr& error)
    : stage(stage), appError(appErrorOf(error)) {
    std::vector<std::exception_ptr> visited;
    std::exception_ptr current = error;
    while (current && errors.size() < maximumErrors) {
        bool seen = false;
        for (const auto& v : visited) seen = seen || v == current;
        if (seen) break;
        visited.push_back(current);
        Link l = link(current);
        errors.push_back(std::move(l.code));
        current = std::move(l.next);
    }
}

WebCaptureDiagnosticFailure::Code WebCaptureDiagnosticFailure::code(const std::exception_ptr& error) {
    if (!error) return {"other", codelessError};
    return link(error).code;
}

void to_json(Json& j, WebCaptureDiagnosticStage stage) { j = std::string(rawValue(stage)); }

void from_json(const Json& j, WebCaptureDiagnosticStage& stage) {
    if (!j.is_string()) throw JSON::DecodeError("diagnostic stage: expected a string");
    auto parsed = fromRaw<WebCaptureDiagnosticStage>(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("diagnostic stage: unknown code " + j.get<std::string>());
    stage = *parsed;
}

void to_json(Json& j, const WebCaptureDiagnosticEvent& event) {
    j = Json::object();
    j["date"] = event.date;
    j["stage"] = event.stage;
    Json values = Json::object();
    for (const auto& [name, value] : event.values) values[name] = value;
    j["values"] = std::move(values);
    if (event.element) j["element"] = *event.element;
}

void from_json(const Json& j, WebCaptureDiagnosticEvent& event) {
    JSON::requireObject(j, "diagnostic event");
    event.date = JSON::require<Date>(j, "date");
    event.stage = JSON::require<WebCaptureDiagnosticStage>(j, "stage");
    const Json& values = JSON::member(j, "values");
    JSON::requireObject(values, "diagnostic values");
    event.values.clear();
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (!it->is_number()) throw JSON::DecodeError("diagnostic values: expected a number");
        event.values[it.key()] = it->get<double>();
    }
    event.element.reset();
    if (j.contains("element")) event.element = JSON::requireString(j, "element");
}

void to_json(Json& j, const WebCaptureDiagnosticFailure::Code& code) {
    j = Json{{"domain", code.domain}, {"code", code.code}};
}

void from_json(const Json& j, WebCaptureDiagnosticFailure::Code& code) {
    JSON::requireObject(j, "diagnostic error");
    code.domain = JSON::requireString(j, "domain");
    code.code = JSON::requireInt(j, "code");
}

void to_json(Json& j, const WebCaptureDiagnosticFailure& failure) {
    j = Json::object();
    j["stage"] = failure.stage;
    j["errors"] = failure.errors;
    JSON::putOptional(j, "appError", failure.appError);
}

void from_json(const Json& j, WebCaptureDiagnosticFailure& failure) {
    JSON::requireObject(j, "diagnostic failure");
    failure.stage = JSON::require<WebCaptureDiagnosticStage>(j, "stage");
    failure.errors = JSON::require<std::vector<WebCaptureDiagnosticFailure::Code>>(j, "errors");
    failure.appError = JSON::optional<ErrorCase>(j, "appError");
}

void to_json(Json& j, const WebCaptureDiagnosticReport& report) {
    j = Json::object();
    j["id"] = report.id;
    j["product"] = report.product;
    j["version"] = report.version;
    j["build"] = report.build;
    j["macOS"] = report.macOS;
    j["events"] = report.events;
    JSON::putOptional(j, "failure", report.failure);
}

void from_json(const Json& j, WebCaptureDiagnosticReport& report) {
    JSON::requireObject(j, "diagnostic report");
    report.id = JSON::require<UUID>(j, "id");
    report.product = JSON::requireString(j, "product");
    report.version = JSON::requireString(j, "version");
    report.build = JSON::requireString(j, "build");
    report.macOS = JSON::requireString(j, "macOS");
    report.events = JSON::require<std::vector<WebCaptureDiagnosticEvent>>(j, "events");
    report.failure = JSON::optional<WebCaptureDiagnosticFailure>(j, "failure");
}

WebCaptureDiagnostic::WebCaptureDiagnostic(Sink sink)
    : WebCaptureDiagnostic(std::move(sink), BuildInfo::infoDictionary()) {}

WebCaptureDiagnostic::WebCaptureDiagnostic(Sink sink, const Json& infoDictionary, std::function<Date()> now)
    : sink_(std::move(sink)), now_(std::move(now)) {
    if (!now_) now_ = [] { return std::chrono::system_clock::now(); };
    report_.id = UUID::random();
    report_.product = validUTF8(ProductBrand::current().englishIdentifier);
    report_.version = infoString(infoDictionary, "CFBundleShortVersionString");
    report_.build = infoString(infoDictionary, "CFBundleVersion");
    report_.macOS = systemVersion();
}

void WebCaptureDiagnostic::record(WebCaptureDiagnosticStage stage, const Metrics& values,
                                  std::optional<std::string> element) {
    if (report_.failure) return;
    stage_ = stage;
    WebCaptureDiagnosticEvent event;
    event.date = now_();
    event.stage = stage;
    event.element = std::move(element);
    for (const auto& [metric, value] : values) {
        if (std::isfinite(value)) event.values.emplace(std::string(rawValue(metric)), value);
    }
    if (report_.events.size() >= maximumEvents) {
        report_.events.erase(report_.events.begin() + static_cast<std::ptrdiff_t>(keptFirstEvents));
    }
    const Date now = event.date;
    report_.events.push_back(std::move(event));
    // A clock that went back counts as time passed.
    const bool due = !deliveredAt_ || phase(stage) != phase(deliveredStage_) || stage == Stage::completed ||
                     now < *deliveredAt_ || now - *deliveredAt_ >= deliveryInterval;
    if (!due) return;
    deliveredAt_ = now;
    deliveredStage_ = stage;
    deliver();
}

void WebCaptureDiagnostic::fail(const std::exception_ptr& error) {
    if (report_.failure) return;
    report_.failure = WebCaptureDiagnosticFailure(stage_, error);
    deliver();
}

std::string WebCaptureDiagnostic::text() const {
    try {
        return JSON::print(Json(report_));
    } catch (...) {
        // The text is a view of the report for the user; having none is the
        // documented answer when it cannot be printed.
        return "";
    }
}

void WebCaptureDiagnostic::deliver() {
    if (!sink_) return;
    // The sink gets its own copy: it may keep it, and a sink that records
    // into this diagnostic again must not see the report change under it.
    const WebCaptureDiagnosticReport copy = report_;
    try {
        sink_(copy);
    } catch (...) {
        // The report only describes the capture; failing to store it must
        // never change how the capture ends.
    }
}

bool WebCaptureDiagnostic::isFinal(const WebCaptureDiagnosticReport& report) noexcept {
    return report.failure || (!report.events.empty() && report.events.back().stage == Stage::completed);
}

void WebCaptureDiagnostic::storeLatest(const std::filesystem::path& storage,
                                       const WebCaptureDiagnosticReport& report) noexcept {
    try {
        SecureDirectory logs(storage / logFolder, true);
        logs.replaceState(latestFileName, JSON::encode(report), isFinal(report));
    } catch (...) {
        // Dropped on purpose (see the declaration): the previous report, if
        // any, stays whole, as replaceState never leaves half a file.
    }
}

std::string WebCaptureDiagnostic::systemVersion() {
    static const std::string version = [] {
        std::string text = prettyName().value_or("Linux");
        struct utsname names {};
        if (::uname(&names) == 0 && names.release[0] != '\0') text += std::string(" ") + names.release;
        return validUTF8(text);
    }();
    return version;
}

}  // namespace velmora
