#include <gtest/gtest.h>

#include "capture/WebAddress.hpp"

using namespace velmora;

TEST(WebAddress, TwoServersOnOneHostReadApartAndTheSchemesOwnPortReadsAsNone) {
    EXPECT_EQ(WebAddress::shownHost("http://127.0.0.1:8080/a"), "127.0.0.1:8080");
    EXPECT_EQ(WebAddress::shownHost("http://127.0.0.1:8081/a"), "127.0.0.1:8081");
    EXPECT_EQ(WebAddress::shownHost("https://example.jp:443/"), "example.jp");
    EXPECT_EQ(WebAddress::shownHost("http://example.jp:80/"), "example.jp");
    EXPECT_EQ(WebAddress::shownHost("http://example.jp:443/"), "example.jp:443");
    EXPECT_EQ(WebAddress::shownHost("https://例え.jp/ページ"), "例え.jp");
    EXPECT_EQ(WebAddress::shownHost("http://[::1]:8443/"), "[::1]:8443");
    EXPECT_EQ(WebAddress::shownHost("http://[::1]/"), "[::1]");
    for (const char* hostless : {"file:///home/user/a.html", "::not an address", "http:///path"})
        EXPECT_EQ(WebAddress::shownHost(hostless), std::nullopt) << hostless;
}
