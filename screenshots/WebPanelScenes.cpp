// The web pane's pieces over real tabs: the control panel beside the page
// and below it on both sides of its breakpoint, the status row after a save,
// during one and after a failed one, and the strip of a save running in
// another tab. Saves are real captures of loopback pages; a save shown
// running waits for an image the server holds back.
#include <gtkmm/box.h>
#include <gtkmm/overlay.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Scene.hpp"
#include "capture/CaptureSelection.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "history/CaptureHistory.hpp"
#include "gui/PanelDivider.hpp"
#include "support/MainLoop.hpp"
#include "support/web/WebTestWindow.hpp"
#include "support/web/WebTestServer.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/web/CapturePanel.hpp"
#include "workspace/web/CaptureStatusRow.hpp"
#include "workspace/web/OtherTabSaveStrips.hpp"
#include "workspace/web/WebSurface.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora::screenshots {

namespace {

using Panel = AppPreferences::Panel;

class SceneWindows final : public WindowSetLink {
public:
    Gtk::Window* window = nullptr;
    void scheduleSnapshot() override {}
    Gtk::Window* platformWindow(const UUID&) override { return window; }
};

std::string article(const std::string& title, const std::string& lead) {
    return "<!doctype html><html lang=ja><head><meta charset=utf-8><title>" + title +
           "</title><style>body{font-family:'Noto Sans CJK JP',sans-serif;margin:32px 40px;color:#222;"
           "line-height:1.7}h1{font-size:26px;color:#1d4e89;margin-bottom:4px}.date{color:#777;font-size:13px}"
           "section{border-top:1px solid #ddd;padding-top:8px;margin-top:16px}</style></head><body><h1>" +
           title + "</h1><p class=date>2026年12月7日 更新</p><p>" + lead +
           "</p><section><h2>開館時間の変更</h2><p>12月28日から1月4日までは休館します。"
           "返却ポストは期間中も利用できます。</p></section><section><h2>冬のおはなし会</h2>"
           "<p>毎週土曜日の午前10時30分から、児童室で絵本の読み聞かせを行います。申込は不要です。</p>"
           "</section><section><h2>新着資料</h2><p>郷土の歴史をまとめた写真集と、地元の作家による"
           "随筆集が入りました。</p></section></body></html>";
}

// The approved output folder's "Screenshots", as a save request gives it.
std::filesystem::path sceneOutput(Stage& stage) {
    const auto root = stage.storage.parent_path() / "out";
    const auto folder = root / "Screenshots";
    std::filesystem::create_directories(folder);
    stage.app.services().access.approve(root);
    return folder;
}

// One window of the web pane's pieces over one model: the status row, the
// strips, and the page beside or above the panel with the divider between.
struct Pane {
    SceneWindows windows;
    std::shared_ptr<WindowModel> model;
    GtkDesktopActions desktop;
    Gtk::Window* window = nullptr;
    WebSurface* surface = nullptr;
    // Every tab's surface stacked, the selected one on top and visible.
    Gtk::Overlay* pages = nullptr;
    CapturePanel* panel = nullptr;
    PanelDivider* divider = nullptr;
    double panelSize = 0;

    Pane(Stage& stage, Panel placement, double size) : panelSize(size) {
        // Approved before the window exists: a change of the preferences
        // reaches a window's layout when its saves end.
        sceneOutput(stage);
        // The history scenes leave a history file that no longer reads; a
        // save here starts a new one.
        std::error_code ignored;
        std::filesystem::remove(stage.storage / "history" / CaptureHistory::fileName, ignored);
        model = WindowModel::create(stage.app.services(), std::nullopt, windows);
        model->panel = placement;
        window = new Gtk::Window;
        windows.window = window;
        const bool right = placement == Panel::right;
        auto& column = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
        column.append(*Gtk::make_managed<CaptureStatusRow>(model, desktop));
        column.append(*Gtk::make_managed<OtherTabSaveStrips>(model));
        auto& split = *Gtk::make_managed<Gtk::Box>(right ? Gtk::Orientation::HORIZONTAL : Gtk::Orientation::VERTICAL, 0);
        split.set_vexpand(true);
        surface = Gtk::make_managed<WebSurface>(model->selectedTab()->browser);
        pages = Gtk::make_managed<Gtk::Overlay>();
        pages->set_child(*surface);
        divider = Gtk::make_managed<PanelDivider>();
        panel = Gtk::make_managed<CapturePanel>(model);
        panel->set_hexpand(!right);
        panel->set_vexpand(right);
        split.append(*pages);
        split.append(*divider);
        split.append(*panel);
        column.append(split);
        window->set_child(column);
        resize(size);
    }

    void resize(double size) {
        panelSize = size;
        const bool right = model->panel.get() == Panel::right;
        if (right) panel->set_size_request(static_cast<int>(size), -1);
        else panel->set_size_request(-1, static_cast<int>(size));
        divider->update({right, !model->webSaving(), size, PanelDivider::defaultLabel,
                         [this](double value, bool) { resize(value); }});
    }

    // Shows the window and loads the page into the selected tab.
    void open(Stage& stage, const std::string& path, int width, int height) {
        window->set_default_size(width, height);
        window->present();
        test::spinUntil([&] { return window->get_mapped() && surface->get_width() > 0; });
        model->setAddress(stage.server.url(path));
        model->navigate();
        waitForPage(*model->selectedTab()->browser);
    }

    // Until the page has loaded and drawn two frames.
    static void waitForPage(BrowserSession& session) {
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

CaptureOptions sceneCapture() {
    CaptureSelection selection;
    selection.widthMode = "mobile";
    selection.mobileWidth = 390;
    return selection.options(std::nullopt);
}

// A held save of the pane's selected tab, waiting for its image.
void startHeld(Stage& stage, Pane& pane, const std::string& image) {
    auto tab = pane.model->selectedTab();
    stage.server.held(image, "no image");
    auto* view = tab->browser->webView();
    const std::string script =
        "document.body.insertAdjacentHTML('beforeend','<img src=" + image + " width=10 height=10>');true";
    webkit_web_view_evaluate_javascript(view, script.c_str(), -1, nullptr, nullptr, nullptr, nullptr, nullptr);
    test::spinUntil([&] { return stage.server.requests(image) > 0; });
    const auto folder = sceneOutput(stage);
    pane.model->setLastOutput(folder);
    tab->browser->capture(sceneCapture(), folder);
    test::spinUntil([&] { return tab->browser->stage.get() == "下部の画像を読み込み中"; }, std::chrono::seconds(30));
    pane.resize(pane.panelSize);
}

// Held saves of earlier scenes let go, so that the next capture is admitted.
std::vector<std::pair<std::string, std::shared_ptr<BrowserSession>>>& heldSaves() {
    static auto& held = *new std::vector<std::pair<std::string, std::shared_ptr<BrowserSession>>>;
    return held;
}
std::shared_ptr<bool>& tileHold();
void releaseHeld(Stage& stage) {
    *tileHold() = false;
    for (auto& [image, session] : heldSaves()) {
        if (!image.empty()) stage.server.release(image);
        test::spinUntil([&] { return !session->hasPendingOperation(); }, std::chrono::seconds(60));
    }
    heldSaves().clear();
}

Gtk::Window* panelRight(Stage& stage) {
    stage.server.html("/library", article("町の図書館だより 12月号", "年末年始の開館日と、冬のおはなし会のお知らせです。"));
    auto& pane = *new Pane(stage, Panel::right, 340);
    // A custom width and print options of the user's own.
    pane.model->widthMode = "custom";
    pane.model->customWidth = 1280;
    pane.model->scale = 2;
    pane.model->paper = PrintOptions::Paper::a3;
    pane.model->landscape = true;
    pane.model->margin = 5;
    pane.model->headerFooter = true;
    pane.model->format = PrintOptions::Output::pdf;
    pane.open(stage, "/library", 1240, 860);
    return pane.window;
}

Gtk::Window* panelBottom(Stage& stage, int width) {
    stage.server.html("/notice", article("市民プールの営業案内", "冬季は屋内プールのみ営業します。"));
    auto& pane = *new Pane(stage, Panel::bottom, 330);
    pane.open(stage, "/notice", width, 860);
    return pane.window;
}

Gtk::Window* statusSaved(Stage& stage) {
    releaseHeld(stage);
    stage.server.html("/saved", article("商店街の歳末セール", "12月20日から31日まで、参加店で福引券を配ります。"));
    auto& pane = *new Pane(stage, Panel::right, 340);
    pane.open(stage, "/saved", 1240, 860);
    auto session = pane.model->selectedTab()->browser;
    const auto folder = sceneOutput(stage);
    pane.model->setLastOutput(folder);
    session->capture(sceneCapture(), folder);
    test::spinUntil([&] { return !session->hasPendingOperation(); }, std::chrono::seconds(60));
    Pane::waitForPage(*session);
    pane.resize(pane.panelSize);
    return pane.window;
}

// A print-style save of the page, finished: what it wrote (the PDF and the
// page PNGs) and where, beside the folder's button.
Gtk::Window* statusPrinted(Stage& stage) {
    releaseHeld(stage);
    stage.server.html("/printed", article("市民講座のご案内", "一月から始まる冬の市民講座の申し込みを受け付けます。"));
    auto& pane = *new Pane(stage, Panel::right, 340);
    pane.open(stage, "/printed", 1240, 860);
    auto session = pane.model->selectedTab()->browser;
    const auto folder = sceneOutput(stage).parent_path() / "Print";
    std::filesystem::create_directories(folder);
    pane.model->setLastOutput(folder);
    PrintSelection selection;
    PrintOptions options =
        selection.options(session->currentURL.get(), session->pageTitle.get(), std::chrono::system_clock::now());
    options.filenameStem = "市民講座のご案内";
    session->print(std::move(options), folder);
    test::spinUntil([&] { return !session->hasPendingOperation(); }, std::chrono::seconds(60));
    Pane::waitForPage(*session);
    pane.resize(pane.panelSize);
    return pane.window;
}

Gtk::Window* statusFailed(Stage& stage) {
    releaseHeld(stage);
    stage.server.html("/failed", article("地域防災訓練のお知らせ", "1月19日に小学校の校庭で防災訓練を行います。"));
    auto& pane = *new Pane(stage, Panel::bottom, 300);
    pane.open(stage, "/failed", 1240, 860);
    // The page's last image never arrives whole: the save stops and says
    // why.
    startHeld(stage, pane, "/failed-held.png");
    auto session = pane.model->selectedTab()->browser;
    stage.server.release("/failed-held.png");
    test::spinUntil([&] { return !session->hasPendingOperation(); }, std::chrono::seconds(60));
    // A window takes the stored panel placement when its saves end; this
    // scene's own placement is not stored.
    pane.model->panel = Panel::bottom;
    Pane::waitForPage(*session);
    pane.resize(pane.panelSize);
    return pane.window;
}

Gtk::Window* statusSaving(Stage& stage) {
    releaseHeld(stage);
    stage.server.html("/saving", article("図書館のおすすめ本", "今月のテーマは「冬の旅」です。"));
    auto& pane = *new Pane(stage, Panel::right, 340);
    pane.open(stage, "/saving", 1240, 860);
    startHeld(stage, pane, "/saving-held.png");
    heldSaves().emplace_back("/saving-held.png", pane.model->selectedTab()->browser);
    return pane.window;
}

// A save held among its tiles, at the third: the status row shows the
// stage's count and its bar. Let go by the next scene's releaseHeld.
std::shared_ptr<bool>& tileHold() {
    static auto& hold = *new std::shared_ptr<bool>(std::make_shared<bool>(false));
    return hold;
}

Gtk::Window* statusTiles(Stage& stage) {
    releaseHeld(stage);
    std::string sections;
    for (int i = 1; i <= 14; ++i) {
        sections += "<section><h2>第" + std::to_string(i) +
                    "回 市民講座</h2><p>地域の歴史と文化を学ぶ講座です。各回の資料は当日受付でお渡しします。"
                    "申込は電話または窓口で受け付けます。</p></section>";
    }
    stage.server.html("/tiles", article("市民講座 年間予定", "一年間の講座の日程をお知らせします。") + sections);
    auto& pane = *new Pane(stage, Panel::bottom, 300);
    pane.open(stage, "/tiles", 1240, 860);
    auto session = pane.model->selectedTab()->browser;
    const auto folder = sceneOutput(stage);
    pane.model->setLastOutput(folder);
    auto hold = tileHold() = std::make_shared<bool>(true);
    auto tiles = std::make_shared<int>(0);
    CaptureOptions options = sceneCapture();
    options.checkpoint = [hold, tiles](CaptureOptions::Stage reached) -> Task<void> {
        if (reached != CaptureOptions::Stage::tile || ++*tiles < 3) co_return;
        while (*hold) co_await sleepFor(std::chrono::milliseconds(10));
    };
    session->capture(std::move(options), folder);
    test::spinUntil([&] { return *tiles >= 3; }, std::chrono::seconds(30));
    heldSaves().emplace_back("", session);
    pane.resize(pane.panelSize);
    return pane.window;
}

Gtk::Window* otherTabStrip(Stage& stage) {
    releaseHeld(stage);
    stage.server.html("/first", article("公民館講座の受講者募集", "春の講座の申込を1月から受け付けます。"));
    stage.server.html("/second", article("ごみ収集日の変更", "年末年始はごみ収集日が変わります。"));
    auto& pane = *new Pane(stage, Panel::right, 340);
    pane.open(stage, "/first", 1240, 860);
    startHeld(stage, pane, "/first-held.png");
    auto saving = pane.model->selectedTab();
    heldSaves().emplace_back("/first-held.png", saving->browser);
    // The second tab, selected, is shown over the first, whose page stays
    // in place for its save.
    auto other = pane.model->addTab(false);
    auto& shown = *Gtk::make_managed<WebSurface>(other->browser);
    pane.pages->add_overlay(shown);
    pane.surface->set_opacity(0);
    pane.model->setAddress(stage.server.url("/second"));
    pane.model->navigate();
    Pane::waitForPage(*other->browser);
    return pane.window;
}

const bool registered = registerScene("web-panel-right", 1240, 860, panelRight) &&
                        registerScene("web-panel-bottom-791", 791, 860,
                                      [](Stage& stage) { return panelBottom(stage, 791); }) &&
                        registerScene("web-panel-bottom-792", 792, 860,
                                      [](Stage& stage) { return panelBottom(stage, 792); }) &&
                        registerScene("web-status-saved", 1240, 860, statusSaved) &&
                        registerScene("web-status-printed", 1240, 860, statusPrinted) &&
                        registerScene("web-status-failed", 1240, 860, statusFailed) &&
                        registerScene("web-status-saving", 1240, 860, statusSaving) &&
                        registerScene("web-status-tiles", 1240, 860, statusTiles) &&
                        registerScene("web-other-tab-strip", 1240, 860, otherTabStrip);

}  // namespace

}  // namespace velmora::screenshots
