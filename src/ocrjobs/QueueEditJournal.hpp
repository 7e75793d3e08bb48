#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/FileIO.hpp"
#include "foundation/JSON.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/QueueInput.hpp"
#include "ocrjobs/QueueSnapshot.hpp"
#include "ocrjobs/OCRDecorationState.hpp"

namespace velmora {

// One store of the editor, as the journal keeps it: what the page shows,
// not what changed, so a record applies alone and applying it twice is
// applying it once.
struct QueueJournalRecord {
    uint64_t sequence = 0;
    UUID queueID;
    UUID inputID;
    int64_t page = 0;
    // The user's text of the page, when this store set it.
    std::optional<std::string> text;
    // The highlight state under the caller's key, with the checksum of the
    // page's result it was made on.
    std::optional<std::string> key;
    std::optional<QueueEditorState> editor;
    std::optional<QueuePresentation> presentation;
    // The page became the selection.
    bool selection = false;

    bool operator==(const QueueJournalRecord&) const = default;
};

void to_json(Json& j, const QueueJournalRecord& r);
void from_json(const Json& j, QueueJournalRecord& r);

// The edit journal beside "queue.json": the editor's stores appended one
// record each and made durable before the store returns, so a store costs
// what the page costs, not what the queue costs. Whole writes of the queue
// fold it: the snapshot remembers the last sequence it holds, and the
// journal is emptied afterwards.
//
// A record is "VQJ1", the payload's length (4 bytes, little-endian), the
// SHA-256 of length and payload in hexadecimal (64 bytes), then the payload
// (the record's JSON). Reading stops at the first record that is cut short
// or does not match its digest: a crash while appending leaves at most its
// own record so, and what follows is set aside, never the whole queue.
class QueueEditJournal {
public:
    static constexpr std::string_view fileName = "queue-edits";
    static constexpr std::string_view magic = "VQJ1";
    static constexpr std::size_t headerBytes = 4 + 4 + 64;
    // A journal passing this is folded into "queue.json" by the next write.
    static constexpr uint64_t foldBytes = 4 * 1024 * 1024;
    // No record and no journal of ours is larger: a file over it is not one
    // this system wrote and is refused rather than read into memory.
    static constexpr uint64_t maximumRecordBytes = 16 * 1024 * 1024;
    static constexpr uint64_t maximumBytes = 64 * 1024 * 1024;

    // What a read found.
    struct Contents {
        // The intact records, in file order.
        std::vector<QueueJournalRecord> records;
        // The bytes of the intact records; what lies beyond them was set aside.
        uint64_t intactBytes = 0;
        uint64_t setAsideBytes = 0;
        // The highest sequence among the intact records.
        uint64_t lastSequence = 0;
    };

    // The records of a journal's bytes.
    static Contents parse(const std::vector<uint8_t>& bytes);
    // The journal of a queue folder; empty when there is none. A FIFO, a
    // device or a folder at its name is unsafePath without waiting on it, a
    // symbolic link or a file over maximumBytes damagedCheckpoint, as for
    // the other state files. A read error passes on.
    static Contents read(const SecureDirectory& folder);
    // One record's bytes.
    static std::vector<uint8_t> encode(const QueueJournalRecord& record);

    // Applies the records after the snapshot's own journal sequence, in
    // sequence order (file order among equal ones), each only where it
    // still applies: a record of another queue or of an unknown input, or
    // for a page that is not a completed one, changes nothing; neither do
    // highlights made on a result since recognised again. The snapshot then
    // holds the journal's last sequence. Returns the records applied.
    static std::size_t replay(QueueSnapshot& snapshot, const Contents& contents);

    // The writer for a queue folder, which must outlive it. Nothing is
    // opened or made before the first append or fold.
    explicit QueueEditJournal(const SecureDirectory& folder) : folder_(folder) {}
    QueueEditJournal(const QueueEditJournal&) = delete;
    QueueEditJournal& operator=(const QueueEditJournal&) = delete;

    // Appends one record and syncs it (the file made and its folder synced
    // when new). A journal whose end is not where this writer left it (a
    // crash mid-append, another writer) is first cut back to its intact
    // records. saveFailed when the record cannot be made durable, with the
    // journal cut back to where it was; budgetExceeded for a record over
    // maximumRecordBytes or a journal that would pass maximumBytes; the
    // opening's errors as read()'s.
    void append(const QueueJournalRecord& record);
    // Empties the journal when it holds no record past sequence, which a
    // written snapshot holds; otherwise keeps only the records past it, for
    // the next fold. True when it is empty afterwards.
    bool foldedUpTo(uint64_t sequence);
    // Whether the journal on disk holds anything, opening it when it is there.
    bool holdsRecords();
    // The journal's size as this writer knows it (0 before it was opened),
    // and the last sequence it holds.
    uint64_t size() const { return end_; }
    uint64_t lastSequence() const { return lastSequence_; }

private:
    // Opens (and with create makes) the file once, finding its intact end.
    // False when there is no journal and create is false.
    bool open(bool create);
    // Cuts the file back to its intact records when it is not as this
    // writer left it.
    void resynchronise();
    // Rewrites the journal with only its records past sequence, beside it
    // and renamed over it.
    void keepAfter(uint64_t sequence);

    const SecureDirectory& folder_;
    UniqueFD fd_;
    uint64_t end_ = 0;
    uint64_t lastSequence_ = 0;
};

}  // namespace velmora
