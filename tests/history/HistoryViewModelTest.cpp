#include <gtest/gtest.h>
#include <unicode/locid.h>
#include <unicode/timezone.h>

#include <cstdlib>
#include <limits>

#include "foundation/FolderText.hpp"
#include "foundation/JSON.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/HistoryViewModel.hpp"
#include "history/HistoryFixture.hpp"
#include "support/FakeConfirmation.hpp"
#include "support/FakeDesktopActions.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using OState = SavedOutput::State;

namespace {

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* v = std::getenv(name)) old_ = v;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class FakeHost final : public RecaptureHost {
public:
    bool windowOpen = true;
    std::vector<std::string> reopened;
    bool reopenForRecapture(const std::string& url) override {
        if (!windowOpen) return false;
        reopened.push_back(url);
        return true;
    }
};

CaptureMetadata metadata(std::optional<std::string> url, std::string title = "ページ", std::string format = "PNG") {
    CaptureMetadata m;
    m.url = std::move(url);
    m.title = std::move(title);
    m.format = std::move(format);
    return m;
}

// The approved folders, failing from a given call on: each store the model
// opens asks once, so a test can let an action's store open and the next
// one fail.
class CountingRoots final : public OutputRootsSource {
public:
    explicit CountingRoots(fs::path root) : root_(std::move(root)) {}
    mutable int calls = 0;
    int failFrom = std::numeric_limits<int>::max();
    std::vector<fs::path> authorizedRoots() const override {
        if (++calls >= failFrom) throw std::runtime_error("the approved folders cannot be read");
        return {root_};
    }

private:
    fs::path root_;
};

class HistoryModel : public test::HistoryFixture {
protected:
    SettingsStore settings{storage / "settings"};
    CountingRoots roots{out};
    AppHistory::ScopedEnvironment env{{storage, &settings, &roots}};
    ScopedEnv data{"XDG_DATA_HOME", (tmp / "data").string()};
    HistoryThumbnailCache cache{storage};
    test::FakeConfirmation confirmation;
    test::FakeDesktopActions desktop;
    FakeHost host;
    HistoryViewModel model{confirmation, desktop, &host, cache};

    // Writes the history as the store would, states and all.
    void store(const std::vector<CaptureHistoryEntry>& entries) {
        Json j = Json::object();
        j["schemaVersion"] = 1;
        j["entries"] = entries;
        SecureDirectory(historyDir, true).replaceState(CaptureHistory::fileName, JSON::bytes(j));
    }

    // A completed capture of one PNG (or of the given files) made at t.
    CaptureHistoryEntry saved(std::vector<std::string> names, int t, std::string kind = "capture") {
        std::vector<SavedOutput> outputs;
        for (const auto& n : names) outputs.push_back(savedOutput(output(n, "content of " + n)));
        auto e = entry(std::move(outputs), std::move(kind));
        e.created = Date(std::chrono::seconds(1'800'000'000 + t));
        return e;
    }

    std::vector<UUID> listedIDs() const {
        std::vector<UUID> ids;
        for (const auto& e : model.entries()) ids.push_back(e.id);
        return ids;
    }

    void trash() {
        model.startTrashOutputs();
        ASSERT_TRUE(test::spinUntil([&] { return !model.trashing(); }));
    }

    fs::path trashFiles() const { return tmp / "data" / "Trash" / "files"; }
};

}  // namespace

TEST_F(HistoryModel, RowsFollowTheRulesForTitlesKindsFormatsAndStates) {
    // Neither metadata nor outputs.
    CaptureHistoryEntry bare = entry({});
    EXPECT_EQ(HistoryViewModel::title(bare), "保存結果");
    EXPECT_EQ(HistoryViewModel::formats(bare), "");
    EXPECT_FALSE(HistoryViewModel::missing(bare));
    EXPECT_EQ(HistoryViewModel::stateText(bare), "保存完了");

    // Metadata with an empty title wins over the file name.
    CaptureHistoryEntry untitled = saved({"named.png"}, 0);
    untitled.metadata = metadata("https://example.com/", "", "PDF + PNG");
    EXPECT_EQ(HistoryViewModel::title(untitled), "");
    EXPECT_EQ(HistoryViewModel::formats(untitled), "PDF + PNG");

    // A print without metadata: the file name, the extensions sorted.
    CaptureHistoryEntry print = saved({"doc-2.png", "doc.pdf", "doc-1.PNG"}, 0, "print");
    EXPECT_EQ(HistoryViewModel::title(print), "doc-2.png");
    EXPECT_EQ(HistoryViewModel::formats(print), "PDF / PNG 2件");
    EXPECT_EQ(HistoryViewModel::formats(saved({"a.txt", "b.txt", "c.txt", "d.txt"}, 0, "ocr")), "TXT 4件");
    EXPECT_EQ(HistoryViewModel::kind(print), "印刷");
    EXPECT_EQ(HistoryViewModel::kind(saved({}, 0, "ocr")), "OCR TXT");
    EXPECT_EQ(HistoryViewModel::kind(saved({}, 0, "capture")), "Webキャプチャ");
    EXPECT_EQ(HistoryViewModel::kind(saved({}, 0, "later-kind")), "Webキャプチャ");

    // Deleted outside the application: missing, and nothing is available.
    fs::remove(print.outputs[1].path);
    EXPECT_TRUE(HistoryViewModel::missing(print));
    EXPECT_EQ(HistoryViewModel::stateText(print), "ファイルが見つかりません");
    EXPECT_FALSE(HistoryViewModel::available(print.outputs[1]));
    EXPECT_TRUE(HistoryViewModel::available(print.outputs[0]));

    // Trashed or changed with the file still there: not missing, yet not
    // available either. A recorded "missing" counts whatever is on disk.
    CaptureHistoryEntry moved = saved({"moved.png", "edited.png"}, 0);
    moved.state = "partial";
    moved.outputs[0].state = OState::trashed;
    moved.outputs[1].state = OState::changed;
    EXPECT_FALSE(HistoryViewModel::missing(moved));
    EXPECT_EQ(HistoryViewModel::stateText(moved), "一部保存・中断");
    EXPECT_FALSE(HistoryViewModel::available(moved.outputs[0]));
    EXPECT_FALSE(HistoryViewModel::available(moved.outputs[1]));
    moved.outputs[1].state = OState::missing;
    EXPECT_TRUE(HistoryViewModel::missing(moved));
    for (const char* state : {"interrupted", "cancelled", "failed"}) {
        CaptureHistoryEntry e = saved({"s.png"}, 0);
        e.state = state;
        EXPECT_EQ(HistoryViewModel::stateText(e), "一部保存・中断") << state;
    }
}

// A print's page PNGs are one line of the detail with their count, after
// its PDF; the line's actions go to its first file still there.
TEST_F(HistoryModel, ThePagesOfAPrintAreOneLineWithTheirCount) {
    std::vector<std::string> names{"report.pdf"};
    for (int i = 1; i <= 7; ++i) names.push_back("report_000" + std::to_string(i) + ".png");
    CaptureHistoryEntry print = saved(names, 0, "print");
    auto lines = HistoryViewModel::outputLines(print);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].outputs, std::vector<std::size_t>{0});
    EXPECT_EQ(lines[0].name, "report.pdf");
    EXPECT_EQ(lines[0].range, "");
    EXPECT_EQ(lines[0].target, std::optional<std::size_t>(0));
    EXPECT_EQ(lines[1].outputs, (std::vector<std::size_t>{1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(lines[1].name, "PNG 7件");
    EXPECT_EQ(lines[1].range, "report_0001.png 〜 0007.png");
    EXPECT_EQ(lines[1].target, std::optional<std::size_t>(1));
    EXPECT_EQ(HistoryViewModel::unavailableText(lines[1]), "");

    // The first page gone: the line opens the next one and says how many
    // are not there.
    fs::remove(print.outputs[1].path);
    print.outputs[3].state = OState::trashed;
    lines = HistoryViewModel::outputLines(print);
    EXPECT_EQ(lines[1].target, std::optional<std::size_t>(2));
    EXPECT_EQ(lines[1].unavailable, 2u);
    EXPECT_EQ(HistoryViewModel::unavailableText(lines[1]), "うち2件は見つかりません、または移動済みです。");
    // None there: the line's actions have nothing to act on.
    for (std::size_t i = 1; i < print.outputs.size(); ++i) print.outputs[i].state = OState::trashed;
    lines = HistoryViewModel::outputLines(print);
    EXPECT_FALSE(lines[1].target);
    EXPECT_EQ(HistoryViewModel::unavailableText(lines[1]), "ファイルが見つかりません、または移動済みです。");
    fs::remove(print.outputs[0].path);
    lines = HistoryViewModel::outputLines(print);
    EXPECT_FALSE(lines[0].target);
    EXPECT_EQ(HistoryViewModel::unavailableText(lines[0]), "ファイルが見つかりません、または移動済みです。");

    // One file of each type: a line each. Files of one type anywhere in the
    // list join the line of the first of them.
    const CaptureHistoryEntry single = saved({"page.png"}, 0);
    ASSERT_EQ(HistoryViewModel::outputLines(single).size(), 1u);
    EXPECT_EQ(HistoryViewModel::outputLines(single)[0].name, "page.png");
    const CaptureHistoryEntry mixed = saved({"a.png", "notes.txt", "b.PNG"}, 0);
    lines = HistoryViewModel::outputLines(mixed);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].outputs, (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(lines[0].name, "PNG 2件");
    EXPECT_EQ(lines[0].range, "a.png 〜 b.PNG");
    // What the names share is said once, from the word where they part.
    EXPECT_EQ(HistoryViewModel::rangeText("頁_0009.png", "頁_0010.png"), "頁_0009.png 〜 0010.png");
    EXPECT_EQ(HistoryViewModel::rangeText("ページ1.png", "ページ2.png"), "ページ1.png 〜 2.png");
    // Never from inside a character: "頁" and "項" share their first byte.
    EXPECT_EQ(HistoryViewModel::rangeText("頁.png", "項.png"), "頁.png 〜 項.png");
    EXPECT_EQ(lines[1].name, "notes.txt");
    EXPECT_TRUE(HistoryViewModel::outputLines(entry({})).empty());
}

TEST_F(HistoryModel, OnlyAnAddressWrittenAsHttpOrHttpsCanBeCopiedOrReopened) {
    auto address = [&](std::optional<std::string> url) {
        CaptureHistoryEntry e = entry({});
        e.metadata = metadata(std::move(url));
        return HistoryViewModel::pageAddress(e);
    };
    EXPECT_EQ(address("https://example.com/a?b=1"), "https://example.com/a?b=1");
    EXPECT_EQ(address("http://127.0.0.1:8080/"), "http://127.0.0.1:8080/");
    EXPECT_FALSE(address("ftp://example.com/file"));
    EXPECT_FALSE(address("HTTP://example.com/"));
    EXPECT_FALSE(address("Https://example.com/"));
    EXPECT_FALSE(address("http://example.com:99999/"));
    EXPECT_FALSE(address("https://[::1/"));
    EXPECT_FALSE(address(std::nullopt));
    EXPECT_FALSE(HistoryViewModel::pageAddress(entry({})));

    FakeHost none;
    none.windowOpen = false;
    HistoryViewModel windowless(confirmation, desktop, &none, cache);
    windowless.reopenForRecapture("https://example.com/");
    EXPECT_EQ(windowless.status(), HistoryViewModel::introduction);
    HistoryViewModel hostless(confirmation, desktop, nullptr, cache);
    hostless.reopenForRecapture("https://example.com/");
    EXPECT_EQ(hostless.status(), HistoryViewModel::introduction);

    model.reopenForRecapture("https://example.com/page");
    EXPECT_EQ(host.reopened, std::vector<std::string>{"https://example.com/page"});
    EXPECT_EQ(model.status(), HistoryViewModel::reopened);
}

TEST_F(HistoryModel, DatesAreShortInTheLocaleAndZone) {
    const icu::Locale previousLocale = icu::Locale::getDefault();
    std::unique_ptr<icu::TimeZone> previousZone(icu::TimeZone::createDefault());
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("ja_JP"), status);
    icu::TimeZone::adoptDefault(icu::TimeZone::createTimeZone("Asia/Tokyo"));
    CaptureHistoryEntry e = saved({"d.png"}, 0);
    e.created = Date(std::chrono::seconds(1'777'627'800));  // 2026-05-01T09:30:00Z
    e.metadata = metadata(std::nullopt, "t", "PNG");
    const std::string caption = HistoryViewModel::captionText(e);
    icu::Locale::setDefault(previousLocale, status);
    icu::TimeZone::adoptDefault(previousZone.release());
    EXPECT_EQ(caption, "2026/05/01 18:30 · Webキャプチャ · PNG");
}

TEST_F(HistoryModel, ReloadListsNewestFirstAndKeepsEverythingWhenItFails) {
    auto older = saved({"older.png"}, 10);
    auto tieA = saved({"tie-a.png"}, 20);
    auto tieB = saved({"tie-b.png"}, 20);
    auto newest = saved({"newest.png"}, 30);
    store({older, tieA, newest, tieB});

    int listChanges = 0;
    model.entriesChanged().connect([&] { ++listChanges; });
    model.reload();
    EXPECT_EQ(listedIDs(), (std::vector<UUID>{newest.id, tieA.id, tieB.id, older.id}));
    EXPECT_EQ(listChanges, 1);
    EXPECT_EQ(model.status(), HistoryViewModel::introduction) << "a reload says nothing";

    model.select(tieB.id);
    ASSERT_TRUE(model.selectedEntry());
    EXPECT_EQ(model.selectedEntry()->id, tieB.id);

    // Unreadable history: the list and the selection stay.
    test::writeFile(historyDir / CaptureHistory::fileName, "{ not json");
    model.reload();
    EXPECT_EQ(model.status(), HistoryViewModel::loadFailed);
    EXPECT_EQ(listedIDs().size(), 4u);
    EXPECT_EQ(model.selected(), tieB.id);
    EXPECT_EQ(listChanges, 1);

    // Without a configured store: the same.
    AppHistory::clearConfiguration();
    model.reload();
    EXPECT_EQ(listedIDs().size(), 4u);
    EXPECT_EQ(model.status(), HistoryViewModel::loadFailed);
}

TEST_F(HistoryModel, EachReloadTellsTheCacheWhichEntriesRemain) {
    auto a = saved({"a.png"}, 1);
    auto b = saved({"b.png"}, 2);
    test::writePNG(a.outputs[0].path, 20, 20, 3, [](int, uint8_t*) {});
    test::writePNG(b.outputs[0].path, 20, 20, 3, [](int, uint8_t*) {});
    a.outputs[0] = savedOutput(a.outputs[0].path);
    b.outputs[0] = savedOutput(b.outputs[0].path);
    store({a, b});
    model.reload();
    ASSERT_TRUE(test::runTask(model.thumbnail(a)));
    ASSERT_TRUE(test::runTask(model.thumbnail(b)));
    const fs::path thumbs = storage / HistoryThumbnailCache::folderName;
    EXPECT_TRUE(fs::exists(thumbs / (b.id.text() + ".png")));

    store({a});
    model.reload();
    // The cache takes its jobs in order: this load runs after the clean-up.
    ASSERT_TRUE(test::runTask(model.thumbnail(a)));
    EXPECT_FALSE(fs::exists(thumbs / (b.id.text() + ".png")));
    EXPECT_TRUE(fs::exists(thumbs / (a.id.text() + ".png")));

    // No thumbnail without outputs or without the first output's file.
    EXPECT_FALSE(test::runTask(model.thumbnail(entry({}))));
    fs::remove(b.outputs[0].path);
    EXPECT_FALSE(test::runTask(model.thumbnail(b)));
}

TEST_F(HistoryModel, DeletingHistoryOnlyKeepsTheFilesAndTheSelection) {
    auto kept = saved({"kept.png"}, 1);
    auto gone = saved({"gone.png"}, 2);
    store({kept, gone});
    model.reload();
    model.select(gone.id);
    model.deleteHistoryOnly();
    EXPECT_EQ(listedIDs(), std::vector<UUID>{kept.id});
    EXPECT_EQ(model.status(), HistoryViewModel::historyOnlyDeleted);
    EXPECT_TRUE(fs::exists(gone.outputs[0].path));
    EXPECT_EQ(model.selected(), gone.id) << "the selection stays";
    EXPECT_EQ(model.selectedEntry(), nullptr) << "the detail hides";

    // Nothing selected that is listed: nothing happens.
    model.deleteHistoryOnly();
    EXPECT_EQ(history()->entries().size(), 1u);

    // The removal fails: no reload, the entry stays listed.
    model.select(kept.id);
    fs::remove(historyDir / CaptureHistory::fileName);
    fs::create_directory(historyDir / CaptureHistory::fileName);
    int listChanges = 0;
    model.entriesChanged().connect([&] { ++listChanges; });
    model.deleteHistoryOnly();
    EXPECT_EQ(model.status(), HistoryViewModel::historyOnlyFailed);
    EXPECT_EQ(listChanges, 0);
    EXPECT_EQ(listedIDs(), std::vector<UUID>{kept.id});

    AppHistory::clearConfiguration();
    model.deleteHistoryOnly();
    EXPECT_EQ(model.status(), HistoryViewModel::historyOnlyFailed);
}

TEST_F(HistoryModel, AFailedReloadAfterADeletionLeavesEachActionsOwnLastWord) {
    auto one = saved({"one.png"}, 1);
    auto two = saved({"two.png"}, 2);
    store({one, two});
    model.reload();

    // The action's store opens; the reload's after it does not.
    model.select(one.id);
    roots.failFrom = roots.calls + 2;
    model.deleteHistoryOnly();
    EXPECT_EQ(model.status(), HistoryViewModel::historyOnlyDeleted) << "set after the reload";
    EXPECT_EQ(history()->entries().size(), 1u);
    EXPECT_EQ(listedIDs().size(), 2u) << "the list as it was";

    model.select(two.id);
    confirmation.answer = true;
    roots.failFrom = roots.calls + 2;
    trash();
    EXPECT_EQ(model.status(), HistoryViewModel::loadFailed) << "the reload runs after the count";
    EXPECT_TRUE(history()->entries().empty());
    EXPECT_FALSE(fs::exists(two.outputs[0].path));
}

TEST_F(HistoryModel, TrashingAsksFirstAndCancelChangesNothing) {
    auto e = saved({"page.png", "page.pdf"}, 1);
    store({e});
    model.reload();
    model.select(e.id);
    const std::string before = historyBytes();
    int statusChanges = 0;
    model.statusChanged().connect([&] { ++statusChanges; });

    confirmation.answer = false;
    trash();
    ASSERT_EQ(confirmation.requests.size(), 1u);
    EXPECT_EQ(confirmation.requests[0].message, "この履歴の成果物をゴミ箱へ移しますか？");
    EXPECT_EQ(confirmation.requests[0].informativeText, "page.png\npage.pdf");
    EXPECT_EQ(confirmation.requests[0].cancelLabel, "取消");
    EXPECT_EQ(confirmation.requests[0].confirmLabel, "ゴミ箱へ移す");
    EXPECT_EQ(statusChanges, 0);
    EXPECT_EQ(model.status(), HistoryViewModel::introduction);
    EXPECT_EQ(historyBytes(), before);
    EXPECT_TRUE(fs::exists(e.outputs[0].path) && fs::exists(e.outputs[1].path));
}

TEST_F(HistoryModel, TrashingMovesWhatItCanAndCountsIt) {
    // Every file moved: the entry leaves the history.
    auto all = saved({"all.png", "all.pdf"}, 3);
    // One file edited while the question was open: that one stays.
    auto some = saved({"some.png", "some-edited.png"}, 2);
    // No outputs at all: still asked, with no names; count 0.
    auto empty = saved({}, 1);
    store({all, some, empty});
    model.reload();
    confirmation.answer = true;

    model.select(all.id);
    trash();
    // Everything moved: nothing is said of files kept.
    EXPECT_EQ(model.status(), "2件をゴミ箱へ移しました。");
    EXPECT_FALSE(fs::exists(all.outputs[0].path));
    EXPECT_FALSE(fs::exists(all.outputs[1].path));
    EXPECT_EQ(test::listNames(trashFiles()).size(), 2u);
    EXPECT_EQ(listedIDs(), (std::vector<UUID>{some.id, empty.id}));

    model.select(some.id);
    confirmation.meanwhile = [&] { test::writeFile(some.outputs[1].path, "edited"); };
    trash();
    confirmation.meanwhile = nullptr;
    EXPECT_EQ(model.status(), "1件をゴミ箱へ移しました。移動できない1件は保持します。");
    ASSERT_EQ(listedIDs(), (std::vector<UUID>{some.id, empty.id}));
    const auto& kept = model.entries()[0];
    EXPECT_EQ(kept.outputs[0].state, OState::trashed);
    EXPECT_EQ(kept.outputs[1].state, OState::changed);
    EXPECT_TRUE(fs::exists(some.outputs[1].path));

    model.select(empty.id);
    trash();
    EXPECT_EQ(confirmation.requests.back().informativeText, "");
    EXPECT_EQ(model.status(), "ゴミ箱へ移す成果物はありませんでした。");
    // None of several moved.
    EXPECT_EQ(HistoryViewModel::trashedText(0, 2), "ゴミ箱へ移せませんでした。2件は保持します。");
    EXPECT_EQ(listedIDs(), std::vector<UUID>{some.id});
}

TEST_F(HistoryModel, TrashingRefusesFilesAndEntriesThatChanged) {
    auto e = saved({"a.png", "b.png"}, 1);
    store({e});
    model.reload();
    model.select(e.id);
    confirmation.answer = true;

    // Changed before the proposal: refused without asking.
    const std::string original = test::readFile(e.outputs[0].path);
    test::writeFile(e.outputs[0].path, "changed");
    trash();
    EXPECT_TRUE(confirmation.requests.empty());
    EXPECT_EQ(model.status(), HistoryViewModel::trashFailed);
    test::writeFile(e.outputs[0].path, original);
    e.outputs[0] = savedOutput(e.outputs[0].path);
    store({e});
    model.reload();

    // The entry changed in the store while the question was open (another
    // window's trash run failed on it): nothing is moved, no reload.
    confirmation.meanwhile = [&] {
        auto other = history();
        const DeleteProposal p = other->proposal(e.id);
        other->execute(p, [](const fs::path&, const fs::path&) -> std::optional<fs::path> {
            throw std::runtime_error("no trash here");
        });
    };
    int listChanges = 0;
    model.entriesChanged().connect([&] { ++listChanges; });
    trash();
    EXPECT_EQ(model.status(), HistoryViewModel::trashFailed);
    EXPECT_EQ(listChanges, 0);
    EXPECT_TRUE(fs::exists(e.outputs[0].path) && fs::exists(e.outputs[1].path));
    EXPECT_FALSE(fs::exists(trashFiles()) && !test::listNames(trashFiles()).empty());

    // Without a store: refused.
    confirmation.meanwhile = nullptr;
    AppHistory::clearConfiguration();
    model.setActive(false);
    trash();
    EXPECT_EQ(model.status(), HistoryViewModel::trashFailed);
}

TEST_F(HistoryModel, OpeningRevealingAndCopyingGoToTheDesktopAndARefusalSaysWhyAndWhere) {
    const fs::path file = output("x.png");
    model.openOutput(file);
    EXPECT_EQ(model.status(), HistoryViewModel::introduction);
    desktop.openSucceeds = false;
    model.openOutput(file);
    // Not opened: its folder shown instead, or named when nothing shows it.
    EXPECT_EQ(model.status(), "ファイルを開けませんでした。開くアプリを起動できないため、保存先のフォルダを表示しました。");
    EXPECT_EQ(desktop.opened, (std::vector<fs::path>{file, file}));
    const std::string where = "保存先：" + folderText(file.parent_path());
    desktop.revealShows = false;
    model.openOutput(file);
    EXPECT_EQ(model.status(), "ファイルを開けませんでした。開くアプリもファイルマネージャーも起動できません。" + where);
    model.revealOutput(file);
    const std::string unshown = "フォルダを表示できませんでした。ファイルマネージャーが応答しません。" + where;
    EXPECT_EQ(model.status(), unshown);

    desktop.revealShows = true;
    model.revealOutput(file);
    model.copyURL("https://example.com/");
    EXPECT_EQ(desktop.revealed.size(), 4u);
    EXPECT_EQ(desktop.copied, std::vector<std::string>{"https://example.com/"});
    EXPECT_EQ(model.status(), unshown) << "neither says anything when done";
}

// A refused open is told once, beside the output it was asked for: the
// status line keeps its last word, unless no listed entry holds the file.
TEST_F(HistoryModel, ARefusedOpenIsToldOnceWithItsEntryUntilTheNextOutcome) {
    auto single = saved({"single.png"}, 1);
    auto pair = saved({"first.pdf", "second.png"}, 2);
    // A second entry that lists the same file as the first.
    auto again = saved({}, 3);
    again.outputs = single.outputs;
    store({single, pair, again});
    model.reload();
    int statusChanges = 0;
    int refusalChanges = 0;
    model.statusChanged().connect([&] { ++statusChanges; });
    model.refusalChanged().connect([&] { ++refusalChanges; });

    // The refusal names the entry and the file the user asked for.
    desktop.openSucceeds = false;
    model.select(pair.id);
    const fs::path second = pair.outputs[1].path;
    model.openOutput(second);
    EXPECT_EQ(model.status(), HistoryViewModel::introduction) << "not said again in the status line";
    EXPECT_EQ(statusChanges, 0);
    ASSERT_TRUE(model.openRefusal());
    EXPECT_EQ(model.openRefusal()->entry, pair.id);
    EXPECT_EQ(model.openRefusal()->file, second);
    EXPECT_TRUE(model.openRefused(pair.id));
    EXPECT_FALSE(model.openRefused(single.id));
    EXPECT_EQ(refusalChanges, 1);

    // A file two entries list belongs to the selected one; unselected, to
    // the first listed (newest first).
    const fs::path shared = single.outputs[0].path;
    model.select(single.id);
    model.openOutput(shared);
    EXPECT_EQ(model.openRefusal()->entry, single.id);
    model.select(std::nullopt);
    model.openOutput(shared);
    EXPECT_EQ(model.openRefusal()->entry, again.id);
    EXPECT_EQ(model.status(), HistoryViewModel::introduction);
    // A file no listed entry holds: the status line alone says it.
    const std::string elsewhere = HistoryViewModel::refusedText(out / "elsewhere.png", true, true);
    model.openOutput(out / "elsewhere.png");
    EXPECT_EQ(model.status(), elsewhere);
    EXPECT_FALSE(model.openRefusal());

    // A reload keeps it while the entry is listed, and drops it after.
    model.select(pair.id);
    model.openOutput(second);
    model.reload();
    EXPECT_TRUE(model.openRefused(pair.id));
    store({single, again});
    const int beforeDrop = refusalChanges;
    model.reload();
    EXPECT_FALSE(model.openRefusal());
    EXPECT_EQ(refusalChanges, beforeDrop + 1);
    EXPECT_EQ(model.status(), elsewhere) << "the status line keeps its last word";

    // The file opens after all: the refusal is over, announced.
    model.select(single.id);
    model.openOutput(shared);
    ASSERT_TRUE(model.openRefused(single.id));
    desktop.openSucceeds = true;
    const int before = refusalChanges;
    model.openOutput(shared);
    EXPECT_FALSE(model.openRefusal());
    EXPECT_EQ(refusalChanges, before + 1);
    EXPECT_EQ(model.status(), elsewhere);

    // Any other outcome of the section replaces it.
    desktop.openSucceeds = false;
    model.openOutput(shared);
    ASSERT_TRUE(model.openRefusal());
    model.deleteHistoryOnly();
    EXPECT_EQ(model.status(), HistoryViewModel::historyOnlyDeleted);
    EXPECT_FALSE(model.openRefusal());
}

TEST_F(HistoryModel, ActivationReloadsAndTheStartUpNoticeIsFollowed) {
    auto e = saved({"a.png"}, 1);
    store({e});
    HistoryViewModel hidden(confirmation, desktop, &host, cache, /*active=*/false);
    hidden.setActive(false);
    EXPECT_TRUE(hidden.entries().empty());
    hidden.setActive(true);
    EXPECT_EQ(hidden.entries().size(), 1u);
    store({});
    hidden.setActive(true);
    EXPECT_EQ(hidden.entries().size(), 1u) << "only a change to true reloads";

    auto& notice = AppHistory::startupNotice();
    const std::string previous = notice.get();
    notice.set(AppHistory::initialNotice);
    EXPECT_EQ(model.notice(), "");
    int changes = 0;
    model.noticeChanged().connect([&] { ++changes; });
    notice.set(AppHistory::retainedNotice);
    EXPECT_EQ(model.notice(), AppHistory::retainedNotice);
    EXPECT_EQ(changes, 1);
    notice.set(previous);
}
