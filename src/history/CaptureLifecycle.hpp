#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/FileStamp.hpp"
#include "foundation/JSON.hpp"
#include "foundation/RawValue.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/StateLease.hpp"
#include "foundation/UUID.hpp"
#include "history/HistoryRecords.hpp"
#include "capture/CaptureMetadata.hpp"
#include "capture/CapturePlan.hpp"

namespace velmora {

class CaptureHistory;

// The publication journal of one capture or print attempt: a folder named by
// the attempt id under the lifecycle root, holding "lifecycle.json" and the
// lease "lifecycle-lease". Every output is recorded with its stamp before it
// is published, so after a crash the next launch can put exactly what was
// published into the history.
class CaptureLifecycle : public ExpectedOutputs {
public:
    static constexpr const char* journalName = "lifecycle.json";
    static constexpr const char* leaseName = "lifecycle-lease";

    struct Journal {
        enum class State { started, publishing, completed, cancelled, failed, reconciled };

        int64_t schema = 1;
        std::string creator;
        UUID jobID;
        UUID attemptID;
        UUID launchID;
        Date created;
        std::string kind;
        State state = State::started;
        std::optional<int64_t> expectedCount;
        std::vector<SavedOutput> outputs;
        std::optional<ErrorCase> error;
        std::optional<CaptureMetadata> metadata;
    };

    // What one recovery run did with the folders it found.
    struct Recovery {
        int64_t recovered = 0;
        int64_t active = 0;
        int64_t retained = 0;
        int64_t alreadyReconciled = 0;

        bool operator==(const Recovery&) const = default;
    };

    // Starts an attempt of kind "capture" or "print" (anything else is
    // invalidInput, with nothing created) under the lifecycle root, holding
    // its lease until the attempt is in the history or this object goes away.
    explicit CaptureLifecycle(const std::filesystem::path& root, std::string kind = "capture",
                              std::optional<CaptureMetadata> metadata = std::nullopt);
    CaptureLifecycle(const CaptureLifecycle&) = delete;
    CaptureLifecycle& operator=(const CaptureLifecycle&) = delete;

    const SecureDirectory& directory() const noexcept { return directory_; }
    const Journal& journal() const noexcept { return journal_; }

    // Each change is made here first and then written; a failed write throws
    // and leaves the previous journal on disk.
    void metadata(std::optional<CaptureMetadata> metadata);
    // How many outputs the attempt will publish; below 1 is invalidInput.
    void expect(int64_t count) override;
    // Records one output just before it appears at url. A file recorded
    // earlier under another name (same device and inode) is recorded once,
    // under the latest name. After the attempt ended: damagedCheckpoint.
    void prepare(const std::filesystem::path& url, const FileStamp& stamp);
    // Ends the attempt (no error, cancelled, or the failure) and records it in
    // the history, unless it recorded no output (it saved nothing). A failure
    // leaves the journal in its final state with the lease held, for the next
    // launch's recovery.
    void finish(CaptureHistory& history, std::optional<ErrorCase> error = std::nullopt);

    // Resolves every unfinished journal under root into the history; one
    // that recorded no output is only marked reconciled, counted with those
    // already reconciled. Throws only when root cannot be opened or listed;
    // every folder's own trouble becomes a count.
    static Recovery recover(const std::filesystem::path& root, CaptureHistory& history);

    // The history entry the journal stands for, from the files as they are
    // now: files that are gone are left out; a file that changed, or has more
    // links than publication leaves, is confirmationChanged.
    static CaptureHistoryEntry historyEntry(const Journal& journal);

    // This process run.
    static UUID launchID();

private:
    void write();

    Journal journal_;
    SecureDirectory directory_;
    std::optional<StateLease> lease_;
};

std::string_view rawValue(CaptureLifecycle::Journal::State s);
template <>
std::optional<CaptureLifecycle::Journal::State> fromRaw<CaptureLifecycle::Journal::State>(std::string_view raw);
void to_json(Json& j, CaptureLifecycle::Journal::State s);
void from_json(const Json& j, CaptureLifecycle::Journal::State& s);

void to_json(Json& j, const CaptureLifecycle::Journal& journal);
void from_json(const Json& j, CaptureLifecycle::Journal& journal);
void to_json(Json& j, const CaptureLifecycle::Recovery& r);
void from_json(const Json& j, CaptureLifecycle::Recovery& r);

// The launch step of the capture history: resolve the capture journals, then
// move back files a trash run left held, and say what happened in the
// start-up notice. Runs before any attempt or trash run can start.
namespace HistoryLaunch {
// Null when the journals could not be examined at all.
std::optional<CaptureLifecycle::Recovery> run(const std::filesystem::path& lifecycleRoot);
}

}  // namespace velmora
