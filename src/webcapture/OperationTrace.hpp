#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sigc++/sigc++.h>

#include "foundation/JSON.hpp"
#include "foundation/UUID.hpp"
#include "foundation/UptimeClock.hpp"
#include "webcapture/NativePrintObservation.hpp"

namespace velmora {

// The in-memory timeline of one save of a tab: when it started, the stages
// it passed, each file it published, cancel requests, and how it ended.
class OperationTrace {
public:
    enum class Event {
        started,
        stage,
        uiCancel,
        cancelRequested,
        cancelUIModel,
        published,
        stopped,
        completed,
        cancelled,
        failed,
        lateCancel,
        otherWindowInput,
    };
    static std::string_view rawValue(Event e) noexcept;
    static std::optional<Event> fromRaw(std::string_view raw) noexcept;

    struct Item {
        double time = 0;  // seconds of uptime when recorded
        Event event = Event::started;
        std::string stage;  // `current` at that moment
        int64_t publishedCount = 0;  // after counting this event

        bool operator==(const Item&) const = default;
    };

    // Records `started` at once; times come from the given clock, which must
    // outlive the trace.
    explicit OperationTrace(const UptimeClock& clock = UptimeClock::system());
    OperationTrace(const OperationTrace&) = delete;
    OperationTrace& operator=(const OperationTrace&) = delete;

    // Emitted after every change of `items`.
    sigc::signal<void()> changed;

    const UUID& id() const noexcept { return id_; }
    const std::vector<Item>& items() const noexcept { return items_; }
    bool terminal() const noexcept { return terminal_; }
    const std::string& current() const noexcept { return current_; }
    int64_t publishedCount() const noexcept { return publishedCount_; }
    const std::vector<NativePrintObservation>& nativeItems() const noexcept { return nativeItems_; }

    // Records one event, also on a terminal trace.
    void event(Event e);
    // Enters a stage; ignored once the trace is terminal.
    void stage(std::string name);
    // Ends the trace with completed, cancelled or failed (recording `stopped`
    // first); anything else, or a second end, does nothing.
    void end(Event e);
    void native(NativePrintObservation observation);

private:
    const UptimeClock* clock_;
    UUID id_;
    std::vector<Item> items_;
    bool terminal_ = false;
    std::string current_ = "initial";
    int64_t publishedCount_ = 0;
    std::vector<NativePrintObservation> nativeItems_;
};

void to_json(Json& j, OperationTrace::Event e);
void from_json(const Json& j, OperationTrace::Event& e);
void to_json(Json& j, const OperationTrace::Item& item);
void from_json(const Json& j, OperationTrace::Item& item);

}  // namespace velmora
