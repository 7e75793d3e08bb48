#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/Base64.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/FolderBookmark.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/StateLease.hpp"
#include "support/Bounded.hpp"
#include "support/Errors.hpp"
#include "support/FakeFolderChooser.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
using test::require;
namespace fs = std::filesystem;
using Paths = std::vector<fs::path>;

namespace {

class OutputAccessTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    AppRuntime runtime{tmp / "storage", tmp / "outputs"};
    test::FakeFolderChooser chooser;
    OutputAccess access{runtime, &chooser};
    fs::path foldersFile = tmp / "storage" / "access" / "folders.json";

    fs::path folder(const std::string& name) {
        const fs::path p = tmp / name;
        fs::create_directories(p);
        return p;
    }
    Json stored() { return JSON::parse(test::readFile(foldersFile)); }
    void store(const Json& j) { test::writeFile(foldersFile, JSON::print(j)); }
    ErrorCase destinationCase(SettingsStore& settings, bool ask) {
        return caseOf([&] { test::runTask(access.destination(settings, ask, false)); });
    }
};

}  // namespace

TEST_F(OutputAccessTest, AFreshStorageRootHasNoRootsAndAsksInTheDefaultOutputFolder) {
    EXPECT_TRUE(access.authorizedRoots().empty());
    EXPECT_EQ(caseOf([&] { access.resolve(UUID::random()); }), ErrorCase::unsafePath);

    SettingsStore settings(tmp / "storage" / "settings");
    EXPECT_EQ(test::runTask(access.destination(settings, false, false)), std::nullopt);
    ASSERT_EQ(chooser.requests.size(), 1u);
    EXPECT_EQ(chooser.requests[0].startFolder, AppRuntime::defaultOutput());
    EXPECT_EQ(chooser.requests[0].title, "保存先を選んでください");
    EXPECT_EQ(chooser.requests[0].acceptLabel, "このフォルダに保存");
    // A cancelled chooser writes nothing.
    EXPECT_FALSE(fs::exists(tmp / "storage"));
}

TEST_F(OutputAccessTest, TheSameFolderKeepsItsGrantAndAReplacedOneGetsANewGrant) {
    const fs::path a = folder("a");
    const OutputGrant first = access.approve(a);
    const std::string bytes = test::readFile(foldersFile);
    EXPECT_EQ(access.approve(a), first);
    EXPECT_EQ(test::readFile(foldersFile), bytes);

    struct stat st {};
    ASSERT_EQ(::stat(a.c_str(), &st), 0);
    const Json j = stored();
    EXPECT_EQ(j["schema"], 1);
    ASSERT_EQ(j["folders"].size(), 1u);
    EXPECT_EQ(j["folders"][0]["id"], first.id.text());
    EXPECT_EQ(j["folders"][0]["path"], a.string());
    EXPECT_EQ(j["folders"][0]["device"], static_cast<uint64_t>(st.st_dev));
    EXPECT_EQ(j["folders"][0]["inode"], static_cast<uint64_t>(st.st_ino));
    EXPECT_EQ(Base64::decode(j["folders"][0]["bookmark"].get<std::string>()), first.bookmark);
    EXPECT_EQ(access.resolve(first.id), a);

    // Deleted and made again at the same path: another directory. The new
    // one is made while the old one still exists, so the file system cannot
    // hand it the freed inode number.
    fs::create_directory(tmp / "replacement");
    fs::remove(a);
    fs::rename(tmp / "replacement", a);
    const OutputGrant second = access.approve(a);
    EXPECT_NE(second.id, first.id);
    EXPECT_EQ(stored()["folders"].size(), 2u);
    EXPECT_EQ(caseOf([&] { access.resolve(first.id); }), ErrorCase::accessDenied);
    EXPECT_EQ(access.resolve(second.id), a);
    EXPECT_EQ(access.authorizedRoots(), Paths{a});

    // Renamed: nothing is at the recorded path any more.
    fs::rename(a, tmp / "renamed");
    EXPECT_EQ(caseOf([&] { access.resolve(second.id); }), ErrorCase::accessDenied);
    EXPECT_TRUE(access.authorizedRoots().empty());
    EXPECT_EQ(caseOf([&] { access.resolve(UUID::random()); }), ErrorCase::accessDenied);
}

TEST_F(OutputAccessTest, ReadOnlyFoldersAreRefusedForAnUnprivilegedUser) {
    // Root passes every permission check, so the user is nobody here, in a
    // tree that user owns.
    const fs::path home = folder("nobody");
    // Opening a folder by descriptor needs read permission on each one walked.
    fs::permissions(tmp.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
    EXPECT_EQ(test::runBounded(20, [&] {
                  const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
                  require(dropped, "drop to nobody");
                  OutputAccess unprivileged(AppRuntime{home / "storage", home / "outputs"});
                  const fs::path readOnly = home / "read-only";
                  const fs::path later = home / "later";
                  fs::create_directory(readOnly);
                  fs::create_directory(later);
                  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
                  const ErrorCase refused = caseOf([&] { unprivileged.approve(readOnly); });
                  require(refused == ErrorCase::accessDenied,
                          "approve: " + std::string(BrindlexError::rawValue(refused)));
                  const OutputGrant g = unprivileged.approve(later);
                  require(unprivileged.resolve(g.id) == later, "writable resolves");
                  fs::permissions(later, fs::perms::owner_read | fs::perms::owner_exec);
                  require(caseOf([&] { unprivileged.resolve(g.id); }) == ErrorCase::accessDenied, "resolve");
                  require(unprivileged.authorizedRoots().empty(), "no roots");
              }),
              0);
}

TEST_F(OutputAccessTest, AFileOfAnotherSchemaOrWithADuplicateIdIsNotTrusted) {
    const fs::path a = folder("a");
    const fs::path b = folder("b");
    const OutputGrant ga = access.approve(a);
    access.approve(b);
    const Json good = stored();

    Json schema2 = good;
    schema2["schema"] = 2;
    Json duplicate = good;
    duplicate["folders"][1]["id"] = ga.id.text();
    for (const Json& bad : {schema2, duplicate}) {
        store(bad);
        const std::string before = test::readFile(foldersFile);
        EXPECT_EQ(caseOf([&] { access.approve(folder("c")); }), ErrorCase::accessDenied);
        EXPECT_EQ(caseOf([&] { access.resolve(ga.id); }), ErrorCase::accessDenied);
        EXPECT_TRUE(access.authorizedRoots().empty());
        EXPECT_EQ(test::readFile(foldersFile), before);
    }
    // Undecodable files pass on the decoder's error.
    test::writeFile(foldersFile, "{\"schema\" : 1}");
    EXPECT_THROW(access.resolve(ga.id), JSON::DecodeError);
    EXPECT_TRUE(access.authorizedRoots().empty());
}

TEST_F(OutputAccessTest, RootsSkipWhatNoLongerResolvesInFileOrder) {
    const fs::path a = folder("a");
    const fs::path b = folder("b");
    const fs::path c = folder("c");
    access.approve(a);
    access.approve(b);
    const OutputGrant gc = access.approve(c);
    fs::remove(b);
    EXPECT_EQ(access.authorizedRoots(), (Paths{a, c}));

    // A bookmark this layer cannot read is skipped by the roots; resolving
    // it passes the bookmark's own error on.
    Json j = stored();
    const std::string garbage = "{\"version\" : 7}";
    j["folders"][2]["bookmark"] = Base64::encode(std::vector<uint8_t>(garbage.begin(), garbage.end()));
    store(j);
    EXPECT_EQ(access.authorizedRoots(), Paths{a});
    EXPECT_THROW(access.resolve(gc.id), FolderBookmark::Error);
}

TEST_F(OutputAccessTest, AChosenFolderIsApprovedRememberedAndReusedWithoutAsking) {
    SettingsStore settings(tmp / "storage" / "settings");
    const fs::path a = folder("a");
    chooser.answer = a;
    EXPECT_EQ(test::runTask(access.destination(settings, true, true)), a);
    const std::optional<UUID> id = settings.value().destinationID;
    ASSERT_TRUE(id);
    EXPECT_EQ(SettingsStore(tmp / "storage" / "settings").value().destinationID, id);
    EXPECT_EQ(access.resolve(*id), a);

    chooser.answer = std::nullopt;
    EXPECT_EQ(test::runTask(access.destination(settings, false, false)), a);
    EXPECT_EQ(chooser.requests.size(), 1u);
    // Asking again starts in the stored folder; cancelling changes nothing.
    const std::string prefs = test::readFile(tmp / "storage" / "settings" / "preferences.json");
    test::runTask(access.chooseDefault(settings));
    ASSERT_EQ(chooser.requests.size(), 2u);
    EXPECT_EQ(chooser.requests[1].startFolder, a);
    EXPECT_EQ(test::readFile(tmp / "storage" / "settings" / "preferences.json"), prefs);

    // The stored folder is gone: no other folder, and nobody is asked.
    fs::remove(a);
    EXPECT_EQ(destinationCase(settings, false), ErrorCase::accessDenied);
    EXPECT_EQ(chooser.requests.size(), 2u);
}

TEST_F(OutputAccessTest, AReadOnlyStoreStillGetsTheChosenFolder) {
    const fs::path settingsRoot = tmp / "storage" / "settings";
    fs::create_directories(settingsRoot);
    test::writeFile(settingsRoot / "preferences.json", "damaged");
    SettingsStore settings(settingsRoot);
    ASSERT_TRUE(settings.readOnly());
    chooser.answer = folder("a");
    EXPECT_EQ(test::runTask(access.destination(settings, false, false)), tmp / "a");
    EXPECT_EQ(settings.notice(), "設定を保存できません。元の設定は保持しています。");
    EXPECT_EQ(test::readFile(settingsRoot / "preferences.json"), "damaged");
    EXPECT_EQ(access.authorizedRoots(), Paths{tmp / "a"});
}

TEST_F(OutputAccessTest, ABusyLeaseOrALinkedFolderLeavesTheFileAsItWas) {
    access.approve(folder("a"));
    const std::string before = test::readFile(foldersFile);
    {
        test::HeldChild holder([&] {
            static std::optional<StateLease> held;
            static std::optional<SecureDirectory> dir;
            dir.emplace(tmp / "storage" / "access", false);
            held.emplace(*dir, "folders-lock", true);
        });
        ASSERT_TRUE(holder.setupSucceeded());
        EXPECT_EQ(caseOf([&] { access.approve(folder("b")); }), ErrorCase::navigationBusy);
    }
    EXPECT_EQ(test::readFile(foldersFile), before);

    SettingsStore settings(tmp / "storage" / "settings");
    fs::create_directory_symlink(folder("target"), tmp / "link");
    chooser.answer = tmp / "link";
    EXPECT_EQ(destinationCase(settings, true), ErrorCase::unsafePath);
    chooser.answer = tmp / "link" / "inner";
    fs::create_directory(tmp / "target" / "inner");
    EXPECT_EQ(destinationCase(settings, true), ErrorCase::unsafePath);
    EXPECT_EQ(test::readFile(foldersFile), before);
    EXPECT_FALSE(settings.value().destinationID);
}
