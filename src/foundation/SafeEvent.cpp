#include "foundation/SafeEvent.hpp"

#include <fcntl.h>

#include <set>

#include "foundation/FileIO.hpp"

namespace velmora {

std::string_view rawValue(SafeEvent::Stage s) {
    using Stage = SafeEvent::Stage;
    switch (s) {
    case Stage::started: return "started";
    case Stage::pageCommitted: return "pageCommitted";
    case Stage::paused: return "paused";
    case Stage::cancelled: return "cancelled";
    case Stage::completed: return "completed";
    case Stage::failed: return "failed";
    }
    return "";
}

template <>
std::optional<SafeEvent::Stage> fromRaw<SafeEvent::Stage>(std::string_view raw) {
    using Stage = SafeEvent::Stage;
    for (auto s : {Stage::started, Stage::pageCommitted, Stage::paused, Stage::cancelled, Stage::completed,
                   Stage::failed}) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

void to_json(Json& j, const SafeEvent& e) {
    j = Json::object();
    j["jobID"] = e.jobID;
    j["stage"] = std::string(rawValue(e.stage));
    j["date"] = e.date;
    JSON::putOptional(j, "page", e.page);
    JSON::putOptional(j, "error", e.error);
}

void from_json(const Json& j, SafeEvent& e) {
    JSON::requireObject(j, "event");
    e.jobID = JSON::require<UUID>(j, "jobID");
    auto stage = fromRaw<SafeEvent::Stage>(JSON::requireString(j, "stage"));
    if (!stage) throw JSON::DecodeError("event: unknown stage");
    e.stage = *stage;
    e.date = JSON::require<Date>(j, "date");
    e.page.reset();
    if (j.contains("page")) e.page = JSON::requireInt(j, "page");
    e.error = JSON::optional<ErrorCase>(j, "error");
}

namespace LogRetention {

bool supportedDays(int days) { return days == 30 || days == 90 || days == 180 || days == 360; }

bool expired(Date created, Date now, int days) {
    if (!supportedDays(days)) return false;
    return created < now - std::chrono::seconds(static_cast<int64_t>(days) * 86400);
}

namespace {

std::optional<SafeEvent> readEvent(const SecureDirectory& directory, const std::string& name) {
    static const std::set<std::string> allowedKeys{"jobID", "stage", "date", "page", "error"};
    if (!name.ends_with(".json") || !UUID::parse(std::string_view(name).substr(0, name.size() - 5))) {
        return std::nullopt;
    }
    if (!SecureDirectory::validLeaf(name)) return std::nullopt;
    // A FIFO or device named like an event is not an event: it is skipped
    // (and so kept) without waiting on it.
    FileIO::OpenedFile file = FileIO::openRegular(directory.descriptor(), name.c_str());
    if (!file) return std::nullopt;
    try {
        Json j = JSON::parse(FileIO::readAll(file.fd.get()));
        if (!j.is_object()) return std::nullopt;
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (!allowedKeys.count(it.key())) return std::nullopt;
        }
        return JSON::decode<SafeEvent>(j);
    } catch (const JSON::DecodeError&) {
        return std::nullopt;
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

}  // namespace

int prune(const SecureDirectory& directory, Date now, int days) {
    if (!supportedDays(days)) raise(ErrorCase::invalidInput);
    int count = 0;
    for (const auto& name : directory.list()) {
        auto event = readEvent(directory, name);
        if (!event || !expired(event->date, now, days)) continue;
        directory.removeOwnedFile(name);
        count += 1;
    }
    return count;
}

}  // namespace LogRetention
}  // namespace velmora
