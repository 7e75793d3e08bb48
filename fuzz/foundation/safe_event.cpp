// One event-log file as the retention clean-up reads it: only a file that is
// recognisably an event, read and understood, and old enough may go.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "foundation/SafeEvent.hpp"
#include "foundation/SecureDirectory.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

namespace {

constexpr const char* eventName = "0A1B2C3D-4E5F-4061-8728-394A5B6C7D8E.json";

// What the clean-up may delete: an object of the five event keys only that
// decodes as an event created before the cut-off.
bool deletable(const std::vector<uint8_t>& bytes, Date now, int days) {
    try {
        const Json j = JSON::parse(bytes);
        if (!j.is_object()) return false;
        static const std::set<std::string> keys{"jobID", "stage", "date", "page", "error"};
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (!keys.contains(it.key())) return false;
        }
        return LogRetention::expired(JSON::decode<SafeEvent>(j).date, now, days);
    } catch (const JSON::DecodeError&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    fuzz::documented("SafeEvent", [&] {
        const SafeEvent e = JSON::decode<SafeEvent>(bytes);
        if (!(JSON::decode<SafeEvent>(JSON::encode(e)) == e)) fuzz::fail("SafeEvent: does not read back as written");
    });

    const auto logs = fuzz::freshFolder("logs");
    fuzz::writeFile(logs / eventName, bytes);
    fuzz::writeFile(logs / "notes.json", bytes);
    const auto before = fuzz::picture(logs);
    const Date now = std::chrono::system_clock::now();
    const int days = 30;
    int removed = -1;
    fuzz::documented("LogRetention::prune", [&] { removed = LogRetention::prune(SecureDirectory(logs, false), now, days); });
    const bool expected = deletable(bytes, now, days);
    if (removed != (expected ? 1 : 0)) fuzz::fail("LogRetention::prune removed the wrong number of files");
    if (!expected) fuzz::requireUnchanged(before, logs, "LogRetention::prune");
    if (!std::filesystem::exists(logs / "notes.json")) fuzz::fail("LogRetention::prune removed a file not named as an event");
    return 0;
}
