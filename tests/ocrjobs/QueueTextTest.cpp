#include <gtest/gtest.h>

#include <filesystem>

#include "QueueFixtures.hpp"
#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

class QueueText : public ::testing::Test {
protected:
    test::TempDir tmp{true};
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    test::FakeRecognizer fake;

    // A 3-page document whose page 2 fails, then a locked PDF left waiting
    // for its password.
    std::unique_ptr<OCRQueueEngine> ranQueue() {
        const fs::path doc = test::writeSamplePDF(tmp / "a.pdf", 3);
        const fs::path locked = test::lockPDF(test::writeSamplePDF(tmp / "plain.pdf", 1), tmp / "b.pdf", "pw");
        auto engine = OCRQueueEngine::create({{doc}, {locked}}, test::currentSettings(), tmp / "queues");
        engine->setRecognizer(fake.bind());
        JobControl control;
        engine->run(control, false, {}, {{engine->snapshot().inputs[0].id, {2}}}, [](const QueueSnapshot&) {});
        return engine;
    }

    std::string page(int64_t n) const { return test::fakeText(tmp / "a.pdf", n); }
};

std::string flat(std::string s) {
    for (char& c : s) {
        if (c == '\n') c = ' ';
    }
    return s;
}

}  // namespace

TEST_F(QueueText, TheCombinedExportShowsEveryPageAndWhatIsMissing) {
    auto engine = ranQueue();
    const QueueSnapshot s = engine->snapshot();
    ASSERT_EQ(s.inputs[1].status, InputStatus::waitingPassword);

    const fs::path out = tmp / "出力";
    const auto first = engine->exportTo(out);
    ASSERT_EQ(first, std::vector<fs::path>{out / "OCR-combined.txt"});
    EXPECT_EQ(test::readFile(first[0]), "=== 文書 1: a.pdf ===\n"
                                        "--- ページ 1 ---\n" + page(1) + "\n\n"
                                        "--- ページ 2 ---\n[途中結果：失敗]\n\n"
                                        "--- ページ 3 ---\n" + page(3) + "\n\n"
                                        "=== 文書 2: b.pdf ===\n[途中結果：パスワード待ち]");
    // Never over an earlier file.
    EXPECT_EQ(engine->exportTo(out), std::vector<fs::path>{out / "OCR-combined-1.txt"});
    EXPECT_EQ(test::readFile(out / "OCR-combined-1.txt"), test::readFile(first[0]));

    const UUID a = s.inputs[0].id;
    EXPECT_EQ(engine->text(a, TXTOptions(true, false)), page(1) + "\n\n[途中結果：失敗]\n\n" + page(3));
    EXPECT_EQ(engine->text(a, TXTOptions(false, true)),
              "--- ページ 1 ---\n" + flat(page(1)) + "\n\n--- ページ 2 ---\n[途中結果：失敗]\n\n--- ページ 3 ---\n" +
                  flat(page(3)));
    // Neither reading nor exporting touches the queue.
    EXPECT_EQ(engine->snapshot(), s);
    EXPECT_EQ(OCRQueueEngine::inspect(engine->directory()->url()), s);
}

TEST_F(QueueText, AReopenedQueueReadsItsJobsAndShowsEditsOfCompletedPagesOnly) {
    const fs::path folder = ranQueue()->directory()->url();
    QueueSnapshot s = OCRQueueEngine::inspect(folder);
    s.inputs[0].editedPages = {{1, "直した一頁"}, {2, "失敗した頁の編集"}};
    SecureDirectory(folder, false).replaceState(OCRQueueEngine::queueFileName, JSON::encode(QueueEnvelope::seal(s)));
    const UUID a = s.inputs[0].id;

    auto engine = OCRQueueEngine::resume(folder, test::currentSettings());
    const fs::path job = OCRQueueEngine::jobFolder(folder, *s.inputs[0].attemptID);
    const std::string page3 = test::readFile(job / "page-3.json");
    test::writeFile(job / "page-3.json", page3 + " ");
    EXPECT_EQ(caseOf([&] { engine->result(a, 1); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { engine->text(a); }), ErrorCase::damagedCheckpoint);

    // A failed reopening is not kept: the next call reads the repaired job.
    test::writeFile(job / "page-3.json", page3);
    const auto before = test::folderBytes(job);
    EXPECT_EQ(engine->text(a, TXTOptions(true, false)), "直した一頁\n\n[途中結果：失敗]\n\n" + page(3));
    EXPECT_EQ(engine->result(a, 1)->text(), page(1));
    EXPECT_FALSE(engine->result(a, 2));
    EXPECT_EQ(test::folderBytes(job), before);  // read, never written

    // An input whose file was never read has no results to reopen.
    EXPECT_FALSE(engine->result(s.inputs[1].id, 1));
    const UUID stranger = UUID::random();
    EXPECT_FALSE(engine->result(stranger, 1));
    EXPECT_EQ(caseOf([&] { engine->text(stranger); }), ErrorCase::invalidInput);
}

TEST_F(QueueText, OneFilePerInputIsNamedByItsPosition) {
    fs::create_directories(tmp / "x");
    fs::create_directories(tmp / "y");
    const fs::path one = test::writeSamplePDF(tmp / "x" / "scan.pdf", 1);
    const fs::path two = test::writeWidePDF(tmp / "y" / "scan.pdf", 2, 300);
    const fs::path three = test::writeSamplePNG(tmp / "写真.v2.png");
    auto engine = OCRQueueEngine::create({{one}, {two}, {three}}, test::currentSettings(), std::nullopt);
    engine->setRecognizer(fake.bind());
    JobControl control;
    engine->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    const QueueSnapshot s = engine->snapshot();

    const fs::path out = tmp / "out";
    const TXTOptions separate(true, true, false);
    const auto written = engine->exportTo(out, separate);
    ASSERT_EQ(written, (std::vector<fs::path>{out / "OCR-1-scan.txt", out / "OCR-2-scan.txt", out / "OCR-3-写真.v2.txt"}));
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(test::readFile(written[i]), engine->text(s.inputs[i].id));
    EXPECT_EQ(test::readFile(written[1]), "--- ページ 1 ---\n" + test::fakeText(two, 1) + "\n\n--- ページ 2 ---\n" +
                                              test::fakeText(two, 2));
    EXPECT_EQ(engine->exportTo(out, separate),
              (std::vector<fs::path>{out / "OCR-1-scan-1.txt", out / "OCR-2-scan-1.txt", out / "OCR-3-写真.v2-1.txt"}));
    EXPECT_EQ(test::listNames(out).size(), 6u);
}
