#include "browser/BrowserStores.hpp"

#include <stdexcept>

#include "foundation/SecureDirectory.hpp"
#include "webcapture/BrowserSession.hpp"

namespace velmora {

namespace {

constexpr const char* cookieFile = "cookies.sqlite";

std::filesystem::path storeFolder(const std::filesystem::path& storage) {
    return storage / "web" / BrowserSession::normalStoreID().text();
}

GObjectRef<WebKitNetworkSession> openNormal(const AppRuntime& runtime) {
    // Made and walked without following a link; the engine then gets the
    // paths of folders known to be ours.
    const SecureDirectory data(BrowserStores::normalDataFolder(runtime.storage), true);
    const SecureDirectory cache(BrowserStores::normalCacheFolder(runtime.storage), true);
    auto session = GObjectRef<WebKitNetworkSession>::adopt(
        webkit_network_session_new(data.url().c_str(), cache.url().c_str()));
    // The engine keeps cookies in memory only unless told where to store
    // them: without this, every sign-in would end with the launch.
    const std::string cookies = (data.url() / cookieFile).string();
    webkit_cookie_manager_set_persistent_storage(webkit_network_session_get_cookie_manager(session.get()),
                                                 cookies.c_str(), WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    return session;
}

struct DataList {
    GList* list = nullptr;
    ~DataList() { g_list_free_full(list, reinterpret_cast<GDestroyNotify>(webkit_website_data_unref)); }
};

}  // namespace

WebsiteDataRecord WebsiteDataRecord::from(WebKitWebsiteData* record) {
    const char* name = webkit_website_data_get_name(record);
    return {name ? name : "",
            std::shared_ptr<WebKitWebsiteData>(webkit_website_data_ref(record), webkit_website_data_unref)};
}

BrowserStores::BrowserStores(const AppRuntime& runtime) : normal_(openNormal(runtime)) {}

BrowserStores::BrowserStores(WebKitNetworkSession* normal) : normal_(GObjectRef<WebKitNetworkSession>::ref(normal)) {
    if (!normal) throw std::invalid_argument("the normal web store is missing");
}

std::filesystem::path BrowserStores::normalDataFolder(const std::filesystem::path& storage) {
    return storeFolder(storage) / "data";
}

std::filesystem::path BrowserStores::normalCacheFolder(const std::filesystem::path& storage) {
    return storeFolder(storage) / "cache";
}

WebKitNetworkSession* BrowserStores::acquirePrivate(const UUID& tab) {
    if (!private_) private_ = GObjectRef<WebKitNetworkSession>::adopt(webkit_network_session_new_ephemeral());
    if (!privateOwners->contains(tab)) {
        auto owners = privateOwners.get();
        owners.insert(tab);
        privateOwners = std::move(owners);
    }
    return private_.get();
}

void BrowserStores::releasePrivate(const UUID& tab) {
    if (!privateOwners->contains(tab)) return;
    auto owners = privateOwners.get();
    owners.erase(tab);
    // Dropped before the change is announced: an observer of the owners
    // never sees an empty set beside a store.
    if (owners.empty()) private_.reset();
    privateOwners = std::move(owners);
}

bool BrowserStores::beginDeletion(bool privateMode) { return deleting_.insert(privateMode).second; }

void BrowserStores::endDeletion(bool privateMode) { deleting_.erase(privateMode); }

Task<std::vector<WebsiteDataRecord>> BrowserStores::records(bool privateMode) {
    WebKitNetworkSession* store = privateMode ? private_.get() : normal_.get();
    if (!store) co_return std::vector<WebsiteDataRecord>{};
    // Held by the task: the stores (and the private store with them) may go
    // while the engine answers; nothing of this object is touched after it.
    auto manager = GObjectRef<WebKitWebsiteDataManager>::ref(webkit_network_session_get_website_data_manager(store));
    auto fetched = co_await awaitAsync([&manager](GAsyncReadyCallback callback, gpointer data) {
        webkit_website_data_manager_fetch(manager.get(), WEBKIT_WEBSITE_DATA_ALL, nullptr, callback, data);
    });
    GError* error = nullptr;
    DataList list{webkit_website_data_manager_fetch_finish(manager.get(), fetched.get(), &error)};
    if (error) {
        // The listing reports no failure to the settings screen: a store
        // whose records cannot be read offers nothing to delete, and the
        // user can list again.
        g_error_free(error);
        co_return std::vector<WebsiteDataRecord>{};
    }
    std::vector<WebsiteDataRecord> out;
    for (GList* l = list.list; l; l = l->next) out.push_back(WebsiteDataRecord::from(static_cast<WebKitWebsiteData*>(l->data)));
    co_return out;
}

}  // namespace velmora
