#include <gtest/gtest.h>

#include "foundation/JSON.hpp"
#include "foundation/UptimeClock.hpp"
#include "webcapture/OperationTrace.hpp"

using namespace velmora;
using E = OperationTrace::Event;

namespace {

std::vector<E> events(const OperationTrace& t) {
    std::vector<E> out;
    for (const auto& item : t.items()) out.push_back(item.event);
    return out;
}

}  // namespace

TEST(OperationTrace, StartsWithOneStartedItemAndCountsPublishedFiles) {
    ManualUptimeClock clock(500.0);
    OperationTrace trace(clock);
    ASSERT_EQ(trace.items().size(), 1u);
    EXPECT_EQ(trace.items()[0], (OperationTrace::Item{500.0, E::started, "initial", 0}));
    EXPECT_FALSE(trace.terminal());
    EXPECT_EQ(trace.current(), "initial");
    EXPECT_NE(trace.id(), OperationTrace(clock).id());

    int notifications = 0;
    trace.changed.connect([&] { ++notifications; });
    clock.advance(1.5);
    trace.stage("tile");
    clock.advance(0.25);
    trace.event(E::published);
    trace.event(E::published);
    EXPECT_EQ(notifications, 3);
    ASSERT_EQ(trace.items().size(), 4u);
    EXPECT_EQ(trace.items()[1], (OperationTrace::Item{501.5, E::stage, "tile", 0}));
    EXPECT_EQ(trace.items()[2], (OperationTrace::Item{501.75, E::published, "tile", 1}));
    EXPECT_EQ(trace.items()[3].publishedCount, 2);
    EXPECT_EQ(trace.publishedCount(), 2);
}

TEST(OperationTrace, EndsOnceAndOnlyWithAnEndEvent) {
    ManualUptimeClock clock;
    OperationTrace trace(clock);
    trace.end(E::published);
    trace.end(E::stopped);
    EXPECT_FALSE(trace.terminal());
    EXPECT_EQ(events(trace), (std::vector<E>{E::started}));

    trace.stage("saving");
    trace.end(E::completed);
    EXPECT_TRUE(trace.terminal());
    trace.end(E::failed);
    trace.stage("tile");
    EXPECT_EQ(trace.current(), "saving");
    // A cancel that arrives after the end is still recorded, after the end.
    trace.event(E::lateCancel);
    EXPECT_EQ(events(trace), (std::vector<E>{E::started, E::stage, E::stopped, E::completed, E::lateCancel}));
    EXPECT_EQ(trace.items().back().stage, "saving");

    OperationTrace cancelled(clock);
    cancelled.end(E::cancelled);
    OperationTrace failed(clock);
    failed.end(E::failed);
    EXPECT_EQ(events(cancelled), (std::vector<E>{E::started, E::stopped, E::cancelled}));
    EXPECT_EQ(events(failed), (std::vector<E>{E::started, E::stopped, E::failed}));

    // Observations of the print run are kept, also once it has ended.
    NativePrintObservation observation;
    observation.kind = NativePrintObservation::Kind::pdfAvailable;
    trace.native(observation);
    ASSERT_EQ(trace.nativeItems().size(), 1u);
    EXPECT_EQ(trace.nativeItems()[0].kind, NativePrintObservation::Kind::pdfAvailable);
}

TEST(OperationTrace, ItemsAndEventsCodeAsTheirNames) {
    OperationTrace::Item item{12.5, E::cancelUIModel, "joining", 3};
    Json j = item;
    EXPECT_EQ(JSON::print(j),
              "{\n  \"event\" : \"cancelUIModel\",\n  \"publishedCount\" : 3,\n  \"stage\" : \"joining\",\n  \"time\" : 12.5\n}");
    EXPECT_EQ(JSON::decode<OperationTrace::Item>(j), item);

    const std::vector<std::string> names{"started",   "stage",     "uiCancel", "cancelRequested",
                                         "cancelUIModel", "published", "stopped",  "completed",
                                         "cancelled", "failed",    "lateCancel", "otherWindowInput"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        auto e = OperationTrace::fromRaw(names[i]);
        ASSERT_TRUE(e) << names[i];
        EXPECT_EQ(static_cast<std::size_t>(*e), i);
        EXPECT_EQ(OperationTrace::rawValue(*e), names[i]);
    }
    EXPECT_FALSE(OperationTrace::fromRaw("Completed"));
    j["event"] = "finished";
    EXPECT_THROW(JSON::decode<OperationTrace::Item>(j), JSON::DecodeError);
    j["event"] = "failed";
    j.erase("stage");
    EXPECT_THROW(JSON::decode<OperationTrace::Item>(j), JSON::DecodeError);
}
