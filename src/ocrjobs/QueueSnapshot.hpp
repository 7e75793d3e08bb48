#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "foundation/FileStamp.hpp"
#include "foundation/JSON.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/QueueInput.hpp"
#include "ocrjobs/OCRDecorationState.hpp"

namespace velmora {

// The saved highlights of one edited result page; they apply only while the
// page's result checksum is still the one they were saved with.
struct QueueEditorState {
    UUID inputID;
    int64_t page = 0;  // 1-based
    std::string resultChecksum;
    OCRDecorationState decoration;

    QueueEditorState() = default;
    QueueEditorState(UUID inputID, int64_t page, std::string resultChecksum, OCRDecorationState decoration)
        : inputID(inputID), page(page), resultChecksum(std::move(resultChecksum)), decoration(std::move(decoration)) {}

    bool operator==(const QueueEditorState&) const = default;
};

void to_json(Json& j, const QueueEditorState& s);
void from_json(const Json& j, QueueEditorState& s);

// One once-only publication: written before the file is linked under its
// name, completed once the publication has finished.
struct QueueExportRecord {
    std::string path;
    FileStamp stamp;
    bool complete = false;

    QueueExportRecord() = default;
    QueueExportRecord(std::string path, FileStamp stamp, bool complete)
        : path(std::move(path)), stamp(std::move(stamp)), complete(complete) {}

    bool operator==(const QueueExportRecord&) const = default;
};

void to_json(Json& j, const QueueExportRecord& r);
void from_json(const Json& j, QueueExportRecord& r);

// The whole state of one OCR queue, as written to "queue.json" inside its
// envelope. Reading checks types and raw values only; whether a file may be
// resumed (its version, its folder, its ids) is the engine's check.
struct QueueSnapshot {
    static constexpr int64_t currentSchemaVersion = 3;

    int64_t schemaVersion = currentSchemaVersion;
    UUID id;
    Date created{};
    OCRSettings settings;
    QueueStatus status = QueueStatus::ready;
    std::vector<QueueInput> inputs;  // in run, text and export order
    // Keyed by input id as upper-case UUID text.
    std::optional<std::map<std::string, QueuePresentation>> viewStates;
    // Keyed by the caller's key.
    std::optional<std::map<std::string, QueueEditorState>> editorStates;
    std::optional<UUID> selectedInput;
    std::optional<int64_t> selectedPage;
    std::optional<std::vector<std::string>> automaticExports;  // in marking order, duplicates kept
    std::optional<std::map<std::string, QueueExportRecord>> exportJournal;
    // The last record of the edit journal (see QueueEditJournal) whose
    // change this snapshot holds: replaying skips every record up to it, so
    // a journal not yet emptied after its fold applies nothing twice.
    std::optional<uint64_t> journalSequence;

    // Nil id; what a decoder fills in.
    QueueSnapshot() = default;
    // A new ready queue with a new id, created now (whole seconds, as stored).
    QueueSnapshot(OCRSettings settings, std::vector<QueueInput> inputs);

    // False as soon as one input is private: such a queue is never written.
    bool persistent() const;
    // Pages of the inputs whose file has been read.
    int64_t knownPages() const;
    // Inputs whose file has not been read.
    int64_t unknownFiles() const;
    // Page records over all inputs; inputs without records add nothing.
    int64_t completedPages() const;
    int64_t failedPages() const;
    // Inputs whose status is failed, whatever their pages: a file that could
    // not be read at all fails with no page to count.
    int64_t failedInputs() const;

    const QueueInput* input(const UUID& inputID) const;
    QueueInput* input(const UUID& inputID);

    bool operator==(const QueueSnapshot&) const = default;
};

void to_json(Json& j, const QueueSnapshot& s);
void from_json(const Json& j, QueueSnapshot& s);

// The form of "queue.json": the snapshot's exact encoded bytes (Base64 in the
// file) and their digest, checked before anything inside is believed.
struct QueueEnvelope {
    std::vector<uint8_t> payload;
    std::string sha256;

    static QueueEnvelope seal(const QueueSnapshot& snapshot);
    // Whether the payload still has its digest.
    bool intact() const;

    bool operator==(const QueueEnvelope&) const = default;
};

void to_json(Json& j, const QueueEnvelope& e);
void from_json(const Json& j, QueueEnvelope& e);

// How the queue's TXT text is put together. Not stored.
struct TXTOptions {
    bool preserveLines = true;
    bool pageSeparators = true;
    bool combined = true;

    TXTOptions() = default;
    TXTOptions(bool preserveLines, bool pageSeparators = true, bool combined = true)
        : preserveLines(preserveLines), pageSeparators(pageSeparators), combined(combined) {}

    bool operator==(const TXTOptions&) const = default;
};

}  // namespace velmora
