#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/InputOrigin.hpp"
#include "foundation/JSON.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/Checkpoint.hpp"
#include "ocrjobs/SourceIdentity.hpp"

namespace velmora {

// Where the whole queue stands.
enum class QueueStatus { ready, running, paused, cancelled, completed, waitingInput };

// Where one queued file stands.
enum class InputStatus { pending, running, completed, failed, waitingPassword, waitingInput, cancelled };

std::string_view rawValue(QueueStatus s);
std::string_view rawValue(InputStatus s);
template <>
std::optional<QueueStatus> fromRaw<QueueStatus>(std::string_view raw);
template <>
std::optional<InputStatus> fromRaw<InputStatus>(std::string_view raw);

// The label the queue shows for a file in this state.
std::string_view displayName(InputStatus s);

// Each is stored as its raw value; any other string makes the enclosing
// record, and so the whole queue file, unreadable.
void to_json(Json& j, QueueStatus s);
void from_json(const Json& j, QueueStatus& s);
void to_json(Json& j, InputStatus s);
void from_json(const Json& j, InputStatus& s);

// View options of a queue or of one queued file. Every key is required when
// read: a missing one is a damaged file, not a default.
struct QueuePresentation {
    bool includeHandwriting = true;
    bool instructionsOnly = false;
    bool preserveLines = true;
    bool pageSeparators = true;
    bool automaticSave = false;

    QueuePresentation() = default;
    QueuePresentation(bool includeHandwriting, bool instructionsOnly, bool preserveLines, bool pageSeparators,
                      bool automaticSave)
        : includeHandwriting(includeHandwriting), instructionsOnly(instructionsOnly), preserveLines(preserveLines),
          pageSeparators(pageSeparators), automaticSave(automaticSave) {}

    bool operator==(const QueuePresentation&) const = default;
};

void to_json(Json& j, const QueuePresentation& p);
void from_json(const Json& j, QueuePresentation& p);

// One queued file.
struct QueueInput {
    UUID id;
    std::string path;  // as the user gave it; absolute when this system made it
    InputOrigin origin = InputOrigin::normal;
    // The digest of the file as first chosen: a run refuses other bytes.
    std::optional<std::string> expectedSHA256;
    // Absent until the file has been read (a locked PDF before its password).
    std::optional<SourceIdentity> source;
    UUID jobID;
    // Names the input's job folder "jobs/<attempt>"; absent until a job exists.
    std::optional<UUID> attemptID;
    InputStatus status = InputStatus::pending;
    std::optional<ErrorCase> error;
    std::vector<PageRecord> pages;
    // The user's text for a page, replacing the recognised text.
    std::map<int64_t, std::string> editedPages;
    std::optional<OCRSettings> settings;  // absent: the queue's apply
    std::optional<QueuePresentation> presentation;

    // Nil ids; what a decoder fills in.
    QueueInput() = default;
    // A new pending input with new ids and nothing else known.
    QueueInput(std::string path, InputOrigin origin)
        : id(UUID::random()), path(std::move(path)), origin(origin), jobID(UUID::random()) {}

    // The file to read. A path that is not absolute, or that holds a NUL byte
    // (possible only in a hand-edited queue file), names no file this queue
    // could have been given: sourceMissing, rather than a file found relative
    // to whatever the working folder happens to be, or a shorter path than
    // the one stored.
    std::filesystem::path fileURL() const { return fileURL(path); }
    static std::filesystem::path fileURL(std::string_view path);

    bool operator==(const QueueInput&) const = default;
};

// Optional fields only when present. Reading checks the types and raw values
// and nothing more; "editedPages" is required and its keys must be page
// numbers written in decimal.
void to_json(Json& j, const QueueInput& input);
void from_json(const Json& j, QueueInput& input);

// The page tally of a queue.
struct QueueCounts {
    int64_t pending = 0;
    int64_t running = 0;
    int64_t success = 0;
    int64_t failed = 0;
    int64_t skipped = 0;

    QueueCounts() = default;
    // Page records where an input has them; otherwise all pages of its known
    // source count as pending. A hand-edited file can hold any page count, so
    // negative counts add nothing and the sums stop at the largest value
    // instead of overflowing.
    explicit QueueCounts(const std::vector<QueueInput>& inputs);

    int64_t total() const;

    bool operator==(const QueueCounts&) const = default;
};

// A cheap stamp of a file, taken when an input starts running and again
// before each page, so that a file replaced or touched meanwhile is noticed.
// Never stored.
struct InputRevision {
    uint64_t size = 0;
    Date modified{};
    uint64_t inode = 0;

    // The status of the file (links followed, as the file is read through
    // them); a failure is the platform's std::system_error, unmapped.
    static InputRevision read(const std::filesystem::path& url);

    bool operator==(const InputRevision&) const = default;
};

}  // namespace velmora
