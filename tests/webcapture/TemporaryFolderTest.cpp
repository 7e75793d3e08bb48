// A web test program leaves nothing in the temporary folder: not the
// folders of the store its tests share, nor those the web engine's network
// process writes again after a test removed them. The program is run as a
// child process on a temporary folder of its own, which must be as empty
// afterwards as it was before.
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestLoad.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

constexpr const char* childVariable = "VELMORA_TEST_TEMPORARY_CHILD";

// This program again, with the tests given, on the temporary folder given;
// its exit status, or -1 when it could not be run or did not end in time.
int runSelf(const std::string& filter, const fs::path& temporary) {
    std::vector<std::string> args{fs::read_symlink("/proc/self/exe").string(), "--gtest_filter=" + filter};
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (!std::string(*e).starts_with("TMPDIR=")) env.emplace_back(*e);
    }
    env.push_back("TMPDIR=" + temporary.string());
    env.push_back(std::string(childVariable) + "=1");
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 180s;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every entry under the folder, for a failure message.
std::string everything(const fs::path& folder) {
    std::string all;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        all += "\n  " + fs::relative(it->path(), folder).string();
    }
    return all;
}

}  // namespace

// A persistent store on a folder of its own, as the application's stores
// are: a page loaded, the store and its folder dropped at the end of the
// test. The engine writes into that folder after it was removed.
TEST(TemporaryFolderChild, PersistentStoreOnAFolderOfItsOwn) {
    if (!std::getenv(childVariable)) GTEST_SKIP() << "runs only as the child process of the temporary folder test";
    test::TempDir dir;
    test::WebTestServer server;
    server.html("/page", "<!doctype html><title>店</title><p>保存</p>", {{"Set-Cookie", "visit=1; Max-Age=86400; Path=/"}});
    auto store = GObjectRef<WebKitNetworkSession>::adopt(
        webkit_network_session_new((dir / "data").c_str(), (dir / "cache").c_str()));
    auto session = std::make_unique<BrowserSession>(false, store.get());
    {
        test::WebTestWindow window(session->frame(), 800, 600);
        ASSERT_TRUE(window.waitUntilShown());
        ASSERT_TRUE(test::loadPage(*session, server.url("/page"), "店"));
    }
    session.reset();
    store = {};
}

// Before and after: a run of web tests, one on the store the tests share
// and one on a store of its own, leaves the temporary folder as empty as
// it found it.
TEST(TemporaryFolder, AWebTestProgramLeavesTheTemporaryFolderAsItFoundIt) {
    if (std::getenv(childVariable)) GTEST_SKIP() << "already the child";
    test::TempDir temporary;
    ASSERT_TRUE(test::listNames(temporary.path()).empty());
    const int status = runSelf(
        "TemporaryFolderChild.PersistentStoreOnAFolderOfItsOwn:CaptureComposition.TilesJoinIntoTheWholeDocumentPixelForPixel",
        temporary.path());
    EXPECT_EQ(status, 0) << "the child's tests failed (their output is above)";
    EXPECT_TRUE(test::listNames(temporary.path()).empty()) << "left behind:" << everything(temporary.path());
}
