#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "history/HistoryFixture.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

class CaptureHistoryTest : public test::HistoryFixture {};

Json readJSON(const fs::path& p) { return JSON::parse(test::readFile(p)); }

}  // namespace

TEST_F(CaptureHistoryTest, NoFileReadsEmptyAndReconcileAddsEachIdOnce) {
    auto h = history();
    EXPECT_TRUE(h->entries().empty());
    EXPECT_EQ(test::listNames(historyDir), std::vector<std::string>{"history-lock"});

    const auto e = entry({savedOutput(output("a.png"))});
    h->reconcile(e);
    const Json file = readJSON(historyDir / "history.json");
    EXPECT_EQ(file["schemaVersion"], 1);
    ASSERT_EQ(file["entries"].size(), 1u);
    EXPECT_EQ(file["entries"][0]["id"], e.id.text());

    // The same id again writes nothing at all; under another kind it is a
    // different record claiming the same identity.
    const auto before = inodeOf(historyDir / "history.json");
    h->reconcile(e);
    EXPECT_EQ(inodeOf(historyDir / "history.json"), before);
    auto other = e;
    other.kind = "print";
    EXPECT_EQ(caseOf([&] { h->reconcile(other); }), ErrorCase::damagedCheckpoint);
    other.kind = "scan";
    EXPECT_EQ(caseOf([&] { h->reconcile(other); }), ErrorCase::invalidInput);
    EXPECT_EQ(h->entries().size(), 1u);
}

TEST_F(CaptureHistoryTest, ReconcileRefusesFilesItCannotVouchFor) {
    auto h = history();
    auto changed = savedOutput(output("a.png", "one"));
    test::writeFile(changed.path, "two");
    EXPECT_EQ(caseOf([&] { h->reconcile(entry({changed})); }), ErrorCase::confirmationChanged);

    test::writeFile(tmp / "elsewhere.png", "x");
    auto outside = savedOutput(tmp / "elsewhere.png");
    EXPECT_EQ(caseOf([&] { h->reconcile(entry({outside})); }), ErrorCase::confirmationChanged);

    auto gone = savedOutput(output("b.png"));
    fs::remove(gone.path);
    EXPECT_EQ(caseOf([&] { h->reconcile(entry({gone})); }), ErrorCase::sourceMissing);

    // A second link changes the stamp's link count.
    auto linked = savedOutput(output("c.png"));
    fs::create_hard_link(linked.path, out / "c-copy.png");
    EXPECT_EQ(caseOf([&] { h->reconcile(entry({linked})); }), ErrorCase::confirmationChanged);

    EXPECT_FALSE(fs::exists(historyDir / "history.json"));
}

TEST_F(CaptureHistoryTest, LegacyArrayMigratesOnce) {
    const auto a = entry({savedOutput(output("a.png"))});
    auto b = entry({}, "ocr");
    b.schemaVersion.reset();
    b.appVersion.reset();
    fs::create_directories(historyDir);
    const std::string legacy = JSON::print(Json::array({Json(a), Json(b)}));
    test::writeFile(historyDir / "history.json", legacy);

    auto h = history();
    const auto got = h->entries();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].id, a.id);
    EXPECT_EQ(got[1].id, b.id);
    EXPECT_FALSE(got[1].appVersion);
    EXPECT_EQ(test::readFile(historyDir / "history-migration-original.json"), legacy);
    const Json file = readJSON(historyDir / "history.json");
    EXPECT_EQ(file["schemaVersion"], 1);
    EXPECT_EQ(file["entries"], Json::array({Json(a), Json(b)}));

    const auto names = test::listNames(historyDir);
    EXPECT_EQ(history()->entries().size(), 2u);
    h->removeAllReferences();
    EXPECT_EQ(test::listNames(historyDir), names);
}

TEST_F(CaptureHistoryTest, FilesItCannotReadAreLeftAsTheyAre) {
    fs::create_directories(historyDir);
    const std::string future = R"({"entries" : [], "schemaVersion" : 2})";
    test::writeFile(historyDir / "history.json", future);
    auto h = history();
    EXPECT_EQ(caseOf([&] { h->entries(); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { h->removeAllReferences(); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(test::readFile(historyDir / "history.json"), future);

    const std::string broken = R"([{"id" : "not-a-uuid"}])";
    test::writeFile(historyDir / "history.json", broken);
    EXPECT_THROW(h->entries(), JSON::DecodeError);
    EXPECT_THROW(h->registerOutputs({}, "ocr", false, std::nullopt, {}), JSON::DecodeError);
    EXPECT_EQ(test::readFile(historyDir / "history.json"), broken);
    EXPECT_FALSE(fs::exists(historyDir / "history-migration-original.json"));
}

TEST_F(CaptureHistoryTest, RegisterRecordsOnlyFilesTheApplicationOwnsAlone) {
    auto h = history();
    // A private session leaves no trace, whatever it passes.
    h->registerOutputs({tmp / "nowhere.txt"}, "bogus", true, std::nullopt, {});
    EXPECT_FALSE(fs::exists(historyDir / "history.json"));

    test::writeFile(tmp / "source.png", "page");
    const auto txt = output("OCR-1-source.txt", "text");
    h->registerOutputs({txt}, "ocr", false, std::nullopt, {tmp / "source.png"});
    h->registerOutputs({}, "ocr", false, ErrorCase::cancelled, {});
    h->registerOutputs({}, "ocr", false, ErrorCase::interruptedSave, {});
    const auto got = h->entries();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].state, "completed");
    EXPECT_EQ(got[0].outputs.at(0).path, txt.string());
    EXPECT_EQ(got[0].outputs.at(0).stamp, FileStamp::read(txt));
    EXPECT_EQ(got[0].sourceStamps.at(0), FileStamp::read(tmp / "source.png"));
    EXPECT_EQ(got[0].schemaVersion, 1);
    EXPECT_EQ(got[1].state, "cancelled");
    EXPECT_EQ(got[1].error, ErrorCase::cancelled);
    EXPECT_EQ(got[2].state, "failed");

    const auto twice = output("twice.txt");
    fs::create_hard_link(twice, out / "twice-link.txt");
    EXPECT_EQ(caseOf([&] { h->registerOutputs({twice}, "ocr", false, std::nullopt, {}); }), ErrorCase::unsafePath);
    const auto source = output("source-in-root.png");
    EXPECT_EQ(caseOf([&] { h->registerOutputs({source}, "ocr", false, std::nullopt, {source}); }),
              ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { h->registerOutputs({tmp / "source.png"}, "ocr", false, std::nullopt, {}); }),
              ErrorCase::unsafePath);
    EXPECT_EQ(caseOf([&] { h->registerOutputs({txt}, "scan", false, std::nullopt, {}); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { h->registerOutputs({out / "missing.txt"}, "ocr", false, std::nullopt, {}); }),
              ErrorCase::sourceMissing);
    EXPECT_EQ(h->entries().size(), 3u);
}

TEST(CaptureHistoryContainment, StrictlyInsideAnApprovedFolder) {
    const std::vector<fs::path> roots{"/data/out", "/data/second/"};
    EXPECT_TRUE(CaptureHistory::contains(roots, "/data/out/a.png"));
    EXPECT_TRUE(CaptureHistory::contains(roots, "/data/out/Screenshots/2026-05-01/a.png"));
    EXPECT_TRUE(CaptureHistory::contains(roots, "/data/second/b.pdf"));
    EXPECT_FALSE(CaptureHistory::contains(roots, "/data/out"));
    EXPECT_FALSE(CaptureHistory::contains(roots, "/data/out/"));
    EXPECT_FALSE(CaptureHistory::contains(roots, "/data/out2/a.png"));
    EXPECT_FALSE(CaptureHistory::contains(roots, "/data/out/../secret"));
    EXPECT_FALSE(CaptureHistory::contains(roots, "data/out/a.png"));
    EXPECT_FALSE(CaptureHistory::contains({}, "/data/out/a.png"));
    EXPECT_FALSE(CaptureHistory::contains({"/"}, "/etc/passwd"));
}

TEST_F(CaptureHistoryTest, RemovalsKeepEntriesWithAFileHeldOnItsWayToTheTrash) {
    auto h = history();
    auto held = entry({savedOutput(output("held.png"))});
    auto plain = entry({savedOutput(output("plain.png"))});
    auto bare = entry({});
    h->reconcile(held);
    h->reconcile(plain);
    h->reconcile(bare);
    // A trash run that stopped half-way leaves its output pending.
    Json file = readJSON(historyDir / "history.json");
    file["entries"][0]["outputs"][0]["state"] = "pending";
    file["entries"][0]["outputs"][0]["pendingPath"] = (out / ".trash-confirmed-X/confirmed-output").string();
    test::writeFile(historyDir / "history.json", JSON::print(file));

    EXPECT_FALSE(h->removeReference(held.id));
    EXPECT_TRUE(h->removeReference(plain.id));
    EXPECT_TRUE(h->removeReference(UUID::random()));
    auto got = h->entries();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].id, held.id);
    EXPECT_EQ(got[1].id, bare.id);

    h->removeAllReferences();
    got = h->entries();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].id, held.id);
}

TEST_F(CaptureHistoryTest, AppHistoryPrunesByTheRetentionPreference) {
    EXPECT_EQ(caseOf([] { AppHistory::required(); }), ErrorCase::accessDenied);
    EXPECT_EQ(AppHistory::store(), nullptr);
    EXPECT_EQ(AppHistory::startupNotice().get(), AppHistory::initialNotice);

    SettingsStore settings(storage / "settings");
    FixedOutputRoots roots({out});
    AppHistory::ScopedEnvironment env({storage, &settings, &roots});

    const auto now = historyNow();
    auto old = entry({savedOutput(output("old.png"))});
    old.created = now - std::chrono::hours(24 * 31);
    auto oldHeld = entry({savedOutput(output("old-held.png"))});
    oldHeld.created = old.created;
    auto recent = entry({});
    recent.created = now - std::chrono::hours(24 * 29);
    {
        auto h = AppHistory::required();
        EXPECT_EQ(h->outputRoots(), std::vector<fs::path>{out});
        h->reconcile(old);
        h->reconcile(oldHeld);
        h->reconcile(recent);
    }
    Json file = readJSON(historyDir / "history.json");
    file["entries"][1]["outputs"][0]["state"] = "pending";
    test::writeFile(historyDir / "history.json", JSON::print(file));

    // Kept without limit: nothing goes.
    EXPECT_EQ(AppHistory::required()->entries().size(), 3u);
    settings.change([](AppPreferences& p) { p.historyDays = 30; });
    const auto kept = AppHistory::store()->entries();
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].id, oldHeld.id);
    EXPECT_EQ(kept[1].id, recent.id);
    // Pruning that drops nothing writes nothing.
    const auto before = inodeOf(historyDir / "history.json");
    AppHistory::required();
    EXPECT_EQ(inodeOf(historyDir / "history.json"), before);
}

TEST_F(CaptureHistoryTest, TwoProcessesRegisteringAtOnceLoseNothing) {
    const auto a = output("a.txt", "from a");
    const auto b = output("b.txt", "from b");
    constexpr int perChild = 200;
    auto spawn = [&](const fs::path& file) {
        pid_t pid = ::fork();
        if (pid == 0) {
            int code = 0;
            try {
                CaptureHistory h(historyDir, {out});
                for (int i = 0; i < perChild; ++i) h.registerOutputs({file}, "ocr", false, std::nullopt, {});
            } catch (...) {
                code = 1;
            }
            ::_exit(code);
        }
        return pid;
    };
    const pid_t first = spawn(a);
    const pid_t second = spawn(b);
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);
    for (pid_t pid : {first, second}) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const auto got = history()->entries();
    ASSERT_EQ(got.size(), 2u * perChild);
    int fromA = 0;
    std::set<UUID> ids;
    for (const auto& e : got) {
        ids.insert(e.id);
        if (e.outputs.at(0).path == a.string()) ++fromA;
    }
    EXPECT_EQ(fromA, perChild);
    EXPECT_EQ(ids.size(), got.size());
}
