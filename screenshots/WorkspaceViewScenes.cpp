// Whole workspace windows, one per section, with realistic content: a news
// page in the web section (a private tab selected beside it; crowded with
// every strip, a refusal and the downloads over the page, in both panel
// places), the OCR
// section, the history section with saved outputs while another tab's save
// runs (its strip at the bottom, a status line), a print of many pages
// selected in the history, and the settings section, also after an export.
// At the window's least size: the downloads, running and after a failure.
// Each scene has a window set of its own, kept until the process ends.
#include <gtk/gtk.h>
#include <gtkmm/button.h>
#include <unicode/locid.h>

#include <fstream>

#include "Scene.hpp"
#include "foundation/JSON.hpp"
#include "foundation/Raster.hpp"
#include "foundation/SecureDirectory.hpp"
#include "history/CaptureHistory.hpp"
#include "ocrjobs/JobControl.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/TextPages.hpp"
#include "support/web/WebTestServer.hpp"
#include "workspace/model/AppServices.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "settingsui/SettingsScreen.hpp"
#include "workspace/sections/HistoryView.hpp"
#include "workspace/windows/WorkspaceView.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

namespace velmora::screenshots {

namespace {

namespace fs = std::filesystem;
using Section = WindowModel::Section;

const char* newsPage =
    "<!doctype html><html lang=ja><head><meta charset=utf-8><title>地域の話題｜サンプル新聞</title>"
    "<style>body{font-family:'Noto Sans CJK JP',sans-serif;margin:0;color:#222}"
    "header{background:#12507a;color:#fff;padding:18px 40px;font-size:22px;font-weight:bold}"
    "main{padding:24px 40px;max-width:760px}h1{font-size:24px}p{line-height:1.8}"
    ".photo{height:180px;background:linear-gradient(#9cc3e6,#e9f1f8);border-radius:6px;margin:16px 0}"
    "</style></head><body><header>サンプル新聞</header><main><h1>冬の市民講座、申し込み始まる</h1>"
    "<p>市の生涯学習センターは七日、一月から始まる冬の市民講座の申し込み受付を開始した。"
    "今年は写真の整理やパソコンでの文書作成など十二の講座を用意している。</p><div class=photo></div>"
    "<p>申し込みは窓口またはウェブサイトで受け付け、定員を超えた場合は抽選とする。</p></main></body></html>";

// Its windows join the application, so they show its menu bar.
WorkspaceWindows& sceneSet(Stage& stage) {
    stage.app.application()->activate();
    AppServices& services = stage.app.services ? stage.app.services() : AppServices::shared();
    auto* set = new WorkspaceWindows(services, stage.app.application());
    set->quitApplication = [] {};
    return *set;
}

// A window whose selected tab shows the news page, loaded.
WorkspaceWindow* newsWindow(Stage& stage, WorkspaceWindows& set) {
    stage.server.html("/news", newsPage);
    auto* window = set.open(std::nullopt);
    if (!window) return nullptr;
    auto& model = *window->model();
    model.setAddress(stage.server.url("/news"));
    model.navigate();
    auto tab = model.selectedTab();
    test::spinUntil([&] { return !tab->browser->loading && !tab->browser->pageTitle->empty(); });
    return window;
}

Gtk::Window* webSection(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = newsWindow(stage, set);
    if (!window) return nullptr;
    // A private tab beside it, selected: the top bar says so.
    auto& model = *window->model();
    model.addTab(true);
    return &window->window();
}

// The news page with the control panel at the bottom, in a window of the
// default size: the page keeps half the window's height, the panel gives
// way and scrolls.
Gtk::Window* webSectionBottom(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = newsWindow(stage, set);
    if (!window) return nullptr;
    window->model()->panel = AppPreferences::Panel::bottom;
    return &window->window();
}

// The OCR section after a real run over one page of Japanese text.
Gtk::Window* ocrSection(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = set.open(std::nullopt);
    if (!window) return nullptr;
    test::TextLayout layout;
    layout.width = 827;
    layout.height = 1169;
    layout.pixelSize = 24;
    layout.left = 80;
    layout.top = 110;
    layout.lineAdvance = 1.9;
    const test::TextPage page = test::renderParagraphs(
        layout, {"市民講座のご案内", "一月から始まる冬の市民講座では、写真の整理や文書作成など十二の講座を用意しました。",
                 "申し込みは窓口またはウェブサイトで受け付けます。定員を超えた場合は抽選とします。"});
    const fs::path file = stage.storage.parent_path() / "市民講座のご案内.png";
    const auto bytes = Raster::png(page.image);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    auto& queue = *window->model()->queue;
    queue.select({file}, nullptr);
    auto run = queue.start();
    test::runTask(std::move(run));
    test::spinUntil([&] { return !queue.busy.get(); }, std::chrono::seconds(60));
    window->model()->section = Section::ocr;
    test::spinFor(std::chrono::milliseconds(300));
    return &window->window();
}

void sampleHistory(Stage& stage) {
    const fs::path dir = stage.storage.parent_path() / "out" / "ベルモラ";
    fs::create_directories(dir);
    const fs::path png = dir / "WEB_20261207_101500_地域の話題.png";
    test::writePNG(png, 1280, 4200, 3, [](int y, uint8_t* row) {
        for (int x = 0; x < 1280; ++x) {
            uint8_t* px = row + x * 3;
            if (y < 120) {
                px[0] = 18, px[1] = 80, px[2] = 122;
            } else if (x > 160 && x < 1120 && y % 36 < 16 && (x / 9 + y / 36) % 11 != 0) {
                px[0] = px[1] = px[2] = 90;
            } else {
                px[0] = px[1] = px[2] = 250;
            }
        }
    });
    CaptureHistoryEntry entry;
    entry.kind = "capture";
    entry.state = "completed";
    SavedOutput output;
    output.path = png.string();
    output.stamp = FileStamp::read(png);
    entry.outputs = {output};
    entry.created = historyNow() - std::chrono::minutes(8);
    entry.metadata = CaptureMetadata{"https://news.example.jp/local/2026/12/07/", "地域の話題｜サンプル新聞", "PNG",
                                     std::nullopt};
    Json j = Json::object();
    j["schemaVersion"] = 1;
    j["entries"] = std::vector<CaptureHistoryEntry>{entry};
    SecureDirectory(stage.storage / "history", true).replaceState(CaptureHistory::fileName, JSON::bytes(j));
}

// The history while another tab of the window saves: its strip leads back.
Gtk::Window* historySection(Stage& stage) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("ja_JP"), status);
    sampleHistory(stage);
    auto& set = sceneSet(stage);
    auto* window = newsWindow(stage, set);
    if (!window) return nullptr;
    auto& model = *window->model();
    auto tab = model.selectedTab();
    tab->browser->stage = "ページ全体を撮影中";
    tab->browser->operationPending = true;
    model.message = "保存を開始しました。";
    model.section = Section::history;
    test::spinFor(std::chrono::milliseconds(300));
    return &window->window();
}

// A print-style save of a manual's chapter (its PDF and nineteen page
// PNGs) beside a tall capture, the print selected, in a window of the
// default size: the pages are one line with their count and every action
// of the detail stays in sight; the tall capture's thumbnail shows the top
// of its page.
Gtk::Window* historyPrint(Stage& stage) {
    UErrorCode status = U_ZERO_ERROR;
    icu::Locale::setDefault(icu::Locale("ja_JP"), status);
    sampleHistory(stage);
    const fs::path dir = stage.storage.parent_path() / "out" / "ベルモラ" / "Print";
    fs::create_directories(dir);
    const std::string stem = "127.0.0.1_第4章 debian_ ディレクトリー以下に無くてはならない_20261207_103015";
    auto saved = [](const fs::path& p) {
        SavedOutput o;
        o.path = p.string();
        o.stamp = FileStamp::read(p);
        return o;
    };
    CaptureHistoryEntry print;
    print.kind = "print";
    print.state = "completed";
    const fs::path pdf = dir / (stem + ".pdf");
    test::writePDF(pdf, {{595.28, 841.89}}, [](cairo_t* cr, int, test::PageSize size) {
        cairo_set_source_rgb(cr, 0.78, 0.1, 0.3);
        cairo_rectangle(cr, 60, 60, size.width - 200, 40);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.35, 0.35, 0.35);
        for (double y = 140; y < size.height - 80; y += 18) cairo_rectangle(cr, 60, y, size.width - 120, 7);
        cairo_fill(cr);
    });
    print.outputs.push_back(saved(pdf));
    for (int page = 1; page <= 19; ++page) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "_%04d.png", page);
        const fs::path png = dir / (stem + suffix);
        test::writePNG(png, 620, 877, 3, [page](int y, uint8_t* row) {
            for (int x = 0; x < 620; ++x) {
                uint8_t* px = row + x * 3;
                const bool line = x > 60 && x < 560 && y > 60 && y % 24 < 9 && (x / 7 + y / 24 + page) % 13 != 0;
                px[0] = px[1] = px[2] = line ? 80 : 252;
            }
        });
        print.outputs.push_back(saved(png));
    }
    print.created = historyNow() - std::chrono::minutes(3);
    print.metadata = CaptureMetadata{"http://127.0.0.1:18437/maint-guide-ja/dreq.ja.html",
                                     "第4章 debian/ ディレクトリー以下に無くてはならないファイル", "PDF + PNG",
                                     std::nullopt};
    const auto bytes = SecureDirectory(stage.storage / "history", true).read(CaptureHistory::fileName);
    Json j = JSON::parse(std::string(bytes.begin(), bytes.end()));
    j["entries"].push_back(print);
    SecureDirectory(stage.storage / "history", true).replaceState(CaptureHistory::fileName, JSON::bytes(j));

    auto& set = sceneSet(stage);
    auto* window = set.open(std::nullopt);
    if (!window) return nullptr;
    window->model()->section = Section::history;
    HistoryView* view = nullptr;
    test::spinUntil([&] {
        view = dynamic_cast<HistoryView*>(test::findByName(window->window(), HistoryView::Names::view));
        return view && view->model().entries().size() == 2;
    });
    if (!view) return nullptr;
    view->model().select(print.id);
    // Both thumbnails made before the picture is taken.
    test::spinUntil([&] {
        int pictures = 0;
        std::function<void(Gtk::Widget&)> walk = [&](Gtk::Widget& w) {
            if (w.get_name().raw() == HistoryView::Names::rowPicture && w.is_drawable()) ++pictures;
            for (Gtk::Widget* c = w.get_first_child(); c; c = c->get_next_sibling()) walk(*c);
        };
        walk(*view);
        return pictures == 2;
    });
    test::spinFor(std::chrono::milliseconds(200));
    return &window->window();
}

// Downloads go straight into an approved folder while a scene starts them;
// the settings are put back afterwards, so later scenes see them as they
// were (a download reads them when it starts).
class AutomaticDownloads {
public:
    explicit AutomaticDownloads(Stage& stage) : services_(stage.app.services()), earlier_(services_.settings.value()) {
        const auto folder = stage.storage.parent_path() / "downloads";
        fs::create_directories(folder);
        const OutputGrant grant = services_.access.approve(folder);
        services_.settings.change([&](AppPreferences& p) {
            p.saveMode = AppPreferences::SaveMode::automatic;
            p.destinationID = grant.id;
        });
    }
    ~AutomaticDownloads() {
        services_.settings.change([&](AppPreferences& p) {
            p.saveMode = earlier_.saveMode;
            p.destinationID = earlier_.destinationID;
        });
    }

private:
    AppServices& services_;
    AppPreferences earlier_;
};

test::WebTestServer::Headers attachment(const std::string& name) {
    return {{"Content-Disposition", "attachment; filename=" + name}};
}

// A download the tab's page starts, once it has its first bytes (or ended).
std::shared_ptr<BrowserDownload> startDownload(test::WebTestServer& server, BrowserTab& tab, const std::string& path) {
    const std::size_t index = tab.downloads->size();
    tab.browser->navigate(server.url(path));
    test::spinUntil([&] { return tab.downloads->size() > index; }, std::chrono::seconds(30));
    if (tab.downloads->size() <= index) return nullptr;
    auto download = tab.downloads.get()[index];
    test::spinUntil([&] { return download->received() > 0 || !download->active(); }, std::chrono::seconds(30));
    test::spinUntil([&] { return !tab.browser->loading; }, std::chrono::seconds(10));
    return download;
}

// A window with everything that can stand over the page at once: this
// window's OCR paused in the middle of its run (its strip), another tab
// saving (its strip), a refused address (the status row) and the tab's
// downloads, at the default size. The page keeps half the window.
WorkspaceWindow* crowdedWindow(Stage& stage, WorkspaceWindows& set, AppPreferences::Panel panel, bool running) {
    auto* window = newsWindow(stage, set);
    if (!window) return nullptr;
    auto& model = *window->model();
    model.panel = panel;
    // The OCR: four pages of text, paused after it began.
    std::vector<fs::path> files;
    for (int i = 0; i < 4; ++i) {
        test::TextLayout layout;
        layout.width = 700;
        layout.height = 260;
        const auto page = test::renderLines(layout, {"第" + std::to_string(i + 1) + "章　冬の図書館",
                                                     "返却ポストは休館中も利用できます。"});
        const fs::path file = stage.storage.parent_path() / ("図書館だより" + std::to_string(i + 1) + ".png");
        const auto bytes = Raster::png(page.image);
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        files.push_back(file);
    }
    auto& queue = *model.queue;
    queue.select(files, nullptr);
    test::runTask(queue.start());
    queue.stop(JobControl::Stop::pause);
    test::spinUntil([&] { return !queue.busy.get(); }, std::chrono::seconds(60));
    // Another tab's save, as its session reports it.
    auto saving = model.selectedTab();
    saving->browser->stage = "撮影中 2400/9800";
    saving->browser->operationPending = true;
    // This tab: a page with its downloads.
    model.addTab(false);
    stage.server.html("/forms-crowded", newsPage);
    model.setAddress(stage.server.url("/forms-crowded"));
    model.navigate();
    auto tab = model.selectedTab();
    test::spinUntil([&] { return !tab->browser->loading && !tab->browser->pageTitle->empty(); });
    {
        AutomaticDownloads automatic(stage);
        stage.server.bytes("/crowded-tax.pdf", "application/pdf", std::string(182734, 'p'),
                           attachment("tax-form-2026.pdf"));
        startDownload(stage.server, *tab, "/crowded-tax.pdf");
        if (running) {
            // The held bodies come from a server of their own: the engine
            // keeps a few connections per server, and the later scenes'
            // pages must not wait behind them.
            auto* held = new test::WebTestServer;
            for (const char* name : {"recycling-guide.pdf", "hazard-map.zip", "event-photos.zip"}) {
                const std::string path = std::string("/") + name;
                held->stream(path, {.length = 5242880,
                                    .chunk = 1310720,
                                    .interval = std::chrono::hours(1),
                                    .headers = attachment(name)});
                startDownload(*held, *tab, path);
            }
        }
    }
    // A typed file address, refused beside the address bar.
    model.setAddress("file:///home/user/メモ.txt");
    model.navigate();
    test::spinFor(std::chrono::milliseconds(300));
    return window;
}

Gtk::Window* crowdedRight(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = crowdedWindow(stage, set, AppPreferences::Panel::right, false);
    return window ? &window->window() : nullptr;
}

Gtk::Window* crowdedBottom(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = crowdedWindow(stage, set, AppPreferences::Panel::bottom, false);
    return window ? &window->window() : nullptr;
}

Gtk::Window* crowdedRunningRight(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = crowdedWindow(stage, set, AppPreferences::Panel::right, true);
    return window ? &window->window() : nullptr;
}

Gtk::Window* crowdedRunningBottom(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = crowdedWindow(stage, set, AppPreferences::Panel::bottom, true);
    return window ? &window->window() : nullptr;
}

// A tab's downloads at the default size: one saved, one broken off with
// its reason, two running. The list stands at the page's foot.
Gtk::Window* downloadsWindow(Stage& stage, AppPreferences::Panel panel) {
    auto& set = sceneSet(stage);
    auto* window = newsWindow(stage, set);
    if (!window) return nullptr;
    auto& model = *window->model();
    auto tab = model.selectedTab();
    std::optional<AutomaticDownloads> automatic(std::in_place, stage);
    stage.server.bytes("/downloads-tax.pdf", "application/pdf", std::string(182734, 'p'),
                       attachment("tax-form-2026.pdf"));
    stage.server.stream("/downloads-broken.xlsx", {.length = 65536,
                                                   .chunk = 8192,
                                                   .breakAfter = int64_t{16384},
                                                   .headers = attachment("schedule.xlsx")});
    startDownload(stage.server, *tab, "/downloads-tax.pdf");
    if (auto broken = startDownload(stage.server, *tab, "/downloads-broken.xlsx")) {
        test::spinUntil([&] { return !broken->active(); }, std::chrono::seconds(30));
    }
    // One of the running ones announces no length: its count is the widest.
    auto* held = new test::WebTestServer;
    for (const char* name : {"recycling-guide.pdf", "hazard-map.zip"}) {
        const std::string path = std::string("/") + name;
        held->stream(path, {.length = 5242880,
                            .chunk = 786432,
                            .announceLength = path == "/recycling-guide.pdf",
                            .interval = std::chrono::hours(1),
                            .headers = attachment(name)});
        startDownload(*held, *tab, path);
    }
    // Set last: each change of the settings sets the window's panel again.
    automatic.reset();
    model.panel = panel;
    test::spinFor(std::chrono::milliseconds(300));
    return &window->window();
}

// The window at its least size after a download broke off: with nothing
// running the list is folded, and its one line is the caption (a private
// tab's is long) and the failed row, with its reason.
Gtk::Window* failedDownloadNarrow(Stage& stage, bool privateTab) {
    auto& set = sceneSet(stage);
    auto* window = newsWindow(stage, set);
    if (!window) return nullptr;
    if (privateTab) {
        auto& model = *window->model();
        model.addTab(true);
        model.setAddress(stage.server.url("/news"));
        model.navigate();
        auto tab = model.selectedTab();
        test::spinUntil([&] { return !tab->browser->loading && !tab->browser->pageTitle->empty(); });
    }
    auto tab = window->model()->selectedTab();
    AutomaticDownloads automatic(stage);
    stage.server.bytes("/narrow-tax.pdf", "application/pdf", std::string(182734, 'p'), attachment("tax-form-2026.pdf"));
    stage.server.stream("/narrow-broken.xlsx", {.length = 65536,
                                                .chunk = 8192,
                                                .breakAfter = int64_t{16384},
                                                .headers = attachment("schedule.xlsx")});
    if (auto saved = startDownload(stage.server, *tab, "/narrow-tax.pdf")) {
        test::spinUntil([&] { return !saved->active(); }, std::chrono::seconds(30));
    }
    if (auto broken = startDownload(stage.server, *tab, "/narrow-broken.xlsx")) {
        test::spinUntil([&] { return !broken->active(); }, std::chrono::seconds(30));
    }
    test::spinFor(std::chrono::milliseconds(300));
    return &window->window();
}

Gtk::Window* downloadsRight(Stage& stage) { return downloadsWindow(stage, AppPreferences::Panel::right); }

Gtk::Window* downloadsBottom(Stage& stage) { return downloadsWindow(stage, AppPreferences::Panel::bottom); }

Gtk::Window* settingsSection(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = set.open(std::nullopt);
    if (!window) return nullptr;
    window->model()->section = Section::settings;
    return &window->window();
}

// The settings section after 設定を書き出す through the real save panel:
// the sentence and 保存先を開く join apply and re-read in the action bar.
Gtk::Window* settingsExported(Stage& stage) {
    Gtk::Window* window = settingsSection(stage);
    if (!window) return nullptr;
    window->present();
    const fs::path folder = fs::path(g_get_home_dir()) / "ドキュメント";
    fs::create_directories(folder);
    auto* button = dynamic_cast<Gtk::Button*>(test::findByName(*window, SettingsScreen::exportName));
    if (!button) return nullptr;
    test::spinUntil([&] { return button->get_mapped(); });
    g_signal_emit_by_name(button->gobj(), "clicked");
    if (!test::saveThroughFileChooser(folder / "ベルモラ_Settings")) return nullptr;
    auto* reveal = test::findByName(*window, SettingsScreen::revealName);
    test::spinUntil([&] { return reveal && reveal->get_visible(); });
    test::spinFor(std::chrono::milliseconds(100));
    return window;
}

const bool registered = registerScene("workspace-web", 1240, 850, webSection) &&
                        registerScene("workspace-web-bottom", 1240, 850, webSectionBottom) &&
                        registerScene("workspace-web-crowded", 1240, 850, crowdedRight) &&
                        registerScene("workspace-web-crowded-bottom", 1240, 850, crowdedBottom) &&
                        registerScene("workspace-web-crowded-running", 1240, 850, crowdedRunningRight) &&
                        registerScene("workspace-web-crowded-running-bottom", 1240, 850, crowdedRunningBottom) &&
                        registerScene("workspace-web-downloads", 1240, 850, downloadsRight) &&
                        registerScene("workspace-web-downloads-bottom", 1240, 850, downloadsBottom) &&
                        // The window at its least width: the running rows' 中止 still shows.
                        registerScene("workspace-web-downloads-narrow", 920, 720, downloadsRight) &&
                        registerScene("workspace-web-download-failed-narrow", 920, 720,
                                      [](Stage& stage) { return failedDownloadNarrow(stage, false); }) &&
                        registerScene("workspace-web-download-failed-private-narrow", 920, 720,
                                      [](Stage& stage) { return failedDownloadNarrow(stage, true); }) &&
                        registerScene("workspace-ocr", 1240, 850, ocrSection) &&
                        registerScene("workspace-history", 1240, 850, historySection) &&
                        registerScene("workspace-history-print", 1240, 850, historyPrint) &&
                        registerScene("workspace-settings", 1240, 850, settingsSection) &&
                        registerScene("workspace-settings-exported", 1240, 850, settingsExported);

}  // namespace

}  // namespace velmora::screenshots
