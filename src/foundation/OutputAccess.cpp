// Output-folder grants.
//
// What it guarantees: a folder is handed out only while the directory at the
// recorded path is the one the user approved (same device and inode) and is
// still writable; otherwise accessDenied, never another folder.
// "folders.json" only grows: approve appends under the lease "folders-lock"
// and replaces the file atomically at its very end, so a failed or crashed
// approve leaves the previous file whole. Readers (resolve, authorizedRoots)
// take no lease and rely on that atomic replacement.
// What it assumes: the chooser runs on the main context and answers once;
// destination is awaited there, so the settings store is only touched on the
// main thread.
#include "foundation/OutputAccess.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>

#include "foundation/Base64.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/FolderBookmark.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/StateLease.hpp"

namespace velmora {

namespace {

// Starts the (no-op) scoped access for the length of one operation.
class ScopedAccess {
public:
    explicit ScopedAccess(std::filesystem::path url)
        : url_(std::move(url)), started_(FolderBookmark::startAccess(url_)) {}
    ~ScopedAccess() {
        if (started_) FolderBookmark::stopAccess(url_);
    }
    ScopedAccess(const ScopedAccess&) = delete;
    ScopedAccess& operator=(const ScopedAccess&) = delete;

private:
    std::filesystem::path url_;
    bool started_;
};

bool writable(const std::filesystem::path& url) { return ::access(url.c_str(), W_OK) == 0; }

}  // namespace

void to_json(Json& j, const OutputGrant& g) {
    j = Json::object();
    j["id"] = g.id;
    j["bookmark"] = Base64::encode(g.bookmark);
    j["path"] = g.path;
    j["device"] = g.device;
    j["inode"] = g.inode;
}

void from_json(const Json& j, OutputGrant& g) {
    JSON::requireObject(j, "grant");
    g.id = JSON::require<UUID>(j, "id");
    auto bytes = Base64::decode(JSON::requireString(j, "bookmark"));
    if (!bytes) throw JSON::DecodeError("key \"bookmark\": not Base64");
    g.bookmark = std::move(*bytes);
    g.path = JSON::requireString(j, "path");
    g.device = JSON::requireUInt(j, "device");
    g.inode = JSON::requireUInt(j, "inode");
}

void to_json(Json& j, const OutputAccess::Envelope& e) {
    j = Json::object();
    j["schema"] = e.schema;
    j["folders"] = e.folders;
}

void from_json(const Json& j, OutputAccess::Envelope& e) {
    JSON::requireObject(j, "folders");
    e.schema = JSON::requireInt(j, "schema");
    const Json& list = JSON::member(j, "folders");
    if (!list.is_array()) throw JSON::DecodeError("key \"folders\": expected an array");
    e.folders.clear();
    for (const Json& g : list) e.folders.push_back(JSON::decode<OutputGrant>(g));
}

OutputAccess::OutputAccess(AppRuntime runtime, FolderChooser* chooser)
    : runtime_(std::move(runtime)), chooser_(chooser) {}

OutputAccess::Envelope OutputAccess::load(const SecureDirectory& access) const {
    // Only a missing file is the empty list; anything else at the name (a
    // link, a FIFO, a folder) is refused by the read.
    struct stat st {};
    if (::fstatat(access.descriptor(), fileName, &st, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT) return {};
    Envelope e = JSON::decode<Envelope>(access.read(fileName));
    std::set<UUID> ids;
    for (const auto& g : e.folders) ids.insert(g.id);
    if (e.schema != 1 || ids.size() < e.folders.size()) raise(ErrorCase::accessDenied);
    return e;
}

OutputGrant OutputAccess::approve(const std::filesystem::path& url) {
    const ScopedAccess scope(url);
    const SecureDirectory folder(url, AppRuntime::isIsolated);
    struct stat st {};
    if (::fstat(folder.descriptor(), &st) != 0) raise(ErrorCase::accessDenied);
    if (!writable(url)) raise(ErrorCase::accessDenied);
    OutputGrant candidate;
    candidate.bookmark = FolderBookmark::create(url);
    candidate.id = UUID::random();
    candidate.path = url.string();
    candidate.device = static_cast<uint64_t>(st.st_dev);
    candidate.inode = static_cast<uint64_t>(st.st_ino);

    const SecureDirectory access(accessFolder(), true);
    const StateLease lease(access, leaseName, true);
    Envelope envelope = load(access);
    for (const auto& g : envelope.folders) {
        if (g.path == candidate.path && g.device == candidate.device && g.inode == candidate.inode) return g;
    }
    envelope.folders.push_back(candidate);
    access.replaceState(fileName, JSON::encode(envelope));
    return candidate;
}

std::filesystem::path OutputAccess::resolve(const UUID& id) const {
    const SecureDirectory access(accessFolder(), false);
    const Envelope envelope = load(access);
    const OutputGrant* grant = nullptr;
    for (const auto& g : envelope.folders) {
        if (g.id == id) {
            grant = &g;
            break;
        }
    }
    if (!grant) raise(ErrorCase::accessDenied);
    const FolderBookmark::Resolved resolved = FolderBookmark::resolve(grant->bookmark);
    if (resolved.stale || resolved.url.string() != grant->path) raise(ErrorCase::accessDenied);
    {
        std::lock_guard lock(scopesLock_);
        if (!scopes_.count(id) && FolderBookmark::startAccess(resolved.url)) scopes_.emplace(id, resolved.url);
    }
    const SecureDirectory folder(resolved.url, false);
    struct stat st {};
    if (::fstat(folder.descriptor(), &st) != 0 || static_cast<uint64_t>(st.st_dev) != grant->device ||
        static_cast<uint64_t>(st.st_ino) != grant->inode || !writable(resolved.url)) {
        raise(ErrorCase::accessDenied);
    }
    return resolved.url;
}

std::vector<std::filesystem::path> OutputAccess::authorizedRoots() const {
    std::vector<std::filesystem::path> roots;
    Envelope envelope;
    try {
        const SecureDirectory access(accessFolder(), false);
        envelope = load(access);
    } catch (...) {
        // Nothing approved, or a file that cannot be trusted: no folder is.
        return roots;
    }
    for (const auto& g : envelope.folders) {
        try {
            roots.push_back(resolve(g.id));
        } catch (...) {
            // A grant that no longer resolves is simply not a root now.
        }
    }
    return roots;
}

Task<std::optional<std::filesystem::path>> OutputAccess::destination(SettingsStore& settings, bool ask,
                                                                     bool /*verificationDialog*/) {
    const std::optional<UUID> stored = settings.value().destinationID;
    if (!ask && stored) {
        std::filesystem::path folder;
        try {
            folder = resolve(*stored);
        } catch (...) {
            // Saving without asking must never fall back to another folder.
            raise(ErrorCase::accessDenied);
        }
        co_return folder;
    }
    FolderChooser::Request request;
    request.title = chooserTitle;
    request.acceptLabel = chooserAcceptLabel;
    request.startFolder = AppRuntime::defaultOutput();
    if (stored) {
        try {
            request.startFolder = resolve(*stored);
        } catch (...) {
            // Only where the chooser opens: the default output folder then.
        }
    }
    if (!chooser_) raise(ErrorCase::accessDenied);
    const std::optional<std::filesystem::path> chosen = co_await chooser_->choose(request);
    if (!chosen) co_return std::nullopt;
    const OutputGrant grant = approve(*chosen);
    try {
        settings.change([&](AppPreferences& p) { p.destinationID = grant.id; });
    } catch (...) {
        // The folder is still used for this save; the user is told that it
        // will not be remembered.
        settings.setNotice(SettingsStore::Notices::cannotSave);
    }
    co_return resolve(grant.id);
}

Task<void> OutputAccess::chooseDefault(SettingsStore& settings) {
    (void)co_await destination(settings, true, false);
}

}  // namespace velmora
