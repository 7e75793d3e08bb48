#include "history/CaptureHistory.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <mutex>

#include "foundation/FileIO.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"

namespace velmora {

namespace {

std::string standardized(const std::filesystem::path& p) {
    std::string s = p.lexically_normal().string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::vector<CaptureHistoryEntry> decodeEntries(const Json& array) {
    std::vector<CaptureHistoryEntry> out;
    out.reserve(array.size());
    for (const auto& item : array) out.push_back(JSON::decode<CaptureHistoryEntry>(item));
    return out;
}

Json envelope(const std::vector<CaptureHistoryEntry>& entries) {
    Json j = Json::object();
    j["schemaVersion"] = 1;
    j["entries"] = entries;
    return j;
}

bool sameFile(const FileStamp& a, const FileStamp& b) { return a.device == b.device && a.inode == b.inode; }

}  // namespace

bool isKnownKind(std::string_view kind) { return kind == "capture" || kind == "print" || kind == "ocr"; }

bool hasPendingOutput(const CaptureHistoryEntry& entry) {
    for (const auto& o : entry.outputs) {
        if (o.state == SavedOutput::State::pending) return true;
    }
    return false;
}

CaptureHistory::CaptureHistory(const std::filesystem::path& directory, std::vector<std::filesystem::path> outputRoots)
    : directory_(directory, true), outputRoots_(std::move(outputRoots)) {}

bool CaptureHistory::contains(const std::vector<std::filesystem::path>& roots, const std::filesystem::path& path) {
    if (!path.is_absolute()) return false;
    const std::string candidate = standardized(path);
    for (const auto& root : roots) {
        if (!root.is_absolute()) continue;
        const std::string prefix = standardized(root) + "/";
        if (candidate.size() > prefix.size() && candidate.compare(0, prefix.size(), prefix) == 0) return true;
    }
    return false;
}

void CaptureHistory::locked(const std::function<void()>& body) const {
    UniqueFD fd(::openat(directory_.descriptor(), lockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) raise(ErrorCase::saveFailed);
    // Blocks for as long as another operation, in any process, holds it.
    while (::flock(fd.get(), LOCK_EX) != 0) {
        if (errno != EINTR) raise(ErrorCase::saveFailed);
    }
    struct Unlock {
        int fd;
        ~Unlock() { ::flock(fd, LOCK_UN); }
    } unlock{fd.get()};
    body();
}

std::vector<CaptureHistoryEntry> CaptureHistory::load() const {
    struct stat st {};
    if (::fstatat(directory_.descriptor(), fileName, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) return {};
    const std::vector<uint8_t> bytes = directory_.read(fileName);
    const Json j = JSON::parse(bytes);
    if (j.is_array()) {
        // A file from before the envelope: keep its bytes once, then store
        // the same entries in the current form.
        std::vector<CaptureHistoryEntry> entries = decodeEntries(j);
        directory_.exportData(bytes, migrationStem, "json", std::nullopt, nullptr, AppRuntime::isIsolated);
        save(entries);
        return entries;
    }
    JSON::requireObject(j, "history");
    if (JSON::requireInt(j, "schemaVersion") != 1) raise(ErrorCase::damagedCheckpoint);
    const Json& list = JSON::member(j, "entries");
    if (!list.is_array()) throw JSON::DecodeError("key \"entries\": expected an array");
    return decodeEntries(list);
}

void CaptureHistory::save(const std::vector<CaptureHistoryEntry>& entries) const {
    directory_.replaceState(fileName, JSON::bytes(envelope(entries)));
}

FileStamp CaptureHistory::stampInside(const std::filesystem::path& path, ErrorCase outsideError) const {
    if (!contains(outputRoots_, path)) raise(outsideError);
    SecureDirectory parent(path.parent_path(), AppRuntime::isIsolated);
    return parent.stamp(path.filename().string());
}

std::vector<CaptureHistoryEntry> CaptureHistory::entries() {
    std::vector<CaptureHistoryEntry> out;
    locked([&] { out = load(); });
    return out;
}

void CaptureHistory::reconcile(const CaptureHistoryEntry& entry) {
    if (!isKnownKind(entry.kind)) raise(ErrorCase::invalidInput);
    // Hashing happens before the lock, so large outputs do not hold it.
    for (const auto& output : entry.outputs) {
        if (stampInside(output.path, ErrorCase::confirmationChanged) != output.stamp) {
            raise(ErrorCase::confirmationChanged);
        }
    }
    locked([&] {
        auto entries = load();
        for (const auto& stored : entries) {
            if (stored.id != entry.id) continue;
            if (stored.kind == entry.kind) return;
            raise(ErrorCase::damagedCheckpoint);
        }
        entries.push_back(entry);
        save(entries);
    });
}

void CaptureHistory::registerOutputs(const std::vector<std::filesystem::path>& outputs, std::string_view kind,
                                     bool privateSession, std::optional<ErrorCase> error,
                                     const std::vector<std::filesystem::path>& sourceURLs) {
    if (privateSession) return;
    if (!isKnownKind(kind)) raise(ErrorCase::invalidInput);
    std::vector<FileStamp> sources;
    for (const auto& url : sourceURLs) {
        if (!url.is_absolute() || !url.has_filename()) raise(ErrorCase::unsafePath);
        SecureDirectory parent(url.parent_path(), AppRuntime::isIsolated);
        sources.push_back(parent.stamp(url.filename().string()));
    }
    std::vector<SavedOutput> saved;
    for (const auto& url : outputs) {
        FileStamp stamp = stampInside(url, ErrorCase::unsafePath);
        if (stamp.links != 1) raise(ErrorCase::unsafePath);
        for (const auto& s : sources) {
            if (sameFile(s, stamp)) raise(ErrorCase::unsafePath);
        }
        SavedOutput o;
        o.path = url.string();
        o.stamp = std::move(stamp);
        saved.push_back(std::move(o));
    }
    CaptureHistoryEntry entry;
    entry.kind = std::string(kind);
    entry.state = !error ? "completed" : *error == ErrorCase::cancelled ? "cancelled" : "failed";
    entry.outputs = std::move(saved);
    entry.error = error;
    entry.sourceStamps = std::move(sources);
    locked([&] {
        auto entries = load();
        entries.push_back(std::move(entry));
        save(entries);
    });
}

void CaptureHistory::pruneReferences(Date before) {
    locked([&] {
        auto entries = load();
        const std::size_t count = entries.size();
        std::erase_if(entries, [&](const CaptureHistoryEntry& e) { return e.created < before && !hasPendingOutput(e); });
        if (entries.size() != count) save(entries);
    });
}

bool CaptureHistory::removeReference(UUID id) {
    bool gone = true;
    locked([&] {
        auto entries = load();
        std::erase_if(entries, [&](const CaptureHistoryEntry& e) { return e.id == id && !hasPendingOutput(e); });
        for (const auto& e : entries) {
            if (e.id == id) gone = false;
        }
        save(entries);
    });
    return gone;
}

void CaptureHistory::removeAllReferences() {
    locked([&] {
        auto entries = load();
        std::erase_if(entries, [](const CaptureHistoryEntry& e) { return !hasPendingOutput(e); });
        save(entries);
    });
}

namespace AppHistory {

namespace {

std::mutex& configurationMutex() {
    static std::mutex m;
    return m;
}

std::optional<Environment>& configuration() {
    static std::optional<Environment> env;
    return env;
}

std::optional<Environment> currentEnvironment() {
    std::lock_guard lock(configurationMutex());
    return configuration();
}

void setEnvironment(std::optional<Environment> env) {
    std::lock_guard lock(configurationMutex());
    configuration() = std::move(env);
}

}  // namespace

void configure(Environment environment) {
    if (!environment.storage.is_absolute() || !environment.settings || !environment.roots) {
        raise(ErrorCase::invalidInput);
    }
    setEnvironment(std::move(environment));
}

void clearConfiguration() { setEnvironment(std::nullopt); }

std::unique_ptr<CaptureHistory> required() {
    const auto env = currentEnvironment();
    if (!env) raise(ErrorCase::accessDenied);
    auto history = std::make_unique<CaptureHistory>(env->storage / "history", env->roots->authorizedRoots());
    const int64_t days = env->settings->value().historyDays;
    if (days > 0) history->pruneReferences(std::chrono::system_clock::now() - std::chrono::seconds(days * 86400));
    return history;
}

std::unique_ptr<CaptureHistory> store() {
    try {
        return required();
    } catch (...) {
        // Callers that can do without the history ask through here; the
        // failure itself is what null means.
        return nullptr;
    }
}

ObservableValue<std::string>& startupNotice() {
    static ObservableValue<std::string> notice{initialNotice};
    return notice;
}

ScopedEnvironment::ScopedEnvironment(Environment environment) : previous_(currentEnvironment()) {
    configure(std::move(environment));
}

ScopedEnvironment::~ScopedEnvironment() { setEnvironment(previous_); }

}  // namespace AppHistory

}  // namespace velmora
