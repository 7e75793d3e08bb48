#include "ocrjobs/JobStore.hpp"

#include <algorithm>
#include <system_error>

#include "foundation/Digest.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora {

namespace {

// Stored dates have whole seconds; keeping the same in memory means a
// checkpoint read back equals the one that was written.
Date now() { return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()); }

bool isFingerprint(const std::string& text) { return Unicode::graphemeCount(text) == 64; }

std::string lastComponent(const std::filesystem::path& folder) {
    std::filesystem::path p = folder;
    if (p.filename().empty()) p = p.parent_path();  // a trailing slash
    return p.filename().string();
}

// Step by step, the first failure deciding the case.
void checkCompletedPage(const SecureDirectory& folder, const PageRecord& r) {
    if (!r.resultFile || *r.resultFile != CheckpointFile::pageFileName(r.page) || !r.checksum) {
        raise(ErrorCase::damagedCheckpoint);
    }
    std::vector<uint8_t> bytes;
    try {
        bytes = folder.read(*r.resultFile);
    } catch (const BrindlexError&) {
        raise(ErrorCase::damagedCheckpoint);
    } catch (const std::system_error&) {
        raise(ErrorCase::damagedCheckpoint);
    }
    if (Digest::data(bytes) != *r.checksum) raise(ErrorCase::damagedCheckpoint);
    int64_t storedPage = 0;
    try {
        storedPage = JSON::decode<PageResult>(bytes).page;
    } catch (const JSON::DecodeError&) {
        raise(ErrorCase::damagedCheckpoint);
    }
    if (storedPage != r.page) raise(ErrorCase::damagedCheckpoint);
}

// A process killed while it wrote a page file or the checkpoint leaves its
// staging file behind. Nothing else writes into a job folder while its job is
// resumed for work, so every such file is dead and would otherwise stay for
// good. Failing to remove one costs only its space, so it does not stop the
// resume.
void removeStagingLeftovers(const SecureDirectory& folder) {
    std::vector<std::string> names;
    try {
        names = folder.list();
    } catch (const std::system_error&) {
        return;  // see above: litter, not a fault of the job
    }
    for (const auto& name : names) {
        if (!name.starts_with(".stage-")) continue;
        try {
            folder.removeOwnedFile(name);
        } catch (const BrindlexError&) {
            // see above: litter, not a fault of the job
        }
    }
}

}  // namespace

std::unique_ptr<JobStore> JobStore::create(const SourceIdentity& source, const OCRSettings& settings,
                                           const std::optional<std::filesystem::path>& parent, UUID jobID) {
    std::unique_ptr<JobStore> store(new JobStore());
    const UUID attemptID = UUID::random();
    if (parent) store->directory_.emplace(*parent / attemptID.text(), true);

    Checkpoint& c = store->storedCheckpoint_;
    c.schemaVersion = Checkpoint::currentSchemaVersion;
    c.jobID = jobID;
    c.attemptID = attemptID;
    c.created = now();
    c.updated = c.created;
    c.source = source;
    c.settings = settings;
    c.dictionaryHash = settings.dictionaryHash();
    for (int64_t page = 1; page <= source.pageCount; ++page) c.pages.emplace_back(page);

    if (source.pageCount <= 0) raise(ErrorCase::invalidInput);
    store->save();
    return store;
}

std::unique_ptr<JobStore> JobStore::resume(const std::filesystem::path& folder, const SourceIdentity& source,
                                           const OCRSettings& settings, bool validateOnly) {
    std::unique_ptr<JobStore> store(new JobStore());
    SecureDirectory directory(folder, AppRuntime::isIsolated);
    Checkpoint c = CheckpointFile::read(directory);

    // The checkpoint must fit its folder and itself.
    if (c.schemaVersion != Checkpoint::currentSchemaVersion) raise(ErrorCase::damagedCheckpoint);
    if (c.attemptID.text() != lastComponent(folder)) raise(ErrorCase::damagedCheckpoint);
    if (c.source.pageCount < 0 || c.pages.size() != static_cast<uint64_t>(c.source.pageCount)) {
        raise(ErrorCase::damagedCheckpoint);
    }
    const std::size_t expected = std::max<std::size_t>(c.pages.size(), 1);
    for (std::size_t i = 0; i < expected; ++i) {
        if (i >= c.pages.size() || c.pages[i].page != static_cast<int64_t>(i + 1)) raise(ErrorCase::damagedCheckpoint);
    }

    // The paths are not compared: a moved file is the same document.
    if (c.source.byteCount != source.byteCount || c.source.pageCount != source.pageCount ||
        c.source.sha256 != source.sha256) {
        raise(ErrorCase::sourceChanged);
    }

    if (!isFingerprint(settings.implementationSHA256)) raise(ErrorCase::settingsChanged);
    if (!isFingerprint(settings.bundledCodeSHA256)) raise(ErrorCase::settingsChanged);
    if (c.settings != settings) raise(ErrorCase::settingsChanged);
    if (c.dictionaryHash != settings.dictionaryHash()) raise(ErrorCase::settingsChanged);

    for (auto& r : c.pages) {
        switch (r.state) {
        case PageState::completed:
            checkCompletedPage(directory, r);
            break;
        case PageState::inProgress:
        case PageState::cancelled:
            // Begun by a run that ended without finishing it, or skipped by a
            // cancel: either way it is recognised again.
            r.state = PageState::pending;
            break;
        case PageState::pending:
        case PageState::failed:
            break;
        }
    }
    c.source = source;

    if (!validateOnly) removeStagingLeftovers(directory);
    store->directory_.emplace(std::move(directory));
    store->storedCheckpoint_ = std::move(c);
    if (!validateOnly) store->save();
    return store;
}

PageRecord& JobStore::record(int64_t page, ErrorCase outside) {
    auto& pages = storedCheckpoint_.pages;
    if (page < 1 || static_cast<uint64_t>(page) > pages.size()) raise(outside);
    return pages[static_cast<std::size_t>(page - 1)];
}

const PageRecord* JobStore::recordIfInside(int64_t page) const {
    const auto& pages = storedCheckpoint_.pages;
    if (page < 1 || static_cast<uint64_t>(page) > pages.size()) return nullptr;
    return &pages[static_cast<std::size_t>(page - 1)];
}

void JobStore::save() {
    storedCheckpoint_.updated = now();
    if (directory_) CheckpointFile::write(*directory_, storedCheckpoint_);
}

void JobStore::begin(int64_t page) {
    std::lock_guard lock(stateLock_);
    PageRecord& r = record(page, ErrorCase::damagedCheckpoint);
    if (r.state != PageState::pending) raise(ErrorCase::damagedCheckpoint);
    r.state = PageState::inProgress;
    save();
}

void JobStore::commit(const PageResult& result) {
    std::lock_guard lock(stateLock_);
    const int64_t n = result.page;
    PageRecord& r = record(n, ErrorCase::damagedCheckpoint);
    if (r.state != PageState::inProgress) raise(ErrorCase::damagedCheckpoint);
    const std::vector<uint8_t> bytes = JSON::encode(result);
    const std::string name = CheckpointFile::pageFileName(n);
    if (directory_) {
        // The page file goes first: until the checkpoint names it, a crash
        // leaves the page in progress and the file unread.
        directory_->replaceState(name, bytes);
    } else {
        const int64_t total = transientBytes_ + static_cast<int64_t>(bytes.size());
        if (total > privateTextLimit) raise(ErrorCase::budgetExceeded);
        transient_[n] = result;
        transientBytes_ = total;
    }
    r.resultFile = name;
    r.checksum = Digest::data(bytes);
    r.state = PageState::completed;
    save();
}

void JobStore::fail(int64_t page, ErrorCase error) {
    std::lock_guard lock(stateLock_);
    PageRecord& r = record(page, ErrorCase::damagedCheckpoint);
    r.state = PageState::failed;
    r.error = error;
    save();
}

void JobStore::deferPage(int64_t page) {
    std::lock_guard lock(stateLock_);
    PageRecord& r = record(page, ErrorCase::damagedCheckpoint);
    r.state = PageState::pending;
    save();
}

void JobStore::skipPending() {
    std::lock_guard lock(stateLock_);
    for (auto& r : storedCheckpoint_.pages) {
        if (r.state == PageState::pending) r.state = PageState::cancelled;
    }
    save();
}

void JobStore::relocate(const std::filesystem::path& path) {
    std::lock_guard lock(stateLock_);
    const std::string previous = storedCheckpoint_.source.path;
    storedCheckpoint_.source.path = path.string();
    try {
        save();
    } catch (...) {
        // The checkpoint on disk still names the old path; so does the store.
        storedCheckpoint_.source.path = previous;
        throw;
    }
}

void JobStore::retryFailed(const std::set<int64_t>& pages) {
    std::lock_guard lock(stateLock_);
    for (int64_t page : pages) {
        if (record(page, ErrorCase::invalidInput).state != PageState::failed) raise(ErrorCase::invalidInput);
    }
    for (int64_t page : pages) {
        PageRecord& r = record(page, ErrorCase::invalidInput);
        if (r.error) {
            if (!r.priorFailures) r.priorFailures.emplace();
            r.priorFailures->push_back(*r.error);
        }
        r.error.reset();
        r.state = PageState::pending;
    }
    save();
}

std::optional<PageResult> JobStore::storedResult(const PageRecord& r) const {
    if (directory_ && r.resultFile && r.checksum) {
        const std::vector<uint8_t> bytes = directory_->read(*r.resultFile);
        if (Digest::data(bytes) != *r.checksum) raise(ErrorCase::damagedCheckpoint);
        return JSON::decode<PageResult>(bytes);
    }
    auto it = transient_.find(r.page);
    if (it == transient_.end()) return std::nullopt;
    return it->second;
}

std::optional<PageResult> JobStore::result(int64_t page) const {
    std::lock_guard lock(stateLock_);
    const PageRecord* r = recordIfInside(page);
    if (!r) raise(ErrorCase::invalidInput);
    if (r->state != PageState::completed) return std::nullopt;
    return storedResult(*r);
}

std::string JobStore::text() const {
    std::lock_guard lock(stateLock_);
    std::string out;
    bool first = true;
    for (const auto& r : storedCheckpoint_.pages) {
        if (!first) out += "\n\n";
        first = false;
        out += OCRProduct::pageSeparator(r.page) + "\n";
        if (r.state != PageState::completed) {
            out += "[" + std::string(rawValue(r.state)) + "]";
        } else if (auto stored = storedResult(r)) {
            out += stored->text();
        }
    }
    return out;
}

Checkpoint JobStore::checkpoint() const {
    std::lock_guard lock(stateLock_);
    return storedCheckpoint_;
}

int64_t JobStore::memoryBytes() const {
    std::lock_guard lock(stateLock_);
    return transientBytes_;
}

}  // namespace velmora
