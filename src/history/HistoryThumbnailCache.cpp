#include "history/HistoryThumbnailCache.hpp"

#include <fcntl.h>

#include <algorithm>

#include "foundation/FileIO.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "history/ThumbnailRenderer.hpp"

namespace velmora {

namespace {

constexpr std::string_view pngExtension = ".png";

std::string fileName(UUID id) { return id.text() + std::string(pngExtension); }

}  // namespace

HistoryThumbnailCache& HistoryThumbnailCache::shared() {
    // Never destroyed: the actor serves every view for the whole process,
    // and joining its thread at exit could wait on a render for nothing.
    static auto* cache = new HistoryThumbnailCache();
    return *cache;
}

HistoryThumbnailCache::HistoryThumbnailCache(std::optional<std::filesystem::path> storage)
    : storage_(std::move(storage)), worker_([this] { work(); }) {}

HistoryThumbnailCache::~HistoryThumbnailCache() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    worker_.join();
}

std::filesystem::path HistoryThumbnailCache::root() const {
    return storage_ ? *storage_ : AppRuntime::current().storage;
}

void HistoryThumbnailCache::enqueue(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void HistoryThumbnailCache::work() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) return;  // stopping, and every queued job has run
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

HistoryThumbnailCache::Load HistoryThumbnailCache::load(UUID entryID, std::filesystem::path url) {
    return Load(*this, entryID, std::move(url), root());
}

void HistoryThumbnailCache::Load::start() {
    auto s = s_;
    HistoryThumbnailCache* cache = cache_;
    cache->enqueue([cache, s, id = id_, url = url_, storage = storage_] {
        // A task cancelled before its turn gets nothing, not even from memory.
        if (!(s->state && s->state->cancelled())) s->value = cache->loadNow(id, url, storage);
        detail::onMainContext([s] {
            if (auto h = std::exchange(s->handle, {})) detail::resumeTask(h, s->state);
        });
    });
}

void HistoryThumbnailCache::retain(std::set<UUID> kept) {
    enqueue([this, kept = std::move(kept), storage = root()] { retainNow(kept, storage); });
}

std::optional<HistoryThumbnailCache::Data> HistoryThumbnailCache::loadNow(UUID id, const std::filesystem::path& url,
                                                                           const std::filesystem::path& storage) {
    if (auto hit = memory_.find(id); hit != memory_.end()) return hit->second;

    std::optional<SecureDirectory> folder;
    try {
        folder.emplace(storage / folderName, /*create=*/true);
    } catch (...) {
        return std::nullopt;  // no folder, no thumbnails: the placeholder stays
    }
    const std::string name = fileName(id);

    // A stored thumbnail: its size is known before it is read, so an
    // oversized file is refused without reading it, and left where it is.
    if (FileIO::OpenedFile stored = FileIO::openRegular(folder->descriptor(), name.c_str())) {
        if (static_cast<std::size_t>(stored.status.st_size) > largestThumbnail) return std::nullopt;
        try {
            Data data = FileIO::readAll(stored.fd.get());
            if (data.size() > largestThumbnail) return std::nullopt;
            // A sliver of a tall page stored by an earlier version is made
            // again below, and replaced.
            if (!ThumbnailRenderer::outdated(data)) {
                remember(id, data);
                return data;
            }
        } catch (...) {
            // Unreadable: made again from the output below.
        }
    }

    std::optional<Data> rendered = ThumbnailRenderer::render(url);
    if (!rendered || rendered->size() > largestThumbnail) return std::nullopt;
    try {
        folder->replaceState(name, *rendered);
    } catch (...) {
        // The thumbnail is still shown; without its file it is rendered
        // again in the next run, which is all a failed write costs.
    }
    remember(id, *rendered);
    return rendered;
}

void HistoryThumbnailCache::remember(UUID id, const Data& data) {
    memory_[id] = data;
    order_.push_back(id);
    // Evicted in insertion order: a hit does not make an entry younger.
    while (order_.size() > memoryCapacity) {
        memory_.erase(order_.front());
        order_.erase(order_.begin());
    }
}

void HistoryThumbnailCache::retainNow(const std::set<UUID>& kept, const std::filesystem::path& storage) {
    // Memory and its order always name the same ids: an id no longer kept
    // leaves both, whether or not it had a file.
    std::erase_if(order_, [&](const UUID& id) { return !kept.contains(id); });
    std::erase_if(memory_, [&](const auto& item) { return !kept.contains(item.first); });

    std::optional<SecureDirectory> folder;
    std::vector<std::string> names;
    try {
        folder.emplace(storage / folderName, /*create=*/AppRuntime::isIsolated);
        names = folder->list();
    } catch (...) {
        return;  // no folder (nothing stored yet) or unlistable: nothing to drop
    }
    for (const std::string& name : names) {
        if (name.size() <= pngExtension.size() || !name.ends_with(pngExtension)) continue;
        const std::optional<UUID> id = UUID::parse(std::string_view(name).substr(0, name.size() - pngExtension.size()));
        if (!id || kept.contains(*id)) continue;
        try {
            folder->removeOwnedFile(name);
        } catch (...) {
            // Left for the next clean-up; a stale thumbnail is never shown,
            // as no entry has its id any more.
        }
    }
}

}  // namespace velmora
