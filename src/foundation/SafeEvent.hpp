#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "foundation/BrindlexError.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// One event-log record; the log is one JSON file per event under "logs".
struct SafeEvent {
    enum class Stage { started, pageCommitted, paused, cancelled, completed, failed };

    UUID jobID;
    Stage stage = Stage::started;
    Date date;
    std::optional<int64_t> page;
    std::optional<ErrorCase> error;

    bool operator==(const SafeEvent&) const = default;
};

std::string_view rawValue(SafeEvent::Stage s);
template <>
std::optional<SafeEvent::Stage> fromRaw<SafeEvent::Stage>(std::string_view raw);

void to_json(Json& j, const SafeEvent& e);
void from_json(const Json& j, SafeEvent& e);

// When an event is old enough to go, and deleting such files. Only files that
// are recognisably event files, read and understood, are ever deleted.
namespace LogRetention {

// The supported retention periods; any other number means "keep for ever".
bool supportedDays(int days);
bool expired(Date created, Date now, int days);
// Deletes every expired event file in the folder and returns how many.
// Unsupported days are invalidInput before anything is touched.
int prune(const SecureDirectory& directory, Date now, int days);

}  // namespace LogRetention
}  // namespace velmora
