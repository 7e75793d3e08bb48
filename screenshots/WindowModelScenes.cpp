// The question a window asks before it closes a tab whose save still runs,
// over the tab's page.
#include <gtkmm/messagedialog.h>

#include <memory>

#include "Scene.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/model/TabActions.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora::screenshots {

namespace {

// The window the model stands on: the tab's frame in a presented window.
class SceneWindows final : public WindowSetLink {
public:
    Gtk::Window* window = nullptr;
    void scheduleSnapshot() override {}
    Gtk::Window* platformWindow(const UUID&) override { return window; }
};

const char* newsPage =
    "<!doctype html><html lang=ja><head><meta charset=utf-8><title>町の図書館だより 12月号</title>"
    "<style>body{font-family:'Noto Sans CJK JP',sans-serif;margin:40px;color:#222}"
    "h1{font-size:24px;color:#7a3b12}</style></head><body><h1>町の図書館だより 12月号</h1>"
    "<p>年末年始の開館日と、冬のおはなし会のお知らせです。</p></body></html>";

Gtk::Window* busyTabClose(Stage& stage) {
    // Kept until the process ends: the question is still up when the
    // program takes its picture.
    static SceneWindows& windows = *new SceneWindows;
    static std::shared_ptr<WindowModel>& model = *new std::shared_ptr<WindowModel>;
    static std::unique_ptr<test::WebTestWindow>& shown = *new std::unique_ptr<test::WebTestWindow>;
    stage.server.html("/news", newsPage);
    model = WindowModel::create(AppServices::shared(), std::nullopt, windows);
    auto tab = model->selectedTab();
    shown = std::make_unique<test::WebTestWindow>(tab->browser->frame(), 900, 600);
    shown->waitUntilShown();
    windows.window = &shown->window();
    model->setAddress(stage.server.url("/news"));
    model->navigate();
    test::spinUntil([&] { return !tab->browser->loading && !tab->browser->pageTitle->empty(); });
    // The picture is of the question, not of the save: the session only
    // says that one is pending.
    tab->browser->operationPending = true;
    model->requestCloseTab(tab->id);
    Gtk::Window* question = nullptr;
    test::spinUntil([&] {
        for (auto* dialog : test::visibleWindowsOf<Gtk::MessageDialog>()) {
            if (dialog->property_text().get_value().raw() == TabActions::closeQuestion) question = dialog;
        }
        return question != nullptr;
    });
    return question;
}

const bool registered = registerScene("busy-tab-close", 419, 158, busyTabClose);

}  // namespace

}  // namespace velmora::screenshots
