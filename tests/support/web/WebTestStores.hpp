#pragma once

#include <webkit/webkit.h>

namespace velmora::test {

// Network sessions that live until the program ends. A persistent session's
// network process keeps writing into its folders after the session is
// dropped, and WebKit fails the loads of whatever test runs next when it
// finds them gone ("internallyFailedLoadTimerFired"); so no test makes a
// persistent session on folders of its own, but for the one that checks
// what a program leaves in the temporary folder, run as a program of its
// own. The shared one's folder goes with the program's temporary folder,
// once the engine's processes have ended (OwnTemporaryFolder.hpp).
WebKitNetworkSession* sharedPersistentStore();
WebKitNetworkSession* sharedEphemeralStore();

}  // namespace velmora::test
