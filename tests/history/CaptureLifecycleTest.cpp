#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "foundation/OwnedWorkspace.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/StateLease.hpp"
#include "history/CaptureLifecycle.hpp"
#include "history/HistoryFixture.hpp"
#include "support/Errors.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;
using JState = CaptureLifecycle::Journal::State;
using Recovery = CaptureLifecycle::Recovery;

namespace {

class CaptureLifecycleTest : public test::HistoryFixture {
protected:
    fs::path root = storage / "work" / "lifecycle";

    CaptureLifecycle::Journal journalOn(const fs::path& folder) const {
        return JSON::decode<CaptureLifecycle::Journal>(JSON::parse(test::readFile(folder / "lifecycle.json")));
    }

    void rewriteJournal(const fs::path& folder, const std::function<void(Json&)>& edit) const {
        Json j = JSON::parse(test::readFile(folder / "lifecycle.json"));
        edit(j);
        test::writeFile(folder / "lifecycle.json", JSON::print(j));
    }

    // An attempt that died after recording its outputs: its journal stays,
    // its lease is free.
    fs::path abandoned(const std::vector<fs::path>& files, std::optional<int64_t> expected) const {
        CaptureLifecycle life(root, "capture", CaptureMetadata{"https://example.com/", "例", "PNG", std::nullopt});
        if (expected) life.expect(*expected);
        for (const auto& f : files) life.prepare(f, FileStamp::read(f));
        return life.directory().url();
    }

    bool leaseFree(const fs::path& folder) const {
        try {
            SecureDirectory dir(folder, false);
            StateLease lease(dir, "lifecycle-lease", false);
            return true;
        } catch (const BrindlexError&) {
            return false;
        }
    }
};

const CaptureHistoryEntry& only(const std::vector<CaptureHistoryEntry>& entries) {
    EXPECT_EQ(entries.size(), 1u);
    return entries.at(0);
}

}  // namespace

TEST_F(CaptureLifecycleTest, RefusesWhatNoAttemptCanMean) {
    EXPECT_EQ(caseOf([&] { CaptureLifecycle(root, "ocr"); }), ErrorCase::invalidInput);
    EXPECT_FALSE(fs::exists(root));

    CaptureLifecycle life(root, "print");
    const fs::path folder = life.directory().url();
    EXPECT_EQ(folder, root / life.journal().attemptID.text());
    EXPECT_EQ(test::listNames(folder), (std::vector<std::string>{"lifecycle-lease", "lifecycle.json"}));
    EXPECT_FALSE(leaseFree(folder));
    const auto first = journalOn(folder);
    EXPECT_EQ(first.state, JState::started);
    EXPECT_EQ(first.creator, Phase0::bundleID());
    EXPECT_EQ(first.launchID, CaptureLifecycle::launchID());
    EXPECT_FALSE(JSON::parse(test::readFile(folder / "lifecycle.json")).contains("expectedCount"));

    EXPECT_EQ(caseOf([&] { life.expect(0); }), ErrorCase::invalidInput);
    life.expect(3);
    life.expect(2);
    EXPECT_EQ(journalOn(folder).expectedCount, 2);

    // One file published under a second name after the first was taken.
    const auto a = output("a.pdf", "pdf");
    const auto stamp = FileStamp::read(a);
    const auto b = output("b.png", "png");
    life.prepare(out / "doc.pdf", stamp);
    life.prepare(b, FileStamp::read(b));
    life.prepare(out / "doc_001.pdf", stamp);
    auto j = journalOn(folder);
    EXPECT_EQ(j.state, JState::publishing);
    ASSERT_EQ(j.outputs.size(), 2u);
    EXPECT_EQ(j.outputs[0].path, b.string());
    EXPECT_EQ(j.outputs[1].path, (out / "doc_001.pdf").string());

    auto h = history();
    life.finish(*h, ErrorCase::renderFailed);
    EXPECT_EQ(journalOn(folder).state, JState::reconciled);
    EXPECT_TRUE(leaseFree(folder));
    EXPECT_EQ(caseOf([&] { life.prepare(a, stamp); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(journalOn(folder).outputs.size(), 2u);
}

TEST_F(CaptureLifecycleTest, FinishRecordsWhatIsReallyThere) {
    auto h = history();
    const CaptureMetadata meta{"https://example.com/a", "題名", "PNG", std::nullopt};

    const auto p1 = output("one.png", "1");
    const auto p2 = output("two.png", "2");
    CaptureLifecycle done(root, "capture", meta);
    done.expect(2);
    done.prepare(p1, FileStamp::read(p1));
    done.prepare(p2, FileStamp::read(p2));
    done.finish(*h);
    auto e = only(h->entries());
    EXPECT_EQ(e.id, done.journal().attemptID);
    EXPECT_EQ(e.created, done.journal().created);
    EXPECT_EQ(e.state, "completed");
    EXPECT_FALSE(e.error);
    EXPECT_EQ(e.metadata, meta);
    EXPECT_EQ(e.outputs.size(), 2u);

    auto finishOne = [&](std::optional<ErrorCase> error, int64_t expected, const std::vector<fs::path>& present,
                         const std::vector<fs::path>& lost) {
        CaptureLifecycle life(root, "capture", meta);
        life.expect(expected);
        for (const auto& f : present) life.prepare(f, FileStamp::read(f));
        for (const auto& f : lost) {
            life.prepare(f, FileStamp::read(f));
            fs::remove(f);
        }
        h->removeAllReferences();
        life.finish(*h, error);
        return only(h->entries());
    };
    e = finishOne(ErrorCase::cancelled, 3, {output("c.png")}, {});
    EXPECT_EQ(e.state, "cancelled");
    EXPECT_EQ(e.error, ErrorCase::cancelled);
    EXPECT_FALSE(e.metadata);
    // A file published and gone since: the save did write, and is listed.
    e = finishOne(ErrorCase::renderFailed, 1, {}, {output("published-gone.png")});
    EXPECT_EQ(e.state, "interrupted");
    EXPECT_EQ(e.error, ErrorCase::renderFailed);
    // A save refused or failed before its first file saved nothing: no row.
    h->removeAllReferences();
    CaptureLifecycle refused(root, "capture", meta);
    refused.finish(*h, ErrorCase::renderFailed);
    EXPECT_TRUE(h->entries().empty());
    EXPECT_EQ(journalOn(refused.directory().url()).state, JState::reconciled);
    EXPECT_TRUE(leaseFree(refused.directory().url()));
    e = finishOne(ErrorCase::renderFailed, 2, {output("d.png")}, {output("gone.png")});
    EXPECT_EQ(e.state, "partial");
    ASSERT_EQ(e.outputs.size(), 1u);
    EXPECT_EQ(e.outputs[0].path, (out / "d.png").string());
    // Everything that was expected is there: the attempt did its job.
    e = finishOne(ErrorCase::cancelled, 1, {output("e.png")}, {});
    EXPECT_EQ(e.state, "completed");
    EXPECT_FALSE(e.error);

    // A history that refuses the entry leaves the journal final and leased.
    const auto edited = output("edited.png", "before");
    CaptureLifecycle life(root, "capture");
    life.prepare(edited, FileStamp::read(edited));
    test::writeFile(edited, "after, longer");
    EXPECT_EQ(caseOf([&] { life.finish(*h); }), ErrorCase::confirmationChanged);
    EXPECT_EQ(journalOn(life.directory().url()).state, JState::completed);
    EXPECT_FALSE(leaseFree(life.directory().url()));
}

TEST_F(CaptureLifecycleTest, RecoveryReconcilesWhatItCanVouchForAndKeepsTheRest) {
    auto h = history();
    EXPECT_EQ(CaptureLifecycle::recover(root, *h), Recovery{});
    EXPECT_TRUE(fs::is_directory(root));

    // Reconciled at recovery: all files there; one file of an unknown count;
    // a file deleted before recovery is left out.
    const auto whole = abandoned({output("w1.png"), output("w2.png")}, 2);
    const auto part = abandoned({output("p1.png")}, std::nullopt);
    const auto lost = output("lost.png");
    const auto withLoss = abandoned({lost, output("kept.png")}, 2);
    fs::remove(lost);

    // Kept back, each for its own reason.
    test::writeFile(root / "stray.txt", "not a journal");
    const auto edited = output("edited.png", "as published");
    const auto editedJournal = abandoned({edited}, 1);
    test::writeFile(edited, "edited since");
    const auto linked = output("linked.png");
    const auto linkedJournal = abandoned({linked}, 1);
    fs::create_hard_link(linked, tmp / "second-link.png");
    fs::create_hard_link(linked, tmp / "third-link.png");
    const auto noLease = abandoned({}, std::nullopt);
    fs::remove(noLease / "lifecycle-lease");
    const auto schema2 = abandoned({}, std::nullopt);
    rewriteJournal(schema2, [](Json& j) { j["schema"] = 2; });
    const auto foreign = abandoned({}, std::nullopt);
    rewriteJournal(foreign, [](Json& j) { j["creator"] = "com.example.other"; });
    const auto renamed = abandoned({}, std::nullopt);
    rewriteJournal(renamed, [](Json& j) { j["attemptID"] = UUID::random().text(); });
    const auto ocr = abandoned({}, std::nullopt);
    rewriteJournal(ocr, [](Json& j) { j["kind"] = "ocr"; });
    const auto unknownState = abandoned({}, std::nullopt);
    rewriteJournal(unknownState, [](Json& j) { j["state"] = "paused"; });

    // Still running in another process.
    test::HeldChild running([&] { new CaptureLifecycle(root, "print"); });
    ASSERT_TRUE(running.setupSucceeded());

    const std::string editedBefore = test::readFile(editedJournal / "lifecycle.json");
    const Recovery first = CaptureLifecycle::recover(root, *h);
    EXPECT_EQ(first.recovered, 3);
    EXPECT_EQ(first.active, 1);
    EXPECT_EQ(first.retained, 9);
    EXPECT_EQ(first.alreadyReconciled, 0);

    const auto entries = h->entries();
    ASSERT_EQ(entries.size(), 3u);
    auto byID = [&](const fs::path& folder) {
        const auto id = *UUID::parse(folder.filename().string());
        return *std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.id == id; });
    };
    EXPECT_EQ(byID(whole).state, "completed");
    EXPECT_FALSE(byID(whole).error);
    EXPECT_TRUE(byID(whole).metadata);
    EXPECT_EQ(byID(part).state, "partial");
    EXPECT_EQ(byID(part).error, ErrorCase::interruptedSave);
    EXPECT_EQ(byID(withLoss).state, "partial");
    ASSERT_EQ(byID(withLoss).outputs.size(), 1u);
    EXPECT_EQ(byID(withLoss).outputs[0].path, (out / "kept.png").string());
    for (const auto& f : {whole, part, withLoss}) EXPECT_EQ(journalOn(f).state, JState::reconciled);
    EXPECT_EQ(test::readFile(editedJournal / "lifecycle.json"), editedBefore);
    EXPECT_EQ(journalOn(linkedJournal).state, JState::publishing);

    // Nothing changes at the next launch; the running attempt is still active.
    const std::string historyBefore = historyBytes();
    const Recovery second = CaptureLifecycle::recover(root, *h);
    EXPECT_EQ(second, (Recovery{0, 1, 9, 3}));
    EXPECT_EQ(historyBytes(), historyBefore);

    // An attempt that died before publishing anything saved nothing: no
    // row, and no notice that something was put into the history.
    running.stop();
    const Recovery third = CaptureLifecycle::recover(root, *h);
    EXPECT_EQ(third, (Recovery{0, 0, 9, 4}));
    EXPECT_EQ(historyBytes(), historyBefore);
}

TEST_F(CaptureLifecycleTest, LaunchStepSetsTheNoticeAndRestoresHeldFiles) {
    auto& notice = AppHistory::startupNotice();
    notice.set(AppHistory::initialNotice);
    EXPECT_FALSE(HistoryLaunch::run(root));
    EXPECT_EQ(notice.get(), AppHistory::recoveryFailedNotice);

    SettingsStore settings(storage / "settings");
    FixedOutputRoots roots({out});
    AppHistory::ScopedEnvironment env({storage, &settings, &roots});
    notice.set(AppHistory::initialNotice);
    EXPECT_EQ(HistoryLaunch::run(root), Recovery{});
    EXPECT_EQ(notice.get(), AppHistory::initialNotice);

    abandoned({output("a.png")}, 1);
    EXPECT_EQ(HistoryLaunch::run(root), (Recovery{1, 0, 0, 0}));
    EXPECT_EQ(notice.get(), AppHistory::recoveredNotice);

    // A file a trash run left held goes home at launch.
    const auto entry = history()->entries().at(0);
    const auto held = out / ".trash-confirmed-1" / "confirmed-output";
    fs::create_directories(held.parent_path());
    fs::rename(entry.outputs[0].path, held);
    Json file = JSON::parse(historyBytes());
    file["entries"][0]["outputs"][0]["state"] = "pending";
    file["entries"][0]["outputs"][0]["pendingPath"] = held.string();
    test::writeFile(historyDir / "history.json", JSON::print(file));

    test::writeFile(root / "stray", "x");
    EXPECT_EQ(HistoryLaunch::run(root), (Recovery{0, 0, 1, 1}));
    EXPECT_EQ(notice.get(), AppHistory::retainedNotice);
    EXPECT_TRUE(fs::exists(entry.outputs[0].path));
    EXPECT_EQ(history()->entries().at(0).outputs[0].state, SavedOutput::State::available);
}

namespace {

// One 4-part capture published through the journal the way the pipeline
// does it, with a numbered point between every two steps; the child kills
// itself at point killAt.
void publishFourParts(const fs::path& historyDir, const fs::path& out, const fs::path& root, int killAt) {
    int point = 0;
    auto step = [&] {
        if (point++ == killAt) ::raise(SIGKILL);
    };
    CaptureHistory h(historyDir, {out});
    step();
    CaptureLifecycle life(root, "capture", CaptureMetadata{"https://example.com/", "長いページ", "PNG", std::nullopt});
    step();
    life.expect(4);
    step();
    SecureDirectory folder(out / "Screenshots", true);
    for (int part = 1; part <= 4; ++part) {
        const std::string bytes = "part " + std::to_string(part);
        folder.exportData(std::vector<uint8_t>(bytes.begin(), bytes.end()), "example.com_page", "png", std::nullopt,
                          [&](const fs::path& target, const FileStamp& stamp) {
                              step();
                              life.prepare(target, stamp);
                              step();
                          });
        step();
    }
    life.finish(h);
    step();
}

}  // namespace

TEST_F(CaptureLifecycleTest, KilledAtAnyStepTheNextLaunchAccountsForEveryOutput) {
    // Point -1 kills nowhere: the last round is a capture that completes.
    bool completedOnce = false;
    for (int killAt = 0; killAt < 64 && !completedOnce; ++killAt) {
        SCOPED_TRACE("killed at point " + std::to_string(killAt));
        test::TempDir round;
        const fs::path rs = round / "storage", ro = round / "out";
        fs::create_directories(ro);
        AppRuntime::ScopedOverride roots{AppRuntime{rs, ro}};
        const fs::path rh = rs / "history", rl = rs / "work" / "lifecycle";
        // An occupied name makes the first part take a numbered one.
        fs::create_directories(ro / "Screenshots");
        test::writeFile(ro / "Screenshots" / "example.com_page.png", "the user's own file");

        const int status = test::runInChild([&] { publishFourParts(rh, ro, rl, killAt); });
        completedOnce = status == 0;
        ASSERT_TRUE(status == 0 || status == 128 + SIGKILL) << status;

        // The launch order: export work folders first, then the journals.
        OwnedWorkspace::cleanup(Phase0Work::exports());
        CaptureHistory h(rh, {ro});
        const Recovery first = CaptureLifecycle::recover(rl, h);
        EXPECT_EQ(first.retained, 0);
        EXPECT_EQ(first.active, 0);
        const auto entries = h.entries();
        EXPECT_LE(entries.size(), 1u);

        std::set<std::string> recorded;
        for (const auto& e : entries) {
            for (const auto& o : e.outputs) {
                recorded.insert(o.path);
                EXPECT_EQ(FileStamp::read(o.path), o.stamp) << o.path;
                EXPECT_EQ(o.stamp.links, 1u);
            }
            if (e.outputs.size() == 4) {
                EXPECT_EQ(e.state, "completed");
            } else {
                EXPECT_EQ(e.state, e.outputs.empty() ? "interrupted" : "partial");
                EXPECT_EQ(e.error, ErrorCase::interruptedSave);
            }
        }
        // Every published file is in the history; the user's own is not.
        std::set<std::string> published;
        for (const auto& name : test::listNames(ro / "Screenshots")) {
            if (name != "example.com_page.png") published.insert((ro / "Screenshots" / name).string());
        }
        EXPECT_EQ(recorded, published);
        EXPECT_EQ(test::readFile(ro / "Screenshots" / "example.com_page.png"), "the user's own file");
        // No staged copy is left behind in the export work folders.
        if (fs::exists(Phase0Work::exports())) {
            for (const auto& folder : test::listNames(Phase0Work::exports())) {
                for (const auto& name : test::listNames(Phase0Work::exports() / folder)) {
                    EXPECT_FALSE(name.starts_with("work-")) << folder << "/" << name;
                }
            }
        }

        const std::string before = fs::exists(rh / "history.json") ? test::readFile(rh / "history.json") : "";
        const Recovery second = CaptureLifecycle::recover(rl, h);
        EXPECT_EQ(second.recovered, 0);
        EXPECT_EQ(second.retained, 0);
        EXPECT_EQ(second.alreadyReconciled, first.recovered + first.alreadyReconciled);
        EXPECT_EQ(fs::exists(rh / "history.json") ? test::readFile(rh / "history.json") : "", before);
    }
    EXPECT_TRUE(completedOnce);
}

TEST_F(CaptureLifecycleTest, KilledBetweenFinishingAndRecordingTheNextLaunchRecordsIt) {
    const auto a = output("a.png");
    auto h = history();
    h->entries();
    // Holding the history lock stops the child inside finish, after it wrote
    // its final state and before the history took the entry.
    UniqueFD lock(::open((historyDir / "history-lock").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(lock);
    ASSERT_EQ(::flock(lock.get(), LOCK_EX), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        try {
            CaptureHistory ch(historyDir, {out});
            CaptureLifecycle life(root, "capture");
            life.expect(1);
            life.prepare(a, FileStamp::read(a));
            life.finish(ch);
        } catch (...) {
        }
        ::_exit(0);
    }
    ASSERT_GT(pid, 0);
    fs::path folder;
    for (int i = 0; i < 3000 && folder.empty(); ++i) {
        if (fs::exists(root)) {
            for (const auto& name : test::listNames(root)) {
                try {
                    if (journalOn(root / name).state == JState::completed) folder = root / name;
                } catch (...) {
                }
            }
        }
        if (folder.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_FALSE(folder.empty()) << "the child never reached its final state";
    lock.reset();

    EXPECT_EQ(CaptureLifecycle::recover(root, *h), (Recovery{1, 0, 0, 0}));
    const auto e = only(h->entries());
    EXPECT_EQ(e.state, "completed");
    EXPECT_EQ(e.outputs.at(0).path, a.string());
}

TEST_F(CaptureLifecycleTest, ANameThatHoldsAnotherFileWasNeverOurs) {
    // The attempt recorded a name that turned out to be taken, and died
    // before it tried the next one; another part did get published.
    const auto users = output("page.png", "the user's file");
    const auto ours = output("page_002.png", "part 2");
    auto life = std::make_unique<CaptureLifecycle>(root, "capture");
    life->expect(2);
    FileStamp staged = FileStamp::read(ours);
    staged.inode += 1000;
    life->prepare(users, staged);
    life->prepare(ours, FileStamp::read(ours));
    life.reset();
    auto h = history();
    EXPECT_EQ(CaptureLifecycle::recover(root, *h), (Recovery{1, 0, 0, 0}));
    const auto e = only(h->entries());
    EXPECT_EQ(e.state, "partial");
    ASSERT_EQ(e.outputs.size(), 1u);
    EXPECT_EQ(e.outputs[0].path, ours.string());
}
