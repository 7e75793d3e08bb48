#include <gtest/gtest.h>

#include "foundation/PortableSettings.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/UUID.hpp"
#include "settingsui/WizardModel.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

// A store whose fields outside the portable part are not the defaults, so
// an apply that touched them would show.
class WizardModelTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    SettingsStore store{tmp / "state"};
    WizardModel wizard{store};

    WizardModelTest() {
        store.change([](AppPreferences& p) {
            p.rightPanelPreferredWidth = 401;
            p.bottomPanelPreferredHeight = 250;
            p.ocrPreviewPreferredWidth = 380;
            p.destinationID = UUID::random();
            p.restoreTabs = true;
            p.restoreEpoch = UUID::random();
        });
    }

    std::string storedBytes() { return test::readFile(tmp / "state" / "preferences.json"); }

    void walkToSummary() {
        for (int i = 0; i < 5; ++i) wizard.next();
    }
};

}  // namespace

// The walk through the steps is driven through the real window in
// SetupWizardTest; here what the window cannot show.
TEST_F(WizardModelTest, EachStartTakesTheStoredRecordWithoutAReload) {
    // Another writer's change is not read when the wizard comes on screen.
    const AppPreferences inMemory = store.value();
    SettingsStore other(tmp / "state");
    other.update(&AppPreferences::logDays, int64_t{360});
    wizard.start();
    EXPECT_EQ(wizard.draft(), inMemory);
    EXPECT_EQ(wizard.expected(), inMemory);

    // Back stops at the first step, next at the summary, which shows no
    // section of the form.
    wizard.back();
    EXPECT_EQ(wizard.stepLine(), "1/6  保存");
    for (int i = 0; i < 7; ++i) wizard.next();
    EXPECT_EQ(wizard.stepLine(), "6/6  確認");
    EXPECT_TRUE(wizard.form().sections().empty());

    // A new presentation starts afresh.
    wizard.setDetailed(true);
    wizard.form().choose("product.paper", 3);
    wizard.start();
    EXPECT_EQ(wizard.step(), 0);
    EXPECT_FALSE(wizard.detailed());
    EXPECT_EQ(wizard.draft(), inMemory);
    ASSERT_EQ(wizard.form().sections().size(), 1u);
    EXPECT_EQ(wizard.form().sections()[0].rows.size(), 3u);
}

TEST_F(WizardModelTest, ApplyWritesOnlyThePortablePartAgainstTheBaseline) {
    const AppPreferences before = store.value();
    wizard.start();
    wizard.form().choose("product.printOutput", 0);
    wizard.form().choose("historyDays", 3);
    // The draft's own machine fields are never applied.
    AppPreferences draft = wizard.draft();
    draft.rightPanelPreferredWidth = 999;
    draft.destinationID.reset();
    draft.restoreTabs = false;
    draft.restoreEpoch.reset();
    wizard.form().setDraft(draft);

    EXPECT_FALSE(wizard.apply()) << "only the summary step applies";
    EXPECT_EQ(store.value(), before);
    walkToSummary();
    ASSERT_TRUE(wizard.apply());
    EXPECT_EQ(wizard.message(), "");
    SettingsStore reread(tmp / "state");
    for (const AppPreferences& stored : {store.value(), reread.value()}) {
        EXPECT_EQ(stored.product.printOutput, "pdf");
        EXPECT_EQ(stored.historyDays, 365);
        EXPECT_EQ(stored.rightPanelPreferredWidth, before.rightPanelPreferredWidth);
        EXPECT_EQ(stored.bottomPanelPreferredHeight, before.bottomPanelPreferredHeight);
        EXPECT_EQ(stored.ocrPreviewPreferredWidth, before.ocrPreviewPreferredWidth);
        EXPECT_EQ(stored.destinationID, before.destinationID);
        EXPECT_EQ(stored.restoreTabs, before.restoreTabs);
        EXPECT_EQ(stored.restoreEpoch, before.restoreEpoch);
    }
}

TEST_F(WizardModelTest, ARefusedApplyWritesNothingAndStaysOnTheSummary) {
    // Changed elsewhere after the wizard came on screen.
    wizard.start();
    wizard.form().choose("product.paper", 1);
    store.update(&AppPreferences::mobileWidth, int64_t{375});
    const std::string bytes = storedBytes();
    walkToSummary();
    EXPECT_FALSE(wizard.apply());
    EXPECT_EQ(wizard.message(), WizardModel::applyFailure);
    EXPECT_EQ(wizard.step(), 5);
    EXPECT_EQ(wizard.draft().product.paper, "A3");
    EXPECT_EQ(storedBytes(), bytes);

    // A draft value outside its set, with nothing changed elsewhere.
    for (auto spoil : std::vector<std::function<void(AppPreferences&)>>{
             [](AppPreferences& p) { p.mobileWidth = 414; },
             [](AppPreferences& p) { p.product.paper = "B4"; },
             [](AppPreferences& p) { p.logDays = 7; },
         }) {
        wizard.start();
        AppPreferences draft = wizard.draft();
        spoil(draft);
        wizard.form().setDraft(draft);
        walkToSummary();
        EXPECT_FALSE(wizard.apply());
        EXPECT_EQ(wizard.message(), WizardModel::applyFailure);
        EXPECT_EQ(storedBytes(), bytes);
    }
}
