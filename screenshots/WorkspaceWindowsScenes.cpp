// The questions of closing a window and quitting, the help dialog, and a
// window restored from the last quit. Each scene has a window set of its
// own, kept until the process ends: its question is still up when the
// program takes its picture.
#include <gtkmm/messagedialog.h>

#include "Scene.hpp"
#include "foundation/Unicode.hpp"
#include "support/MainLoop.hpp"
#include "support/RasterFiles.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "support/web/WebTestServer.hpp"
#include "workspace/app/BrindlexApp.hpp"
#include "workspace/model/AppServices.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

namespace velmora::screenshots {

namespace {

const char* noticePage =
    "<!doctype html><html lang=ja><head><meta charset=utf-8><title>市民講座のご案内</title>"
    "<style>body{font-family:'Noto Sans CJK JP',sans-serif;margin:40px;color:#222}"
    "h1{font-size:24px;color:#12507a}</style></head><body><h1>市民講座のご案内</h1>"
    "<p>一月から始まる市民講座の日程と申し込み方法をお知らせします。</p></body></html>";

WorkspaceWindows& sceneSet(Stage& stage) {
    stage.app.application()->activate();
    AppServices& services = stage.app.services ? stage.app.services() : AppServices::shared();
    // The windows belong to the application, as the program's do: each
    // has its menu bar.
    auto* set = new WorkspaceWindows(services, stage.app.application());
    set->quitApplication = [] {};
    return *set;
}

Gtk::Window* dialogSaying(const std::string& text) {
    Gtk::Window* found = nullptr;
    test::spinUntil([&] {
        for (auto* dialog : test::visibleWindowsOf<Gtk::MessageDialog>()) {
            if (dialog->property_text().get_value().raw() == text) found = dialog;
        }
        return found != nullptr;
    });
    return found;
}

// A window whose page is loaded and whose tab says a save is pending: the
// picture is of the question, not of the save.
WorkspaceWindow* busyWindow(Stage& stage, WorkspaceWindows& set) {
    stage.server.html("/course", noticePage);
    auto* window = set.open(std::nullopt);
    if (!window) return nullptr;
    auto& model = *window->model();
    model.setAddress(stage.server.url("/course"));
    model.navigate();
    auto tab = model.selectedTab();
    test::spinUntil([&] { return !tab->browser->loading && !tab->browser->pageTitle->empty(); });
    tab->browser->operationPending = true;
    return window;
}

Gtk::Window* closeRunning(Stage& stage) {
    auto& set = sceneSet(stage);
    set.open(std::nullopt);
    auto* window = busyWindow(stage, set);
    if (!window) return nullptr;
    window->window().close();
    return dialogSaying(WorkspaceWindow::runningQuestion);
}

// A window whose private queue holds results that no TXT keeps.
Gtk::Window* closeUnsaved(Stage& stage) {
    auto& set = sceneSet(stage);
    set.open(std::nullopt);
    auto* window = set.open(std::nullopt);
    if (!window) return nullptr;
    const auto png = stage.storage / "scene-page.png";
    test::writePNG(png, 40, 30, 3, [](int, uint8_t* row) { std::fill(row, row + 40 * 3, 0xff); });
    auto& queue = *window->model()->queue;
    queue.privateInput = true;
    queue.select({png}, nullptr);
    window->window().close();
    return dialogSaying(WorkspaceWindow::editsQuestion);
}

// Three kinds of work at once: a page being saved, a private queue being
// read, whose results only memory holds.
Gtk::Window* quitQuestion(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = busyWindow(stage, set);
    if (!window) return nullptr;
    const auto png = stage.storage / "scene-quit-page.png";
    test::writePNG(png, 40, 30, 3, [](int, uint8_t* row) { std::fill(row, row + 40 * 3, 0xff); });
    auto& queue = *window->model()->queue;
    queue.privateInput = true;
    queue.select({png}, nullptr);
    queue.setBusy(true);
    const std::string question = set.pendingWork().question();
    set.requestTermination();
    return dialogSaying(question);
}

// Nothing runs; only an edit of a page read waits for its TXT.
Gtk::Window* quitEdits(Stage& stage) {
    auto& set = sceneSet(stage);
    auto* window = set.open(std::nullopt);
    if (!window) return nullptr;
    const auto png = stage.storage / "scene-quit-edit.png";
    test::writePNG(png, 40, 30, 3, [](int, uint8_t* row) { std::fill(row, row + 40 * 3, 0xff); });
    auto& queue = *window->model()->queue;
    queue.select({png}, nullptr);
    test::runTask(queue.start());
    test::spinUntil([&] { return !queue.busy.get(); }, std::chrono::seconds(30));
    const std::string added = "（確認済み）";
    queue.editText(queue.edited.get() + added,
                   TextRange{static_cast<int64_t>(Unicode::toUTF16(queue.edited.get()).size()), 0}, added, false);
    const std::string question = set.pendingWork().question();
    set.requestTermination();
    return dialogSaying(question);
}

Gtk::Window* help(Stage& stage) {
    auto& set = sceneSet(stage);
    set.open(std::nullopt);
    set.showHelp();
    return dialogSaying("ベルモラの使い方");
}

// A window restored with `count` tabs, the first or the last one selected:
// the others wait unloaded, their labels told apart by their ports.
Gtk::Window* restoredWindow(Stage& stage, int count, bool lastSelected = false) {
    stage.server.html("/course", noticePage);
    auto& set = sceneSet(stage);
    // Each tab's page comes from a server of its own on the same host.
    RestoredWindow restored{UUID::random(), {}, UUID()};
    for (int i = 0; i < count; ++i) {
        test::WebTestServer* other = i == 0 ? nullptr : new test::WebTestServer;
        if (other) other->html("/course", noticePage);
        auto& server = other ? *other : stage.server;
        RestoredTab tab{UUID::random(), server.url("/course?page=" + std::to_string(i + 1)), false};
        restored.tabs.push_back(tab);
    }
    restored.selected = lastSelected ? restored.tabs.back().id : restored.tabs.front().id;
    auto* window = set.open(restored);
    return window ? &window->window() : nullptr;
}

const bool registered = registerScene("close-running-work", 428, 179, closeRunning) &&
                        registerScene("close-unsaved-results", 415, 179, closeUnsaved) &&
                        registerScene("quit-question", 480, 208, quitQuestion) &&
                        registerScene("quit-question-edits", 479, 179, quitEdits) &&
                        registerScene("help", 520, 420, help) &&
                        registerScene("restored-window", 1240, 850, [](Stage& stage) { return restoredWindow(stage, 4); }) &&
                        // The least window: the strip scrolled to the selected tab.
                        registerScene("restored-window-narrow", 920, 720,
                                      [](Stage& stage) { return restoredWindow(stage, 4, true); });

}  // namespace

}  // namespace velmora::screenshots
