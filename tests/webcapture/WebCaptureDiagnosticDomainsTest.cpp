#include <gtest/gtest.h>

#include <libsoup/soup.h>
#include <webkit/webkit.h>

#include "foundation/GLibError.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

using namespace velmora;
using Code = WebCaptureDiagnosticFailure::Code;

namespace {

Code codeOf(GQuark domain, int code) {
    return WebCaptureDiagnosticFailure::code(std::make_exception_ptr(GLibError(domain, code, "test")));
}

}  // namespace

// The report names errors by the domains the libraries really register, not
// by names this program assumes for them.
TEST(WebCaptureDiagnosticDomains, TheEnginesOwnErrorDomainsAreNamedAsTheReportExpects) {
    EXPECT_EQ(codeOf(WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_TRANSPORT),
              (Code{"NSURLErrorDomain", WEBKIT_NETWORK_ERROR_TRANSPORT}));
    EXPECT_EQ(codeOf(SOUP_SESSION_ERROR, SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS),
              (Code{"NSURLErrorDomain", SOUP_SESSION_ERROR_TOO_MANY_REDIRECTS}));
    EXPECT_EQ(codeOf(SOUP_WEBSOCKET_ERROR, 1), (Code{"NSURLErrorDomain", 1}));
    EXPECT_EQ(codeOf(G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE), (Code{"NSURLErrorDomain", G_TLS_ERROR_BAD_CERTIFICATE}));
    for (GQuark engine : {WEBKIT_POLICY_ERROR, WEBKIT_DOWNLOAD_ERROR, WEBKIT_PRINT_ERROR, WEBKIT_JAVASCRIPT_ERROR,
                          WEBKIT_SNAPSHOT_ERROR, WEBKIT_USER_CONTENT_FILTER_ERROR, WEBKIT_MEDIA_ERROR}) {
        EXPECT_EQ(codeOf(engine, 3), (Code{"WKErrorDomain", 3})) << g_quark_to_string(engine);
    }
    EXPECT_EQ(codeOf(WEBKIT_SNAPSHOT_ERROR, WEBKIT_SNAPSHOT_ERROR_FAILED_TO_CREATE),
              (Code{"WKErrorDomain", WEBKIT_SNAPSHOT_ERROR_FAILED_TO_CREATE}));
    EXPECT_EQ(codeOf(G_IO_ERROR, G_IO_ERROR_CANCELLED), (Code{"NSCocoaErrorDomain", G_IO_ERROR_CANCELLED}));
}
