#include "ocrjobs/Checkpoint.hpp"

#include "foundation/Base64.hpp"
#include "foundation/Digest.hpp"
#include "foundation/SecureDirectory.hpp"

namespace velmora {

std::string_view rawValue(PageState s) {
    switch (s) {
    case PageState::pending: return "pending";
    case PageState::inProgress: return "inProgress";
    case PageState::completed: return "completed";
    case PageState::failed: return "failed";
    case PageState::cancelled: return "cancelled";
    }
    return "";
}

std::string_view displayName(PageState s) {
    switch (s) {
    case PageState::pending: return "未処理";
    case PageState::inProgress: return "処理中";
    case PageState::completed: return "成功";
    case PageState::failed: return "失敗";
    case PageState::cancelled: return "スキップ";
    }
    return "";
}

template <>
std::optional<PageState> fromRaw<PageState>(std::string_view raw) {
    for (auto s : {PageState::pending, PageState::inProgress, PageState::completed, PageState::failed,
                   PageState::cancelled}) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

void to_json(Json& j, PageState s) { j = std::string(rawValue(s)); }

void from_json(const Json& j, PageState& s) {
    if (!j.is_string()) throw JSON::DecodeError("page state: expected a string");
    auto parsed = fromRaw<PageState>(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("page state: unknown value " + j.get<std::string>());
    s = *parsed;
}

void to_json(Json& j, const PageRecord& r) {
    j = Json::object();
    j["page"] = r.page;
    j["state"] = r.state;
    JSON::putOptional(j, "resultFile", r.resultFile);
    JSON::putOptional(j, "checksum", r.checksum);
    JSON::putOptional(j, "error", r.error);
    JSON::putOptional(j, "priorFailures", r.priorFailures);
}

void from_json(const Json& j, PageRecord& r) {
    JSON::requireObject(j, "page record");
    r.page = JSON::requireInt(j, "page");
    r.state = JSON::require<PageState>(j, "state");
    r.resultFile = JSON::optional<std::string>(j, "resultFile");
    r.checksum = JSON::optional<std::string>(j, "checksum");
    r.error = JSON::optional<ErrorCase>(j, "error");
    r.priorFailures = JSON::optional<std::vector<ErrorCase>>(j, "priorFailures");
}

void to_json(Json& j, const Checkpoint& c) {
    j = Json::object();
    j["schemaVersion"] = c.schemaVersion;
    j["jobID"] = c.jobID;
    j["attemptID"] = c.attemptID;
    j["created"] = c.created;
    j["updated"] = c.updated;
    j["source"] = c.source;
    j["settings"] = c.settings;
    j["dictionaryHash"] = c.dictionaryHash;
    j["pages"] = c.pages;
}

void from_json(const Json& j, Checkpoint& c) {
    JSON::requireObject(j, "checkpoint");
    c.schemaVersion = JSON::requireInt(j, "schemaVersion");
    c.jobID = JSON::require<UUID>(j, "jobID");
    c.attemptID = JSON::require<UUID>(j, "attemptID");
    c.created = JSON::require<Date>(j, "created");
    c.updated = JSON::require<Date>(j, "updated");
    c.source = JSON::require<SourceIdentity>(j, "source");
    c.settings = JSON::require<OCRSettings>(j, "settings");
    c.dictionaryHash = JSON::requireString(j, "dictionaryHash");
    c.pages = JSON::require<std::vector<PageRecord>>(j, "pages");
}

CheckpointEnvelope CheckpointEnvelope::seal(const Checkpoint& checkpoint) {
    CheckpointEnvelope e;
    e.payload = JSON::encode(checkpoint);
    e.sha256 = Digest::data(e.payload);
    return e;
}

const std::vector<uint8_t>& CheckpointEnvelope::verifiedPayload() const {
    if (Digest::data(payload) != sha256) raise(ErrorCase::damagedCheckpoint);
    return payload;
}

Checkpoint CheckpointEnvelope::open() const {
    const auto& bytes = verifiedPayload();
    try {
        return JSON::decode<Checkpoint>(bytes);
    } catch (const JSON::DecodeError&) {
        // What is wrong inside does not matter to the caller: the job cannot
        // be trusted, whatever the detail.
        raise(ErrorCase::damagedCheckpoint);
    }
}

void to_json(Json& j, const CheckpointEnvelope& e) {
    j = Json::object();
    j["payload"] = Base64::encode(e.payload);
    j["sha256"] = e.sha256;
}

void from_json(const Json& j, CheckpointEnvelope& e) {
    JSON::requireObject(j, "checkpoint envelope");
    auto payload = Base64::decode(JSON::requireString(j, "payload"));
    if (!payload) throw JSON::DecodeError("checkpoint envelope: payload is not Base64");
    e.payload = std::move(*payload);
    e.sha256 = JSON::requireString(j, "sha256");
}

namespace CheckpointFile {

std::string pageFileName(int64_t page) { return "page-" + std::to_string(page) + ".json"; }

void write(const SecureDirectory& folder, const Checkpoint& checkpoint) {
    folder.replaceState(name, JSON::encode(CheckpointEnvelope::seal(checkpoint)));
}

Checkpoint read(const SecureDirectory& folder) {
    const std::vector<uint8_t> bytes = folder.read(name);
    CheckpointEnvelope envelope;
    try {
        envelope = JSON::decode<CheckpointEnvelope>(bytes);
    } catch (const JSON::DecodeError&) {
        raise(ErrorCase::damagedCheckpoint);
    }
    return envelope.open();
}

}  // namespace CheckpointFile
}  // namespace velmora
