// Writes each fuzz target's seed corpus: the files the product itself saves,
// made by its own writers in a scratch folder, plus the damaged shapes the
// unit tests feed the readers (truncated, another version, a wrong type).
//   velmora_fuzz_seeds <seed folder>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include <gdk-pixbuf/gdk-pixbuf.h>

#include "capture/DownloadStage.hpp"
#include "capture/TabRestoration.hpp"
#include "foundation/AppPreferences.hpp"
#include "foundation/Base64.hpp"
#include "foundation/OutputAccess.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "foundation/SafeEvent.hpp"
#include "foundation/SettingsStore.hpp"
#include "foundation/SettingsTransfer.hpp"
#include "history/CaptureHistory.hpp"
#include "history/CaptureLifecycle.hpp"
#include "ocrjobs/JobStore.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "ocrjobs/QueueEditJournal.hpp"
#include "ocrjobs/QueueSnapshot.hpp"
#include "ocrjobs/OCRDecorationState.hpp"
#include "support/FuzzFixtures.hpp"
#include "support/FuzzSupport.hpp"
#include "support/RasterFiles.hpp"

using namespace velmora;
namespace fs = std::filesystem;

namespace {

fs::path seeds;
int written = 0;

std::vector<uint8_t> slurp(const fs::path& url) {
    std::ifstream in(url, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

void put(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    fs::create_directories(seeds / target);
    fuzz::writeFile(seeds / target / name, bytes);
    ++written;
}

// The file as written, and the damaged shapes of it that the unit tests use:
// cut in half, cut before its last byte, and with its first number changed.
void seed(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes) {
    put(target, name, bytes);
    put("json", target + "-" + name, bytes);
    put(target, name + "-half", {bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2)});
    if (!bytes.empty()) put(target, name + "-cut", {bytes.begin(), bytes.end() - 1});
    std::string text(bytes.begin(), bytes.end());
    const auto digit = text.find_first_of("0123456789");
    if (digit != std::string::npos) {
        text[digit] = text[digit] == '9' ? '2' : static_cast<char>(text[digit] + 1);
        put(target, name + "-number", bytesOf(text));
    }
}

// A value of another type under an existing key.
std::vector<uint8_t> retyped(const std::vector<uint8_t>& bytes, const std::string& key) {
    Json j = JSON::parse(bytes);
    j[key] = Json::array({true});
    return JSON::bytes(j);
}

// Originals of the OCR section: small whole pages, the same cut at half,
// other formats under a PNG name, a frame header past the load limit and a
// PDF page whose image is too long for cairo.
void sourceFiles(const fs::path& work) {
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 24, 16);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24 * 3; ++x) pixels[y * gdk_pixbuf_get_rowstride(pixbuf) + x] = static_cast<guchar>(x * y);
    }
    auto saved = [&](const char* type) {
        gchar* buffer = nullptr;
        gsize size = 0;
        if (!gdk_pixbuf_save_to_buffer(pixbuf, &buffer, &size, type, nullptr, nullptr)) {
            throw std::runtime_error(std::string("saving a ") + type + " seed");
        }
        std::vector<uint8_t> bytes(buffer, buffer + size);
        g_free(buffer);
        return bytes;
    };
    const std::vector<uint8_t> png = saved("png"), jpeg = saved("jpeg");
    for (const auto& [name, bytes] : {std::pair{"page.png", png}, std::pair{"page.jpg", jpeg}}) {
        put("source_file", name, bytes);
        put("source_file", std::string(name) + "-half", {bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2)});
    }
    put("source_file", "tiff", saved("tiff"));
    put("source_file", "bmp", saved("bmp"));
    g_object_unref(pixbuf);
    put("source_file", "svg", bytesOf("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"9\" height=\"9\"/>"));
    std::vector<uint8_t> wide = jpeg;
    for (std::size_t i = 0; i + 9 < wide.size(); ++i) {
        if (wide[i] == 0xff && wide[i + 1] == 0xc0) {
            wide[i + 5] = wide[i + 7] = 0xea;
            wide[i + 6] = wide[i + 8] = 0x60;
            break;
        }
    }
    put("source_file", "jpeg-60000", wide);
    test::writeImagePagePDF(work / "line.pdf", 33000, 1);
    put("source_file", "pdf-image-33000", slurp(work / "line.pdf"));
}

void preferences(const fs::path& work) {
    SettingsStore store(work / "settings");
    store.change([](AppPreferences& p) { p.mobileWidth = 430; });
    const auto first = slurp(work / "settings" / "preferences.json");
    seed("app_preferences", "defaults", first);
    store.change([](AppPreferences& p) {
        p.saveMode = AppPreferences::SaveMode::automatic;
        p.panel = AppPreferences::Panel::bottom;
        p.destinationID = UUID::random();
        p.restoreTabs = true;
        p.restoreEpoch = UUID::random();
        p.historyDays = 30;
    });
    const auto changed = slurp(work / "settings" / "preferences.json");
    seed("app_preferences", "changed", changed);
    seed("app_preferences", "retyped", retyped(changed, "mobileWidth"));
    seed("app_preferences", "product-retyped", retyped(changed, "product"));
    put("app_preferences", "array", bytesOf("[]"));

    const auto exported = store.exportSettings(work / "exports", "settings");
    const auto transfer = slurp(exported);
    seed("settings_transfer", "export", transfer);
    seed("held_settings", "export", transfer);
    seed("settings_transfer", "retyped", retyped(transfer, "settings"));
    Json j = JSON::parse(transfer);
    j["appVersion"] = std::string(130, 'v');
    seed("settings_transfer", "long-version", JSON::bytes(j));
    j = JSON::parse(transfer);
    j["unknown"] = 1;
    seed("settings_transfer", "extra-key", JSON::bytes(j));
    seed("held_settings", "extra-key", JSON::bytes(j));
    // Every portable field away from its default.
    store.change([](AppPreferences& p) {
        p.mobileWidth = 390;
        p.lazyLoad = false;
        p.automaticOCR = false;
        p.historyDays = 90;
        p.logDays = 180;
    });
    seed("held_settings", "changed", slurp(store.exportSettings(work / "exports", "changed")));
}

void base64() {
    for (std::string text : {"", "a", "ab", "abc", "abcd", "ベルモラ"}) {
        put("base64", "text-" + std::to_string(text.size()), bytesOf(Base64::encode(bytesOf(text))));
    }
    put("base64", "line-break", bytesOf("YWJj\nZA=="));
    put("base64", "inner-padding", bytesOf("YW=jZA=="));
    put("base64", "missing-padding", bytesOf("YWJjZA"));
}

void ownedRecords(const fs::path& work) {
    const UUID attempt = UUID::random();
    {
        OwnedWorkspace folder(work / "owned", OwnedRecord::Purpose::capture, UUID::random(), UUID::random(), attempt);
        folder.write(bytesOf("tile"), "png");
        seed("owned_record", "active", slurp(work / "owned" / attempt.text() / "owner.json"));
        folder.finish();
        seed("owned_record", "finished", slurp(work / "owned" / attempt.text() / "owner.json"));
    }
    const UUID scratch = UUID::random();
    OwnedWorkspace print(work / "owned", OwnedRecord::Purpose::printScratch, UUID::random(), UUID::random(), scratch);
    print.reserveMutablePDF();
    seed("owned_record", "print", slurp(work / "owned" / scratch.text() / "owner.json"));
}

void events() {
    const auto now = std::chrono::system_clock::now();
    const SafeEvent fresh{UUID::random(), SafeEvent::Stage::started, historyNow(), std::nullopt, std::nullopt};
    seed("safe_event", "fresh", JSON::encode(fresh));
    const SafeEvent old{UUID::random(), SafeEvent::Stage::failed,
                        std::chrono::time_point_cast<std::chrono::seconds>(now - std::chrono::hours(24 * 400)), 3,
                        ErrorCase::saveFailed};
    seed("safe_event", "old", JSON::encode(old));
    Json j = JSON::parse(JSON::encode(old));
    j["note"] = "extra";
    seed("safe_event", "extra-key", JSON::bytes(j));
}

void grants(const fs::path& work) {
    fs::create_directories(work / "out" / "first");
    fs::create_directories(work / "out" / "second");
    OutputAccess access(AppRuntime{work / "storage", work / "out"});
    access.approve(work / "out" / "first");
    access.approve(work / "out" / "second");
    const auto file = slurp(work / "storage" / OutputAccess::folderName / OutputAccess::fileName);
    seed("output_access", "two", file);
    Json j = JSON::parse(file);
    j["folders"].push_back(j["folders"][0]);
    seed("output_access", "repeated", JSON::bytes(j));
    j = JSON::parse(file);
    j["folders"][0]["bookmark"] = "not base64!";
    seed("output_access", "bookmark", JSON::bytes(j));
}

OCRDecorationState editedPage() {
    OCRDecorationState d("請求書 第12号\n合計 3,400円", {TextRange{4, 3}, TextRange{12, 2}});
    d.update("請求書 第13号\n合計 3,400円");
    d.update("請求書 第13号\n合計 3,500円です");
    return d;
}

void decorations() {
    seed("decoration_state", "edited", JSON::encode(editedPage()));
    seed("decoration_state", "fresh", JSON::encode(OCRDecorationState("abc", {TextRange{0, 1}})));
    Json j = JSON::parse(JSON::encode(editedPage()));
    j["marks"].push_back(1);
    seed("decoration_state", "long-marks", JSON::bytes(j));
}

void checkpoints(const fs::path& work) {
    const OCRSettings settings;
    const auto parent = work / "jobs";
    auto store = JobStore::create(fuzz::fixtureSource(), settings, parent);
    const auto folder = store->directory()->url();
    auto save = [&](const std::string& name) {
        const auto file = slurp(folder / "checkpoint.json");
        seed("checkpoint", name, file);
        seed("checkpoint", name + "-payload", JSON::decode<CheckpointEnvelope>(file).payload);
    };
    save("new");
    store->begin(1);
    store->fail(1, ErrorCase::renderFailed);
    store->begin(2);
    save("running");
    store->retryFailed({1});
    store->skipPending();
    save("cancelled");
    Json j = JSON::parse(slurp(folder / "checkpoint.json"));
    j["sha256"] = std::string(64, '0');
    seed("checkpoint", "digest", JSON::bytes(j));
}

void queues(const fs::path& work) {
    const OCRSettings settings;
    const auto parent = work / "queues";
    fs::create_directories(work / "inputs");
    fuzz::writeFile(work / "inputs" / "scan.png", bytesOf("not an image"));
    auto engine = OCRQueueEngine::create({{work / "inputs" / "scan.png", InputOrigin::normal},
                                          {work / "inputs" / "missing.pdf", InputOrigin::normal}},
                                         settings, parent);
    for (const auto& entry : fs::directory_iterator(parent)) {
        const auto file = slurp(entry.path() / std::string(OCRQueueEngine::queueFileName));
        seed("queue_snapshot", "created", file);
        seed("queue_snapshot", "created-payload", JSON::decode<QueueEnvelope>(file).payload);
    }
    // A queue as the engine saves it once a page was edited and exported:
    // the same envelope the engine writes, around a fuller snapshot.
    QueueInput input((work / "inputs" / "scan.pdf").string(), InputOrigin::normal);
    input.source = fuzz::fixtureSource();
    input.attemptID = UUID::random();
    input.status = InputStatus::completed;
    input.pages = {PageRecord(1, PageState::completed, "page-1.json", std::string(64, 'a')),
                   PageRecord(2, PageState::failed, std::nullopt, std::nullopt, ErrorCase::renderFailed,
                              std::vector<ErrorCase>{ErrorCase::loadTimeout}),
                   PageRecord(3)};
    input.editedPages[1] = "直した文";
    QueueSnapshot snapshot(settings, {input});
    snapshot.editorStates = std::map<std::string, QueueEditorState>{
        {"page-1", QueueEditorState(input.id, 1, std::string(64, 'a'), editedPage())}};
    snapshot.selectedInput = input.id;
    snapshot.selectedPage = 1;
    snapshot.automaticExports = std::vector<std::string>{input.id.text()};
    snapshot.exportJournal = std::map<std::string, QueueExportRecord>{
        {input.id.text(), QueueExportRecord("/fuzz/out/scan.txt", FileStamp{}, true)}};
    const auto file = JSON::encode(QueueEnvelope::seal(snapshot));
    seed("queue_snapshot", "edited", file);
    seed("queue_snapshot", "edited-payload", JSON::decode<QueueEnvelope>(file).payload);
}

// Edit journals as the engine appends them: records of the fixture queue's
// input (text, highlights and selection), one of another queue, and the
// shapes a crash leaves (a record cut short, a record whose byte flipped).
void journals() {
    const auto queue = UUID::parse(fuzz::journalQueueID);
    const auto input = UUID::parse(fuzz::journalInputID);
    QueueJournalRecord text;
    text.sequence = 1;
    text.queueID = *queue;
    text.inputID = *input;
    text.page = 1;
    text.text = "直した文";
    text.selection = true;
    QueueJournalRecord highlights = text;
    highlights.sequence = 2;
    highlights.key = "page-1";
    highlights.editor = QueueEditorState(*input, 1, fuzz::journalPageChecksum(), editedPage());
    highlights.presentation = QueuePresentation(true, false, true, true, false);
    QueueJournalRecord foreign = text;
    foreign.sequence = 3;
    foreign.queueID = UUID::random();
    std::vector<uint8_t> all;
    for (const auto& r : {highlights, text, foreign}) {
        const auto bytes = QueueEditJournal::encode(r);
        all.insert(all.end(), bytes.begin(), bytes.end());
    }
    seed("edit_journal", "records", all);
    seed("edit_journal", "one-record", QueueEditJournal::encode(text));
    std::vector<uint8_t> torn = all;
    torn.resize(all.size() - 7);
    seed("edit_journal", "torn", torn);
    std::vector<uint8_t> flipped = all;
    flipped[QueueEditJournal::headerBytes + 5] ^= 0x20;
    seed("edit_journal", "flipped", flipped);
    seed("edit_journal", "payload", JSON::encode(highlights));
}

void tabs(const fs::path& work) {
    SettingsStore settings(work / "tab-settings");
    TabRestoration restoration(work / "tabs", settings);
    restoration.setEnabled(true);
    restoration.load();
    const UUID tab1 = UUID::random(), tab2 = UUID::random();
    const auto window = TabRestoration::snapshotWindow(
        UUID::random(),
        {RestorableTab{tab1, false, std::nullopt, false, "https://example.com/a?q=1#top", "GET"},
         RestorableTab{tab2, false, std::nullopt, false, "https://example.com/login?token=x", "GET"},
         RestorableTab{UUID::random(), false, std::nullopt, false, "https://例え.jp/パス", "GET"}},
        tab1);
    restoration.save({*window});
    const auto file = slurp(work / "tabs" / TabRestoration::snapshotName);
    seed("tab_snapshot", "two-windows", file);
    Json j = JSON::parse(file);
    j["windows"][0]["tabs"].push_back(j["windows"][0]["tabs"][0]);
    seed("tab_snapshot", "repeated-tab", JSON::bytes(j));
    j = JSON::parse(file);
    j["generation"] = 18446744073709551615ull;
    seed("tab_snapshot", "last-generation", JSON::bytes(j));
    restoration.setEnabled(false);
}

void history(const fs::path& work) {
    const auto outputs = work / "outputs";
    fs::create_directories(outputs);
    fuzz::writeFile(outputs / "page.png", bytesOf("png bytes"));
    fuzz::writeFile(outputs / "page.pdf", bytesOf("pdf bytes"));
    CaptureHistory history(work / "history", {outputs});
    history.registerOutputs({outputs / "page.png", outputs / "page.pdf"}, "capture", false, std::nullopt, {});
    history.registerOutputs({outputs / "page.pdf"}, "print", false, ErrorCase::interruptedSave, {});
    const auto file = slurp(work / "history" / CaptureHistory::fileName);
    seed("capture_history", "two", file);
    seed("capture_history", "legacy", JSON::bytes(JSON::parse(file)["entries"]));
    seed("capture_history", "entry-retyped", retyped(JSON::bytes(JSON::parse(file)["entries"][0]), "outputs"));

    // Journals: one left mid-publication (as after a crash), one finished.
    const auto root = work / "lifecycle";
    fuzz::writeFile(outputs / "capture.png", bytesOf("captured"));
    {
        CaptureLifecycle open(root, "capture", CaptureMetadata::normal("https://example.com/", "例のページ"));
        open.expect(1);
        open.prepare(outputs / "capture.png", FileStamp::read(outputs / "capture.png"));
        seed("capture_lifecycle", "publishing",
             slurp(open.directory().url() / CaptureLifecycle::journalName));
        open.finish(history);
        seed("capture_lifecycle", "finished", slurp(open.directory().url() / CaptureLifecycle::journalName));
    }
    CaptureLifecycle print(root, "print");
    seed("capture_lifecycle", "started", slurp(print.directory().url() / CaptureLifecycle::journalName));
}

void pageResults(const fs::path& work) {
    const OCRSettings settings;
    auto store = JobStore::create(fuzz::fixtureSource(), settings, work / "page-jobs");
    const auto folder = store->directory()->url();
    store->begin(1);
    store->commit(PageResult(1,
                             {TextRegion("請求書 第12号", 0.93f, 0.1, 0.8, 0.5, 0.05, RegionKind::printedCandidate),
                              TextRegion("合計 3,400円", 0.61f, 0.1, 0.7, 0.4, 0.05, RegionKind::handwrittenCandidate),
                              TextRegion("", 0.0f, 0, 0, 0, 0)},
                             1.25, 2480, 3508, std::string(OCRRoute::standard), 1, 3508, 2480, 0.5));
    seed("page_result", "regions", slurp(folder / CheckpointFile::pageFileName(1)));
    store->begin(2);
    store->commit(PageResult(2, {}, 0.01, 10, 10, std::string(OCRRoute::verticalReflow)));
    seed("page_result", "empty", slurp(folder / CheckpointFile::pageFileName(2)));
    Json j = JSON::parse(slurp(folder / CheckpointFile::pageFileName(1)));
    j.erase("route");
    seed("page_result", "no-route", JSON::bytes(j));
}

void downloadStages(const fs::path& work) {
    // A finished stage is taken away, so its record is the one a stage that
    // could not be removed keeps for the next launch's sweep.
    DownloadStage open(work / "downloads", UUID::random());
    const auto receiving = slurp(open.directory().url() / DownloadStage::ownerName);
    seed("download_stage", "receiving", receiving);
    Json j = JSON::parse(receiving);
    j["finished"] = true;
    seed("download_stage", "finished", JSON::bytes(j));
    j["purpose"] = "other";
    seed("download_stage", "foreign", JSON::bytes(j));
    open.discard();
}

void tabRestorations(const fs::path& work) {
    for (const auto& entry : fs::directory_iterator(seeds / "tab_snapshot")) {
        put("tab_restoration", entry.path().filename().string(), slurp(entry.path()));
    }
    // A snapshot of the current period with a stage a killed save left.
    SettingsStore settings(work / "restore-settings");
    TabRestoration restoration(work / "restore-tabs", settings);
    restoration.setEnabled(true);
    restoration.save({*TabRestoration::snapshotWindow(
        UUID::random(), {RestorableTab{UUID::random(), false, std::nullopt, false, "https://example.com/", "GET"}},
        UUID::random())});
    seed("tab_restoration", "one-tab", slurp(work / "restore-tabs" / TabRestoration::snapshotName));
    restoration.setEnabled(false);
    seed("tab_restoration", "switched-off", slurp(work / "restore-tabs" / TabRestoration::snapshotName));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <seed folder>\n", argv[0]);
        return 2;
    }
    seeds = argv[1];
    std::error_code ec;
    fs::remove_all(seeds, ec);
    const fs::path work = fuzz::freshFolder("seed-work");
    try {
        base64();
        preferences(work);
        ownedRecords(work);
        events();
        grants(work);
        decorations();
        checkpoints(work);
        queues(work);
        journals();
        tabs(work);
        tabRestorations(work);
        history(work);
        pageResults(work);
        downloadStages(work);
        sourceFiles(work);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "writing the seeds failed: %s\n", e.what());
        return 1;
    }
    std::printf("%d seed files in %s\n", written, seeds.c_str());
    return 0;
}
