#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "foundation/BrindlexError.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "recognition/page/OCRTypes.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/UUID.hpp"
#include "ocrjobs/Checkpoint.hpp"
#include "ocrjobs/SourceIdentity.hpp"

namespace velmora {

// One OCR job: its checkpoint and either its own job folder, where every
// change is saved before the operation returns, or (for a job made without a
// parent folder, as a private document's is) its results in memory only,
// with nothing ever written to disk.
//
// Page workers and the queue use one store from several threads; every
// operation holds the store's recursive lock from start to end, file access
// and save included, so operations never interleave and every save writes a
// consistent checkpoint.
class JobStore {
public:
    // The most the results of a job without a folder may take in memory, as
    // the total size of their JSON encodings.
    static constexpr int64_t privateTextLimit = 67108864;

    // A new job with a new attempt. With a parent, its folder is the parent
    // plus the attempt's UUID text (made as needed) and the checkpoint is
    // written at once. A source without pages is invalidInput, after the
    // folder was made.
    static std::unique_ptr<JobStore> create(const SourceIdentity& source, const OCRSettings& settings,
                                            const std::optional<std::filesystem::path>& parent,
                                            UUID jobID = UUID::random());

    // Reopens the job folder of an earlier attempt, once the checkpoint is
    // intact and fits its folder (damagedCheckpoint), the source still has
    // the same content (sourceChanged) and the settings are the same
    // (settingsChanged), and every completed page's file is the one
    // committed (damagedCheckpoint). Pages in progress or cancelled become
    // pending again; the stored source path follows the file. With
    // validateOnly the folder is left exactly as it was.
    static std::unique_ptr<JobStore> resume(const std::filesystem::path& folder, const SourceIdentity& source,
                                            const OCRSettings& settings, bool validateOnly = false);

    JobStore(const JobStore&) = delete;
    JobStore& operator=(const JobStore&) = delete;

    // A pending page is begun; any other, or a page outside the job, is
    // damagedCheckpoint.
    void begin(int64_t page);
    // Stores the result of the begun page it names and completes the page.
    // Over the memory limit of a job without a folder: budgetExceeded, with
    // nothing changed.
    void commit(const PageResult& result);
    // Records the failure, whatever the page's state was.
    void fail(int64_t page, ErrorCase error);
    // Back to pending, whatever the page's state was.
    void deferPage(int64_t page);
    // Every pending page becomes cancelled.
    void skipPending();
    // The source document now lies at another path (the same bytes, checked
    // by the caller): only the source's path changes, saved when the job has
    // a folder.
    void relocate(const std::filesystem::path& path);
    // The given failed pages become pending, each latest error moving to the
    // end of its prior failures. A page outside the job or not failed is
    // invalidInput, and nothing changes.
    void retryFailed(const std::set<int64_t>& pages);

    // The stored result of a completed page, verified against its checksum;
    // nothing for a page not completed. invalidInput outside the job.
    std::optional<PageResult> result(int64_t page) const;
    // Every page under its header line, blank lines between pages.
    std::string text() const;

    Checkpoint checkpoint() const;
    int64_t memoryBytes() const;
    // Fixed at creation; absent for a job without a folder.
    const std::optional<SecureDirectory>& directory() const { return directory_; }

private:
    JobStore() = default;

    PageRecord& record(int64_t page, ErrorCase outside);
    const PageRecord* recordIfInside(int64_t page) const;
    // Stamps the checkpoint and, with a folder, writes it.
    void save();
    // A completed page's result from its file or from memory, with its
    // checksum verified; nothing when neither holds it.
    std::optional<PageResult> storedResult(const PageRecord& record) const;

    mutable std::recursive_mutex stateLock_;
    Checkpoint storedCheckpoint_;
    int64_t transientBytes_ = 0;
    std::optional<SecureDirectory> directory_;
    std::map<int64_t, PageResult> transient_;
};

}  // namespace velmora
