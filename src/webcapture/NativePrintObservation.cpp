#include "webcapture/NativePrintObservation.hpp"

#include <array>
#include <string>
#include <utility>

#include "foundation/UptimeClock.hpp"

namespace velmora {

namespace {

using K = NativePrintObservation::Kind;

constexpr std::array<std::pair<K, std::string_view>, 9> kindNames{{
    {K::factoryBegin, "factoryBegin"},
    {K::factoryReady, "factoryReady"},
    {K::runCallBegin, "runCallBegin"},
    {K::runCallReturned, "runCallReturned"},
    {K::completionCallback, "completionCallback"},
    {K::continuationResumed, "continuationResumed"},
    {K::pdfAvailable, "pdfAvailable"},
    {K::decorationBegin, "decorationBegin"},
    {K::decorationEnd, "decorationEnd"},
}};

constexpr const char* windowNumberKey = "velmora-window-number";

}  // namespace

PrintClock::PrintClock()
    : time(UptimeClock::system().seconds()),
      wallTime(static_cast<double>(g_get_real_time()) / 1e6),
      mainThread(isMainThread()) {}

PrintOperationSettings PrintOperationSettings::fromPrintSettings(GtkPrintSettings* settings,
                                                                 std::string_view filePrinterName) {
    PrintOperationSettings out;
    const char* uri = settings ? gtk_print_settings_get(settings, GTK_PRINT_SETTINGS_OUTPUT_URI) : nullptr;
    const char* printer = settings ? gtk_print_settings_get_printer(settings) : nullptr;
    out.hasSavingURL = uri && *uri;
    out.saveDisposition = out.hasSavingURL && printer && !filePrinterName.empty() && filePrinterName == printer;
    return out;
}

std::string_view NativePrintObservation::rawValue(Kind k) noexcept {
    for (const auto& [kind, name] : kindNames)
        if (kind == k) return name;
    return {};
}

std::optional<NativePrintObservation::Kind> NativePrintObservation::fromRaw(std::string_view raw) noexcept {
    for (const auto& [kind, name] : kindNames)
        if (name == raw) return kind;
    return std::nullopt;
}

NativePrintObservation::NativePrintObservation(Kind kind, GtkWidget* widget,
                                               const std::optional<PrintOperationSettings>& operation,
                                               const PrintClock& clock)
    : kind(kind),
      time(clock.time),
      wallTime(clock.wallTime),
      mainThread(clock.mainThread),
      recordingMainThread(isMainThread()),
      windowNumber(velmora::windowNumber(widget)) {
    if (operation) {
        copyingOperation = operation->copyingOperation;
        canSpawnSeparateThread = operation->canSpawnSeparateThread;
        showsPrintPanel = operation->showsPrintPanel;
        showsProgressPanel = operation->showsProgressPanel;
        saveDisposition = operation->saveDisposition;
        hasSavingURL = operation->hasSavingURL;
    }
}

int64_t windowNumber(GtkWidget* widget) {
    if (!widget) return 0;
    GtkRoot* root = gtk_widget_get_root(widget);
    if (!root) return 0;
    static int64_t next = 1;
    auto* stored = static_cast<int64_t*>(g_object_get_data(G_OBJECT(root), windowNumberKey));
    if (!stored) {
        stored = new int64_t(next++);
        g_object_set_data_full(G_OBJECT(root), windowNumberKey, stored, [](gpointer p) { delete static_cast<int64_t*>(p); });
    }
    return *stored;
}

void to_json(Json& j, NativePrintObservation::Kind k) { j = std::string(NativePrintObservation::rawValue(k)); }

void from_json(const Json& j, NativePrintObservation::Kind& k) {
    if (!j.is_string()) throw JSON::DecodeError("kind: expected a string");
    auto parsed = NativePrintObservation::fromRaw(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("kind: unknown value \"" + j.get<std::string>() + "\"");
    k = *parsed;
}

void to_json(Json& j, const NativePrintObservation& o) {
    j = Json{{"kind", o.kind},
             {"time", o.time},
             {"wallTime", o.wallTime},
             {"mainThread", o.mainThread},
             {"recordingMainThread", o.recordingMainThread},
             {"windowNumber", o.windowNumber}};
    JSON::putOptional(j, "copyingOperation", o.copyingOperation);
    JSON::putOptional(j, "canSpawnSeparateThread", o.canSpawnSeparateThread);
    JSON::putOptional(j, "showsPrintPanel", o.showsPrintPanel);
    JSON::putOptional(j, "showsProgressPanel", o.showsProgressPanel);
    JSON::putOptional(j, "saveDisposition", o.saveDisposition);
    JSON::putOptional(j, "hasSavingURL", o.hasSavingURL);
}

void from_json(const Json& j, NativePrintObservation& o) {
    JSON::requireObject(j, "print observation");
    o.kind = JSON::require<NativePrintObservation::Kind>(j, "kind");
    o.time = JSON::requireDouble(j, "time");
    o.wallTime = JSON::requireDouble(j, "wallTime");
    o.mainThread = JSON::requireBool(j, "mainThread");
    o.recordingMainThread = JSON::requireBool(j, "recordingMainThread");
    o.windowNumber = JSON::requireInt(j, "windowNumber");
    o.copyingOperation = JSON::optional<bool>(j, "copyingOperation");
    o.canSpawnSeparateThread = JSON::optional<bool>(j, "canSpawnSeparateThread");
    o.showsPrintPanel = JSON::optional<bool>(j, "showsPrintPanel");
    o.showsProgressPanel = JSON::optional<bool>(j, "showsProgressPanel");
    o.saveDisposition = JSON::optional<bool>(j, "saveDisposition");
    o.hasSavingURL = JSON::optional<bool>(j, "hasSavingURL");
}

}  // namespace velmora
