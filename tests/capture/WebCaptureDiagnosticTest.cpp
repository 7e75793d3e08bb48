#include <gtest/gtest.h>

#include <gio/gio.h>
#include <sys/utsname.h>

#include <cerrno>
#include <cmath>
#include <filesystem>
#include <limits>
#include <set>
#include <system_error>

#include "foundation/CancellationError.hpp"
#include "foundation/GLibError.hpp"
#include "foundation/JSON.hpp"
#include "capture/WebCaptureDiagnostic.hpp"

using namespace velmora;
using Stage = WebCaptureDiagnosticStage;
using Metric = WebCaptureDiagnosticMetric;
using Code = WebCaptureDiagnosticFailure::Code;

namespace {

const Json testInfo = {{"CFBundleShortVersionString", "1.0.0"}, {"CFBundleVersion", "7"}};

Date at(int64_t seconds) { return Date(std::chrono::seconds(seconds)); }

// A diagnostic whose sink keeps every report it was handed and whose clock
// reads 2026-05-01T09:30:00Z plus one second per event.
struct Recorded {
    std::vector<WebCaptureDiagnosticReport> delivered;
    int64_t clock = 1777627800;
    WebCaptureDiagnostic diagnostic{[this](const WebCaptureDiagnosticReport& r) { delivered.push_back(r); }, testInfo,
                                    [this] { return at(clock++); }};
};

std::exception_ptr glibError(const char* domain, int code, std::exception_ptr underlying = nullptr) {
    return std::make_exception_ptr(GLibError(g_quark_from_static_string(domain), code, "test", underlying));
}

std::vector<Code> chain(const std::exception_ptr& error) {
    return WebCaptureDiagnosticFailure(Stage::prepare, error).errors;
}

}  // namespace

TEST(WebCaptureDiagnostic, StagesAreStoredByTheirCodes) {
    std::set<std::string> codes;
    for (auto st : allWebCaptureDiagnosticStages()) {
        codes.emplace(rawValue(st));
        EXPECT_EQ(fromRaw<Stage>(rawValue(st)), st);
    }
    EXPECT_EQ(codes.size(), 19u);
    EXPECT_EQ(rawValue(Stage::destination), "WC-001");
    EXPECT_EQ(rawValue(Stage::snapshotTile), "WC-041");
    EXPECT_EQ(rawValue(Stage::completed), "WC-100");
    EXPECT_FALSE(fromRaw<Stage>("prepare"));
    EXPECT_EQ(rawValue(allWebCaptureDiagnosticMetrics().back()), "viewStillAfter");
    EXPECT_EQ(fromRaw<Metric>("observedHeight"), Metric::observedHeight);
}

TEST(WebCaptureDiagnostic, NewReportPrintsExactlyAndCallsNoSink) {
    Recorded r;
    const auto& report = r.diagnostic.report();
    EXPECT_EQ(r.diagnostic.stage(), Stage::prepare);
    EXPECT_TRUE(r.delivered.empty());
    const std::string expected = "{\n"
                                 "  \"build\" : \"7\",\n"
                                 "  \"events\" : [],\n"
                                 "  \"id\" : \"" + report.id.text() + "\",\n"
                                 "  \"macOS\" : \"" + report.macOS + "\",\n"
                                 "  \"product\" : \"Velmora\",\n"
                                 "  \"version\" : \"1.0.0\"\n"
                                 "}";
    EXPECT_EQ(r.diagnostic.text(), expected);
    EXPECT_NE(report.id, Recorded().diagnostic.report().id);

    // A dictionary without the strings, or with other types, says "unavailable".
    WebCaptureDiagnostic numeric(nullptr, Json{{"CFBundleShortVersionString", 1}});
    EXPECT_EQ(numeric.report().version, "unavailable");
    EXPECT_EQ(numeric.report().build, "unavailable");
    EXPECT_NE(WebCaptureDiagnostic(nullptr).report().version, "unavailable");
}

TEST(WebCaptureDiagnostic, SystemVersionNamesTheDistributionAndTheKernel) {
    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    const std::string version = WebCaptureDiagnostic::systemVersion();
    EXPECT_TRUE(version.ends_with(std::string(" ") + names.release)) << version;
    EXPECT_GT(version.size(), std::string(names.release).size() + 1);
    // Quotes of os-release are syntax, not part of the name.
    EXPECT_EQ(version.find('"'), std::string::npos) << version;
}

TEST(WebCaptureDiagnostic, RecordsKeepOnlyFiniteValuesAndHandTheSinkEachWholeReport) {
    Recorded r;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    r.diagnostic.record(Stage::pageMetrics, {{Metric::innerWidth, nan}, {Metric::documentHeight, 5400.5}});
    r.diagnostic.record(Stage::plan, {{Metric::budgetBytes, -inf}, {Metric::partCount, inf}});
    r.diagnostic.record(Stage::snapshotTile);

    EXPECT_EQ(r.diagnostic.stage(), Stage::snapshotTile);
    const auto& events = r.diagnostic.report().events;
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].values, (std::map<std::string, double>{{"documentHeight", 5400.5}}));
    EXPECT_TRUE(events[1].values.empty());
    EXPECT_EQ(events[1].stage, Stage::plan);
    EXPECT_EQ(events[2].date, at(1777627802));

    ASSERT_EQ(r.delivered.size(), 3u);
    EXPECT_EQ(r.delivered[0].events.size(), 1u);
    EXPECT_EQ(r.delivered[2], r.diagnostic.report());
    EXPECT_EQ(r.diagnostic.text().find("null"), std::string::npos);
}

TEST(WebCaptureDiagnostic, TextSortsKeysAtEveryLevelAndReadsBack) {
    Recorded r;
    r.diagnostic.record(Stage::snapshotTile, {{Metric::tileY, 800}, {Metric::rectHeight, 400.25}, {Metric::attached, 1}});
    r.diagnostic.fail(std::make_exception_ptr(BrindlexError(ErrorCase::renderFailed)));
    const auto& report = r.diagnostic.report();
    const std::string expected = "{\n"
                                 "  \"build\" : \"7\",\n"
                                 "  \"events\" : [\n"
                                 "    {\n"
                                 "      \"date\" : \"2026-05-01T09:30:00Z\",\n"
                                 "      \"stage\" : \"WC-041\",\n"
                                 "      \"values\" : {\n"
                                 "        \"attached\" : 1.0,\n"
                                 "        \"rectHeight\" : 400.25,\n"
                                 "        \"tileY\" : 800.0\n"
                                 "      }\n"
                                 "    }\n"
                                 "  ],\n"
                                 "  \"failure\" : {\n"
                                 "    \"appError\" : \"renderFailed\",\n"
                                 "    \"errors\" : [\n"
                                 "      {\n"
                                 "        \"code\" : 16,\n"
                                 "        \"domain\" : \"other\"\n"
                                 "      }\n"
                                 "    ],\n"
                                 "    \"stage\" : \"WC-041\"\n"
                                 "  },\n"
                                 "  \"id\" : \"" + report.id.text() + "\",\n"
                                 "  \"macOS\" : \"" + report.macOS + "\",\n"
                                 "  \"product\" : \"Velmora\",\n"
                                 "  \"version\" : \"1.0.0\"\n"
                                 "}";
    EXPECT_EQ(r.diagnostic.text(), expected);
    EXPECT_EQ(JSON::decode<WebCaptureDiagnosticReport>(JSON::parse(r.diagnostic.text())), report);

    Json unknownStage = Json::parse(r.diagnostic.text());
    unknownStage["events"][0]["stage"] = "snapshotTile";
    EXPECT_THROW(JSON::decode<WebCaptureDiagnosticReport>(unknownStage), JSON::DecodeError);
}

// The element behind a refusal is named beside its measurements, and only
// there: other events carry no such key. A name that is not text is a bad
// report.
TEST(WebCaptureDiagnostic, AnEventNamesItsElementOnlyWhenItHasOne) {
    Recorded r;
    r.diagnostic.record(Stage::plan, {{Metric::innerScrollHeight, 6400}}, "div#content.pane");
    r.diagnostic.record(Stage::destination);
    const auto& events = r.diagnostic.report().events;
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].element, "div#content.pane");
    EXPECT_FALSE(events[1].element);
    const Json written = Json::parse(r.diagnostic.text());
    EXPECT_EQ(written["events"][0]["element"], "div#content.pane");
    EXPECT_EQ(written["events"][0]["values"]["innerScrollHeight"], 6400.0);
    EXPECT_FALSE(written["events"][1].contains("element"));
    EXPECT_EQ(JSON::decode<WebCaptureDiagnosticReport>(written), r.diagnostic.report());

    Json bad = written;
    bad["events"][0]["element"] = 3;
    EXPECT_THROW(JSON::decode<WebCaptureDiagnosticReport>(bad), JSON::DecodeError);
}

TEST(WebCaptureDiagnostic, AFullTimelineKeepsTheFirstSixteenAndTheLatestEvents) {
    Recorded r;
    for (int i = 1; i <= 192; ++i) r.diagnostic.record(Stage::snapshotTile, {{Metric::tileY, i}});
    ASSERT_EQ(r.diagnostic.report().events.size(), 192u);
    EXPECT_EQ(r.diagnostic.report().events.back().values.at("tileY"), 192);

    r.diagnostic.record(Stage::snapshotTile, {{Metric::tileY, 193}});
    std::vector<double> kept;
    for (const auto& e : r.diagnostic.report().events) kept.push_back(e.values.at("tileY"));
    std::vector<double> expected;
    for (int i = 1; i <= 16; ++i) expected.push_back(i);
    for (int i = 18; i <= 193; ++i) expected.push_back(i);
    EXPECT_EQ(kept, expected);

    r.diagnostic.record(Stage::compose, {{Metric::tileY, 194}});
    const auto& events = r.diagnostic.report().events;
    ASSERT_EQ(events.size(), 192u);
    EXPECT_EQ(events[15].values.at("tileY"), 16);
    EXPECT_EQ(events[16].values.at("tileY"), 19);
    EXPECT_EQ(events.back().stage, Stage::compose);
}

TEST(WebCaptureDiagnostic, TheFirstFailureFreezesTheReport) {
    Recorded r;
    r.diagnostic.record(Stage::waiting, {{Metric::scrollY, 10}});
    r.diagnostic.fail(std::make_exception_ptr(BrindlexError(ErrorCase::cancelled)));
    ASSERT_EQ(r.delivered.size(), 2u);
    const WebCaptureDiagnosticReport frozen = r.diagnostic.report();
    ASSERT_TRUE(frozen.failure);
    EXPECT_EQ(*frozen.failure, WebCaptureDiagnosticFailure(Stage::waiting, {{"other", 12}}, ErrorCase::cancelled));
    EXPECT_NE(r.diagnostic.text().find("\"appError\" : \"cancelled\""), std::string::npos);

    r.diagnostic.record(Stage::compose, {{Metric::scrollY, 20}});
    r.diagnostic.fail(glibError("WebKitSnapshotError", 1));
    EXPECT_EQ(r.diagnostic.report(), frozen);
    EXPECT_EQ(r.diagnostic.stage(), Stage::waiting);
    EXPECT_EQ(r.delivered.size(), 2u);

    // Without any record the failure is placed at `prepare`.
    Recorded early;
    early.diagnostic.fail(glibError("WebKitNetworkError", 302));
    ASSERT_TRUE(early.diagnostic.report().failure);
    EXPECT_EQ(early.diagnostic.report().failure->stage, Stage::prepare);
    EXPECT_FALSE(early.diagnostic.report().failure->appError);
    EXPECT_EQ(early.diagnostic.text().find("appError"), std::string::npos);
}

TEST(WebCaptureDiagnostic, ATallCapturesTilesReachTheSinkAtAPaceAndEveryStageAtOnce) {
    // 200 tiles of three events each, 10 ms apart: six seconds of tiles.
    std::vector<WebCaptureDiagnosticReport> delivered;
    int64_t ms = 0;
    WebCaptureDiagnostic diagnostic([&](const WebCaptureDiagnosticReport& r) { delivered.push_back(r); }, testInfo,
                                    [&] { return at(1777627800) + std::chrono::milliseconds(ms += 10); });
    diagnostic.record(Stage::plan, {{Metric::partCount, 1}});
    ASSERT_EQ(delivered.size(), 1u);
    for (int tile = 0; tile < 200; ++tile) {
        diagnostic.record(Stage::scroll, {{Metric::tileY, tile * 1000.0}});
        // The tiles' first event is a new stage and is handed over at once.
        if (tile == 0) {
            ASSERT_EQ(delivered.size(), 2u);
        }
        diagnostic.record(Stage::snapshotStart);
        diagnostic.record(Stage::snapshotTile);
    }
    // No event waited longer than the interval for a delivery that holds it,
    // and deliveries within the tiles came no faster than the interval.
    const auto interval = WebCaptureDiagnostic::deliveryInterval;
    for (std::size_t i = 2; i < delivered.size(); ++i) {
        const Date previous = delivered[i - 1].events.back().date;
        const Date now = delivered[i].events.back().date;
        EXPECT_GE(now - previous, interval);
        EXPECT_LE(now - previous, interval + std::chrono::milliseconds(10));
    }
    const std::size_t duringTiles = delivered.size() - 1;
    EXPECT_LE(duringTiles, 6000 / 250 + 1);
    EXPECT_GE(duringTiles, 6000 / 260);

    diagnostic.record(Stage::compose);
    EXPECT_EQ(delivered.back().events.back().stage, Stage::compose);
    diagnostic.record(Stage::pngEncode);
    diagnostic.record(Stage::write);
    diagnostic.record(Stage::written);
    EXPECT_EQ(delivered.back().events.back().stage, Stage::written);
    EXPECT_FALSE(WebCaptureDiagnostic::isFinal(delivered.back()));
    diagnostic.record(Stage::completed);
    EXPECT_LE(delivered.size(), duringTiles + 6);
    // The last report handed over is the whole report: every event kept.
    EXPECT_EQ(delivered.back(), diagnostic.report());
    EXPECT_EQ(delivered.back().events.size(), WebCaptureDiagnostic::maximumEvents);
    EXPECT_TRUE(WebCaptureDiagnostic::isFinal(delivered.back()));
}

TEST(WebCaptureDiagnostic, AFailureAmongTheTilesIsHandedOverAtOnceWithTheEventsBeforeIt) {
    std::vector<WebCaptureDiagnosticReport> delivered;
    int64_t ms = 0;
    WebCaptureDiagnostic diagnostic([&](const WebCaptureDiagnosticReport& r) { delivered.push_back(r); }, testInfo,
                                    [&] { return at(1777627800) + std::chrono::milliseconds(ms += 1); });
    diagnostic.record(Stage::scroll, {{Metric::tileY, 0}});
    diagnostic.record(Stage::snapshotStart);
    diagnostic.record(Stage::snapshotTile);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_FALSE(WebCaptureDiagnostic::isFinal(delivered.back()));
    diagnostic.fail(std::make_exception_ptr(BrindlexError(ErrorCase::renderFailed)));
    ASSERT_EQ(delivered.size(), 2u);
    EXPECT_EQ(delivered.back(), diagnostic.report());
    EXPECT_EQ(delivered.back().events.size(), 3u);
    EXPECT_EQ(delivered.back().failure->stage, Stage::snapshotTile);
    EXPECT_TRUE(WebCaptureDiagnostic::isFinal(delivered.back()));
}

TEST(WebCaptureDiagnostic, ASinkThatThrowsDoesNotReachTheCapture) {
    int calls = 0;
    WebCaptureDiagnostic diagnostic([&](const WebCaptureDiagnosticReport&) {
        ++calls;
        throw std::runtime_error("disk full");
    });
    EXPECT_NO_THROW(diagnostic.record(Stage::write));
    EXPECT_NO_THROW(diagnostic.fail(std::make_exception_ptr(BrindlexError(ErrorCase::saveFailed))));
    EXPECT_EQ(calls, 2);
    EXPECT_TRUE(diagnostic.report().failure);
}

TEST(WebCaptureDiagnosticFailure, ChainsEndAtACycleAndAfterFourErrors) {
    // An error whose underlying error is the error object itself.
    std::exception_ptr self = glibError("WebKitPolicyError", 3);
    try {
        std::rethrow_exception(self);
    } catch (GLibError& e) {
        e = GLibError(e.domain(), e.code(), "itself", self);
    }
    EXPECT_EQ(chain(self), (std::vector<Code>{{"WKErrorDomain", 3}}));
    try {
        std::rethrow_exception(self);
    } catch (GLibError& e) {
        e = GLibError(e.domain(), e.code(), "released");  // ends the reference cycle
    }

    std::exception_ptr six;
    for (int code = 1; code <= 6; ++code) six = glibError("WebKitJavascriptError", code, six);
    EXPECT_EQ(chain(six), (std::vector<Code>{{"WKErrorDomain", 6}, {"WKErrorDomain", 5}, {"WKErrorDomain", 4},
                                             {"WKErrorDomain", 3}}));
    EXPECT_TRUE(chain(nullptr).empty());
}

TEST(WebCaptureDiagnosticFailure, NamesEachKindOfErrorByItsDomain) {
    EXPECT_EQ(chain(glibError("WebKitSnapshotError", 1)), (std::vector<Code>{{"WKErrorDomain", 1}}));
    EXPECT_EQ(chain(glibError("WebKitNetworkError", 302)), (std::vector<Code>{{"NSURLErrorDomain", 302}}));
    EXPECT_EQ(chain(glibError("soup-session-error-quark", 2)), (std::vector<Code>{{"NSURLErrorDomain", 2}}));
    EXPECT_EQ(chain(std::make_exception_ptr(GLibError(G_TLS_ERROR, G_TLS_ERROR_EOF, "eof"))),
              (std::vector<Code>{{"NSURLErrorDomain", G_TLS_ERROR_EOF}}));
    EXPECT_EQ(chain(std::make_exception_ptr(GLibError(G_IO_ERROR, G_IO_ERROR_CANCELLED, "stop"))),
              (std::vector<Code>{{"NSCocoaErrorDomain", G_IO_ERROR_CANCELLED}}));
    // A domain the report has no name for keeps its own code.
    EXPECT_EQ(chain(glibError("velmora-unknown-error", 77)), (std::vector<Code>{{"other", 77}}));

    EXPECT_EQ(chain(std::make_exception_ptr(std::system_error(ENOSPC, std::generic_category(), "write"))),
              (std::vector<Code>{{"NSPOSIXErrorDomain", ENOSPC}}));
    EXPECT_EQ(chain(std::make_exception_ptr(std::filesystem::filesystem_error(
                  "open", std::error_code(EACCES, std::system_category())))),
              (std::vector<Code>{{"NSPOSIXErrorDomain", EACCES}}));

    EXPECT_EQ(chain(std::make_exception_ptr(BrindlexError(ErrorCase::interruptedSave))),
              (std::vector<Code>{{"other", 23}}));
    EXPECT_EQ(chain(std::make_exception_ptr(CancellationError())), (std::vector<Code>{{"other", 1}}));
    EXPECT_EQ(chain(std::make_exception_ptr(42)), (std::vector<Code>{{"other", 1}}));

    // The task toolkit's cancellation is no application error of its own.
    WebCaptureDiagnosticFailure cancelled(Stage::scroll, std::make_exception_ptr(CancellationError()));
    EXPECT_FALSE(cancelled.appError);
}

TEST(WebCaptureDiagnosticFailure, FollowsNestedAndUnderlyingErrorsButNamesOnlyTheOuterAppError) {
    std::exception_ptr nested;
    try {
        try {
            throw std::system_error(EIO, std::generic_category(), "read");
        } catch (...) {
            std::throw_with_nested(BrindlexError(ErrorCase::saveFailed));
        }
    } catch (...) {
        nested = std::current_exception();
    }
    WebCaptureDiagnosticFailure outer(Stage::write, nested);
    EXPECT_EQ(outer.errors, (std::vector<Code>{{"other", 9}, {"NSPOSIXErrorDomain", EIO}}));
    EXPECT_EQ(outer.appError, ErrorCase::saveFailed);

    WebCaptureDiagnosticFailure wrapped(
        Stage::write, glibError("WebKitDownloadError", 499, std::make_exception_ptr(BrindlexError(ErrorCase::cancelled))));
    EXPECT_EQ(wrapped.errors, (std::vector<Code>{{"WKErrorDomain", 499}, {"other", 12}}));
    EXPECT_FALSE(wrapped.appError);
}
