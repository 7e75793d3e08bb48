#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gio/gio.h>

#include "BrowserFixture.hpp"
#include "foundation/Digest.hpp"
#include "support/web/RawHttpServer.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::spinUntil;
using test::WebTestServer;
using State = BrowserDownload::State;
namespace fs = std::filesystem;

namespace {

class Downloads : public test::BrowserFixture {
protected:
    std::unique_ptr<BrowserTab> tab = newTab(false);

    Downloads() {
        handDownloads(*tab);
        saveAutomatically(granted_);
    }

    static WebTestServer::Headers attachment(const std::string& name) {
        return {{"Content-Disposition", "attachment; filename=" + name}};
    }
    // The names a user sees in a folder (the staging root aside).
    static std::vector<std::string> visible(const fs::path& folder) {
        std::vector<std::string> names;
        if (!fs::exists(folder)) return names;
        for (const auto& name : test::listNames(folder))
            if (name != DownloadStage::rootName) names.push_back(name);
        return names;
    }
    static fs::path stageOf(const fs::path& folder, const BrowserDownload& d) {
        return folder / DownloadStage::rootName / d.id.text();
    }
    std::vector<SafeEvent::Stage> loggedFor(const BrowserDownload& d) const {
        std::vector<SafeEvent::Stage> stages;
        for (const auto& l : logged_)
            if (l.id == d.id) stages.push_back(l.stage);
        return stages;
    }
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(Downloads, AnAttachmentPublishesByteExactAndASecondOfTheSameNameBesideIt) {
    const int64_t length = 300000;
    server_.stream("/report", {.length = length, .headers = attachment("report.pdf")});
    auto first = download(*tab, "/report");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->tabID, tab->id);
    EXPECT_EQ(first->windowID, windowID_);
    EXPECT_FALSE(first->isPrivate);
    ASSERT_TRUE(ends(first));
    EXPECT_EQ(first->state(), State::completed);
    EXPECT_EQ(rawValue(first->state()), "保存完了");
    EXPECT_EQ(first->name(), "report.pdf");
    EXPECT_EQ(first->notice(), "");
    ASSERT_EQ(first->output(), granted_ / "report.pdf");
    EXPECT_EQ(test::readFile(granted_ / "report.pdf"), WebTestServer::generated(0, length));
    EXPECT_EQ(first->received(), length);
    EXPECT_EQ(first->expected(), length);
    EXPECT_EQ(first->download(), nullptr) << "the engine's download is let go";
    // Nothing is left behind but the file.
    EXPECT_FALSE(fs::exists(granted_ / DownloadStage::rootName));
    EXPECT_EQ(eventNames(*first), (Names{"started", "destination-accepted", "received-complete", "terminal"}));
    EXPECT_EQ(first->events().front().state, "保存先の確認中");
    EXPECT_EQ(first->events()[1].state, "受信中");
    EXPECT_EQ(first->events()[2].state, "保存中");
    EXPECT_EQ(first->events()[2].received, length);
    EXPECT_EQ(first->events().back().state, "保存完了");
    EXPECT_LE(first->events().front().time, first->events().back().time);
    EXPECT_EQ(loggedFor(*first), std::vector<SafeEvent::Stage>{SafeEvent::Stage::completed});
    EXPECT_FALSE(logged_.back().error);

    // The same name again: beside it, never over it.
    auto second = download(*tab, "/report");
    ASSERT_TRUE(ends(second));
    EXPECT_EQ(second->state(), State::completed);
    EXPECT_EQ(second->output(), granted_ / "report-1.pdf");
    EXPECT_EQ(test::readFile(granted_ / "report.pdf"), WebTestServer::generated(0, length));
    EXPECT_EQ(visible(granted_), (Names{"report-1.pdf", "report.pdf"}));
    EXPECT_NE(first->id, second->id);
    EXPECT_EQ(tab->downloads.get(), (std::vector<std::shared_ptr<BrowserDownload>>{first, second}));

    // Finished, it stays so: a cancel changes nothing.
    first->cancel();
    EXPECT_EQ(first->state(), State::completed);
    EXPECT_EQ(first->events().size(), 4u);
}

TEST_F(Downloads, ProgressFollowsTheTransferAndAChunkedBodyAnnouncesNoLength) {
    const int64_t length = 40 * 16384;
    server_.stream("/announced", {.length = length, .chunk = 16384, .interval = 30ms, .headers = attachment("a.bin")});
    auto announced = download(*tab, "/announced");
    ASSERT_TRUE(announced);
    std::vector<int64_t> seen;
    bool lengthKnown = true;
    auto watch = announced->changed.connect([&] {
        if (announced->state() != State::receiving) return;
        seen.push_back(announced->received());
        if (announced->received() > 0 && announced->expected() != length) lengthKnown = false;
    });
    ASSERT_TRUE(ends(announced));
    watch.disconnect();
    EXPECT_EQ(announced->state(), State::completed);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](int64_t r) { return r > 0 && r < length; }))
        << "the count moved while the bytes came";
    EXPECT_TRUE(lengthKnown);
    EXPECT_EQ(announced->received(), length);

    server_.stream("/chunked", {.length = 200000, .chunk = 20000, .announceLength = false, .headers = attachment("c.bin")});
    auto chunked = download(*tab, "/chunked");
    ASSERT_TRUE(ends(chunked));
    EXPECT_EQ(chunked->state(), State::completed);
    EXPECT_EQ(chunked->received(), 200000);
    EXPECT_EQ(chunked->expected(), std::nullopt);
    EXPECT_EQ(test::readFile(granted_ / "c.bin"), WebTestServer::generated(0, 200000));
}

TEST_F(Downloads, ACancelOrABrokenBodyLeavesNothingBehind) {
    // A slow body, cancelled while it comes.
    server_.stream("/slow", {.length = int64_t{1} << 30, .chunk = 8192, .interval = 40ms,
                             .headers = attachment("slow.bin")});
    auto slow = download(*tab, "/slow");
    ASSERT_TRUE(slow);
    ASSERT_TRUE(spinUntil([&] { return slow->state() == State::receiving && slow->received() > 0; }, 60s));
    EXPECT_EQ(rawValue(slow->state()), "受信中");
    EXPECT_TRUE(tab->active());
    slow->cancel();
    EXPECT_EQ(slow->state(), State::cancelling);
    EXPECT_EQ(rawValue(slow->state()), "中止しています");
    slow->cancel();
    ASSERT_TRUE(ends(slow));
    EXPECT_EQ(slow->state(), State::cancelled);
    EXPECT_EQ(rawValue(slow->state()), "中止済み");
    EXPECT_EQ(slow->notice(), "");
    // The engine's failure report and its finish come after the cancel and
    // change nothing; the server sees the connection go.
    ASSERT_TRUE(spinUntil([&] { return server_.streamsEnded("/slow") == 1; }, 60s));
    test::spinFor(200ms);
    EXPECT_EQ(slow->state(), State::cancelled);
    const Names names = eventNames(*slow);
    EXPECT_EQ(std::count(names.begin(), names.end(), "cancel-handler"), 1);
    EXPECT_EQ(names.back(), "terminal");
    EXPECT_EQ(std::count(names.begin(), names.end(), "terminal"), 1);
    EXPECT_FALSE(fs::exists(stageOf(granted_, *slow)));
    EXPECT_EQ(visible(granted_), Names{});
    EXPECT_EQ(loggedFor(*slow), std::vector<SafeEvent::Stage>{SafeEvent::Stage::cancelled});
    EXPECT_FALSE(tab->active());

    // The server closing the connection mid-body: failed, the partial
    // payload discarded.
    server_.stream("/broken", {.length = 4 << 20, .chunk = 65536, .breakAfter = 1 << 20,
                               .headers = attachment("broken.bin")});
    auto broken = download(*tab, "/broken");
    ASSERT_TRUE(ends(broken));
    EXPECT_EQ(broken->state(), State::failed);
    EXPECT_EQ(rawValue(broken->state()), "保存できませんでした");
    EXPECT_EQ(broken->notice(), BrowserDownload::transferFailedNotice) << "it says why";
    const Names brokenNames = eventNames(*broken);
    EXPECT_NE(std::find(brokenNames.begin(), brokenNames.end(), "transport-failed"), brokenNames.end());
    EXPECT_FALSE(fs::exists(stageOf(granted_, *broken)));
    EXPECT_EQ(visible(granted_), Names{});
    ASSERT_EQ(loggedFor(*broken), std::vector<SafeEvent::Stage>{SafeEvent::Stage::failed});
    EXPECT_EQ(logged_.back().error, ErrorCase::interruptedSave) << "the log says the transfer broke off";
}

namespace {

// The bytes gzip makes of data, as a server sends a compressed body.
std::string gzipped(const std::string& data) {
    GZlibCompressor* compressor = g_zlib_compressor_new(G_ZLIB_COMPRESSOR_FORMAT_GZIP, 6);
    GOutputStream* memory = g_memory_output_stream_new_resizable();
    GOutputStream* out = g_converter_output_stream_new(memory, G_CONVERTER(compressor));
    gsize written = 0;
    g_output_stream_write_all(out, data.data(), data.size(), &written, nullptr, nullptr);
    g_output_stream_close(out, nullptr, nullptr);
    const auto* bytes = static_cast<const char*>(g_memory_output_stream_get_data(G_MEMORY_OUTPUT_STREAM(memory)));
    std::string result(bytes, g_memory_output_stream_get_data_size(G_MEMORY_OUTPUT_STREAM(memory)));
    g_object_unref(out);
    g_object_unref(memory);
    g_object_unref(compressor);
    return result;
}

}  // namespace

// A server that stops sending before the end of the body it announced: the
// bytes that came are never published as the file, however the transport
// reports the end.
TEST_F(Downloads, ABodyCutShortOfItsLengthIsAFailureAndNothingIsPublished) {
    test::RawHttpServer raw;
    const int64_t announced = 5000000;
    const int64_t sent = 550000;
    const auto headers = [](const std::string& name, std::optional<int64_t> length) {
        std::map<std::string, std::string> h{{"Content-Type", "application/octet-stream"},
                                             {"Content-Disposition", "attachment; filename=" + name}};
        if (length) h["Content-Length"] = std::to_string(*length);
        return h;
    };
    // HTTP/1.0, which ends every body with the connection: closed early.
    raw.answer("/http10", test::RawHttpServer::head("1.0", headers("http10.bin", announced)) +
                              WebTestServer::generated(0, sent));
    // HTTP/1.1 with a length and fewer bytes.
    auto shortHeaders = headers("http11.bin", announced);
    shortHeaders["Connection"] = "close";
    raw.answer("/http11", test::RawHttpServer::head("1.1", shortHeaders) + WebTestServer::generated(0, sent));
    // A chunked body that stops in the middle of a chunk.
    auto chunkedHeaders = headers("chunked.bin", std::nullopt);
    chunkedHeaders["Transfer-Encoding"] = "chunked";
    chunkedHeaders["Connection"] = "close";
    raw.answer("/chunked", test::RawHttpServer::head("1.1", chunkedHeaders) + "10000\r\n" +
                               WebTestServer::generated(0, 0x10000) + "\r\n10000\r\n" +
                               WebTestServer::generated(0x10000, 0x8000));

    for (const std::string path : {"/http10", "/http11", "/chunked"}) {
        SCOPED_TRACE(path);
        auto cut = downloadFrom(*tab, raw.url(path));
        ASSERT_TRUE(ends(cut));
        EXPECT_EQ(cut->state(), State::failed);
        EXPECT_EQ(cut->notice(), BrowserDownload::transferFailedNotice);
        EXPECT_EQ(cut->output(), std::nullopt);
        EXPECT_EQ(visible(granted_), Names{}) << "nothing under any name";
        EXPECT_FALSE(fs::exists(stageOf(granted_, *cut))) << "the bytes are gone";
        const Names names = eventNames(*cut);
        EXPECT_EQ(std::count(names.begin(), names.end(), "received-complete"), 0);
        // Why, in the trail: the engine's failure, or the finish it reported
        // for a body short of its length.
        EXPECT_EQ(std::count(names.begin(), names.end(), "transport-failed") +
                      std::count(names.begin(), names.end(), "transfer-incomplete"),
                  1);
        EXPECT_EQ(names.back(), "terminal");
        ASSERT_EQ(loggedFor(*cut), std::vector<SafeEvent::Stage>{SafeEvent::Stage::failed});
        EXPECT_EQ(logged_.back().error, ErrorCase::interruptedSave) << "the log says the transfer broke off";
    }
    // The cut bodies left no trace in the destination.
    EXPECT_EQ(visible(granted_), Names{});
}

TEST_F(Downloads, AWholeBodyCompletesWithOrWithoutALengthAndNothingPastItsLength) {
    test::RawHttpServer raw;
    const auto headers = [](const std::string& name) {
        return std::map<std::string, std::string>{{"Content-Type", "application/octet-stream"},
                                                  {"Content-Disposition", "attachment; filename=" + name}};
    };
    // No length: the body is whatever comes before the connection closes.
    raw.answer("/unannounced", test::RawHttpServer::head("1.0", headers("whole.bin")) +
                                   WebTestServer::generated(0, 300000));
    auto whole = downloadFrom(*tab, raw.url("/unannounced"));
    ASSERT_TRUE(ends(whole));
    EXPECT_EQ(whole->state(), State::completed);
    EXPECT_EQ(whole->notice(), "");
    EXPECT_EQ(test::readFile(granted_ / "whole.bin"), WebTestServer::generated(0, 300000));

    // More bytes than announced: the body is the announced length; what
    // follows belongs to no file.
    auto longer = headers("longer.bin");
    longer["Content-Length"] = "200000";
    longer["Connection"] = "close";
    raw.answer("/longer", test::RawHttpServer::head("1.1", longer) + WebTestServer::generated(0, 260000));
    auto past = downloadFrom(*tab, raw.url("/longer"));
    ASSERT_TRUE(ends(past));
    EXPECT_EQ(past->state(), State::completed);
    EXPECT_EQ(test::readFile(granted_ / "longer.bin"), WebTestServer::generated(0, 200000));

    // A compressed body announces its compressed length; the file is the
    // whole body as it was meant.
    const std::string plain = WebTestServer::generated(0, 100000) + std::string(100000, 'a');
    const std::string packed = gzipped(plain);
    auto compressed = headers("packed.bin");
    compressed["Content-Length"] = std::to_string(packed.size());
    compressed["Content-Encoding"] = "gzip";
    compressed["Connection"] = "close";
    raw.answer("/packed", test::RawHttpServer::head("1.1", compressed) + packed);
    auto unpacked = downloadFrom(*tab, raw.url("/packed"));
    ASSERT_TRUE(ends(unpacked));
    EXPECT_EQ(unpacked->state(), State::completed);
    EXPECT_EQ(test::readFile(granted_ / "packed.bin"), plain);
    EXPECT_EQ(loggedFor(*unpacked), std::vector<SafeEvent::Stage>{SafeEvent::Stage::completed});
}

TEST_F(Downloads, AskingSavesOnlyIntoTheChosenFolder) {
    askEachTime();
    const fs::path chosen = dir_ / "選んだフォルダ";
    fs::create_directories(chosen);
    server_.bytes("/a.txt", "text/plain", "chosen bytes", attachment("a.txt"));

    // A chosen folder receives the file.
    auto toChosen = download(*tab, "/a.txt");
    ASSERT_TRUE(spinUntil([&] { return chooser_.open(); }, 60s));
    EXPECT_EQ(toChosen->state(), State::destination);
    EXPECT_EQ(toChosen->name(), "a.txt");
    chooser_.answer(chosen);
    ASSERT_TRUE(ends(toChosen));
    EXPECT_EQ(toChosen->state(), State::completed);
    EXPECT_EQ(toChosen->output(), chosen / "a.txt");
    EXPECT_EQ(test::readFile(chosen / "a.txt"), "chosen bytes");
    EXPECT_EQ(settings_.value().destinationID, access_.approve(chosen).id) << "remembered as the saved folder";

    // Dismissed: cancelled, without a notice, nothing made.
    auto dismissed = download(*tab, "/a.txt");
    ASSERT_TRUE(spinUntil([&] { return chooser_.open(); }, 60s));
    chooser_.answer(std::nullopt);
    ASSERT_TRUE(ends(dismissed));
    EXPECT_EQ(dismissed->state(), State::cancelled);
    EXPECT_EQ(dismissed->notice(), "");
    EXPECT_EQ(loggedFor(*dismissed), std::vector<SafeEvent::Stage>{SafeEvent::Stage::cancelled});

    // Cancelled while the chooser is open: it stays cancelled, and the
    // folder chosen afterwards gets no stage.
    const fs::path late = dir_ / "後で選んだ";
    fs::create_directories(late);
    auto cancelled = download(*tab, "/a.txt");
    ASSERT_TRUE(spinUntil([&] { return chooser_.open(); }, 60s));
    cancelled->cancel();
    EXPECT_EQ(cancelled->state(), State::cancelling);
    // It ends while the chooser is still open: a tab that waits for its
    // downloads before it closes is not held by a dialog.
    ASSERT_TRUE(ends(cancelled));
    EXPECT_EQ(cancelled->state(), State::cancelled);
    EXPECT_TRUE(chooser_.open());
    chooser_.answer(late);
    test::spinFor(200ms);
    EXPECT_EQ(cancelled->state(), State::cancelled);
    EXPECT_FALSE(fs::exists(late / DownloadStage::rootName));
    EXPECT_EQ(visible(late), Names{});
    EXPECT_EQ(chooser_.opened, 3);
    EXPECT_EQ(visible(chosen), Names{"a.txt"});
}

TEST_F(Downloads, WithoutAUsableSavedFolderNothingIsWrittenAnywhere) {
    server_.bytes("/a.txt", "text/plain", "bytes", attachment("a.txt"));
    auto refusedWith = [&](const std::shared_ptr<BrowserDownload>& d) {
        EXPECT_TRUE(ends(d));
        EXPECT_EQ(d->state(), State::failed);
        EXPECT_EQ(d->notice(), "保存先を選び直してください。別の場所には保存しません。");
        EXPECT_EQ(eventNames(*d), (Names{"started", "terminal"}));
        EXPECT_EQ(loggedFor(*d), std::vector<SafeEvent::Stage>{SafeEvent::Stage::failed});
    };

    // "automatic" without a saved folder: no chooser, failed.
    saveAutomatically(std::nullopt);
    refusedWith(download(*tab, "/a.txt"));
    // The saved folder removed since it was approved.
    const fs::path gone = dir_ / "消えたフォルダ";
    fs::create_directories(gone);
    saveAutomatically(gone);
    fs::remove(gone);
    refusedWith(download(*tab, "/a.txt"));
    EXPECT_EQ(chooser_.opened, 0);
    EXPECT_FALSE(fs::exists(gone));

    // A redirect to an address with a user name ends failed with nothing
    // written, even into the saved folder.
    saveAutomatically(granted_);
    // (A link with a download attribute: a download from its start, so the
    // redirect happens inside it, past every navigation policy.)
    server_.redirect("/hop", "http://user@127.0.0.1:" + std::to_string(server_.port()) + "/a.txt");
    server_.html("/links", test::page("リンク", "<a href='/hop' download>file</a>"));
    load(*tab, "/links", "リンク");
    const std::size_t before = tab->downloads->size();
    const int fetched = server_.requests("/a.txt");
    run(*tab, "document.querySelector('a').click(); true");
    ASSERT_TRUE(spinUntil([&] { return tab->downloads->size() > before; }, 60s));
    auto redirected = tab->downloads->back();
    ASSERT_TRUE(ends(redirected));
    EXPECT_EQ(redirected->state(), State::failed);
    // The engine followed the redirect and delivered the response; the
    // download's own check refused it before anything was made.
    EXPECT_GT(server_.requests("/a.txt"), fetched);
    EXPECT_EQ(eventNames(*redirected), (Names{"started", "terminal"}));
    EXPECT_FALSE(fs::exists(granted_ / DownloadStage::rootName));
    EXPECT_EQ(visible(granted_), Names{});
    EXPECT_EQ(visible(dir_ / "out"), Names{});
}

TEST_F(Downloads, APrivateTabsDownloadPublishesToo) {
    auto privateTab = newTab(true);
    handDownloads(*privateTab);
    server_.stream("/p", {.length = 100000, .headers = attachment("private.bin")});
    auto d = download(*privateTab, "/p");
    ASSERT_TRUE(d);
    EXPECT_TRUE(d->isPrivate);
    ASSERT_TRUE(ends(d));
    EXPECT_EQ(d->state(), State::completed);
    EXPECT_EQ(test::readFile(granted_ / "private.bin"), WebTestServer::generated(0, 100000));
    ASSERT_EQ(loggedFor(*d), std::vector<SafeEvent::Stage>{SafeEvent::Stage::completed});
    // The event record is the job, the stage and the date: no address.
    SafeEvent event{d->id, SafeEvent::Stage::completed, Date{}, std::nullopt, std::nullopt};
    EXPECT_EQ(JSON::print(Json(event)).find("127.0.0.1"), std::string::npos);
}

TEST_F(Downloads, AQuarterGigabytePublishesByteExact) {
    const int64_t length = int64_t{256} << 20;
    server_.stream("/big", {.length = length, .chunk = 1 << 20, .headers = attachment("big.bin")});
    auto big = download(*tab, "/big");
    ASSERT_TRUE(ends(big));
    ASSERT_EQ(big->state(), State::completed);
    EXPECT_EQ(big->received(), length);
    ASSERT_EQ(big->output(), granted_ / "big.bin");
    EXPECT_EQ(fs::file_size(granted_ / "big.bin"), static_cast<uintmax_t>(length));
    EXPECT_EQ(Digest::file(granted_ / "big.bin"), WebTestServer::generatedDigest(length));
}

TEST(DownloadStates, TheLabelsAreTheRawValuesAndOnlyTheyDecode) {
    const std::vector<std::pair<State, std::string>> labels{
        {State::destination, "保存先の確認中"}, {State::receiving, "受信中"},       {State::cancelling, "中止しています"},
        {State::committing, "保存中"},           {State::completed, "保存完了"},     {State::cancelled, "中止済み"},
        {State::failed, "保存できませんでした"}};
    for (const auto& [state, label] : labels) {
        EXPECT_EQ(rawValue(state), label);
        EXPECT_EQ(fromRaw<State>(label), state);
    }
    for (const char* other : {"", "completed", "保存完了 ", "受信"}) EXPECT_EQ(fromRaw<State>(other), std::nullopt) << other;
}
