#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/Unicode.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace

TEST(SecureDirectory, OpensAndCreatesPrivateFolders) {
    test::TempDir tmp;
    SecureDirectory d(tmp / "a/b/c", true);
    EXPECT_TRUE(fs::is_directory(tmp / "a/b/c"));
    EXPECT_EQ(fs::status(tmp / "a/b").permissions() & fs::perms::all, fs::perms::owner_all);
    EXPECT_EQ(d.url(), tmp / "a/b/c");
    EXPECT_EQ(caseOf([&] { SecureDirectory(tmp / "missing", false); }), ErrorCase::unsafePath);
    EXPECT_FALSE(fs::exists(tmp / "missing"));
    SecureDirectory root("/", false);
    EXPECT_GE(root.descriptor(), 0);
}

TEST(SecureDirectory, RefusesDotDotRelativePathsSymlinksAndFiles) {
    test::TempDir tmp;
    fs::create_directories(tmp / "real/inner");
    fs::create_directory_symlink(tmp / "real", tmp / "link");
    test::writeFile(tmp / "file", "x");
    EXPECT_EQ(caseOf([&] { SecureDirectory(tmp / "real/../real", false); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { SecureDirectory(tmp / "real/./inner", false); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { SecureDirectory("relative/path", true); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { SecureDirectory("", true); }), ErrorCase::unsafePath);
    // A middle component that is a link to a real directory is still refused,
    // and nothing is created behind it.
    EXPECT_EQ(caseOf([&] { SecureDirectory(tmp / "link/inner", false); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { SecureDirectory(tmp / "link/new", true); }), ErrorCase::unsafePath);
    EXPECT_FALSE(fs::exists(tmp / "real/new"));
    EXPECT_EQ(caseOf([&] { SecureDirectory(tmp / "link", false); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { SecureDirectory(tmp / "file", true); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { SecureDirectory(tmp / "file/below", true); }), ErrorCase::unsafePath);
}

TEST(SecureDirectory, ValidLeafLimits) {
    EXPECT_TRUE(SecureDirectory::validLeaf(std::string(240, 'a')));
    EXPECT_FALSE(SecureDirectory::validLeaf(std::string(241, 'a')));
    // 80 three-byte characters are exactly 240 bytes.
    std::string kana;
    for (int i = 0; i < 80; ++i) kana += "あ";
    EXPECT_TRUE(SecureDirectory::validLeaf(kana));
    EXPECT_FALSE(SecureDirectory::validLeaf(kana + "a"));
    EXPECT_TRUE(SecureDirectory::validLeaf("..."));
    EXPECT_TRUE(SecureDirectory::validLeaf(".hidden"));
    EXPECT_FALSE(SecureDirectory::validLeaf(""));
    EXPECT_FALSE(SecureDirectory::validLeaf("."));
    EXPECT_FALSE(SecureDirectory::validLeaf(".."));
    EXPECT_FALSE(SecureDirectory::validLeaf("a/b"));
    EXPECT_FALSE(SecureDirectory::validLeaf(std::string("a\0b", 3)));
}

TEST(SecureDirectory, SafeStem) {
    EXPECT_EQ(SecureDirectory::safeStem(""), "Velmora");
    EXPECT_EQ(SecureDirectory::safeStem("..."), "Velmora");
    EXPECT_EQ(SecureDirectory::safeStem(" / "), "_");
    EXPECT_EQ(SecureDirectory::safeStem("a:b"), "a_b");
    EXPECT_EQ(SecureDirectory::safeStem("a\\b<c>d|e?f*g"), "a_b_c_d_e_f_g");
    // Control and format characters (a tab, a zero-width joiner) become "_".
    EXPECT_EQ(SecureDirectory::safeStem("a\tb\u200Dc"), "a_b_c");
    EXPECT_EQ(SecureDirectory::safeStem(" .title. "), "title");
    // Decomposed input is composed first: "か" + combining voiced mark is "が".
    EXPECT_EQ(SecureDirectory::safeStem("\u304B\u3099"), "\u304C");
    std::string title;
    for (int i = 0; i < 60; ++i) title += (i % 2 ? "本" : "日");
    ASSERT_EQ(title.size(), 180u);
    // Cut within 160 bytes where a word ends: "日本" is one word, so the
    // stem keeps 26 of them rather than 53 characters ending in half of one.
    std::string stem = SecureDirectory::safeStem(title);
    EXPECT_EQ(stem.size(), 156u);
    EXPECT_EQ(Unicode::graphemeCount(stem), 52u);
    // A cut never splits a cluster: flags are eight bytes each.
    std::string flags;
    for (int i = 0; i < 25; ++i) flags += "\U0001F1EF\U0001F1F5";
    EXPECT_EQ(SecureDirectory::safeStem(flags).size(), 160u);
    std::string flags2 = "a" + flags;
    EXPECT_EQ(SecureDirectory::safeStem(flags2).size(), 153u);
    // Trimming happens before the cut; a space the cut leaves at the end
    // goes with it.
    std::string spaced = std::string(159, 'x') + "  y";
    EXPECT_EQ(SecureDirectory::safeStem(spaced), std::string(159, 'x'));
}

TEST(SecureDirectory, OnlyAnEmptyFolderIsRemoved) {
    test::TempDir tmp;
    SecureDirectory d(tmp.path(), false);
    std::filesystem::create_directories(tmp / "empty");
    std::filesystem::create_directories(tmp / "full");
    test::writeFile(tmp / "full" / "kept", "kept");
    test::writeFile(tmp / "file", "a file");
    std::filesystem::create_directory_symlink(tmp / "empty", tmp / "link");
    d.removeEmptyFolder("empty");
    EXPECT_FALSE(std::filesystem::exists(tmp / "empty"));
    EXPECT_EQ(caseOf([&] { d.removeEmptyFolder("full"); }), ErrorCase::saveFailed);
    EXPECT_EQ(test::readFile(tmp / "full" / "kept"), "kept");
    EXPECT_EQ(caseOf([&] { d.removeEmptyFolder("file"); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { d.removeEmptyFolder("link"); }), ErrorCase::unsafePath);
    EXPECT_TRUE(std::filesystem::is_symlink(tmp / "link"));
    EXPECT_EQ(caseOf([&] { d.removeEmptyFolder("../x"); }), ErrorCase::unsafePath);
}

TEST(SecureDirectory, ReadAndReplaceState) {
    test::TempDir tmp;
    SecureDirectory d(tmp.path(), false);
    d.replaceState("state.json", bytes("one"));
    EXPECT_EQ(d.read("state.json"), bytes("one"));
    d.replaceState("state.json", bytes("two, longer"));
    EXPECT_EQ(d.read("state.json"), bytes("two, longer"));
    EXPECT_EQ(fs::status(tmp / "state.json").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    d.replaceState("empty", {});
    EXPECT_TRUE(d.read("empty").empty());
    EXPECT_EQ(caseOf([&] { d.read("absent"); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { d.read("../x"); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { d.replaceState("", bytes("x")); }), ErrorCase::unsafePath);
    EXPECT_EQ(test::listNames(tmp.path()), (std::vector<std::string>{"empty", "state.json"}));
}

TEST(SecureDirectory, ReplaceStateNeverFollowsOrReplacesALinkOrFolder) {
    test::TempDir tmp;
    test::writeFile(tmp / "target", "precious");
    fs::create_symlink(tmp / "target", tmp / "state.json");
    fs::create_directory(tmp / "dir.json");
    SecureDirectory d(tmp.path(), false);
    EXPECT_EQ(caseOf([&] { d.replaceState("state.json", bytes("new")); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { d.replaceState("dir.json", bytes("new")); }), ErrorCase::unsafePath);
    EXPECT_TRUE(fs::is_symlink(tmp / "state.json"));
    EXPECT_EQ(fs::read_symlink(tmp / "state.json"), tmp / "target");
    EXPECT_EQ(test::readFile(tmp / "target"), "precious");
    // Reading through the link is refused too.
    EXPECT_EQ(caseOf([&] { d.read("state.json"); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(test::listNames(tmp.path()), (std::vector<std::string>{"dir.json", "state.json", "target"}));
}

TEST(SecureDirectory, FailedWriteLeavesNoStageAndKeepsThePreviousFile) {
    test::TempDir tmp;
    SecureDirectory(tmp.path(), false).replaceState("state.json", bytes("previous"));
    // A file-size limit makes the kernel refuse the write part-way: a real
    // write failure, in a child so the limit does not outlive it.
    int status = test::runInChild([&] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        SecureDirectory d(tmp.path(), false);
        try {
            d.replaceState("state.json", std::vector<uint8_t>(100000, 'x'));
        } catch (const BrindlexError& e) {
            if (e.errorCase() == ErrorCase::saveFailed) ::_exit(7);
        }
        ::_exit(0);
    });
    EXPECT_EQ(status, 7);
    EXPECT_EQ(test::listNames(tmp.path()), (std::vector<std::string>{"state.json"}));
    EXPECT_EQ(test::readFile(tmp / "state.json"), "previous");
}

TEST(SecureDirectory, RemoveOwnedFileOnlyRemovesRegularFiles) {
    test::TempDir tmp;
    test::writeFile(tmp / "f", "x");
    test::writeFile(tmp / "target", "keep");
    fs::create_symlink(tmp / "target", tmp / "link");
    fs::create_directory(tmp / "dir");
    SecureDirectory d(tmp.path(), false);
    d.removeOwnedFile("f");
    EXPECT_FALSE(fs::exists(tmp / "f"));
    EXPECT_EQ(caseOf([&] { d.removeOwnedFile("f"); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { d.removeOwnedFile("link"); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { d.removeOwnedFile("dir"); }), ErrorCase::unsafePath);
    EXPECT_TRUE(fs::is_symlink(tmp / "link"));
    EXPECT_TRUE(fs::is_directory(tmp / "dir"));
}

TEST(SecureDirectory, HeldDescriptorSurvivesARename) {
    // The folder is held by descriptor, so writes land where it was opened
    // even after its path now names something else.
    test::TempDir tmp;
    fs::create_directory(tmp / "out");
    SecureDirectory d(tmp / "out", false);
    fs::rename(tmp / "out", tmp / "moved");
    fs::create_directory(tmp / "out");
    d.replaceState("s", bytes("x"));
    EXPECT_TRUE(fs::exists(tmp / "moved/s"));
    EXPECT_FALSE(fs::exists(tmp / "out/s"));
}
