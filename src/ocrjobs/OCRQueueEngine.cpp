#include "ocrjobs/OCRQueueEngine.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <utility>

#include "foundation/Digest.hpp"
#include "foundation/FileIO.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/StateLease.hpp"

namespace velmora {

namespace {

std::string lastComponent(const std::filesystem::path& folder) {
    std::filesystem::path p = folder;
    if (p.filename().empty()) p = p.parent_path();  // a trailing slash
    return p.filename().string();
}

// An engine fingerprint that is not a SHA-256 ("unavailable", or a damaged
// value) identifies no build, so nothing made under it can be trusted to
// match.
bool isFingerprint(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// The digest of a chosen file that could not be read as a document. Only a
// regular file is hashed, opened without blocking: a FIFO or a device given
// a document's name would otherwise hold the queue's creation forever.
std::optional<std::string> regularFileDigest(const std::filesystem::path& url) {
    UniqueFD fd(::open(url.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!fd) return std::nullopt;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    Digest::Hasher hasher;
    std::vector<uint8_t> buf(1048576);
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf.data(), buf.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        if (n == 0) break;
        hasher.update(buf.data(), static_cast<std::size_t>(n));
    }
    return hasher.finishHex();
}

std::optional<std::array<int64_t, 7>> fileStatus(const SecureDirectory& folder, std::string_view name) {
    struct stat st {};
    if (::fstatat(folder.descriptor(), std::string(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
    return std::array<int64_t, 7>{static_cast<int64_t>(st.st_dev), static_cast<int64_t>(st.st_ino),
                                  static_cast<int64_t>(st.st_size), st.st_mtim.tv_sec, st.st_mtim.tv_nsec,
                                  st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

struct Inspected {
    QueueSnapshot snapshot;
    std::string fileSHA256;  // of the exact bytes of "queue.json" that were read
    QueueEditJournal::Contents journal;
};

Inspected inspectOpened(const SecureDirectory& folder, const std::filesystem::path& url) {
    const std::vector<uint8_t> bytes = folder.read(OCRQueueEngine::queueFileName);
    const auto envelope = JSON::decode<QueueEnvelope>(bytes);
    if (!envelope.intact()) raise(ErrorCase::damagedCheckpoint);
    Inspected out{JSON::decode<QueueSnapshot>(envelope.payload), Digest::data(bytes), {}};
    const QueueSnapshot& s = out.snapshot;

    if (s.schemaVersion != QueueSnapshot::currentSchemaVersion) raise(ErrorCase::damagedCheckpoint);
    // A copy under another name would be a second queue with the same id,
    // whose jobs and journal both would claim.
    if (s.id.text() != lastComponent(url)) raise(ErrorCase::damagedCheckpoint);
    std::set<UUID> ids, jobIDs;
    for (const auto& input : s.inputs) {
        if (input.origin == InputOrigin::privateSession) raise(ErrorCase::damagedCheckpoint);
    }
    for (const auto& input : s.inputs) {
        if (!ids.insert(input.id).second) raise(ErrorCase::damagedCheckpoint);
    }
    for (const auto& input : s.inputs) {
        if (!jobIDs.insert(input.jobID).second) raise(ErrorCase::damagedCheckpoint);
    }
    out.journal = QueueEditJournal::read(folder);
    return out;
}

}  // namespace

OCRQueueEngine::OCRQueueEngine(QueueSnapshot state) : state_(std::move(state)) {}

QueueInput OCRQueueEngine::makeInput(const std::filesystem::path& url, InputOrigin origin, const OCRSettings& settings,
                                     const std::optional<QueuePresentation>& presentation) {
    QueueInput input(url.string(), origin);
    try {
        input.source = SourceIdentity::read(url);
        input.expectedSHA256 = input.source->sha256;
    } catch (const std::exception&) {
        // Not a failure of the queue: a locked PDF needs its password, and a
        // file that cannot be read now is reported when the queue runs. The
        // bare digest still pins the bytes that were chosen; without it
        // nothing is known about the file, and the run reports why.
        input.expectedSHA256 = regularFileDigest(url);
    }
    input.settings = settings;
    input.presentation = presentation;
    return input;
}

std::unique_ptr<OCRQueueEngine> OCRQueueEngine::create(const std::vector<InputFile>& inputs,
                                                       const OCRSettings& settings,
                                                       const std::optional<std::filesystem::path>& parent,
                                                       const std::optional<QueuePresentation>& presentation) {
    if (inputs.empty()) raise(ErrorCase::invalidInput);
    for (const auto& file : inputs) {
        if (!file.url.is_absolute() || file.url.native().find('\0') != std::string::npos) {
            raise(ErrorCase::invalidInput);
        }
    }

    std::vector<QueueInput> made;
    made.reserve(inputs.size());
    for (const auto& file : inputs) made.push_back(makeInput(file.url, file.origin, settings, presentation));

    std::unique_ptr<OCRQueueEngine> engine(new OCRQueueEngine(QueueSnapshot(settings, std::move(made))));
    const std::string name = engine->state_.id.text();

    std::optional<SecureDirectory> parentFolder;
    if (engine->state_.persistent() && parent) {
        parentFolder.emplace(*parent, true);
        engine->directory_.emplace(parentFolder->url() / name, true);
    }
    try {
        engine->persist();
    } catch (...) {
        if (parentFolder) {
            // The folder is new and, with its first write failed, empty; left
            // behind it would look like a damaged saved queue. If it cannot
            // be removed it is only an empty folder, so the write's error is
            // the one reported.
            engine->directory_.reset();
            (void)::unlinkat(parentFolder->descriptor(), name.c_str(), AT_REMOVEDIR);
        }
        throw;
    }
    return engine;
}

QueueSnapshot OCRQueueEngine::inspect(const std::filesystem::path& folder) {
    const SecureDirectory directory(folder, AppRuntime::isIsolated);
    Inspected inspected = inspectOpened(directory, folder);
    QueueEditJournal::replay(inspected.snapshot, inspected.journal);
    return std::move(inspected.snapshot);
}

std::unique_ptr<OCRQueueEngine> OCRQueueEngine::resume(const std::filesystem::path& folder,
                                                       const OCRSettings& settings) {
    SecureDirectory directory(folder, AppRuntime::isIsolated);
    const StateLease lease(directory, leaseName, true);
    // Checked through the descriptor holding the lease, so the file read is
    // the one in the folder this engine owns. Its status, the same before
    // and after the read, lets a store check the file without reading it
    // whole again.
    const auto statusBefore = fileStatus(directory, queueFileName);
    Inspected inspected = inspectOpened(directory, folder);
    const auto statusAfter = fileStatus(directory, queueFileName);
    QueueSnapshot& snapshot = inspected.snapshot;

    if (!isFingerprint(settings.implementationSHA256) || !isFingerprint(settings.bundledCodeSHA256)) {
        raise(ErrorCase::settingsChanged);
    }
    if (snapshot.settings != settings) raise(ErrorCase::settingsChanged);

    for (auto& input : snapshot.inputs) {
        // An input's own settings may choose another mode, but must come
        // from this build.
        if (input.settings && (input.settings->implementationSHA256 != settings.implementationSHA256 ||
                               input.settings->bundledCodeSHA256 != settings.bundledCodeSHA256)) {
            raise(ErrorCase::settingsChanged);
        }
        if (!input.attemptID || !input.source) continue;
        const auto store = JobStore::resume(jobFolder(directory.url(), *input.attemptID), *input.source,
                                            input.settings.value_or(settings), true);
        input.pages = store->checkpoint().pages;
        if (input.status == InputStatus::cancelled) {
            for (auto& r : input.pages) {
                if (r.state == PageState::pending) r.state = PageState::cancelled;
            }
        }
    }

    // The application ended during a run; nothing runs now. The file keeps
    // saying "running" until the next write.
    if (snapshot.status == QueueStatus::running) snapshot.status = QueueStatus::paused;
    // Over the pages as the jobs have them: an edit is replayed onto the
    // page the editor showed, which a checkpoint may know completed before
    // the queue's file did.
    QueueEditJournal::replay(snapshot, inspected.journal);

    std::unique_ptr<OCRQueueEngine> engine(new OCRQueueEngine(std::move(snapshot)));
    engine->directory_.emplace(std::move(directory));
    engine->setAsideJournalBytes_ = inspected.journal.setAsideBytes;
    // The digest of the very bytes the snapshot was decoded from: a second
    // read could see a newer file, which this engine would then overwrite
    // without ever having read it.
    engine->persistedChecksum_ = std::move(inspected.fileSHA256);
    if (statusBefore && statusBefore == statusAfter) engine->persistedStatus_ = statusBefore;
    return engine;
}

void OCRQueueEngine::defaultAccessCheck(const std::filesystem::path& url) {
    // Checked here as well: the access check is what a hand-edited path
    // reaches first.
    const std::filesystem::path file = QueueInput::fileURL(url.native());
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) raise(ErrorCase::sourceMissing);
    if (::access(file.c_str(), R_OK) != 0) raise(ErrorCase::accessDenied);
}

std::filesystem::path OCRQueueEngine::jobFolder(const std::filesystem::path& queueFolder, const UUID& attemptID) {
    return queueFolder / std::string(jobsFolderName) / attemptID.text();
}

QueueSnapshot OCRQueueEngine::snapshot() const {
    std::lock_guard lock(stateLock_);
    return state_;
}

std::optional<QueueInput> OCRQueueEngine::input(const UUID& inputID) const {
    std::lock_guard lock(stateLock_);
    const QueueInput* found = state_.input(inputID);
    if (!found) return std::nullopt;
    return *found;
}

std::pair<std::optional<UUID>, std::optional<int64_t>> OCRQueueEngine::selection() const {
    std::lock_guard lock(stateLock_);
    return {state_.selectedInput, state_.selectedPage};
}

OCRQueueEngine::AccessCheck OCRQueueEngine::accessCheck() const {
    std::lock_guard lock(stateLock_);
    return accessCheck_;
}

void OCRQueueEngine::setAccessCheck(AccessCheck check) {
    std::lock_guard lock(stateLock_);
    accessCheck_ = check ? std::move(check) : AccessCheck(&OCRQueueEngine::defaultAccessCheck);
}

int64_t OCRQueueEngine::memoryFootprint() const {
    int64_t total = 0;
    for (const auto& [id, store] : stores_) total += store->memoryBytes();
    return total + static_cast<int64_t>(JSON::encode(state_).size());
}

OCRQueueEngine::~OCRQueueEngine() {
    try {
        // Only a journal this engine appended to is folded: an engine opened
        // to be checked and refused, or only read, leaves the folder as it
        // found it.
        bool appended = false;
        {
            std::lock_guard journalHold(journalLock_);
            appended = journalAppended_;
        }
        if (appended) {
            compact();
        } else {
            flush();
        }
    } catch (const std::exception&) {
        // The queue keeps its last write; the owner was told of the failure
        // by the flush that failed before.
    }
}

void OCRQueueEngine::persist() {
    std::lock_guard lock(stateLock_);
    if (!state_.persistent() || !directory_) {
        if (memoryFootprint() > JobStore::privateTextLimit) raise(ErrorCase::budgetExceeded);
        return;
    }
    std::lock_guard write(writeLock_);
    verifyPersisted();
    writeSnapshot(state_, ++revision_);
}

void OCRQueueEngine::writeSnapshot(const QueueSnapshot& snapshot, uint64_t revision) {
    const std::vector<uint8_t> bytes = JSON::encode(QueueEnvelope::seal(snapshot));
    persistedStatus_.reset();
    directory_->replaceState(queueFileName, bytes);
    persistedChecksum_ = Digest::data(bytes);
    persistedStatus_ = fileStatus(*directory_, queueFileName);
    if (revision > writtenRevision_) writtenRevision_ = revision;
    flushFailed_ = false;
    // The snapshot holds every record up to its sequence; a crash before
    // the journal is emptied leaves records that replaying skips.
    std::lock_guard journalHold(journalLock_);
    try {
        journal().foldedUpTo(snapshot.journalSequence.value_or(0));
    } catch (const std::exception&) {
        // The queue is written and the records left are ones it holds, which
        // replaying skips; the next whole write empties the journal again.
    }
}

QueueEditJournal& OCRQueueEngine::journal() {
    if (!journal_) journal_ = std::make_unique<QueueEditJournal>(*directory_);
    return *journal_;
}

void OCRQueueEngine::compact() {
    {
        std::lock_guard lock(stateLock_);
        if (!directory_ || !state_.persistent()) return;
        bool holds = false;
        {
            std::lock_guard journalHold(journalLock_);
            holds = journal().holdsRecords();
        }
        if (holds && stagedRevision_ <= writtenRevision_) stagedRevision_ = ++revision_;
    }
    flush();
}

uint64_t OCRQueueEngine::setAsideJournalBytes() const {
    std::lock_guard lock(stateLock_);
    return setAsideJournalBytes_;
}

void OCRQueueEngine::flush() {
    // Nothing is made before the check: a flush that finds its work done
    // (the usual end of one overtaken by a later write) touches nothing but
    // the engine.
    std::optional<QueueSnapshot> copy;
    uint64_t revision = 0;
    {
        std::lock_guard lock(stateLock_);
        if (!directory_ || !state_.persistent() || stagedRevision_ <= writtenRevision_) return;
        copy.emplace(state_);
        revision = revision_;
    }
    // The state lock is free from here: the encoding and the disk are this
    // thread's alone.
    std::lock_guard write(writeLock_);
    // A later snapshot is on disk already: writing this one would take
    // back what that one recorded.
    if (revision <= writtenRevision_) return;
    try {
        const WriteHold hold = leaseUnlessRunning();
        verifyPersisted();
        writeSnapshot(*copy, revision);
    } catch (...) {
        flushFailed_ = true;
        throw;
    }
}

void OCRQueueEngine::verifyUnchanged() const {
    std::lock_guard write(writeLock_);
    if (directory_ && persistedStatus_ && fileStatus(*directory_, queueFileName) == persistedStatus_) return;
    verifyPersisted();
}

bool OCRQueueEngine::unwritten() const {
    std::lock_guard lock(stateLock_);
    return stagedRevision_ > writtenRevision_;
}

void OCRQueueEngine::verifyPersisted() const {
    std::lock_guard write(writeLock_);
    if (!directory_ || !persistedChecksum_) return;
    if (Digest::data(directory_->read(queueFileName)) != *persistedChecksum_) raise(ErrorCase::confirmationChanged);
}

}  // namespace velmora
