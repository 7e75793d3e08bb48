#pragma once

// The thumbnails of the history's entries, made once from each entry's first
// output and kept as PNG data: up to 64 in memory, and one file per entry in
// "history-thumbnails" under the storage root (beside "history"), reused by
// later runs until `retain` drops its entry.
//
// The cache is an actor: one worker thread of its own takes the jobs in the
// order they were queued, so a load and a clean-up never interleave and the
// memory needs no lock (only that thread touches it). A load is awaited from
// a task on the main context and resumes there; a task cancelled before its
// job starts gets nothing, not even from memory. Nothing here throws: every
// failure (folder, read, render, write) is "no thumbnail". A thumbnail of
// more than 262,144 bytes, stored or freshly rendered, is neither returned,
// written nor deleted.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "foundation/Task.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

class HistoryThumbnailCache {
public:
    using Data = std::vector<uint8_t>;

    static constexpr const char* folderName = "history-thumbnails";
    static constexpr std::size_t largestThumbnail = 262144;
    static constexpr std::size_t memoryCapacity = 64;

    // The process-wide cache; its storage root is the one of
    // AppRuntime::current() at the time each job is queued.
    static HistoryThumbnailCache& shared();

    // A cache of its own; without a root it follows AppRuntime::current().
    explicit HistoryThumbnailCache(std::optional<std::filesystem::path> storage = std::nullopt);
    // Runs the jobs already queued, then stops the worker.
    ~HistoryThumbnailCache();
    HistoryThumbnailCache(const HistoryThumbnailCache&) = delete;
    HistoryThumbnailCache& operator=(const HistoryThumbnailCache&) = delete;

    class Load;

    // The thumbnail of the entry: from memory, from its file, or rendered
    // from the file at url. Await it inside a task on the main context.
    Load load(UUID entryID, std::filesystem::path url);

    // Queued and not awaited: deletes every stored "<UUID>.png" whose id is
    // not kept, and forgets those ids in memory. Other files stay.
    void retain(std::set<UUID> kept);

private:
    void enqueue(std::function<void()> job);
    void work();
    std::filesystem::path root() const;

    // Worker thread only.
    std::optional<Data> loadNow(UUID id, const std::filesystem::path& url, const std::filesystem::path& storage);
    void retainNow(const std::set<UUID>& kept, const std::filesystem::path& storage);
    void remember(UUID id, const Data& data);

    std::optional<std::filesystem::path> storage_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
    std::thread worker_;

    // Worker thread only: memory in insertion order.
    std::map<UUID, Data> memory_;
    std::vector<UUID> order_;
};

// The awaitable of one load: its job runs on the cache's thread, the task
// resumes on the main context. A task that goes away first drops the result.
class HistoryThumbnailCache::Load {
public:
    struct Shared {
        std::optional<Data> value;
        std::coroutine_handle<> handle;  // main thread only
        detail::StateRef state;
    };

    Load(HistoryThumbnailCache& cache, UUID id, std::filesystem::path url, std::filesystem::path storage)
        : cache_(&cache), id_(id), url_(std::move(url)), storage_(std::move(storage)),
          s_(std::make_shared<Shared>()) {}
    Load(Load&&) = default;
    ~Load() {
        if (s_) s_->handle = {};
    }

    bool await_ready() const noexcept { return false; }
    template <typename P>
    void await_suspend(std::coroutine_handle<P> h) {
        s_->state = detail::stateOf(h);
        s_->handle = h;
        start();
    }
    std::optional<Data> await_resume() { return std::move(s_->value); }

private:
    void start();

    HistoryThumbnailCache* cache_;
    UUID id_;
    std::filesystem::path url_;
    std::filesystem::path storage_;
    std::shared_ptr<Shared> s_;
};

}  // namespace velmora
