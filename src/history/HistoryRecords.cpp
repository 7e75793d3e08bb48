#include "history/HistoryRecords.hpp"

#include "foundation/ProductBrand.hpp"

namespace velmora {

namespace {

constexpr std::array<SavedOutput::State, 6> allStates{
    SavedOutput::State::available, SavedOutput::State::trashed, SavedOutput::State::missing,
    SavedOutput::State::changed,   SavedOutput::State::failed,  SavedOutput::State::pending};

template <typename T>
std::vector<T> requireArray(const Json& j, std::string_view key) {
    const Json& v = JSON::member(j, key);
    if (!v.is_array()) throw JSON::DecodeError("key \"" + std::string(key) + "\": expected an array");
    std::vector<T> out;
    out.reserve(v.size());
    for (const auto& item : v) out.push_back(JSON::decode<T>(item));
    return out;
}

bool present(const Json& j, std::string_view key) {
    auto it = j.find(std::string(key));
    return it != j.end() && !it->is_null();
}

}  // namespace

std::string_view rawValue(SavedOutput::State s) {
    using State = SavedOutput::State;
    switch (s) {
    case State::available: return "available";
    case State::trashed: return "trashed";
    case State::missing: return "missing";
    case State::changed: return "changed";
    case State::failed: return "failed";
    case State::pending: return "pending";
    }
    return "";
}

template <>
std::optional<SavedOutput::State> fromRaw<SavedOutput::State>(std::string_view raw) {
    for (auto s : allStates) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

void to_json(Json& j, SavedOutput::State s) { j = std::string(rawValue(s)); }

void from_json(const Json& j, SavedOutput::State& s) {
    if (!j.is_string()) throw JSON::DecodeError("output state: expected a string");
    auto v = fromRaw<SavedOutput::State>(j.get_ref<const std::string&>());
    if (!v) throw JSON::DecodeError("output state: unknown value \"" + j.get<std::string>() + "\"");
    s = *v;
}

void to_json(Json& j, const SavedOutput& o) {
    j = Json::object();
    j["id"] = o.id;
    j["path"] = o.path;
    j["stamp"] = o.stamp;
    j["state"] = o.state;
    JSON::putOptional(j, "pendingPath", o.pendingPath);
}

void from_json(const Json& j, SavedOutput& o) {
    JSON::requireObject(j, "saved output");
    o.id = JSON::require<UUID>(j, "id");
    o.path = JSON::requireString(j, "path");
    o.stamp = JSON::require<FileStamp>(j, "stamp");
    o.state = JSON::require<SavedOutput::State>(j, "state");
    o.pendingPath.reset();
    if (present(j, "pendingPath")) o.pendingPath = JSON::requireString(j, "pendingPath");
}

Date historyNow() { return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()); }

std::optional<std::string> CaptureHistoryEntry::defaultAppVersion() { return Phase0::version(); }

void to_json(Json& j, const CaptureHistoryEntry& e) {
    j = Json::object();
    j["id"] = e.id;
    j["created"] = e.created;
    j["kind"] = e.kind;
    j["state"] = e.state;
    j["outputs"] = e.outputs;
    JSON::putOptional(j, "error", e.error);
    j["sourceStamps"] = e.sourceStamps;
    JSON::putOptional(j, "metadata", e.metadata);
    JSON::putOptional(j, "schemaVersion", e.schemaVersion);
    JSON::putOptional(j, "appVersion", e.appVersion);
}

void from_json(const Json& j, CaptureHistoryEntry& e) {
    JSON::requireObject(j, "history entry");
    e.id = JSON::require<UUID>(j, "id");
    e.created = JSON::require<Date>(j, "created");
    e.kind = JSON::requireString(j, "kind");
    e.state = JSON::requireString(j, "state");
    e.outputs = requireArray<SavedOutput>(j, "outputs");
    e.error = JSON::optional<ErrorCase>(j, "error");
    e.sourceStamps = requireArray<FileStamp>(j, "sourceStamps");
    e.metadata = JSON::optional<CaptureMetadata>(j, "metadata");
    e.schemaVersion.reset();
    if (present(j, "schemaVersion")) e.schemaVersion = JSON::requireInt(j, "schemaVersion");
    e.appVersion.reset();
    if (present(j, "appVersion")) e.appVersion = JSON::requireString(j, "appVersion");
}

std::vector<uint8_t> encodedEntry(const CaptureHistoryEntry& e) { return JSON::encode(e); }

void to_json(Json& j, const TrashReceipt& r) {
    j = Json::object();
    j["outputID"] = r.outputID;
    j["state"] = r.state;
    JSON::putOptional(j, "destination", r.destination);
    j["destinationContentVerified"] = r.destinationContentVerified;
    JSON::putOptional(j, "errorCode", r.errorCode);
}

void from_json(const Json& j, TrashReceipt& r) {
    JSON::requireObject(j, "trash receipt");
    r.outputID = JSON::require<UUID>(j, "outputID");
    r.state = JSON::require<SavedOutput::State>(j, "state");
    r.destination.reset();
    if (present(j, "destination")) r.destination = JSON::requireString(j, "destination");
    r.destinationContentVerified = JSON::requireBool(j, "destinationContentVerified");
    r.errorCode.reset();
    if (present(j, "errorCode")) r.errorCode = JSON::requireInt(j, "errorCode");
}

}  // namespace velmora
