#include "support/web/WebTestStores.hpp"

#include "support/TempDir.hpp"

namespace velmora::test {

WebKitNetworkSession* sharedPersistentStore() {
    static TempDir* dir = new TempDir;  // never removed while the process runs
    static WebKitNetworkSession* store =
        webkit_network_session_new((dir->path() / "data").c_str(), (dir->path() / "cache").c_str());
    return store;
}

WebKitNetworkSession* sharedEphemeralStore() {
    static WebKitNetworkSession* store = webkit_network_session_new_ephemeral();
    return store;
}

}  // namespace velmora::test
