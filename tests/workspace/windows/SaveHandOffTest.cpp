#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <filesystem>

#include "support/TextPages.hpp"
#include "workspace/model/CaptureHandOff.hpp"
#include "workspace/window/WindowFixture.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

// A save in real workspace windows: asked for through the desktop's real
// folder chooser, and the OCR after a capture going to the window the set
// opens for it, on a display without a window manager, where the new window
// need not become the active one.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::spinUntil;

namespace {

const std::vector<std::string> articleLines{"吾輩は猫である。", "名前はまだ無い。"};

std::string article() {
    std::string html = "<div style=\"font:32px 'Noto Sans CJK JP';line-height:2;white-space:nowrap\">";
    for (const auto& line : articleLines) html += "<div>" + line + "</div>";
    return test::page("猫", html + "</div>");
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> found;
    if (!fs::is_directory(folder)) return found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

Gtk::Window* chooserWindow() {
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->get_visible() && w->get_title() == OutputAccess::chooserTitle) return w;
    }
    return nullptr;
}

class SaveHandOffTest : public test::WindowFixture {
protected:
    ~SaveHandOffTest() override { set.reset(); }

    void makeSet() { set = std::make_unique<WorkspaceWindows>(*services, Glib::RefPtr<Gtk::Application>()); }
    WorkspaceWindow& at(std::size_t position) { return *set->windows().at(set->order().at(position)); }
    void loadIn(WorkspaceWindow& window, const std::string& path) {
        ASSERT_TRUE(spinUntil([&] { return window.window().get_mapped(); }));
        load(*window.model(), path);
    }
    // The window's queue holding a finished queue of an earlier file.
    void finishedQueue(WindowModel& model, const std::string& name) {
        const fs::path earlier = dir / name;
        const auto image = test::renderLines({.width = 400, .height = 100}, {"前の原稿"});
        const auto bytes = Raster::png(image.image);
        test::writeFile(earlier, std::string(bytes.begin(), bytes.end()));
        model.queue->select({earlier}, nullptr);
        test::runTask(model.queue->start());
        ASSERT_TRUE(spinUntil([&] { return !model.queue->busy.get(); }, 60s));
    }
    static std::vector<fs::path> queued(const QueueController& queue) {
        std::vector<fs::path> paths;
        for (const auto& input : queue.snapshot->value().inputs) paths.push_back(input.fileURL());
        return paths;
    }

    std::unique_ptr<WorkspaceWindows> set;
};

}  // namespace

TEST_F(SaveHandOffTest, TheNewWindowTakesTheCaptureWhicheverWindowIsCurrent) {
    makeSet();
    server.html("/article", article());
    chooser.answer = out;
    // Two windows whose queues hold results: the asking one and another.
    ASSERT_NE(set->open(std::nullopt), nullptr);
    ASSERT_NE(set->open(std::nullopt), nullptr);
    WorkspaceWindow& asking = at(0);
    WorkspaceWindow& other = at(1);
    finishedQueue(*asking.model(), "first.png");
    finishedQueue(*other.model(), "second.png");
    const QueueSnapshot askingBefore = asking.model()->queue->snapshot->value();
    const QueueSnapshot otherBefore = other.model()->queue->snapshot->value();

    loadIn(asking, "/article");
    const auto tab = asking.model()->selectedTab();
    asking.model()->captureOCR = true;
    test::runTask(asking.model()->save(false));
    ASSERT_EQ(asking.model()->message.get(), "");
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 180s));

    // The capture ends once the run has started: its sentence names the
    // window that runs it, by the title that tells it from the others, and
    // the run goes on to its end there.
    EXPECT_EQ(tab->browser->stage.get(), "画像を保存しました（1枚） OCRはウインドウ「ベルモラ（3）」のOCR画面で実行しています。");
    ASSERT_EQ(set->order().size(), 3u);
    WorkspaceWindow& made = at(2);
    ASSERT_TRUE(spinUntil([&] { return !made.model()->queue->busy.get(); }, 180s));
    EXPECT_EQ(made.model()->queue->snapshot->value().status, QueueStatus::completed);
    EXPECT_EQ(asking.window().get_title(), "ベルモラ");
    EXPECT_EQ(other.window().get_title(), "ベルモラ（2）");
    EXPECT_EQ(made.window().get_title(), "ベルモラ（3）");
    EXPECT_EQ(queued(*made.model()->queue), filesIn(out / "Screenshots"));
    EXPECT_EQ(made.model()->section.get(), WindowModel::Section::ocr);
    EXPECT_EQ(asking.model()->queue->snapshot->value(), askingBefore);
    EXPECT_EQ(other.model()->queue->snapshot->value(), otherBefore);
}

TEST_F(SaveHandOffTest, ASaveAskedThroughTheRealFolderChooser) {
    // The container of the application itself, whose chooser is the
    // desktop's.
    services.reset();
    services = std::make_unique<AppServices>(AppRuntime{storage, out},
                                             std::make_shared<BrowserStores>(test::sharedPersistentStore()));
    services->wire();
    fs::create_directories(AppRuntime::defaultOutput());
    const fs::path chosen = dir / "chosen";
    fs::create_directories(chosen);

    auto model = makeModel();
    const auto tab = model->selectedTab();
    show(*tab);
    load(*model, "/page");
    test::Spawned<void> request(model->save(false));
    Gtk::Window* window = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (window = chooserWindow()) != nullptr; }));
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    const auto showing = [&](const fs::path& folder) {
        GFile* shown = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(window->gobj()));
        if (!shown) return false;
        char* path = g_file_get_path(shown);
        const bool there = path && fs::path(path) == folder;
        g_free(path);
        g_object_unref(shown);
        return there;
    };
    // Opened where it opens first, then moved as the user would.
    ASSERT_TRUE(spinUntil([&] { return showing(AppRuntime::defaultOutput()); }));
    GFile* file = g_file_new_for_path(chosen.c_str());
    ASSERT_TRUE(gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(window->gobj()), file, nullptr));
    g_object_unref(file);
    ASSERT_TRUE(spinUntil([&] { return showing(chosen); }));
    GtkWidget* accept = gtk_dialog_get_widget_for_response(GTK_DIALOG(window->gobj()), GTK_RESPONSE_ACCEPT);
    G_GNUC_END_IGNORE_DEPRECATIONS
    ASSERT_NE(accept, nullptr);
    gtk_widget_activate(accept);
    ASSERT_TRUE(request.finish());
    EXPECT_EQ(model->message.get(), "");
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 120s));

    const auto saved = filesIn(chosen / "Screenshots");
    EXPECT_EQ(tab->lastOutput.get(), chosen / "Screenshots");
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_EQ(saved[0].extension(), ".png");
    const Json folders = JSON::parse(test::readFile(storage / "access" / "folders.json"));
    bool granted = false;
    for (const auto& grant : folders["folders"]) granted = granted || grant["path"] == chosen.string();
    EXPECT_TRUE(granted) << folders.dump();
}
