#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "recognition/engine/OCRSettings.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/StateLease.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/JobControl.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/PDFJob.hpp"
#include "ocrjobs/QueueEditJournal.hpp"
#include "ocrjobs/QueueInput.hpp"
#include "ocrjobs/QueueSnapshot.hpp"
#include "ocrjobs/OCRDecorationState.hpp"

namespace velmora {

// One open OCR queue: its snapshot in memory, and, for a queue that may be
// written, its folder "<parent>/<queue id>" holding "queue.json", the lease
// "queue-lease" and "jobs/<attempt id>" per started job.
//
// A queue holding a private input, or made without a parent, has no folder
// and lives in memory under the private text limit. A queue with a folder is
// written after every change, except the editor's stores (see stageEditor):
// each of those is one record appended to the edit journal "queue-edits"
// beside "queue.json", durable when the store returns, and folded into
// "queue.json" by its next whole write. The digest of the bytes it last wrote
// or read lets it notice a write by anyone else, and it then refuses instead
// of overwriting theirs. It holds no lease while idle.
//
// Every read and write of the snapshot and the open job stores happens under
// one recursive lock, so an operation holding it may persist or call another
// locked operation. Writing "queue.json" (and holding the lease to do so)
// happens under a second lock, taken after the first or alone, never the
// other way round: a write handed to another thread (see stageEditor and
// flush) encodes a copy of the snapshot without holding the first lock
// while its bytes go to disk. The journal has a third lock, taken last and
// holding no other.
class OCRQueueEngine {
public:
    // Called before a source file is used; replaceable so that the owner can
    // add its own checks (access grants) to the default one.
    using AccessCheck = std::function<void(const std::filesystem::path& url)>;

    // Receives a copy of the whole queue, on the run's thread, with no lock
    // held. Required. An error it throws ends the run (paused, idle).
    using Progress = std::function<void(const QueueSnapshot& snapshot)>;
    // Around every page commit of every input: just before the recognised
    // page is committed (false) and just after (true). An error it throws is
    // recorded on the input like any other.
    using Boundary = std::function<void(const UUID& inputID, int64_t page, bool committed)>;
    // How far the reading of a page under way has come, 0 to 1, from the
    // thread recognising it (pages of an automatic run are read at once, on
    // threads of their own); nothing is locked while it is called.
    using Reading = std::function<void(const UUID& inputID, int64_t page, double fraction)>;

    struct InputFile {
        std::filesystem::path url;
        InputOrigin origin = InputOrigin::normal;
    };

    static constexpr std::string_view queueFileName = "queue.json";
    static constexpr std::string_view leaseName = "queue-lease";
    static constexpr std::string_view jobsFolderName = "jobs";

    // A new ready queue of the files in the given order, written at once when
    // it has a folder (no lease: the folder is new). No files, or a file that
    // is not an absolute path, is invalidInput. A file that cannot be read is
    // no error: it becomes an input of no known identity.
    static std::unique_ptr<OCRQueueEngine> create(const std::vector<InputFile>& inputs, const OCRSettings& settings,
                                                  const std::optional<std::filesystem::path>& parent,
                                                  const std::optional<QueuePresentation>& presentation = std::nullopt);

    // Reopens a saved queue folder (the folder itself) for the current
    // settings, under its lease (navigationBusy while another process holds
    // it). Every started input's job is checked without writing anything;
    // its page records come from the checkpoint. A queue saved while running
    // comes back paused, in memory only. settingsChanged for an engine
    // identity that is not a hash, other queue settings, or an input made by
    // another engine; the errors of inspect and of the job check pass on.
    static std::unique_ptr<OCRQueueEngine> resume(const std::filesystem::path& folder, const OCRSettings& settings);

    // Reads and checks a queue folder without taking its lease or writing:
    // damagedCheckpoint for a digest that does not match, a schema version
    // other than 3, an id that does not name the folder, a private input, or
    // repeated input or job ids. Read and decoding errors pass on. The edit
    // journal's records are replayed over the file (see
    // QueueEditJournal::replay); a journal that is not a regular file, or is
    // too large, is refused as read() refuses a state file, while a damaged
    // tail of records is only left out.
    static QueueSnapshot inspect(const std::filesystem::path& folder);

    // One new pending input from a file: its identity when it can be read,
    // otherwise only the digest of its bytes, otherwise nothing known.
    static QueueInput makeInput(const std::filesystem::path& url, InputOrigin origin, const OCRSettings& settings,
                                const std::optional<QueuePresentation>& presentation);

    // sourceMissing when nothing is at the path (or the path is not one this
    // queue could hold, see QueueInput::fileURL), accessDenied when it
    // cannot be read.
    static void defaultAccessCheck(const std::filesystem::path& url);

    // "<queue folder>/jobs/<attempt id>".
    static std::filesystem::path jobFolder(const std::filesystem::path& queueFolder, const UUID& attemptID);

    OCRQueueEngine(const OCRQueueEngine&) = delete;
    OCRQueueEngine& operator=(const OCRQueueEngine&) = delete;

    QueueSnapshot snapshot() const;
    // One input as snapshot() has it, without copying the others; nothing
    // for an input not in the queue.
    std::optional<QueueInput> input(const UUID& inputID) const;
    // The selection as snapshot() has it.
    std::pair<std::optional<UUID>, std::optional<int64_t>> selection() const;
    // Fixed for the engine's life; absent for a queue kept in memory.
    const std::optional<SecureDirectory>& directory() const { return directory_; }

    AccessCheck accessCheck() const;
    void setAccessCheck(AccessCheck check);

    // The recogniser the run hands its pages to; empty (the default) for
    // OCREngine::recognize.
    void setRecognizer(PDFJob::Recognizer recognizer);

    // Runs the queue on the calling thread: the inputs one at a time in
    // queue order, each taken up at most once, its identity checked, its job
    // opened or resumed and its pending pages recognised, the queue written
    // after every page. A failure of one input becomes its status and error
    // (waitingPassword for a locked PDF; waitingInput for a file missing,
    // unreadable or changed, also when a page finds it so, and for a failed
    // write of the queue or of its results, which also pauses the queue;
    // failed otherwise, a source image too large to load included) and the
    // run goes on with the next input. The queue ends paused, cancelled,
    // waitingInput or completed.
    //
    // With automatic, pages run as the worker budget allows; otherwise one at
    // a time. The run holds the queue's lease throughout. It throws only when
    // it cannot start (navigationBusy while a run is under way, the lease's
    // error, the file changed behind the engine) or cannot write the queue to
    // record an outcome; the queue is then paused in memory, or keeps its
    // previous status when even the first write failed.
    void run(JobControl& control, bool automatic, const std::map<UUID, std::string>& passwords,
             const std::map<UUID, std::set<int64_t>>& failPages, const Progress& progress,
             const Boundary& boundary = nullptr, const Reading& reading = nullptr);
    // Whether a run is under way.
    bool active() const;

    // The recognised result of a page of an input; nothing for an input not
    // in the queue, one never run, or a page without a result. A job left by
    // an earlier process is reopened for reading (checked, never written) and
    // kept for later calls; its errors pass on, and a failed reopening is
    // tried again on the next call.
    std::optional<PageResult> result(const UUID& inputID, int64_t page);
    // The TXT text of one input: its pages under their headers, each page
    // without a result standing as a bracketed status line, or only the
    // input's own status line while its file has not been read. The user's
    // edit replaces the recognised text of a completed page. invalidInput for
    // an input not in the queue.
    std::string text(const UUID& inputID, const TXTOptions& options = TXTOptions());
    // Publishes the queue's text into the folder (made when missing), never
    // replacing a file: one "OCR-combined.txt" with a header per document, or
    // one "OCR-<position>-<file stem>.txt" per input. Returns the published
    // files in queue order. navigationBusy while a run is under way.
    std::vector<std::filesystem::path> exportTo(const std::filesystem::path& destination,
                                                const TXTOptions& options = TXTOptions());

    // --- Changes between runs (and, for some, during one). Every operation
    // holds the engine's lock from start to end, hashing and exporting
    // included. Outside a run a queue with a folder is changed under its
    // lease (navigationBusy while another process holds it) and only while
    // "queue.json" is still the file this engine last wrote or read
    // (confirmationChanged); during a run the run's lease covers it and the
    // change is written by the same persist the run uses.

    // The most inputs a queue holds.
    static constexpr std::size_t maximumInputs = 5000;

    // Points an input at a re-chosen file with exactly the bytes first chosen
    // (sourceChanged otherwise, or for an unknown input or one whose bytes
    // were never known); the access check's error passes on. The input is
    // pending again with its job kept; its source names the new path too. A
    // queue with a folder drops the input's open job (it is reopened from
    // the new path); one without keeps it, pointed at the new file. Nothing
    // happens during a run or without a file. A failed write keeps the change
    // in memory.
    void reselect(const UUID& inputID, const std::optional<std::filesystem::path>& url);
    // Gives one input up: its pending pages become cancelled and its finished
    // pages stay (its job is reopened when this process has not opened it);
    // an input never started gets a cancelled record per page; one never read
    // keeps its records. navigationBusy during a run or for an unknown input.
    // A failed write keeps the change in memory.
    void cancelInput(const UUID& inputID);
    // A new queue of the same files in the same order, with the queue's
    // settings, new ids and no presentation, beside the old one under parent
    // (in memory without one, or with a private input). This queue is not
    // touched.
    std::unique_ptr<OCRQueueEngine> restart(const std::optional<std::filesystem::path>& parent);
    // The user's text for a completed page (invalidInput otherwise), the last
    // one winning. Allowed during a run. A failed write keeps the change in
    // memory.
    void edit(const UUID& inputID, int64_t page, const std::string& text);
    // Adds files at the end, made into inputs before the lock is taken, with
    // their own settings and presentation. budgetExceeded for no files or
    // more than maximumInputs in all; invalidInput for a private file into a
    // queue without private inputs, or a path that is not absolute. Outside
    // a run the queue is ready again.
    void append(const std::vector<InputFile>& files, const OCRSettings& settings,
                const std::optional<QueuePresentation>& presentation);
    // Swaps a pending input never started with the one delta places away when
    // that one is pending and never started too; otherwise nothing moves, but
    // the queue is written all the same. navigationBusy for an unknown input
    // or one that was started or is not pending.
    void move(const UUID& inputID, int64_t delta);
    // Makes failed pages pending again for the next run. Every entry is
    // checked before any job changes: the input exists and has a source
    // (invalidInput), its job is open or can be reopened from the queue's
    // folder (damagedCheckpoint without an attempt or a folder; the reopening's
    // error passes on), and every named page exists and has failed
    // (invalidInput). The queue is ready afterwards, also for an empty set.
    // navigationBusy during a run. A job whose write fails part-way leaves the
    // inputs already changed pending, with their new pages.
    void prepareRetry(const std::map<UUID, std::set<int64_t>>& pages);

    // Stores many page edits (each as edit() does) with one write of the
    // queue: every page is checked before anything changes (invalidInput for
    // an unknown input or a page that is not completed), and a failed write
    // leaves the queue as it was.
    struct PageEdit {
        UUID inputID;
        int64_t page = 0;
        std::string text;
    };
    void editPages(const std::vector<PageEdit>& edits);

    // --- What the editor shows, and publications made once.

    // What the editor stores when it leaves a page: the page's highlight
    // state under a key (with the view options), the user's text, the
    // selection.
    struct EditorRecord {
        UUID inputID;
        int64_t page = 0;
        // saveEditor's, when the key is given.
        std::optional<std::string> key;
        OCRDecorationState decoration;
        std::optional<QueuePresentation> presentation;
        // edit()'s, when given.
        std::optional<std::string> text;
        // saveSelection()'s, when true.
        bool selection = false;
    };
    // Makes the changes of saveEditor, edit and saveSelection, checked as
    // those check them (nothing changes when a check fails), in memory and,
    // for a queue with a folder, in the edit journal: the record is durable
    // when this returns, and "queue.json" takes it at its next whole write.
    // A change that leaves the queue as it is records nothing. What can be
    // known without writing is reported at once: navigationBusy while
    // another process holds the lease and confirmationChanged for a file
    // written behind the engine (checked when no write is under way: the
    // write checks again). A journal past QueueEditJournal::foldBytes leaves
    // the queue unwritten, for the next flush() to fold it. When the record
    // cannot be appended its error passes on with the change kept in memory
    // and staged; when that or the last flush failed, the next store writes
    // the queue itself, and that write's error passes on.
    void stageEditor(const EditorRecord& record);
    // Copies into a copy of the snapshot what a store of the editor changes
    // on one input: its edited pages, the highlight state under the key and
    // the input's view options when given, the selection and the journal's
    // sequence. What a store costs on a large queue is then what its page
    // costs, for the owner's copy too.
    void mirrorEditor(QueueSnapshot& copy, const UUID& inputID, const std::optional<std::string>& key) const;
    // Writes what was staged and is not on disk yet, on the calling thread,
    // any thread: the snapshot as it is when the write begins, under the
    // lease (or the run's), after the same check as persist(). Writes never
    // overtake one another: a write finding a later one already done writes
    // nothing. The write's error passes on; the changes stay staged for the
    // next write. Nothing to write for a queue kept in memory.
    void flush();
    // Whether staged changes still wait for their write.
    bool unwritten() const;
    // Folds the edit journal into "queue.json" when it holds records, then
    // writes what flush() writes: for closing and letting go. The write's
    // error passes on with the journal kept.
    void compact();
    // The bytes of a damaged journal tail (a record cut short by a crash, or
    // one that does not match its digest) that were left out when the queue
    // was reopened; 0 when there were none.
    uint64_t setAsideJournalBytes() const;

    // The input and page shown last; no input clears the input only.
    void saveSelection(const std::optional<UUID>& inputID, int64_t page);
    // The highlights of a completed page with a checksum (invalidInput
    // otherwise) under the caller's key, valid while that checksum holds; the
    // view options, when given, under the input's id.
    void saveEditor(const std::string& key, const UUID& inputID, int64_t page, const OCRDecorationState& decoration,
                    const std::optional<QueuePresentation>& presentation);
    // Every saved highlight state by its key; damagedCheckpoint as soon as
    // one no longer matches its page. Reads only.
    std::map<std::string, OCRDecorationState> restoreEditors() const;
    // Appends the key to the automatic exports, also when it is there.
    void markAutomaticExport(const std::string& key);
    // Publishes data as "<stem>.txt" in destination (numbered "_001" ... on a
    // clash, never replacing a file) at most once per key, even when the
    // process dies half-way: the name about to be linked is journalled (and
    // written) before every link attempt, and completed after afterPublish.
    // A later call with the key returns the published file when it is still
    // ours with the same data (confirmationChanged when it or the data
    // differs, sourceMissing when a completed one was removed) and publishes
    // anew when an unfinished attempt linked nothing. navigationBusy during a
    // run.
    std::filesystem::path exportOnce(const std::string& key, const std::vector<uint8_t>& data,
                                     const std::filesystem::path& destination, const std::string& stem,
                                     const std::function<void()>& afterPublish = nullptr);

    // Writes the snapshot as it is now, every call, after checking that the
    // file is still the one this engine last wrote or read. A queue kept in
    // memory is checked against the private text limit instead
    // (budgetExceeded over it) and nothing is written.
    void persist();
    // Writes staged changes still waiting and, when it appended to it, folds
    // the journal (see compact()), errors ignored: nothing is left to report
    // them to.
    ~OCRQueueEngine();
    // confirmationChanged when "queue.json" is no longer the bytes this
    // engine last wrote or read; the read error when it cannot be read.
    void verifyPersisted() const;

private:
    explicit OCRQueueEngine(QueueSnapshot state);

    // The memory a queue without a folder takes: its stores' results and its
    // snapshot's encoding.
    int64_t memoryFootprint() const;

    // Takes up one input; records its outcome on it. Throws only when that
    // record cannot be written.
    void runInput(const QueueInput& input, JobControl& control, bool automatic,
                  const std::optional<std::string>& password, const std::set<int64_t>& failPages,
                  const Progress& progress, const Boundary& boundary, const Reading& reading);
    // Records the error on the input, pausing the queue for a failed write of
    // its own state; then reports progress.
    void recordInputError(const UUID& inputID, ErrorCase error, bool readingSource, JobControl& control,
                          const Progress& progress);
    // Removes what a writer killed while it wrote "queue.json" left behind.
    void removeStagingLeftovers() const;

    // The right to write "queue.json": the write lock, and the queue's
    // lease unless a run holds it or the queue has no folder. The lease is
    // only ever taken under the write lock, so two writers of this process
    // never meet at the lease.
    struct WriteHold {
        std::unique_lock<std::recursive_mutex> lock;
        std::optional<StateLease> lease;
    };
    WriteHold leaseUnlessRunning() const;
    // Encodes and writes a snapshot of the given revision, with the write
    // lock held and the check done.
    void writeSnapshot(const QueueSnapshot& snapshot, uint64_t revision);
    // The early check of a staged change, with the write lock held: the
    // file's status as this engine's last write left it passes at once;
    // otherwise the bytes are compared as verifyPersisted() does. (The
    // write itself always compares the bytes.)
    void verifyUnchanged() const;
    // The guarded change: with the lock held throughout, the lease (unless a
    // run holds it), the check that the file is still ours, the change and
    // the write; the snapshot as it was when either fails.
    void mutate(const std::function<void()>& change);
    // An input's job reopened from the queue's folder, written back unless
    // validateOnly. With the lock held.
    std::unique_ptr<JobStore> reopenJob(const QueueInput& input, bool validateOnly) const;

    mutable std::recursive_mutex stateLock_;
    QueueSnapshot state_;
    // A run is under way. Changed under both locks, so a writer holding
    // only the write lock sees whether the run's lease covers it.
    std::atomic<bool> active_ = false;
    std::optional<SecureDirectory> directory_;
    std::map<UUID, std::shared_ptr<JobStore>> stores_;
    // Under the state lock: the revision of state_ (one more per change
    // written or staged) and of the last staged change.
    uint64_t revision_ = 0;
    uint64_t stagedRevision_ = 0;
    // Under the write lock.
    mutable std::recursive_mutex writeLock_;
    std::optional<std::string> persistedChecksum_;
    // Device, inode, size, modification and change times of the file just
    // after this engine's last write.
    std::optional<std::array<int64_t, 7>> persistedStatus_;
    std::atomic<uint64_t> writtenRevision_ = 0;
    std::atomic<bool> flushFailed_ = false;
    // The writer of the edit journal, made at its first use; under
    // journalLock_.
    std::mutex journalLock_;
    std::unique_ptr<QueueEditJournal> journal_;
    QueueEditJournal& journal();
    // Whether this engine appended a record; under journalLock_.
    bool journalAppended_ = false;
    // Set once when the queue is reopened.
    uint64_t setAsideJournalBytes_ = 0;
    AccessCheck accessCheck_ = &OCRQueueEngine::defaultAccessCheck;
    PDFJob::Recognizer recognizer_;
};

}  // namespace velmora
