#include "settingsui/PrivacyPorts.hpp"

#include <chrono>
#include <memory>
#include <set>
#include <string>

#include "foundation/GLibError.hpp"
#include "foundation/GObjectRef.hpp"

namespace velmora {

namespace {

struct DataList {
    GList* list = nullptr;
    ~DataList() { g_list_free_full(list, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref)); }
};

// The network session's own website data manager: data goes only through
// the store the records were listed from, never the engine's default one.
class EngineStore final : public SiteDataStores::Store {
public:
    explicit EngineStore(WebKitNetworkSession* session)
        : manager_(GObjectRef<WebKitWebsiteDataManager>::ref(webkit_network_session_get_website_data_manager(session))) {}

    Task<void> remove(std::vector<WebsiteDataRecord> records) override {
        // The engine writes a page's cache entry up to a second after the
        // page has loaded, and a removal reaches only entries already
        // written: those of a page loaded just before its tabs closed land
        // after the removal, and the site is back in the store of a
        // deletion reported as done. So once that delay has passed since the
        // tabs closed, the sites are read again and what came back is
        // removed, until a read finds nothing.
        const auto closed = std::chrono::steady_clock::now();
        std::set<std::string> names;
        for (const auto& record : records) names.insert(record.name);

        // A record names the origins and hosts its site had when it was
        // listed, and the engine removes only those: data the site stored
        // afterwards (a page loaded while the question was up) would stay
        // behind. So the sites' records are read again now that their tabs
        // are closed; the listed ones stand in if that read fails.
        try {
            Task<std::vector<WebsiteDataRecord>> reading = current(names);
            records = co_await std::move(reading);
        } catch (const GLibError&) {
        }
        Task<void> removal = removeRecords(std::move(records));
        co_await std::move(removal);

        for (int sweep = 0; sweep < sweeps; ++sweep) {
            const auto due = closed + (sweep + 1) * settle;
            if (const auto now = std::chrono::steady_clock::now(); now < due) co_await sleepFor(due - now);
            Task<std::vector<WebsiteDataRecord>> reading = current(names);
            std::vector<WebsiteDataRecord> back = co_await std::move(reading);
            if (back.empty()) co_return;
            Task<void> again = removeRecords(std::move(back));
            co_await std::move(again);
        }
    }

private:
    // Longer than the engine's delay of its cache writes (one second), with
    // room for a loaded machine to run the writes queued behind it.
    static constexpr std::chrono::milliseconds settle{2000};
    static constexpr int sweeps = 3;

    // The store's records of the named sites now. The engine's error passes
    // on.
    Task<std::vector<WebsiteDataRecord>> current(std::set<std::string> names) {
        auto fetched = co_await awaitAsync([this](GAsyncReadyCallback callback, gpointer data) {
            webkit_website_data_manager_fetch(manager_.get(), WEBKIT_WEBSITE_DATA_ALL, nullptr, callback, data);
        });
        GError* error = nullptr;
        DataList list{webkit_website_data_manager_fetch_finish(manager_.get(), fetched.get(), &error)};
        GLibError::check(error);
        std::vector<WebsiteDataRecord> out;
        for (GList* l = list.list; l; l = l->next) {
            auto record = WebsiteDataRecord::from(static_cast<WebKitWebsiteData*>(l->data));
            if (names.contains(record.name)) out.push_back(std::move(record));
        }
        co_return out;
    }

    Task<void> removeRecords(std::vector<WebsiteDataRecord> records) {
        // The list borrows the records' references, which `records` keeps
        // until the engine has answered.
        std::unique_ptr<GList, decltype(&g_list_free)> list(nullptr, g_list_free);
        for (auto it = records.rbegin(); it != records.rend(); ++it) {
            if (it->data) list.reset(g_list_prepend(list.release(), it->data.get()));
        }
        if (!list) co_return;
        GList* targets = list.get();
        auto removed = co_await awaitAsync([this, targets](GAsyncReadyCallback callback, gpointer data) {
            webkit_website_data_manager_remove(manager_.get(), WEBKIT_WEBSITE_DATA_ALL, targets, nullptr, callback,
                                               data);
        });
        GError* error = nullptr;
        webkit_website_data_manager_remove_finish(manager_.get(), removed.get(), &error);
        GLibError::check(error);
    }

    GObjectRef<WebKitWebsiteDataManager> manager_;
};

}  // namespace

Task<std::vector<WebsiteDataRecord>> BrowserSiteDataStores::records(bool privateMode) {
    // Held by the task: the section may let the stores go while it waits.
    auto stores = stores_;
    co_return co_await stores->records(privateMode);
}

std::shared_ptr<SiteDataStores::Store> BrowserSiteDataStores::store(bool privateMode) {
    WebKitNetworkSession* session = privateMode ? stores_->privateStore() : stores_->normal();
    if (!session) return nullptr;
    return std::make_shared<EngineStore>(session);
}

}  // namespace velmora
