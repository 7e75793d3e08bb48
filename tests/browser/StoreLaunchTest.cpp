// The normal store across launches: each launch is a child process (one
// persistent session per folder and process), all on one storage root, while
// this process serves the pages.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <glib.h>

#include <string>
#include <vector>

#include "BrowserFixture.hpp"
#include "ChildLaunch.hpp"
#include "browser/BrowserStores.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::spinUntil;

namespace {

// One launch of the store child.
class Launch : public test::ChildLaunch {
public:
    Launch(const std::filesystem::path& storage, const std::string& address, const std::string& mode)
        : ChildLaunch({VELMORA_STORE_CHILD, storage.string(), address, mode}) {}
};

using test::joined;

}  // namespace

TEST(StoreLaunches, TheNormalStoreKeepsItsCookiesAcrossLaunchesAndSurvivesAKill) {
    test::TempDir dir;
    const auto storage = dir.path() / "storage";
    test::WebTestServer server;
    server.html("/set", test::page("set"), {{"Set-Cookie", "visit=1; Max-Age=86400; Path=/"}});
    server.html("/again", test::page("again"), {{"Set-Cookie", "late=2; Max-Age=86400; Path=/"}});
    server.html("/read", "<!doctype html><body><script>document.title='cookies:'+document.cookie</script>");

    {
        Launch first(storage, server.url("/set"), "");
        ASSERT_TRUE(first.waitFor("done")) << joined(first.lines());
        EXPECT_EQ(first.finish(), 0) << joined(first.lines());
    }
    // Made on the way, private to the user.
    for (const char* leaf : {"data", "cache"}) {
        struct stat st {};
        ASSERT_EQ(::stat((BrowserStores::normalDataFolder(storage).parent_path() / leaf).c_str(), &st), 0) << leaf;
        EXPECT_EQ(st.st_mode & 07777, 0700u) << leaf;
    }
    {
        Launch second(storage, server.url("/read"), "list");
        ASSERT_TRUE(second.waitFor("done")) << joined(second.lines());
        EXPECT_TRUE(second.has("title:cookies:visit=1")) << joined(second.lines());
        EXPECT_TRUE(second.has("record:127.0.0.1")) << joined(second.lines());
        EXPECT_EQ(second.finish(), 0);
    }
    {
        Launch third(storage, server.url("/again"), "hold");
        ASSERT_TRUE(third.waitFor("holding")) << joined(third.lines());
        third.kill();
    }
    Launch fourth(storage, server.url("/read"), "");
    ASSERT_TRUE(fourth.waitFor("done")) << joined(fourth.lines());
    EXPECT_EQ(fourth.finish(), 0);
    // The store opens and loads after the kill; what it kept of the last
    // cookie is reported, the earlier one is there either way.
    std::string seen;
    for (const auto& l : fourth.lines())
        if (l.starts_with("title:")) seen = l;
    EXPECT_TRUE(seen.find("visit=1") != std::string::npos) << seen;
    RecordProperty("cookiesAfterKill", seen);
    std::printf("after the kill the next launch saw: %s\n", seen.c_str());
}
