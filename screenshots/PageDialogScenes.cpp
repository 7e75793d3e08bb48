// The dialogs a web page opens (alert, confirm, prompt), over a shop's order
// page served by the loopback server, as the browser tab shows them.
#include <gtkmm/button.h>
#include <gtkmm/messagedialog.h>

#include <memory>
#include <optional>
#include <string>

#include "Scene.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/PageDialogs.hpp"

namespace velmora::screenshots {

namespace {

const char* orderPage =
    "<!doctype html><html lang=ja><head><meta charset=utf-8><title>ご注文内容の確認 | みどり書房</title>"
    "<style>body{font-family:'Noto Sans CJK JP',sans-serif;margin:40px;color:#222}"
    "h1{font-size:24px;border-bottom:2px solid #3a7d44;padding-bottom:8px}"
    "table{border-collapse:collapse;width:100%}td,th{border:1px solid #ccc;padding:8px;text-align:left}"
    "th{background:#eef5ef}.total{font-weight:bold;text-align:right}</style></head><body>"
    "<h1>ご注文内容の確認</h1><p>以下の内容でよろしければ「注文を確定する」を押してください。</p>"
    "<table><tr><th>商品</th><th>数量</th><th>小計</th></tr>"
    "<tr><td>やさしい日本語の文章術</td><td>1</td><td>1,980円</td></tr>"
    "<tr><td>京都の路地を歩く（写真集）</td><td>2</td><td>6,600円</td></tr>"
    "<tr><td colspan=2 class=total>合計（税込）</td><td>8,580円</td></tr></table>"
    "<p><button>注文を確定する</button></p></body></html>";

// The one page the three scenes share, and the script waiting for the
// dialog shown now.
struct Page {
    std::unique_ptr<BrowserSession> session;
    std::unique_ptr<test::WebTestWindow> window;
    std::optional<test::Spawned<std::string>> script;
};

Gtk::Window* shownDialog() {
    for (auto* window : test::visibleWindows()) {
        if (window->get_name() == PageDialogs::dialogName) return window;
    }
    return nullptr;
}

// Answers the dialog of the previous scene (the program has hidden it after
// its picture), so its script ends and the page may ask again.
void answer(Page& page) {
    if (!page.script) return;
    for (auto* window : Gtk::Window::list_toplevels()) {
        if (window->get_name() != PageDialogs::dialogName) continue;
        if (auto* ok = test::findByName(*window, PageDialogs::okName)) gtk_widget_activate(GTK_WIDGET(ok->gobj()));
    }
    page.script->finish();
    page.script.reset();
    test::spinUntil([] { return shownDialog() == nullptr; });
}

Page& page(Stage& stage) {
    // Lives until the process ends: the last dialog is still up then.
    static Page& shared = *new Page;
    if (!shared.session) {
        stage.server.html("/order", orderPage);
        shared.session = std::make_unique<BrowserSession>(false);
        shared.window = std::make_unique<test::WebTestWindow>(shared.session->frame(), 1024, 700);
        shared.window->waitUntilShown();
        shared.session->navigate(stage.server.url("/order"));
        test::spinUntil([&] { return !shared.session->loading && !std::string(shared.session->pageTitle).empty(); });
    }
    answer(shared);
    return shared;
}

Gtk::Window* dialogFor(Stage& stage, const std::string& script) {
    Page& p = page(stage);
    p.script.emplace(test::evaluate(p.session->webView(), script));
    test::spinUntil([] { return shownDialog() != nullptr; });
    return shownDialog();
}

const bool registered =
    registerScene("page-alert", 560, 130,
                  [](Stage& s) { return dialogFor(s, "alert('ご注文を受け付けました。確認メールをお送りします。')"); }) &&
    registerScene("page-confirm", 560, 130,
                  [](Stage& s) { return dialogFor(s, "String(confirm('入力内容を破棄して、このページを離れますか？'))"); }) &&
    registerScene("page-prompt", 560, 180, [](Stage& s) {
        return dialogFor(s, "String(prompt('クーポンコードを入力してください。', 'MIDORI-2026'))");
    });

}  // namespace

}  // namespace velmora::screenshots
