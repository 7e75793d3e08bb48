#include <gtest/gtest.h>
#include <sys/stat.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/Digest.hpp"
#include "foundation/SafeEvent.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsStore.hpp"
#include "support/Bounded.hpp"
#include "support/TempDir.hpp"

// A FIFO, device or folder where a state file, an event or a document is
// expected is refused at once. Each case runs in a child under an alarm: a
// reader that opened the FIFO blocking would wait for a writer for ever.

using namespace velmora;
using test::require;
namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

constexpr unsigned bound = 5;

ErrorCase thrownCase(const std::function<void()>& f) {
    try {
        f();
    } catch (const BrindlexError& e) {
        return e.errorCase();
    }
    throw std::runtime_error("no BrindlexError was thrown");
}

bool isFIFO(const fs::path& p) { return fs::is_fifo(fs::symlink_status(p)); }

}  // namespace

TEST(NonRegularFiles, SecureReadRefusesWhatIsNotARegularFileAtOnce) {
    test::TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "queue.json").c_str(), 0600), 0);
    fs::create_directory(tmp / "history.json");
    test::writeFile(tmp / "real.json", "{}");
    fs::create_symlink(tmp / "real.json", tmp / "link.json");
    EXPECT_EQ(test::runBounded(bound, [&] {
                  SecureDirectory dir(tmp.path(), false);
                  require(thrownCase([&] { dir.read("queue.json"); }) == ErrorCase::unsafePath, "FIFO");
                  require(thrownCase([&] { dir.read("history.json"); }) == ErrorCase::unsafePath, "folder");
                  require(thrownCase([&] { dir.read("/dev/zero"); }) == ErrorCase::unsafePath, "bad leaf");
                  // A link and a missing file stay what they were: unreadable.
                  require(thrownCase([&] { dir.read("link.json"); }) == ErrorCase::damagedCheckpoint, "link");
                  require(thrownCase([&] { dir.read("none.json"); }) == ErrorCase::damagedCheckpoint, "missing");
                  require(dir.read("real.json") == std::vector<uint8_t>{'{', '}'}, "regular file");
              }),
              0);
    // A character device too, reached through a folder that holds one.
    EXPECT_EQ(test::runBounded(bound, [&] {
                  SecureDirectory dev("/dev", false);
                  require(thrownCase([&] { dev.read("zero"); }) == ErrorCase::unsafePath, "device");
              }),
              0);
    EXPECT_TRUE(isFIFO(tmp / "queue.json"));
}

TEST(NonRegularFiles, DigestOfAFIFOOrAFolderFailsAtOnce) {
    test::TempDir tmp;
    ASSERT_EQ(::mkfifo((tmp / "scan.pdf").c_str(), 0600), 0);
    test::writeFile(tmp / "doc.pdf", "abc");
    fs::create_symlink(tmp / "doc.pdf", tmp / "alias.pdf");
    EXPECT_EQ(test::runBounded(bound, [&] {
                  for (const fs::path& p : {tmp / "scan.pdf", tmp.path(), fs::path("/dev/zero")}) {
                      bool refused = false;
                      try {
                          Digest::file(p);
                      } catch (const std::system_error&) {
                          refused = true;
                      }
                      require(refused, "hashed " + p.string());
                  }
                  // Documents may still be reached through a link.
                  const std::string abc = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
                  require(Digest::file(tmp / "alias.pdf") == abc, "digest through a link");
              }),
              0);
}

TEST(NonRegularFiles, PruningSkipsAndKeepsAFIFONamedLikeAnEvent) {
    test::TempDir tmp;
    const Date now = sys_days(year(2026) / 6 / 1);
    const std::string fifo = UUID::random().text() + ".json";
    ASSERT_EQ(::mkfifo((tmp / fifo).c_str(), 0600), 0);
    SafeEvent old{UUID::random(), SafeEvent::Stage::completed, now - hours(24 * 40), std::nullopt, std::nullopt};
    const std::string expired = UUID::random().text() + ".json";
    test::writeFile(tmp / expired, JSON::print(Json(old)));
    EXPECT_EQ(test::runBounded(bound, [&] {
                  SecureDirectory dir(tmp.path(), false);
                  require(LogRetention::prune(dir, now, 30) == 1, "one expired event pruned");
              }),
              0);
    EXPECT_TRUE(isFIFO(tmp / fifo));
    EXPECT_FALSE(fs::exists(tmp / expired));
}

TEST(NonRegularFiles, AFIFOInPlaceOfThePreferencesMakesTheStoreReadOnly) {
    test::TempDir tmp;
    const fs::path settings = tmp / "settings";
    fs::create_directory(settings);
    ASSERT_EQ(::mkfifo((settings / "preferences.json").c_str(), 0600), 0);
    EXPECT_EQ(test::runBounded(bound, [&] {
                  SettingsStore store(settings);
                  require(store.readOnly(), "read-only");
                  require(store.notice() == SettingsStore::Notices::unreadable, "notice");
                  require(store.value() == AppPreferences{}, "defaults shown");
                  require(thrownCase([&] { store.change([](AppPreferences& p) { p.mobileWidth = 390; }); }) ==
                              ErrorCase::settingsChanged,
                          "no change while read-only");
              }),
              0);
    EXPECT_TRUE(isFIFO(settings / "preferences.json"));
}
