#pragma once

#include <webkit/webkit.h>

namespace velmora::test {

// Network sessions that live until the program ends. A persistent session's
// network process keeps writing into its folders after the session is
// dropped, and WebKit fails the loads of whatever test runs next when it
// finds them gone ("internallyFailedLoadTimerFired"); so no test makes a
// persistent session on folders of its own.
WebKitNetworkSession* sharedPersistentStore();
WebKitNetworkSession* sharedEphemeralStore();

}  // namespace velmora::test
