#include <gtest/gtest.h>

#include <glib.h>

#include <filesystem>
#include <memory>

#include "ControllerFixtures.hpp"
#include "PortFakes.hpp"
#include "foundation/Digest.hpp"
#include "foundation/OutputRoots.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "support/FakeDesktopActions.hpp"
#include "support/MainLoop.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr const char* incompleteManaged = "[途中結果：未完了または失敗]";

// What a save says of the files it wrote in the folder.
std::string saved(const std::vector<std::string>& names, const fs::path& folder) {
    const std::string first = "「" + names.front() + "」";
    return (names.size() == 1 ? "TXT" + first + "を保存しました。"
                              : "TXTを" + std::to_string(names.size()) + "件保存しました（" + first + "ほか）。") +
           "保存先：" + folder.string();
}

std::vector<std::string> names(const std::vector<fs::path>& files) {
    std::vector<std::string> out;
    for (const auto& f : files) out.push_back(f.filename().string());
    return out;
}

// The controller on temporary roots, its history approving the output root,
// its ports the fakes.
class Export : public ::testing::Test, protected test::ControllerRoots {
protected:
    Export() {
        QueuePorts ports;
        ports.filePicker = picker;
        ports.clipboard = clipboard;
        c = controller(test::fakeRecognition(ports));
        fs::create_directories(out);
    }

    // Documents with the given page counts, run (failing the pages named),
    // opened as the controller's queue.
    void open(const std::vector<std::pair<std::string, int>>& docs,
              const std::map<std::size_t, std::set<int64_t>>& fail = {}, OCRMode mode = OCRMode::standard) {
        std::vector<OCRQueueEngine::InputFile> files;
        for (const auto& [name, pages] : docs) files.push_back({test::writeDocument(tmp / name, pages)});
        openQueue(*c, files, test::settingsIn(mode), true, fail);
    }

    std::vector<CaptureHistoryEntry> history() { return AppHistory::required()->entries(); }

    const fs::path out = tmp / "output";
    SettingsStore settings{tmp / "storage" / "settings"};
    FixedOutputRoots approved{{tmp / "output"}};
    AppHistory::ScopedEnvironment env{{tmp / "storage", &settings, &approved}};
    std::shared_ptr<test::FakeFilePicker> picker = std::make_shared<test::FakeFilePicker>();
    std::shared_ptr<test::FakeClipboard> clipboard = std::make_shared<test::FakeClipboard>();
    std::shared_ptr<QueueController> c;
};

}  // namespace

TEST_F(Export, DocumentPagesListEveryPageWithTheTextShownNow) {
    open({{"first.pdf", 3}, {"second.pdf", 2}});
    const QueueSnapshot s = c->snapshot->value();
    c->engine->edit(s.inputs[1].id, 1, "保存済みの編集");
    c->page = 2;
    c->showPage();
    c->loadingDecoration = true;  // typed, not yet stored
    c->setEdited("画面の本文");
    c->loadingDecoration = false;

    const auto pages = c->documentPages();
    ASSERT_EQ(pages.size(), 5u);
    const std::vector<std::pair<std::size_t, int64_t>> order{{0, 1}, {0, 2}, {0, 3}, {1, 1}, {1, 2}};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i].inputID, s.inputs[order[i].first].id) << i;
        EXPECT_EQ(pages[i].page, order[i].second) << i;
        EXPECT_TRUE(pages[i].complete) << i;
    }
    EXPECT_EQ(pages[0].text, test::fixedText(1));
    EXPECT_EQ(pages[1].text, "画面の本文");
    EXPECT_EQ(pages[3].text, "保存済みの編集");
    EXPECT_EQ(pages[4].text, test::fixedText(2));

    // Whole-queue export off, the second input selected: one section,
    // numbered 1, of that input.
    c->selectedID = s.inputs[1].id;
    c->page = 1;
    c->showPage();
    c->exportWholeQueue = false;
    EXPECT_EQ(c->managedExportText(), "=== 文書 1: second.pdf ===\n" +
                                          OCRProduct::text(std::vector<OCRProduct::Page>(pages.begin() + 3, pages.end()),
                                                           true));
    c->exportWholeQueue = true;
    c->pageSeparators = false;
    const std::string whole = c->managedExportText();
    EXPECT_EQ(whole.find("=== 文書 1: first.pdf ===\n"), 0u);
    EXPECT_NE(whole.find("\n\n=== 文書 2: second.pdf ===\n保存済みの編集"), std::string::npos);
}

TEST_F(Export, AnAnnotationPageAndAnUnreadInputAreListedAsTheyAreShown) {
    const fs::path plain = test::writeDocument(tmp / "plain.pdf", 1);
    const fs::path locked = tmp / "locked.pdf";
    ASSERT_EQ(test::runProgram({"qpdf", "--encrypt", "pw", "owner", "256", "--", plain.string(), locked.string()}), 0);
    openQueue(*c, {{test::writeDocument(tmp / "notes.pdf", 1)}, {locked}}, test::settingsIn(OCRMode::handwriting),
              true);
    c->preserveLines = false;
    c->selectedID = c->snapshot->value().inputs[1].id;  // nothing shown of the first
    const auto pages = c->documentPages();
    ASSERT_EQ(pages.size(), 1u);  // the locked input has no known pages
    EXPECT_EQ(pages[0].text, OCRProduct::readable(test::fixedText(1)));
    c->exportWholeQueue = true;
    const std::string text = c->managedExportText();
    EXPECT_NE(text.find("=== 文書 2: locked.pdf ===\n[途中結果：入力確認待ち]"), std::string::npos) << text;
}

TEST_F(Export, EachShapeNamesItsFilesAndNeverReplacesOne) {
    {  // product, one original: its stem; again: a numbered name
        open({{"scan.pdf", 2}});
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"scan.txt"});
        const std::string first = test::readFile(out / "scan.txt");
        EXPECT_EQ(first, OCRProduct::text(c->documentPages(), true));
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"scan_001.txt"});
        // The file written and its folder are named: a numbered name says
        // that the earlier one was kept.
        EXPECT_EQ(c->status.get(), saved({"scan_001.txt"}, out));
        EXPECT_EQ(c->savedStatus.get(), c->status.get());
        EXPECT_EQ(test::readFile(out / "scan.txt"), first);
    }
    {  // product, two originals, then one file per page by position
        open({{"a.pdf", 3}, {"b.pdf", 1}}, {{0, {2}}});
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"キャプチャOCR.txt"});
        c->combined = false;
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports),
                  (std::vector<std::string>{"キャプチャOCR_0001.txt", "キャプチャOCR_0003.txt", "キャプチャOCR_0004.txt"}));
        EXPECT_EQ(test::readFile(out / "キャプチャOCR_0004.txt"), test::fixedText(1));
        EXPECT_EQ(c->status.get(), saved({"キャプチャOCR_0001.txt", "", ""}, out));
        c->combined = true;
    }
    {  // managed: the whole queue in one file, or one file per page
        open({{"m1.pdf", 2}, {"m2.pdf", 1}}, {{0, {2}}});
        c->managedQueue = true;
        c->exportWholeQueue = true;
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"OCR-全結果.txt"});
        EXPECT_EQ(test::readFile(out / "OCR-全結果.txt"), c->managedExportText());
        c->exportWholeQueue = false;
        c->combined = false;
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports), (std::vector<std::string>{"m1_0001.txt", "m1_0002.txt"}));
        EXPECT_EQ(test::readFile(out / "m1_0002.txt"), incompleteManaged);
        c->combined = true;
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"m1.txt"});
        // Nothing selected and only the selection asked for: nothing to write.
        c->selectedID = std::nullopt;
        const auto before = c->lastExports.get();
        try {
            c->exportText(out);
            ADD_FAILURE() << "exported without a selection";
        } catch (const BrindlexError& e) {
            EXPECT_EQ(e.errorCase(), ErrorCase::emptyResult);
        }
        c->managedQueue = false;
    }
    {  // the engine's own shape
        open({{"e1.pdf", 1}, {"e2.pdf", 1}});
        c->productPresentation = false;
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"OCR-combined.txt"});
        c->exportText(out);
        EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"OCR-combined-1.txt"});
        c->productPresentation = true;
    }
    // No queue: nothing to export.
    c->engine.reset();
    EXPECT_THROW(c->exportText(out), BrindlexError);
}

TEST_F(Export, ASaveNamesItsFileAndFolderAndOpensThatFolder) {
    // Under the home folder, the folder is written from "ホーム".
    const fs::path home = g_get_home_dir();
    EXPECT_EQ(QueueController::savedSentence({home / "Documents" / "ベルモラ" / "OCR" / "報告.txt"}),
              "TXT「報告.txt」を保存しました。保存先：ホーム/Documents/ベルモラ/OCR");
    EXPECT_EQ(QueueController::savedSentence({home / "OCR" / "a.txt", home / "OCR" / "b.txt"}),
              "TXTを2件保存しました（「a.txt」ほか）。保存先：ホーム/OCR");
    EXPECT_EQ(QueueController::savedSentence({"/srv/ocr/a.txt"}), "TXT「a.txt」を保存しました。保存先：/srv/ocr");

    // The save's folder is shown with its file selected, while the save's
    // sentence stands.
    auto desktop = std::make_shared<test::FakeDesktopActions>();
    QueuePorts ports;
    ports.desktop = desktop;
    c = controller(test::fakeRecognition(ports));
    open({{"report.pdf", 1}});
    c->destinationProvider = [this](bool) -> Task<std::optional<fs::path>> { co_return out / "OCR"; };
    test::runTask(c->save(false));
    ASSERT_EQ(names(c->lastExports), std::vector<std::string>{"report.txt"});
    EXPECT_EQ(c->status.get(), saved({"report.txt"}, out / "OCR"));
    EXPECT_EQ(c->savedStatus.get(), c->status.get());
    c->revealExports();
    EXPECT_EQ(desktop->revealed, std::vector<fs::path>{out / "OCR" / "report.txt"});
}

TEST_F(Export, ExportsAreRecordedInTheHistoryUnlessPrivateOrOutsideTheApprovedFolders) {
    open({{"h1.pdf", 1}, {"h2.pdf", 1}});
    AppHistory::startupNotice().set(AppHistory::initialNotice);
    c->exportText(out);
    auto entries = history();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].kind, "ocr");
    ASSERT_EQ(entries[0].outputs.size(), 1u);
    EXPECT_EQ(fs::path(entries[0].outputs[0].path), c->lastExports->front());
    ASSERT_EQ(entries[0].sourceStamps.size(), 2u);
    EXPECT_EQ(entries[0].sourceStamps[0].sha256, Digest::file(tmp / "h1.pdf"));
    EXPECT_EQ(entries[0].sourceStamps[1].sha256, Digest::file(tmp / "h2.pdf"));

    // Outside the approved folders: written all the same, with the notice.
    const fs::path elsewhere = tmp / "elsewhere";
    c->exportText(elsewhere);
    EXPECT_TRUE(fs::exists(elsewhere / "キャプチャOCR.txt"));
    EXPECT_EQ(c->status.get(), saved({"キャプチャOCR.txt"}, elsewhere));
    EXPECT_EQ(AppHistory::startupNotice().get(),
              "TXTは保存済みですが履歴へ登録できませんでした。ファイルは保持しています。");
    EXPECT_EQ(history().size(), 1u);

    // A queue holding a private original writes its files and records none.
    openQueue(*c, {{test::writeDocument(tmp / "private.pdf", 1), InputOrigin::privateSession}}, OCRSettings(), true);
    c->exportText(out);
    EXPECT_TRUE(fs::exists(out / "private.txt"));
    EXPECT_EQ(history().size(), 1u);
}

TEST_F(Export, OnlyTheWrittenInputsEditsCountAsExported) {
    open({{"x1.pdf", 1}, {"x2.pdf", 1}});
    c->managedQueue = true;
    const UUID first = c->snapshot->value().inputs[0].id;
    const UUID second = c->snapshot->value().inputs[1].id;
    c->selectedID = second;
    c->showPage();
    c->setEdited(test::fixedText(1) + "二番目");
    c->applyEdit();  // as the switch to another input does
    c->selectedID = first;
    c->showPage();
    c->setEdited(test::fixedText(1) + "一番目");
    c->applyEdit();
    ASSERT_TRUE(c->hasUnsavedEdits());

    c->exportWholeQueue = false;
    c->exportText(out);
    EXPECT_TRUE(c->hasUnsavedEdits()) << "the second input's edit is in no file";
    c->exportWholeQueue = true;
    c->exportText(out);
    EXPECT_FALSE(c->hasUnsavedEdits());
    c->editText(c->edited.get() + "。", std::nullopt, std::nullopt, false);
    EXPECT_TRUE(c->hasUnsavedEdits());

    // The same on an annotation page, whose text lives in its state only.
    c->detachQueue();
    openRunQueue(*c, {1}, test::settingsIn(OCRMode::handwriting));
    c->showPage();
    c->editText(c->edited.get() + "追記", std::nullopt, std::nullopt, false);
    ASSERT_TRUE(c->hasUnsavedEdits());
    c->exportText(out);
    EXPECT_FALSE(c->hasUnsavedEdits());
    c->editText(c->edited.get() + "。", std::nullopt, std::nullopt, false);
    EXPECT_TRUE(c->hasUnsavedEdits());
}

TEST_F(Export, APerPageExportThatFailsPartWayKeepsAndListsItsFirstFile) {
    open({{"part.pdf", 2}});
    c->combined = false;
    // Every name the second page's file could take is taken.
    fs::create_directories(out);
    test::writeFile(out / "part_0002.txt", "先客");
    for (int n = 1; n < 10000; ++n) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "_%03d", n);
        fs::create_hard_link(out / "part_0002.txt", out / ("part_0002" + std::string(suffix) + ".txt"));
    }
    test::runTask(c->save(false));
    EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"part_0001.txt"});
    EXPECT_EQ(test::readFile(out / "part_0001.txt"), test::fixedText(1));
    EXPECT_EQ(c->status.get(), std::string("TXTを一部保存しました。保存済みファイルは保持しています。") +
                                   BrindlexError::message(ErrorCase::fileExists));
}

TEST_F(Export, SaveAsksForItsFolderAndEveryFailureIsTheStatus) {
    open({{"s.pdf", 1}});
    c->exportText(out);
    const auto listed = c->lastExports.get();

    // The window's provider: none is a cancel, an error its message.
    std::vector<bool> asked;
    std::optional<fs::path> answer;
    bool fail = false;
    c->destinationProvider = [&](bool ask) -> Task<std::optional<fs::path>> {
        asked.push_back(ask);
        if (fail) raise(ErrorCase::accessDenied);
        co_return answer;
    };
    test::runTask(c->save(true));
    EXPECT_EQ(c->status.get(), "保存を取消しました");
    EXPECT_EQ(c->lastExports.get(), listed);
    EXPECT_EQ(test::listNames(out).size(), 1u);
    fail = true;
    test::runTask(c->save(false));
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::accessDenied));
    fail = false;
    answer = tmp / "chosen";
    test::runTask(c->save(false));
    EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"s.txt"});
    EXPECT_EQ(c->lastExports->front().parent_path(), tmp / "chosen");
    EXPECT_EQ(asked, (std::vector<bool>{true, false, false}));

    // Without a provider: the output folder, or the save panel when asked.
    c->destinationProvider = nullptr;
    test::runTask(c->save(false));
    EXPECT_EQ(names(c->lastExports), std::vector<std::string>{"s_001.txt"});
    test::runTask(c->save(true));
    ASSERT_EQ(picker->saveRequests.size(), 1u);
    EXPECT_EQ(picker->saveRequests[0].start, c->output);
    EXPECT_EQ(picker->saveRequests[0].acceptLabel, "このフォルダに保存");
    EXPECT_TRUE(picker->saveRequests[0].createFolders);
    EXPECT_EQ(c->status.get(), "保存を取消しました");
    picker->saveFolder = tmp / "panel";
    test::runTask(c->save(true));
    EXPECT_TRUE(fs::exists(tmp / "panel" / "s.txt"));

    // A queue let go while the panel was open: the answer changes nothing.
    picker->afterTurn = true;
    test::Spawned<void> waiting(c->save(true));
    test::spinUntil([&] { return picker->saveRequests.size() == 3; });
    c->detachQueue();
    ASSERT_TRUE(waiting.finish());
    EXPECT_FALSE(fs::exists(tmp / "panel" / "s_001.txt"));
}

TEST_F(Export, NothingReadIsNothingCopiedOrSaved) {
    openQueue(*c, {{test::writeDocument(tmp / "unread.pdf", 2)}}, test::settingsIn(OCRMode::standard), false);
    clipboard->text = "利用者がコピーした文";
    c->copyAll();
    EXPECT_EQ(c->status.get(), QueueController::nothingReadSentence);
    EXPECT_EQ(clipboard->text, "利用者がコピーした文");
    // The list's text and the TXT button say the same, and no file is made.
    c->managedQueue = true;
    c->copyAll();
    EXPECT_EQ(c->status.get(), QueueController::nothingReadSentence);
    c->status = "";
    test::runTask(c->save(false));
    EXPECT_EQ(c->status.get(), QueueController::nothingReadSentence);
    for (const auto& entry : fs::recursive_directory_iterator(tmp.path())) EXPECT_NE(entry.path().extension(), ".txt");
    EXPECT_EQ(clipboard->text, "利用者がコピーした文");
}

TEST_F(Export, CopyPutsTheShapesTextOnTheClipboard) {
    open({{"c1.pdf", 1}, {"c2.pdf", 2}});
    c->showPage();
    c->copyAll();
    EXPECT_EQ(c->status.get(), "コピーしました。");
    EXPECT_EQ(clipboard->text, OCRProduct::text(c->documentPages(), true));
    c->productPresentation = false;
    c->copyAll();
    const QueueSnapshot s = c->snapshot->value();
    EXPECT_EQ(clipboard->text, c->engine->text(s.inputs[0].id, TXTOptions()) + "\n\n" +
                                   c->engine->text(s.inputs[1].id, TXTOptions()));
    c->managedQueue = true;
    c->exportWholeQueue = true;
    c->copyAll();
    EXPECT_EQ(clipboard->text, c->managedExportText());

    // A failing store, or a failing clipboard: the general sentence and the
    // clipboard as it was.
    const std::optional<std::string> before = clipboard->text;
    const fs::path file = c->parent / s.id.text() / "queue.json";
    c->engine->flush();  // no earlier store still on its way
    const std::string good = test::readFile(file);
    c->setEdited(test::fixedText(1) + "。");
    test::writeFile(file, good + " ");
    c->copyAll();
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::saveFailed));
    EXPECT_EQ(clipboard->text, before);
    test::writeFile(file, good);
    clipboard->fail = true;
    c->status = "";
    c->copyAll();
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::saveFailed));

    // The name of the shown original, or none for an id gone from the queue.
    EXPECT_EQ(c->currentName(), "c1.pdf");
    c->selectedID = UUID::random();
    EXPECT_EQ(c->currentName(), "原稿未選択");
    c->selectedID = std::nullopt;
    EXPECT_EQ(c->currentName(), "原稿未選択");
}
