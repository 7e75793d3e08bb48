#include <gtest/gtest.h>
#include <gtkmm/progressbar.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/togglebutton.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "browser/BrowserDownload.hpp"
#include "support/ToolkitLog.hpp"
#include "support/web/WebTestServer.hpp"
#include "workspace/web/BrowserDownloadList.hpp"
#include "workspace/web/WebPaneRules.hpp"
#include "workspace/webpane/WebPaneFixture.hpp"
#include "workspace/windows/WorkspaceView.hpp"

// The selected tab's downloads in the web pane, with real downloads from
// the loopback server: the bytes of a held response, the state of each row
// through cancelling, committing and its end, "フォルダで表示" only for a
// published file (given to the desktop, never opened), the private caption,
// and a long list scrolling inside its cap.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::spinUntil;
using State = BrowserDownload::State;

namespace {

test::WebTestServer::Headers attachment(const std::string& name) {
    return {{"Content-Disposition", "attachment; filename=" + name}};
}

// What one row showed at a moment.
struct Seen {
    State state = State::destination;
    std::string stateText;
    bool bytes = false;
    std::string bytesText;
    bool cancel = false;
    bool reveal = false;
};

class DownloadListTest : public test::WebPaneFixture {
protected:
    DownloadListTest() {
        fs::create_directories(downloads);
        chooser.answer = downloads;
    }

    std::shared_ptr<BrowserDownload> startDownload(WindowModel& model, const std::string& path, size_t index = 0) {
        auto tab = model.selectedTab();
        tab->browser->navigate(server.url(path));
        EXPECT_TRUE(spinUntil([&] { return tab->downloads->size() > index; }, 30s)) << path;
        return tab->downloads->size() > index ? tab->downloads.get()[index] : nullptr;
    }

    static Seen seen(Gtk::Widget& root, const BrowserDownload& item) {
        const std::string id = item.id.text();
        Seen s;
        s.state = item.state();
        auto* state = named<Gtk::Label>(root, WebPaneRules::statePrefix + id);
        auto* bytes = named<Gtk::Label>(root, DownloadRow::bytesPrefix + id);
        auto* cancel = named<Gtk::Button>(root, WebPaneRules::cancelPrefix + id);
        auto* reveal = named<Gtk::Button>(root, WebPaneRules::revealPrefix + id);
        if (!state || !bytes || !cancel || !reveal) {
            ADD_FAILURE() << "no row for " << id;
            return s;
        }
        s.stateText = state->get_text();
        s.bytes = shownNow(bytes);
        s.bytesText = bytes->get_text();
        s.cancel = shownNow(cancel);
        s.reveal = shownNow(reveal);
        return s;
    }

    fs::path downloads = dir / "downloads";
};

}  // namespace

TEST_F(DownloadListTest, ARunningDownloadShowsItsBytesUntilItIsCancelled) {
    // 1024 of 4096 bytes sent, the rest held back.
    server.stream("/held.bin", {.length = 4096, .chunk = 1024, .interval = 3600s, .headers = attachment("held.bin")});
    server.stream("/unknown.bin", {.length = 4096,
                                   .chunk = 1024,
                                   .announceLength = false,
                                   .interval = 3600s,
                                   .headers = attachment("unknown.bin")});
    auto model = makeModel();
    test::ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    auto* list = named<BrowserDownloadList>(content, BrowserDownloadList::listName);
    ASSERT_NE(list, nullptr);
    EXPECT_FALSE(list->get_visible()) << "no downloads: no caption, no frame";
    load(*model, "/page");

    // Before its first bytes a download of unknown size says so.
    std::optional<Seen> waiting;
    chooser.whileOpen = [&] { waiting = seen(content, *model->selectedTab()->downloads->back()); };
    auto unknown = startDownload(*model, "/unknown.bin");
    ASSERT_TRUE(unknown);
    ASSERT_TRUE(spinUntil([&] { return unknown->received() == 1024; }, 30s)) << unknown->received();
    ASSERT_TRUE(waiting.has_value());
    EXPECT_EQ(waiting->stateText, "保存先の確認中");
    EXPECT_EQ(waiting->bytesText, "0 B（総量未確定）");
    EXPECT_TRUE(waiting->cancel);
    EXPECT_TRUE(list->get_visible());
    EXPECT_EQ(named<Gtk::Label>(content, BrowserDownloadList::captionName)->get_text(), "このタブのダウンロード");
    Seen now = seen(content, *unknown);
    EXPECT_EQ(now.stateText, "受信中");
    EXPECT_EQ(now.bytesText, "1.0 KB（総量未確定）");
    EXPECT_TRUE(now.cancel);
    EXPECT_FALSE(now.reveal);
    auto* name = named<Gtk::Label>(content, DownloadRow::namePrefix + unknown->id.text());
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->get_text(), "unknown.bin");

    auto held = startDownload(*model, "/held.bin", 1);
    ASSERT_TRUE(held);
    ASSERT_TRUE(spinUntil([&] { return seen(content, *held).bytesText == "1.0 KB / 4.0 KB"; }, 30s))
        << seen(content, *held).bytesText;
    EXPECT_EQ(list->shownDownloads(), (std::vector<UUID>{unknown->id, held->id}));
    // Beside them a bar: a quarter full for the announced total, moving
    // without one.
    auto* heldBar = named<Gtk::ProgressBar>(content, DownloadRow::progressPrefix + held->id.text());
    auto* unknownBar = named<Gtk::ProgressBar>(content, DownloadRow::progressPrefix + unknown->id.text());
    ASSERT_TRUE(heldBar && unknownBar);
    EXPECT_TRUE(shownNow(heldBar));
    EXPECT_DOUBLE_EQ(heldBar->get_fraction(), 0.25);
    EXPECT_TRUE(shownNow(unknownBar));
    EXPECT_EQ(unknownBar->get_fraction(), 0.0) << "a pulsing bar has no share";
    // The bars and the "中止" buttons stand in one column from row to row,
    // though the two byte counts differ in length.
    auto* heldCancel = named(content, WebPaneRules::cancelPrefix + held->id.text());
    auto* unknownCancel = named(content, WebPaneRules::cancelPrefix + unknown->id.text());
    ASSERT_TRUE(heldCancel && unknownCancel);
    auto left = [&](Gtk::Widget* widget) {
        graphene_rect_t bounds{};
        return gtk_widget_compute_bounds(GTK_WIDGET(widget->gobj()), GTK_WIDGET(content.gobj()), &bounds)
                   ? bounds.origin.x
                   : -1.0f;
    };
    ASSERT_TRUE(spinUntil([&] { return heldBar->get_mapped() && unknownCancel->get_width() > 0; }));
    EXPECT_NE(seen(content, *held).bytesText.size(), seen(content, *unknown).bytesText.size());
    EXPECT_TRUE(spinUntil([&] { return left(heldBar) == left(unknownBar); })) << left(heldBar) << " " << left(unknownBar);
    EXPECT_EQ(left(heldCancel), left(unknownCancel));
    // In a pane narrower than a running row, the name and the byte count
    // give way and "中止" stays whole inside the pane.
    shown.window.set_default_size(440, 860);
    EXPECT_TRUE(shown.settled([&] { return content.get_width() <= 440; })) << content.get_width();
    graphene_rect_t cancelBounds{};
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(heldCancel->gobj()), GTK_WIDGET(content.gobj()), &cancelBounds));
    EXPECT_LE(cancelBounds.origin.x + cancelBounds.size.width, content.get_width());
    shown.window.set_default_size(1240, 860);

    // "中止": the bytes and the button stay while it stops, and go once
    // it has.
    std::vector<Seen> stopping;
    auto watch = held->changed.connect([&] {
        if (held->state() == State::cancelling) stopping.push_back(seen(content, *held));
    });
    click(named<Gtk::Button>(content, WebPaneRules::cancelPrefix + held->id.text()));
    ASSERT_TRUE(spinUntil([&] { return held->state() == State::cancelled; }, 30s));
    watch.disconnect();
    ASSERT_FALSE(stopping.empty());
    EXPECT_EQ(stopping.front().stateText, "中止しています");
    EXPECT_TRUE(stopping.front().bytes);
    EXPECT_TRUE(stopping.front().cancel);
    now = seen(content, *held);
    EXPECT_EQ(now.stateText, "中止済み");
    EXPECT_FALSE(now.bytes);
    EXPECT_FALSE(now.cancel);
    EXPECT_FALSE(now.reveal) << "a cancelled download has no file to show";
    EXPECT_FALSE(shownNow(heldBar));
    EXPECT_EQ(unknown->state(), State::receiving) << "only that download stops";
    unknown->cancel();
    ASSERT_TRUE(spinUntil([&] { return !model->selectedTab()->active(); }, 30s));

    // Another tab shows its own (no) downloads; back again, this tab's.
    auto first = model->selectedTab();
    model->addTab(false);
    EXPECT_FALSE(list->get_visible());
    EXPECT_TRUE(list->shownDownloads().empty());
    model->selectTab(first->id, false);
    EXPECT_TRUE(list->get_visible());
    EXPECT_EQ(list->shownDownloads(), (std::vector<UUID>{unknown->id, held->id}));
    EXPECT_EQ(seen(content, *held).stateText, "中止済み");
}

TEST_F(DownloadListTest, APublishedFileIsShownInItsFolderNeverOpenedAndAFailureHasNoFile) {
    server.bytes("/report.pdf", "application/octet-stream", std::string(4096, 'r'), attachment("report.pdf"));
    server.stream("/broken.bin",
                  {.length = 65536, .chunk = 4096, .breakAfter = int64_t{8192}, .headers = attachment("broken.bin")});
    auto model = makeModel();
    test::ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    load(*model, "/page");

    std::vector<Seen> seenStates;
    std::shared_ptr<BrowserDownload> watched;
    sigc::connection watch;
    chooser.whileOpen = [&] {
        watched = model->selectedTab()->downloads->back();
        watch = watched->changed.connect([&] { seenStates.push_back(seen(content, *watched)); });
    };
    auto report = startDownload(*model, "/report.pdf");
    ASSERT_TRUE(spinUntil([&] { return report->state() == State::completed; }, 30s));
    watch.disconnect();
    bool committing = false;
    for (const auto& s : seenStates) {
        if (s.state != State::committing) continue;
        committing = true;
        EXPECT_EQ(s.stateText, "保存中");
        EXPECT_TRUE(s.bytes);
        EXPECT_TRUE(s.cancel);
        EXPECT_FALSE(s.reveal) << "not yet published";
    }
    EXPECT_TRUE(committing);
    const Seen done = seen(content, *report);
    EXPECT_EQ(done.stateText, "保存完了");
    EXPECT_FALSE(done.bytes);
    EXPECT_FALSE(done.cancel);
    EXPECT_TRUE(done.reveal);
    ASSERT_TRUE(report->output().has_value());
    click(named<Gtk::Button>(content, WebPaneRules::revealPrefix + report->id.text()));
    EXPECT_EQ(desktop.revealed, (std::vector<fs::path>{*report->output()}));
    EXPECT_TRUE(desktop.opened.empty()) << "a downloaded file is never opened";
    EXPECT_EQ(report->output()->parent_path(), downloads);

    chooser.whileOpen = nullptr;
    auto broken = startDownload(*model, "/broken.bin", 1);
    ASSERT_TRUE(spinUntil([&] { return !broken->active(); }, 30s));
    const Seen failed = seen(content, *broken);
    EXPECT_EQ(failed.stateText, "保存できませんでした");
    // Its reason under its name, as an error, with no bar.
    const std::string id = broken->id.text();
    auto* name = named<Gtk::Label>(content, DownloadRow::namePrefix + id);
    auto* reason = named<Gtk::Label>(content, WebPaneRules::statePrefix + id);
    auto* icon = named(content, DownloadRow::failureIconPrefix + id);
    ASSERT_TRUE(name && reason && icon);
    EXPECT_TRUE(shownNow(icon));
    EXPECT_TRUE(reason->has_css_class("error"));
    EXPECT_FALSE(shownNow(named(content, DownloadRow::progressPrefix + id)));
    // The list, opened: the failed row keeps the columns of the others (its
    // state where theirs stands), and its reason stands whole on a line of
    // its own under its name.
    auto* toggle = named<Gtk::ToggleButton>(content, BrowserDownloadList::toggleName);
    ASSERT_NE(toggle, nullptr);
    EXPECT_FALSE(toggle->get_active()) << "idle, the list is folded";
    click(toggle);
    auto* notice = named<Gtk::Label>(content, DownloadRow::noticePrefix + id);
    auto* doneState = named<Gtk::Label>(content, WebPaneRules::statePrefix + report->id.text());
    ASSERT_TRUE(notice && doneState);
    EXPECT_EQ(notice->get_text(), BrowserDownload::transferFailedNotice);
    EXPECT_TRUE(notice->has_css_class("error"));
    const auto bounds = [&](Gtk::Widget* widget) {
        graphene_rect_t b{};
        EXPECT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(widget->gobj()), GTK_WIDGET(content.gobj()), &b));
        return b;
    };
    ASSERT_TRUE(spinUntil([&] {
        return notice->get_mapped() && doneState->get_mapped() && notice->get_width() > 0 &&
               bounds(reason).origin.x > bounds(name).origin.x + bounds(name).size.width - 0.5;
    }));
    const auto nameBounds = bounds(name);
    const auto noticeBounds = bounds(notice);
    const auto iconBounds = bounds(icon);
    EXPECT_EQ(iconBounds.origin.x, bounds(doneState).origin.x) << "the state's column, the icon first";
    EXPECT_GT(bounds(reason).origin.x, iconBounds.origin.x);
    EXPECT_GE(noticeBounds.origin.y, nameBounds.origin.y + nameBounds.size.height - 0.5) << "under the name";
    EXPECT_EQ(noticeBounds.origin.x, nameBounds.origin.x) << "from the name's column on";
    int textWidth = 0, textHeight = 0;
    notice->get_layout()->get_pixel_size(textWidth, textHeight);
    EXPECT_GE(notice->get_height(), textHeight) << "the reason whole, never its upper half only";
    // The completed one reads as no error.
    EXPECT_FALSE(shownNow(named(content, DownloadRow::failureIconPrefix + report->id.text())));
    EXPECT_FALSE(named(content, WebPaneRules::statePrefix + report->id.text())->has_css_class("error"));
    EXPECT_FALSE(failed.bytes);
    EXPECT_FALSE(failed.cancel);
    EXPECT_FALSE(failed.reveal);
    // The reason (its icon beside the state, the notice under it) measures
    // alike with and without a width: nothing for the toolkit to warn
    // about, and nothing of it cut off at the list's foot.
    auto* row = named(content, DownloadRow::rowPrefix + id);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(test::inconsistentHeights(*row), std::vector<std::string>{});

    // The same file again is saved beside the first: its row shows the name
    // it was saved as, not the one offered.
    auto again = startDownload(*model, "/report.pdf", 2);
    ASSERT_TRUE(spinUntil([&] { return again->state() == State::completed; }, 30s));
    ASSERT_EQ(again->output(), downloads / "report-1.pdf");
    EXPECT_EQ(again->name(), "report.pdf");
    EXPECT_EQ(named<Gtk::Label>(content, DownloadRow::namePrefix + again->id.text())->get_text(), "report-1.pdf");
    EXPECT_EQ(named<Gtk::Label>(content, DownloadRow::namePrefix + report->id.text())->get_text(), "report.pdf");
}

// The web section of a window at its least size (920 × 720): a private
// tab's folded list, its long caption beside a failed row. The row's state
// and reason stand whole inside the page's column, and the pane keeps its
// width.
TEST_F(DownloadListTest, AFoldedFailedRowStaysWholeBesideAPrivateCaptionInTheLeastWindow) {
    server.stream("/broken.bin",
                  {.length = 65536, .chunk = 4096, .breakAfter = int64_t{8192}, .headers = attachment("broken.bin")});
    auto model = makeModel();
    model->addTab(true);
    constexpr int width = 920 - WorkspaceView::sidebarWidth;
    test::ContentWindow shown(model, desktop, width, 600);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    load(*model, "/page");
    auto broken = startDownload(*model, "/broken.bin");
    ASSERT_TRUE(spinUntil([&] { return !broken->active(); }, 30s));
    ASSERT_EQ(broken->state(), State::failed);
    auto* toggle = named<Gtk::ToggleButton>(content, BrowserDownloadList::toggleName);
    ASSERT_TRUE(toggle && !toggle->get_active()) << "idle, the list is folded";

    const std::string id = broken->id.text();
    auto* list = named(content, BrowserDownloadList::listName);
    auto* state = named<Gtk::Label>(content, WebPaneRules::statePrefix + id);
    auto* notice = named<Gtk::Label>(content, DownloadRow::noticePrefix + id);
    ASSERT_TRUE(list && state && notice);
    const auto bounds = [&](Gtk::Widget* widget) {
        graphene_rect_t b{};
        EXPECT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(widget->gobj()), GTK_WIDGET(content.gobj()), &b));
        return b;
    };
    ASSERT_TRUE(shown.settled([&] { return notice->get_mapped() && notice->get_width() > 0; }));
    EXPECT_TRUE(shown.settled([&] { return content.get_width() <= width; })) << content.get_width();
    const auto listBounds = bounds(list);
    for (Gtk::Label* label : {state, notice}) {
        const auto b = bounds(label);
        EXPECT_LE(b.origin.x + b.size.width, listBounds.origin.x + listBounds.size.width + 0.5) << label->get_text();
    }
    int textWidth = 0, textHeight = 0;
    notice->get_layout()->get_pixel_size(textWidth, textHeight);
    EXPECT_GE(notice->get_height(), textHeight) << "the reason whole";
}

TEST_F(DownloadListTest, APrivateTabSaysFilesRemainAndManyDownloadsScrollInsideTheCap) {
    const std::string longName = "annual-report-2026-third-quarter-detailed-final-version-approved-by-the-board.txt";
    for (int i = 0; i < 8; ++i) {
        const std::string name = i == 0 ? longName : "file" + std::to_string(i) + ".txt";
        server.bytes("/file" + std::to_string(i) + ".txt", "application/octet-stream", "text " + std::to_string(i),
                     attachment(name));
    }
    auto model = makeModel();
    auto tab = model->addTab(true);
    test::ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    load(*model, "/page");
    for (int i = 0; i < 8; ++i) {
        auto item = startDownload(*model, "/file" + std::to_string(i) + ".txt", i);
        ASSERT_TRUE(item);
        ASSERT_TRUE(spinUntil([&] { return !item->active(); }, 30s));
        EXPECT_EQ(item->state(), State::completed) << item->notice();
    }
    EXPECT_EQ(named<Gtk::Label>(content, BrowserDownloadList::captionName)->get_text(),
              "この私用タブのダウンロード（明示保存したファイルは残ります）");
    auto* scroll = named<Gtk::ScrolledWindow>(content, BrowserDownloadList::scrollName);
    ASSERT_NE(scroll, nullptr);
    auto shownRows = [&] {
        std::vector<Gtk::Widget*> rows;
        for (const auto& item : tab->downloads.get()) {
            Gtk::Widget* row = named(content, DownloadRow::rowPrefix + item->id.text());
            if (shownNow(row)) rows.push_back(row);
        }
        return rows;
    };
    // Nothing runs: the list folds to the newest download's row.
    auto folded = shownRows();
    ASSERT_EQ(folded.size(), 1u);
    EXPECT_EQ(folded[0]->get_name().raw(), DownloadRow::rowPrefix + tab->downloads->back()->id.text());
    // Opened, every row: the list grows by whole rows to its cap, then
    // scrolls.
    click(named(content, BrowserDownloadList::toggleName));
    EXPECT_EQ(shownRows().size(), 8u);
    ASSERT_TRUE(spinUntil([&] {
        auto v = scroll->get_vadjustment();
        return scroll->get_height() > 0 && v->get_upper() > v->get_page_size();
    })) << "the rows are taller than the list";
    const int rowHeight = shownRows()[0]->get_height();
    ASSERT_GT(rowHeight, 0);
    constexpr int spacing = 3;
    EXPECT_LE(scroll->get_height(), 100);
    EXPECT_GT(scroll->get_height() + spacing + rowHeight, 100) << "the list grows to its cap before it scrolls";
    EXPECT_EQ((scroll->get_height() + spacing) % (rowHeight + spacing), 0) << "no row is cut at the lower edge";
    // The newest download is the one in view, the older ones above it.
    auto v = scroll->get_vadjustment();
    EXPECT_TRUE(spinUntil([&] { return v->get_value() > 0 && v->get_value() == v->get_upper() - v->get_page_size(); }))
        << v->get_value() << " of " << v->get_upper() - v->get_page_size();
    // A long name is shortened within its width.
    auto* name = named<Gtk::Label>(content, DownloadRow::namePrefix + tab->downloads->front()->id.text());
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(name->get_text().raw(), longName);
    EXPECT_LE(name->get_width(), 230);
    EXPECT_GT(name->get_width(), 100);

}

// The rows a list lets go of (another tab shown, the window closed) go
// whole: none leaves its bar behind for the toolkit to find.
TEST_F(DownloadListTest, RowsGoWithoutAWarningWhenAnotherTabIsShown) {
    for (int i = 0; i < 2; ++i) {
        server.bytes("/got" + std::to_string(i) + ".txt", "application/octet-stream", "text", attachment("got.txt"));
    }
    auto model = makeModel();
    model->addTab(false);
    test::ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    load(*model, "/page");
    for (int i = 0; i < 2; ++i) {
        auto item = startDownload(*model, "/got" + std::to_string(i) + ".txt", i);
        ASSERT_TRUE(item);
        ASSERT_TRUE(spinUntil([&] { return !item->active(); }, 30s));
    }
    auto* list = named<BrowserDownloadList>(shown.content, BrowserDownloadList::listName);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->shownDownloads().size(), 2u);
    const std::size_t before = test::toolkitLogFaults();
    model->addTab(false);
    ASSERT_TRUE(spinUntil([&] { return list->shownDownloads().empty(); }));
    test::spinFor(100ms);
    EXPECT_EQ(test::toolkitLogFaults(), before);
}

// A failure first, its row taller by its reason's line, then downloads that
// fill the list: shown at its newest, the rows in view are whole, none cut
// at the list's upper edge.
TEST_F(DownloadListTest, TheRowsInViewAreWholeWhateverTheTallerRowsAbove) {
    server.stream("/broken.bin",
                  {.length = 65536, .chunk = 4096, .breakAfter = int64_t{8192}, .headers = attachment("broken.bin")});
    for (int i = 0; i < 4; ++i) {
        server.bytes("/file" + std::to_string(i) + ".txt", "application/octet-stream", "text", attachment("f.txt"));
    }
    auto model = makeModel();
    test::ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    load(*model, "/page");
    auto broken = startDownload(*model, "/broken.bin");
    ASSERT_TRUE(spinUntil([&] { return !broken->active(); }, 30s));
    for (int i = 0; i < 4; ++i) {
        auto item = startDownload(*model, "/file" + std::to_string(i) + ".txt", 1 + i);
        ASSERT_TRUE(spinUntil([&] { return !item->active(); }, 30s));
    }
    click(named(content, BrowserDownloadList::toggleName));
    auto* scroll = named<Gtk::ScrolledWindow>(content, BrowserDownloadList::scrollName);
    ASSERT_NE(scroll, nullptr);
    auto v = scroll->get_vadjustment();
    const auto clipped = [&] {
        std::vector<std::string> cut;
        for (const auto& item : model->selectedTab()->downloads.get()) {
            Gtk::Widget* row = named(content, DownloadRow::rowPrefix + item->id.text());
            graphene_rect_t b{};
            if (!row || !gtk_widget_compute_bounds(row->gobj(), GTK_WIDGET(scroll->gobj()), &b)) continue;
            const bool outside = b.origin.y + b.size.height <= 0.5 || b.origin.y >= scroll->get_height() - 0.5;
            const bool whole = b.origin.y >= -0.5 && b.origin.y + b.size.height <= scroll->get_height() + 0.5;
            if (!outside && !whole) cut.push_back(row->get_name());
        }
        return cut;
    };
    const auto newestInView = [&] { return v->get_value() > 0 && v->get_value() == v->get_upper() - v->get_page_size(); };
    ASSERT_TRUE(spinUntil(newestInView)) << "the newest in view";
    // A wrapping caption settles its rows' heights over a few layouts: what
    // counts is the list once its layout holds, not a frame on the way.
    spinUntil([&] { return newestInView() && clipped().empty(); });
    EXPECT_EQ(clipped(), std::vector<std::string>{});
}

// The list stands at the page's foot: appearing, growing by a failed row
// and folding, it never moves the page's top, where the pointer is.
TEST_F(DownloadListTest, TheListComesGrowsAndFoldsUnderThePageLeavingItsTopStill) {
    server.stream("/held.bin", {.length = 4096, .chunk = 1024, .interval = 3600s, .headers = attachment("held.bin")});
    server.stream("/broken.bin",
                  {.length = 65536, .chunk = 4096, .breakAfter = int64_t{8192}, .headers = attachment("broken.bin")});
    auto model = makeModel();
    test::ContentWindow shown(model, desktop, 1240, 850);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    load(*model, "/page");
    auto* area = named(content, WebWorkspaceContent::webAreaName);
    auto* list = named(content, BrowserDownloadList::listName);
    ASSERT_TRUE(area && list);
    const auto top = [&](Gtk::Widget& widget) {
        graphene_rect_t b{};
        EXPECT_TRUE(gtk_widget_compute_bounds(widget.gobj(), GTK_WIDGET(content.gobj()), &b));
        return b.origin.y;
    };
    ASSERT_TRUE(shown.settled([&] { return area->get_mapped() && area->get_height() > 0; }));
    const float pageTop = top(*area);
    const int pageHeight = area->get_height();

    auto held = startDownload(*model, "/held.bin");
    ASSERT_TRUE(held);
    ASSERT_TRUE(spinUntil([&] { return held->received() > 0; }, 30s));
    EXPECT_TRUE(shown.settled([&] { return list->get_mapped() && area->get_height() < pageHeight; }));
    EXPECT_EQ(top(*area), pageTop) << "appearing";
    EXPECT_GE(top(*list), pageTop + area->get_height()) << "under the page";

    const int withOne = area->get_height();
    auto broken = startDownload(*model, "/broken.bin", 1);
    ASSERT_TRUE(spinUntil([&] { return !broken->active(); }, 30s));
    EXPECT_TRUE(shown.settled([&] { return area->get_height() < withOne; }));
    EXPECT_EQ(top(*area), pageTop) << "growing";

    const int open = area->get_height();
    held->cancel();
    ASSERT_TRUE(spinUntil([&] { return !held->active(); }, 30s));
    EXPECT_TRUE(shown.settled([&] { return area->get_height() > open; }));
    EXPECT_EQ(top(*area), pageTop) << "folding";
}
