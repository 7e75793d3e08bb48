#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>

#include <fstream>

#include "foundation/BrindlexError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/ProductBrand.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;
using Purpose = OwnedRecord::Purpose;
using State = OwnedRecord::State;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

OwnedRecord readRecord(const fs::path& folder) {
    return JSON::decode<OwnedRecord>(JSON::parse(test::readFile(folder / "owner.json")));
}

std::unique_ptr<OwnedWorkspace> make(const fs::path& root, Purpose p = Purpose::capture, UUID attempt = UUID::random()) {
    return std::make_unique<OwnedWorkspace>(root, p, UUID::random(), UUID::random(), attempt);
}

}  // namespace

TEST(OwnedRecord, JSONKeepsAbsentAndEmptyPreparedSetsApart) {
    OwnedRecord r = OwnedRecord::make(UUID::random(), UUID::random(), UUID::random(), Purpose::exportStage);
    r.files["work-B.bin"] = FileStamp{1, 2, 3, std::string(64, 'f'), 1};
    r.files["work-A.bin"] = FileStamp{1, 3, 0, std::string(64, 'e'), 1};
    r.mutableFiles = {"work-B.bin", "work-A.bin"};
    Json j = r;
    EXPECT_FALSE(j.contains("publicationPrepared"));
    EXPECT_EQ(j["creator"], Phase0::bundleID());
    EXPECT_EQ(j["mutableFiles"], Json({"work-A.bin", "work-B.bin"}));
    OwnedRecord back = JSON::decode<OwnedRecord>(JSON::parse(JSON::print(j)));
    EXPECT_EQ(back, r);
    EXPECT_FALSE(back.publicationPrepared);
    r.publicationPrepared.emplace();
    j = r;
    EXPECT_EQ(j["publicationPrepared"], Json::array());
    EXPECT_EQ(JSON::decode<OwnedRecord>(j).publicationPrepared, std::set<std::string>{});
    EXPECT_EQ(JSON::encode(r), JSON::encode(JSON::decode<OwnedRecord>(j)));

    Json bad = j;
    bad["purpose"] = "export";
    EXPECT_THROW(JSON::decode<OwnedRecord>(bad), JSON::DecodeError);
    bad = j;
    bad["state"] = "paused";
    EXPECT_THROW(JSON::decode<OwnedRecord>(bad), JSON::DecodeError);
    bad = j;
    bad.erase("mutableFiles");
    EXPECT_THROW(JSON::decode<OwnedRecord>(bad), JSON::DecodeError);
    bad = j;
    bad["unknown"] = 1;  // ignored
    EXPECT_NO_THROW(JSON::decode<OwnedRecord>(bad));

    CleanupResult c{3, 2, 3, 0};
    EXPECT_EQ(Json(c), Json({{"examined", 3}, {"removed", 2}, {"protected", 3}, {"blocked", 0}}));
    EXPECT_EQ(JSON::decode<CleanupResult>(Json(c)), c);
}

TEST(OwnedWorkspace, CreatesALeasedRecordedFolderOncePerAttempt) {
    test::TempDir tmp;
    const UUID attempt = UUID::random();
    auto w = make(tmp / "root", Purpose::capture, attempt);
    const fs::path folder = tmp / "root" / attempt.text();
    EXPECT_EQ(test::listNames(folder), (std::vector<std::string>{"lease", "owner.json"}));
    OwnedRecord r = readRecord(folder);
    EXPECT_EQ(r, w->record());
    EXPECT_EQ(r.state, State::active);
    EXPECT_EQ(r.schema, 1);
    EXPECT_EQ(caseOf([&] { make(tmp / "root", Purpose::capture, attempt); }), ErrorCase::cleanupBlocked);
    w.reset();
    // Even with its owner gone, the attempt id cannot be reused.
    EXPECT_EQ(caseOf([&] { make(tmp / "root", Purpose::capture, attempt); }), ErrorCase::cleanupBlocked);
}

TEST(OwnedWorkspace, WriteRecordsStampsAndFailedWritesStayCleanable) {
    test::TempDir tmp;
    auto w = make(tmp.path());
    auto url = w->write(bytes("0123456789"), "png");
    const std::string leaf = url.filename().string();
    EXPECT_TRUE(leaf.starts_with("work-"));
    EXPECT_TRUE(leaf.ends_with(".png"));
    EXPECT_EQ(w->record().files.at(leaf), w->directory().stamp(leaf));
    EXPECT_TRUE(w->record().mutableFiles.empty());

    EXPECT_EQ(caseOf([&] { w->write(bytes("0123456789"), "bin", 4); }), ErrorCase::saveFailed);
    std::string failed;
    for (const auto& [name, stamp] : w->record().files) {
        if (name != leaf) failed = name;
    }
    ASSERT_FALSE(failed.empty());
    EXPECT_EQ(fs::file_size(w->directory().url() / failed), 4u);
    EXPECT_EQ(w->record().files.at(failed).size, 0);
    EXPECT_EQ(w->record().files.at(failed).sha256, Digest::data(std::string_view("")));
    EXPECT_TRUE(w->record().mutableFiles.count(failed));
    EXPECT_EQ(readRecord(w->directory().url()), w->record());

    // Data no longer than the allowance is written whole.
    EXPECT_NO_THROW(w->write(bytes("abc"), "bin", 4));
    EXPECT_NO_THROW(w->write({}, "bin", 0));
    const auto before = test::listNames(w->directory().url());
    EXPECT_EQ(caseOf([&] { w->write(bytes("x"), "a/b"); }), ErrorCase::unsafePath);
    EXPECT_EQ(test::listNames(w->directory().url()), before);

    w->finish();
    EXPECT_EQ(test::listNames(w->directory().url()), (std::vector<std::string>{"lease", "owner.json"}));
    EXPECT_EQ(readRecord(w->directory().url()).state, State::finished);
    EXPECT_TRUE(readRecord(w->directory().url()).files.empty());
}

TEST(OwnedWorkspace, PurposeAndNameChecks) {
    test::TempDir tmp;
    auto capture = make(tmp.path(), Purpose::capture);
    auto url = capture->write(bytes("x"));
    EXPECT_EQ(caseOf([&] { capture->preparePublication(url.filename().string()); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { capture->reserveMutablePDF(); }), ErrorCase::unsafePath);

    auto stage = make(tmp.path(), Purpose::exportStage);
    EXPECT_EQ(caseOf([&] { stage->preparePublication("work-unknown.bin"); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { stage->write(bytes("0123456789"), "bin", 2); }), ErrorCase::saveFailed);
    const std::string mut = *stage->record().mutableFiles.begin();
    EXPECT_EQ(caseOf([&] { stage->preparePublication(mut); }), ErrorCase::unsafePath);
    EXPECT_FALSE(stage->record().publicationPrepared);

    EXPECT_EQ(caseOf([&] { capture->registerFile(stage->directory().url() / mut); }), ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { capture->registerFile(capture->directory().url() / "owner.json"); }),
              ErrorCase::unsafePath);
}

TEST(OwnedWorkspace, PublishedStageWithTwoLinksPassesOnlyWhilePrepared) {
    test::TempDir tmp;
    fs::create_directory(tmp / "out");
    auto w = make(tmp / "root", Purpose::exportStage);
    const std::string leaf = w->write(bytes("payload")).filename().string();
    w->preparePublication(leaf);
    fs::create_hard_link(w->directory().url() / leaf, tmp / "out/published.txt");
    const FileStamp current = w->directory().stamp(leaf);
    EXPECT_EQ(current.links, 2u);
    EXPECT_TRUE(OwnedWorkspace::ownershipHolds(w->record(), leaf, w->record().files.at(leaf), current));
    OwnedRecord unprepared = w->record();
    unprepared.publicationPrepared.reset();
    EXPECT_FALSE(OwnedWorkspace::ownershipHolds(unprepared, leaf, unprepared.files.at(leaf), current));
    w->finish();
    EXPECT_EQ(test::readFile(tmp / "out/published.txt"), "payload");
    EXPECT_TRUE(w->record().publicationPrepared->count(leaf));
}

TEST(OwnedWorkspace, FinishRefusesAFileChangedBySomeoneElse) {
    test::TempDir tmp;
    auto w = make(tmp.path());
    const std::string leaf = w->write(bytes("original")).filename().string();
    test::writeFile(w->directory().url() / leaf, "changed!");
    EXPECT_EQ(caseOf([&] { w->finish(); }), ErrorCase::cleanupBlocked);
    EXPECT_EQ(test::readFile(w->directory().url() / leaf), "changed!");
    EXPECT_EQ(readRecord(w->directory().url()).state, State::active);
}

TEST(OwnedWorkspace, ReservedPrintFileFilledByAnotherWriterIsFinished) {
    test::TempDir tmp;
    auto w = make(tmp.path(), Purpose::printScratch);
    auto pdf = w->reserveMutablePDF();
    EXPECT_TRUE(pdf.filename().string().ends_with(".pdf"));
    EXPECT_TRUE(w->record().mutableFiles.count(pdf.filename().string()));
    {
        std::ofstream out(pdf, std::ios::binary | std::ios::app);  // same inode, one link
        out << "%PDF-1.4 printed";
    }
    w->finish();
    EXPECT_FALSE(fs::exists(pdf));
    // After register, the file keeps being mutable with its new stamp.
    auto w2 = make(tmp.path(), Purpose::printScratch);
    auto pdf2 = w2->reserveMutablePDF();
    test::writeFile(pdf2, "%PDF");
    w2->registerFile(pdf2);
    EXPECT_EQ(w2->record().files.at(pdf2.filename().string()).size, 4);
    EXPECT_TRUE(w2->record().mutableFiles.count(pdf2.filename().string()));
    w2->registerFile(fs::path(w2->directory().url().string() + "/") / pdf2.filename());
}

// The print engine saves by putting a new file in place of the reserved one;
// a launch after a crash still removes it, yet a second link (someone's hard
// link to it) keeps it, and a replaced file of another purpose stays.
TEST(OwnedWorkspace, AReservedPrintFileReplacedByTheEngineIsStillCleaned) {
    test::TempDir tmp;
    const fs::path root = tmp / "printing";
    fs::path replaced, linked;
    const int status = test::runInChild([&] {
        auto a = make(root, Purpose::printScratch);
        replaced = a->reserveMutablePDF();
        test::writeFile(a->directory().url() / "next.pdf", "%PDF-1.4 printed");
        fs::rename(a->directory().url() / "next.pdf", replaced);
        auto b = make(root, Purpose::printScratch);
        linked = b->reserveMutablePDF();
        test::writeFile(b->directory().url() / "next.pdf", "%PDF-1.4 printed");
        fs::rename(b->directory().url() / "next.pdf", linked);
        fs::create_hard_link(linked, root / "elsewhere.pdf");
        std::_Exit(0);  // no destructor: as a killed process leaves it
    });
    ASSERT_EQ(status, 0);
    const CleanupResult r = OwnedWorkspace::cleanup(root);
    EXPECT_EQ(r.removed, 1);
    EXPECT_EQ(r.blocked, 1);
    int pdfs = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root)) pdfs += entry.path().extension() == ".pdf";
    EXPECT_EQ(pdfs, 2) << "the linked scratch and its other name; nothing of the replaced one";

    auto capture = make(tmp / "captures", Purpose::capture);
    const fs::path written = capture->write(bytes("tile"));
    test::writeFile(capture->directory().url() / "next.bin", "tile");
    fs::rename(capture->directory().url() / "next.bin", written);
    EXPECT_EQ(caseOf([&] { capture->finish(); }), ErrorCase::cleanupBlocked);
}

// Killed while the engine wrote its PDF: GIO's replace leaves its stage
// beside the reserved file. The launch takes it from a print scratch folder
// (which then goes at the next launch), never from any other folder, and
// never one with a second name.
TEST(OwnedWorkspace, TheEnginesHalfWrittenStageGoesOnlyFromPrintScratch) {
    test::TempDir tmp;
    const fs::path printing = tmp / "printing", captures = tmp / "captures";
    const UUID printID = UUID::random(), linkedID = UUID::random(), captureID = UUID::random();
    const fs::path printFolder = printing / printID.text(), linkedFolder = printing / linkedID.text(),
                   captureFolder = captures / captureID.text();
    const int status = test::runInChild([&] {
        auto print = make(printing, Purpose::printScratch, printID);
        print->reserveMutablePDF();
        test::writeFile(printFolder / ".goutputstream-Q1W2E3", "%PDF-1.4 half");
        auto linked = make(printing, Purpose::printScratch, linkedID);
        linked->reserveMutablePDF();
        test::writeFile(linkedFolder / ".goutputstream-A1B2C3", "%PDF-1.4 half");
        fs::create_hard_link(linkedFolder / ".goutputstream-A1B2C3", tmp / "other-name");
        auto capture = make(captures, Purpose::capture, captureID);
        test::writeFile(captureFolder / ".goutputstream-Z9Y8X7", "not the engine's");
        std::_Exit(0);
    });
    ASSERT_EQ(status, 0);
    OwnedWorkspace::cleanup(printing);
    OwnedWorkspace::cleanup(captures);
    EXPECT_FALSE(fs::exists(printFolder / ".goutputstream-Q1W2E3"));
    EXPECT_TRUE(fs::exists(linkedFolder / ".goutputstream-A1B2C3"));
    EXPECT_TRUE(fs::exists(captureFolder / ".goutputstream-Z9Y8X7"));
    OwnedWorkspace::cleanup(printing);
    EXPECT_FALSE(fs::exists(printFolder)) << "the emptied scratch folder stayed";
    EXPECT_TRUE(fs::exists(captureFolder));
}

TEST(OwnedWorkspace, AbandonReleasesTheLease) {
    test::TempDir tmp;
    auto w = make(tmp.path());
    const fs::path folder = w->directory().url();
    w->abandon();
    EXPECT_EQ(w->lockFD(), -1);
    EXPECT_EQ(readRecord(folder).state, State::abandoned);
    UniqueFD fd(::open((folder / "lease").c_str(), O_RDWR));
    EXPECT_EQ(::flock(fd.get(), LOCK_EX | LOCK_NB), 0);
}

class Cleanup : public ::testing::Test {
protected:
    test::TempDir tmp;
    fs::path root() const { return tmp / "work"; }

    // A hidden non-UUID file, a live folder, a finished folder and an
    // abandoned folder holding two files.
    std::unique_ptr<OwnedWorkspace> populate(fs::path& finished, fs::path& abandoned) {
        fs::create_directories(root());
        test::writeFile(root() / ".DS_Store", "");
        auto live = make(root());
        live->write(bytes("in use"));
        auto done = make(root());
        done->write(bytes("x"));
        done->finish();
        finished = done->directory().url();
        done.reset();
        auto left = make(root());
        left->write(bytes("first"));
        left->write(bytes("second"));
        abandoned = left->directory().url();
        left->abandon();
        return live;
    }
};

TEST_F(Cleanup, CountsAndCleansWhatIsProvablyOurs) {
    fs::path finished, abandoned;
    auto live = populate(finished, abandoned);
    const auto liveNames = test::listNames(live->directory().url());
    CleanupResult r = OwnedWorkspace::cleanup(root());
    EXPECT_EQ(r, (CleanupResult{3, 2, 3, 0}));
    EXPECT_EQ(test::listNames(abandoned), (std::vector<std::string>{"lease", "owner.json"}));
    EXPECT_EQ(readRecord(abandoned).state, State::finished);
    EXPECT_EQ(test::listNames(live->directory().url()), liveNames);
    // A folder an earlier run finished goes away whole; it still counts as
    // protected. The one this run finished stays until the next run.
    EXPECT_FALSE(fs::exists(finished));
    EXPECT_TRUE(fs::exists(abandoned));
    EXPECT_TRUE(fs::exists(root() / ".DS_Store"));
    EXPECT_EQ(OwnedWorkspace::cleanup(root()), (CleanupResult{2, 0, 3, 0}));
    EXPECT_FALSE(fs::exists(abandoned));
}

TEST_F(Cleanup, StopsAfterFailAfterDeletions) {
    fs::path finished, abandoned;
    auto live = populate(finished, abandoned);
    CleanupResult r = OwnedWorkspace::cleanup(root(), 1);
    EXPECT_EQ(r.removed, 1);
    EXPECT_EQ(r.blocked, 1);
    OwnedRecord left = readRecord(abandoned);
    EXPECT_EQ(left.files.size(), 1u);
    EXPECT_EQ(left.state, State::abandoned);
    EXPECT_EQ(test::listNames(abandoned).size(), 3u);
    // The next run finishes the job.
    EXPECT_EQ(OwnedWorkspace::cleanup(root()).removed, 1);
}

TEST_F(Cleanup, BlocksWhatItCannotTrustAndKeepsItsFiles) {
    fs::create_directories(root());
    auto noLease = make(root());
    const auto noLeaseFile = noLease->write(bytes("keep me"));
    const fs::path noLeaseDir = noLease->directory().url();
    noLease.reset();
    fs::remove(noLeaseDir / "lease");

    auto foreign = make(root());
    const auto foreignFile = foreign->write(bytes("theirs"));
    const fs::path foreignDir = foreign->directory().url();
    foreign.reset();
    OwnedRecord r = readRecord(foreignDir);
    r.creator = "org.example.other";
    test::writeFile(foreignDir / "owner.json", JSON::print(Json(r)));

    auto newer = make(root());
    const auto newerFile = newer->write(bytes("future"));
    const fs::path newerDir = newer->directory().url();
    newer.reset();
    r = readRecord(newerDir);
    r.schema = 2;
    test::writeFile(newerDir / "owner.json", JSON::print(Json(r)));

    auto edited = make(root());
    const auto editedFile = edited->write(bytes("mine"));
    edited.reset();
    test::writeFile(editedFile, "edited by the user");

    auto renamed = make(root());
    renamed->write(bytes("x"));
    const fs::path renamedDir = renamed->directory().url();
    renamed.reset();
    const fs::path otherName = root() / UUID::random().text();
    fs::rename(renamedDir, otherName);

    fs::create_directory(root() / "not-a-uuid");
    test::writeFile(root() / UUID::random().text(), "a file, not a folder");

    CleanupResult c = OwnedWorkspace::cleanup(root());
    EXPECT_EQ(c.examined, 6);
    EXPECT_EQ(c.removed, 0);
    EXPECT_EQ(c.blocked, 6);
    EXPECT_EQ(c.protectedCount, 1);
    EXPECT_EQ(test::readFile(noLeaseFile), "keep me");
    EXPECT_EQ(test::readFile(foreignFile), "theirs");
    EXPECT_EQ(test::readFile(newerFile), "future");
    EXPECT_EQ(test::readFile(editedFile), "edited by the user");
    EXPECT_EQ(test::listNames(otherName).size(), 3u);
}

TEST_F(Cleanup, ProtectsAFolderLeasedByAnotherProcess) {
    fs::create_directories(root());
    const UUID attempt = UUID::random();
    test::HeldChild child([&] {
        static std::unique_ptr<OwnedWorkspace> held;
        held = make(root(), Purpose::capture, attempt);
        held->write(bytes("child's"));
    });
    ASSERT_TRUE(child.setupSucceeded());
    EXPECT_EQ(OwnedWorkspace::cleanup(root()), (CleanupResult{1, 0, 1, 0}));
    child.stop();
    // Its owner gone, the folder is cleaned.
    EXPECT_EQ(OwnedWorkspace::cleanup(root()), (CleanupResult{1, 1, 0, 0}));
}

TEST_F(Cleanup, AListedFileThatIsAlreadyGoneDoesNotBlock) {
    fs::create_directories(root());
    auto w = make(root());
    auto a = w->write(bytes("a"));
    auto b = w->write(bytes("b"));
    const fs::path dir = w->directory().url();
    w.reset();
    fs::remove(a);  // a crash between unlink and the record's rewrite
    CleanupResult c = OwnedWorkspace::cleanup(root());
    EXPECT_EQ(c, (CleanupResult{1, 1, 0, 0}));
    EXPECT_FALSE(fs::exists(b));
    EXPECT_EQ(readRecord(dir).state, State::finished);
    EXPECT_TRUE(readRecord(dir).files.empty());
}

// Only a name that is truly absent counts as gone: a file that is there but
// cannot be opened as ours blocks its folder, and nothing in it is deleted.
TEST_F(Cleanup, AListedFileReplacedByALinkBlocksTheFolderAndStaysListed) {
    fs::create_directories(root());
    const fs::path outside = tmp / "outside.txt";
    test::writeFile(outside, "the user's");
    auto w = make(root());
    auto a = w->write(bytes("a"));
    auto b = w->write(bytes("b"));
    const fs::path dir = w->directory().url();
    w.reset();
    fs::remove(a);
    fs::create_symlink(outside, a);
    const std::string recordBefore = test::readFile(dir / "owner.json");

    EXPECT_EQ(OwnedWorkspace::cleanup(root()), (CleanupResult{1, 0, 0, 1}));
    EXPECT_TRUE(fs::is_symlink(a));
    EXPECT_EQ(fs::read_symlink(a), outside);
    EXPECT_EQ(test::readFile(outside), "the user's");
    EXPECT_EQ(test::readFile(b), "b");
    EXPECT_EQ(test::readFile(dir / "owner.json"), recordBefore);

    // With the link gone as well, the name is absent and the folder is cleaned.
    fs::remove(a);
    EXPECT_EQ(OwnedWorkspace::cleanup(root()), (CleanupResult{1, 1, 0, 0}));
    EXPECT_EQ(test::readFile(outside), "the user's");
}

TEST_F(Cleanup, MissingRootIsCreatedEmpty) {
    EXPECT_EQ(OwnedWorkspace::cleanup(root() / "deeper"), (CleanupResult{0, 0, 0, 0}));
    EXPECT_TRUE(fs::is_directory(root() / "deeper"));
}

TEST_F(Cleanup, InterruptedCreationIsRemovedOnceItsCreatorIsGone) {
    fs::create_directories(root());
    const std::string building = ".creating-" + UUID::random().text();
    fs::create_directory(root() / building);
    test::writeFile(root() / building / "lease", "");
    test::writeFile(root() / building / (".stage-" + UUID::random().text()), "{ half");
    {
        test::HeldChild child([&] {
            static UniqueFD held;
            held.reset(::open((root() / building / "lease").c_str(), O_RDWR));
            if (::flock(held.get(), LOCK_EX | LOCK_NB) != 0) throw std::runtime_error("lock");
        });
        ASSERT_TRUE(child.setupSucceeded());
        EXPECT_EQ(OwnedWorkspace::cleanup(root()), (CleanupResult{0, 0, 1, 0}));
        EXPECT_TRUE(fs::exists(root() / building));
    }
    EXPECT_EQ(OwnedWorkspace::cleanup(root()), (CleanupResult{0, 0, 1, 0}));
    EXPECT_FALSE(fs::exists(root() / building));
    // Anything that is not bookkeeping keeps such a folder.
    const std::string other = ".creating-" + UUID::random().text();
    fs::create_directory(root() / other);
    test::writeFile(root() / other / "photo.png", "user data");
    OwnedWorkspace::cleanup(root());
    EXPECT_EQ(test::readFile(root() / other / "photo.png"), "user data");
}
