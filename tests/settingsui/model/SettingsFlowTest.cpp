#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/ProductBrand.hpp"
#include "foundation/SettingsStore.hpp"
#include "settingsui/SettingsFlow.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

// A flow of its own over a real store, counting how often it brought the
// settings forward.
class SettingsFlowTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    // The settings files these tests make are staged in the storage's work
    // folder.
    AppRuntime::ScopedOverride roots{AppRuntime{tmp / "storage", tmp / "outputs"}};
    SettingsStore store{tmp / "state"};
    SettingsFlow flow;
    int shown = 0;

    SettingsFlowTest() {
        flow.storedPreferences = SettingsFlow::storedIn(store);
        flow.showSettings = [this] { ++shown; };
    }

    // A settings file as the export writes it, of the stored preferences
    // with the paper set to `paper`.
    fs::path exported(const std::string& stem, const std::string& paper) {
        SettingsStore other(tmp / ("for-" + stem));
        other.update(&AppPreferences::product, [&] {
            ProductDefaults d;
            d.paper = paper;
            return d;
        }());
        return other.exportSettings(tmp / "files", stem);
    }

    fs::path written(const std::string& name, const Json& envelope) {
        const fs::path path = tmp / "files" / name;
        fs::create_directories(path.parent_path());
        const auto bytes = JSON::bytes(envelope);
        test::writeFile(path, std::string(bytes.begin(), bytes.end()));
        return path;
    }

    Json envelopeOf(const fs::path& file) {
        const std::string text = test::readFile(file);
        return Json::parse(text);
    }
};

}  // namespace

TEST_F(SettingsFlowTest, AValidFileIsHeldWithTheStoredPreferencesAsItsBaseline) {
    store.update(&AppPreferences::mobileWidth, int64_t{390});
    Json withExtra = envelopeOf(exported("a", "A3"));
    withExtra["futureOption"] = true;
    const fs::path file = written("extra.velmorasettings", withExtra);

    // An observer of the import finds the baseline and the warning in place.
    std::optional<bool> extraSeenWithIncoming;
    std::optional<AppPreferences> expectedSeenWithIncoming;
    flow.changed.connect([&] {
        if (flow.incoming.get() && !extraSeenWithIncoming) {
            extraSeenWithIncoming = flow.unknownKeys.get();
            expectedSeenWithIncoming = flow.expected;
        }
    });
    flow.read(file);
    ASSERT_TRUE(flow.incoming.get());
    EXPECT_EQ(flow.incoming.get()->settings.product.paper, "A3");
    EXPECT_TRUE(flow.unknownKeys.get());
    EXPECT_EQ(flow.expected, store.value());
    EXPECT_EQ(flow.expected.mobileWidth, 390);
    EXPECT_EQ(extraSeenWithIncoming, true);
    EXPECT_EQ(expectedSeenWithIncoming, store.value());
    EXPECT_EQ(flow.message.get(), "");
    EXPECT_EQ(shown, 1);

    // A second file replaces the pending one and takes the new baseline.
    store.update(&AppPreferences::logDays, int64_t{180});
    flow.read(exported("b", "Letter"));
    EXPECT_EQ(flow.incoming.get()->settings.product.paper, "Letter");
    EXPECT_FALSE(flow.unknownKeys.get());
    EXPECT_EQ(flow.expected.logDays, 180);
    EXPECT_EQ(shown, 2);
}

TEST_F(SettingsFlowTest, EveryFailureHasOneSentenceAndKeepsThePendingImport) {
    const fs::path good = exported("good", "JIS B5");
    flow.read(good);
    ASSERT_TRUE(flow.incoming.get());
    const AppPreferences baseline = flow.expected;
    store.update(&AppPreferences::historyDays, int64_t{90});

    // The right content under a name the brand does not accept.
    const fs::path json = tmp / "files" / "settings.json";
    fs::copy_file(good, json);
    // One byte over the limit, otherwise well formed.
    std::string big = test::readFile(good);
    big.resize(131073, ' ');
    const fs::path large = tmp / "files" / "large.velmorasettings";
    test::writeFile(large, big);
    // A value outside its set.
    Json outside = envelopeOf(good);
    outside["settings"]["mobileWidth"] = 414;
    const fs::path invalid = written("width.velmorasettings", outside);
    // A FIFO with nobody writing: the read must not wait for a writer.
    const fs::path fifo = tmp / "files" / "x.velmorasettings";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

    int expectedShown = shown;
    for (const fs::path& bad : {json, large, invalid, fifo, tmp / "files" / "missing.velmorasettings"}) {
        flow.message = "";
        if (bad == fifo) {
            // In a child under an alarm, so a blocking open fails the test
            // instead of hanging it.
            const int status = test::runInChild([&] {
                ::alarm(10);
                flow.read(bad);
                if (flow.message.get() != SettingsFlow::readFailure) throw std::runtime_error("no sentence");
            });
            ASSERT_EQ(status, 0) << "the read of a FIFO waited or did not fail";
        }
        flow.read(bad);
        EXPECT_EQ(flow.message.get(), SettingsFlow::readFailure) << bad;
        EXPECT_EQ(shown, ++expectedShown) << bad;
        ASSERT_TRUE(flow.incoming.get()) << bad;
        EXPECT_EQ(flow.incoming.get()->settings.product.paper, "JIS B5") << bad;
        EXPECT_EQ(flow.expected, baseline) << bad;
    }

    // A valid file after a failure leaves the sentence where it was.
    flow.read(exported("later", "A4"));
    EXPECT_EQ(flow.message.get(), SettingsFlow::readFailure);
    EXPECT_EQ(flow.incoming.get()->settings.product.paper, "A4");
    EXPECT_EQ(flow.expected.historyDays, 90);
}

TEST_F(SettingsFlowTest, TheBrandsExtensionsAreReadInAnyCase) {
    const fs::path good = exported("good", "A3");
    for (const std::string name : {"UPPER.VELMORASETTINGS", "older.brindlexsettings"}) {
        flow.incoming = std::nullopt;
        const fs::path file = tmp / "files" / name;
        fs::copy_file(good, file);
        flow.read(file);
        ASSERT_TRUE(flow.incoming.get()) << name;
        EXPECT_EQ(flow.incoming.get()->settings.product.paper, "A3");
    }
    EXPECT_EQ(flow.message.get(), "");
}

TEST(SettingsFlowShared, OneInstanceWithTheInitialValues) {
    SettingsFlow& flow = SettingsFlow::shared();
    EXPECT_EQ(&flow, &SettingsFlow::shared());
    EXPECT_FALSE(flow.wizard.get());
    EXPECT_FALSE(flow.incoming.get());
    EXPECT_FALSE(flow.unknownKeys.get());
    EXPECT_EQ(flow.message.get(), "");
    EXPECT_EQ(flow.expected, AppPreferences{});
}
