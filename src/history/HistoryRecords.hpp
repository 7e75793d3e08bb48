#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/FileStamp.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/UUID.hpp"
#include "capture/CaptureMetadata.hpp"

namespace velmora {

// One published file as the history knows it.
struct SavedOutput {
    // available: at `path` as published; pending: on its way to the Trash,
    // held at `pendingPath`; trashed: in the Trash; missing: not found;
    // changed: no longer matches `stamp`; failed: the move to the Trash failed.
    enum class State { available, trashed, missing, changed, failed, pending };

    UUID id = UUID::random();
    std::string path;
    FileStamp stamp;
    State state = State::available;
    std::optional<std::string> pendingPath;
};

std::string_view rawValue(SavedOutput::State s);
template <>
std::optional<SavedOutput::State> fromRaw<SavedOutput::State>(std::string_view raw);
void to_json(Json& j, SavedOutput::State s);
void from_json(const Json& j, SavedOutput::State& s);

void to_json(Json& j, const SavedOutput& o);
void from_json(const Json& j, SavedOutput& o);

// The current time as it is stored: whole seconds.
Date historyNow();

// One capture, print or OCR export. `kind` ("capture", "print", "ocr") and
// `state` ("completed", "partial", "interrupted", "cancelled", "failed") are
// what producers write; reading does not check them, so an entry written by a
// later version still reads.
struct CaptureHistoryEntry {
    UUID id = UUID::random();
    Date created = historyNow();
    std::string kind;
    std::string state;
    std::vector<SavedOutput> outputs;
    std::optional<ErrorCase> error;
    // The sources an OCR export was made from; empty for captures and prints.
    std::vector<FileStamp> sourceStamps;
    std::optional<CaptureMetadata> metadata;
    // Present on entries made by this program; an entry read back without
    // them stays without them.
    std::optional<int64_t> schemaVersion = 1;
    std::optional<std::string> appVersion = defaultAppVersion();

    static std::optional<std::string> defaultAppVersion();
};

void to_json(Json& j, const CaptureHistoryEntry& e);
void from_json(const Json& j, CaptureHistoryEntry& e);

// The entries of the history as bytes, for comparing two of them: the records
// define no equality of their own.
std::vector<uint8_t> encodedEntry(const CaptureHistoryEntry& e);

// A confirmation to move an entry's files to the Trash; held in memory only.
// Each proposal is its own, so a confirmation is used at most once.
struct DeleteProposal {
    UUID id;
    CaptureHistoryEntry entry;

    explicit DeleteProposal(CaptureHistoryEntry e) : id(UUID::random()), entry(std::move(e)) {}
};

// What the trash operation did with one output.
struct TrashReceipt {
    UUID outputID;
    SavedOutput::State state = SavedOutput::State::failed;
    // Where the file lies in the Trash, when that is known.
    std::optional<std::string> destination;
    // The file at `destination` was compared with the recorded stamp.
    bool destinationContentVerified = false;
    std::optional<int64_t> errorCode;
};

void to_json(Json& j, const TrashReceipt& r);
void from_json(const Json& j, TrashReceipt& r);

}  // namespace velmora
