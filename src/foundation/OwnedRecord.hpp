#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "foundation/FileStamp.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// "owner.json" of a work folder: who made it, for which attempt and purpose,
// and the stamp of every file written there. A file is deleted from a work
// folder only when this record lists it and its stamp still matches.
struct OwnedRecord {
    enum class Purpose { capture, printScratch, exportStage };
    enum class State { active, abandoned, finished };

    int64_t schema = 1;
    std::string creator;
    UUID runID;
    UUID jobID;
    UUID attemptID;
    Purpose purpose = Purpose::capture;
    State state = State::active;
    std::map<std::string, FileStamp> files;
    std::set<std::string> mutableFiles;
    std::optional<std::set<std::string>> publicationPrepared;

    // A record of this application for a new folder.
    static OwnedRecord make(UUID runID, UUID jobID, UUID attemptID, Purpose purpose);

    bool operator==(const OwnedRecord&) const = default;
};

std::string_view rawValue(OwnedRecord::Purpose p);
std::string_view rawValue(OwnedRecord::State s);
template <>
std::optional<OwnedRecord::Purpose> fromRaw<OwnedRecord::Purpose>(std::string_view raw);
template <>
std::optional<OwnedRecord::State> fromRaw<OwnedRecord::State>(std::string_view raw);

void to_json(Json& j, const OwnedRecord& r);
void from_json(const Json& j, OwnedRecord& r);

// The tally of a clean-up run.
struct CleanupResult {
    int64_t examined = 0;
    int64_t removed = 0;
    int64_t protectedCount = 0;  // JSON "protected"
    int64_t blocked = 0;

    bool operator==(const CleanupResult&) const = default;
};

void to_json(Json& j, const CleanupResult& r);
void from_json(const Json& j, CleanupResult& r);

}  // namespace velmora
