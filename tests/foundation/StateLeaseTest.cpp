#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <thread>

#include "foundation/BrindlexError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/StateLease.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

TEST(StateLease, ExclusiveWithinTheProcessUntilDropped) {
    test::TempDir tmp;
    SecureDirectory d(tmp.path(), false);
    EXPECT_EQ(caseOf([&] { StateLease(d, "lock", false); }), ErrorCase::cleanupBlocked);
    EXPECT_FALSE(fs::exists(tmp / "lock"));
    {
        StateLease first(d, "lock", true);
        EXPECT_EQ(fs::status(tmp / "lock").permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(caseOf([&] { StateLease(d, "lock", true); }), ErrorCase::navigationBusy);
        StateLease moved(std::move(first));
        EXPECT_EQ(caseOf([&] { StateLease(d, "lock", false); }), ErrorCase::navigationBusy);
    }
    StateLease again(d, "lock", false);
    EXPECT_TRUE(fs::exists(tmp / "lock"));
    EXPECT_EQ(caseOf([&] { StateLease(d, "../lock", true); }), ErrorCase::unsafePath);
}

TEST(StateLease, RefusesALinkedLockFile) {
    test::TempDir tmp;
    test::writeFile(tmp / "real", "");
    fs::create_symlink(tmp / "real", tmp / "lock");
    SecureDirectory d(tmp.path(), false);
    EXPECT_EQ(caseOf([&] { StateLease(d, "lock", true); }), ErrorCase::cleanupBlocked);
}

TEST(StateLease, HeldByAnotherProcessIsBusyAndFreedWhenItEnds) {
    test::TempDir tmp;
    SecureDirectory d(tmp.path(), false);
    {
        test::HeldChild child([&] {
            static std::optional<StateLease> held;
            held.emplace(SecureDirectory(tmp.path(), false), "lock", true);
        });
        ASSERT_TRUE(child.setupSucceeded());
        EXPECT_EQ(caseOf([&] { StateLease(d, "lock", true); }), ErrorCase::navigationBusy);
        child.stop();
    }
    StateLease mine(d, "lock", true);
    // And the other way round: the child cannot take ours.
    int status = test::runInChild([&] {
        try {
            StateLease theirs(SecureDirectory(tmp.path(), false), "lock", false);
        } catch (const BrindlexError& e) {
            if (e.errorCase() == ErrorCase::navigationBusy) ::_exit(3);
        }
        ::_exit(0);
    });
    EXPECT_EQ(status, 3);
}

TEST(FileStamp, IdentifiesContentAndLinks) {
    test::TempDir tmp;
    test::writeFile(tmp / "empty", "");
    test::writeFile(tmp / "f", "hello");
    SecureDirectory d(tmp.path(), false);
    FileStamp e = d.stamp("empty");
    EXPECT_EQ(e.size, 0);
    EXPECT_EQ(e.sha256, Digest::data(std::string_view("")));
    FileStamp a = d.stamp("f"), b = d.stamp("f");
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.links, 1u);
    struct stat st {};
    ASSERT_EQ(::stat((tmp / "f").c_str(), &st), 0);
    EXPECT_EQ(a.inode, static_cast<uint64_t>(st.st_ino));
    EXPECT_EQ(a.device, static_cast<uint64_t>(st.st_dev));
    fs::create_hard_link(tmp / "f", tmp / "g");
    FileStamp c = d.stamp("f");
    EXPECT_EQ(c.links, 2u);
    EXPECT_NE(a, c);
    EXPECT_EQ(FileStamp::read(tmp / "g"), c);
    EXPECT_EQ(caseOf([&] { d.stamp("absent"); }), ErrorCase::sourceMissing);
    fs::create_directory(tmp / "dir");
    EXPECT_EQ(caseOf([&] { d.stamp("dir"); }), ErrorCase::unsafePath);
    fs::create_symlink(tmp / "f", tmp / "link");
    EXPECT_EQ(caseOf([&] { d.stamp("link"); }), ErrorCase::sourceMissing);
}

TEST(FileStamp, JSONKeepsSixtyFourBitValues) {
    FileStamp s{0xFFFF'FFFF'0000'0001ull, 0xFFFF'FFFF'FFFF'FFF0ull, 12, std::string(64, 'a'), 70000};
    Json j = s;
    EXPECT_EQ(j.size(), 5u);
    EXPECT_EQ(JSON::decode<FileStamp>(JSON::parse(JSON::print(j))), s);
    Json missing = j;
    missing.erase("links");
    EXPECT_THROW(JSON::decode<FileStamp>(missing), JSON::DecodeError);
}

TEST(FileStamp, NoticesAConcurrentAppend) {
    test::TempDir tmp;
    {
        std::ofstream out(tmp / "growing", std::ios::binary);
        std::string block(1048576, 'x');
        for (int i = 0; i < 64; ++i) out << block;
    }
    SecureDirectory d(tmp.path(), false);
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        std::ofstream out(tmp / "growing", std::ios::binary | std::ios::app);
        while (!stop) {
            out << 'y';
            out.flush();
        }
    });
    bool noticed = false;
    for (int i = 0; i < 50 && !noticed; ++i) {
        try {
            d.stamp("growing");
        } catch (const BrindlexError& e) {
            noticed = e.errorCase() == ErrorCase::confirmationChanged;
        }
    }
    stop = true;
    writer.join();
    EXPECT_TRUE(noticed);
}

TEST(SecureDirectory, ExclusiveMoveNeverReplaces) {
    // The exclusive rename, then the link-and-unlink fallback of
    // filesystems that answer the flag with EINVAL or ENOSYS.
    for (int injected : {0, EINVAL, ENOSYS}) {
        SCOPED_TRACE(injected);
        SecureDirectory::injectedRenameError = injected;
        struct Reset {
            ~Reset() { SecureDirectory::injectedRenameError = 0; }
        } reset;
        test::TempDir tmp;
        fs::create_directory(tmp / "a");
        fs::create_directory(tmp / "b");
        test::writeFile(tmp / "a/f", "mine");
        test::writeFile(tmp / "b/f", "theirs");
        SecureDirectory a(tmp / "a", false), b(tmp / "b", false);
        EXPECT_EQ(caseOf([&] { a.exclusiveMove("f", b, "f"); }), ErrorCase::fileExists);
        EXPECT_EQ(test::readFile(tmp / "a/f"), "mine");
        EXPECT_EQ(test::readFile(tmp / "b/f"), "theirs");
        EXPECT_EQ(fs::hard_link_count(tmp / "a/f"), 1u);
        a.exclusiveMove("f", b, "g");
        EXPECT_FALSE(fs::exists(tmp / "a/f"));
        EXPECT_EQ(test::readFile(tmp / "b/g"), "mine");
        EXPECT_EQ(fs::hard_link_count(tmp / "b/g"), 1u);
        EXPECT_EQ(caseOf([&] { b.exclusiveMove("g", a, ".."); }), ErrorCase::saveFailed);
        EXPECT_EQ(caseOf([&] { b.exclusiveMove("absent", a, "x"); }), ErrorCase::saveFailed);
    }
    // Any other answer of the filesystem is a failure, with nothing moved.
    SecureDirectory::injectedRenameError = EXDEV;
    test::TempDir tmp;
    test::writeFile(tmp / "f", "mine");
    fs::create_directory(tmp / "b");
    SecureDirectory a(tmp.path(), false), b(tmp / "b", false);
    EXPECT_EQ(caseOf([&] { a.exclusiveMove("f", b, "f"); }), ErrorCase::saveFailed);
    SecureDirectory::injectedRenameError = 0;
    EXPECT_TRUE(fs::exists(tmp / "f"));
    EXPECT_FALSE(fs::exists(tmp / "b/f"));
}
