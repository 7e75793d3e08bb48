#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "ControllerFixtures.hpp"
#include "foundation/DateFormat.hpp"
#include "foundation/JSON.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class SavedQueues : public ::testing::Test, protected test::ControllerRoots {
protected:
    // A queue of one two-page document under the controller's parent, run
    // with the stop asked for beforehand (none runs it to its end).
    fs::path savedQueue(QueueController& c, const std::string& name, JobControl::Stop stop) {
        const fs::path doc = test::writeDocument(tmp / name, 2);
        auto engine = OCRQueueEngine::create({{doc}}, c.currentSettings(), c.parent);
        c.ports().configure(*engine);
        JobControl control;
        control.request(stop);
        engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
        return c.parent / engine->snapshot().id.text();
    }

    static void setDate(const fs::path& folder, time_t seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, folder.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
    }

    // The queue last worked on at that time, its files no later; the label's
    // ending for it.
    static std::string workedAt(const fs::path& folder, time_t seconds) {
        for (const char* name : {"queue.json", "queue-edits"}) {
            if (fs::exists(folder / name)) setDate(folder / name, seconds - 60);
        }
        setDate(folder, seconds);
        return " · " + DateFormat::format(Date{std::chrono::seconds(seconds)}, QueueController::workedPattern);
    }
};

}  // namespace

TEST_F(SavedQueues, WithoutAQueuesFolderTheListIsEmptyAndNothingIsMade) {
    auto c = controller();
    EXPECT_TRUE(c->savedQueues->empty());
    EXPECT_FALSE(c->selectedSaved->has_value());
    EXPECT_FALSE(fs::exists(tmp / "storage"));
    c->refreshSaved();
    EXPECT_FALSE(fs::exists(tmp / "storage"));
}

TEST_F(SavedQueues, OnlyUUIDFoldersHoldingAQueueAreListedNewestFirstAndTheChoiceStays) {
    auto c = controller();
    const fs::path older = savedQueue(*c, "older.pdf", JobControl::Stop::none);
    const fs::path newer = savedQueue(*c, "newer.pdf", JobControl::Stop::none);
    const fs::path tied = savedQueue(*c, "tied.pdf", JobControl::Stop::none);
    // Not queues: a name that is no UUID, a UUID folder without its file, a
    // UUID-named link to a real queue, a UUID-named file.
    fs::create_directory(c->parent / "notes");
    fs::copy_file(older / "queue.json", c->parent / "notes" / "queue.json");
    fs::create_directory(c->parent / UUID::random().text());
    fs::create_directory_symlink(newer, c->parent / UUID::random().text());
    test::writeFile(c->parent / UUID::random().text(), "queue");
    // A lower-case UUID name parses too.
    const fs::path lower = [&] {
        std::string name = UUID::random().text();
        std::transform(name.begin(), name.end(), name.begin(), [](unsigned char ch) { return std::tolower(ch); });
        fs::create_directory(c->parent / name);
        fs::copy_file(older / "queue.json", c->parent / name / "queue.json");
        return c->parent / name;
    }();
    setDate(older, 1'000'000);
    setDate(newer, 3'000'000);
    setDate(tied, 2'000'000);
    setDate(lower, 2'000'000);

    c->refreshSaved();
    const std::vector<fs::path> tiedPair =
        tied.filename().string() < lower.filename().string() ? std::vector{tied, lower} : std::vector{lower, tied};
    EXPECT_EQ(c->savedQueues.get(), (std::vector<fs::path>{newer, tiedPair[0], tiedPair[1], older}));
    EXPECT_EQ(c->selectedSaved.get(), newer);

    // A later refresh does not move the choice, even once it is gone.
    c->selectedSaved = older;
    setDate(older, 4'000'000);
    c->refreshSaved();
    EXPECT_EQ(c->savedQueues->front(), older);
    EXPECT_EQ(c->selectedSaved.get(), older);
    fs::remove_all(older);
    c->refreshSaved();
    EXPECT_EQ(c->savedQueues->size(), 3u);
    EXPECT_EQ(c->selectedSaved.get(), older);
}

TEST_F(SavedQueues, LabelsNameTheFirstOriginalTheCountsAndTheState) {
    auto c = controller();
    const fs::path paused = savedQueue(*c, "一時.pdf", JobControl::Stop::pause);
    const fs::path done = savedQueue(*c, "済み.pdf", JobControl::Stop::none);
    const fs::path cancelled = savedQueue(*c, "取消.pdf", JobControl::Stop::cancel);
    const std::string pausedAt = workedAt(paused, 1'800'000'000);
    EXPECT_EQ(c->savedQueueLabel(paused), "一時.pdf · 1ファイル · 成功0/失敗0 · 一時停止中" + pausedAt);
    // The latest of the folder and its files: an edit appended after the
    // queue was last written is work too.
    const std::string doneAt = workedAt(done, 1'800'000'000);
    test::writeFile(done / "queue-edits", "");
    setDate(done / "queue-edits", 1'800'086'400);
    EXPECT_EQ(c->savedQueueLabel(done), "済み.pdf · 1ファイル · 成功2/失敗0 · 処理済み · " +
                                            DateFormat::format(Date{std::chrono::seconds(1'800'086'400)}, "yyyy/MM/dd HH:mm"));
    EXPECT_NE(doneAt, " · " + DateFormat::format(Date{std::chrono::seconds(1'800'086'400)}, "yyyy/MM/dd HH:mm"));
    fs::remove(done / "queue-edits");
    const std::string cancelledAt = workedAt(cancelled, 1'800'000'000);
    EXPECT_TRUE(c->savedQueueLabel(cancelled).starts_with("取消.pdf · 1ファイル · 成功"));
    EXPECT_TRUE(c->savedQueueLabel(cancelled).ends_with(" · 未完了" + cancelledAt));

    // An original that failed whole, before any of its pages was read, is
    // counted as failed.
    test::writeFile(tmp / "壊れた.pdf", "PDFではない文書です。");
    auto failing = OCRQueueEngine::create({{test::writeDocument(tmp / "良い.pdf", 2)}, {tmp / "壊れた.pdf"}},
                                          c->currentSettings(), c->parent);
    c->ports().configure(*failing);
    JobControl control;
    failing->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    ASSERT_EQ(failing->snapshot().inputs[1].status, InputStatus::failed);
    const fs::path failed = c->parent / failing->snapshot().id.text();
    const std::string failedAt = workedAt(failed, 1'800'000'000);
    EXPECT_EQ(c->savedQueueLabel(failed), "良い.pdf · 2ファイル · 成功2/失敗0 · 失敗1ファイル · 処理済み" + failedAt);

    // A queue without inputs, written as the engine writes one.
    QueueSnapshot empty(c->currentSettings(), {});
    const fs::path emptyFolder = c->parent / empty.id.text();
    fs::create_directory(emptyFolder);
    const std::vector<uint8_t> bytes = JSON::encode(QueueEnvelope::seal(empty));
    test::writeFile(emptyFolder / "queue.json", std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(c->savedQueueLabel(emptyFolder), "原稿 · 0ファイル · 成功0/失敗0 · 未完了" + workedAt(emptyFolder, 1'800'000'000));

    // One byte changed: listed, but labelled for a compatibility check.
    std::string file = test::readFile(done / "queue.json");
    file[file.size() / 2] = static_cast<char>(file[file.size() / 2] ^ 1);
    test::writeFile(done / "queue.json", file);
    c->refreshSaved();
    EXPECT_NE(std::find(c->savedQueues->begin(), c->savedQueues->end(), done), c->savedQueues->end());
    EXPECT_EQ(c->savedQueueLabel(done), "以前の処理（互換性の確認が必要）");
    EXPECT_EQ(c->savedQueueLabel(tmp / "nowhere"), "以前の処理（互換性の確認が必要）");
}
