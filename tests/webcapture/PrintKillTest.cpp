#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "capture/PrintOptions.hpp"
#include "foundation/FileStamp.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "foundation/BrindlexError.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestStores.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"

extern char** environ;

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Kind = NativePrintObservation::Kind;

namespace {

constexpr const char* modeVariable = "VELMORA_TEST_PRINT_CHILD";
constexpr const char* rootVariable = "VELMORA_TEST_PRINT_ROOT";
constexpr const char* title = "強制終了の記事";
const char* const userFile = "the user's own file";

// Where the child kills itself: after the print run, after stamping, after
// the PDF's publication, between the first and second PNG, after the last.
enum KillPoint { afterRun, afterStamp, afterPDF, betweenPNGs, afterLast, pointCount };

std::string article() {
    std::string body;
    for (int p = 1; p <= 3; ++p) {
        body += std::string(p < 3 ? "<section style='break-after:page'>" : "<section>") + "<h1>Part " +
                std::to_string(p) + "</h1><p>Text of part " + std::to_string(p) + ".</p></section>";
    }
    return "<!doctype html><meta charset=utf-8><title>" + std::string(title) + "</title>" + body;
}

// Runs this program again as the child of one round, under the same display;
// returns its wait status, or -1 when it had to be stopped after the bound.
// With a wrapper, the wrapper is run with the program's path after its own
// arguments.
int runChild(const std::string& mode, const fs::path& root, std::vector<std::string> wrapper = {}) {
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    std::vector<std::string> args = wrapper;
    args.push_back(self);
    args.push_back("--gtest_filter=PrintChild.Save");
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    env.push_back(std::string(modeVariable) + "=" + mode);
    env.push_back(std::string(rootVariable) + "=" + root.string());
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(20ms);
    }
    return status;
}

std::vector<std::string> filesUnder(const fs::path& root) {
    std::vector<std::string> out;
    if (!fs::exists(root)) return out;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) out.push_back(fs::relative(entry.path(), root).string());
    }
    return out;
}

// Random pixels, which no encoder can make smaller.
std::string noisePNG(const fs::path& path, int side) {
    uint32_t state = 12345;
    test::writePNG(path, side, side, 3, [&](int, uint8_t* row) {
        for (int i = 0; i < side * 3; ++i) {
            state = state * 1664525u + 1013904223u;
            row[i] = static_cast<uint8_t>(state >> 24);
        }
    });
    return test::readFile(path);
}

// On a 1 MiB file system holding the storage root and the output folder: a
// page of text, then a page of noise whose PNG cannot fit, then text.
void saveOntoAFullDisk(const fs::path& root) {
    AppRuntime::ScopedOverride runtime{AppRuntime{root / "storage", root / "out"}};
    SettingsStore settings{root / "storage" / "settings"};
    FixedOutputRoots roots{{root / "out"}};
    AppHistory::ScopedEnvironment history({root / "storage", &settings, &roots});
    test::TempDir scratch;
    test::WebTestServer server;
    server.bytes("/noise.png", "image/png", noisePNG(scratch / "noise.png", 256));
    server.html("/article", "<!doctype html><meta charset=utf-8><title>" + std::string(title) +
                                "</title><section style='break-after:page'><h1>Text</h1><p>Words.</p></section>"
                                "<section style='break-after:page'><img src=/noise.png width=700 height=700>"
                                "</section><section><h1>More text</h1></section>");
    BrowserSession session(false, test::sharedEphemeralStore());
    test::WebTestWindow window(session.frame(), 1024, 800);
    ASSERT_TRUE(window.waitUntilShown());
    session.navigate(server.url("/article"));
    ASSERT_TRUE(test::spinUntil([&] { return session.pageTitle.get() == title && !session.loading; }));
    ASSERT_TRUE(test::spinUntil([&] {
        return test::runTask(session.evaluate("document.images[0].complete && document.images[0].naturalWidth"))
                   .number == 256;
    }));

    PrintSelection selection;
    selection.output = PrintOptions::Output::png;
    PrintOptions o = selection.options(session.currentURL.get(), session.pageTitle.get(), Date());
    o.filenameStem.reset();
    const fs::path folder = root / "out" / "Print";
    session.print(o, folder);
    ASSERT_TRUE(test::spinUntil([&] { return !session.operationPending.get(); }, 60s));

    // It ended writing the second page, not earlier.
    EXPECT_EQ(session.operation.get()->current(), "writing");
    EXPECT_EQ(session.stage.get(),
              std::string("保存済み出力1件は保持しています。 ") + BrindlexError(ErrorCase::saveFailed).what());
    EXPECT_EQ(test::listNames(folder), std::vector<std::string>{"print-page-0001.png"});
    EXPECT_GT(fs::file_size(folder / "print-page-0001.png"), 1000u);
    for (const auto& name : filesUnder(Phase0Work::printing())) {
        EXPECT_EQ(name.find("work-"), std::string::npos) << name;
    }
    for (const auto& name : filesUnder(Phase0Work::exports())) {
        EXPECT_EQ(name.find("work-"), std::string::npos) << name;
    }
    const auto entries = AppHistory::required()->entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].error, ErrorCase::saveFailed);
    EXPECT_EQ(entries[0].outputs.size(), 1u);
}

}  // namespace

// The child of the rounds below: a normal session that saves a three-page
// article print-style and kills itself at the point it is told.
TEST(PrintChild, Save) {
    const char* mode = std::getenv(modeVariable);
    const char* rootText = std::getenv(rootVariable);
    if (!mode || !rootText) GTEST_SKIP() << "runs only as the child process of the print kill test";
    const fs::path root = rootText;
    if (std::string(mode) == "disk") {
        saveOntoAFullDisk(root);
        return;
    }
    const int killAt = std::atoi(mode);
    AppRuntime::ScopedOverride runtime{AppRuntime{root / "storage", root / "out"}};
    SettingsStore settings{root / "storage" / "settings"};
    FixedOutputRoots roots{{root / "out"}};
    AppHistory::ScopedEnvironment history({root / "storage", &settings, &roots});

    test::WebTestServer server;
    server.html("/article", article());
    BrowserSession session(false, test::sharedEphemeralStore());
    test::WebTestWindow window(session.frame(), 1024, 800);
    ASSERT_TRUE(window.waitUntilShown());
    session.navigate(server.url("/article"));
    ASSERT_TRUE(test::spinUntil([&] { return session.pageTitle.get() == title && !session.loading; }));

    PrintSelection selection;
    selection.headerFooter = true;
    PrintOptions o = selection.options(session.currentURL.get(), session.pageTitle.get(), Date());
    o.filenameStem.reset();
    int published = 0;
    o.nativeEvent = [&](bool returned) {
        if (returned && killAt == afterRun) ::raise(SIGKILL);
    };
    o.nativeObservation = [&](const NativePrintObservation& n) {
        if (n.kind == Kind::decorationEnd && killAt == afterStamp) ::raise(SIGKILL);
    };
    o.onPublished = [&](const fs::path&) {
        ++published;
        if ((published == 1 && killAt == afterPDF) || (published == 2 && killAt == betweenPNGs) ||
            (published == 4 && killAt == afterLast)) {
            ::raise(SIGKILL);
        }
    };
    session.print(o, root / "out" / "Print");
    ASSERT_TRUE(test::spinUntil([&] { return !session.operationPending.get(); }, 60s));
}

// A process killed anywhere in a save leaves nothing that the launch
// recovery does not settle: no scratch or stamped PDF stays, every published
// file is in the history, the user's file of the same name is untouched, and
// a second recovery changes nothing.
TEST(PrintKill, ALaunchAfterAKillAnywhereAccountsForEveryPublishedFile) {
    for (int point = afterRun; point < pointCount; ++point) {
        SCOPED_TRACE("killed at point " + std::to_string(point));
        test::TempDir dir;
        const fs::path storage = dir / "storage", out = dir / "out", folder = out / "Print";
        fs::create_directories(folder);
        test::writeFile(folder / "print.pdf", userFile);

        const int status = runChild(std::to_string(point), dir.path());
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

        AppRuntime::ScopedOverride runtime{AppRuntime{storage, out}};
        SettingsStore settings{storage / "settings"};
        FixedOutputRoots roots{{out}};
        AppHistory::ScopedEnvironment environment({storage, &settings, &roots});
        // The launch order: work folders first, then the journals.
        OwnedWorkspace::cleanup(Phase0Work::exports());
        OwnedWorkspace::cleanup(Phase0Work::printing());
        auto history = AppHistory::required();
        const auto first = CaptureLifecycle::recover(Phase0Work::lifecycle(), *history);
        EXPECT_EQ(first.retained, 0);
        EXPECT_EQ(first.active, 0);

        for (const auto& name : filesUnder(Phase0Work::printing())) {
            EXPECT_EQ(name.find("work-"), std::string::npos) << name;
        }
        for (const auto& name : filesUnder(Phase0Work::exports())) {
            EXPECT_EQ(name.find("work-"), std::string::npos) << name;
        }

        std::set<std::string> recorded;
        const auto entries = history->entries();
        EXPECT_LE(entries.size(), 1u);
        for (const auto& e : entries) {
            EXPECT_EQ(e.kind, "print");
            for (const auto& o : e.outputs) {
                recorded.insert(fs::path(o.path).filename().string());
                EXPECT_EQ(FileStamp::read(o.path), o.stamp) << o.path;
            }
        }
        std::set<std::string> published;
        for (const auto& name : test::listNames(folder)) {
            if (name != "print.pdf") published.insert(name);
        }
        EXPECT_EQ(recorded, published);
        const std::set<std::string> expected[] = {
            {},
            {},
            {"print-1.pdf"},
            {"print-1.pdf", "print-page-0001.png"},
            {"print-1.pdf", "print-page-0001.png", "print-page-0002.png", "print-page-0003.png"},
        };
        EXPECT_EQ(published, expected[point]);
        EXPECT_EQ(test::readFile(folder / "print.pdf"), userFile);

        const auto entriesBefore = history->entries();
        EXPECT_EQ(OwnedWorkspace::cleanup(Phase0Work::printing()).removed, 0);
        const auto second = CaptureLifecycle::recover(Phase0Work::lifecycle(), *history);
        EXPECT_EQ(second.recovered, 0);
        const auto entriesAfter = history->entries();
        ASSERT_EQ(entriesAfter.size(), entriesBefore.size());
        for (std::size_t i = 0; i < entriesAfter.size(); ++i)
            EXPECT_EQ(encodedEntry(entriesAfter[i]), encodedEntry(entriesBefore[i]));
    }
}

// The output folder on a full disk: the first export that does not fit is
// saveFailed, the pages published before it stay and are counted, nothing
// partial is left and the work folder is finished. The small file system is
// a tmpfs mounted by the child in a mount namespace of its own.
TEST(PrintDisk, TheFirstExportThatDoesNotFitFailsAndEarlierPagesStay) {
    test::TempDir dir;
    const fs::path small = dir / "small";
    fs::create_directories(small);
    const std::string mount = "mount -t tmpfs -o size=1m tmpfs \"$0\"";
    if (test::runProgram({"unshare", "--mount", "--propagation", "private", "sh", "-c", mount, small.string()}) != 0) {
        GTEST_SKIP() << "this machine refuses a private mount namespace with a tmpfs (needs CAP_SYS_ADMIN)";
    }
    const int status = runChild("disk", small,
                                {"unshare", "--mount", "--propagation", "private", "sh", "-c",
                                 mount + " && exec \"$@\"", small.string()});
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child's own checks failed (its output is above)";
}
