#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/BrindlexError.hpp"
#include "foundation/ObservableValue.hpp"
#include "foundation/OutputRoots.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"
#include "history/HistoryRecords.hpp"

namespace velmora {

class SettingsStore;

// The persistent list of everything the application saved, with the stamp of
// each output as written: "history.json" in the history folder. The file is
// the only state: every operation takes the blocking "history-lock", reads the
// whole file, changes it and replaces it atomically, so windows, tasks and
// processes can share it.
class CaptureHistory {
public:
    static constexpr const char* fileName = "history.json";
    static constexpr const char* lockName = "history-lock";
    static constexpr const char* migrationStem = "history-migration-original";

    // Opens (and creates) the history folder.
    CaptureHistory(const std::filesystem::path& directory, std::vector<std::filesystem::path> outputRoots);
    CaptureHistory(const CaptureHistory&) = delete;
    CaptureHistory& operator=(const CaptureHistory&) = delete;

    const SecureDirectory& directory() const noexcept { return directory_; }
    const std::vector<std::filesystem::path>& outputRoots() const noexcept { return outputRoots_; }

    // The stored entries, oldest first. A legacy file (a bare array) is
    // migrated on first contact, its old bytes kept once beside it.
    std::vector<CaptureHistoryEntry> entries();

    // Adds a finished entry once: an id already stored with the same kind
    // changes nothing; with another kind it is damagedCheckpoint. Every output
    // must lie in an approved folder and still match its stamp
    // (confirmationChanged otherwise).
    void reconcile(const CaptureHistoryEntry& entry);

    // Records files the application just wrote as a new entry. A private
    // session records nothing. An output outside the approved folders, with
    // more than one link, or that is one of the sources is unsafePath.
    // ("register" is a C++ keyword.)
    void registerOutputs(const std::vector<std::filesystem::path>& outputs, std::string_view kind,
                         bool privateSession, std::optional<ErrorCase> error,
                         const std::vector<std::filesystem::path>& sourceURLs);

    // Drops entries created before the cut-off, except those with a file held
    // half-way to the Trash.
    void pruneReferences(Date before);
    // Drops the entry with this id. An entry with a file held half-way to the
    // Trash stays, so that file keeps its record; returns whether no entry
    // with the id remains.
    bool removeReference(UUID id);
    // Drops every entry without a file held half-way to the Trash.
    void removeAllReferences();

    // Moving files to the Trash is a two-step handshake: a proposal checks
    // that the entry's files are still the ones written, and executing it
    // re-checks that nothing changed since, holds each file in a private
    // folder beside it while it is verified, and only then hands it to the
    // Trash. A file caught in between stays recorded as pending.

    // Receives the held file and the output's own path (where the desktop's
    // Restore should put it back); returns where the file now lies, or
    // nothing when it is in the Trash at a place that cannot be known.
    using TrashFunction = std::function<std::optional<std::filesystem::path>(
        const std::filesystem::path& held, const std::filesystem::path& original)>;

    // invalidInput when no entry has the id; confirmationChanged when an
    // available output is outside the approved folders, changed, or is one of
    // the entry's sources.
    DeleteProposal proposal(UUID entryID);
    // One receipt per output that was available, in order. A proposal is used
    // once; an entry that changed since its proposal is confirmationChanged.
    // Without a trash function the desktop's Trash is used.
    std::vector<TrashReceipt> execute(const DeleteProposal& proposal, const TrashFunction& trash = nullptr);
    // Moves files a trash run left held back to their own names, and settles
    // pending records whose held file is gone. Returns how many files moved.
    int64_t restorePending();

    // Whether a path lies strictly inside one of the folders (lexically, after
    // normalisation; a folder is not inside itself).
    static bool contains(const std::vector<std::filesystem::path>& roots, const std::filesystem::path& path);

private:
    void locked(const std::function<void()>& body) const;
    std::vector<CaptureHistoryEntry> load() const;
    void save(const std::vector<CaptureHistoryEntry>& entries) const;
    // The current stamp of a file inside an approved folder; outsideError is
    // thrown for any other path.
    FileStamp stampInside(const std::filesystem::path& path, ErrorCase outsideError) const;
    TrashReceipt trashOne(std::vector<CaptureHistoryEntry>& entries, std::size_t entryIndex, std::size_t outputIndex,
                          const TrashFunction& trash) const;
    bool settlePending(SavedOutput& output, int64_t& restored) const;

    SecureDirectory directory_;
    std::vector<std::filesystem::path> outputRoots_;
    // Delete proposals already executed through this object.
    std::set<UUID> consumed_;
};

bool isKnownKind(std::string_view kind);
bool hasPendingOutput(const CaptureHistoryEntry& entry);

// The process-wide way to the capture history. The application shell
// configures it once at start-up with its storage root, its settings store
// and its approved folders; every access builds a fresh store and applies the
// retention preference.
namespace AppHistory {

struct Environment {
    // The storage root; the history lies in its "history" folder.
    std::filesystem::path storage;
    // Not owned; must outlive the configuration. The settings are read on
    // the thread that asks for the store, which is the main thread.
    const SettingsStore* settings = nullptr;
    const OutputRootsSource* roots = nullptr;
};

constexpr const char* initialNotice = "通常の保存結果だけを表示します。プライベートは登録しません。";
constexpr const char* recoveredNotice = "前回の保存結果を履歴に反映しました。";
constexpr const char* retainedNotice = "確認できない保存情報は保持しています。履歴で確認してください。";
constexpr const char* recoveryFailedNotice = "前回の保存情報を確認できないため保持しています。";

void configure(Environment environment);
void clearConfiguration();

// A new store with the retention applied; null when it cannot be built.
std::unique_ptr<CaptureHistory> store();
// The same, throwing. Before the shell has configured it: accessDenied.
std::unique_ptr<CaptureHistory> required();

// The start-up notice: one text slot shared by the launch recovery and the
// OCR queue controller. Main thread only.
ObservableValue<std::string>& startupNotice();

// Configures AppHistory for one test and restores the previous configuration.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(Environment environment);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    std::optional<Environment> previous_;
};

}  // namespace AppHistory

}  // namespace velmora
