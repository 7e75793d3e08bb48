#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <grp.h>

#include "foundation/FolderText.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "settingsui/SettingsScreenModel.hpp"
#include "settingsui/WizardModel.hpp"
#include "support/Bounded.hpp"
#include "support/FakeConfirmation.hpp"
#include "support/FakeFolderChooser.hpp"
#include "support/MainLoop.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/TempDir.hpp"

// The settings screen's model over a real store, real output grants and a
// real capture history on temporary folders; only the user's answers (the
// questions, the folder chooser and the two file panels) are fakes.

using namespace velmora;
namespace fs = std::filesystem;

namespace {

class FakePanels final : public SettingsFilePanels {
public:
    std::optional<fs::path> exportAnswer;
    std::optional<fs::path> importAnswer;
    std::vector<std::string> suggestedNames;
    std::vector<fs::path> startFolders;
    std::vector<std::vector<std::string>> importExtensions;

    Task<std::optional<fs::path>> chooseExport(const std::string& suggestedName, const fs::path& startFolder) override {
        suggestedNames.push_back(suggestedName);
        startFolders.push_back(startFolder);
        co_await sleepFor(std::chrono::milliseconds(1));
        co_return exportAnswer;
    }
    Task<std::optional<fs::path>> chooseImport(const std::vector<std::string>& extensions) override {
        importExtensions.push_back(extensions);
        co_await sleepFor(std::chrono::milliseconds(1));
        co_return importAnswer;
    }
};

// Every reference of the history dropped, as the application does it.
void clearRealHistory() { AppHistory::required()->removeAllReferences(); }

class SettingsScreenModelTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    // An export stages its file in the storage's work folder.
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "outputs"}};
    fs::path settingsRoot = tmp / "storage" / "settings";
    SettingsStore store{settingsRoot};
    // Another writer of the same file: another screen or another process.
    SettingsStore elsewhere{settingsRoot};
    test::FakeFolderChooser chooser;
    OutputAccess access{AppRuntime{tmp / "storage", tmp / "outputs"}, &chooser};
    SettingsFlow flow;
    test::FakeConfirmation confirmation;
    FakePanels panels;
    int shown = 0;
    std::unique_ptr<SettingsScreenModel> model;

    SettingsScreenModelTest() {
        store.update(&AppPreferences::mobileWidth, int64_t{390});
        flow.storedPreferences = SettingsFlow::storedIn(store);
        flow.showSettings = [this] { ++shown; };
        model = make(clearRealHistory);
    }

    std::unique_ptr<SettingsScreenModel> make(std::function<void()> clearHistory) {
        return std::make_unique<SettingsScreenModel>(
            SettingsScreenModel::Services{store, flow, access, confirmation, panels, std::move(clearHistory)});
    }

    std::string storedBytes() { return test::readFile(settingsRoot / "preferences.json"); }

    void edit(const std::function<void(AppPreferences&)>& change) {
        AppPreferences draft = model->draft();
        change(draft);
        model->form().setDraft(draft);
    }
};

}  // namespace

TEST_F(SettingsScreenModelTest, AnApplyIsRefusedAfterAnotherWriterUntilTheScreenRereads) {
    // Built with the defaults, shown with the stored values.
    EXPECT_EQ(model->draft().mobileWidth, 430);
    model->refresh();
    EXPECT_EQ(model->draft().mobileWidth, 390);
    EXPECT_EQ(model->expected(), store.value());
    EXPECT_EQ(model->message(), "");

    edit([](AppPreferences& p) { p.product.paper = "A3"; });
    elsewhere.update(&AppPreferences::lazyLoad, false);
    const std::string before = storedBytes();
    EXPECT_FALSE(model->messageIsFailure());
    model->apply();
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::applyRefused);
    EXPECT_TRUE(model->messageIsFailure());
    EXPECT_EQ(model->draft().product.paper, "A3");
    EXPECT_EQ(storedBytes(), before);

    // Re-reading drops the edit and takes the other writer's change, and
    // says so; the same edit then applies.
    model->reread();
    EXPECT_EQ(model->draft().product.paper, "A4");
    EXPECT_FALSE(model->draft().lazyLoad);
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::reread);
    edit([](AppPreferences& p) {
        p.product.paper = "A3";
        // Not portable: the apply leaves it as stored.
        p.rightPanelPreferredWidth = 999;
    });
    model->apply();
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::applied);
    elsewhere.reload();
    EXPECT_EQ(elsewhere.value().product.paper, "A3");
    EXPECT_FALSE(elsewhere.value().lazyLoad);
    EXPECT_EQ(elsewhere.value().rightPanelPreferredWidth, 320);
    // Refreshed: the next apply is against what was just written.
    EXPECT_EQ(model->expected(), elsewhere.value());
    EXPECT_EQ(model->draft(), elsewhere.value());
    edit([](AppPreferences& p) { p.logDays = 90; });
    model->apply();
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::applied);
    EXPECT_FALSE(model->messageIsFailure());
}

TEST_F(SettingsScreenModelTest, AFolderChoiceRereadsWhetherChosenOrCancelledAndAFailureSaysSo) {
    model->refresh();
    edit([](AppPreferences& p) { p.product.paper = "A3"; });
    chooser.answer = std::nullopt;
    test::runTask(model->chooseFolder());
    ASSERT_EQ(chooser.requests.size(), 1u);
    EXPECT_EQ(chooser.requests[0].title, "保存先を選んでください");
    // Cancelled: no message, and the unapplied edit is gone.
    EXPECT_EQ(model->message(), "");
    EXPECT_EQ(model->draft().product.paper, "A4");

    const fs::path chosen = tmp / "captures";
    fs::create_directories(chosen);
    chooser.answer = chosen;
    test::runTask(model->chooseFolder());
    EXPECT_EQ(model->message(), "");
    ASSERT_TRUE(model->draft().destinationID);
    EXPECT_EQ(access.resolve(*model->draft().destinationID), chosen);
    EXPECT_EQ(model->expected(), store.value());

    // A folder that cannot be approved.
    chooser.answer = tmp / "gone";
    const auto destination = model->draft().destinationID;
    test::runTask(model->chooseFolder());
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::folderFailed);
    EXPECT_TRUE(model->messageIsFailure());
    EXPECT_EQ(store.value().destinationID, destination);
}

TEST_F(SettingsScreenModelTest, TheHistoryIsClearedOnlyAfterExecuteAndNeverItsFiles) {
    const fs::path outputs = tmp / "outputs";
    fs::create_directories(outputs);
    test::writeFile(outputs / "page.png", "png");
    FixedOutputRoots roots({outputs});
    AppHistory::ScopedEnvironment environment({tmp / "storage", &store, &roots});
    AppHistory::required()->registerOutputs({outputs / "page.png"}, "capture", false, std::nullopt, {});
    ASSERT_EQ(AppHistory::required()->entries().size(), 1u);
    model->refresh();

    confirmation.answer = false;
    test::runTask(model->clearHistory());
    ASSERT_EQ(confirmation.requests.size(), 1u);
    const auto& asked = confirmation.requests[0];
    EXPECT_EQ(asked.message, "履歴をすべて削除しますか？");
    EXPECT_EQ(asked.informativeText, "参照だけを削除します。保存したPNG/PDF/TXTは残ります。");
    EXPECT_EQ(asked.cancelLabel, "取消");
    EXPECT_EQ(asked.confirmLabel, "履歴を削除");
    EXPECT_EQ(model->message(), "");
    EXPECT_EQ(AppHistory::required()->entries().size(), 1u);

    // The screen's unapplied edit is not touched by a clearing.
    edit([](AppPreferences& p) { p.product.paper = "A3"; });
    confirmation.answer = true;
    test::runTask(model->clearHistory());
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::historyCleared);
    EXPECT_TRUE(AppHistory::required()->entries().empty());
    EXPECT_EQ(test::readFile(outputs / "page.png"), "png");
    EXPECT_EQ(model->draft().product.paper, "A3");

    // A history that cannot be opened: its folder is a file.
    test::TempDir other;
    fs::create_directories(other / "storage");
    test::writeFile(other / "storage" / "history", "not a folder");
    AppHistory::ScopedEnvironment broken({other / "storage", &store, &roots});
    test::runTask(model->clearHistory());
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::historyFailed);
}

TEST_F(SettingsScreenModelTest, AnExportNeverReplacesAFileAlwaysCarriesTheSettingsExtensionAndSaysWhereItWent) {
    model->refresh();
    const fs::path folder = tmp / "exports";
    fs::create_directories(folder);

    panels.exportAnswer = std::nullopt;
    test::runTask(model->exportSettings());
    ASSERT_EQ(panels.suggestedNames, std::vector<std::string>{"ベルモラ_Settings.velmorasettings"});
    EXPECT_TRUE(test::listNames(folder).empty());
    EXPECT_EQ(model->message(), "");

    test::writeFile(folder / "ベルモラ_Settings.velmorasettings", "someone else's");
    panels.exportAnswer = folder / "ベルモラ_Settings.velmorasettings";
    test::runTask(model->exportSettings());
    // The numbered name is said, with its folder, and is the one to show.
    EXPECT_EQ(model->message(), "設定「ベルモラ_Settings_001.velmorasettings」を書き出しました。保存先：" +
                                    folderText(folder));
    EXPECT_EQ(model->exportedFile(), folder / "ベルモラ_Settings_001.velmorasettings");
    EXPECT_FALSE(model->messageIsFailure());
    EXPECT_EQ(test::readFile(folder / "ベルモラ_Settings.velmorasettings"), "someone else's");
    const auto parsed = SettingsTransfer::read(folder / "ベルモラ_Settings_001.velmorasettings");
    EXPECT_EQ(parsed.transfer.settings, PortableSettings(store.value()));

    panels.exportAnswer = folder / "x.json";
    test::runTask(model->exportSettings());
    EXPECT_TRUE(fs::exists(folder / "x.velmorasettings"));
    EXPECT_FALSE(fs::exists(folder / "x.json"));
    EXPECT_EQ(test::listNames(folder).size(), 3u);

    // A later sentence tells of no file.
    model->reread();
    EXPECT_TRUE(model->exportedFile().empty());
}

// The export panel opens in the user's documents folder (as the desktop
// configures it), not in the program's working folder; without one, at home.
TEST_F(SettingsScreenModelTest, TheExportPanelOpensInTheDocumentsFolder) {
    const fs::path home = tmp / "home";
    const fs::path documents = tmp / "home" / "書類";
    fs::create_directories(tmp / "config");
    test::writeFile(tmp / "config" / "user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"" + documents.string() + "\"\n");
    {
        test::ScopedEnvironment homeVariable("HOME", home.string());
        test::ScopedEnvironment config("XDG_CONFIG_HOME", (tmp / "config").string());
        g_reload_user_special_dirs_cache();
        fs::create_directories(documents);
        model->refresh();
        panels.exportAnswer = std::nullopt;
        test::runTask(model->exportSettings());
        fs::remove(documents);
        test::runTask(model->exportSettings());
        ASSERT_EQ(panels.startFolders.size(), 2u);
        EXPECT_EQ(panels.startFolders[0], documents);
        EXPECT_EQ(panels.startFolders[1], home) << "no documents folder: the home folder";
    }
    g_reload_user_special_dirs_cache();
}

// Re-reading says what it did: the stored values again, or that they are
// what the screen shows already.
TEST_F(SettingsScreenModelTest, ReReadingSaysWhetherAnythingChanged) {
    model->refresh();
    model->reread();
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::rereadSame);
    EXPECT_FALSE(model->messageIsFailure());

    // An edit not applied is dropped.
    edit([](AppPreferences& p) { p.product.paper = "A3"; });
    model->reread();
    EXPECT_EQ(model->draft().product.paper, "A4");
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::reread);

    // A change made elsewhere is taken.
    elsewhere.reload();
    elsewhere.update(&AppPreferences::logDays, int64_t{90});
    model->reread();
    EXPECT_EQ(model->draft().logDays, 90);
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::reread);
    model->reread();
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::rereadSame);
}

TEST_F(SettingsScreenModelTest, AnExportIntoAFolderTheUserCannotWriteSaysSo) {
    // Root passes every permission check, so the user is nobody here, in a
    // tree that user owns.
    const fs::path home = tmp / "nobody";
    fs::create_directories(home);
    fs::permissions(tmp.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    ASSERT_EQ(::chown(home.c_str(), 65534, 65534), 0);
    EXPECT_EQ(test::runBounded(20, [&] {
                  const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
                  test::require(dropped, "drop to nobody");
                  SettingsStore own(home / "state");
                  OutputAccess ownAccess(AppRuntime{home / "storage", home / "outputs"});
                  SettingsFlow ownFlow;
                  test::FakeConfirmation ownConfirmation;
                  FakePanels ownPanels;
                  SettingsScreenModel unprivileged(
                      {own, ownFlow, ownAccess, ownConfirmation, ownPanels, clearRealHistory});
                  const fs::path readOnly = home / "read-only";
                  fs::create_directory(readOnly);
                  fs::permissions(readOnly, fs::perms::owner_read | fs::perms::owner_exec);
                  ownPanels.exportAnswer = readOnly / "ベルモラ_Settings.velmorasettings";
                  test::runTask(unprivileged.exportSettings());
                  test::require(unprivileged.message() == SettingsScreenModel::Sentences::exportFailed,
                                "message: " + unprivileged.message());
                  test::require(test::listNames(readOnly).empty(), "nothing written");
              }),
              0);
}

TEST_F(SettingsScreenModelTest, AResetKeepsTheOldFileOnlyAfterExecute) {
    // A file the store cannot understand makes it read-only.
    test::writeFile(settingsRoot / "preferences.json", "{ not json");
    model->refresh();
    ASSERT_TRUE(store.readOnly());
    model->apply();
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::applyRefused);
    EXPECT_EQ(storedBytes(), "{ not json");

    confirmation.answer = false;
    test::runTask(model->resetSettings());
    ASSERT_EQ(confirmation.requests.size(), 1u);
    EXPECT_EQ(confirmation.requests[0].message, "設定を初期値に戻しますか？");
    EXPECT_EQ(confirmation.requests[0].informativeText,
              "履歴・辞書・Cookie・タブ復元・原稿・成果物・キューは削除しません。");
    EXPECT_EQ(confirmation.requests[0].cancelLabel, "取消");
    EXPECT_EQ(confirmation.requests[0].confirmLabel, "初期値に戻す");
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::applyRefused);
    EXPECT_EQ(storedBytes(), "{ not json");
    EXPECT_FALSE(fs::exists(settingsRoot / "preserved-settings.json"));

    confirmation.answer = true;
    test::runTask(model->resetSettings());
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::reset);
    EXPECT_EQ(test::readFile(settingsRoot / "preserved-settings.json"), "{ not json");
    EXPECT_FALSE(store.readOnly());
    EXPECT_EQ(model->draft(), AppPreferences{});
    EXPECT_EQ(model->expected(), AppPreferences{});

    // A file of a newer version is never reset.
    test::writeFile(settingsRoot / "preferences.json", "{\"schemaVersion\" : 7}");
    test::runTask(model->resetSettings());
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::resetFailed);
    EXPECT_EQ(storedBytes(), "{\"schemaVersion\" : 7}");
}

TEST_F(SettingsScreenModelTest, AnImportIsAppliedAgainstThePreferencesOfItsReadAndClosesEitherWay) {
    model->refresh();
    // A file made elsewhere, with a key this version does not know.
    SettingsStore source(tmp / "source");
    source.update(&AppPreferences::logDays, int64_t{180});
    const fs::path exported = source.exportSettings(tmp / "files", "from-elsewhere");
    Json envelope = Json::parse(test::readFile(exported));
    envelope["futureOption"] = true;
    const auto bytes = JSON::bytes(envelope);
    test::writeFile(exported, std::string(bytes.begin(), bytes.end()));

    panels.importAnswer = std::nullopt;
    test::runTask(model->importSettings());
    ASSERT_EQ(panels.importExtensions.size(), 1u);
    EXPECT_EQ(panels.importExtensions[0], (std::vector<std::string>{"brindlexsettings", "velmorasettings"}));
    EXPECT_FALSE(flow.incoming.get());
    EXPECT_EQ(shown, 0);

    panels.importAnswer = exported;
    test::runTask(model->importSettings());
    ASSERT_TRUE(flow.incoming.get());
    EXPECT_TRUE(flow.unknownKeys.get());
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(SettingsScreenModel::importVersionLine(*flow.incoming.get()),
              "形式 1・作成版 " + flow.incoming.get()->appVersion);

    // Changed between the read and "読み込む": refused, the sheet's request
    // gone, the screen's own line and values untouched.
    elsewhere.update(&AppPreferences::lazyLoad, false);
    const std::string before = storedBytes();
    model->confirmImport();
    EXPECT_FALSE(flow.incoming.get());
    EXPECT_EQ(flow.message.get(), SettingsScreenModel::Sentences::importRefused);
    EXPECT_EQ(model->message(), "");
    EXPECT_EQ(storedBytes(), before);
    EXPECT_TRUE(model->draft().lazyLoad);

    // Cancelled, then the same file read again: asked again.
    test::runTask(model->importSettings());
    ASSERT_TRUE(flow.incoming.get());
    model->cancelImport();
    EXPECT_FALSE(flow.incoming.get());
    EXPECT_EQ(storedBytes(), before);
    // Another process changes the file again and nothing here reads it
    // back: the file read now is checked against the stored file as it is
    // at the read, not against the copy in memory nor this screen's older
    // one.
    elsewhere.update(&AppPreferences::rightPanelPreferredWidth, 400.0);
    test::runTask(model->importSettings());
    EXPECT_EQ(flow.expected.rightPanelPreferredWidth, 400);
    ASSERT_TRUE(flow.incoming.get());
    EXPECT_NE(flow.expected, model->expected());
    model->confirmImport();
    EXPECT_FALSE(flow.incoming.get());
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::imported);
    EXPECT_EQ(flow.message.get(), SettingsScreenModel::Sentences::importRefused);
    EXPECT_EQ(store.value().logDays, 180);
    EXPECT_EQ(store.value().rightPanelPreferredWidth, 400);
    EXPECT_EQ(model->draft(), store.value());
    EXPECT_EQ(model->expected(), store.value());
}

TEST_F(SettingsScreenModelTest, AWizardThatWroteTheStoreMakesTheScreenRereadAndSaySoAndACancelledOneDoesNot) {
    model->refresh();
    edit([](AppPreferences& p) { p.product.paper = "A3"; });
    model->openWizard();
    EXPECT_TRUE(flow.wizard.get());
    {
        WizardModel wizard(store);
        wizard.start();
        flow.wizard = false;  // "取消"
    }
    EXPECT_EQ(model->draft().product.paper, "A3");
    EXPECT_EQ(model->message(), "");

    model->openWizard();
    WizardModel wizard(store);
    wizard.start();
    AppPreferences draft = wizard.draft();
    draft.logDays = 360;
    wizard.form().setDraft(draft);
    while (wizard.step() != WizardModel::summaryStep) wizard.next();
    ASSERT_TRUE(wizard.apply());
    flow.wizardApplied = true;  // as the wizard's "適用" marks it
    flow.wizard = false;
    EXPECT_EQ(model->draft().product.paper, "A4");
    EXPECT_EQ(model->draft().logDays, 360);
    EXPECT_EQ(model->expected(), store.value());
    EXPECT_EQ(model->message(), SettingsScreenModel::Sentences::applied);
}
