#include <gtest/gtest.h>

#include "foundation/Digest.hpp"
#include "foundation/JSON.hpp"
#include "foundation/UUID.hpp"
#include "support/TempDir.hpp"

using namespace velmora;

TEST(Digest, StandardVectors) {
    EXPECT_EQ(Digest::data(std::string_view("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Digest::data(std::vector<uint8_t>{'a', 'b', 'c'}),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Digest, FileEqualsDataAcrossChunkBoundaries) {
    test::TempDir dir;
    std::string content(3 * 1048576 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>((i * 131) % 251);
    test::writeFile(dir / "big.bin", content);
    EXPECT_EQ(Digest::file(dir / "big.bin"), Digest::data(std::string_view(content)));
    EXPECT_THROW(Digest::file(dir / "missing"), std::system_error);
}

TEST(JSON, PrinterSortsKeysAndUsesSpacedColons) {
    Json j = Json::object();
    j["b"] = 1;
    j["a"] = Json::array({true, nullptr, "x"});
    j["c"] = Json::object();
    j["d"] = Json::array();
    j["é"] = "日本語";
    const std::string expected =
        "{\n  \"a\" : [\n    true,\n    null,\n    \"x\"\n  ],\n  \"b\" : 1,\n  \"c\" : {},\n  \"d\" : [],\n"
        "  \"é\" : \"日本語\"\n}";
    EXPECT_EQ(JSON::print(j), expected);
    EXPECT_EQ(JSON::bytes(j), JSON::bytes(JSON::parse(JSON::print(j))));
}

TEST(JSON, DatesAreWholeSecondsUTC) {
    using namespace std::chrono;
    Date d = sys_days(year(2026) / 5 / 1) + hours(9) + minutes(30) + milliseconds(750);
    EXPECT_EQ(JSON::print(Json(d)), "\"2026-05-01T09:30:00Z\"");
    Date back = JSON::decode<Date>(Json("2026-05-01T09:30:00Z"));
    EXPECT_EQ(back, floor<seconds>(d));
    EXPECT_THROW(JSON::decode<Date>(Json("2026-05-01T09:30:00.5Z")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<Date>(Json("2026-05-01T09:30:00+09:00")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<Date>(Json(1777627800)), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<Date>(Json("2026-02-30T09:30:00Z")), JSON::DecodeError);
}

// The clock holds 64-bit nanoseconds; a year outside 1677-2262 in a file
// used to overflow into a wrong date (found by fuzzing an event record).
TEST(JSON, DatesOutsideTheClockAreADecodeError) {
    const Json event = JSON::parse(std::string_view(
        R"({"date" : "3026-12-07T14:48:55Z", "jobID" : "59980E50-FF16-4F15-BD5F-5B99998FFCAE", "stage" : "started"})"));
    EXPECT_THROW(JSON::require<Date>(event, "date"), JSON::DecodeError);
    EXPECT_THROW(JSON::parseDate("9999-12-31T23:59:59Z"), JSON::DecodeError);
    EXPECT_THROW(JSON::parseDate("0000-01-01T00:00:00Z"), JSON::DecodeError);
    EXPECT_THROW(JSON::parseDate("2262-04-11T23:47:17Z"), JSON::DecodeError);
    EXPECT_THROW(JSON::parseDate("1677-09-21T00:12:43Z"), JSON::DecodeError);
    for (const char* edge : {"2262-04-11T23:47:16Z", "1677-09-21T00:12:44Z"}) {
        EXPECT_EQ(JSON::formatDate(JSON::parseDate(edge)), edge);
    }
}

TEST(JSON, MalformedInputIsADecodeError) {
    EXPECT_THROW(JSON::parse(std::string_view("{\"a\" : ")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<int>(Json("text")), JSON::DecodeError);
    Json o = {{"n", -1}};
    EXPECT_THROW(JSON::requireUInt(o, "n"), JSON::DecodeError);
    EXPECT_THROW(JSON::requireString(o, "missing"), JSON::DecodeError);
}

TEST(UUID, TextIsUpperCaseAndParsesEitherCase) {
    UUID a = UUID::random(), b = UUID::random();
    EXPECT_NE(a, b);
    std::string t = a.text();
    EXPECT_EQ(t.size(), 36u);
    EXPECT_EQ(t[14], '4');
    for (char c : t) EXPECT_FALSE(c >= 'a' && c <= 'z');
    EXPECT_EQ(UUID::parse(t), a);
    std::string lower = t;
    for (char& c : lower) c = static_cast<char>(std::tolower(c));
    EXPECT_EQ(UUID::parse(lower), a);
    EXPECT_FALSE(UUID::parse("5B47E84B1A2F-4C32-9861-4E71DD77A9C3-"));
    EXPECT_FALSE(UUID::parse("5B47E84B-1A2F-4C32-9861-4E71DD77A9CZ"));
    EXPECT_FALSE(UUID::parse(""));
}

// Found by fuzzing the tab snapshot: a generation past the unsigned range is
// read as a double, and turning that into an integer was undefined behaviour.
// Every number that does not fit the field's type is a decoding error.
TEST(JSON, NumbersThatDoNotFitTheirTypeAreADecodeError) {
    const Json huge = JSON::parse(std::string_view(R"({"generation": 18446744730709551615})"));
    EXPECT_THROW(JSON::require<int64_t>(huge, "generation"), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<int64_t>(JSON::parse(std::string_view("1e300"))), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<int64_t>(JSON::parse(std::string_view("9223372036854775808.0"))), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<int32_t>(JSON::parse(std::string_view("3000000000"))), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<int64_t>(JSON::parse(std::string_view("9223372036854775808"))), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<uint64_t>(JSON::parse(std::string_view("-1"))), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<float>(JSON::parse(std::string_view("1e39"))), JSON::DecodeError);
    EXPECT_EQ(JSON::decode<int64_t>(JSON::parse(std::string_view("-9223372036854775808"))), INT64_MIN);
    EXPECT_EQ(JSON::decode<int64_t>(JSON::parse(std::string_view("430.0"))), 430);
    EXPECT_EQ(JSON::decode<uint64_t>(JSON::parse(std::string_view("18446744073709551615"))), UINT64_MAX);
    EXPECT_FLOAT_EQ(JSON::decode<float>(JSON::parse(std::string_view("0.79"))), 0.79f);
}
