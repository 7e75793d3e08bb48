#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <map>

#include "ControllerFixtures.hpp"
#include "support/MainLoop.hpp"
#include "foundation/JSON.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

constexpr const char* loadedSentence = "保存済み条件で続きから再開できます。処理はまだ開始していません。";
constexpr const char* rejectedSentence =
    "前回の原稿または設定と異なるか、再開用データを確認できないため、続きから再開できません。前回の編集と保存物は保持しています。";

// Every file under a folder with its bytes.
std::map<fs::path, std::string> contents(const fs::path& folder) {
    std::map<fs::path, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder)] = test::readFile(entry.path());
    }
    return files;
}

class LoadSaved : public ::testing::Test, protected test::ControllerRoots {
protected:
    // A saved queue of a 3- and a 2-page document, the first run to its end
    // and the second never started, with line breaks off, page 2 of the
    // first edited and its highlight state stored.
    fs::path savedQueue(QueueController& c) {
        c.preserveLines = false;
        std::vector<OCRQueueEngine::InputFile> files{{test::writeDocument(tmp / "first.pdf", 3)},
                                                     {test::writeDocument(tmp / "second.pdf", 2)}};
        auto engine = OCRQueueEngine::create(files, c.currentSettings(), c.parent, c.currentPresentation());
        c.ports().configure(*engine);
        JobControl control;
        const UUID second = engine->snapshot().inputs[1].id;
        engine->run(control, false, {}, {}, [&](const QueueSnapshot& s) {
            if (const QueueInput* in = s.input(second); in && in->status == InputStatus::running) {
                control.request(JobControl::Stop::pause);
            }
        });
        c.engine = std::shared_ptr<OCRQueueEngine>(std::move(engine));
        c.snapshot = c.engine->snapshot();
        c.selectedID = c.snapshot->value().inputs[0].id;
        c.page = 2;
        c.showPage();
        c.editText("直した" + test::fixedText(2), TextRange{0, 0}, std::string("直した"), false);
        c.applyEdit();
        EXPECT_TRUE(test::spinUntil([&] { return !c.editWritePending(); }));
        return c.parent / c.snapshot->value().id.text();
    }

    // A controller that had a queue open, asked to load the folder.
    std::shared_ptr<QueueController> loader(const fs::path& folder, OCRSettings settings = OCRSettings()) {
        auto c = controller();
        c->languageCorrection = settings.languageCorrection;
        c->recognitionMode = settings.mode;
        openRunQueue(*c, {1}, c->currentSettings());
        c->showPage();
        held = c->engine;
        c->selectedSaved = folder;
        return c;
    }

    void expectRejected(QueueController& c, const fs::path& folder, ErrorCase reason,
                        const std::map<fs::path, std::string>& before) {
        ASSERT_TRUE(c.rejection->has_value()) << BrindlexError::rawValue(reason) << ": " << c.status.get();
        EXPECT_EQ(c.rejection->value().reason, reason) << BrindlexError::rawValue(c.rejection->value().reason);
        EXPECT_EQ(c.rejection->value().url, folder);
        EXPECT_FALSE(c.rejection->value().replacementInputs.has_value());
        EXPECT_EQ(c.status.get(), rejectedSentence);
        EXPECT_EQ(c.engine, nullptr);
        EXPECT_FALSE(c.snapshot->has_value());
        EXPECT_FALSE(c.selectedID->has_value());
        EXPECT_EQ(c.edited.get(), "");
        EXPECT_FALSE(c.preview->has_value());
        EXPECT_EQ(c.previousEngine, held);
        EXPECT_EQ(contents(folder), before);
    }

    std::shared_ptr<OCRQueueEngine> held;
};

}  // namespace

TEST_F(LoadSaved, ASavedQueueComesBackWithItsEditsSelectionAndViewOptions) {
    fs::path folder;
    std::string key;
    {
        auto first = controller();
        folder = savedQueue(*first);
        key = first->editorDocumentKey();
    }
    const auto before = contents(folder);
    auto c = loader(folder);
    ASSERT_TRUE(c->preserveLines.get());
    c->loadSaved();

    ASSERT_NE(c->engine, nullptr);
    EXPECT_EQ(c->previousEngine, held);
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_EQ(c->status.get(), loadedSentence);
    EXPECT_TRUE(c->managedQueue.get());
    EXPECT_TRUE(c->processingList.get());
    const QueueSnapshot& s = c->snapshot->value();
    EXPECT_EQ(c->selectedID.get(), s.inputs[0].id);
    EXPECT_EQ(c->page.get(), 2);
    EXPECT_FALSE(c->preserveLines.get());
    EXPECT_EQ(c->editorDocumentKey(), key);
    EXPECT_EQ(c->edited.get(), "直した" + test::fixedText(2));
    // The stored highlight state, not one rebuilt from the text: the typed
    // characters are marked as typed.
    EXPECT_EQ(c->currentDecoration().text(), "直した" + test::fixedText(2));
    EXPECT_NE(c->currentDecoration().text16(), c->currentDecoration().baseline16());
    ASSERT_TRUE(test::pictured(*c));
    EXPECT_TRUE(c->preview->has_value());
    EXPECT_EQ(s.inputs[1].status, InputStatus::pending);
    EXPECT_FALSE(c->busy.get());
    // Loading writes nothing.
    EXPECT_EQ(contents(folder), before);
}

TEST_F(LoadSaved, ARejectionNamesItsReasonOpensNothingAndChangesNoFile) {
    auto first = controller();
    const fs::path folder = savedQueue(*first);
    const QueueSnapshot stored = OCRQueueEngine::inspect(folder);
    const fs::path original = stored.inputs[0].fileURL();
    const std::string originalBytes = test::readFile(original);
    const std::string queueBytes = test::readFile(folder / "queue.json");

    {  // a queue file whose digest is wrong: no candidate
        Json envelope = Json::parse(queueBytes);
        std::string digest = envelope["sha256"].get<std::string>();
        digest[0] = digest[0] == '0' ? '1' : '0';
        envelope["sha256"] = digest;
        test::writeFile(folder / "queue.json", envelope.dump());
        auto c = loader(folder);
        const auto before = contents(folder);
        c->loadSaved();
        expectRejected(*c, folder, ErrorCase::damagedCheckpoint, before);
        EXPECT_FALSE(c->rejection->value().candidate.has_value());
        test::writeFile(folder / "queue.json", queueBytes);
    }
    {  // one byte of an original changed
        std::string changed = originalBytes;
        changed[changed.size() / 2] ^= 0x01;
        test::writeFile(original, changed);
        auto c = loader(folder);
        const auto before = contents(folder);
        c->loadSaved();
        expectRejected(*c, folder, ErrorCase::sourceChanged, before);
        ASSERT_TRUE(c->rejection->value().candidate.has_value());
        EXPECT_EQ(c->rejection->value().candidate->id, stored.id);
        EXPECT_FALSE(c->rejection->value().canRestoreSettings);
        test::writeFile(original, originalBytes);
    }
    {  // language correction switched: the settings can be taken back
        OCRSettings other;
        other.languageCorrection = !other.languageCorrection;
        auto c = loader(folder, other);
        const auto before = contents(folder);
        c->loadSaved();
        expectRejected(*c, folder, ErrorCase::settingsChanged, before);
        EXPECT_TRUE(c->rejection->value().candidate.has_value());
        EXPECT_TRUE(c->rejection->value().canRestoreSettings);
    }
    {  // the mode switched: they cannot
        auto c = loader(folder, test::settingsIn(OCRMode::vertical));
        const auto before = contents(folder);
        c->loadSaved();
        expectRejected(*c, folder, ErrorCase::settingsChanged, before);
        EXPECT_FALSE(c->rejection->value().canRestoreSettings);
    }
    {  // a missing original passes the digests and fails the engine's check
        fs::rename(original, tmp / "moved.pdf");
        auto c = loader(folder);
        const auto before = contents(folder);
        c->loadSaved();
        expectRejected(*c, folder, ErrorCase::sourceMissing, before);
        EXPECT_TRUE(c->rejection->value().candidate.has_value());
        // A FIFO in the original's place is refused at once, not read.
        ASSERT_EQ(::mkfifo(original.c_str(), 0600), 0);
        c = loader(folder);
        c->loadSaved();
        expectRejected(*c, folder, ErrorCase::accessDenied, before);
        fs::remove(original);
        fs::rename(tmp / "moved.pdf", original);
    }
    {  // a highlight state whose page was recognised again since
        QueueSnapshot stale = stored;
        ASSERT_TRUE(stale.editorStates.has_value());
        stale.editorStates->begin()->second.resultChecksum = std::string(64, '0');
        test::writeFile(folder / "queue.json", Json(QueueEnvelope::seal(stale)).dump());
        auto c = loader(folder);
        const auto before = contents(folder);
        c->loadSaved();
        expectRejected(*c, folder, ErrorCase::damagedCheckpoint, before);
        EXPECT_TRUE(c->rejection->value().candidate.has_value());
        test::writeFile(folder / "queue.json", queueBytes);
    }
    // Everything restored, the same folder loads.
    auto c = loader(folder);
    c->loadSaved();
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_NE(c->engine, nullptr);
}

TEST_F(LoadSaved, NothingHappensWhileBusyAndClosingARejectionOpensNothing) {
    auto first = controller();
    const fs::path folder = savedQueue(*first);
    auto c = loader(folder, test::settingsIn(OCRMode::vertical));
    c->status = "処理中";
    c->setBusy(true);
    c->loadSaved();
    EXPECT_EQ(c->engine, held);
    EXPECT_EQ(c->status.get(), "処理中");
    EXPECT_FALSE(c->rejection->has_value());
    c->setBusy(false);

    c->loadSaved();
    ASSERT_TRUE(c->rejection->has_value());
    c->setBusy(true);
    c->closeRejection();
    EXPECT_TRUE(c->rejection->has_value());
    c->setBusy(false);
    c->closeRejection();
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_EQ(c->engine, nullptr);
    EXPECT_FALSE(c->snapshot->has_value());
    EXPECT_EQ(c->status.get(), "再開を取消しました。新しい処理は開始していません。");
    EXPECT_EQ(c->previousEngine, held);

    // Without a chosen folder nothing happens either.
    c->selectedSaved = std::nullopt;
    c->loadSaved();
    EXPECT_EQ(c->status.get(), "再開を取消しました。新しい処理は開始していません。");
}

TEST_F(LoadSaved, ADamagedJournalTailOpensTheQueueWithItsStoresAndIsReported) {
    fs::path folder;
    {
        auto first = controller();
        folder = savedQueue(*first);
    }
    // A store cut short by a crash after the last whole one.
    const fs::path journal = folder / std::string(QueueEditJournal::fileName);
    test::writeFile(journal, (fs::exists(journal) ? test::readFile(journal) : std::string()) + "VQJ1\x05");
    auto c = loader(folder);
    std::vector<std::pair<UUID, ErrorCase>> told;
    c->journalDamaged = [&](const UUID& id, ErrorCase error) { told.emplace_back(id, error); };
    c->loadSaved();
    ASSERT_NE(c->engine, nullptr);
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_EQ(c->status.get(), loadedSentence);
    EXPECT_EQ(c->edited.get(), "直した" + test::fixedText(2));
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].first, c->snapshot->value().id);
    EXPECT_EQ(told[0].second, ErrorCase::damagedCheckpoint);

    // A journal without damage tells nothing.
    told.clear();
    c->engine->stageEditor([&] {
        OCRQueueEngine::EditorRecord r;
        r.inputID = c->snapshot->value().inputs[0].id;
        r.page = 1;
        r.text = "後で";
        return r;
    }());
    auto again = loader(folder);
    again->journalDamaged = c->journalDamaged;
    again->loadSaved();
    ASSERT_NE(again->engine, nullptr);
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(again->snapshot->value().inputs[0].editedPages.at(1), "後で");
}
