#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "foundation/BrindlexError.hpp"
#include "foundation/ExportBatch.hpp"
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

namespace {

// The work folder on the disk, the output folder in memory (tmpfs): a hard
// link cannot cross from one to the other.
class CrossFilesystemExport : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(out());
        struct stat disk {}, memory {};
        ASSERT_EQ(::stat(storage.path().c_str(), &disk), 0);
        ASSERT_EQ(::stat(out().c_str(), &memory), 0);
        if (disk.st_dev == memory.st_dev) GTEST_SKIP() << "no second filesystem (tmpfs at /dev/shm)";
        memoryDevice = static_cast<uint64_t>(memory.st_dev);
    }
    void TearDown() override { SecureDirectory::injectedTmpfileError = 0; }

    fs::path out() const { return memoryDir / "out"; }

    test::TempDir storage;
    test::TempDir memoryDir{true};
    uint64_t memoryDevice = 0;
    AppRuntime::ScopedOverride roots{AppRuntime{storage / "storage", storage / "output"}};
};

}  // namespace

// Published from a copy written in the output folder: whole, under the first
// free name, never over a file, and announced with the stamp of the file the
// name then holds. Both with a nameless copy and, where the filesystem cannot
// make one, with a hidden name that goes with the publication.
TEST_F(CrossFilesystemExport, PublishesACopyUnderTheFirstFreeName) {
    for (int unsupported : {0, EOPNOTSUPP}) {
        SCOPED_TRACE(unsupported);
        SecureDirectory::injectedTmpfileError = unsupported;
        fs::remove_all(out());
        fs::create_directories(out());
        SecureDirectory dir(out(), false);
        test::writeFile(out() / "r.txt", "existing");
        std::vector<fs::path> seen;
        std::vector<FileStamp> stamps;
        auto url = dir.exportData(bytes("data"), "r", "txt", std::nullopt,
                                  [&](const fs::path& target, const FileStamp& stamp) {
                                      seen.push_back(target);
                                      stamps.push_back(stamp);
                                  });
        EXPECT_EQ(url, out() / "r_001.txt");
        EXPECT_EQ(test::readFile(url), "data");
        EXPECT_EQ(test::readFile(out() / "r.txt"), "existing");
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), out() / "r_001.txt");
        // What a journal recorded for the name identifies the file there.
        const FileStamp published = FileStamp::read(url);
        EXPECT_EQ(stamps.back(), published);
        EXPECT_EQ(published.links, 1u);
        EXPECT_EQ(dir.exportData(bytes("more"), "r", "txt", std::nullopt, nullptr, false), out() / "r-1.txt");
        EXPECT_EQ(test::listNames(out()), (std::vector<std::string>{"r-1.txt", "r.txt", "r_001.txt"}));
        for (const auto& folder : fs::directory_iterator(Phase0Work::exports())) {
            EXPECT_EQ(test::listNames(folder.path()), (std::vector<std::string>{"lease", "owner.json"}));
        }
        EXPECT_EQ(OwnedWorkspace::cleanup(Phase0Work::exports()).blocked, 0);
    }
}

// A publication given up after the copy was made leaves no file in the
// output folder, hidden or not.
TEST_F(CrossFilesystemExport, AnAbandonedCopyLeavesNothing) {
    for (int unsupported : {0, EOPNOTSUPP}) {
        SCOPED_TRACE(unsupported);
        SecureDirectory::injectedTmpfileError = unsupported;
        SecureDirectory dir(out(), false);
        int calls = 0;
        EXPECT_EQ(caseOf([&] {
                      dir.exportData(bytes("data"), "s", "txt", std::nullopt, [&](const fs::path&, const FileStamp& s) {
                          // The staged file's announcement passes; the copy's is refused.
                          if (++calls == 2) {
                              EXPECT_EQ(s.device, memoryDevice);
                              raise(ErrorCase::interruptedSave);
                          }
                      });
                  }),
                  ErrorCase::interruptedSave);
        EXPECT_EQ(calls, 2);
        EXPECT_TRUE(test::listNames(out()).empty());
    }
}

// Exports to the other filesystem killed at random moments: every name in
// the output folder holds the whole data, and no copy is left behind.
TEST_F(CrossFilesystemExport, KilledMidCopyLeavesNoPartialFile) {
    std::vector<uint8_t> payload(4 * 1048576);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 5 + 1);
    std::mt19937 rng(54321);
    for (int round = 0; round < 12; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            try {
                SecureDirectory dir(out(), false);
                for (;;) dir.exportData(payload, "copy", "bin");
            } catch (...) {
                ::_exit(1);
            }
        }
        // The first child is let publish at least once.
        if (round == 0) {
            for (int i = 0; i < 3000 && test::listNames(out()).empty(); ++i) ::usleep(10000);
        }
        ::usleep(std::uniform_int_distribution<int>(1000, 60000)(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    EXPECT_FALSE(test::listNames(out()).empty());
    for (const auto& name : test::listNames(out())) {
        EXPECT_FALSE(name.starts_with(".")) << name;
        EXPECT_TRUE(test::readFile(out() / name) == std::string(payload.begin(), payload.end())) << name;
    }
    EXPECT_EQ(OwnedWorkspace::cleanup(Phase0Work::exports()).blocked, 0);
}

// A save's outputs staged together: written from several threads, sealed
// once, then each published under its first free name, announced with the
// stamp it keeps once the staged names are gone, never over a file.
TEST_F(Export, ABatchPublishesItsOutputsInOrderUnderFreeNames) {
    auto dir = outDir();
    test::writeFile(out() / "page.png", "the user's own file");
    std::vector<std::vector<uint8_t>> data;
    for (int i = 0; i < 6; ++i) data.push_back(bytes(std::string(1000 + i, static_cast<char>('a' + i))));
    std::vector<fs::path> urls;
    std::vector<FileStamp> announced;
    {
        ExportBatch batch(dir, {"pdf", "png", "png", "png", "png", "png"});
        ASSERT_EQ(batch.size(), 6u);
        std::vector<std::thread> writers;
        for (std::size_t i = 1; i < 5; ++i) writers.emplace_back([&, i] { batch.write(i, data[i]); });
        batch.write(0, data[0]);
        for (auto& w : writers) w.join();
        // Slot 5 is never written: it is not sealed and cannot be published.
        batch.seal({0, 1, 2, 3, 4});
        EXPECT_EQ(caseOf([&] { batch.publish(5, "page"); }), ErrorCase::saveFailed);
        FileStamp last;
        const auto announce = [&](const fs::path&, const FileStamp& stamp) { last = stamp; };
        urls.push_back(batch.publish(0, "print", announce));
        announced.push_back(last);
        for (std::size_t i = 1; i < 5; ++i) {
            urls.push_back(batch.publish(i, "page", announce));
            announced.push_back(last);
        }
        batch.finish();
    }
    EXPECT_EQ(urls, (std::vector<fs::path>{out() / "print.pdf", out() / "page_001.png", out() / "page_002.png",
                                           out() / "page_003.png", out() / "page_004.png"}));
    EXPECT_EQ(test::readFile(out() / "page.png"), "the user's own file");
    for (std::size_t i = 0; i < urls.size(); ++i) {
        EXPECT_EQ(test::readFile(urls[i]), std::string(data[i].begin(), data[i].end()));
        EXPECT_EQ(FileStamp::read(urls[i]), announced[i]) << urls[i];
    }
    expectNoStagedFileLeft();
    EXPECT_EQ(OwnedWorkspace::cleanup(Phase0Work::exports()).blocked, 0);
}

TEST_F(Export, ABatchGivenUpOrFailingLeavesNothingStaged) {
    auto dir = outDir();
    {
        ExportBatch batch(dir, {"png", "png"});
        EXPECT_EQ(caseOf([&] { batch.write(0, bytes("0123456789"), 4); }), ErrorCase::saveFailed);
        batch.write(1, bytes("whole"));
        batch.seal({1});
        EXPECT_EQ(caseOf([&] { batch.publish(0, "a"); }), ErrorCase::saveFailed);
        EXPECT_EQ(batch.publish(1, "b"), out() / "b.png");
        // Not finished: the batch goes with its staged files.
    }
    EXPECT_EQ(test::listNames(out()), std::vector<std::string>{"b.png"});
    EXPECT_EQ(FileStamp::read(out() / "b.png").links, 1u);
    expectNoStagedFileLeft();
    EXPECT_EQ(caseOf([&] { ExportBatch(dir, {"p/ng"}); }), ErrorCase::unsafePath);
}

// A child making batches in a loop is killed at a random moment: every
// published file is whole, and the next clean-up removes every staged one.
TEST_F(Export, KilledMidBatchLeavesNothingUnaccounted) {
    std::vector<uint8_t> payload(1048576);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 5 + 1);
    std::mt19937 rng(4321);
    fs::create_directories(out());
    for (int round = 0; round < 10; ++round) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            SecureDirectory dir(out(), false);
            for (;;) {
                ExportBatch batch(dir, {"bin", "bin", "bin"});
                for (std::size_t i = 0; i < 3; ++i) batch.write(i, payload);
                batch.seal({0, 1, 2});
                for (std::size_t i = 0; i < 3; ++i) batch.publish(i, "crash");
                batch.finish();
            }
        }
        ::usleep(std::uniform_int_distribution<int>(1000, 60000)(rng));
        ::kill(pid, SIGKILL);
        int status = 0;
        ::waitpid(pid, &status, 0);
    }
    for (const auto& name : test::listNames(out())) {
        EXPECT_TRUE(test::readFile(out() / name) == std::string(payload.begin(), payload.end())) << name;
    }
    EXPECT_EQ(OwnedWorkspace::cleanup(Phase0Work::exports()).blocked, 0);
    for (const auto& folder : fs::directory_iterator(Phase0Work::exports())) {
        if (!UUID::parse(folder.path().filename().string())) continue;
        for (const auto& name : test::listNames(folder.path())) {
            if (name == "lease" || name == "owner.json") continue;
            // Only files the kill caught between their creation and the
            // record listing them, or a half-written record stage: never data.
            EXPECT_TRUE(name.starts_with(".stage-") || fs::file_size(folder.path() / name) == 0) << name;
        }
    }
    for (const auto& name : test::listNames(out())) {
        EXPECT_EQ(FileStamp::read(out() / name).links, 1u) << name;
    }
}

// Across filesystems each output is published from a synced copy read back
// from its staged file.
TEST_F(CrossFilesystemExport, ABatchPublishesCopiesOfItsStagedFiles) {
    SecureDirectory dir(out(), false);
    std::vector<FileStamp> stamps;
    {
        ExportBatch batch(dir, {"pdf", "png"});
        batch.write(0, bytes("document"));
        batch.write(1, bytes("page"));
        batch.seal({0, 1});
        const auto announce = [&](const fs::path&, const FileStamp& stamp) { stamps.push_back(stamp); };
        EXPECT_EQ(batch.publish(0, "print", announce), out() / "print.pdf");
        EXPECT_EQ(batch.publish(1, "print-page", announce), out() / "print-page.png");
        batch.finish();
    }
    EXPECT_EQ(test::readFile(out() / "print.pdf"), "document");
    EXPECT_EQ(test::readFile(out() / "print-page.png"), "page");
    ASSERT_FALSE(stamps.empty());
    EXPECT_EQ(stamps.back(), FileStamp::read(out() / "print-page.png"));
    EXPECT_EQ(stamps.back().device, memoryDevice);
    for (const auto& folder : fs::directory_iterator(Phase0Work::exports())) {
        EXPECT_EQ(test::listNames(folder.path()), (std::vector<std::string>{"lease", "owner.json"}));
    }
}
