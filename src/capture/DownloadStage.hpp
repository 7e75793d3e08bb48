#pragma once

// The private folder a browser download is received into, beside the folder
// the user approved, and the launch-time sweep of the ones left behind.
//
//   <destination>/.brindlex-downloads/<ID>/lease        held while it lives
//                                         /owner.json   who made it, finished
//                                         /payload      the bytes received
//
// A stage lives only as long as its download: once published or discarded
// it is taken away, and the root with it when no other stage is left, so
// the user's folder keeps nothing but the file. A stage that cannot be
// taken away is marked finished, for the next launch's sweep.
//
// The web engine writes the payload itself (as "payload.wkdownload" while it
// receives, renamed to "payload" when complete). The finished file reaches
// the destination by an exclusive rename under a free name, so a user's file
// is never replaced. Before every change the folders and the owner record
// are checked to be the ones made here: a stage that was replaced, moved or
// edited is left alone rather than deleted. Main thread only; between
// processes the lease alone decides who may touch a stage.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/JSON.hpp"
#include "foundation/OwnedRecord.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/StateLease.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

class DownloadStage final {
public:
    static constexpr const char* rootName = ".brindlex-downloads";
    static constexpr const char* leaseName = "lease";
    static constexpr const char* ownerName = "owner.json";
    static constexpr const char* payloadName = "payload";
    // The engine's file while it still receives.
    static constexpr const char* partialName = "payload.wkdownload";
    static constexpr const char* purpose = "download-stage";
    static constexpr const char* fallbackName = "Download";

    // "owner.json"; all seven keys are required.
    struct Owner {
        int64_t schema = 1;
        std::string creator;
        std::string purpose;
        UUID id;
        uint64_t device = 0;
        uint64_t inode = 0;
        bool finished = false;

        bool operator==(const Owner&) const = default;
    };

    // Moments a test stops a process at, or acts at, to reach states a crash
    // or a concurrent writer would leave. Unset in the application.
    struct Hooks {
        // After the payload was renamed into the destination, before the
        // owner record says finished.
        std::function<void()> published;
        // In the sweep, between the two stamps of a stage's file.
        std::function<void(const std::filesystem::path& file)> betweenStamps;
        // In the sweep, after a stage's files were removed, before its owner
        // record says finished.
        std::function<void()> swept;
    };
    static Hooks& hooks();

    // Creates the stage (and ".brindlex-downloads", and the destination when
    // missing) and takes its lease. An owner record or payload already there
    // is fileExists.
    DownloadStage(const std::filesystem::path& destination, const UUID& id);
    DownloadStage(const DownloadStage&) = delete;
    DownloadStage& operator=(const DownloadStage&) = delete;

    const SecureDirectory& directory() const noexcept { return directory_; }
    const SecureDirectory& destination() const noexcept { return destination_; }
    const Owner& owner() const noexcept { return owner_; }

    // The file the web engine is told to write.
    std::filesystem::path payload() const { return directory_.url() / payloadName; }

    // The name a suggested file name is published under (before any "-n").
    static std::string filename(std::string_view name);

    // Both folders are still the ones opened, and the stored owner record
    // still the one written; otherwise confirmationChanged.
    void verifyOwnership() const;
    // Moves the payload into the destination under the first free name of
    // "<base>[-n][.ext]" and returns it. A payload with another link is
    // confirmationChanged, a stage already finished sourceMissing, 10,000
    // names taken fileExists. The payload stays in the stage whenever this
    // throws.
    std::filesystem::path publish(std::string_view name);
    // Deletes what the engine left in an unfinished stage and finishes it.
    // A file with another link is cleanupBlocked and stays.
    void discard();

    // The launch sweep of one destination's stages: the ones no live
    // process holds, whose record is ours and whose files hold still, are
    // taken away (removed counts them), then the root when it is empty.
    // Throws only when the root exists but cannot be opened or listed;
    // creates nothing.
    static CleanupResult cleanup(const std::filesystem::path& destination);

private:
    void writeOwner() const;
    // Marks the stage finished and takes it away, or, when it cannot be,
    // writes the record saying so.
    void finishStage();

    // Declared in the order they are made.
    SecureDirectory destination_;
    SecureDirectory directory_;
    StateLease lease_;
    Owner owner_;
};

void to_json(Json& j, const DownloadStage::Owner& o);
void from_json(const Json& j, DownloadStage::Owner& o);

}  // namespace velmora
