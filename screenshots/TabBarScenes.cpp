// The tab bar, its list and the activity strips over real tabs: a normal
// tab, the selected one and a busy private tab (a print-style save held at
// its first stage); "タブ一覧" open over the bar; the OCR strip of a running
// queue above the strips of two tabs saving at once; and the whole web
// workspace of a window. Pages are real loopback pages in real web views.
#include <gtkmm/box.h>
#include <gtkmm/menubutton.h>
#include <gtkmm/overlay.h>
#include <gtkmm/picture.h>
#include <gtkmm/popover.h>
#include <gtkmm/widgetpaintable.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Scene.hpp"
#include "capture/PrintOptions.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "support/MainLoop.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/WindowModel.hpp"
#include "workspace/web/ActivityStrips.hpp"
#include "workspace/web/BrowserTabBar.hpp"
#include "workspace/web/WebSurface.hpp"
#include "workspace/web/WebWorkspace.hpp"

namespace velmora::screenshots {

namespace {

// Until the selected tab's page has loaded and drawn two frames.
void waitForPage(BrowserSession& session) {
    test::spinUntil([&] { return !session.loading && !session.pageTitle->empty(); }, std::chrono::seconds(30));
    try {
        test::runTask(test::callAsync(session.webView(),
                                      "await new Promise(r => requestAnimationFrame(() => "
                                      "requestAnimationFrame(r))); return true;"));
    } catch (const std::exception&) {
        // The picture is taken all the same.
    }
}

class SceneWindows final : public WindowSetLink {
public:
    Gtk::Window* window = nullptr;
    void scheduleSnapshot() override {}
    Gtk::Window* platformWindow(const UUID&) override { return window; }
};

std::string notice(const std::string& title, const std::string& lead) {
    return "<!doctype html><html lang=ja><head><meta charset=utf-8><title>" + title +
           "</title><style>body{font-family:'Noto Sans CJK JP',sans-serif;margin:32px 40px;color:#222;"
           "line-height:1.7}h1{font-size:26px;color:#2d6a4f;margin-bottom:4px}.date{color:#777;font-size:13px}"
           "section{border-top:1px solid #ddd;padding-top:8px;margin-top:16px}</style></head><body><h1>" +
           title + "</h1><p class=date>2026年12月7日 更新</p><p>" + lead +
           "</p><section><h2>受付時間</h2><p>平日の午前9時から午後5時まで、窓口と電話で受け付けます。</p>"
           "</section><section><h2>持ち物</h2><p>本人確認書類と、申請書（窓口にもあります）をお持ちください。"
           "</p></section></body></html>";
}

// A print-style save of the tab's page held at one stage until the program
// ends; unlike a held capture it takes no admission from other scenes.
void holdPrint(BrowserTab& tab, PrintOptions::Stage at) {
    PrintSelection selection;
    selection.output = PrintOptions::Output::pdf;
    PrintOptions options = selection.options(tab.browser->currentURL.get(), tab.browser->pageTitle.get(),
                                             std::chrono::system_clock::now());
    options.checkpoint = [at](PrintOptions::Stage stage) -> Task<void> {
        while (stage == at) co_await sleepFor(std::chrono::milliseconds(100));
    };
    const auto folder = std::filesystem::temp_directory_path() / "velmora-scenes-print";
    std::filesystem::create_directories(folder);
    tab.browser->print(std::move(options), folder);
    test::spinUntil([&] { return tab.browser->stage.get() == displayName(at); }, std::chrono::seconds(30));
}

// One window's tabs over real pages: every tab's web view stacked in
// `pages`, the selected one on top.
struct Tabs {
    SceneWindows windows;
    std::shared_ptr<WindowModel> model;
    Gtk::Overlay* pages = Gtk::make_managed<Gtk::Overlay>();

    explicit Tabs(Stage& stage) {
        model = WindowModel::create(stage.app.services(), std::nullopt, windows);
        pages->set_child(*Gtk::make_managed<WebSurface>(model->selectedTab()->browser));
        pages->set_vexpand(true);
        model->changed.connect([this] { stack(); });
    }

    // The selected tab, or a new one, loads the page.
    std::shared_ptr<BrowserTab> open(Stage& stage, const std::string& path, bool newTab, bool privateMode = false) {
        if (newTab) {
            auto tab = model->addTab(privateMode);
            pages->add_overlay(*Gtk::make_managed<WebSurface>(tab->browser));
            stack();
        }
        auto tab = model->selectedTab();
        model->setAddress(stage.server.url(path));
        model->navigate();
        waitForPage(*tab->browser);
        return tab;
    }

    void stack() {
        const auto& selected = model->selectedTab();
        for (auto* child = pages->get_first_child(); child; child = child->get_next_sibling()) {
            auto* surface = dynamic_cast<WebSurface*>(child);
            if (!surface) continue;
            const bool shown = surface->session() == selected->browser;
            surface->set_opacity(shown ? 1 : 0);
            surface->set_can_target(shown);
        }
    }
};

void serve(Stage& stage) {
    stage.server.html("/tax", notice("住民税の申告について", "申告書の提出期限は3月15日です。"));
    stage.server.html("/passport", notice("パスポート申請の窓口案内", "申請から受け取りまで約1週間かかります。"));
    stage.server.html("/vaccine", notice("予防接種の予約受付", "インフルエンザの予防接種は予約制です。"));
}

// The bar over three tabs: the tax page, the passport page (selected) and a
// private tab saving the vaccination page.
Gtk::Window* barWindow(Stage& stage, Tabs*& out) {
    serve(stage);
    auto& tabs = *new Tabs(stage);
    auto* window = new Gtk::Window;
    tabs.windows.window = window;
    auto& column = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    column.append(*Gtk::make_managed<BrowserTabBar>(tabs.model));
    column.append(*tabs.pages);
    // An overlay over it all, where a scene may picture a popover.
    auto& root = *Gtk::make_managed<Gtk::Overlay>();
    root.set_child(column);
    window->set_child(root);
    window->set_default_size(1240, 520);
    window->present();
    test::spinUntil([&] { return window->get_mapped(); });
    tabs.open(stage, "/tax", false);
    auto hidden = tabs.open(stage, "/vaccine", true, true);
    holdPrint(*hidden, PrintOptions::Stage::beforePrint);
    auto selected = tabs.open(stage, "/passport", true);
    tabs.model->moveTab(selected->id, -1);
    waitForPage(*selected->browser);
    out = &tabs;
    return window;
}

Gtk::Window* tabBar(Stage& stage) {
    Tabs* tabs = nullptr;
    return barWindow(stage, tabs);
}

// "タブ一覧" open: the popover is a surface of its own, so the window shows
// a live picture of it where it opened, under its button.
Gtk::Window* tabList(Stage& stage) {
    Tabs* tabs = nullptr;
    auto* window = barWindow(stage, tabs);
    auto& overlay = dynamic_cast<Gtk::Overlay&>(*window->get_child());
    auto* column = overlay.get_child();
    auto* list = dynamic_cast<Gtk::MenuButton*>(column->get_first_child()->get_last_child());
    if (!list) return window;
    test::spinUntil([&] { return list->get_mapped(); });
    list->popup();
    Gtk::Popover* popover = list->get_popover();
    test::spinUntil([&] { return popover->get_mapped() && popover->get_width() > 0; });
    // The list moves to the selected tab's line on the turn after it opens.
    test::spinUntil([&] {
        GtkWidget* focus = gtk_root_get_focus(GTK_ROOT(window->gobj()));
        return focus && gtk_widget_is_ancestor(focus, GTK_WIDGET(popover->gobj())) &&
               gtk_widget_get_prev_sibling(focus) != nullptr;
    });
    // And has drawn itself since: the picture shows what it drew last.
    bool painted = false;
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(popover->gobj()));
    const gulong after = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](bool* flag) { *flag = true; }),
                                                  &painted);
    popover->queue_draw();
    test::spinUntil([&] { return painted; });
    g_signal_handler_disconnect(clock, after);
    auto& picture = *Gtk::make_managed<Gtk::Picture>(Gtk::WidgetPaintable::create(*popover));
    picture.set_can_shrink(false);
    picture.set_halign(Gtk::Align::END);
    picture.set_valign(Gtk::Align::START);
    picture.set_margin_end(4);
    picture.set_margin_top(column->get_first_child()->get_height() - 8);
    picture.set_can_target(false);
    overlay.add_overlay(picture);
    return window;
}

// The strips as a window shows them outside their sections: the queue at
// work, and two tabs saving at once at different stages.
Gtk::Window* strips(Stage& stage) {
    serve(stage);
    auto& tabs = *new Tabs(stage);
    // The pages stay in a window of their own, off the picture.
    auto* pagesWindow = new Gtk::Window;
    pagesWindow->set_child(*tabs.pages);
    pagesWindow->set_default_size(900, 600);
    pagesWindow->present();
    test::spinUntil([&] { return pagesWindow->get_mapped(); });
    auto first = tabs.open(stage, "/tax", false);
    holdPrint(*first, PrintOptions::Stage::beforePrint);
    auto second = tabs.open(stage, "/passport", true);
    holdPrint(*second, PrintOptions::Stage::afterPrint);
    tabs.model->section = WindowModel::Section::history;
    tabs.model->queue->setBusy(true);
    tabs.model->queue->status = std::string("OCR処理中…");

    auto* window = new Gtk::Window;
    tabs.windows.window = window;
    auto& column = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL, 0);
    auto& placeholder = *Gtk::make_managed<Gtk::Box>();
    placeholder.set_vexpand(true);
    column.append(placeholder);
    auto model = tabs.model;
    column.append(*Gtk::make_managed<QueueActivityStrip>(model->queue, [model] {
        model->section = WindowModel::Section::ocr;
    }));
    column.append(*Gtk::make_managed<WebActivityStrips>(model));
    window->set_child(column);
    return window;
}

// A window of the web section alone, shown, with its model.
struct WebWorkspaceScene {
    Gtk::Window* window = nullptr;
    std::shared_ptr<WindowModel> model;

    explicit WebWorkspaceScene(Stage& stage) : stage_(stage) {
        serve(stage);
        static GtkDesktopActions desktop;
        SceneWindows& windows = *new SceneWindows;
        model = WindowModel::create(stage.app.services(), std::nullopt, windows);
        window = new Gtk::Window;
        windows.window = window;
        window->set_child(*Gtk::make_managed<WebWorkspace>(model, desktop));
        window->set_default_size(1240, 860);
        window->present();
        test::spinUntil([&] { return window->get_mapped(); });
    }
    // The selected tab loads one of the served pages.
    void load(const std::string& path) {
        model->setAddress(stage_.server.url(path));
        model->navigate();
        waitForPage(*model->selectedTab()->browser);
    }
    // The model kept for the program's life, as the window.
    Gtk::Window* keep() {
        new std::shared_ptr<WindowModel>(model);
        return window;
    }

private:
    Stage& stage_;
};

// The whole pane of a window's web section.
Gtk::Window* webWorkspace(Stage& stage) {
    WebWorkspaceScene scene(stage);
    scene.load("/tax");
    scene.model->addTab(true);
    scene.load("/vaccine");
    scene.model->addTab(false);
    scene.load("/passport");
    return scene.keep();
}

// More tabs than the bar holds, the last one added and selected: the bar
// is scrolled so that it stands whole at the right end, and the caret is in
// its address field.
Gtk::Window* webWorkspaceManyTabs(Stage& stage) {
    WebWorkspaceScene scene(stage);
    scene.load("/tax");
    for (const char* path : {"/vaccine", "/passport", "/tax", "/passport", "/vaccine"}) {
        scene.model->openTab(false);
        scene.load(path);
    }
    // The new tab, as ＋ makes it.
    scene.model->openTab(false);
    test::spinFor(std::chrono::milliseconds(300));
    return scene.keep();
}

const bool registered = registerScene("tab-bar", 1240, 520, tabBar) &&
                        registerScene("web-workspace-many-tabs", 1240, 860, webWorkspaceManyTabs) &&
                        registerScene("tab-list-open", 1240, 520, tabList) &&
                        registerScene("activity-strips", 1240, 260, strips) &&
                        registerScene("web-workspace", 1240, 860, webWorkspace);

}  // namespace

}  // namespace velmora::screenshots
