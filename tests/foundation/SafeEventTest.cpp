#include <gtest/gtest.h>

#include "foundation/BrindlexError.hpp"
#include "foundation/SafeEvent.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;
namespace fs = std::filesystem;
using namespace std::chrono;

namespace {

const Date now = sys_days(year(2026) / 6 / 1) + hours(12);

void writeEvent(const fs::path& dir, const std::string& name, const Json& j) {
    test::writeFile(dir / name, JSON::print(j));
}

Json event(Date date) {
    SafeEvent e{UUID::random(), SafeEvent::Stage::completed, date, std::nullopt, std::nullopt};
    return Json(e);
}

}  // namespace

TEST(SafeEvent, JSONOmitsAbsentFieldsAndRefusesUnknownValues) {
    SafeEvent e{UUID::random(), SafeEvent::Stage::failed, now, 3, ErrorCase::saveFailed};
    Json j = e;
    EXPECT_EQ(j["error"], "saveFailed");
    EXPECT_EQ(j["date"], "2026-06-01T12:00:00Z");
    EXPECT_EQ(JSON::decode<SafeEvent>(JSON::parse(JSON::print(j))), e);
    Json bare = event(now);
    EXPECT_EQ(bare.size(), 3u);
    Json bad = j;
    bad["stage"] = "running";
    EXPECT_THROW(JSON::decode<SafeEvent>(bad), JSON::DecodeError);
    bad = j;
    bad["error"] = "diskFull";
    EXPECT_THROW(JSON::decode<SafeEvent>(bad), JSON::DecodeError);
    bad = j;
    bad["date"] = "2026-06-01T12:00:00.250Z";
    EXPECT_THROW(JSON::decode<SafeEvent>(bad), JSON::DecodeError);
}

TEST(LogRetention, ExpiryIsStrictlyBeforeTheCutOff) {
    const Date cut = now - seconds(30 * 86400);
    EXPECT_FALSE(LogRetention::expired(cut, now, 30));
    EXPECT_TRUE(LogRetention::expired(cut - seconds(1), now, 30));
    EXPECT_TRUE(LogRetention::expired(now - seconds(361 * 86400), now, 360));
    for (int days : {0, 7, 365, -30}) EXPECT_FALSE(LogRetention::expired(Date{}, now, days));
}

TEST(LogRetention, PrunesOnlyRecognisedExpiredEvents) {
    test::TempDir tmp;
    const Date old = now - seconds(30 * 86400 + 1);
    const Date cut = now - seconds(30 * 86400);
    for (int i = 0; i < 3; ++i) writeEvent(tmp.path(), UUID::random().text() + ".json", event(old));
    writeEvent(tmp.path(), UUID::random().text() + ".json", event(now));
    writeEvent(tmp.path(), UUID::random().text() + ".json", event(cut));

    // Never touched, however old.
    const std::string id = UUID::random().text();
    writeEvent(tmp.path(), "web-capture-latest.json", event(old));
    writeEvent(tmp.path(), id + "-1.json", event(old));
    writeEvent(tmp.path(), id + ".txt", event(old));
    writeEvent(tmp.path(), ".stage-" + id, event(old));
    Json noted = event(old);
    noted["note"] = "kept";
    writeEvent(tmp.path(), UUID::random().text() + ".json", noted);
    Json running = event(old);
    running["stage"] = "running";
    writeEvent(tmp.path(), UUID::random().text() + ".json", running);
    test::writeFile(tmp / (UUID::random().text() + ".json"), "not json");
    writeEvent(tmp.path(), UUID::random().text() + ".json", Json::array({1}));
    fs::create_symlink(tmp / "web-capture-latest.json", tmp / (UUID::random().text() + ".json"));

    SecureDirectory dir(tmp.path(), false);
    const auto before = test::listNames(tmp.path());
    EXPECT_EQ(caseOf([&] { LogRetention::prune(dir, now, 7); }), ErrorCase::invalidInput);
    EXPECT_EQ(test::listNames(tmp.path()), before);
    EXPECT_EQ(LogRetention::prune(dir, now, 30), 3);
    EXPECT_EQ(test::listNames(tmp.path()).size(), before.size() - 3);
    EXPECT_TRUE(fs::exists(tmp / "web-capture-latest.json"));
    EXPECT_EQ(LogRetention::prune(dir, now, 30), 0);
    // A longer retention keeps what a shorter one would delete.
    writeEvent(tmp.path(), UUID::random().text() + ".json", event(old));
    EXPECT_EQ(LogRetention::prune(dir, now, 90), 0);
}
