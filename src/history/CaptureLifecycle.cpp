#include "history/CaptureLifecycle.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "foundation/ProductBrand.hpp"
#include "history/CaptureHistory.hpp"

namespace velmora {

namespace {

using State = CaptureLifecycle::Journal::State;

constexpr std::array<State, 6> allStates{State::started,   State::publishing, State::completed,
                                         State::cancelled, State::failed,     State::reconciled};

bool sameContent(const FileStamp& a, const FileStamp& b) {
    return a.device == b.device && a.inode == b.inode && a.size == b.size && a.sha256 == b.sha256;
}

}  // namespace

std::string_view rawValue(State s) {
    switch (s) {
    case State::started: return "started";
    case State::publishing: return "publishing";
    case State::completed: return "completed";
    case State::cancelled: return "cancelled";
    case State::failed: return "failed";
    case State::reconciled: return "reconciled";
    }
    return "";
}

template <>
std::optional<State> fromRaw<State>(std::string_view raw) {
    for (auto s : allStates) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

void to_json(Json& j, State s) { j = std::string(rawValue(s)); }

void from_json(const Json& j, State& s) {
    if (!j.is_string()) throw JSON::DecodeError("journal state: expected a string");
    auto v = fromRaw<State>(j.get_ref<const std::string&>());
    if (!v) throw JSON::DecodeError("journal state: unknown value \"" + j.get<std::string>() + "\"");
    s = *v;
}

void to_json(Json& j, const CaptureLifecycle::Journal& r) {
    j = Json::object();
    j["schema"] = r.schema;
    j["creator"] = r.creator;
    j["jobID"] = r.jobID;
    j["attemptID"] = r.attemptID;
    j["launchID"] = r.launchID;
    j["created"] = r.created;
    j["kind"] = r.kind;
    j["state"] = r.state;
    JSON::putOptional(j, "expectedCount", r.expectedCount);
    j["outputs"] = r.outputs;
    JSON::putOptional(j, "error", r.error);
    JSON::putOptional(j, "metadata", r.metadata);
}

void from_json(const Json& j, CaptureLifecycle::Journal& r) {
    JSON::requireObject(j, "capture journal");
    r.schema = JSON::requireInt(j, "schema");
    r.creator = JSON::requireString(j, "creator");
    r.jobID = JSON::require<UUID>(j, "jobID");
    r.attemptID = JSON::require<UUID>(j, "attemptID");
    r.launchID = JSON::require<UUID>(j, "launchID");
    r.created = JSON::require<Date>(j, "created");
    r.kind = JSON::requireString(j, "kind");
    r.state = JSON::require<State>(j, "state");
    r.expectedCount.reset();
    if (auto it = j.find("expectedCount"); it != j.end() && !it->is_null()) {
        r.expectedCount = JSON::requireInt(j, "expectedCount");
    }
    const Json& outputs = JSON::member(j, "outputs");
    if (!outputs.is_array()) throw JSON::DecodeError("key \"outputs\": expected an array");
    r.outputs.clear();
    for (const auto& o : outputs) r.outputs.push_back(JSON::decode<SavedOutput>(o));
    r.error = JSON::optional<ErrorCase>(j, "error");
    r.metadata = JSON::optional<CaptureMetadata>(j, "metadata");
}

void to_json(Json& j, const CaptureLifecycle::Recovery& r) {
    j = Json::object();
    j["recovered"] = r.recovered;
    j["active"] = r.active;
    j["retained"] = r.retained;
    j["alreadyReconciled"] = r.alreadyReconciled;
}

void from_json(const Json& j, CaptureLifecycle::Recovery& r) {
    JSON::requireObject(j, "recovery");
    r.recovered = JSON::requireInt(j, "recovered");
    r.active = JSON::requireInt(j, "active");
    r.retained = JSON::requireInt(j, "retained");
    r.alreadyReconciled = JSON::requireInt(j, "alreadyReconciled");
}

namespace {

CaptureLifecycle::Journal newJournal(std::string kind, std::optional<CaptureMetadata> metadata) {
    if (kind != "capture" && kind != "print") raise(ErrorCase::invalidInput);
    CaptureLifecycle::Journal j;
    j.creator = Phase0::bundleID();
    j.jobID = UUID::random();
    j.attemptID = UUID::random();
    j.launchID = CaptureLifecycle::launchID();
    j.created = historyNow();
    j.kind = std::move(kind);
    j.metadata = std::move(metadata);
    return j;
}

}  // namespace

CaptureLifecycle::CaptureLifecycle(const std::filesystem::path& root, std::string kind,
                                   std::optional<CaptureMetadata> metadata)
    : journal_(newJournal(std::move(kind), std::move(metadata))),
      directory_(root / journal_.attemptID.text(), true) {
    lease_.emplace(directory_, leaseName, true);
    write();
}

UUID CaptureLifecycle::launchID() {
    static const UUID id = UUID::random();
    return id;
}

void CaptureLifecycle::write() { directory_.replaceState(journalName, JSON::encode(journal_)); }

void CaptureLifecycle::metadata(std::optional<CaptureMetadata> metadata) {
    journal_.metadata = std::move(metadata);
    write();
}

void CaptureLifecycle::expect(int64_t count) {
    if (count < 1) raise(ErrorCase::invalidInput);
    journal_.expectedCount = count;
    write();
}

void CaptureLifecycle::prepare(const std::filesystem::path& url, const FileStamp& stamp) {
    if (journal_.state != State::started && journal_.state != State::publishing) raise(ErrorCase::damagedCheckpoint);
    // A publication that found its name taken tries the next name with the
    // same file: only the last name counts.
    std::erase_if(journal_.outputs, [&](const SavedOutput& o) {
        return o.stamp.device == stamp.device && o.stamp.inode == stamp.inode;
    });
    SavedOutput output;
    output.path = url.string();
    output.stamp = stamp;
    journal_.outputs.push_back(std::move(output));
    journal_.state = State::publishing;
    write();
}

void CaptureLifecycle::finish(CaptureHistory& history, std::optional<ErrorCase> error) {
    journal_.error = error;
    journal_.state = !error ? State::completed : *error == ErrorCase::cancelled ? State::cancelled : State::failed;
    write();
    // An attempt that never came to publish a file (a page refused or failed
    // before its first output) saved nothing: the history lists what was
    // saved, and a row for it would name no page and no file.
    if (!journal_.outputs.empty()) history.reconcile(historyEntry(journal_));
    journal_.state = State::reconciled;
    write();
    lease_.reset();
}

CaptureHistoryEntry CaptureLifecycle::historyEntry(const Journal& journal) {
    std::vector<SavedOutput> kept;
    for (const auto& output : journal.outputs) {
        struct stat st {};
        if (::stat(output.path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) continue;
        const FileStamp current = FileStamp::read(output.path);
        // A name is recorded just before each try to publish under it, and a
        // try fails when the name is taken. Another file under the name is
        // therefore not ours: that try never published, or ours was replaced
        // since. Holding the whole attempt back for it would leave the files
        // it did publish out of the history.
        if (current.device != output.stamp.device || current.inode != output.stamp.inode) continue;
        // Publication leaves one link, or two while the staged copy is not yet
        // removed; any other count means someone else linked the file.
        if (!sameContent(current, output.stamp) || (current.links != 1 && current.links != 2)) {
            raise(ErrorCase::confirmationChanged);
        }
        SavedOutput o = output;
        o.stamp = current;
        kept.push_back(std::move(o));
    }
    const bool complete = journal.expectedCount && *journal.expectedCount == static_cast<int64_t>(kept.size()) &&
                          !kept.empty();
    CaptureHistoryEntry entry;
    entry.id = journal.attemptID;
    entry.created = journal.created;
    entry.kind = journal.kind;
    if (complete) {
        entry.state = "completed";
        entry.metadata = journal.metadata;
    } else {
        entry.state = journal.state == State::cancelled ? "cancelled" : kept.empty() ? "interrupted" : "partial";
        entry.error = journal.error.value_or(ErrorCase::interruptedSave);
    }
    entry.outputs = std::move(kept);
    return entry;
}

CaptureLifecycle::Recovery CaptureLifecycle::recover(const std::filesystem::path& root, CaptureHistory& history) {
    SecureDirectory rootDir(root, true);
    std::vector<std::string> names = rootDir.list();
    std::sort(names.begin(), names.end());
    Recovery counts;
    for (const auto& name : names) {
        try {
            const auto attempt = UUID::parse(name);
            if (!attempt) {
                ++counts.retained;
                continue;
            }
            SecureDirectory folder(root / name, false);
            StateLease lease(folder, leaseName, false);
            const std::vector<uint8_t> first = folder.read(journalName);
            Journal journal = JSON::decode<Journal>(first);
            if (journal.schema != 1 || journal.creator != Phase0::bundleID() || journal.attemptID != *attempt ||
                (journal.kind != "capture" && journal.kind != "print")) {
                raise(ErrorCase::damagedCheckpoint);
            }
            // Nothing recorded, nothing published: there is nothing to put
            // into the history, and no notice should say that there was.
            if (journal.state == State::reconciled || journal.outputs.empty()) {
                if (journal.state != State::reconciled) {
                    journal.state = State::reconciled;
                    folder.replaceState(journalName, JSON::encode(journal));
                }
                ++counts.alreadyReconciled;
                continue;
            }
            const CaptureHistoryEntry entry = historyEntry(journal);
            if (folder.read(journalName) != first) raise(ErrorCase::confirmationChanged);
            history.reconcile(entry);
            journal.state = State::reconciled;
            folder.replaceState(journalName, JSON::encode(journal));
            ++counts.recovered;
        } catch (const BrindlexError& e) {
            if (e.errorCase() == ErrorCase::navigationBusy) ++counts.active;
            else ++counts.retained;
        } catch (const std::exception&) {
            // Whatever cannot be read or understood stays as it is, counted,
            // for the user to look at; it never stops the other folders.
            ++counts.retained;
        }
    }
    return counts;
}

namespace HistoryLaunch {

std::optional<CaptureLifecycle::Recovery> run(const std::filesystem::path& lifecycleRoot) {
    auto& notice = AppHistory::startupNotice();
    std::unique_ptr<CaptureHistory> history;
    CaptureLifecycle::Recovery counts;
    try {
        history = AppHistory::required();
        counts = CaptureLifecycle::recover(lifecycleRoot, *history);
    } catch (...) {
        // The journals stay where they are; the notice says so.
        notice.set(AppHistory::recoveryFailedNotice);
        return std::nullopt;
    }
    if (counts.retained >= 1) notice.set(AppHistory::retainedNotice);
    else if (counts.recovered >= 1) notice.set(AppHistory::recoveredNotice);
    try {
        // Files a trash run left in a holding folder go back to their place
        // now, before any window can start another run.
        history->restorePending();
    } catch (...) {
        // What could not be moved back stays held and recorded as pending.
        notice.set(AppHistory::recoveryFailedNotice);
    }
    return counts;
}

}  // namespace HistoryLaunch

}  // namespace velmora
