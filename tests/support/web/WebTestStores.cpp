#include "support/web/WebTestStores.hpp"

#include "support/TempDir.hpp"

namespace velmora::test {

WebKitNetworkSession* sharedPersistentStore() {
    // Never removed by the process: the engine writes there until it ends.
    static TempDir* dir = new TempDir;
    static WebKitNetworkSession* store =
        webkit_network_session_new((dir->path() / "data").c_str(), (dir->path() / "cache").c_str());
    return store;
}

WebKitNetworkSession* sharedEphemeralStore() {
    static WebKitNetworkSession* store = webkit_network_session_new_ephemeral();
    return store;
}

}  // namespace velmora::test
