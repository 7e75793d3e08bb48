// The whole web pane under the tab bar over real tabs: the address bar and
// a sample page beside the control panel and above it, the download list
// with downloads in several states, a restored tab's hint, a stopped load's
// notice and a loading one, and a failed load. Pages and downloads come from
// the loopback server.
#include <filesystem>
#include <memory>
#include <string>

#include "Scene.hpp"
#include "capture/CaptureSelection.hpp"
#include "capture/TabSnapshot.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "support/MainLoop.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/WindowModel.hpp"
#include "workspace/web/WebWorkspaceContent.hpp"

namespace velmora::screenshots {

namespace {

using Panel = AppPreferences::Panel;

class PaneWindows final : public WindowSetLink {
public:
    Gtk::Window* window = nullptr;
    void scheduleSnapshot() override {}
    Gtk::Window* platformWindow(const UUID&) override { return window; }
};

std::string notice(const std::string& title, const std::string& lead) {
    return "<!doctype html><html lang=ja><head><meta charset=utf-8><title>" + title +
           "</title><style>body{font-family:'Noto Sans CJK JP',sans-serif;margin:32px 40px;color:#222;"
           "line-height:1.7}h1{font-size:26px;color:#2d6a4f;margin-bottom:4px}.date{color:#777;font-size:13px}"
           "table{border-collapse:collapse;margin-top:12px}td,th{border:1px solid #ccc;padding:4px 12px}"
           "</style></head><body><h1>" +
           title + "</h1><p class=date>2026年12月7日 更新</p><p>" + lead +
           "</p><table><tr><th>地区</th><th>燃えるごみ</th><th>資源ごみ</th></tr>"
           "<tr><td>北町</td><td>月・木</td><td>水</td></tr><tr><td>南町</td><td>火・金</td><td>木</td></tr>"
           "<tr><td>東町</td><td>月・木</td><td>金</td></tr></table>"
           "<p>年末は12月30日が最終収集日です。新年は1月4日から通常どおり収集します。</p></body></html>";
}

// One window holding the pane over one model.
struct PaneScene {
    PaneWindows windows;
    std::shared_ptr<WindowModel> model;
    GtkDesktopActions desktop;
    Gtk::Window* window = nullptr;
    WebWorkspaceContent* content = nullptr;

    PaneScene(Stage& stage, Panel placement, std::optional<RestoredWindow> restored = std::nullopt) {
        model = WindowModel::create(stage.app.services(), std::move(restored), windows);
        model->panel = placement;
        window = new Gtk::Window;
        windows.window = window;
        content = Gtk::make_managed<WebWorkspaceContent>(model, desktop);
        window->set_child(*content);
    }

    void present(int width, int height) {
        window->set_default_size(width, height);
        window->present();
        test::spinUntil([&] { return window->get_mapped() && content->get_width() > 0; });
    }

    // Loads the page through the address bar's own action and waits until
    // it has drawn.
    void open(Stage& stage, const std::string& path) {
        model->setAddress(stage.server.url(path));
        model->navigate();
        BrowserSession& session = model->browser();
        test::spinUntil([&] { return !session.loading && !session.pageTitle->empty(); }, std::chrono::seconds(30));
        try {
            test::runTask(test::callAsync(session.webView(),
                                          "await new Promise(r => requestAnimationFrame(() => "
                                          "requestAnimationFrame(r))); return true;"));
        } catch (const std::exception&) {
            // The picture is taken all the same.
        }
    }
};

Gtk::Window* paneRight(Stage& stage) {
    stage.server.html("/garbage", notice("ごみ収集日のお知らせ", "年末年始の収集日と地区ごとの曜日をまとめました。"));
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.model->widthMode = "current";
    scene.present(1240, 860);
    scene.open(stage, "/garbage");
    return scene.window;
}

Gtk::Window* paneBottom(Stage& stage) {
    stage.server.html("/garbage-bottom", notice("ごみ収集日のお知らせ", "年末年始の収集日と地区ごとの曜日をまとめました。"));
    auto& scene = *new PaneScene(stage, Panel::bottom);
    scene.model->bottomPanelPreferredHeight = 330;
    scene.present(1240, 860);
    scene.open(stage, "/garbage-bottom");
    return scene.window;
}

test::WebTestServer::Headers attachment(const std::string& name) {
    return {{"Content-Disposition", "attachment; filename=" + name}};
}

Gtk::Window* paneDownloads(Stage& stage) {
    // Downloads go straight into an approved folder, without a question.
    const auto folder = stage.storage.parent_path() / "downloads";
    std::filesystem::create_directories(folder);
    auto& services = stage.app.services();
    const OutputGrant grant = services.access.approve(folder);
    const AppPreferences earlier = services.settings.value();
    services.settings.change([&](AppPreferences& p) {
        p.saveMode = AppPreferences::SaveMode::automatic;
        p.destinationID = grant.id;
    });
    stage.server.html("/forms", notice("各種申請書ダウンロード", "申請書はPDFでダウンロードできます。"));
    stage.server.bytes("/tax.pdf", "application/pdf", std::string(182734, 'p'), attachment("tax-form-2026.pdf"));
    // The held bodies come from a server of their own: the engine keeps a
    // few connections per server, and the later scenes' pages must not wait
    // behind them.
    auto* held = new test::WebTestServer;
    held->stream("/guide.pdf", {.length = 5242880,
                                .chunk = 1310720,
                                .interval = std::chrono::hours(1),
                                .headers = attachment("recycling-guide.pdf")});
    held->stream("/map.zip", {.length = 4194304,
                              .chunk = 786432,
                              .announceLength = false,
                              .interval = std::chrono::hours(1),
                              .headers = attachment("hazard-map.zip")});
    stage.server.stream("/broken.xlsx", {.length = 65536,
                                         .chunk = 8192,
                                         .breakAfter = int64_t{16384},
                                         .headers = attachment("schedule.xlsx")});
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.present(1240, 860);
    scene.open(stage, "/forms");
    auto tab = scene.model->selectedTab();
    auto start = [&](const std::string& url) {
        const size_t index = tab->downloads->size();
        tab->browser->navigate(url);
        test::spinUntil([&] { return tab->downloads->size() > index; }, std::chrono::seconds(30));
        return tab->downloads->size() > index ? tab->downloads.get()[index] : nullptr;
    };
    // The running ones first: the list shows its first rows, and they
    // carry the bars.
    if (auto guide = start(held->url("/guide.pdf"))) {
        test::spinUntil([&] { return guide->received() > 0; }, std::chrono::seconds(30));
    }
    if (auto map = start(held->url("/map.zip"))) {
        test::spinUntil([&] { return map->received() > 0; }, std::chrono::seconds(30));
    }
    if (auto done = start(stage.server.url("/tax.pdf"))) {
        test::spinUntil([&] { return !done->active(); }, std::chrono::seconds(30));
    }
    if (auto broken = start(stage.server.url("/broken.xlsx"))) {
        test::spinUntil([&] { return !broken->active(); }, std::chrono::seconds(30));
    }
    // The page itself stays as it was.
    test::spinUntil([&] { return !tab->browser->loading; }, std::chrono::seconds(10));
    // A download reads the save mode when it starts: the scenes after this
    // one see the settings as they were.
    services.settings.change([&](AppPreferences& p) {
        p.saveMode = earlier.saveMode;
        p.destinationID = earlier.destinationID;
    });
    return scene.window;
}

// One download that broke off: its reason under its name.
Gtk::Window* paneDownloadFailed(Stage& stage) {
    const auto folder = stage.storage.parent_path() / "downloads";
    std::filesystem::create_directories(folder);
    auto& services = stage.app.services();
    const OutputGrant grant = services.access.approve(folder);
    const AppPreferences earlier = services.settings.value();
    services.settings.change([&](AppPreferences& p) {
        p.saveMode = AppPreferences::SaveMode::automatic;
        p.destinationID = grant.id;
    });
    stage.server.html("/minutes", notice("自治会の議事録", "十一月の定例会の議事録を公開しました。"));
    stage.server.stream("/minutes.docx", {.length = 65536,
                                          .chunk = 8192,
                                          .breakAfter = int64_t{24576},
                                          .headers = attachment("jichikai-gijiroku-2026-11.docx")});
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.present(1240, 860);
    scene.open(stage, "/minutes");
    auto tab = scene.model->selectedTab();
    tab->browser->navigate(stage.server.url("/minutes.docx"));
    test::spinUntil([&] { return !tab->downloads->empty(); }, std::chrono::seconds(30));
    if (!tab->downloads->empty()) {
        auto broken = tab->downloads.get()[0];
        test::spinUntil([&] { return !broken->active(); }, std::chrono::seconds(30));
    }
    test::spinUntil([&] { return !tab->browser->loading; }, std::chrono::seconds(10));
    services.settings.change([&](AppPreferences& p) {
        p.saveMode = earlier.saveMode;
        p.destinationID = earlier.destinationID;
    });
    return scene.window;
}

Gtk::Window* paneRestored(Stage& stage) {
    RestoredWindow restored{UUID::random(), {RestoredTab{UUID::random(), stage.server.url("/garbage"), false}}, {}};
    restored.selected = restored.tabs[0].id;
    auto& scene = *new PaneScene(stage, Panel::right, restored);
    scene.present(1240, 860);
    return scene.window;
}

// A scene on a first page of events, with a second page on its way from a
// server of its own that holds it (as the downloads scene's bodies).
PaneScene& loadingHeldPage(Stage& stage, const std::string& first, const std::string& next) {
    stage.server.html(first, notice("地域のイベント情報", "冬休みの子ども向けイベントをご案内します。"));
    auto* held = new test::WebTestServer;
    held->held(next, "<!doctype html><title>遅いページ</title>");
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.present(1240, 860);
    scene.open(stage, first);
    scene.model->setAddress(held->url(next));
    scene.model->navigate();
    BrowserSession& session = scene.model->browser();
    test::spinUntil([&] { return held->requests(next) > 0 && session.loading; }, std::chrono::seconds(30));
    return scene;
}

Gtk::Window* paneNotice(Stage& stage) {
    // The second page, that does not come, is stopped by the user.
    PaneScene& scene = loadingHeldPage(stage, "/events", "/slow-events");
    BrowserSession& session = scene.model->browser();
    session.stopNavigation();
    test::spinUntil([&] { return !session.loading; }, std::chrono::seconds(10));
    return scene.window;
}

// A typed file: address refused: the sentence stands in the status row,
// in the error styling, beside the control that asked.
Gtk::Window* paneRefused(Stage& stage) {
    stage.server.html("/refused", notice("ごみ収集日のお知らせ", "年末年始の収集日と地区ごとの曜日をまとめました。"));
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.present(1240, 860);
    scene.open(stage, "/refused");
    scene.model->setAddress("file:///home/user/メモ.txt");
    scene.model->navigate();
    return scene.window;
}

// A page loaded after the tab saved another: the status row, about the page
// on screen, has nothing to say and is left out (the panel at the bottom
// keeps it for the save buttons only).
Gtk::Window* paneAfterLoad(Stage& stage) {
    stage.server.html("/saved-first", notice("図書館だより", "年末年始の開館日をお知らせします。"));
    stage.server.html("/loaded-next", notice("ごみ収集日のお知らせ", "年末年始の収集日と地区ごとの曜日をまとめました。"));
    auto& scene = *new PaneScene(stage, Panel::bottom);
    scene.present(1240, 860);
    scene.open(stage, "/saved-first");
    BrowserSession& session = scene.model->browser();
    CaptureSelection selection;
    selection.widthMode = "mobile";
    selection.mobileWidth = 390;
    const auto folder = stage.storage.parent_path() / "out" / "Screenshots";
    std::filesystem::create_directories(folder);
    stage.app.services().access.approve(folder.parent_path());
    session.capture(selection.options(std::nullopt), folder);
    test::spinUntil([&] { return !session.hasPendingOperation(); }, std::chrono::seconds(60));
    // A window takes the stored panel placement when its saves end; this
    // scene's own placement is not stored.
    scene.model->panel = Panel::bottom;
    scene.open(stage, "/loaded-next");
    return scene.window;
}

// A new tab whose address could not be reached: the failure over the page
// area with the address, the tab's save refused as a page not loaded.
Gtk::Window* paneLoadFailed(Stage& stage) {
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.present(1240, 860);
    BrowserSession& session = scene.model->browser();
    scene.model->setAddress("http://127.0.0.1:" + std::to_string(test::WebTestServer::closedPort()) + "/oshirase");
    scene.model->navigate();
    test::spinUntil([&] { return session.failedURL->has_value() && !session.loading; }, std::chrono::seconds(30));
    test::runTask(scene.model->save(false));
    return scene.window;
}

// An address on a port the engine refuses to connect to: the same failure,
// under the address, and the save refused.
Gtk::Window* paneBlockedAddress(Stage& stage) {
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.present(1240, 860);
    BrowserSession& session = scene.model->browser();
    scene.model->setAddress("http://127.0.0.1:6000/kanri");
    scene.model->navigate();
    test::spinUntil([&] { return session.failedURL->has_value() && !session.loading; }, std::chrono::seconds(30));
    test::runTask(scene.model->save(false));
    return scene.window;
}

// The page's process ended during a tall-PNG capture: the capture's own
// failure in the status row, and the end over the page area with
// 再読み込み.
Gtk::Window* paneProcessEnded(Stage& stage) {
    stage.server.html("/ended", notice("粗大ごみの申し込み", "電話またはインターネットで申し込めます。"));
    stage.server.held("/ended-held.png", "no image");
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.present(1240, 860);
    scene.open(stage, "/ended");
    BrowserSession& session = scene.model->browser();
    test::runTask(test::evaluate(session.webView(),
                                 "document.body.insertAdjacentHTML('beforeend','<img src=/ended-held.png "
                                 "width=10 height=10>');true"));
    test::spinUntil([&] { return stage.server.requests("/ended-held.png") > 0; }, std::chrono::seconds(30));
    const auto folder = stage.storage.parent_path() / "out" / "Screenshots";
    std::filesystem::create_directories(folder);
    stage.app.services().access.approve(folder.parent_path());
    scene.model->setLastOutput(folder);
    CaptureSelection selection;
    session.capture(selection.options(std::nullopt), folder);
    test::spinUntil([&] { return session.stage.get() == "下部の画像を読み込み中"; }, std::chrono::seconds(30));
    webkit_web_view_terminate_web_process(session.webView());
    test::spinUntil([&] { return !session.hasPendingOperation(); }, std::chrono::seconds(60));
    stage.server.release("/ended-held.png");
    return scene.window;
}

// A page taller than a tall PNG may be, saved: the refusal's sentence whole
// in the status row, and no folder offered, since nothing was saved.
Gtk::Window* paneTooTall(Stage& stage, int width) {
    stage.server.html("/too-tall", "<!doctype html><html lang=ja><head><meta charset=utf-8><title>年間行事予定"
                                   "</title></head><body style=\"margin:32px 40px;height:40000px\"><h1>年間行事予定"
                                   "</h1><p>四月から三月までの行事を日ごとにまとめました。</p></body></html>");
    auto& scene = *new PaneScene(stage, Panel::right);
    scene.present(width, 860);
    scene.open(stage, "/too-tall");
    const auto folder = stage.storage.parent_path() / "out" / "Screenshots";
    std::filesystem::create_directories(folder);
    stage.app.services().access.approve(folder.parent_path());
    scene.model->setLastOutput(folder);
    BrowserSession& session = scene.model->browser();
    CaptureSelection selection;
    session.capture(selection.options(std::nullopt), folder);
    test::spinUntil([&] { return !session.hasPendingOperation(); }, std::chrono::seconds(60));
    return scene.window;
}

// A page on its way: "読み込み中" with its spinner at the page's foot,
// over the page before it.
Gtk::Window* paneLoading(Stage& stage) {
    PaneScene& scene = loadingHeldPage(stage, "/loading-first", "/loading-next");
    return scene.window;
}

const bool registered = registerScene("web-pane-right", 1240, 860, paneRight) &&
                        registerScene("web-pane-load-failed", 1240, 860, paneLoadFailed) &&
                        registerScene("web-pane-blocked-address", 1240, 860, paneBlockedAddress) &&
                        registerScene("web-pane-process-ended", 1240, 860, paneProcessEnded) &&
                        registerScene("web-pane-loading", 1240, 860, paneLoading) &&
                        registerScene("web-pane-refused", 1240, 860, paneRefused) &&
                        registerScene("web-pane-after-load", 1240, 860, paneAfterLoad) &&
                        registerScene("web-pane-bottom", 1240, 860, paneBottom) &&
                        registerScene("web-pane-downloads", 1240, 860, paneDownloads) &&
                        registerScene("web-pane-download-failed", 1240, 860, paneDownloadFailed) &&
                        registerScene("web-pane-restored", 1240, 860, paneRestored) &&
                        registerScene("web-pane-notice", 1240, 860, paneNotice) &&
                        registerScene("web-pane-too-tall", 1240, 860, [](Stage& s) { return paneTooTall(s, 1240); }) &&
                        registerScene("web-pane-too-tall-920", 920, 860, [](Stage& s) { return paneTooTall(s, 920); });

}  // namespace

}  // namespace velmora::screenshots
