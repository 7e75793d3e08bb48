#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "PortFakes.hpp"
#include "ocrqueue/OCRController.hpp"
#include "ocrqueue/OriginalAccess.hpp"
#include "RunFixtures.hpp"
#include "foundation/CaptureBudget.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"

using namespace velmora;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr const char* openedSentence = "原稿を開きました。「OCRを開始」を押してください。";

class Opening : public ::testing::Test, protected test::ControllerRoots {
protected:
    std::shared_ptr<test::FakeConfirmer> confirmer = std::make_shared<test::FakeConfirmer>();
    std::shared_ptr<test::FakeFilePicker> picker = std::make_shared<test::FakeFilePicker>();

    std::shared_ptr<QueueController> portedController() {
        QueuePorts ports = test::fakeRecognition();
        ports.confirmer = confirmer;
        ports.filePicker = picker;
        return controller(ports);
    }

    // Asks for the files and waits until the opening has settled.
    void open(QueueController& c, std::vector<fs::path> urls) {
        test::runTask(c.requestSelection(std::move(urls)));
        ASSERT_TRUE(test::spinUntil([&] { return !c.importing.get(); }));
        ASSERT_TRUE(test::pictured(c));
    }
};

}  // namespace

TEST_F(Opening, OriginalsOpenAsANewQueueWithTheirFirstPageShown) {
    auto c = portedController();
    const fs::path scan = test::writeDocument(tmp / "SCAN.PDF", 2);
    open(*c, {scan});
    ASSERT_TRUE(c->engine);
    EXPECT_EQ(c->status.get(), openedSentence);
    EXPECT_FALSE(c->managedQueue.get());
    EXPECT_FALSE(c->processingList.get());
    const QueueSnapshot& s = *c->snapshot.get();
    ASSERT_EQ(s.inputs.size(), 1u);
    EXPECT_EQ(c->selectedID.get(), s.inputs[0].id);
    EXPECT_EQ(c->page.get(), 1);
    EXPECT_EQ(c->previewPageCount.get(), 2);
    EXPECT_TRUE(c->preview->has_value());
    // The queue on screen is open already: no candidate for resuming.
    const fs::path first = c->parent / s.id.text();
    ASSERT_TRUE(fs::exists(first));
    EXPECT_TRUE(c->savedQueues->empty());

    // Two files, one a JPEG in upper case: a managed queue with its list.
    c->setSearch("前");
    const fs::path photo = tmp / "photo.JPG";
    test::writeJPEG(photo, test::makeImage(30, 20, 3, [](int, int, uint8_t* px) { px[0] = px[1] = px[2] = 200; }));
    open(*c, {photo, scan});
    EXPECT_TRUE(c->managedQueue.get());
    EXPECT_TRUE(c->processingList.get());
    EXPECT_EQ(c->snapshot->value().inputs.size(), 2u);
    EXPECT_EQ(c->search.get(), "");
    EXPECT_FALSE(c->rejection->has_value());
    // The queue let go is one again.
    EXPECT_EQ(c->savedQueues.get(), std::vector<fs::path>{first});
}

TEST_F(Opening, RefusalsOpenNothing) {
    auto c = portedController();
    const fs::path a = test::writeDocument(tmp / "a.pdf", 1);
    test::writeFile(tmp / "notes.txt", "memo");
    test::runTask(c->requestSelection({a, tmp / "notes.txt"}));
    EXPECT_EQ(c->status.get(), "notes.txt：PNG・JPEG・PDFを選んでください。");
    EXPECT_FALSE(c->importing.get());
    EXPECT_FALSE(fs::exists(c->parent));

    c->setBusy(true);
    test::runTask(c->choose());
    EXPECT_EQ(c->status.get(), "原稿の確認が終わるまでお待ちください。");
    test::runTask(c->requestSelection({a}));
    EXPECT_EQ(c->status.get(), "OCRまたは原稿確認の完了後に原稿を開いてください。");
    c->setBusy(false);
    c->importing = true;
    test::runTask(c->choose());
    EXPECT_EQ(c->status.get(), "原稿の確認が終わるまでお待ちください。");
    EXPECT_TRUE(picker->openRequests.empty());
    c->importing = false;

    // The panel offers the three kinds, several at once; cancelling it
    // opens nothing.
    test::runTask(c->choose());
    ASSERT_EQ(picker->openRequests.size(), 1u);
    EXPECT_TRUE(picker->openRequests[0].first);
    EXPECT_EQ(picker->openRequests[0].second, (std::vector<FileKind>{FileKind::png, FileKind::jpeg, FileKind::pdf}));
    EXPECT_FALSE(c->engine);
}

TEST_F(Opening, AnOriginalThatIsNoDocumentIsRefusedWhenOpened) {
    auto c = portedController();
    const std::string refused = "入力を読み込めません。対応する画像またはPDFを選んでください。";
    // A real document of many pages cut off after its first 20,000 bytes,
    // as an interrupted download leaves it.
    const fs::path whole = tmp / "manual.pdf";
    test::writePDF(whole, std::vector<test::PageSize>(40, test::PageSize{595, 842}), [](cairo_t* cr, int page, test::PageSize) {
        for (int i = 0; i < 60; ++i) {
            cairo_rectangle(cr, 20 + (i * 37 + page * 11) % 500, 20 + (i * 53 + page * 7) % 780, 3 + i % 9, 2 + page % 5);
        }
        cairo_fill(cr);
    });
    const std::string bytes = test::readFile(whole);
    ASSERT_GT(bytes.size(), 20000u);
    test::writeFile(tmp / "cut.pdf", bytes.substr(0, 20000));
    test::writeFile(tmp / "notes.pdf", "PDFではない文書です。");
    test::writeFile(tmp / "empty.png", "");
    for (const char* name : {"notes.pdf", "cut.pdf", "empty.png"}) {
        c->status = "";
        open(*c, {tmp / name});
        EXPECT_EQ(c->status.get(), name + ("：" + refused)) << name;
        EXPECT_EQ(c->refusedStatus.get(), name + ("：" + refused)) << name;
        EXPECT_FALSE(c->preview->has_value()) << name;
        // Refused before any queue is made: nothing is left to resume.
        EXPECT_FALSE(c->engine) << name;
        EXPECT_TRUE(c->savedQueues->empty()) << name;
        EXPECT_FALSE(fs::exists(c->parent)) << name;
    }
    {
        // An image too large for memory even when reduced is refused in the
        // OCR section's words: 3400 × 3400 is over the 384 MiB limit.
        CaptureBudget::ScopedPhysicalMemory twoGiB(uint64_t{2} << 30);
        test::writePNG(tmp / "poster.png", 3400, 3400, 3, [](int, uint8_t* row) { std::fill(row, row + 3400 * 3, 200); });
        open(*c, {tmp / "poster.png"});
        EXPECT_EQ(c->status.get(), "poster.png：画像の画素数が多すぎて読み込めません。画像を縮小してから開き直してください。");
        EXPECT_FALSE(c->engine);
    }
    // A document that opens is announced; a locked one waits for its
    // password without a refusal.
    open(*c, {whole});
    EXPECT_EQ(c->status.get(), openedSentence);
    EXPECT_EQ(c->previewPageCount.get(), 40);
    open(*c, {test::lockPDF(test::writeDocument(tmp / "plain.pdf", 1), tmp / "locked.pdf", "鍵")});
    EXPECT_TRUE(c->engine);
    EXPECT_TRUE(c->shownLocked());
}

// The loaders cannot read any of these; each refusal says why, the single
// file's run as the opening does.
TEST_F(Opening, AnOriginalThatCannotBeReadIsRefusedWithItsReason) {
    auto c = portedController();
    fs::create_symlink(tmp / "gone.pdf", tmp / "link.pdf");
    fs::create_directory(tmp / "scans.pdf");
    ASSERT_EQ(test::runProgram({"qpdf", "--empty", (tmp / "blank.pdf").string()}), 0);
    const fs::path shut = test::writeDocument(tmp / "shut.pdf", 1);
    ::chmod(shut.c_str(), 0);
    std::vector<std::pair<fs::path, std::string>> cases{
        {tmp / "link.pdf", BrindlexError::message(ErrorCase::sourceMissing)},
        {tmp / "scans.pdf", folderSentence},
        {tmp / "blank.pdf", emptyPDFSentence},
    };
    // Permissions do not hold for every user.
    if (::access(shut.c_str(), R_OK) != 0) cases.emplace_back(shut, BrindlexError::message(ErrorCase::accessDenied));
    for (const auto& [url, reason] : cases) {
        open(*c, {url});
        EXPECT_EQ(c->status.get(), url.filename().string() + "：" + reason);
        EXPECT_FALSE(c->engine);
        if (url != tmp / "blank.pdf") {
            auto single = OCRController::create();
            single->input = url;
            single->start();
            ASSERT_TRUE(test::spinUntil([&] { return !single->busy.get(); }));
            EXPECT_EQ(single->status.get(), reason);
        }
    }
    ::chmod(shut.c_str(), 0600);
}

// A file of a kind not read, chosen in the panel, is named in its refusal
// (the name beside the button is still the open document's), and the open
// document stays as it was.
TEST_F(Opening, AChosenFileOfAnotherKindIsNamedAndTheOpenDocumentStays) {
    auto c = portedController();
    picker->files = {test::writeDocument(tmp / "scan.pdf", 2)};
    test::runTask(c->choose());
    ASSERT_TRUE(test::spinUntil([&] { return !c->importing.get() && c->engine; }));
    ASSERT_TRUE(c->goPage(2));
    ASSERT_TRUE(test::pictured(*c));
    const auto engine = c->engine;
    const auto selected = c->selectedID.get();
    const auto shown = c->preview.get();
    for (const char* name : {"photo.webp", "anim.gif", "old.bmp", "fax.tiff", "memo.txt"}) {
        test::writeFile(tmp / name, "x");
        picker->files = {tmp / name};
        test::runTask(c->choose());
        EXPECT_EQ(c->status.get(), name + std::string("：PNG・JPEG・PDFを選んでください。")) << name;
        EXPECT_EQ(c->engine, engine) << name;
        EXPECT_EQ(c->currentName(), "scan.pdf") << name;
        EXPECT_EQ(c->selectedID.get(), selected) << name;
        EXPECT_EQ(c->page.get(), 2) << name;
        EXPECT_EQ(c->preview.get().has_value(), shown.has_value()) << name;
    }
    // Among several, the first of another kind is named; so it is when
    // they are added to the list.
    picker->files = {tmp / "scan.pdf", tmp / "memo.txt", tmp / "fax.tiff"};
    test::runTask(c->choose());
    EXPECT_EQ(c->status.get(), "memo.txt：PNG・JPEG・PDFを選んでください。");
    picker->files = {tmp / "fax.tiff"};
    test::runTask(c->chooseAdditional());
    EXPECT_EQ(c->status.get(), "fax.tiff：PNG・JPEG・PDFを選んでください。");
    EXPECT_EQ(c->snapshot->value().inputs.size(), 1u);
}

TEST_F(Opening, AFileThatWillBeRefusedLeavesTheEditedDocumentOnScreen) {
    auto c = portedController();
    confirmer->afterTurn = true;
    open(*c, {test::writeDocument(tmp / "old.pdf", 2)});
    auto old = c->engine;
    JobControl control;
    old->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    c->snapshot = old->snapshot();
    ASSERT_TRUE(c->goPage(2));
    c->editText("直した" + c->edited.get(), TextRange{0, 0}, std::string("直した"), false);
    ASSERT_TRUE(c->hasUnsavedEdits());
    const std::string edited = c->edited.get();
    const auto saved = c->savedQueues.get();

    test::writeFile(tmp / "notes.pdf", "PDFではない文書です。");
    test::writeFile(tmp / "empty.png", "");
    confirmer->answers = {true, true};
    for (const char* name : {"notes.pdf", "empty.png", "missing.pdf"}) {
        open(*c, {tmp / name});
        // Nothing asked, nothing replaced: the refusal is the status.
        EXPECT_TRUE(confirmer->asked.empty()) << name;
        EXPECT_EQ(c->engine, old) << name;
        EXPECT_EQ(c->edited.get(), edited) << name;
        EXPECT_EQ(c->page.get(), 2) << name;
        EXPECT_EQ(c->previewPageCount.get(), 2) << name;
        EXPECT_TRUE(c->preview->has_value()) << name;
        EXPECT_EQ(c->savedQueues.get(), saved) << name;
        EXPECT_NE(c->status.get(), openedSentence) << name;
        EXPECT_EQ(c->refusedStatus.get(), c->status.get()) << name;
        EXPECT_FALSE(c->importing.get()) << name;
    }
    EXPECT_EQ(c->status.get(), std::string("missing.pdf：") + BrindlexError::message(ErrorCase::sourceMissing));
    // Among several files, the refused one is named.
    open(*c, {test::writeDocument(tmp / "good.pdf", 1), tmp / "notes.pdf"});
    EXPECT_EQ(c->status.get(), std::string("notes.pdf：") + BrindlexError::message(ErrorCase::invalidInput));
    EXPECT_EQ(c->engine, old);
    EXPECT_TRUE(confirmer->asked.empty());
}

TEST_F(Opening, UnsavedEditsAreConfirmedAndStoredInTheOldQueueFirst) {
    auto c = portedController();
    confirmer->afterTurn = true;
    open(*c, {test::writeDocument(tmp / "old.pdf", 1)});
    auto old = c->engine;
    JobControl control;
    old->run(control, false, {}, {}, [](const QueueSnapshot&) {});
    c->snapshot = old->snapshot();
    c->showPage();
    c->loadingDecoration = true;  // typed, not yet stored
    c->setEdited(test::fixedText(1) + "。");
    c->loadingDecoration = false;
    ASSERT_TRUE(c->hasUnsavedEdits());

    const fs::path next = test::writeDocument(tmp / "next.pdf", 1);
    confirmer->answers = {false};
    open(*c, {next});
    EXPECT_EQ(c->engine, old);
    EXPECT_EQ(c->edited.get(), test::fixedText(1) + "。");
    ASSERT_EQ(confirmer->asked.size(), 1u);
    EXPECT_EQ(confirmer->asked[0].message, "別の原稿を開きますか？");

    confirmer->answers = {true};
    open(*c, {next});
    ASSERT_NE(c->engine, old);
    const QueueSnapshot oldStored = OCRQueueEngine::inspect(old->directory()->url());
    EXPECT_EQ(oldStored.inputs[0].editedPages.at(1), test::fixedText(1) + "。");
}

TEST_F(Opening, AnAnswerThatComesAfterARunOrAnotherOpeningBeganChangesNothing) {
    auto c = portedController();
    confirmer->afterTurn = true;
    open(*c, {test::writeDocument(tmp / "old.pdf", 1)});
    auto old = c->engine;
    c->original = "認識";
    c->setEdited("編集");
    ASSERT_TRUE(c->hasUnsavedEdits());

    confirmer->answers = {true};
    test::Spawned<void> asking(c->requestSelection({test::writeDocument(tmp / "b.pdf", 1)}));
    c->setBusy(true);  // a run starts while the question is open
    ASSERT_TRUE(test::spinUntil([&] { return asking.out->finished; }));
    c->setBusy(false);
    EXPECT_EQ(c->engine, old);
    EXPECT_FALSE(c->importing.get());

    // So does a file panel answered after a run or an import began: not even
    // the sentence changes.
    picker->afterTurn = true;
    picker->files = {test::writeDocument(tmp / "panel.pdf", 1)};
    for (const bool running : {true, false}) {
        c->status = "前の文";
        const std::size_t asked = picker->openRequests.size();
        test::Spawned<void> choosing(c->choose());
        ASSERT_TRUE(test::spinUntil([&] { return picker->openRequests.size() > asked; }));
        if (running) c->setBusy(true);
        else c->importing = true;
        ASSERT_TRUE(test::spinUntil([&] { return choosing.out->finished; }));
        c->setBusy(false);
        c->importing = false;
        EXPECT_EQ(c->engine, old);
        EXPECT_EQ(c->status.get(), "前の文") << running;
    }
    picker->afterTurn = false;

    // Two questions open at once: the first answer opens, the second none.
    confirmer->answers = {true, true};
    test::Spawned<void> first(c->requestSelection({test::writeDocument(tmp / "c.pdf", 1)}));
    test::Spawned<void> second(c->requestSelection({test::writeDocument(tmp / "d.pdf", 1)}));
    ASSERT_TRUE(test::spinUntil([&] { return first.out->finished && second.out->finished && !c->importing.get(); }));
    ASSERT_NE(c->engine, old);
    EXPECT_EQ(fs::path(c->snapshot->value().inputs[0].path).filename(), "c.pdf");
    test::spinFor(50ms);
    EXPECT_EQ(fs::path(c->snapshot->value().inputs[0].path).filename(), "c.pdf");
}

TEST_F(Opening, PendingProductDefaultsApplyToTheFirstOpeningOnly) {
    auto c = portedController();
    ProductDefaults d;
    d.ocrMode = OCRMode::vertical;
    d.preserveLines = false;
    c->nextProductDefaults = d;
    c->nextAutomaticDefault = false;
    open(*c, {test::writeDocument(tmp / "a.pdf", 1)});
    EXPECT_EQ(c->snapshot->value().settings.mode, OCRMode::vertical);
    EXPECT_FALSE(c->preserveLines.get());
    EXPECT_FALSE(c->automatic.get());
    EXPECT_FALSE(c->nextProductDefaults.has_value());
    EXPECT_FALSE(c->nextAutomaticDefault.has_value());

    c->recognitionMode = OCRMode::standard;
    c->automatic = true;
    open(*c, {test::writeDocument(tmp / "b.pdf", 1)});
    EXPECT_EQ(c->snapshot->value().settings.mode, OCRMode::standard);
    EXPECT_TRUE(c->automatic.get());
}

TEST_F(Opening, SelectWithoutAPreparedEngineBuildsItAtOnce) {
    auto c = portedController();
    c->privateInput = true;
    c->select({test::writeDocument(tmp / "capture.pdf", 1)}, nullptr);
    ASSERT_TRUE(c->engine);
    EXPECT_TRUE(c->isPrivateQueue());
    EXPECT_EQ(c->status.get(), openedSentence);
    auto kept = c->engine;
    c->setBusy(true);
    c->select({test::writeDocument(tmp / "other.pdf", 1)}, nullptr);
    EXPECT_EQ(c->engine, kept);
}

TEST_F(Opening, AFIFONamedLikeAPDFIsRefusedAndTheLoopStaysResponsive) {
    auto c = portedController();
    const fs::path fifo = tmp / "x.pdf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    bool turned = false;
    detail::onMainContext([&] { turned = true; });
    test::runTask(c->requestSelection({fifo}), 10s);
    ASSERT_TRUE(test::spinUntil([&] { return !c->importing.get(); }, 10s));
    EXPECT_TRUE(turned);
    EXPECT_FALSE(c->engine);
    EXPECT_EQ(c->status.get(), std::string("x.pdf：") + BrindlexError::message(ErrorCase::invalidInput));
    EXPECT_FALSE(c->preview->has_value());
}
