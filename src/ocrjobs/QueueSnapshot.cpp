#include "ocrjobs/QueueSnapshot.hpp"

#include <limits>

#include "foundation/Base64.hpp"
#include "foundation/Digest.hpp"

namespace velmora {

namespace {

// Counts come from a file that may have been edited by hand.
int64_t addSaturating(int64_t a, int64_t b) {
    int64_t out = 0;
    if (__builtin_add_overflow(a, b, &out)) return std::numeric_limits<int64_t>::max();
    return out;
}

int64_t countPages(const std::vector<QueueInput>& inputs, PageState state) {
    int64_t n = 0;
    for (const auto& input : inputs) {
        for (const auto& r : input.pages) {
            if (r.state == state) ++n;
        }
    }
    return n;
}

}  // namespace

void to_json(Json& j, const QueueEditorState& s) {
    j = Json::object();
    j["inputID"] = s.inputID;
    j["page"] = s.page;
    j["resultChecksum"] = s.resultChecksum;
    j["decoration"] = s.decoration;
}

void from_json(const Json& j, QueueEditorState& s) {
    JSON::requireObject(j, "editor state");
    s.inputID = JSON::require<UUID>(j, "inputID");
    s.page = JSON::requireInt(j, "page");
    s.resultChecksum = JSON::requireString(j, "resultChecksum");
    // A decoration that breaks its own rules is damagedCheckpoint, thrown by
    // its reader and passed on as it is.
    s.decoration = JSON::require<OCRDecorationState>(j, "decoration");
}

void to_json(Json& j, const QueueExportRecord& r) {
    j = Json::object();
    j["path"] = r.path;
    j["stamp"] = r.stamp;
    j["complete"] = r.complete;
}

void from_json(const Json& j, QueueExportRecord& r) {
    JSON::requireObject(j, "export record");
    r.path = JSON::requireString(j, "path");
    r.stamp = JSON::require<FileStamp>(j, "stamp");
    r.complete = JSON::requireBool(j, "complete");
}

QueueSnapshot::QueueSnapshot(OCRSettings settings, std::vector<QueueInput> inputs)
    : id(UUID::random()),
      created(std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now())),
      settings(std::move(settings)),
      inputs(std::move(inputs)) {}

bool QueueSnapshot::persistent() const {
    for (const auto& input : inputs) {
        if (input.origin == InputOrigin::privateSession) return false;
    }
    return true;
}

int64_t QueueSnapshot::knownPages() const {
    int64_t n = 0;
    for (const auto& input : inputs) {
        if (input.source && input.source->pageCount > 0) n = addSaturating(n, input.source->pageCount);
    }
    return n;
}

int64_t QueueSnapshot::unknownFiles() const {
    int64_t n = 0;
    for (const auto& input : inputs) {
        if (!input.source) ++n;
    }
    return n;
}

int64_t QueueSnapshot::completedPages() const { return countPages(inputs, PageState::completed); }
int64_t QueueSnapshot::failedPages() const { return countPages(inputs, PageState::failed); }

int64_t QueueSnapshot::failedInputs() const {
    int64_t n = 0;
    for (const auto& input : inputs) {
        if (input.status == InputStatus::failed) ++n;
    }
    return n;
}

const QueueInput* QueueSnapshot::input(const UUID& inputID) const {
    for (const auto& input : inputs) {
        if (input.id == inputID) return &input;
    }
    return nullptr;
}

QueueInput* QueueSnapshot::input(const UUID& inputID) {
    return const_cast<QueueInput*>(std::as_const(*this).input(inputID));
}

void to_json(Json& j, const QueueSnapshot& s) {
    j = Json::object();
    j["schemaVersion"] = s.schemaVersion;
    j["id"] = s.id;
    j["created"] = s.created;
    j["settings"] = s.settings;
    j["status"] = s.status;
    j["inputs"] = s.inputs;
    JSON::putOptional(j, "viewStates", s.viewStates);
    JSON::putOptional(j, "editorStates", s.editorStates);
    JSON::putOptional(j, "selectedInput", s.selectedInput);
    JSON::putOptional(j, "selectedPage", s.selectedPage);
    JSON::putOptional(j, "automaticExports", s.automaticExports);
    JSON::putOptional(j, "exportJournal", s.exportJournal);
    JSON::putOptional(j, "journalSequence", s.journalSequence);
}

void from_json(const Json& j, QueueSnapshot& s) {
    JSON::requireObject(j, "queue");
    s.schemaVersion = JSON::requireInt(j, "schemaVersion");
    s.id = JSON::require<UUID>(j, "id");
    s.created = JSON::require<Date>(j, "created");
    s.settings = JSON::require<OCRSettings>(j, "settings");
    s.status = JSON::require<QueueStatus>(j, "status");
    s.inputs = JSON::require<std::vector<QueueInput>>(j, "inputs");
    s.viewStates = JSON::optional<std::map<std::string, QueuePresentation>>(j, "viewStates");
    s.editorStates = JSON::optional<std::map<std::string, QueueEditorState>>(j, "editorStates");
    s.selectedInput = JSON::optional<UUID>(j, "selectedInput");
    if (j.contains("selectedPage") && !j["selectedPage"].is_null()) {
        s.selectedPage = JSON::requireInt(j, "selectedPage");
    } else {
        s.selectedPage.reset();
    }
    s.automaticExports = JSON::optional<std::vector<std::string>>(j, "automaticExports");
    s.exportJournal = JSON::optional<std::map<std::string, QueueExportRecord>>(j, "exportJournal");
    if (j.contains("journalSequence") && !j["journalSequence"].is_null()) {
        const int64_t sequence = JSON::requireInt(j, "journalSequence");
        if (sequence < 0) throw JSON::DecodeError("queue: journalSequence is negative");
        s.journalSequence = static_cast<uint64_t>(sequence);
    } else {
        s.journalSequence.reset();
    }
}

QueueEnvelope QueueEnvelope::seal(const QueueSnapshot& snapshot) {
    QueueEnvelope e;
    e.payload = JSON::encode(snapshot);
    e.sha256 = Digest::data(e.payload);
    return e;
}

bool QueueEnvelope::intact() const { return Digest::data(payload) == sha256; }

void to_json(Json& j, const QueueEnvelope& e) {
    j = Json::object();
    j["payload"] = Base64::encode(e.payload);
    j["sha256"] = e.sha256;
}

void from_json(const Json& j, QueueEnvelope& e) {
    JSON::requireObject(j, "queue envelope");
    auto payload = Base64::decode(JSON::requireString(j, "payload"));
    if (!payload) throw JSON::DecodeError("queue envelope: payload is not Base64");
    e.payload = std::move(*payload);
    e.sha256 = JSON::requireString(j, "sha256");
}

}  // namespace velmora
