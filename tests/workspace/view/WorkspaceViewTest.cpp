#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/scrollbar.h>
#include <gtkmm/adjustment.h>

#include "foundation/Raster.hpp"
#include "ocrjobs/JobControl.hpp"
#include "ocrviews/OCROptionRows.hpp"
#include "ocrviews/OCRProductView.hpp"
#include "ocrviews/QueueView.hpp"
#include "settingsui/SettingsScreen.hpp"
#include "support/RasterFiles.hpp"
#include "support/TextPages.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "support/gui/Pointer.hpp"
#include "workspace/sections/HistoryView.hpp"
#include "workspace/web/ActivityStrips.hpp"
#include "workspace/web/BrowserDownloadList.hpp"
#include "workspace/web/BrowserTabBar.hpp"
#include "workspace/web/CaptureStatusRow.hpp"
#include "workspace/web/OtherTabSaveStrips.hpp"
#include "workspace/web/WebPaneRules.hpp"
#include "workspace/web/WebWorkspace.hpp"
#include "workspace/web/WebWorkspaceContent.hpp"
#include "workspace/window/WindowFixture.hpp"
#include "workspace/windows/WorkspaceView.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

// The workspace view in real windows of a real window set: the section bar
// switching panes over the web pane, which stays mapped (a background save
// goes on under the history), the strips leading back, the top bar's private
// mark and new-window button, the status line and the stopping notice. Rows
// and buttons are pressed with the real pointer.

using namespace velmora;
using namespace std::chrono_literals;
using test::spinUntil;
using Section = WindowModel::Section;

namespace {

class WorkspaceViewTest : public test::WindowFixture {
protected:
    WorkspaceViewTest() {
        set = std::make_unique<WorkspaceWindows>(*services, Glib::RefPtr<Gtk::Application>());
        set->quitApplication = [] {};
        set->changed.connect([this] { ++changes; });
    }
    ~WorkspaceViewTest() override { set.reset(); }

    WorkspaceWindow& openWindow(std::optional<RestoredWindow> restored = std::nullopt) {
        WorkspaceWindow* window = set->open(std::move(restored));
        EXPECT_NE(window, nullptr);
        EXPECT_TRUE(spinUntil([&] { return window->window().get_mapped() && window->view().get_width() > 0; }));
        return *window;
    }

    template <typename T = Gtk::Widget>
    T* named(WorkspaceWindow& window, const std::string& name) {
        return dynamic_cast<T*>(test::findByName(window.window(), name));
    }

    // Presses a widget with the real pointer once it is on screen.
    void press(Gtk::Widget& widget) {
        ASSERT_TRUE(spinUntil([&] { return widget.get_mapped() && widget.get_width() > 0; }));
        ASSERT_TRUE(test::pointerClick(test::centreOf(widget)));
    }
    void pressRow(WorkspaceWindow& window, Section section) {
        auto* row = named(window, WorkspaceView::rowName(section));
        ASSERT_NE(row, nullptr) << WorkspaceView::rowName(section);
        press(*row);
        ASSERT_TRUE(spinUntil([&] { return window.model()->section.get() == section; }));
    }

    static bool shown(Gtk::Widget* widget) { return widget && widget->get_mapped(); }

    // A widget of the web strip of one tab.
    template <typename T = Gtk::Widget>
    T* inStrip(WorkspaceWindow& window, const BrowserTab& tab, const std::string& name) {
        auto* strip = named(window, WebActivityStrips::stripPrefix + tab.id.text());
        return strip ? dynamic_cast<T*>(test::findByName(*strip, name)) : nullptr;
    }

    std::unique_ptr<WorkspaceWindows> set;
    int changes = 0;
};

}  // namespace

TEST_F(WorkspaceViewTest, TheSectionBarShowsEachPaneOverTheWebPaneWhichStaysMapped) {
    auto& window = openWindow();
    auto& view = window.view();
    auto& model = *window.model();

    // The bar: the name, then one row per section in order, 170 wide.
    auto* sidebar = named(window, WorkspaceView::sidebarName);
    ASSERT_NE(sidebar, nullptr);
    // Its whole box, padding included.
    graphene_rect_t bounds;
    ASSERT_TRUE(gtk_widget_compute_bounds(sidebar->gobj(), GTK_WIDGET(window.window().gobj()), &bounds));
    EXPECT_EQ(bounds.size.width, WorkspaceView::sidebarWidth);
    EXPECT_EQ(bounds.size.height, window.view().get_height());
    EXPECT_EQ(named<Gtk::Label>(window, WorkspaceView::titleName)->get_text(), "ベルモラ");
    int previousY = -1;
    for (auto section : WindowModel::allSections) {
        auto* row = named(window, WorkspaceView::rowName(section));
        ASSERT_NE(row, nullptr);
        double x = 0, y = 0;
        ASSERT_TRUE(row->translate_coordinates(*sidebar, 0, 0, x, y));
        EXPECT_GT(static_cast<int>(y), previousY) << "rows in section order";
        previousY = static_cast<int>(y);
    }
    EXPECT_EQ(named(window, "sidebar.OCR")->get_name(), "sidebar.OCR");

    WebWorkspace& web = view.webPane();
    const auto selectedRows = [&] {
        std::vector<Section> found;
        for (auto section : WindowModel::allSections) {
            if (named(window, WorkspaceView::rowName(section))->has_css_class(WorkspaceView::selectedClass)) {
                found.push_back(section);
            }
        }
        return found;
    };
    EXPECT_EQ(selectedRows(), std::vector<Section>{Section::web});
    EXPECT_EQ(named<Gtk::Label>(window, WorkspaceView::sectionTitleName)->get_text(), "Webキャプチャ");
    EXPECT_EQ(view.sectionPane(), nullptr);
    EXPECT_TRUE(view.webPaneSeen());
    EXPECT_TRUE(web.get_can_target());

    // Each other section: its own pane over the web pane, which stays mapped
    // but transparent and inert; the title and the tinted row follow.
    const int before = changes;
    struct Expected {
        Section section;
        const char* title;
        const char* paneWidget;
    };
    for (const Expected& expected : {Expected{Section::ocr, "OCR", OCRProductView::scrollName},
                                     Expected{Section::history, "履歴", HistoryView::Names::view},
                                     Expected{Section::settings, "設定", SettingsScreen::applyName}}) {
        pressRow(window, expected.section);
        EXPECT_EQ(selectedRows(), std::vector<Section>{expected.section});
        EXPECT_EQ(named<Gtk::Label>(window, WorkspaceView::sectionTitleName)->get_text(), expected.title);
        ASSERT_NE(view.sectionPane(), nullptr);
        EXPECT_TRUE(spinUntil([&] { return view.sectionPane()->get_mapped(); }));
        if (expected.paneWidget) {
            EXPECT_TRUE(spinUntil([&] { return shown(named(window, expected.paneWidget)); }));
        }
        EXPECT_TRUE(web.get_mapped());
        EXPECT_FALSE(view.webPaneSeen());
        EXPECT_FALSE(web.get_can_target());
        EXPECT_FALSE(web.get_can_focus());
        // The pane covers the whole web pane.
        EXPECT_TRUE(spinUntil([&] {
            return view.sectionPane()->get_width() == web.get_width() &&
                   view.sectionPane()->get_height() == web.get_height();
        })) << view.sectionPane()->get_width() << " " << web.get_width();
    }
    // Every change told the window set (the menus follow the section).
    EXPECT_GE(changes - before, 3);
    // The earlier panes are gone: only the settings screen is made.
    EXPECT_EQ(named(window, HistoryView::Names::view), nullptr);

    pressRow(window, Section::web);
    EXPECT_EQ(view.sectionPane(), nullptr);
    EXPECT_TRUE(view.webPaneSeen());
    EXPECT_TRUE(web.get_can_target());
    EXPECT_TRUE(web.get_can_focus());
    EXPECT_EQ(named(window, SettingsScreen::applyName), nullptr);
    // Assigning the same section again is no change.
    const int settled = changes;
    model.section = Section::web;
    EXPECT_EQ(changes, settled);
}

// The settings' action bar after an export: the result sentence wraps
// beside the buttons, and the bar stays inside the window of the default
// size.
TEST_F(WorkspaceViewTest, TheSettingsBarAfterAnExportStaysInTheWindow) {
    auto& window = openWindow();
    pressRow(window, Section::settings);
    auto* exportButton = named<Gtk::Button>(window, SettingsScreen::exportName);
    ASSERT_NE(exportButton, nullptr);
    g_signal_emit_by_name(exportButton->gobj(), "clicked");
    ASSERT_TRUE(test::saveThroughFileChooser(dir / "ベルモラの書き出した設定"));
    auto* bar = named(window, SettingsScreen::actionBarName);
    auto* result = named<Gtk::Label>(window, SettingsScreen::resultName);
    ASSERT_TRUE(bar && result);
    // Laid out: the sentence's lines all stand in the label's height.
    ASSERT_TRUE(spinUntil([&] {
        int width = 0, lines = 0;
        result->get_layout()->get_pixel_size(width, lines);
        return result->get_width() > 0 && result->get_layout()->get_line_count() > 1 && result->get_height() >= lines;
    }));
    graphene_rect_t bounds;
    EXPECT_TRUE(spinUntil([&] {
        return bar->is_drawable() && gtk_widget_compute_bounds(bar->gobj(), GTK_WIDGET(window.window().gobj()), &bounds) &&
               bounds.origin.y + bounds.size.height <= window.window().get_height();
    })) << "the bar ends at " << bounds.origin.y + bounds.size.height << " of " << window.window().get_height();
}

TEST_F(WorkspaceViewTest, ASectionChangeLeavesNoFieldFocused) {
    auto& window = openWindow();
    auto& model = *window.model();
    auto* address = named<Gtk::Entry>(window, WebWorkspaceContent::addressName);
    ASSERT_NE(address, nullptr);
    ASSERT_TRUE(spinUntil([&] { return address->get_mapped(); }));
    ASSERT_TRUE(address->grab_focus());
    // The entry's text child holds the focus.
    const auto focusIn = [&](Gtk::Widget& widget) {
        for (Gtk::Widget* w = window.window().get_focus(); w; w = w->get_parent()) {
            if (w == &widget) return true;
        }
        return false;
    };
    ASSERT_TRUE(focusIn(*address));

    pressRow(window, Section::settings);
    EXPECT_EQ(window.window().get_focus(), nullptr);
    // A field of the settings screen, then back to the web section.
    Gtk::Widget* field = nullptr;
    ASSERT_TRUE(spinUntil([&] { return (field = named(window, "form.product.paper")) && field->get_mapped(); }));
    ASSERT_TRUE(field->grab_focus());
    ASSERT_TRUE(focusIn(*field));
    model.section = Section::web;
    EXPECT_EQ(window.window().get_focus(), nullptr);
}

TEST_F(WorkspaceViewTest, ThePrivateMarkStatusLineAndStoppingNoticeFollowTheModel) {
    auto& window = openWindow();
    auto& model = *window.model();
    auto* mark = named(window, WorkspaceView::privateName);
    auto* message = named<Gtk::Label>(window, WorkspaceView::messageName);
    auto* stopping = named<Gtk::Label>(window, WorkspaceView::stoppingName);
    ASSERT_TRUE(mark && message && stopping);

    // A normal tab: no mark; an empty message: no row at all.
    EXPECT_FALSE(mark->get_visible());
    EXPECT_FALSE(message->get_visible());
    EXPECT_FALSE(stopping->get_visible());

    // A private tab selected in the web section: the mark, only there.
    model.addTab(true);
    EXPECT_TRUE(spinUntil([&] { return mark->get_mapped(); }));
    pressRow(window, Section::history);
    EXPECT_FALSE(mark->get_visible());
    pressRow(window, Section::web);
    EXPECT_TRUE(mark->get_visible());
    model.selectTab(model.tabs.get().front()->id, true);
    EXPECT_FALSE(mark->get_visible());

    model.message = "URLを確認してください";
    EXPECT_TRUE(spinUntil([&] { return message->get_mapped(); }));
    EXPECT_EQ(message->get_text(), "URLを確認してください");
    EXPECT_TRUE(message->has_css_class("dim-label"));
    model.message = "";
    EXPECT_FALSE(message->get_visible());

    // The notice while the window stops its work, until it closes or the
    // close fails.
    model.closing = true;
    EXPECT_TRUE(spinUntil([&] { return stopping->get_mapped(); }));
    EXPECT_EQ(stopping->get_text(), "処理を止めています。保存済みの結果は保持します。");
    model.closing = false;
    EXPECT_FALSE(stopping->get_visible());

    // The new-window button: an icon with its tooltip, opening an empty
    // window.
    auto* newWindow = named<Gtk::Button>(window, WorkspaceView::newWindowName);
    ASSERT_NE(newWindow, nullptr);
    EXPECT_EQ(newWindow->get_tooltip_text(), "新しいウインドウ");
    EXPECT_EQ(newWindow->get_icon_name(), "window-new-symbolic");
    press(*newWindow);
    ASSERT_TRUE(spinUntil([&] { return set->windows().size() == 2; }));
    const auto& opened = *set->windows().at(set->order().back());
    EXPECT_EQ(opened.model()->tabs.get().size(), 1u);
    EXPECT_EQ(opened.model()->address(), "");
}

TEST_F(WorkspaceViewTest, ABackgroundSaveGoesOnUnderTheHistoryAndItsStripLeadsBack) {
    // A restored tab never loaded, and a tab whose capture the server holds.
    RestoredWindow restored{UUID::random(), {RestoredTab{UUID::random(), server.url("/later"), false}}, UUID()};
    restored.selected = restored.tabs[0].id;
    server.html("/later", test::page("あとで"));
    auto& window = openWindow(restored);
    auto& model = *window.model();
    auto& view = window.view();
    auto deferred = model.tabs.get()[0];
    ASSERT_TRUE(deferred->deferredURL.get().has_value());
    auto saving = model.addTab(false);
    load(model, "/page");
    startHeldCapture(*saving);

    // The OCR strip stays out of sight: nothing runs in the queue.
    auto* ocrSlot = named(window, WorkspaceView::ocrStripSlotName);
    auto* webSlot = named(window, WorkspaceView::webStripsSlotName);
    ASSERT_TRUE(ocrSlot && webSlot);
    EXPECT_FALSE(webSlot->get_visible()) << "no web strips in the web section";

    pressRow(window, Section::history);
    EXPECT_TRUE(webSlot->get_visible());
    auto* show = inStrip<Gtk::Button>(window, *saving, WebActivityStrip::showName);
    ASSERT_NE(show, nullptr);
    ASSERT_TRUE(spinUntil([&] { return show->get_mapped(); }));
    EXPECT_FALSE(shown(inStrip(window, *deferred, WebActivityStrip::showName)));
    // The stage text is the session's.
    auto* stage = inStrip<Gtk::Label>(window, *saving, WebActivityStrip::textName);
    ASSERT_NE(stage, nullptr);
    EXPECT_NE(stage->get_text().raw().find(saving->browser->stage.get()), std::string::npos);

    // The strip's button: back to the web section with the saving tab
    // selected, the restored one still unloaded.
    model.selectTab(deferred->id, false);
    press(*show);
    ASSERT_TRUE(spinUntil([&] { return model.section.get() == Section::web; }));
    EXPECT_EQ(model.selectedTabID.get(), saving->id);
    EXPECT_FALSE(webSlot->get_visible());
    EXPECT_TRUE(deferred->deferredURL.get().has_value());
    EXPECT_EQ(server.requests("/later"), 0);
    endHeldCapture(*saving);

    // A capture waiting for an image the server holds, the history shown
    // meanwhile with the other tab selected, then the image let through:
    // the hidden page is still drawn, so the capture gets the frames it
    // waits for, reaches its end and writes its PNG.
    const std::string png = [] {
        const auto image = test::makeImage(10, 10, 3, [](int, int, uint8_t* p) { p[0] = 0x20, p[1] = 0x90, p[2] = 0x40; });
        const auto bytes = Raster::png(image);
        return std::string(bytes.begin(), bytes.end());
    }();
    server.held("/late.png", png, "image/png");
    // A fresh page: the image the first save waited for came as no image.
    ASSERT_EQ(model.selectedTab(), saving);
    load(model, "/page");
    run(*saving, "document.body.insertAdjacentHTML('beforeend','<img src=/late.png width=10 height=10>');true");
    ASSERT_TRUE(spinUntil([&] { return server.requests("/late.png") > 0; }));
    saving->browser->capture(captureOptions(), screenshots);
    ASSERT_TRUE(spinUntil([&] { return saving->browser->stage.get() == "下部の画像を読み込み中"; }));
    model.selectTab(deferred->id, false);
    pressRow(window, Section::history);
    EXPECT_FALSE(view.webPaneSeen());
    server.release("/late.png");
    ASSERT_TRUE(spinUntil([&] { return !saving->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(model.section.get(), Section::history);
    EXPECT_FALSE(test::listNames(screenshots).empty()) << saving->browser->captureDiagnosticText.get();
    EXPECT_TRUE(deferred->deferredURL.get().has_value());

    // The OCR strip's slot shows outside the OCR section only.
    EXPECT_TRUE(ocrSlot->get_visible());
    pressRow(window, Section::ocr);
    EXPECT_FALSE(ocrSlot->get_visible());
}

TEST_F(WorkspaceViewTest, ThePageKeepsHalfTheWindowInBothPanelLayouts) {
    WorkspaceWindow& window = openWindow();
    auto model = window.model();
    load(*model, "/page");
    auto* area = named(window, WebWorkspaceContent::webAreaName);
    auto* status = named(window, CaptureStatusRow::rowName);
    ASSERT_TRUE(area && status);
    for (auto panel : {AppPreferences::Panel::right, AppPreferences::Panel::bottom}) {
        model->panel = panel;
        const int windowHeight = gdk_surface_get_height(window.window().get_surface()->gobj());
        ASSERT_GT(windowHeight, 0);
        EXPECT_TRUE(spinUntil([&] { return area->get_mapped() && 2 * area->get_height() >= windowHeight; }))
            << rawValue(panel) << ": the page is " << area->get_height() << " of " << windowHeight;
        // A loaded page the tab has not saved: the status row stands only
        // for the save buttons the bottom panel puts in it.
        EXPECT_EQ(status->get_visible(), panel == AppPreferences::Panel::bottom) << rawValue(panel);
    }
}

namespace {

// Pages of real Japanese text, one file each, for a queue that runs.
std::vector<std::filesystem::path> textFiles(const std::filesystem::path& folder, int count) {
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < count; ++i) {
        const auto file = folder / ("page" + std::to_string(i) + ".png");
        const auto page = test::renderLines({.width = 700, .height = 260},
                                            {"第" + std::to_string(i + 1) + "章　冬の図書館", "返却ポストは休館中も利用できます。"});
        const auto bytes = Raster::png(page.image);
        test::writeFile(file, std::string(bytes.begin(), bytes.end()));
        files.push_back(file);
    }
    return files;
}

}  // namespace

// The OCR section of a window at its least size, with a queue longer than
// the panel shows: the panel scrolls up and down beside its rows, never
// sideways, so no scroll bar stands over a toolbar.
TEST_F(WorkspaceViewTest, TheQueuePanelOfTheLeastWindowNeverScrollsSideways) {
    auto& window = openWindow();
    window.window().set_default_size(WorkspaceWindow::minimumWidth, WorkspaceWindow::minimumHeight);
    window.model()->queue->select(textFiles(dir.path(), 6), nullptr);
    window.model()->queue->processingList = true;
    pressRow(window, Section::ocr);
    QueueView* panel = nullptr;
    ASSERT_TRUE(spinUntil([&] {
        auto* slot = named(window, OCRProductView::queueSlotName);
        panel = slot ? dynamic_cast<QueueView*>(slot->get_first_child()) : nullptr;
        return panel && panel->get_mapped() && window.window().get_width() <= WorkspaceWindow::minimumWidth &&
               !panel->refreshPending() && panel->get_vadjustment()->get_upper() > panel->get_height();
    })) << window.window().get_width();
    auto h = panel->get_hadjustment();
    EXPECT_TRUE(spinUntil([&] { return h->get_upper() <= h->get_page_size() + 0.5; }))
        << h->get_upper() << " wide in " << h->get_page_size();
    EXPECT_FALSE(panel->get_hscrollbar()->get_mapped());
}

// Everything that can stand between the address bar and the page at once:
// the OCR strip of a paused queue, a refusal, a save running in another tab
// and the downloads, idle and then three running. The page keeps half of
// the default window in both layouts.
TEST_F(WorkspaceViewTest, ThePageKeepsHalfTheWindowWithEveryStripRefusalAndDownloadShown) {
    WorkspaceWindow& window = openWindow();
    ASSERT_EQ(gdk_surface_get_height(window.window().get_surface()->gobj()), WorkspaceWindow::defaultHeight);
    auto model = window.model();
    std::filesystem::create_directories(out / "downloads");
    const OutputGrant grant = services->access.approve(out / "downloads");
    services->settings.change([&](AppPreferences& p) {
        p.saveMode = AppPreferences::SaveMode::automatic;
        p.destinationID = grant.id;
    });
    server.html("/other", test::page("別のページ", "<p>別タブ</p>"));
    server.bytes("/done.pdf", "application/pdf", std::string(120000, 'p'),
                 {{"Content-Disposition", "attachment; filename=tax-form-2026.pdf"}});
    for (const char* name : {"/a.bin", "/b.bin", "/c.bin"}) {
        server.stream(name, {.length = 5242880, .chunk = 65536, .interval = std::chrono::hours(1),
                             .headers = {{"Content-Disposition", std::string("attachment; filename=") + (name + 1)}}});
    }
    server.held("/slow", test::page("遅いページ"));

    // A queue paused in the middle of its run: the OCR strip stands.
    const auto& queue = model->queue;
    queue->select(textFiles(dir.path(), 6), nullptr);
    test::runTask(queue->start());
    ASSERT_TRUE(queue->busy.get()) << queue->status.get();
    queue->stop(JobControl::Stop::pause);
    ASSERT_TRUE(spinUntil([&] { return !queue->busy.get(); }, 120s));

    // Another tab saving: its strip stands in this tab's pane.
    auto other = model->selectedTab();
    load(*model, "/other");
    startHeldCapture(*other);
    auto tab = model->addTab(false);
    load(*model, "/page");

    // A finished download: the idle list.
    const auto downloadOf = [&](const std::string& path) {
        const std::size_t before = tab->downloads->size();
        tab->browser->navigate(server.url(path));
        EXPECT_TRUE(spinUntil([&] { return tab->downloads->size() > before; }, 60s)) << path;
        return tab->downloads.get().back();
    };
    auto done = downloadOf("/done.pdf");
    ASSERT_TRUE(spinUntil([&] { return !done->active(); }, 60s));
    // A load stopped by the user: its notice.
    model->setAddress(server.url("/slow"));
    model->navigate();
    ASSERT_TRUE(spinUntil([&] { return server.requests("/slow") > 0 && tab->browser->loading.get(); }, 60s));
    tab->browser->stopNavigation();
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->loading.get(); }, 60s));
    // A refused address: the refusal (which ends the notice: the address
    // is the user's latest word).
    model->setAddress("file:///home/user/メモ.txt");
    model->navigate();
    ASSERT_TRUE(tab->refusal->has_value());

    auto* area = named(window, WebWorkspaceContent::webAreaName);
    auto* panelBox = named(window, WebWorkspaceContent::panelBoxName);
    auto* split = named(window, WebWorkspaceContent::splitName);
    ASSERT_TRUE(area && panelBox && split);
    // The layout of the panel's place, once the window has drawn it.
    const auto laidOut = [&](AppPreferences::Panel panel) {
        graphene_rect_t bounds{};
        if (!gtk_widget_compute_bounds(panelBox->gobj(), split->gobj(), &bounds)) return false;
        return panel == AppPreferences::Panel::right ? bounds.origin.y == 0 && bounds.origin.x > 0
                                                     : bounds.origin.x == 0 && bounds.origin.y > 0;
    };
    // Everything stands: the strip, the refusal, the other tab's save and
    // the downloads. (A notice stands over the page's foot and takes none of
    // its height.)
    const auto standing = [&](const char* name) {
        for (Gtk::Widget* w = named(window, name); w; w = w->get_parent()) {
            if (!w->get_visible()) return false;
        }
        return named(window, name) != nullptr;
    };
    for (const char* name :
         {QueueActivityStrip::stripName, CaptureStatusRow::stageName, OtherTabSaveStrips::stripName,
          BrowserDownloadList::listName}) {
        EXPECT_TRUE(spinUntil([&] { return standing(name); })) << name;
    }
    const auto keepsHalf = [&](const std::string& what) {
        EXPECT_TRUE(spinUntil([&] { return laidOut(model->panel.get()); }, 10s)) << what;
        // The window as the user sees it: its surface, frame included.
        const int windowHeight = gdk_surface_get_height(window.window().get_surface()->gobj());
        EXPECT_TRUE(spinUntil([&] { return area->get_mapped() && 2 * area->get_height() >= windowHeight; }, 10s))
            << what << ": the page is " << area->get_height() << " of " << windowHeight;
    };
    for (auto panel : {AppPreferences::Panel::right, AppPreferences::Panel::bottom}) {
        model->panel = panel;
        keepsHalf(std::string(rawValue(panel)) + ", idle downloads");
    }
    // Three downloads running besides.
    std::vector<std::shared_ptr<BrowserDownload>> running;
    for (const char* name : {"/a.bin", "/b.bin", "/c.bin"}) {
        running.push_back(downloadOf(name));
        ASSERT_TRUE(spinUntil([&] { return running.back()->received() > 0; }, 60s));
    }
    for (auto panel : {AppPreferences::Panel::right, AppPreferences::Panel::bottom}) {
        model->panel = panel;
        keepsHalf(std::string(rawValue(panel)) + ", running downloads");
        // A running row fits the page's column: its "中止" is within it.
        auto* list = named(window, BrowserDownloadList::listName);
        auto* cancel = named(window, WebPaneRules::cancelPrefix + running.back()->id.text());
        ASSERT_TRUE(list && cancel);
        graphene_rect_t bounds{};
        ASSERT_TRUE(spinUntil([&] { return cancel->get_mapped(); }));
        ASSERT_TRUE(gtk_widget_compute_bounds(cancel->gobj(), list->gobj(), &bounds));
        EXPECT_LE(bounds.origin.x + bounds.size.width, list->get_width()) << rawValue(panel);
    }
    for (auto& download : running) download->cancel();
    ASSERT_TRUE(spinUntil([&] { return !tab->active(); }, 60s));
    endHeldCapture(*other);
}

// The least window, four tabs restored with the last selected, a download
// and a queue read: the selected tab stays in the strip, the download
// caption breaks between words, the OCR rows stay whole, panel open or not.
TEST_F(WorkspaceViewTest, TheLeastWindowShowsTheSelectedTabWholeWordsAndEveryOCRRow) {
    server.bytes("/done.pdf", "application/pdf", std::string(1200, 'p'),
                 {{"Content-Disposition", "attachment; filename=report.pdf"}});
    RestoredWindow restored{UUID::random(), {}, {}};
    for (int i = 0; i < 4; ++i) restored.tabs.push_back({UUID::random(), server.url("/page?" + std::to_string(i)), false});
    restored.selected = restored.tabs.back().id;
    WorkspaceWindow& window = openWindow(restored);
    auto model = window.model();
    auto* item = named(window, BrowserTabBar::itemPrefix + restored.selected.text());
    auto* strip = item ? item->get_ancestor(GTK_TYPE_SCROLLED_WINDOW) : nullptr;
    ASSERT_TRUE(strip);
    const auto inStrip = [&] {
        graphene_rect_t b{};
        return gtk_widget_compute_bounds(item->gobj(), strip->gobj(), &b) && b.origin.x >= -0.5 &&
               b.origin.x + b.size.width <= strip->get_width() + 0.5;
    };
    // Made the least window, widened and made the least again: the strip
    // follows the window's width each time.
    for (const int width : {WorkspaceWindow::minimumWidth, WorkspaceWindow::defaultWidth, WorkspaceWindow::minimumWidth}) {
        window.window().set_default_size(width, WorkspaceWindow::minimumHeight);
        ASSERT_TRUE(spinUntil([&] { return std::abs(window.window().get_width() - width) <= 10; }))
            << window.window().get_width();
        EXPECT_TRUE(spinUntil(inStrip)) << "the selected tab is out of the strip at " << width;
    }

    auto tab = model->selectedTab();
    tab->browser->navigate(server.url("/done.pdf"));
    ASSERT_TRUE(spinUntil([&] { return !tab->downloads->empty() && !tab->downloads.get().back()->active(); }, 60s));
    auto* caption = named<Gtk::Label>(window, BrowserDownloadList::captionName);
    ASSERT_TRUE(caption && spinUntil([&] { return caption->get_mapped() && caption->get_width() > 0; }));
    for (const auto& line : caption->get_layout()->get_const_lines()) {
        const std::string rest = caption->get_text().raw().substr(static_cast<std::size_t>(line->get_start_index()));
        EXPECT_TRUE(rest == caption->get_text().raw() || rest.starts_with("タブの") || rest.starts_with("ダウンロード")) << rest;
    }

    auto& queue = *model->queue;
    queue.managedQueue = true;
    queue.select(textFiles(dir.path(), 6), nullptr);
    test::runTask(queue.start());
    ASSERT_TRUE(spinUntil([&] { return !queue.busy.get(); }, 120s)) << queue.status.get();
    pressRow(window, Section::ocr);
    auto* pane = named(window, OCRProductView::scrollName);
    auto* slot = named(window, OCRProductView::queueSlotName);
    ASSERT_TRUE(pane && slot && pane->get_parent());
    const auto extent = [&](Gtk::Widget* widget) {
        graphene_rect_t b{};
        if (!gtk_widget_compute_bounds(widget->gobj(), pane->gobj(), &b)) return std::pair{-1.0F, 0.0F};
        return std::pair{b.origin.y, b.origin.y + b.size.height};
    };
    auto* view = dynamic_cast<OCRProductView*>(pane->get_parent());
    // Settled: the panel's rows measured, the split laid out, then two
    // frames painted.
    long paints = 0;
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.window().gobj()));
    const gulong painted = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](long* n) { ++*n; }), &paints);
    for (const bool listed : {false, true}) {
        queue.processingList = listed;
        ASSERT_TRUE(spinUntil([&] {
            auto* panel = dynamic_cast<QueueView*>(slot->get_first_child());
            if (slot->get_mapped() != listed || view->layoutPending() || (listed && (!panel || panel->refreshPending())))
                paints = 0;
            view->queue_draw();
            return paints >= 2;
        }));
        for (const char* name : {OCROptionRows::saveName, OCROptionRows::listName}) {
            const auto [top, bottom] = extent(named(window, name));
            EXPECT_TRUE(top >= 0 && bottom <= pane->get_height() + 0.5) << name << (listed ? " beside the panel" : "");
        }
    }
    g_signal_handler_disconnect(clock, painted);
}
