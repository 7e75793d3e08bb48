#include <gtest/gtest.h>

#include "JobFixtures.hpp"
#include "foundation/Base64.hpp"
#include "foundation/Digest.hpp"
#include "foundation/SecureDirectory.hpp"
#include "ocrjobs/Checkpoint.hpp"
#include "support/Errors.hpp"
#include "support/TempDir.hpp"

using namespace velmora;
using test::caseOf;

namespace {

std::vector<std::string> keysOf(const Json& j) {
    std::vector<std::string> keys;
    for (auto it = j.begin(); it != j.end(); ++it) keys.push_back(it.key());
    return keys;
}

Checkpoint sampleCheckpoint() {
    Checkpoint c;
    c.jobID = *UUID::parse("0b5e9c1e-7f1a-4c2e-9d3b-5a6f7e8d9c0b");
    c.attemptID = *UUID::parse("6f1c2d3e-4b5a-4978-8a6b-1c2d3e4f5a6b");
    c.created = JSON::parseDate("2026-05-01T09:30:00Z");
    c.updated = JSON::parseDate("2026-05-01T09:31:07Z");
    c.source = SourceIdentity("/home/u/書類/scan.pdf", 18446744073709551615ull, 3, std::string(64, 'a'));
    c.settings = test::currentSettings();
    c.dictionaryHash = c.settings.dictionaryHash();
    c.pages = {PageRecord(1, PageState::completed, "page-1.json", std::string(64, 'b')),
               PageRecord(2, PageState::failed, std::nullopt, std::nullopt, ErrorCase::renderFailed,
                          std::vector<ErrorCase>{ErrorCase::emptyResult, ErrorCase::loadTimeout}),
               PageRecord(3)};
    return c;
}

std::vector<uint8_t> bytesOf(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

}  // namespace

TEST(PageRecord, OptionalFieldsAreWrittenOnlyWhenPresent) {
    const Json minimal = PageRecord(4, PageState::inProgress);
    EXPECT_EQ(keysOf(minimal), (std::vector<std::string>{"page", "state"}));
    EXPECT_EQ(minimal["state"], "inProgress");
    const auto back = JSON::decode<PageRecord>(JSON::parse(JSON::print(minimal)));
    EXPECT_EQ(back, PageRecord(4, PageState::inProgress));
    EXPECT_FALSE(back.resultFile || back.checksum || back.error || back.priorFailures);

    const PageRecord full(2, PageState::failed, "page-2.json", "c", ErrorCase::renderFailed,
                          std::vector<ErrorCase>{ErrorCase::emptyResult});
    const Json j = full;
    EXPECT_EQ(j["error"], "renderFailed");
    EXPECT_EQ(j["priorFailures"], Json::array({"emptyResult"}));
    EXPECT_EQ(JSON::decode<PageRecord>(j), full);
}

TEST(PageRecord, UnknownStatesAndErrorsAndMissingKeysAreRefused) {
    EXPECT_THROW(JSON::decode<PageRecord>(JSON::parse(R"({"page":1,"state":"done"})")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<PageRecord>(JSON::parse(R"({"page":1,"state":"Pending"})")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<PageRecord>(JSON::parse(R"({"page":1})")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<PageRecord>(JSON::parse(R"({"state":"pending"})")), JSON::DecodeError);
    EXPECT_THROW(JSON::decode<PageRecord>(JSON::parse(R"({"page":1,"state":"failed","error":"oops"})")),
                 JSON::DecodeError);
    EXPECT_THROW(JSON::decode<PageRecord>(JSON::parse(R"({"page":1,"state":"failed","priorFailures":["x"]})")),
                 JSON::DecodeError);
}

TEST(Checkpoint, EveryKeyIsRequired) {
    const Json full = sampleCheckpoint();
    EXPECT_EQ(keysOf(full), (std::vector<std::string>{"attemptID", "created", "dictionaryHash", "jobID", "pages",
                                                      "schemaVersion", "settings", "source", "updated"}));
    EXPECT_EQ(keysOf(full["source"]), (std::vector<std::string>{"byteCount", "pageCount", "path", "sha256"}));
    EXPECT_EQ(full["jobID"], "0B5E9C1E-7F1A-4C2E-9D3B-5A6F7E8D9C0B");
    EXPECT_EQ(full["created"], "2026-05-01T09:30:00Z");
    for (const auto& key : keysOf(full)) {
        Json partial = full;
        partial.erase(key);
        EXPECT_THROW(JSON::decode<Checkpoint>(partial), JSON::DecodeError) << key;
    }
    for (const auto& key : keysOf(full["source"])) {
        Json partial = full;
        partial["source"].erase(key);
        EXPECT_THROW(JSON::decode<Checkpoint>(partial), JSON::DecodeError) << key;
    }
}

TEST(CheckpointEnvelope, RoundTripsThroughItsFile) {
    test::TempDir tmp;
    SecureDirectory folder(tmp.path(), false);
    const Checkpoint c = sampleCheckpoint();
    CheckpointFile::write(folder, c);
    EXPECT_EQ(test::listNames(tmp.path()), std::vector<std::string>{"checkpoint.json"});

    const Json file = JSON::parse(test::readFile(tmp / "checkpoint.json"));
    EXPECT_EQ(keysOf(file), (std::vector<std::string>{"payload", "sha256"}));
    const auto payload = Base64::decode(file["payload"].get<std::string>());
    ASSERT_TRUE(payload);
    EXPECT_EQ(*payload, JSON::encode(c));
    EXPECT_EQ(file["sha256"], Digest::data(*payload));
    EXPECT_EQ(CheckpointFile::read(folder), c);
}

TEST(CheckpointEnvelope, AChangedByteIsCaughtBeforeThePayloadIsBelieved) {
    const Checkpoint c = sampleCheckpoint();
    CheckpointEnvelope envelope = CheckpointEnvelope::seal(c);
    std::string text(envelope.payload.begin(), envelope.payload.end());
    const auto at = text.find("\"pageCount\" : 3");
    ASSERT_NE(at, std::string::npos);
    text[at + std::string("\"pageCount\" : ").size()] = '4';
    envelope.payload = bytesOf(text);
    // The altered payload is a perfectly good checkpoint, so only the digest
    // can tell.
    EXPECT_EQ(JSON::decode<Checkpoint>(envelope.payload).source.pageCount, 4);
    EXPECT_EQ(caseOf([&] { envelope.verifiedPayload(); }), ErrorCase::damagedCheckpoint);
    EXPECT_EQ(caseOf([&] { envelope.open(); }), ErrorCase::damagedCheckpoint);

    // The digest is checked without decoding anything: a matching digest
    // over bytes that are no JSON at all passes the check and fails only
    // when the checkpoint is opened.
    CheckpointEnvelope notJSON{bytesOf("not a checkpoint"), Digest::data(std::string_view("not a checkpoint"))};
    EXPECT_EQ(notJSON.verifiedPayload(), bytesOf("not a checkpoint"));
    EXPECT_EQ(caseOf([&] { notJSON.open(); }), ErrorCase::damagedCheckpoint);
}

TEST(CheckpointEnvelope, DamagedFilesAreDamagedCheckpoints) {
    test::TempDir tmp;
    SecureDirectory folder(tmp.path(), false);
    const std::string good = Base64::encode(JSON::encode(sampleCheckpoint()));
    const std::string digest = Digest::data(Base64::decode(good).value());
    const std::vector<std::string> files{
        "",
        "{",
        "[]",
        R"({"payload":")" + good + R"("})",
        R"({"sha256":")" + digest + R"("})",
        R"({"payload":")" + good.substr(0, good.size() - 1) + R"(","sha256":")" + digest + R"("})",
        R"({"payload":" )" + good.substr(1) + R"(","sha256":")" + digest + R"("})",
        R"({"payload":")" + good + R"(","sha256":")" + std::string(64, '0') + R"("})",
    };
    for (const auto& content : files) {
        test::writeFile(tmp / "checkpoint.json", content);
        EXPECT_EQ(caseOf([&] { CheckpointFile::read(folder); }), ErrorCase::damagedCheckpoint) << content;
    }
    test::writeFile(tmp / "checkpoint.json", R"({"payload":")" + good + R"(","sha256":")" + digest + R"("})");
    EXPECT_EQ(CheckpointFile::read(folder), sampleCheckpoint());
}
