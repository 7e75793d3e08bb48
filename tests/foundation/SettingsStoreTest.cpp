#include <gtest/gtest.h>

#include "foundation/AppPreferences.hpp"
#include "foundation/BrindlexError.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/StateLease.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;
using Notices = SettingsStore::Notices;

namespace {

AppPreferences::Read readText(const std::string& text) {
    return AppPreferences::decode(std::vector<uint8_t>(text.begin(), text.end()));
}

Json defaultsJson() { return Json(AppPreferences{}); }

AppPreferences::Read readJson(const Json& j) { return readText(JSON::print(j)); }

}  // namespace

TEST(AppPreferences, DefaultsRoundTripWithoutPartial) {
    auto r = readJson(defaultsJson());
    EXPECT_FALSE(r.partial);
    EXPECT_EQ(r.value, AppPreferences{});
    EXPECT_FALSE(defaultsJson().contains("destinationID"));
    EXPECT_FALSE(defaultsJson().contains("restoreEpoch"));
    AppPreferences full;
    full.destinationID = UUID::random();
    full.restoreTabs = true;
    full.restoreEpoch = UUID::random();
    full.panel = AppPreferences::Panel::bottom;
    full.product.ocrMode = OCRMode::vertical;
    EXPECT_EQ(readJson(Json(full)).value, full);
    EXPECT_EQ(JSON::decode<AppPreferences>(Json(full)), full);
}

TEST(AppPreferences, SchemaVersionAndTopLevelFailTheRead) {
    EXPECT_EQ(caseOf([] { readText("[1]"); }), ErrorCase::invalidInput);
    EXPECT_THROW(readText("{"), JSON::DecodeError);
    for (const char* bad : {"{\"schemaVersion\" : 2, \"panel\" : \"right\"}", "{\"schemaVersion\" : \"1\"}", "{}",
                            "{\"schemaVersion\" : true}", "{\"schemaVersion\" : 1e300}"}) {
        EXPECT_EQ(caseOf([&] { readText(bad); }), ErrorCase::settingsChanged) << bad;
    }
    auto r = readText("{\"schemaVersion\" : 1.0}");
    EXPECT_TRUE(r.partial);
    EXPECT_EQ(r.value, AppPreferences{});
}

TEST(AppPreferences, EachKeyFallsBackOnItsOwn) {
    auto with = [](const char* key, Json v) {
        Json j = defaultsJson();
        j[key] = std::move(v);
        return readJson(j);
    };
    auto r = with("mobileWidth", 400);
    EXPECT_EQ(r.value.mobileWidth, 430);
    EXPECT_TRUE(r.partial);
    r = with("mobileWidth", 390.0);
    EXPECT_EQ(r.value.mobileWidth, 390);
    EXPECT_FALSE(r.partial);
    EXPECT_TRUE(with("mobileWidth", 1e300).partial);
    EXPECT_TRUE(with("mobileWidth", "390").partial);
    EXPECT_FALSE(with("historyDays", 0).partial);
    r = with("logDays", 0);
    EXPECT_EQ(r.value.logDays, 30);
    EXPECT_TRUE(r.partial);
    r = with("lazyLoad", 1);
    EXPECT_TRUE(r.value.lazyLoad);
    EXPECT_TRUE(r.partial);
    r = with("destinationID", "not-a-uuid");
    EXPECT_FALSE(r.value.destinationID);
    EXPECT_TRUE(r.partial);
    r = with("destinationID", 5);
    EXPECT_FALSE(r.value.destinationID);
    EXPECT_FALSE(r.partial);
    r = with("rightPanelPreferredWidth", 0.5);
    EXPECT_EQ(r.value.rightPanelPreferredWidth, 320);
    EXPECT_TRUE(r.partial);
    EXPECT_TRUE(with("rightPanelPreferredWidth", 100000.5).partial);
    EXPECT_TRUE(with("rightPanelPreferredWidth", true).partial);
    EXPECT_EQ(with("rightPanelPreferredWidth", 1).value.rightPanelPreferredWidth, 1);
    EXPECT_EQ(with("bottomPanelPreferredHeight", 100000).value.bottomPanelPreferredHeight, 100000);
    r = with("restoreTabs", true);
    EXPECT_FALSE(r.value.restoreTabs);
    EXPECT_TRUE(r.partial);
    Json paired = defaultsJson();
    paired["restoreTabs"] = true;
    paired["restoreEpoch"] = UUID::random().text();
    r = readJson(paired);
    EXPECT_TRUE(r.value.restoreTabs);
    EXPECT_FALSE(r.partial);
    EXPECT_FALSE(with("unknownKey", 1).partial);

    Json noSize = defaultsJson();
    noSize.erase("ocrPreviewPreferredWidth");
    noSize.erase("product");
    noSize.erase("restoreTabs");
    EXPECT_FALSE(readJson(noSize).partial);
    Json noPanel = defaultsJson();
    noPanel.erase("panel");
    EXPECT_TRUE(readJson(noPanel).partial);
}

TEST(AppPreferences, ProductBlockHasNoFallback) {
    Json j = defaultsJson();
    j["product"].erase("paper");
    EXPECT_THROW(readJson(j), JSON::DecodeError);
    j = defaultsJson();
    j["product"]["paper"] = "B4";
    EXPECT_EQ(caseOf([&] { readJson(j); }), ErrorCase::invalidInput);
    for (Json v : {Json("text"), Json(3), Json(nullptr), Json(true), Json::array()}) {
        j = defaultsJson();
        j["product"] = v;
        EXPECT_THROW(readJson(j), JSON::DecodeError);
    }
}

class Store : public ::testing::Test {
protected:
    test::TempDir tmp;
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    fs::path root() const { return tmp / "storage/settings"; }
    fs::path file() const { return root() / "preferences.json"; }
    void writeRaw(const std::string& text) {
        fs::create_directories(root());
        test::writeFile(file(), text);
    }
};

TEST_F(Store, FirstLaunchCreatesNothingUntilTheFirstChange) {
    SettingsStore store(root());
    EXPECT_EQ(store.value(), AppPreferences{});
    EXPECT_EQ(store.notice(), Notices::ready);
    EXPECT_FALSE(store.readOnly());
    EXPECT_FALSE(fs::exists(root()));
    int valueSignals = 0, noticeSignals = 0;
    store.valueChanged().connect([&](const AppPreferences&) { ++valueSignals; });
    store.noticeChanged().connect([&](const std::string&) { ++noticeSignals; });
    store.update(&AppPreferences::mobileWidth, int64_t{390});
    EXPECT_EQ(valueSignals, 1);
    EXPECT_EQ(noticeSignals, 1);
    EXPECT_EQ(store.value().mobileWidth, 390);
    EXPECT_EQ(store.notice(), Notices::saved);
    EXPECT_EQ(readText(test::readFile(file())).value.mobileWidth, 390);
    EXPECT_EQ(SettingsStore(root()).value().mobileWidth, 390);
}

TEST_F(Store, OutOfSetChangeWritesNothing) {
    SettingsStore store(root());
    store.update(&AppPreferences::logDays, int64_t{90});
    const std::string before = test::readFile(file());
    EXPECT_EQ(caseOf([&] { store.change([](AppPreferences& p) { p.mobileWidth = 400; }); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { store.change([](AppPreferences& p) { p.product.captureScale = 3; }); }),
              ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { store.change([](AppPreferences& p) { p.restoreTabs = true; }); }),
              ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { store.change([](AppPreferences& p) { p.rightPanelPreferredWidth = 0; }); }),
              ErrorCase::invalidInput);
    EXPECT_EQ(test::readFile(file()), before);
    EXPECT_EQ(store.value().logDays, 90);
}

TEST_F(Store, AFileThatTurnsUnreadableOnReReadShowsTheDefaultsItAnnounces) {
    SettingsStore store(root());
    store.update(&AppPreferences::logDays, int64_t{90});
    ASSERT_EQ(store.value().logDays, 90);
    writeRaw("{\"schemaVersion\" : 1, \"logDays\" : ");
    store.reload();
    EXPECT_TRUE(store.readOnly());
    EXPECT_EQ(store.notice(), Notices::unreadable);
    EXPECT_EQ(store.value(), AppPreferences{});
}

TEST_F(Store, NewerFileIsReadOnlyAndNeverReset) {
    writeRaw("{\n  \"schemaVersion\" : 2,\n  \"mobileWidth\" : 375\n}");
    const std::string before = test::readFile(file());
    SettingsStore store(root());
    EXPECT_TRUE(store.readOnly());
    EXPECT_EQ(store.notice(), Notices::unreadable);
    EXPECT_EQ(store.value(), AppPreferences{});
    store.update(&AppPreferences::lazyLoad, false);
    EXPECT_EQ(store.notice(), Notices::cannotSave);
    EXPECT_EQ(caseOf([&] { store.change([](AppPreferences&) {}); }), ErrorCase::settingsChanged);
    EXPECT_EQ(caseOf([&] { store.resetConfirmed(); }), ErrorCase::settingsChanged);
    EXPECT_EQ(test::readFile(file()), before);
    EXPECT_FALSE(fs::exists(root() / "preserved-settings.json"));
    // Any finite version of 2 or more counts as newer.
    writeRaw("{\"schemaVersion\" : 2.5, \"panel\" : 3}");
    EXPECT_EQ(caseOf([&] { store.resetConfirmed(); }), ErrorCase::settingsChanged);
    writeRaw("{\"schemaVersion\" : 7.5}");
    EXPECT_EQ(caseOf([&] { store.resetConfirmed(); }), ErrorCase::settingsChanged);
}

TEST_F(Store, DamagedFileIsPreservedThenReset) {
    writeRaw("{ not json");
    SettingsStore store(root());
    EXPECT_TRUE(store.readOnly());
    store.resetConfirmed();
    EXPECT_FALSE(store.readOnly());
    EXPECT_EQ(store.notice(), Notices::ready);
    EXPECT_EQ(test::readFile(root() / "preserved-settings.json"), "{ not json");
    EXPECT_EQ(readText(test::readFile(file())).value, AppPreferences{});
    // A second damaged file gets a numbered copy; the first stays.
    writeRaw("[\"also damaged\"]");
    store.reload();
    EXPECT_TRUE(store.readOnly());
    store.resetConfirmed();
    EXPECT_EQ(test::readFile(root() / "preserved-settings.json"), "{ not json");
    EXPECT_EQ(test::readFile(root() / "preserved-settings-1.json"), "[\"also damaged\"]");
}

TEST_F(Store, PartialReadIsHealedByTheNextChange) {
    Json j = Json(AppPreferences{});
    j["mobileWidth"] = 375;
    j["logDays"] = 7;
    writeRaw(JSON::print(j));
    SettingsStore store(root());
    EXPECT_FALSE(store.readOnly());
    EXPECT_EQ(store.notice(), Notices::partial);
    EXPECT_EQ(store.value().mobileWidth, 375);
    EXPECT_EQ(store.value().logDays, 30);
    store.update(&AppPreferences::automaticOCR, false);
    auto r = readText(test::readFile(file()));
    EXPECT_FALSE(r.partial);
    EXPECT_EQ(r.value.logDays, 30);
    EXPECT_EQ(r.value.mobileWidth, 375);
    EXPECT_FALSE(r.value.automaticOCR);
}

TEST_F(Store, ResetKeepsTheTabRestorationChoice) {
    SettingsStore store(root());
    const UUID epoch = UUID::random();
    store.change([&](AppPreferences& p) {
        p.restoreTabs = true;
        p.restoreEpoch = epoch;
        p.mobileWidth = 375;
        p.product.datedFolders = true;
    });
    store.resetConfirmed();
    AppPreferences expected;
    expected.restoreTabs = true;
    expected.restoreEpoch = epoch;
    EXPECT_EQ(store.value(), expected);
    EXPECT_EQ(readText(test::readFile(file())).value, expected);
    EXPECT_EQ(store.notice(), Notices::saved);
}

TEST_F(Store, ChangesApplyToWhatIsOnDisk) {
    SettingsStore a(root()), b(root());
    a.update(&AppPreferences::mobileWidth, int64_t{375});
    b.update(&AppPreferences::logDays, int64_t{180});
    auto r = readText(test::readFile(file())).value;
    EXPECT_EQ(r.mobileWidth, 375);
    EXPECT_EQ(r.logDays, 180);
}

TEST_F(Store, LeaseHeldElsewhereMeansNothingIsSaved) {
    SettingsStore store(root());
    store.update(&AppPreferences::logDays, int64_t{90});
    const std::string before = test::readFile(file());
    test::HeldChild child([&] {
        static std::optional<StateLease> held;
        held.emplace(SecureDirectory(root(), false), "preferences-lock", true);
    });
    ASSERT_TRUE(child.setupSucceeded());
    store.update(&AppPreferences::logDays, int64_t{360});
    EXPECT_EQ(store.notice(), Notices::cannotSave);
    EXPECT_EQ(store.value().logDays, 90);
    EXPECT_EQ(test::readFile(file()), before);
    EXPECT_EQ(caseOf([&] { store.change([](AppPreferences&) {}); }), ErrorCase::navigationBusy);
}
