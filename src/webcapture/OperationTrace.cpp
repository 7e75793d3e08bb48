#include "webcapture/OperationTrace.hpp"

#include <array>
#include <utility>

namespace velmora {

namespace {

using E = OperationTrace::Event;

constexpr std::array<std::pair<E, std::string_view>, 12> eventNames{{
    {E::started, "started"},
    {E::stage, "stage"},
    {E::uiCancel, "uiCancel"},
    {E::cancelRequested, "cancelRequested"},
    {E::cancelUIModel, "cancelUIModel"},
    {E::published, "published"},
    {E::stopped, "stopped"},
    {E::completed, "completed"},
    {E::cancelled, "cancelled"},
    {E::failed, "failed"},
    {E::lateCancel, "lateCancel"},
    {E::otherWindowInput, "otherWindowInput"},
}};

}  // namespace

std::string_view OperationTrace::rawValue(Event e) noexcept {
    for (const auto& [event, name] : eventNames)
        if (event == e) return name;
    return {};
}

std::optional<OperationTrace::Event> OperationTrace::fromRaw(std::string_view raw) noexcept {
    for (const auto& [event, name] : eventNames)
        if (name == raw) return event;
    return std::nullopt;
}

OperationTrace::OperationTrace(const UptimeClock& clock) : clock_(&clock), id_(UUID::random()) {
    event(Event::started);
}

void OperationTrace::event(Event e) {
    if (e == Event::published) ++publishedCount_;
    items_.push_back(Item{clock_->seconds(), e, current_, publishedCount_});
    changed.emit();
}

void OperationTrace::stage(std::string name) {
    if (terminal_) return;
    current_ = std::move(name);
    event(Event::stage);
}

void OperationTrace::end(Event e) {
    if (terminal_) return;
    if (e != Event::completed && e != Event::cancelled && e != Event::failed) return;
    event(Event::stopped);
    event(e);
    terminal_ = true;
}

void OperationTrace::native(NativePrintObservation observation) { nativeItems_.push_back(std::move(observation)); }

void to_json(Json& j, OperationTrace::Event e) { j = std::string(OperationTrace::rawValue(e)); }

void from_json(const Json& j, OperationTrace::Event& e) {
    if (!j.is_string()) throw JSON::DecodeError("event: expected a string");
    auto parsed = OperationTrace::fromRaw(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("event: unknown value \"" + j.get<std::string>() + "\"");
    e = *parsed;
}

void to_json(Json& j, const OperationTrace::Item& item) {
    j = Json{{"time", item.time}, {"event", item.event}, {"stage", item.stage}, {"publishedCount", item.publishedCount}};
}

void from_json(const Json& j, OperationTrace::Item& item) {
    JSON::requireObject(j, "trace item");
    item.time = JSON::requireDouble(j, "time");
    item.event = JSON::require<OperationTrace::Event>(j, "event");
    item.stage = JSON::requireString(j, "stage");
    item.publishedCount = JSON::requireInt(j, "publishedCount");
}

}  // namespace velmora
