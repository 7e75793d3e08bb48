#include "settingsui/PrivacyPorts.hpp"

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
        // A record names the origins and hosts its site had when it was
        // listed, and the engine removes only those: data the site stored
        // afterwards (a cache entry written late, a page loaded while the
        // question was up) would stay behind a removal reported as done.
        // So the sites' records are read again now that their tabs are
        // closed; the listed ones stand in if that read fails.
        std::set<std::string> names;
        for (const auto& record : records) names.insert(record.name);
        auto fetched = co_await awaitAsync([this](GAsyncReadyCallback callback, gpointer data) {
            webkit_website_data_manager_fetch(manager_.get(), WEBKIT_WEBSITE_DATA_ALL, nullptr, callback, data);
        });
        GError* error = nullptr;
        DataList current{webkit_website_data_manager_fetch_finish(manager_.get(), fetched.get(), &error)};
        if (error) {
            g_error_free(error);
        } else {
            records.clear();
            for (GList* l = current.list; l; l = l->next) {
                auto record = WebsiteDataRecord::from(static_cast<WebKitWebsiteData*>(l->data));
                if (names.contains(record.name)) records.push_back(std::move(record));
            }
        }

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
        webkit_website_data_manager_remove_finish(manager_.get(), removed.get(), &error);
        GLibError::check(error);
    }

private:
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
