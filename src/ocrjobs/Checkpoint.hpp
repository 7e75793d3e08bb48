#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/JSON.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/SourceIdentity.hpp"

namespace velmora {

class SecureDirectory;

// Where one page of a job stands. Stored by raw value; any other name makes
// the whole record unreadable.
enum class PageState { pending, inProgress, completed, failed, cancelled };

std::string_view rawValue(PageState s);
// The label the queue's text and views show for a page in this state.
std::string_view displayName(PageState s);
template <>
std::optional<PageState> fromRaw<PageState>(std::string_view raw);
void to_json(Json& j, PageState s);
void from_json(const Json& j, PageState& s);

struct PageRecord {
    int64_t page = 0;  // 1-based
    PageState state = PageState::pending;
    // Set together when the page is committed: the page file's leaf name and
    // the SHA-256 of its exact bytes.
    std::optional<std::string> resultFile;
    std::optional<std::string> checksum;
    // The latest failure, and those before it, oldest first.
    std::optional<ErrorCase> error;
    std::optional<std::vector<ErrorCase>> priorFailures;

    PageRecord() = default;
    explicit PageRecord(int64_t page, PageState state = PageState::pending,
                        std::optional<std::string> resultFile = std::nullopt,
                        std::optional<std::string> checksum = std::nullopt,
                        std::optional<ErrorCase> error = std::nullopt,
                        std::optional<std::vector<ErrorCase>> priorFailures = std::nullopt)
        : page(page), state(state), resultFile(std::move(resultFile)), checksum(std::move(checksum)), error(error),
          priorFailures(std::move(priorFailures)) {}

    bool operator==(const PageRecord&) const = default;
};

// "page" and "state" always; each optional field only when present.
void to_json(Json& j, const PageRecord& r);
void from_json(const Json& j, PageRecord& r);

// Everything a job needs to resume after quitting. Reading one checks only
// that every field is there with its type; whether it fits its folder, its
// source and the current settings is the job store's check.
struct Checkpoint {
    static constexpr int64_t currentSchemaVersion = 1;

    int64_t schemaVersion = currentSchemaVersion;
    UUID jobID;
    UUID attemptID;  // names the job folder; new for every job created
    Date created;
    Date updated;
    SourceIdentity source;
    OCRSettings settings;
    std::string dictionaryHash;
    std::vector<PageRecord> pages;  // page n at position n - 1

    bool operator==(const Checkpoint&) const = default;
};

void to_json(Json& j, const Checkpoint& c);
void from_json(const Json& j, Checkpoint& c);

// The stored form of a checkpoint: its exact encoded bytes (Base64 in the
// file) and their digest, so that a damaged file is recognised before any of
// its content is believed.
struct CheckpointEnvelope {
    std::vector<uint8_t> payload;
    std::string sha256;

    static CheckpointEnvelope seal(const Checkpoint& checkpoint);
    // The payload once its digest matches; damagedCheckpoint otherwise.
    const std::vector<uint8_t>& verifiedPayload() const;
    // The checkpoint inside; damagedCheckpoint for a digest mismatch or a
    // payload that is not a checkpoint.
    Checkpoint open() const;

    bool operator==(const CheckpointEnvelope&) const = default;
};

void to_json(Json& j, const CheckpointEnvelope& e);
void from_json(const Json& j, CheckpointEnvelope& e);

// The files of a job folder.
namespace CheckpointFile {

inline constexpr std::string_view name = "checkpoint.json";

// "page-12.json" for page 12.
std::string pageFileName(int64_t page);

// Atomically replaces "checkpoint.json"; the write's error passes on.
void write(const SecureDirectory& folder, const Checkpoint& checkpoint);
// The read error of the folder passes on unchanged; an envelope that cannot
// be decoded, or whose digest or payload is wrong, is damagedCheckpoint.
Checkpoint read(const SecureDirectory& folder);

}  // namespace CheckpointFile
}  // namespace velmora
