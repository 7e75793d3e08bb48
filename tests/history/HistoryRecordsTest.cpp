#include <gtest/gtest.h>

#include "foundation/ProductBrand.hpp"
#include "history/HistoryRecords.hpp"

using namespace velmora;

namespace {

const std::string hexA(64, 'a');

Json stampJSON() { return Json{{"device", 1}, {"inode", 2}, {"size", 3}, {"sha256", hexA}, {"links", 1}}; }

Json outputJSON(const std::string& state = "available") {
    return Json{{"id", "0F0E0D0C-0B0A-4908-8706-050403020100"},
                {"path", "/out/a.png"},
                {"stamp", stampJSON()},
                {"state", state}};
}

Json entryJSON() {
    return Json{{"id", "11111111-2222-4333-8444-555555555555"},
                {"created", "2026-05-01T09:30:00Z"},
                {"kind", "capture"},
                {"state", "completed"},
                {"outputs", Json::array({outputJSON()})},
                {"sourceStamps", Json::array()}};
}

CaptureHistoryEntry decode(const Json& j) { return JSON::decode<CaptureHistoryEntry>(JSON::parse(JSON::print(j))); }

}  // namespace

TEST(HistoryRecords, OptionalKeysReadBackAbsentAndStayOut) {
    const Json j = entryJSON();
    const CaptureHistoryEntry e = decode(j);
    EXPECT_FALSE(e.schemaVersion);
    EXPECT_FALSE(e.appVersion);
    EXPECT_FALSE(e.error);
    EXPECT_FALSE(e.metadata);
    EXPECT_FALSE(e.outputs.at(0).pendingPath);
    EXPECT_EQ(JSON::print(Json(e)), JSON::print(j));

    Json withAll = j;
    withAll["error"] = "cancelled";
    withAll["schemaVersion"] = 1;
    withAll["appVersion"] = "0.9";
    withAll["metadata"] = Json{{"title", "題名"}, {"format", "PNG"}};
    withAll["outputs"][0]["pendingPath"] = "/out/.trash-confirmed-X/confirmed-output";
    const CaptureHistoryEntry full = decode(withAll);
    EXPECT_EQ(full.error, ErrorCase::cancelled);
    EXPECT_EQ(full.metadata->title, "題名");
    EXPECT_FALSE(full.metadata->url);
    EXPECT_FALSE(full.metadata->pageCount);
    EXPECT_EQ(JSON::print(Json(full)), JSON::print(withAll));
}

TEST(HistoryRecords, StrictWhereTheFormatIsStrictOpenWhereItIsOpen) {
    Json j = entryJSON();
    j.erase("sourceStamps");
    EXPECT_THROW(decode(j), JSON::DecodeError);

    j = entryJSON();
    j["outputs"][0] = outputJSON("deleted");
    EXPECT_THROW(decode(j), JSON::DecodeError);

    j = entryJSON();
    j["error"] = "diskFull";
    EXPECT_THROW(decode(j), JSON::DecodeError);

    j = entryJSON();
    j["created"] = "2026-05-01 09:30";
    EXPECT_THROW(decode(j), JSON::DecodeError);

    j = entryJSON();
    j["metadata"] = Json{{"url", "https://example.com/"}, {"format", "PNG"}};
    EXPECT_THROW(decode(j), JSON::DecodeError);

    // Kinds and states of later versions still read, and unknown keys pass.
    j = entryJSON();
    j["kind"] = "scan";
    j["state"] = "complete";
    j["future"] = true;
    const CaptureHistoryEntry e = decode(j);
    EXPECT_EQ(e.kind, "scan");
    EXPECT_EQ(e.state, "complete");
}

TEST(HistoryRecords, NewRecordsCarryTheirInitialValues) {
    const CaptureHistoryEntry a, b;
    EXPECT_NE(a.id, b.id);
    EXPECT_EQ(a.schemaVersion, 1);
    EXPECT_EQ(a.appVersion, Phase0::version());
    EXPECT_TRUE(a.sourceStamps.empty());
    EXPECT_EQ(decode(Json(a)).created, a.created);

    const DeleteProposal p1(a), p2(a);
    EXPECT_NE(p1.id, p2.id);
    EXPECT_EQ(encodedEntry(p1.entry), encodedEntry(p2.entry));

    TrashReceipt r;
    r.outputID = a.id;
    r.state = SavedOutput::State::trashed;
    const Json rj = r;
    EXPECT_EQ(rj["destinationContentVerified"], false);
    EXPECT_FALSE(rj.contains("destination"));
    EXPECT_FALSE(rj.contains("errorCode"));
    r.destination = "/trash/files/a.png";
    r.errorCode = 21;
    const TrashReceipt back = JSON::decode<TrashReceipt>(Json(r));
    EXPECT_EQ(back.destination, r.destination);
    EXPECT_EQ(back.errorCode, 21);
    EXPECT_EQ(back.state, SavedOutput::State::trashed);

    CaptureMetadata m{"https://example.com/a", "t", "PDF + PNG", 3};
    EXPECT_EQ(JSON::decode<CaptureMetadata>(Json(m)), m);
}
