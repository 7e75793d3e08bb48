#include <gtest/gtest.h>

#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <pango/pangocairo.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "ControllerFixtures.hpp"
#include "PortFakes.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/CancellationError.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/OCRAdmission.hpp"
#include "ocrqueue/OCRController.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "support/TextPages.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

std::string message(ErrorCase c) { return BrindlexError::message(c); }

// Stands in for the recogniser: two fixed regions on a page with ink, none
// on a blank one. Records every page it recognises and can hold one page
// until the test lets it go or the run asks to stop.
class FakeRecognizer {
public:
    std::atomic<int64_t> entered{0};
    std::function<void(int64_t page)> fail;

    // Holds the page until release(); unless ignoresStop, a stop request of
    // the run ends the wait too. Page 0 holds nothing.
    void hold(int64_t page, bool ignoresStop = false) {
        released_ = false;
        entered = 0;
        holdIgnoresStop = ignoresStop;
        holdPage = page;
    }
    void release() { released_ = true; }

    std::vector<int64_t> pages() const {
        std::lock_guard guard(lock_);
        return pages_;
    }

    PDFJob::Recognizer recognizer() {
        return [this](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                      const std::function<bool()>& cancelled) {
            if (page == holdPage) {
                entered = page;
                // Bounded: a run that never asks to stop fails the test
                // instead of hanging it.
                const auto deadline = std::chrono::steady_clock::now() + 20s;
                while (!released_ && !(!holdIgnoresStop && cancelled()) &&
                       std::chrono::steady_clock::now() < deadline) {
                    std::this_thread::sleep_for(1ms);
                }
            }
            if (fail) fail(page);
            {
                std::lock_guard guard(lock_);
                pages_.push_back(page);
            }
            if (!hasInk(image)) return PageResult(page, {}, 0.01, image.width(), image.height());
            return PageResult(page, test::fixedRegions(page), 0.01, image.width(), image.height());
        };
    }

private:
    static bool hasInk(const RasterImage& image) {
        for (int y = 0; y < image.height(); ++y) {
            const uint8_t* row = image.pixels() + static_cast<std::ptrdiff_t>(y) * image.rowStride();
            for (int x = 0; x < image.width() * image.channels(); ++x) {
                if (image.channels() == 4 && x % 4 == 3) continue;
                if (row[x] < 128) return true;
            }
        }
        return false;
    }

    mutable std::mutex lock_;
    std::vector<int64_t> pages_;
    std::atomic<int64_t> holdPage{0};
    std::atomic<bool> holdIgnoresStop{false};
    std::atomic<bool> released_{false};
};

class SingleFile : public ::testing::Test {
protected:
    test::TempDir tmp{true};
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    FakeRecognizer fake;
    std::shared_ptr<test::FakeConfirmer> confirmer = std::make_shared<test::FakeConfirmer>();
    std::shared_ptr<test::FakeFilePicker> picker = std::make_shared<test::FakeFilePicker>();
    std::vector<std::string> statuses;

    std::shared_ptr<OCRController> controller() {
        QueuePorts ports;
        ports.confirmer = confirmer;
        ports.filePicker = picker;
        auto c = OCRController::create(ports, fake.recognizer());
        // Every distinct status line in the order the views would see it.
        c->changed.connect([this, raw = c.get()] {
            if (statuses.empty() || statuses.back() != raw->status.get()) statuses.push_back(raw->status.get());
        });
        return c;
    }

    fs::path jobs() const { return tmp / "storage" / "jobs"; }

    void finish(OCRController& c) {
        ASSERT_TRUE(test::spinUntil([&] { return !c.busy.get(); }, 30s));
        EXPECT_FALSE(c.working());
    }

    void waitEntered(int64_t page) {
        ASSERT_TRUE(test::spinUntil([&] { return fake.entered == page; }, 20s));
    }

    fs::path image(const std::string& name, bool ink) {
        const fs::path path = tmp / name;
        test::writePNG(path, 120, 80, 3, [ink](int y, uint8_t* row) {
            for (int x = 0; x < 120; ++x) {
                const uint8_t v = (ink && y > 20 && y < 60 && x > 20 && x < 100) ? 0 : 255;
                row[x * 3] = row[x * 3 + 1] = row[x * 3 + 2] = v;
            }
        });
        return path;
    }

    static std::string summary(const char* prefix, int ok, int failed, int pending) {
        return std::string(prefix) + ": 成功" + std::to_string(ok) + "、失敗" + std::to_string(failed) + "、未処理" +
               std::to_string(pending);
    }
};

std::vector<int64_t> sorted(std::vector<int64_t> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<int64_t> range(int64_t from, int64_t to) {
    std::vector<int64_t> v;
    for (int64_t p = from; p <= to; ++p) v.push_back(p);
    return v;
}

}  // namespace

TEST_F(SingleFile, APDFRunCountsItsPagesAndCompletes) {
    auto c = controller();
    EXPECT_EQ(c->status.get(), "画像またはPDFを選んでください");
    EXPECT_EQ(c->concurrency.get(), 0);
    EXPECT_FALSE(c->resumeDirectory->has_value());

    // Nothing chosen: no run.
    c->start();
    EXPECT_EQ(c->status.get(), "原稿を選んでください");
    EXPECT_FALSE(c->busy.get());

    c->input = test::writeDocument(tmp / "ten.pdf", 10);
    const auto firstControl = c->control;
    c->start();
    EXPECT_TRUE(c->busy.get());
    EXPECT_NE(c->control, firstControl);
    EXPECT_EQ(c->status.get(), "文字を読み取り中");
    // A second start while running only says so.
    c->start();
    EXPECT_EQ(c->status.get(), "原稿を選んでください");
    finish(*c);

    EXPECT_EQ(c->status.get(), summary("処理完了", 10, 0, 0));
    for (int page = 1; page <= 10; ++page) {
        const std::string line = "処理中: " + std::to_string(page) + " / 10ページ";
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), line), statuses.end()) << line;
    }
    EXPECT_EQ(sorted(fake.pages()), range(1, 10));
    EXPECT_NE(c->original->find(test::fixedText(1)), std::string::npos);
    EXPECT_NE(c->original->find(test::fixedText(10)), std::string::npos);
    EXPECT_EQ(c->edited.get(), c->original.get());
    EXPECT_TRUE(c->regions->empty());
    ASSERT_TRUE(c->resumeDirectory->has_value());
    EXPECT_EQ(c->resumeDirectory->value().parent_path(), jobs());
    EXPECT_TRUE(fs::is_regular_file(c->resumeDirectory->value() / "checkpoint.json"));

    // With nothing running a stop is no request and changes nothing.
    c->stop(JobControl::Stop::cancel);
    EXPECT_EQ(c->status.get(), summary("処理完了", 10, 0, 0));
    EXPECT_EQ(c->control->stop(), JobControl::Stop::none);
}

TEST_F(SingleFile, APausedJobResumesInItsFolderAndACancelEndsIt) {
    auto c = controller();
    c->concurrency = 1;
    c->input = test::writeDocument(tmp / "ten.pdf", 10);
    fake.hold(2);
    c->start();
    waitEntered(2);
    const std::string progress = c->status.get();
    c->stop(JobControl::Stop::none);  // asks nothing
    EXPECT_EQ(c->status.get(), progress);
    EXPECT_EQ(c->control->stop(), JobControl::Stop::none);
    c->stop(JobControl::Stop::pause);
    EXPECT_EQ(c->status.get(), "一時停止を受付中（ページの確定を待っています）");
    finish(*c);
    // The page in flight is committed; the rest wait.
    EXPECT_EQ(c->status.get(), summary("一時停止済み", 2, 0, 8));
    const fs::path folder = c->resumeDirectory->value();
    EXPECT_NE(c->original->find(test::fixedText(2)), std::string::npos);

    fake.hold(0);
    c->start(true);
    finish(*c);
    EXPECT_EQ(c->status.get(), summary("処理完了", 10, 0, 0));
    EXPECT_EQ(c->resumeDirectory->value(), folder);
    EXPECT_EQ(sorted(fake.pages()), range(1, 10)) << "no committed page is recognised again";
    EXPECT_EQ(test::listNames(jobs()).size(), 1u);

    // A cancel keeps what was committed and ends the job there.
    c->input = test::writeDocument(tmp / "five.pdf", 5);
    fake.hold(3);
    c->start();
    waitEntered(3);
    c->stop(JobControl::Stop::cancel);
    EXPECT_EQ(c->status.get(), "中止を受付中（確定済み結果を保持します）");
    c->stop(JobControl::Stop::pause);  // a cancel is final
    finish(*c);
    EXPECT_EQ(c->status.get(), summary("中止済み", 3, 0, 2));
    EXPECT_NE(c->resumeDirectory->value(), folder);
}

TEST_F(SingleFile, APrivateRunNeverResumesNorWritesAJobFolder) {
    auto c = controller();
    const fs::path doc = test::writeDocument(tmp / "three.pdf", 3);
    c->input = doc;
    c->start();
    finish(*c);
    ASSERT_TRUE(c->resumeDirectory->has_value());
    const auto before = test::listNames(jobs());
    ASSERT_EQ(before.size(), 1u);

    c->privateMode = true;
    c->start(true);
    finish(*c);
    EXPECT_EQ(c->status.get(), summary("処理完了", 3, 0, 0));
    EXPECT_FALSE(c->resumeDirectory->has_value());
    EXPECT_EQ(test::listNames(jobs()), before);
    EXPECT_EQ(fake.pages().size(), 6u) << "a fresh job recognises every page";
    EXPECT_NE(c->original->find(test::fixedText(3)), std::string::npos);
}

TEST_F(SingleFile, AnImageRunReportsItsRegionsOrWhyItStopped) {
    auto c = controller();
    c->input = image("blank.png", false);
    c->start();
    finish(*c);
    EXPECT_EQ(c->status.get(), "認識できる文字はありませんでした");
    EXPECT_TRUE(c->regions->empty());
    EXPECT_EQ(c->original.get(), "");

    // A TIFF with text, as the chooser offers them.
    GdkPixbuf* inked = gdk_pixbuf_new_from_file(image("ink.png", true).c_str(), nullptr);
    ASSERT_TRUE(inked);
    const fs::path tiff = tmp / "scan.TIF";
    ASSERT_TRUE(gdk_pixbuf_save(inked, tiff.c_str(), "tiff", nullptr, nullptr));
    g_object_unref(inked);
    c->input = tiff;
    c->start();
    finish(*c);
    EXPECT_EQ(c->status.get(), "標準OCR完了（候補領域2件）");
    EXPECT_EQ(c->regions->size(), 2u);
    EXPECT_EQ(c->original.get(), test::fixedText(1));
    EXPECT_EQ(c->edited.get(), test::fixedText(1));

    // A stop during recognition lets the image finish: the recogniser is
    // never told to stop, and the result is shown.
    c->input = image("ink2.png", true);
    c->regions = {};
    fake.hold(1, true);
    c->start();
    waitEntered(1);
    c->stop(JobControl::Stop::pause);
    fake.release();
    finish(*c);
    EXPECT_EQ(c->status.get(), "停止済み（現在の画像の結果を確定しました）");
    EXPECT_EQ(c->regions->size(), 2u);
    fake.hold(0);

    // A stop while every recognition slot is taken ends the wait.
    OCRAdmission& gate = OCRAdmission::shared();
    int held = 0;
    while (gate.tryAcquire()) ++held;
    ASSERT_GT(held, 0);
    const std::size_t recognised = fake.pages().size();
    c->regions = {};
    c->start();
    c->stop(JobControl::Stop::cancel);
    finish(*c);
    for (int i = 0; i < held; ++i) gate.release();
    EXPECT_EQ(c->status.get(), message(ErrorCase::cancelled));
    EXPECT_EQ(fake.pages().size(), recognised);
    EXPECT_TRUE(c->regions->empty());

    // Recogniser failures: its cancellation is the cancelled case, any other
    // error the general input message; the shown text stays.
    fake.fail = [](int64_t) { throw CancellationError(); };
    c->start();
    finish(*c);
    EXPECT_EQ(c->status.get(), message(ErrorCase::cancelled));
    fake.fail = [](int64_t) { throw std::runtime_error("engine"); };
    c->start();
    finish(*c);
    EXPECT_EQ(c->status.get(), message(ErrorCase::invalidInput));
    EXPECT_EQ(c->original.get(), test::fixedText(1));
}

TEST_F(SingleFile, ALockedPDFRunsOnlyWithItsPassword) {
    auto c = controller();
    const fs::path plain = test::writeDocument(tmp / "plain.pdf", 2);
    const fs::path locked = tmp / "locked.pdf";
    ASSERT_EQ(test::runProgram({"qpdf", "--encrypt", "pw", "owner", "256", "--", plain.string(), locked.string()}), 0);
    c->input = locked;
    c->start();
    finish(*c);
    EXPECT_EQ(c->status.get(), message(ErrorCase::lockedPDF));
    EXPECT_FALSE(c->resumeDirectory->has_value());

    c->password = "pw";
    c->start();
    EXPECT_EQ(c->password.get(), "") << "the password is given to one run only";
    finish(*c);
    EXPECT_EQ(c->status.get(), summary("処理完了", 2, 0, 0));
}

TEST_F(SingleFile, EditsSurviveRunsAndAreReplacedOnlyWhenConfirmed) {
    auto c = controller();
    c->input = image("ink.png", true);
    c->start();
    finish(*c);
    c->edited = "手で直した本文";

    // A run keeps the edits and says so; a failed one too.
    c->input = test::writeDocument(tmp / "two.pdf", 2);
    c->start();
    finish(*c);
    EXPECT_EQ(c->edited.get(), "手で直した本文");
    EXPECT_NE(c->original->find(test::fixedText(2)), std::string::npos);
    EXPECT_EQ(c->status.get(), summary("処理完了", 2, 0, 0) + "。以前の編集内容は保持しています");
    c->input = tmp / "missing.pdf";
    c->start();
    finish(*c);
    EXPECT_EQ(c->status.get(), message(ErrorCase::sourceMissing) + "。以前の編集内容は保持しています");

    // Edits typed while the run goes on are kept as well.
    test::runTask(c->useOriginal());  // no answer queued: declines
    ASSERT_EQ(c->edited.get(), "手で直した本文");
    c->input = image("ink.png", true);
    c->edited = c->original.get();
    fake.hold(1, true);
    c->start();
    waitEntered(1);
    c->edited = "実行中の編集";
    fake.release();
    finish(*c);
    EXPECT_EQ(c->edited.get(), "実行中の編集");
    EXPECT_EQ(c->original.get(), test::fixedText(1));

    // Putting the recognised text back asks first, and "取消" keeps the edits.
    confirmer->asked.clear();
    confirmer->answers = {false};
    test::runTask(c->useOriginal());
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, "編集内容を最新の認識原文で置き換えますか？");
    EXPECT_EQ(confirmer->asked[0].informative,
              "必要なら先に編集したTXTを保存してください。保存済みファイルは変更しません。");
    EXPECT_EQ(confirmer->asked[0].confirmLabel, "置き換える");
    EXPECT_EQ(c->edited.get(), "実行中の編集");
    confirmer->answers = {true};
    confirmer->afterTurn = true;
    test::runTask(c->useOriginal());
    EXPECT_EQ(c->edited.get(), test::fixedText(1));

    // Nothing to lose: no question.
    test::runTask(c->useOriginal());
    c->edited = "";
    test::runTask(c->useOriginal());
    EXPECT_EQ(c->edited.get(), test::fixedText(1));
    EXPECT_EQ(confirmer->asked.size(), 2u);
}

TEST_F(SingleFile, SavedTextNeverOverwritesAndAFailureSaysNothingWasSaved) {
    auto c = controller();
    const std::string text = "縦書き\r\nと横書き😀\n";
    c->edited = text;
    c->saveText();
    EXPECT_EQ(c->status.get(), "編集したTXTを結果フォルダへ保存しました");
    EXPECT_EQ(test::readFile(tmp / "output" / "OCR-edited.txt"), text);
    c->edited = "二回目";
    c->saveText();
    EXPECT_EQ(test::readFile(tmp / "output" / "OCR-edited.txt"), text);
    EXPECT_EQ(test::readFile(tmp / "output" / "OCR-edited-1.txt"), "二回目");

    // An output root under a plain file cannot be made.
    test::writeFile(tmp / "plain", "x");
    AppRuntime::ScopedOverride blocked{AppRuntime{tmp / "storage", tmp / "plain" / "output"}};
    c->saveText();
    EXPECT_EQ(c->status.get(), message(ErrorCase::saveFailed));
}

TEST_F(SingleFile, TheResumeCandidateIsTheJobTouchedLast) {
    EXPECT_FALSE(controller()->resumeDirectory->has_value()) << "no jobs folder";

    const SourceIdentity source = SourceIdentity::read(test::writeDocument(tmp / "d.pdf", 1));
    std::vector<fs::path> folders;
    for (int i = 0; i < 3; ++i) folders.push_back(JobStore::create(source, OCRSettings(), jobs())->directory()->url());
    // In name order: the newest below is the middle name, not the greatest.
    std::sort(folders.begin(), folders.end());
    fs::create_directories(jobs() / "FF-not-a-job");
    test::writeFile(jobs() / "FFFF", "a file");
    auto touch = [&](const fs::path& folder, time_t seconds) {
        const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (folder / "checkpoint.json").c_str(), times, 0), 0);
    };
    touch(folders[0], 1'700'000'000);
    touch(folders[1], 1'700'000'300);
    touch(folders[2], 1'700'000'100);
    EXPECT_EQ(controller()->resumeDirectory.get(), folders[1]);

    // Equal times: the greater name.
    touch(folders[0], 1'700'000'300);
    EXPECT_EQ(controller()->resumeDirectory.get(), folders[1]);
    touch(folders[2], 1'700'000'300);
    EXPECT_EQ(controller()->resumeDirectory.get(), folders[2]);

    // An unreadable jobs folder gives none, without a message.
    ASSERT_EQ(::chmod(jobs().c_str(), 0), 0);
    if (::access(jobs().c_str(), R_OK) != 0) {
        auto c = controller();
        EXPECT_FALSE(c->resumeDirectory->has_value());
        EXPECT_EQ(c->status.get(), "画像またはPDFを選んでください");
    }
    ::chmod(jobs().c_str(), 0700);
}

TEST_F(SingleFile, AReplacedSourceStopsTheJobAndSaysWhy) {
    auto c = controller();
    c->concurrency = 1;
    const fs::path doc = test::writeDocument(tmp / "ten.pdf", 10);
    c->input = doc;
    fake.hold(2, true);
    c->start();
    waitEntered(2);
    const fs::path other = test::writeDocument(tmp / "other.pdf", 10);
    fs::rename(other, doc);
    fake.release();
    finish(*c);
    EXPECT_EQ(c->status.get(), message(ErrorCase::sourceChanged) + summary("一時停止済み", 2, 0, 8));
    EXPECT_EQ(sorted(fake.pages()), range(1, 2)) << "no page of the other document is read";
}

TEST_F(SingleFile, AControllerReleasedDuringARunLeavesAJobThatResumes) {
    auto c = controller();
    c->concurrency = 1;
    c->input = test::writeDocument(tmp / "ten.pdf", 10);
    fake.hold(3);
    c->start();
    waitEntered(3);
    const std::weak_ptr<OCRController> weak = c;
    c.reset();  // pauses the run and waits for its thread
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(sorted(fake.pages()), range(1, 3));
    test::spinFor(50ms);  // what the thread posted finds no controller

    fake.hold(0);
    auto again = controller();
    ASSERT_TRUE(again->resumeDirectory->has_value());
    again->input = tmp / "ten.pdf";
    again->start(true);
    finish(*again);
    EXPECT_EQ(again->status.get(), summary("処理完了", 10, 0, 0));
    EXPECT_EQ(sorted(fake.pages()), range(1, 10));
}

TEST_F(SingleFile, ChoosingOffersOneFileOfTheFourKindsAndWaitsForTheRun) {
    auto c = controller();
    picker->files = {tmp / "scan.tiff"};
    picker->afterTurn = true;
    test::runTask(c->chooseInput());
    ASSERT_EQ(picker->openRequests.size(), 1u);
    EXPECT_FALSE(picker->openRequests[0].first);
    EXPECT_EQ(picker->openRequests[0].second,
              (std::vector<FileKind>{FileKind::png, FileKind::jpeg, FileKind::pdf, FileKind::tiff}));
    EXPECT_EQ(c->input.get(), tmp / "scan.tiff");

    // A cancelled panel keeps the input.
    picker->files = {};
    test::runTask(c->chooseInput());
    EXPECT_EQ(c->input.get(), tmp / "scan.tiff");

    // While a run goes on, nothing is asked.
    c->input = image("ink.png", true);
    fake.hold(1, true);
    c->start();
    test::runTask(c->chooseInput());
    EXPECT_EQ(picker->openRequests.size(), 2u);
    fake.release();
    finish(*c);
}

// The whole road with the real recogniser: a PDF of Japanese text drawn as
// vector glyphs, rendered, recognised and read back as the job's text.
TEST(SingleFileRecognition, ATwoPagePDFOfJapaneseTextComesBackAsDrawn) {
    const std::vector<std::vector<std::string>> pageLines{
        {"吾輩は猫である。名前はまだ無い。", "どこで生れたかとんと見当がつかぬ。"},
        {"国境の長いトンネルを抜けると雪国であった。", "夜の底が白くなった。"},
    };
    test::TempDir tmp{true};
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    const fs::path pdf = tmp / "novel.pdf";
    test::writePDF(pdf, std::vector<test::PageSize>(2, {595.28, 841.89}), [&](cairo_t* cr, int page, test::PageSize) {
        PangoLayout* layout = pango_cairo_create_layout(cr);
        PangoFontDescription* font = pango_font_description_from_string("Noto Sans CJK JP 16");
        pango_layout_set_font_description(layout, font);
        cairo_set_source_rgb(cr, 0, 0, 0);
        double y = 72;
        for (const auto& line : pageLines[static_cast<std::size_t>(page)]) {
            pango_layout_set_text(layout, line.c_str(), -1);
            cairo_move_to(cr, 54, y);
            pango_cairo_show_layout(cr, layout);
            y += 36;
        }
        pango_font_description_free(font);
        g_object_unref(layout);
    });

    auto c = OCRController::create();
    c->input = pdf;
    c->start();
    ASSERT_TRUE(test::spinUntil([&] { return !c->busy.get(); }, 120s));
    ASSERT_EQ(c->status.get(), "処理完了: 成功2、失敗0、未処理0");

    // The job's text: each page under its header line.
    const std::string& text = c->original.get();
    for (std::size_t page = 0; page < pageLines.size(); ++page) {
        const std::string header = "--- ページ " + std::to_string(page + 1) + " ---\n";
        const std::size_t start = text.find(header);
        ASSERT_NE(start, std::string::npos) << text;
        const std::size_t from = start + header.size();
        const std::size_t end = text.find("\n\n--- ページ ", from);
        std::string actual = text.substr(from, end == std::string::npos ? std::string::npos : end - from);
        actual.erase(std::remove(actual.begin(), actual.end(), '\n'), actual.end());
        std::string expected;
        for (const auto& line : pageLines[page]) expected += line;
        EXPECT_LE(test::characterErrorRate(expected, actual), 0.05) << "page " << page + 1 << ": " << actual;
    }
    EXPECT_EQ(c->edited.get(), text);
}
