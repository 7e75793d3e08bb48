#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/PortableSettings.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/SettingsTransfer.hpp"
#include "support/Bounded.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;

namespace {

Json envelope() {
    SettingsTransfer t;
    t.exportedAt = Date{} + std::chrono::seconds(1780000000);
    return Json(t);
}

std::vector<uint8_t> bytesOf(const Json& j) { return JSON::bytes(j); }

SettingsTransfer::Parsed parseJson(const Json& j) { return SettingsTransfer::parse(bytesOf(j)); }

// The envelope padded with trailing spaces to exactly `size` bytes.
std::vector<uint8_t> padded(std::size_t size) {
    std::vector<uint8_t> b = bytesOf(envelope());
    b.resize(size, ' ');
    return b;
}

std::string repeated(const std::string& unit, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += unit;
    return out;
}

void writeBytes(const fs::path& p, const std::vector<uint8_t>& b) {
    test::writeFile(p, std::string(b.begin(), b.end()));
}

}  // namespace

TEST(SettingsTransfer, TheSizeLimitComesBeforeParsing) {
    EXPECT_NO_THROW(SettingsTransfer::parse(padded(SettingsTransfer::maximumBytes)));
    EXPECT_EQ(caseOf([] { SettingsTransfer::parse(padded(SettingsTransfer::maximumBytes + 1)); }),
              ErrorCase::invalidInput);
    // Not even JSON: the length alone refuses it.
    EXPECT_EQ(caseOf([] { SettingsTransfer::parse(std::vector<uint8_t>(SettingsTransfer::maximumBytes + 1, '{')); }),
              ErrorCase::invalidInput);

    test::TempDir tmp;
    const fs::path exact = tmp / "exact.velmorasettings";
    const fs::path over = tmp / "over.velmorasettings";
    writeBytes(exact, padded(SettingsTransfer::maximumBytes));
    writeBytes(over, padded(SettingsTransfer::maximumBytes + 1));
    EXPECT_NO_THROW(SettingsTransfer::read(exact));
    EXPECT_EQ(caseOf([&] { SettingsTransfer::read(over); }), ErrorCase::invalidInput);
}

TEST(SettingsTransfer, AFileThatGrowsAfterTheSizeCheckIsNeverReadWhole) {
    test::TempDir tmp;
    const fs::path file = tmp / "grows.velmorasettings";
    writeBytes(file, padded(1000));
    // Grown to 64 GiB (sparse) between the check and the read: reading it
    // whole would take the memory or the time of 64 GiB.
    EXPECT_EQ(test::runBounded(10, [&] {
                  ErrorCase c = ErrorCase::cancelled;
                  try {
                      SettingsTransfer::read(file, ProductBrand::current(),
                                             [&] { fs::resize_file(file, uintmax_t{64} << 30); });
                  } catch (const BrindlexError& e) {
                      c = e.errorCase();
                  }
                  test::require(c == ErrorCase::invalidInput, "a grown file is invalidInput");
              }),
              0);
}

TEST(SettingsTransfer, TheEnvelopeIsCheckedStepByStep) {
    EXPECT_EQ(caseOf([] { parseJson(Json::array({envelope()})); }), ErrorCase::invalidInput);
    for (const char* key : {"appVersion", "exportedAt", "schemaVersion", "settings"}) {
        Json j = envelope();
        j.erase(key);
        EXPECT_EQ(caseOf([&] { parseJson(j); }), ErrorCase::invalidInput) << key;
    }
    EXPECT_THROW(SettingsTransfer::parse({'{', '"'}), JSON::DecodeError);

    // Shape errors are the decoder's.
    Json missingNested = envelope();
    missingNested["settings"]["product"].erase("paper");
    EXPECT_THROW(parseJson(missingNested), JSON::DecodeError);
    Json badEnum = envelope();
    badEnum["settings"]["panel"] = "left";
    EXPECT_THROW(parseJson(badEnum), JSON::DecodeError);
    Json fractional = envelope();
    fractional["exportedAt"] = "2026-05-01T09:30:00.5Z";
    EXPECT_THROW(parseJson(fractional), JSON::DecodeError);
    Json huge = envelope();
    huge["schemaVersion"] = 1e300;
    EXPECT_THROW(parseJson(huge), JSON::DecodeError);

    // Another version of the format or of the application.
    Json v2 = envelope();
    v2["schemaVersion"] = 2;
    EXPECT_EQ(caseOf([&] { parseJson(v2); }), ErrorCase::settingsChanged);
    Json version = envelope();
    // Each "e" with its combining accent is one character of two scalars.
    version["appVersion"] = repeated("e\u0301", 120);
    EXPECT_EQ(parseJson(version).transfer.appVersion, repeated("e\u0301", 120));
    version["appVersion"] = repeated("e\u0301", 121);
    EXPECT_EQ(caseOf([&] { parseJson(version); }), ErrorCase::settingsChanged);
    // The version outranks a value outside its set.
    version["settings"]["mobileWidth"] = 414;
    EXPECT_EQ(caseOf([&] { parseJson(version); }), ErrorCase::settingsChanged);

    // Value sets.
    Json width = envelope();
    width["settings"]["mobileWidth"] = 414;
    EXPECT_EQ(caseOf([&] { parseJson(width); }), ErrorCase::invalidInput);
    Json paper = envelope();
    paper["settings"]["product"]["paper"] = "B4";
    EXPECT_EQ(caseOf([&] { parseJson(paper); }), ErrorCase::invalidInput);
    Json edges = envelope();
    edges["settings"]["historyDays"] = 0;
    edges["settings"]["logDays"] = 360;
    const auto parsed = parseJson(edges);
    EXPECT_EQ(parsed.transfer.settings.historyDays, 0);
    EXPECT_EQ(parsed.transfer.settings.logDays, 360);
    EXPECT_FALSE(parsed.extraKeys);
}

TEST(SettingsTransfer, KeysThisSystemDoesNotKnowSetTheFlag) {
    Json top = envelope();
    top["comment"] = "from the old laptop";
    Json inSettings = envelope();
    inSettings["settings"]["theme"] = "dark";
    Json inProduct = envelope();
    inProduct["settings"]["product"]["watermark"] = true;
    for (const Json& j : {top, inSettings, inProduct}) {
        const auto parsed = parseJson(j);
        EXPECT_TRUE(parsed.extraKeys) << j.dump();
        EXPECT_EQ(parsed.transfer, parseJson(envelope()).transfer);
    }
    // Arrays are not compared element by element.
    EXPECT_FALSE(parseJson(envelope()).extraKeys);
}

TEST(SettingsTransfer, ReadingChecksTheExtensionAndTheKindOfFile) {
    test::TempDir tmp;
    const std::vector<uint8_t> good = bytesOf(envelope());
    writeBytes(tmp / "Upper.VELMORASETTINGS", good);
    writeBytes(tmp / "older.brindlexsettings", good);
    writeBytes(tmp / "plain.json", good);
    writeBytes(tmp / "bare", good);
    EXPECT_NO_THROW(SettingsTransfer::read(tmp / "Upper.VELMORASETTINGS"));
    EXPECT_NO_THROW(SettingsTransfer::read(tmp / "older.brindlexsettings"));
    EXPECT_EQ(caseOf([&] { SettingsTransfer::read(tmp / "plain.json"); }), ErrorCase::invalidInput);
    EXPECT_EQ(caseOf([&] { SettingsTransfer::read(tmp / "bare"); }), ErrorCase::invalidInput);

    fs::create_directory(tmp / "folder.velmorasettings");
    EXPECT_EQ(caseOf([&] { SettingsTransfer::read(tmp / "folder.velmorasettings"); }), ErrorCase::invalidInput);
    fs::create_symlink(tmp / "Upper.VELMORASETTINGS", tmp / "link.velmorasettings");
    EXPECT_EQ(caseOf([&] { SettingsTransfer::read(tmp / "link.velmorasettings"); }), ErrorCase::damagedCheckpoint);
    EXPECT_THROW(SettingsTransfer::read(tmp / "missing.velmorasettings"), std::system_error);

    ASSERT_EQ(::mkfifo((tmp / "pipe.velmorasettings").c_str(), 0600), 0);
    EXPECT_EQ(test::runBounded(5, [&] {
                  ErrorCase c = ErrorCase::cancelled;
                  try {
                      SettingsTransfer::read(tmp / "pipe.velmorasettings");
                  } catch (const BrindlexError& e) {
                      c = e.errorCase();
                  }
                  test::require(c == ErrorCase::invalidInput, "a FIFO is invalidInput");
              }),
              0);
}

TEST(SettingsExport, ExportsNeverOverwriteAndReadBackClean) {
    test::TempDir tmp;
    // An export stages its file in the storage's work folder.
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "output"}};
    SettingsStore store(tmp / "settings");
    store.change([](AppPreferences& p) {
        p.historyDays = 90;
        p.product.ocrMode = OCRMode::vertical;
    });
    const fs::path out = tmp / "exports" / "new";
    const std::string stem = ProductBrand::current().settingsExportStem();
    const fs::path first = store.exportSettings(out, stem);
    const fs::path second = store.exportSettings(out, stem);
    EXPECT_EQ(first, out / "ベルモラ_Settings.velmorasettings");
    EXPECT_EQ(second, out / "ベルモラ_Settings_001.velmorasettings");
    EXPECT_EQ(test::listNames(out), (std::vector<std::string>{"ベルモラ_Settings.velmorasettings",
                                                             "ベルモラ_Settings_001.velmorasettings"}));
    const auto back = SettingsTransfer::read(first);
    EXPECT_FALSE(back.extraKeys);
    EXPECT_EQ(back.transfer.settings, PortableSettings(store.value()));
    EXPECT_EQ(back.transfer.appVersion, Phase0::version());
    EXPECT_EQ(back.transfer.schemaVersion, 1);
}

TEST(SettingsExport, ApplyingNeedsThePreferencesTheUserConfirmedAgainst) {
    test::TempDir tmp;
    const fs::path root = tmp / "settings";
    SettingsStore store(root);
    store.change([](AppPreferences& p) {
        p.destinationID = UUID::random();
        p.rightPanelPreferredWidth = 411;
        p.bottomPanelPreferredHeight = 222;
        p.ocrPreviewPreferredWidth = 333;
        p.restoreTabs = true;
        p.restoreEpoch = UUID::random();
    });
    const AppPreferences confirmed = store.value();
    PortableSettings incoming;
    incoming.panel = AppPreferences::Panel::bottom;
    incoming.historyDays = 365;
    incoming.product.paper = "Letter";

    // Another window changes the preferences after the confirmation.
    SettingsStore other(root);
    other.change([](AppPreferences& p) { p.lazyLoad = false; });
    const std::string before = test::readFile(root / "preferences.json");
    EXPECT_EQ(caseOf([&] { store.apply(incoming, confirmed); }), ErrorCase::settingsChanged);
    EXPECT_EQ(test::readFile(root / "preferences.json"), before);

    PortableSettings invalid = incoming;
    invalid.logDays = 60;
    EXPECT_EQ(caseOf([&] { store.apply(invalid, other.value()); }), ErrorCase::invalidInput);
    EXPECT_EQ(test::readFile(root / "preferences.json"), before);

    store.apply(incoming, other.value());
    AppPreferences expected = incoming.applying(other.value());
    EXPECT_EQ(store.value(), expected);
    EXPECT_EQ(SettingsStore(root).value(), expected);
    EXPECT_EQ(expected.destinationID, confirmed.destinationID);
    EXPECT_EQ(expected.rightPanelPreferredWidth, 411);
    EXPECT_EQ(expected.bottomPanelPreferredHeight, 222);
    EXPECT_EQ(expected.ocrPreviewPreferredWidth, 333);
    EXPECT_TRUE(expected.restoreTabs);
    EXPECT_EQ(expected.restoreEpoch, confirmed.restoreEpoch);
    EXPECT_EQ(expected.panel, AppPreferences::Panel::bottom);
    // The imported value replaces the one the other window stored.
    EXPECT_TRUE(store.value().lazyLoad);
}

TEST(PortableSettings, TheSummaryReadsLineByLine) {
    EXPECT_EQ(PortableSettings(AppPreferences{}).summary(),
              "保存：毎回確認・日付フォルダなし\n"
              "操作パネル：右\n"
              "Web：スマホ / 430px・標準\n"
              "印刷：A4 / PDF＋PNG・縦\n"
              "OCR：標準・自動調整\n"
              "手書き候補：含める\n"
              "TXT：結合TXT・手動保存\n"
              "履歴：無期限\n"
              "動作ログ：30日");
    AppPreferences ninety;
    ninety.historyDays = 90;
    const std::string s = PortableSettings(ninety).summary();
    EXPECT_TRUE(s.ends_with("\n履歴：90日\n動作ログ：30日")) << s;

    PortableSettings other;
    other.saveMode = AppPreferences::SaveMode::automatic;
    other.panel = AppPreferences::Panel::bottom;
    other.mobileWidth = 375;
    other.automaticOCR = false;
    other.historyDays = 365;
    other.logDays = 180;
    other.product.datedFolders = true;
    other.product.webMode = "current";
    other.product.captureScale = 2;
    other.product.paper = "JIS B5";
    other.product.printOutput = "png";
    other.product.landscape = true;
    other.product.ocrMode = OCRMode::handwriting;
    other.product.handwriting = false;
    other.product.combinedTXT = false;
    other.product.ocrAutoSave = true;
    EXPECT_EQ(other.summary(),
              "保存：自動・日付フォルダあり\n"
              "操作パネル：下\n"
              "Web：PC・高解像度\n"
              "印刷：JIS B5 / PNG・横\n"
              "OCR：手書き・校正指示・順番\n"
              "手書き候補：含めない\n"
              "TXT：ページ別TXT・自動保存\n"
              "履歴：365日\n"
              "動作ログ：180日");
}

TEST(PortableSettings, ApplyingChecksFirstAndKeepsWhatIsNotPortable) {
    AppPreferences base;
    base.destinationID = UUID::random();
    base.schemaVersion = 1;
    PortableSettings p(base);
    EXPECT_EQ(p.applying(base), base);
    for (auto set : std::vector<std::function<void(PortableSettings&)>>{
             [](PortableSettings& s) { s.mobileWidth = 414; }, [](PortableSettings& s) { s.historyDays = 7; },
             [](PortableSettings& s) { s.logDays = 0; }, [](PortableSettings& s) { s.product.margin = 3; }}) {
        PortableSettings bad = p;
        set(bad);
        EXPECT_EQ(caseOf([&] { bad.validate(); }), ErrorCase::invalidInput);
        EXPECT_EQ(caseOf([&] { bad.applying(base); }), ErrorCase::invalidInput);
    }
    const Json j = Json(p);
    EXPECT_EQ(j.size(), 8u);
    EXPECT_EQ(JSON::decode<PortableSettings>(j), p);
}
