#include "foundation/OwnedRecord.hpp"

#include "foundation/ProductBrand.hpp"

namespace velmora {

OwnedRecord OwnedRecord::make(UUID runID, UUID jobID, UUID attemptID, Purpose purpose) {
    OwnedRecord r;
    r.creator = Phase0::bundleID();
    r.runID = runID;
    r.jobID = jobID;
    r.attemptID = attemptID;
    r.purpose = purpose;
    return r;
}

std::string_view rawValue(OwnedRecord::Purpose p) {
    using Purpose = OwnedRecord::Purpose;
    switch (p) {
    case Purpose::capture: return "capture";
    case Purpose::printScratch: return "printScratch";
    case Purpose::exportStage: return "exportStage";
    }
    return "";
}

std::string_view rawValue(OwnedRecord::State s) {
    using State = OwnedRecord::State;
    switch (s) {
    case State::active: return "active";
    case State::abandoned: return "abandoned";
    case State::finished: return "finished";
    }
    return "";
}

template <>
std::optional<OwnedRecord::Purpose> fromRaw<OwnedRecord::Purpose>(std::string_view raw) {
    using Purpose = OwnedRecord::Purpose;
    for (auto p : {Purpose::capture, Purpose::printScratch, Purpose::exportStage}) {
        if (rawValue(p) == raw) return p;
    }
    return std::nullopt;
}

template <>
std::optional<OwnedRecord::State> fromRaw<OwnedRecord::State>(std::string_view raw) {
    using State = OwnedRecord::State;
    for (auto s : {State::active, State::abandoned, State::finished}) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

namespace {

std::set<std::string> stringSet(const Json& j, std::string_view key) {
    if (!j.is_array()) throw JSON::DecodeError("key \"" + std::string(key) + "\": expected an array");
    std::set<std::string> out;
    for (const auto& v : j) {
        if (!v.is_string()) throw JSON::DecodeError("key \"" + std::string(key) + "\": expected strings");
        out.insert(v.get<std::string>());
    }
    return out;
}

}  // namespace

void to_json(Json& j, const OwnedRecord& r) {
    j = Json::object();
    j["schema"] = r.schema;
    j["creator"] = r.creator;
    j["runID"] = r.runID;
    j["jobID"] = r.jobID;
    j["attemptID"] = r.attemptID;
    j["purpose"] = std::string(rawValue(r.purpose));
    j["state"] = std::string(rawValue(r.state));
    Json files = Json::object();
    for (const auto& [name, stamp] : r.files) files[name] = stamp;
    j["files"] = files;
    // std::set iterates in ascending byte order, so equal records give equal bytes.
    j["mutableFiles"] = Json(std::vector<std::string>(r.mutableFiles.begin(), r.mutableFiles.end()));
    if (r.publicationPrepared) {
        j["publicationPrepared"] =
            Json(std::vector<std::string>(r.publicationPrepared->begin(), r.publicationPrepared->end()));
    }
}

void from_json(const Json& j, OwnedRecord& r) {
    JSON::requireObject(j, "owner record");
    r.schema = JSON::requireInt(j, "schema");
    r.creator = JSON::requireString(j, "creator");
    r.runID = JSON::require<UUID>(j, "runID");
    r.jobID = JSON::require<UUID>(j, "jobID");
    r.attemptID = JSON::require<UUID>(j, "attemptID");
    auto purpose = fromRaw<OwnedRecord::Purpose>(JSON::requireString(j, "purpose"));
    if (!purpose) throw JSON::DecodeError("owner record: unknown purpose");
    r.purpose = *purpose;
    auto state = fromRaw<OwnedRecord::State>(JSON::requireString(j, "state"));
    if (!state) throw JSON::DecodeError("owner record: unknown state");
    r.state = *state;
    const Json& files = JSON::member(j, "files");
    if (!files.is_object()) throw JSON::DecodeError("owner record: \"files\" must be an object");
    r.files.clear();
    for (auto it = files.begin(); it != files.end(); ++it) r.files[it.key()] = JSON::decode<FileStamp>(it.value());
    r.mutableFiles = stringSet(JSON::member(j, "mutableFiles"), "mutableFiles");
    r.publicationPrepared.reset();
    if (auto it = j.find("publicationPrepared"); it != j.end()) {
        r.publicationPrepared = stringSet(*it, "publicationPrepared");
    }
}

void to_json(Json& j, const CleanupResult& r) {
    j = Json{{"examined", r.examined}, {"removed", r.removed}, {"protected", r.protectedCount}, {"blocked", r.blocked}};
}

void from_json(const Json& j, CleanupResult& r) {
    r.examined = JSON::requireInt(j, "examined");
    r.removed = JSON::requireInt(j, "removed");
    r.protectedCount = JSON::requireInt(j, "protected");
    r.blocked = JSON::requireInt(j, "blocked");
}

}  // namespace velmora
