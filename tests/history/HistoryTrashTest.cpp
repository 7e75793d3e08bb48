#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "history/CaptureHistory.hpp"
#include "history/DesktopTrash.hpp"
#include "history/HistoryFixture.hpp"
#include "support/Errors.hpp"
#include "support/ScopedEnvironment.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;
using OState = SavedOutput::State;

namespace {

// Percent-encoding as the Trash format writes paths: unreserved characters
// and "/" stay, every other byte becomes %XX.
std::string escaped(const std::string& path) {
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == '/') {
            out += static_cast<char>(c);
        } else {
            char buf[4];
            std::snprintf(buf, sizeof buf, "%%%02X", c);
            out += buf;
        }
    }
    return out;
}

std::vector<std::string> holdingFolders(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& n : test::listNames(dir)) {
        if (n.starts_with(".trash-confirmed-")) out.push_back(n);
    }
    return out;
}

class HistoryTrashTest : public test::HistoryFixture {
protected:
    fs::path fakeTrash = tmp / "fake-trash";

    HistoryTrashTest() { fs::create_directories(fakeTrash); }

    CaptureHistoryEntry stored(CaptureHistory& h, const std::vector<fs::path>& files) {
        std::vector<SavedOutput> outputs;
        for (const auto& f : files) outputs.push_back(savedOutput(f));
        auto e = entry(outputs);
        h.reconcile(e);
        return e;
    }

    // A stand-in for the desktop's Trash that moves the file aside.
    CaptureHistory::TrashFunction movingTrash() const {
        return [this](const fs::path& held, const fs::path& original) -> std::optional<fs::path> {
            const auto dest = fakeTrash / original.filename();
            fs::rename(held, dest);
            return dest;
        };
    }

    SavedOutput storedOutput(CaptureHistory& h, UUID entryID, std::size_t index) {
        for (const auto& e : h.entries()) {
            if (e.id == entryID) return e.outputs.at(index);
        }
        ADD_FAILURE() << "no entry";
        return {};
    }

    void markPending(std::size_t entryIndex, std::size_t outputIndex, const fs::path& held) {
        Json file = JSON::parse(historyBytes());
        file["entries"][entryIndex]["outputs"][outputIndex]["state"] = "pending";
        file["entries"][entryIndex]["outputs"][outputIndex]["pendingPath"] = held.string();
        test::writeFile(historyDir / "history.json", JSON::print(file));
    }
};

}  // namespace

TEST_F(HistoryTrashTest, OutputsGoToTheHomeTrashWithTheirOriginalPlace) {
    test::ScopedEnvironment data("XDG_DATA_HOME", (tmp / "data").string());
    const fs::path trash = tmp / "data" / "Trash";
    auto h = history();
    const auto png = output("Screenshots/ページ 1.png", "png bytes");
    const auto pdf = output("b&c.pdf", "pdf bytes");
    const auto e = stored(*h, {png, pdf});

    const auto proposal = h->proposal(e.id);
    const auto receipts = h->execute(proposal);
    ASSERT_EQ(receipts.size(), 2u);
    const std::vector<fs::path> originals{png, pdf};
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(originals[i]);
        EXPECT_EQ(receipts[i].outputID, e.outputs[i].id);
        EXPECT_EQ(receipts[i].state, OState::trashed);
        EXPECT_TRUE(receipts[i].destinationContentVerified);
        EXPECT_FALSE(receipts[i].errorCode);
        const fs::path dest = trash / "files" / originals[i].filename();
        EXPECT_EQ(receipts[i].destination, dest.string());
        EXPECT_TRUE(fs::exists(dest));
        EXPECT_FALSE(fs::exists(originals[i]));
        const std::string info = test::readFile(trash / "info" / (originals[i].filename().string() + ".trashinfo"));
        const std::regex form("\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
        std::smatch m;
        ASSERT_TRUE(std::regex_match(info, m, form)) << info;
        EXPECT_EQ(m[1].str(), escaped(originals[i].string()));
        // The holding folder goes with the file: nothing is left behind in
        // the user's folder.
        EXPECT_TRUE(holdingFolders(originals[i].parent_path()).empty());
        EXPECT_EQ(storedOutput(*h, e.id, i).state, OState::trashed);
        EXPECT_FALSE(storedOutput(*h, e.id, i).pendingPath);
    }
    EXPECT_EQ(test::readFile(trash / "files" / "ページ 1.png"), "png bytes");

    // A confirmation is used once.
    EXPECT_EQ(caseOf([&] { h->execute(proposal); }), ErrorCase::confirmationChanged);

    // A second file of the same name does not replace the first in the Trash.
    const auto again = output("Screenshots/ページ 1.png", "second");
    const auto e2 = stored(*h, {again});
    const auto r2 = h->execute(h->proposal(e2.id));
    ASSERT_EQ(r2.size(), 1u);
    EXPECT_EQ(r2[0].destination, (trash / "files" / "ページ 1.2.png").string());
    EXPECT_TRUE(r2[0].destinationContentVerified);
    EXPECT_EQ(test::readFile(trash / "files" / "ページ 1.png"), "png bytes");
    EXPECT_TRUE(fs::exists(trash / "info" / "ページ 1.2.png.trashinfo"));

    // An entry whose outputs are all in the Trash already: nothing to do.
    const auto before = inodeOf(historyDir / "history.json");
    EXPECT_TRUE(h->execute(h->proposal(e.id)).empty());
    EXPECT_EQ(inodeOf(historyDir / "history.json"), before);
}

TEST_F(HistoryTrashTest, AnUnusableTrashLeavesTheFileInPlace) {
    test::ScopedEnvironment data("XDG_DATA_HOME", (tmp / "data").string());
    fs::create_directories(tmp / "data");
    test::writeFile(tmp / "data" / "Trash", "not a folder");
    auto h = history();
    const auto a = output("a.png", "kept");
    const auto e = stored(*h, {a});
    const auto receipts = h->execute(h->proposal(e.id));
    ASSERT_EQ(receipts.size(), 1u);
    EXPECT_EQ(receipts[0].state, OState::failed);
    EXPECT_EQ(receipts[0].errorCode, static_cast<int64_t>(ErrorCase::unsafePath));
    EXPECT_FALSE(receipts[0].destination);
    EXPECT_EQ(test::readFile(a), "kept");
    EXPECT_EQ(storedOutput(*h, e.id, 0).state, OState::failed);
    // Moved back, the file leaves no holding folder either.
    EXPECT_TRUE(holdingFolders(out).empty());
}

TEST_F(HistoryTrashTest, AnotherVolumeUsesThatVolumesTrash) {
    struct stat shm {}, here {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(tmp.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev) {
        GTEST_SKIP() << "needs /dev/shm on a device of its own";
    }
    test::ScopedEnvironment data("XDG_DATA_HOME", (tmp / "data").string());
    char templ[] = "/dev/shm/velmora-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(templ));
    const fs::path volumeDir = templ;
    const fs::path volumeTrash = fs::path("/dev/shm") / (".Trash-" + std::to_string(::getuid()));
    const bool trashExisted = fs::exists(volumeTrash);
    const fs::path file = volumeDir / "out" / "v.png";
    fs::create_directories(file.parent_path());
    test::writeFile(file, "volume");
    const std::string trashedName = volumeDir.filename().string() + ".png";

    CaptureHistory h(historyDir, {volumeDir / "out"});
    auto e = entry({savedOutput(file)});
    h.reconcile(e);
    // A name of its own, so parallel runs never meet in the shared Trash.
    std::vector<TrashReceipt> receipts = h.execute(h.proposal(e.id), [&](const fs::path& held, const fs::path&) {
        return DesktopTrash::move(held, file.parent_path() / trashedName);
    });
    ASSERT_EQ(receipts.size(), 1u);
    EXPECT_EQ(receipts[0].state, OState::trashed);
    EXPECT_EQ(receipts[0].destination, (volumeTrash / "files" / trashedName).string());
    EXPECT_TRUE(receipts[0].destinationContentVerified);
    const std::string info = test::readFile(volumeTrash / "info" / (trashedName + ".trashinfo"));
    // Relative to the volume's top folder.
    EXPECT_NE(info.find("\nPath=" + volumeDir.filename().string() + "/out/" + trashedName + "\n"), std::string::npos)
        << info;
    EXPECT_FALSE(fs::exists(tmp / "data" / "Trash" / "files" / trashedName));

    fs::remove(volumeTrash / "files" / trashedName);
    fs::remove(volumeTrash / "info" / (trashedName + ".trashinfo"));
    if (!trashExisted) fs::remove_all(volumeTrash);
    fs::remove_all(volumeDir);
}

TEST_F(HistoryTrashTest, ProposalsOnlyForFilesStillAsWritten) {
    auto h = history();
    EXPECT_EQ(caseOf([&] { h->proposal(UUID::random()); }), ErrorCase::invalidInput);

    const auto edited = output("edited.png", "as written");
    const auto e1 = stored(*h, {edited});
    test::writeFile(edited, "edited");
    EXPECT_EQ(caseOf([&] { h->proposal(e1.id); }), ErrorCase::confirmationChanged);

    // An OCR text recorded over its own source file.
    const auto source = output("scan.txt");
    auto e2 = entry({savedOutput(source)}, "ocr");
    e2.sourceStamps = {FileStamp::read(source)};
    h->reconcile(e2);
    EXPECT_EQ(caseOf([&] { h->proposal(e2.id); }), ErrorCase::confirmationChanged);

    // Recorded while the folder was approved; it no longer is.
    const auto elsewhere = output("old-root/a.png");
    const auto e3 = stored(*h, {elsewhere});
    CaptureHistory narrower(historyDir, {out / "new-root"});
    EXPECT_EQ(caseOf([&] { narrower.proposal(e3.id); }), ErrorCase::confirmationChanged);

    const auto gone = output("gone.png");
    const auto e4 = stored(*h, {gone});
    fs::remove(gone);
    EXPECT_EQ(caseOf([&] { h->proposal(e4.id); }), ErrorCase::sourceMissing);
    EXPECT_FALSE(fs::exists(fakeTrash / "gone.png"));
}

TEST_F(HistoryTrashTest, EachOutputEndsTrashedOrBackInPlaceWithItsReason) {
    auto h = history();
    const auto edited = output("edited.png", "as written");
    const auto deleted = output("deleted.png");
    const auto fine = output("fine.png", "fine");
    const auto e = stored(*h, {edited, deleted, fine});
    const auto proposal = h->proposal(e.id);
    test::writeFile(edited, "edited after the proposal");
    fs::remove(deleted);

    const auto receipts = h->execute(proposal, movingTrash());
    ASSERT_EQ(receipts.size(), 3u);
    EXPECT_EQ(receipts[0].state, OState::changed);
    EXPECT_EQ(receipts[0].errorCode, 21);
    EXPECT_EQ(test::readFile(edited), "edited after the proposal");
    EXPECT_EQ(receipts[1].state, OState::missing);
    EXPECT_EQ(receipts[1].errorCode, 19);
    EXPECT_EQ(receipts[2].state, OState::trashed);
    EXPECT_EQ(receipts[2].destination, (fakeTrash / "fine.png").string());
    EXPECT_TRUE(receipts[2].destinationContentVerified);
    EXPECT_EQ(storedOutput(*h, e.id, 0).state, OState::changed);
    EXPECT_EQ(storedOutput(*h, e.id, 1).state, OState::missing);
    EXPECT_EQ(storedOutput(*h, e.id, 2).state, OState::trashed);

    // A Trash that fails: the file is back under its own name.
    const auto refused = output("refused.png", "stays");
    const auto e2 = stored(*h, {refused, output("refused-too.png")});
    int calls = 0;
    const auto r2 = h->execute(h->proposal(e2.id), [&](const fs::path&, const fs::path&) -> std::optional<fs::path> {
        if (calls++ == 0) raise(ErrorCase::saveFailed);
        throw std::system_error(EXDEV, std::generic_category(), "rename");
    });
    ASSERT_EQ(r2.size(), 2u);
    EXPECT_EQ(r2[0].state, OState::failed);
    EXPECT_EQ(r2[0].errorCode, 9);
    EXPECT_EQ(r2[1].state, OState::failed);
    EXPECT_EQ(r2[1].errorCode, EXDEV);
    EXPECT_EQ(test::readFile(refused), "stays");
    EXPECT_TRUE(holdingFolders(out).empty());
    EXPECT_FALSE(storedOutput(*h, e2.id, 0).pendingPath);

    // A Trash that reports a file other than ours, or cannot say where.
    const auto e3 = stored(*h, {output("elsewhere.png", "ours"), output("unknown.png")});
    test::writeFile(fakeTrash / "other.png", "not ours");
    calls = 0;
    const auto r3 = h->execute(h->proposal(e3.id), [&](const fs::path& file, const fs::path&) -> std::optional<fs::path> {
        fs::remove(file);
        if (calls++ == 0) return fakeTrash / "other.png";
        return std::nullopt;
    });
    ASSERT_EQ(r3.size(), 2u);
    EXPECT_EQ(r3[0].state, OState::trashed);
    EXPECT_FALSE(r3[0].destinationContentVerified);
    EXPECT_EQ(r3[1].state, OState::trashed);
    EXPECT_FALSE(r3[1].destination);
    EXPECT_FALSE(r3[1].destinationContentVerified);
}

// A file whose way back is taken (another file now has its name) stays held:
// its holding folder stays with it, for restorePending to bring it home.
TEST_F(HistoryTrashTest, AHeldFileThatCannotGoBackKeepsItsHoldingFolder) {
    auto h = history();
    const auto a = output("taken.png", "ours");
    const auto e = stored(*h, {a});
    const auto receipts = h->execute(h->proposal(e.id), [&](const fs::path&, const fs::path& original) -> std::optional<fs::path> {
        test::writeFile(original, "someone else's");
        raise(ErrorCase::saveFailed);
    });
    ASSERT_EQ(receipts.size(), 1u);
    EXPECT_EQ(receipts[0].state, OState::pending);
    const auto held = holdingFolders(out);
    ASSERT_EQ(held.size(), 1u);
    EXPECT_EQ(test::readFile(out / held[0] / "confirmed-output"), "ours");
    EXPECT_EQ(storedOutput(*h, e.id, 0).pendingPath, (out / held[0] / "confirmed-output").string());

    // Once the name is free again it comes home, and the folder goes.
    fs::remove(a);
    EXPECT_EQ(h->restorePending(), 1);
    EXPECT_EQ(test::readFile(a), "ours");
    EXPECT_TRUE(holdingFolders(out).empty());
}

TEST_F(HistoryTrashTest, AnEntryChangedSinceItsProposalIsLeftAlone) {
    auto h = history();
    const auto a = output("a.png");
    const auto e = stored(*h, {a, output("b.png")});
    const auto proposal = h->proposal(e.id);
    // Another window trashed one of its files meanwhile.
    Json file = JSON::parse(historyBytes());
    file["entries"][0]["outputs"][1]["state"] = "trashed";
    test::writeFile(historyDir / "history.json", JSON::print(file));
    const std::string before = historyBytes();
    EXPECT_EQ(caseOf([&] { h->execute(proposal, movingTrash()); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(historyBytes(), before);
    EXPECT_TRUE(fs::exists(a));
    // Or removed the entry.
    const auto fresh = h->proposal(e.id);
    h->removeAllReferences();
    EXPECT_EQ(caseOf([&] { h->execute(fresh, movingTrash()); }), ErrorCase::confirmationChanged);
    EXPECT_TRUE(fs::exists(a));
}

TEST_F(HistoryTrashTest, RestorePendingMovesHeldFilesBackAndSettlesStaleRecords) {
    auto h = history();
    const auto held = output("held.png", "held");
    const auto odd = output("odd.png", "odd");
    const auto neverMoved = output("never-moved.png", "home");
    const auto trashedMeanwhile = output("trashed.png", "gone on");
    const auto altered = output("altered.png", "as written");
    stored(*h, {held, odd, neverMoved, trashedMeanwhile, altered});

    const auto holding = out / ".trash-confirmed-A" / "confirmed-output";
    fs::create_directories(holding.parent_path());
    fs::rename(held, holding);
    markPending(0, 0, holding);
    const auto oddHolding = out / "not-a-holding-folder" / "confirmed-output";
    fs::create_directories(oddHolding.parent_path());
    fs::rename(odd, oddHolding);
    markPending(0, 1, oddHolding);
    // A run that stopped before the move into the holding folder.
    markPending(0, 2, out / ".trash-confirmed-B" / "confirmed-output");
    // A run whose file reached the Trash but whose last save failed.
    fs::remove(trashedMeanwhile);
    markPending(0, 3, out / ".trash-confirmed-C" / "confirmed-output");
    const auto alteredHolding = out / ".trash-confirmed-D" / "confirmed-output";
    fs::create_directories(alteredHolding.parent_path());
    fs::rename(altered, alteredHolding);
    test::writeFile(alteredHolding, "changed while held");
    markPending(0, 4, alteredHolding);

    EXPECT_EQ(h->restorePending(), 1);
    const auto outputs = h->entries().at(0).outputs;
    EXPECT_EQ(outputs[0].state, OState::available);
    EXPECT_FALSE(outputs[0].pendingPath);
    EXPECT_EQ(test::readFile(held), "held");
    EXPECT_FALSE(fs::exists(holding.parent_path())) << "the emptied holding folder goes";
    EXPECT_EQ(outputs[1].state, OState::pending);
    EXPECT_TRUE(fs::exists(oddHolding));
    EXPECT_EQ(outputs[2].state, OState::available);
    EXPECT_FALSE(outputs[2].pendingPath);
    EXPECT_EQ(outputs[3].state, OState::missing);
    EXPECT_EQ(outputs[4].state, OState::pending);
    EXPECT_TRUE(fs::exists(alteredHolding));

    // Settled records can be trashed again.
    EXPECT_EQ(h->restorePending(), 0);
    const auto receipts = h->execute(h->proposal(h->entries().at(0).id), movingTrash());
    ASSERT_EQ(receipts.size(), 2u);
    EXPECT_EQ(receipts[0].state, OState::trashed);
    EXPECT_EQ(receipts[1].state, OState::trashed);
}

TEST_F(HistoryTrashTest, AFailedSaveAfterTheTrashIsReportedAndSettledLater) {
    auto h = history();
    const auto a = output("a.png");
    const auto e = stored(*h, {a});
    const fs::path aside = tmp / "history-aside.json";
    auto sabotage = [&](const fs::path& held, const fs::path& original) -> std::optional<fs::path> {
        const auto dest = fakeTrash / original.filename();
        fs::rename(held, dest);
        // The history file can no longer be replaced.
        fs::rename(historyDir / "history.json", aside);
        fs::create_directory(historyDir / "history.json");
        return dest;
    };
    EXPECT_EQ(caseOf([&] { h->execute(h->proposal(e.id), sabotage); }), ErrorCase::unsafePath);
    fs::remove(historyDir / "history.json");
    fs::rename(aside, historyDir / "history.json");
    EXPECT_EQ(storedOutput(*h, e.id, 0).state, OState::pending);

    EXPECT_EQ(h->restorePending(), 0);
    EXPECT_EQ(storedOutput(*h, e.id, 0).state, OState::missing);
    EXPECT_TRUE(h->removeReference(e.id));
}
