#include <gtest/gtest.h>

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture/TabRestoration.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

UUID fixedID(int window, int tab) {
    std::array<uint8_t, 16> bytes{};
    bytes[0] = static_cast<uint8_t>(window);
    bytes[1] = static_cast<uint8_t>(tab);
    bytes[6] = 0x40;
    bytes[8] = 0x80;
    return UUID(bytes);
}

// About 1 MiB of windows whose addresses name the generation they are
// written with, so that a snapshot read back shows whose it is and that it
// is whole.
std::vector<RestoredWindow> windowsFor(uint64_t generation) {
    std::vector<RestoredWindow> windows;
    const std::string filler(900, 'p');
    for (int w = 0; w < 10; ++w) {
        RestoredWindow window;
        window.id = fixedID(w, 255);
        for (int t = 0; t < 100; ++t) {
            window.tabs.push_back({fixedID(w, t),
                                   "https://example.jp/" + std::to_string(generation) + "/" + std::to_string(t) + "/" +
                                       filler,
                                   t % 7 == 0});
        }
        window.selected = window.tabs[static_cast<std::size_t>(w)].id;
        windows.push_back(std::move(window));
    }
    return windows;
}

// The saving process: loads, then saves the windows of each next generation
// and reports every generation it has written. Never returns.
[[noreturn]] void saveForever(const fs::path& storage, int reportFD) {
    try {
        SettingsStore settings(storage / "settings");
        TabRestoration restoration(storage / "tabs", settings);
        restoration.load();
        if (restoration.blocked()) ::_exit(2);
        for (;;) {
            const uint64_t next = restoration.generation() + 1;
            restoration.save(windowsFor(next));
            if (restoration.blocked() || restoration.generation() != next) ::_exit(3);
            if (::write(reportFD, &next, sizeof next) != sizeof next) ::_exit(4);
        }
    } catch (...) {
        ::_exit(5);
    }
}

// One report, or none once the saver has gone. A saver that stops answering
// fails the test instead of hanging it.
bool readReport(int fd, uint64_t* generation) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 30000) != 1) throw std::runtime_error("the saver stopped answering");
    const ssize_t n = ::read(fd, generation, sizeof *generation);
    if (n == 0) return false;
    if (n != sizeof *generation) throw std::runtime_error("a torn report");
    return true;
}

bool holdsStages(const fs::path& folder) {
    for (const auto& name : test::listNames(folder)) {
        if (name.starts_with(".stage-")) return true;
    }
    return false;
}

}  // namespace

// A process writing snapshots of about 1 MiB in a loop is killed at thirty
// random moments: while it encodes, stages, syncs or renames. Each time a
// new process finds a whole snapshot that the killed one wrote, with no
// notice, tidies the stage it may have left, and saves the next one.
TEST(TabRestorationKill, AKilledSaveLeavesAWholeSnapshotOfItsOwn) {
    test::TempDir tmp;
    const fs::path storage = tmp / "storage";
    SettingsStore settings(storage / "settings");
    TabRestoration(storage / "tabs", settings).setEnabled(true);

    std::mt19937 random(20261207);
    uint64_t lastWritten = 0;
    int stagesLeft = 0;
    for (int round = 0; round < 30; ++round) {
        int pipeFDs[2];
        ASSERT_EQ(::pipe(pipeFDs), 0);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::close(pipeFDs[0]);
            saveForever(storage, pipeFDs[1]);
        }
        ::close(pipeFDs[1]);
        // One finished save first, so that every kill lands in the loop;
        // then a random moment within about two more saves (a delay chosen
        // at random, not a wait for anything).
        uint64_t reported = 0;
        ASSERT_TRUE(readReport(pipeFDs[0], &reported));
        std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 120000)(random)));
        ASSERT_EQ(::kill(pid, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saver ended on its own with " << WEXITSTATUS(status);
        for (uint64_t g = 0; readReport(pipeFDs[0], &g);) {
            EXPECT_EQ(g, reported + 1);
            reported = g;
        }
        ::close(pipeFDs[0]);
        ASSERT_GT(reported, lastWritten);

        if (holdsStages(storage / "tabs")) ++stagesLeft;
        TabRestoration next(storage / "tabs", settings);
        const auto windows = next.load();
        ASSERT_FALSE(next.blocked()) << "round " << round;
        EXPECT_EQ(next.notice(), "");
        // The last reported save, or the one after it whose rename happened
        // before the report could be written.
        const uint64_t found = next.generation();
        ASSERT_TRUE(found == reported || found == reported + 1) << found << " after " << reported;
        EXPECT_EQ(windows, windowsFor(found));
        EXPECT_FALSE(holdsStages(storage / "tabs"));
        next.save(windowsFor(found + 1));
        ASSERT_FALSE(next.blocked());
        lastWritten = found + 1;
    }
    // How many kills fell between staging and renaming, for the log.
    RecordProperty("stagesLeft", stagesLeft);
}
