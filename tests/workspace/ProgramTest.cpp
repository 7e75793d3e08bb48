#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <sstream>

#include "browser/BrowserStores.hpp"
#include "capture/CaptureMetadata.hpp"
#include "capture/TabRestoration.hpp"
#include "foundation/FileStamp.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// What a shell command printed, and its exit status.
struct Shell {
    std::string output;
    int status = -1;
};

Shell shell(const std::string& command) {
    Shell result;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe)) result.output += buffer;
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> found;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty()) found.push_back(line);
    }
    return found;
}

// The product's windows by their titles: ベルモラ, then ベルモラ（2）, … for the
// windows opened beside it.
constexpr const char* titlePattern = "'^ベルモラ(（[0-9]+）)?$'";

// The visible windows of the product now.
std::vector<std::string> productWindows() {
    return lines(shell(std::string("xdotool search --onlyvisible --name ") + titlePattern).output);
}

// Waits (bounded) until such a window shows; its ids.
std::vector<std::string> awaitProductWindow() {
    return lines(shell(std::string("timeout 30 xdotool search --sync --onlyvisible --name ") + titlePattern).output);
}

// The velmora program started as the desktop starts it: its own home and XDG
// folders, this display and this session bus.
class ProgramTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    fs::path home = tmp / "home";
    fs::path dataHome = tmp / "data";
    fs::path storage = dataHome / ProductBrand::current().applicationSupportPath;
    fs::path out = tmp / "out";
    std::vector<pid_t> running;

    ProgramTest() {
        for (const auto& d : {home, dataHome, out, storage}) fs::create_directories(d);
    }

    ~ProgramTest() override {
        for (pid_t pid : running) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }

    pid_t start() {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::setenv("HOME", home.c_str(), 1);
            ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", (tmp / "config").c_str(), 1);
            ::setenv("XDG_CACHE_HOME", (tmp / "cache").c_str(), 1);
            ::setenv("XDG_STATE_HOME", (tmp / "state").c_str(), 1);
            ::execl(VELMORA_PROGRAM, VELMORA_PROGRAM, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        running.push_back(pid);
        return pid;
    }

    // Its exit status once it ended within the bound; -1 otherwise.
    int awaitExit(pid_t pid, std::chrono::milliseconds bound = 30s) {
        int status = 0;
        bool ended = test::spinUntil([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, bound);
        if (!ended) return -1;
        std::erase(running, pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // A work folder of an earlier run whose owner is gone.
    fs::path leftoverExport() const {
        OwnedWorkspace w(storage / "work" / "exports", OwnedRecord::Purpose::exportStage, UUID::random(),
                         UUID::random(), UUID::random());
        w.write({1, 2, 3});
        const auto url = w.directory().url();
        w.abandon();
        return url;
    }

    static bool noWorkFiles(const fs::path& folder) {
        for (const auto& name : test::listNames(folder)) {
            if (name.starts_with("work-")) return false;
        }
        return true;
    }

    // A capture that died after writing its whole output, before the history.
    fs::path unfinishedCapture(const std::string& name) const {
        const auto file = out / name;
        test::writeFile(file, "png bytes of " + name);
        CaptureLifecycle life(storage / "work" / "lifecycle", "capture",
                              CaptureMetadata{"https://example.com/", "例", "PNG", std::nullopt});
        life.expect(1);
        life.prepare(file, FileStamp::read(file));
        return file;
    }
};

}  // namespace

TEST_F(ProgramTest, TheLaunchCleansRecoversThenOpensOneWindowAndASecondStartRaisesIt) {
    AppRuntime::ScopedOverride roots(AppRuntime{storage, out});
    OutputAccess(AppRuntime{storage, out}).approve(out);

    // A history entry whose output a trash run left held.
    const fs::path held = unfinishedCapture("held.png");
    {
        CaptureHistory history(storage / "history", {out});
        ASSERT_EQ(CaptureLifecycle::recover(storage / "work" / "lifecycle", history).recovered, 1);
    }
    const fs::path holding = out / ".trash-confirmed-1" / "confirmed-output";
    fs::create_directories(holding.parent_path());
    fs::rename(held, holding);
    Json file = JSON::parse(test::readFile(storage / "history" / "history.json"));
    file["entries"][0]["outputs"][0]["state"] = "pending";
    file["entries"][0]["outputs"][0]["pendingPath"] = holding.string();
    test::writeFile(storage / "history" / "history.json", JSON::print(file));

    const fs::path work = leftoverExport();
    const fs::path whole = unfinishedCapture("whole.png");

    const pid_t first = start();
    const auto windows = awaitProductWindow();
    ASSERT_EQ(windows.size(), 1u) << "no window within the bound";
    // A cleaned work folder keeps only its bookkeeping until the next launch.
    EXPECT_TRUE(noWorkFiles(work));
    EXPECT_NE(test::readFile(storage / "history" / "history.json").find(whole.string()), std::string::npos);
    EXPECT_TRUE(fs::exists(held));
    EXPECT_FALSE(fs::exists(holding));

    // The second start hands its activation to the first and ends.
    EXPECT_EQ(awaitExit(start()), 0);
    // A call the first instance answers on its main loop, after the
    // forwarded activation.
    const auto barrier = shell("gdbus call --session --dest " + ProductBrand::current().bundleIdentifier +
                               " --object-path /invalid/velmora/velmora --method org.gtk.Actions.List");
    EXPECT_EQ(barrier.status, 0) << barrier.output;
    EXPECT_EQ(productWindows(), windows);
    EXPECT_EQ(::waitpid(first, nullptr, WNOHANG), 0) << "the first instance ended";
}

TEST_F(ProgramTest, AnEmptyStorageRootStartsToo) {
    fs::remove_all(storage);
    start();
    EXPECT_EQ(awaitProductWindow().size(), 1u);
    EXPECT_TRUE(fs::is_directory(BrowserStores::normalDataFolder(storage)));
}

TEST_F(ProgramTest, AnUnsafeWebsiteStoreIsReportedAndEndsWithOne) {
    const fs::path work = leftoverExport();
    const fs::path store = BrowserStores::normalDataFolder(storage).parent_path();
    fs::create_directories(store.parent_path());
    fs::create_directories(tmp / "elsewhere");
    fs::create_symlink(tmp / "elsewhere", store);

    const pid_t pid = start();
    const auto dialogs = awaitProductWindow();
    ASSERT_EQ(dialogs.size(), 1u);
    // Nothing was cleaned up behind the dialog.
    EXPECT_FALSE(noWorkFiles(work));
    EXPECT_EQ(::waitpid(pid, nullptr, WNOHANG), 0);

    shell("xdotool windowfocus --sync " + dialogs[0] + " key Return");
    EXPECT_EQ(awaitExit(pid), 1);
    EXPECT_FALSE(noWorkFiles(work));
    EXPECT_TRUE(test::listNames(tmp / "elsewhere").empty());
}

// Restoration switched on with two windows of one tab each, as a quit of an
// earlier run left them; the store is let go before the program starts.
namespace {

std::vector<RestoredWindow> twoWindows() {
    std::vector<RestoredWindow> windows;
    for (const char* address : {"https://example.com/one", "https://example.com/two"}) {
        RestoredWindow window{UUID::random(), {RestoredTab{UUID::random(), address, false}}, UUID()};
        window.selected = window.tabs[0].id;
        windows.push_back(window);
    }
    return windows;
}

TabSnapshot storedSnapshot(const fs::path& storage) {
    const auto data = test::readFile(storage / "tabs" / TabRestoration::snapshotName);
    return TabRestoration::decode(std::vector<uint8_t>(data.begin(), data.end()));
}

// Waits (bounded) until exactly count product windows show.
bool awaitWindowCount(std::size_t count) {
    return test::spinUntil([&] { return productWindows().size() == count; }, 30s);
}

}  // namespace

TEST_F(ProgramTest, QuittingKeepsTheWindowsForTheNextStartAndAKilledRunKeepsItsLastSnapshot) {
    const auto windows = twoWindows();
    {
        SettingsStore settings(storage / "settings");
        TabRestoration restoration(storage / "tabs", settings);
        restoration.setEnabled(true);
        restoration.save(windows);
    }

    // The quit action of the desktop ends the program with 0 and leaves the
    // same windows and tabs, still unloaded, for the next start.
    pid_t pid = start();
    ASSERT_TRUE(awaitWindowCount(2));
    const auto quit = shell("gapplication action " + ProductBrand::current().bundleIdentifier + " quit");
    EXPECT_EQ(quit.status, 0) << quit.output;
    EXPECT_EQ(awaitExit(pid), 0);
    auto kept = storedSnapshot(storage);
    EXPECT_EQ(kept.windows, windows);

    // A run killed outright: the next start finds the snapshot its
    // debounced write left.
    pid = start();
    ASSERT_TRUE(awaitWindowCount(2));
    ASSERT_TRUE(test::spinUntil([&] { return storedSnapshot(storage).generation > kept.generation; }, 30s));
    ::kill(pid, SIGKILL);
    EXPECT_EQ(awaitExit(pid), 128 + SIGKILL);
    EXPECT_EQ(storedSnapshot(storage).windows, windows);
    pid = start();
    EXPECT_TRUE(awaitWindowCount(2));
}
