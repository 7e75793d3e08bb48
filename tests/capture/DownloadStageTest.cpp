#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "capture/DownloadStage.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/ProductBrand.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
using test::readFile;
using test::writeFile;
namespace fs = std::filesystem;

namespace {

// A stage as the engine leaves it once a transfer is complete.
std::unique_ptr<DownloadStage> received(const fs::path& destination, const std::string& bytes,
                                        UUID id = UUID::random()) {
    auto stage = std::make_unique<DownloadStage>(destination, id);
    writeFile(stage->payload(), bytes);
    return stage;
}

fs::path stageFolder(const fs::path& destination, const UUID& id) {
    return destination / DownloadStage::rootName / id.text();
}

DownloadStage::Owner ownerAt(const fs::path& stage) {
    return JSON::decode<DownloadStage::Owner>(JSON::parse(readFile(stage / "owner.json")));
}

// The names a user sees in the destination (the staging root aside).
std::vector<std::string> published(const fs::path& destination) {
    std::vector<std::string> names;
    for (const auto& name : test::listNames(destination))
        if (name != DownloadStage::rootName) names.push_back(name);
    std::sort(names.begin(), names.end());
    return names;
}

void append(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::app);
    out << bytes;
}

struct Hooked {
    ~Hooked() { DownloadStage::hooks() = {}; }
};

}  // namespace

TEST(DownloadStage, PublishesUnderTheFirstFreeNameAndNeverReplaces) {
    test::TempDir tmp;
    const fs::path dest = tmp / "保存先";
    fs::create_directory(dest);
    writeFile(dest / "report.pdf", "user 0");
    writeFile(dest / "report-1.pdf", "user 1");

    const UUID id = UUID::random();
    auto stage = received(dest, "downloaded", id);
    // The stage is what the layout says, and its owner record is ours.
    const fs::path folder = stageFolder(dest, id);
    EXPECT_EQ(stage->payload(), folder / "payload");
    EXPECT_EQ(test::listNames(folder), (std::vector<std::string>{"lease", "owner.json", "payload"}));
    const auto owner = ownerAt(folder);
    struct stat st {};
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_EQ(owner, (DownloadStage::Owner{1, Phase0::bundleID(), "download-stage", id,
                                           static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), false}));
    ASSERT_EQ(::stat((dest / ".brindlex-downloads").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    EXPECT_EQ(stage->publish("report.pdf"), dest / "report-2.pdf");
    EXPECT_EQ(readFile(dest / "report-2.pdf"), "downloaded");
    EXPECT_EQ(readFile(dest / "report.pdf"), "user 0");
    EXPECT_EQ(readFile(dest / "report-1.pdf"), "user 1");
    // Nothing but the file is left behind: neither the stage nor the root.
    EXPECT_EQ(published(dest), (std::vector<std::string>{"report-1.pdf", "report-2.pdf", "report.pdf"}));
    EXPECT_FALSE(fs::exists(dest / ".brindlex-downloads"));
    // Finished: neither a second publication nor a discard touches it.
    EXPECT_EQ(caseOf([&] { stage->publish("again.pdf"); }), ErrorCase::sourceMissing);
    stage->discard();
    EXPECT_TRUE(fs::exists(dest / "report-2.pdf"));

    // The extension is what follows the last full stop; no full stop, none.
    for (auto [name, first, second] : {std::tuple{"archive.tar.gz", "archive.tar.gz", "archive.tar-1.gz"},
                                       std::tuple{"README", "README", "README-1"}}) {
        EXPECT_EQ(received(dest, "a")->publish(name), dest / first);
        EXPECT_EQ(received(dest, "b")->publish(name), dest / second);
        EXPECT_EQ(readFile(dest / first), "a");
        EXPECT_EQ(readFile(dest / second), "b");
    }

    // A stage of the same download cannot be made twice.
    const UUID left = received(dest, "left")->owner().id;
    EXPECT_EQ(caseOf([&] { DownloadStage again(dest, left); }), ErrorCase::fileExists);
    auto live = received(dest, "x");
    EXPECT_EQ(caseOf([&] { DownloadStage again(dest, live->owner().id); }), ErrorCase::navigationBusy);
}

TEST(DownloadStage, WithoutTheExclusiveRenameTheLinkFallbackNeverReplacesEither) {
    struct Reset {
        ~Reset() { SecureDirectory::injectedRenameError = 0; }
    } reset;
    test::TempDir tmp;
    writeFile(tmp / "report.pdf", "user");
    for (int error : {EINVAL, ENOSYS}) {
        SecureDirectory::injectedRenameError = error;
        auto stage = received(tmp.path(), "payload " + std::to_string(error));
        const fs::path out = stage->publish("report.pdf");
        EXPECT_EQ(readFile(out), "payload " + std::to_string(error));
        EXPECT_EQ(fs::hard_link_count(out), 1u);
        EXPECT_FALSE(fs::exists(stage->payload()));
    }
    EXPECT_EQ(published(tmp.path()), (std::vector<std::string>{"report-1.pdf", "report-2.pdf", "report.pdf"}));
    EXPECT_EQ(readFile(tmp / "report.pdf"), "user");

    // Any other refusal of the filesystem fails with the payload kept.
    SecureDirectory::injectedRenameError = EROFS;
    auto stage = received(tmp.path(), "kept");
    EXPECT_EQ(caseOf([&] { stage->publish("other.pdf"); }), ErrorCase::saveFailed);
    EXPECT_EQ(readFile(stage->payload()), "kept");
    EXPECT_FALSE(fs::exists(tmp / "other.pdf"));
}

TEST(DownloadStage, AllTenThousandNamesTakenIsFileExistsWithThePayloadKept) {
    test::TempDir tmp(true);
    writeFile(tmp / "x.bin", "0");
    for (int i = 1; i < 10000; ++i) writeFile(tmp / ("x-" + std::to_string(i) + ".bin"), "");
    auto stage = received(tmp.path(), "mine");
    EXPECT_EQ(caseOf([&] { stage->publish("x.bin"); }), ErrorCase::fileExists);
    EXPECT_EQ(readFile(stage->payload()), "mine");
    EXPECT_FALSE(stage->owner().finished);
    EXPECT_EQ(readFile(tmp / "x.bin"), "0");
    EXPECT_EQ(published(tmp.path()).size(), 10000u);
    fs::remove(tmp / "x-9999.bin");
    EXPECT_EQ(stage->publish("x.bin"), tmp / "x-9999.bin");
}

TEST(DownloadStage, HostileSuggestedNamesPublishAsOneVisibleLeafInsideTheDestination) {
    test::TempDir tmp;
    const fs::path dest = tmp / "dest";
    const std::vector<std::string> names = {
        "../../escape.txt", "/etc/passwd", "..\\..\\win.ini", "..", "...", ".hidden", "a\nb\tc\x01.txt",
        "evil\u202Etxt.exe", std::string(400, 'n') + ".pdf", std::string(130, 'x') + "あいうえお" + std::string(100, 'y'),
        "", "  . . ", "dir/sub/../name.pdf"};
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        auto stage = received(dest, name);
        const fs::path out = stage->publish(name);
        EXPECT_EQ(out.parent_path(), dest);
        const std::string leaf = out.filename().string();
        EXPECT_TRUE(SecureDirectory::validLeaf(leaf));
        EXPECT_NE(leaf.front(), '.');
        EXPECT_EQ(leaf.find_first_of("/\\\n\t\x01"), std::string::npos);
        EXPECT_EQ(leaf.find("\u202E"), std::string::npos);
        EXPECT_LE(leaf.size(), 170u);
        EXPECT_EQ(readFile(out), name);
    }
    EXPECT_EQ(published(dest).size(), names.size()) << "every file landed in the destination itself";
    EXPECT_FALSE(fs::exists(tmp / "escape.txt"));
    EXPECT_EQ(DownloadStage::filename("..."), ProductBrand::current().englishIdentifier);
}

TEST(DownloadStage, AReplacedFolderAnEditedRecordOrASecondLinkStopsEveryChange) {
    test::TempDir tmp;
    const fs::path dest = tmp / "dest";

    // The stage folder swapped for another of the same name.
    auto swapped = received(dest, "a");
    const fs::path folder = stageFolder(dest, swapped->owner().id);
    fs::rename(folder, tmp / "moved");
    fs::create_directory(folder);
    fs::copy(tmp / "moved", folder, fs::copy_options::recursive);
    EXPECT_EQ(caseOf([&] { swapped->publish("a.txt"); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(caseOf([&] { swapped->discard(); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(published(dest), std::vector<std::string>{});
    EXPECT_TRUE(fs::exists(folder / "payload"));

    // The destination swapped the same way.
    {
        test::TempDir other;
        auto stage = received(other / "d", "b");
        fs::rename(other / "d", other / "old");
        fs::create_directory(other / "d");
        fs::rename(other / "old" / ".brindlex-downloads", other / "d" / ".brindlex-downloads");
        EXPECT_EQ(caseOf([&] { stage->publish("b.txt"); }), ErrorCase::confirmationChanged);
    }

    // An edited owner record, however small the edit.
    auto edited = received(dest, "c");
    const fs::path editedFolder = stageFolder(dest, edited->owner().id);
    auto owner = ownerAt(editedFolder);
    owner.inode += 1;
    writeFile(editedFolder / "owner.json", JSON::print(Json(owner)));
    EXPECT_EQ(caseOf([&] { edited->publish("c.txt"); }), ErrorCase::confirmationChanged);
    writeFile(editedFolder / "owner.json", "{}");
    EXPECT_THROW(edited->verifyOwnership(), JSON::DecodeError);

    // A payload that someone else also links to is neither published nor
    // deleted.
    auto linked = received(dest, "d");
    fs::create_hard_link(linked->payload(), tmp / "their-link");
    EXPECT_EQ(caseOf([&] { linked->publish("d.txt"); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(caseOf([&] { linked->discard(); }), ErrorCase::cleanupBlocked);
    EXPECT_EQ(readFile(linked->payload()), "d");
    EXPECT_EQ(readFile(tmp / "their-link"), "d");
    EXPECT_FALSE(linked->owner().finished);
    EXPECT_EQ(published(dest), std::vector<std::string>{});

    // A plain discard takes the engine's files and the stage away; the root
    // stays for the stages still in it.
    auto dropped = received(dest, "e");
    writeFile(stageFolder(dest, dropped->owner().id) / "payload.wkdownload", "partial");
    dropped->discard();
    EXPECT_FALSE(fs::exists(stageFolder(dest, dropped->owner().id)));
    EXPECT_TRUE(dropped->owner().finished);
    dropped->discard();
    EXPECT_TRUE(fs::exists(folder / "payload"));
}

TEST(DownloadStage, TheSweepRemovesOnlyWhatAGoneOwnerLeftStill) {
    test::TempDir tmp;
    const fs::path dest = tmp / "dest";
    fs::create_directory(dest);
    EXPECT_EQ(DownloadStage::cleanup(dest), (CleanupResult{0, 0, 0, 0}));
    EXPECT_FALSE(fs::exists(dest / ".brindlex-downloads")) << "the sweep creates nothing";

    const fs::path root = dest / ".brindlex-downloads";
    auto make = [&](const std::string& payload) {
        const UUID id = UUID::random();
        received(dest, payload, id);  // the stage object goes: its owner is gone
        return stageFolder(dest, id);
    };
    fs::create_directories(root / "notes");
    // A stage a clean run finished but could not take away.
    const fs::path finished = make("");
    fs::remove(finished / "payload");
    auto finishedOwner = ownerAt(finished);
    finishedOwner.finished = true;
    writeFile(finished / "owner.json", JSON::print(Json(finishedOwner)));
    writeFile(dest / "done.txt", "published");
    const fs::path stable = make("stable");
    const fs::path partial = make("");
    writeFile(partial / "payload.wkdownload", "half of it");
    const fs::path extra = make("x");
    writeFile(extra / "notes.txt", "someone's");
    const fs::path growing = make("growing");
    const fs::path foreign = make("f");
    auto owner = ownerAt(foreign);
    owner.creator = "org.example.other";
    writeFile(foreign / "owner.json", JSON::print(Json(owner)));
    const fs::path empty = make("");
    fs::remove(empty / "payload");
    // A live download in another process holds its stage's lease.
    const UUID liveID = UUID::random();
    test::HeldChild live([&] {
        static std::unique_ptr<DownloadStage> held;
        held = received(dest, "live", liveID);
    });
    ASSERT_TRUE(live.setupSucceeded());

    Hooked hooked;
    DownloadStage::hooks().betweenStamps = [&](const fs::path& file) {
        if (file.parent_path() == growing) append(file, "more");
    };
    // examined: 8 stages; protected: "notes"; removed: the finished one,
    // the stable payload's, the partial one's and the empty one; blocked:
    // the extra entry, the growing payload, the foreign record, the live
    // lease.
    EXPECT_EQ(DownloadStage::cleanup(dest), (CleanupResult{8, 4, 1, 4}));
    for (const auto& gone : {finished, stable, partial, empty}) EXPECT_FALSE(fs::exists(gone)) << gone;
    EXPECT_EQ(readFile(extra / "payload"), "x");
    EXPECT_EQ(readFile(extra / "notes.txt"), "someone's");
    EXPECT_EQ(readFile(growing / "payload"), "growingmore");
    EXPECT_FALSE(ownerAt(growing).finished);
    EXPECT_EQ(readFile(foreign / "payload"), "f");
    EXPECT_EQ(readFile(stageFolder(dest, liveID) / "payload"), "live");
    EXPECT_EQ(readFile(dest / "done.txt"), "published");
    EXPECT_TRUE(fs::exists(root / "notes"));

    // Once the writer and the live owner are gone, the next sweep takes
    // theirs; what is not ours stays, and keeps the root.
    DownloadStage::hooks() = {};
    live.stop();
    EXPECT_EQ(DownloadStage::cleanup(dest), (CleanupResult{4, 2, 1, 2}));
    EXPECT_FALSE(fs::exists(growing));
    EXPECT_FALSE(fs::exists(stageFolder(dest, liveID)));
    EXPECT_EQ(DownloadStage::cleanup(dest), (CleanupResult{2, 0, 1, 2}));
    EXPECT_EQ(test::listNames(dest), (std::vector<std::string>{".brindlex-downloads", "done.txt"}));
}

TEST(DownloadStage, AProcessKilledMidwayLeavesWhatTheNextSweepCompletes) {
    test::TempDir tmp;
    const fs::path dest = tmp / "dest";

    // Killed between the publishing rename and the owner rewrite: the file
    // is whole in the destination, and the sweep only takes the stage away.
    const UUID id = UUID::random();
    const int status = test::runInChild([&] {
        auto stage = received(dest, "whole file", id);
        DownloadStage::hooks().published = [] { ::raise(SIGKILL); };
        stage->publish("report.pdf");
    });
    EXPECT_EQ(status, 128 + SIGKILL);
    EXPECT_EQ(readFile(dest / "report.pdf"), "whole file");
    EXPECT_FALSE(ownerAt(stageFolder(dest, id)).finished);
    EXPECT_EQ(DownloadStage::cleanup(dest), (CleanupResult{1, 1, 0, 0}));
    EXPECT_EQ(test::listNames(dest), std::vector<std::string>{"report.pdf"});
    EXPECT_EQ(readFile(dest / "report.pdf"), "whole file");
    EXPECT_EQ(DownloadStage::cleanup(dest), (CleanupResult{0, 0, 0, 0}));

    // A sweep killed after its first removal: the next one finishes that
    // stage and empties the rest.
    const fs::path other = tmp / "other";
    const fs::path a = stageFolder(other, received(other, "a")->owner().id);
    const fs::path b = stageFolder(other, received(other, "b")->owner().id);
    EXPECT_EQ(test::runInChild([&] {
                  DownloadStage::hooks().swept = [] { ::raise(SIGKILL); };
                  DownloadStage::cleanup(other);
              }),
              128 + SIGKILL);
    const int leftBefore = fs::exists(a / "payload") + fs::exists(b / "payload");
    EXPECT_EQ(leftBefore, 1);
    EXPECT_EQ(DownloadStage::cleanup(other), (CleanupResult{2, 2, 0, 0}));
    EXPECT_EQ(test::listNames(other), std::vector<std::string>{});
}
