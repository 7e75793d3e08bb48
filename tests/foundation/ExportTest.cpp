#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "foundation/BrindlexError.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

class Export : public ::testing::Test {
protected:
    test::TempDir tmp;
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};

    fs::path out() const { return tmp / "out"; }
    SecureDirectory outDir() const { return SecureDirectory(out(), true); }

    // Every export folder ends finished with nothing but its lease and record.
    void expectNoStagedFileLeft() const {
        if (!fs::exists(Phase0Work::exports())) return;
        for (const auto& folder : fs::directory_iterator(Phase0Work::exports())) {
            EXPECT_EQ(test::listNames(folder.path()), (std::vector<std::string>{"lease", "owner.json"}))
                << folder.path();
        }
    }
};

}  // namespace

TEST_F(Export, PublishesUnderTheFirstFreeName) {
    auto dir = outDir();
    EXPECT_EQ(dir.exportData(bytes("one"), "report", "txt"), out() / "report.txt");
    EXPECT_EQ(dir.exportData(bytes("two"), "report", "txt"), out() / "report_001.txt");
    EXPECT_EQ(dir.exportData(bytes("three"), "report", "txt", std::nullopt, nullptr, false), out() / "report-1.txt");
    EXPECT_EQ(dir.exportData(bytes("four"), "report", "txt", std::nullopt, nullptr, false), out() / "report-2.txt");
    EXPECT_EQ(test::readFile(out() / "report.txt"), "one");
    EXPECT_EQ(test::readFile(out() / "report_001.txt"), "two");
    EXPECT_EQ(test::readFile(out() / "report-2.txt"), "four");
    EXPECT_EQ(fs::hard_link_count(out() / "report.txt"), 1u);
    // The stem is made safe.
    EXPECT_EQ(dir.exportData(bytes("x"), " a:b ", "txt"), out() / "a_b.txt");
    EXPECT_EQ(dir.exportData(bytes("x"), "", "txt"), out() / "Velmora.txt");
    expectNoStagedFileLeft();
}

TEST_F(Export, SuffixesPastNineHundredNinetyNineAndGivesUpAtTenThousand) {
    auto dir = outDir();
    test::writeFile(out() / "p.txt", "");
    for (int i = 1; i <= 999; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "p_%03d.txt", i);
        test::writeFile(out() / name, "");
    }
    EXPECT_EQ(dir.exportData(bytes("x"), "p", "txt"), out() / "p_1000.txt");
    test::writeFile(out() / "q.txt", "");
    for (int i = 1; i < 10000; ++i) test::writeFile(out() / ("q-" + std::to_string(i) + ".txt"), "");
    EXPECT_EQ(caseOf([&] { dir.exportData(bytes("x"), "q", "txt", std::nullopt, nullptr, false); }),
              ErrorCase::fileExists);
    expectNoStagedFileLeft();
}

TEST_F(Export, RefusesBadExtensions) {
    auto dir = outDir();
    EXPECT_EQ(caseOf([&] { dir.exportData(bytes("x"), "a", "tar.gz"); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { dir.exportData(bytes("x"), "a", ""); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { dir.exportData(bytes("x"), "a", "x/y"); }), ErrorCase::unsafePath);
    EXPECT_TRUE(test::listNames(out()).empty());
}

TEST_F(Export, ReplacedFolderIsConfirmationChanged) {
    auto dir = outDir();
    fs::rename(out(), tmp / "moved");
    fs::create_directory(out());
    EXPECT_EQ(caseOf([&] { dir.exportData(bytes("x"), "a", "txt"); }), ErrorCase::confirmationChanged);
    EXPECT_TRUE(test::listNames(out()).empty());
    EXPECT_TRUE(test::listNames(tmp / "moved").empty());
    // Without product naming the held folder is used as it is.
    EXPECT_EQ(dir.exportData(bytes("x"), "a", "txt", std::nullopt, nullptr, false), out() / "a.txt");
    EXPECT_TRUE(fs::exists(tmp / "moved/a.txt"));
    fs::remove_all(out());
    EXPECT_EQ(caseOf([&] { dir.exportData(bytes("x"), "b", "txt"); }), ErrorCase::unsafePath);
    expectNoStagedFileLeft();
}

TEST_F(Export, WillPublishSeesEachCandidateAndCanAbort) {
    auto dir = outDir();
    test::writeFile(out() / "r.txt", "existing");
    std::vector<fs::path> seen;
    std::vector<FileStamp> stamps;
    auto url = dir.exportData(bytes("data"), "r", "txt", std::nullopt,
                              [&](const fs::path& target, const FileStamp& stamp) {
                                  seen.push_back(target);
                                  stamps.push_back(stamp);
                              });
    EXPECT_EQ(url, out() / "r_001.txt");
    EXPECT_EQ(seen, (std::vector<fs::path>{out() / "r.txt", out() / "r_001.txt"}));
    EXPECT_EQ(stamps.back().size, 4);
    EXPECT_EQ(stamps.back().links, 1u);
    // The published file is the staged one: same content, and the stamp a
    // journal records identifies it once its stage link is gone.
    EXPECT_EQ(FileStamp::read(url).inode, stamps.back().inode);

    EXPECT_EQ(caseOf([&] {
                  dir.exportData(bytes("data"), "s", "txt", std::nullopt,
                                 [](const fs::path&, const FileStamp&) { raise(ErrorCase::interruptedSave); });
              }),
              ErrorCase::interruptedSave);
    EXPECT_FALSE(fs::exists(out() / "s.txt"));
    expectNoStagedFileLeft();
}

TEST_F(Export, InjectedWriteFailureLeavesNothing) {
    auto dir = outDir();
    EXPECT_EQ(caseOf([&] { dir.exportData(bytes("0123456789"), "f", "txt", 4); }), ErrorCase::saveFailed);
    EXPECT_TRUE(test::listNames(out()).empty());
    expectNoStagedFileLeft();
    EXPECT_EQ(OwnedWorkspace::cleanup(Phase0Work::exports()).blocked, 0);
}

// A child exporting in a loop is killed at a random moment. Whatever it was
// doing, every published name is whole or absent, and the next clean-up
// accounts for every staged file.
TEST_F(Export, KilledMidExportLeavesNothingUnaccounted) {
    std::vector<uint8_t> payload(4 * 1048576);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 7 + 3);
    std::mt19937 rng(12345);
    fs::create_directories(out());
    for (int round = 0; round < 12; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SecureDirectory dir(out(), false);
            for (;;) dir.exportData(payload, "crash", "bin");
        }
        ::usleep(std::uniform_int_distribution<int>(1000, 40000)(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    for (const auto& name : test::listNames(out())) {
        EXPECT_EQ(fs::file_size(out() / name), payload.size()) << name;
        EXPECT_TRUE(test::readFile(out() / name) == std::string(payload.begin(), payload.end())) << name;
    }
    CleanupResult c = OwnedWorkspace::cleanup(Phase0Work::exports());
    EXPECT_EQ(c.blocked, 0);
    for (const auto& folder : fs::directory_iterator(Phase0Work::exports())) {
        // Interrupted creations are removed whole.
        EXPECT_FALSE(folder.path().filename().string().starts_with(".creating-"))
            << ::testing::PrintToString(test::listNames(folder.path()));
        if (!UUID::parse(folder.path().filename().string())) continue;
        const auto record = JSON::decode<OwnedRecord>(JSON::parse(test::readFile(folder.path() / "owner.json")));
        EXPECT_EQ(record.state, OwnedRecord::State::finished);
        EXPECT_TRUE(record.files.empty());
        for (const auto& name : test::listNames(folder.path())) {
            if (name == "lease" || name == "owner.json") continue;
            // Only a file the kill caught between its creation and its first
            // record entry, or a half-written record stage, may stay: never data.
            EXPECT_TRUE(name.starts_with(".stage-") || fs::file_size(folder.path() / name) == 0) << name;
        }
    }
    // Published files are untouched by the clean-up.
    for (const auto& name : test::listNames(out())) EXPECT_EQ(fs::file_size(out() / name), payload.size());
}
