#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/scrolledwindow.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>
#include <string>

#include "capture/CaptureOutcome.hpp"
#include "gui/PanelDivider.hpp"
#include "history/CaptureHistory.hpp"
#include "foundation/Raster.hpp"
#include "support/RasterFiles.hpp"
#include "support/gui/Pointer.hpp"
#include "support/web/WebTestLoad.hpp"
#include "gui/StatusPage.hpp"
#include "workspace/web/CapturePanel.hpp"
#include "workspace/model/SaveRequest.hpp"
#include "workspace/model/TabActions.hpp"
#include "workspace/web/WebPaneRules.hpp"
#include "workspace/web/WebWorkspaceContent.hpp"
#include "workspace/webpane/WebPaneFixture.hpp"

// The web pane's content in a real window over real tabs: the split between
// page and panel and its divider under a real pointer, every tab's web view
// in the web area at its width rules, a background save's page held at its
// size and still drawn, and the address bar, hint, notice and PDF button
// following the selected session.

using namespace velmora;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using test::spinUntil;
using Panel = AppPreferences::Panel;
using Content = WebWorkspaceContent;
using test::ContentWindow;

namespace {

class WebWorkspaceContentTest : public test::WebPaneFixture {
protected:
    WebWorkspaceContentTest() {
        server.html("/colours", test::page("色の帯", "<div style='height:300px;background:#c03'></div>"
                                                 "<div style='height:900px;background:#36c'></div>"
                                                 "<p>色の帯の下の本文</p>"));
    }
    static Gtk::Widget& part(Content& content, const char* name) {
        Gtk::Widget* found = test::findByName(content, name);
        EXPECT_NE(found, nullptr) << name;
        return *found;
    }
    // The model's tabs wait with patient page bounds: a loaded machine is
    // not a page that never draws.
    static void patient(WindowModel& model) {
        for (const auto& tab : model.tabs.get()) tab->browser->setWaitBounds(test::patientBounds());
    }
    static std::set<fs::path> pngsIn(const fs::path& folder) {
        std::set<fs::path> found;
        if (!fs::exists(folder)) return found;
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (entry.path().extension() == ".png") found.insert(entry.path());
        }
        return found;
    }
};

}  // namespace

TEST_F(WebWorkspaceContentTest, TheSplitGivesThePanelItsClampedSizeInARealWindow) {
    auto model = makeModel();
    ContentWindow shown(model, desktop, 1200, 800);
    ASSERT_TRUE(shown.shown());
    auto& split = part(shown.content, Content::splitName);
    auto& web = part(shown.content, Content::webAreaName);
    auto& divider = part(shown.content, Content::dividerName);
    auto& panel = part(shown.content, Content::panelBoxName);
    ASSERT_TRUE(shown.settled([&] { return split.get_width() == 1200; })) << split.get_width();

    // 1200 wide with a preferred width of 1000: 1192 less the web reserve.
    model->rightPanelPreferredWidth = 1000;
    ASSERT_TRUE(shown.settled([&] { return panel.get_width() == 832; })) << panel.get_width();
    EXPECT_EQ(divider.get_width(), 8);
    EXPECT_EQ(web.get_width(), 360);
    EXPECT_EQ(shown.content.panelSize(), 832);
    EXPECT_EQ(panel.get_height(), split.get_height());

    // 400 wide: half of what the divider leaves, whatever the preference.
    shown.window.set_default_size(400, 800);
    ASSERT_TRUE(shown.settled([&] { return split.get_width() == 400 && panel.get_width() == 196; }))
        << split.get_width() << " " << panel.get_width();
    EXPECT_EQ(web.get_width(), 196);

    // At the bottom the same rules run along the height.
    shown.window.set_default_size(1200, 800);
    model->panel = Panel::bottom;
    model->bottomPanelPreferredHeight = 250;
    ASSERT_TRUE(shown.settled([&] { return shown.content.panelSize() == 250 && panel.get_width() == 1200; }));
    EXPECT_EQ(divider.get_height(), 8);
    // The panel stops between two of its rows, never through one, in
    // either section; the page takes the rest.
    const auto cutRow = [&] {
        for (const char* name : {CapturePanel::captureSectionName, CapturePanel::printSectionName}) {
            Gtk::Widget* section = named(panel, name);
            if (!section) return true;
            for (Gtk::Widget* row = section->get_first_child(); row; row = row->get_next_sibling()) {
                graphene_rect_t b{};
                if (!row->get_visible() || !gtk_widget_compute_bounds(row->gobj(), panel.gobj(), &b)) continue;
                if (b.origin.y < panel.get_height() && panel.get_height() < b.origin.y + b.size.height) return true;
            }
        }
        return false;
    };
    EXPECT_TRUE(shown.settled([&] { return panel.get_height() > 0 && !cutRow(); })) << panel.get_height();
    EXPECT_LE(panel.get_height(), 250);
    // The page's column holds the rows (here the status row with the save
    // buttons) over the page.
    auto* rows = named(shown.content, Content::rowsName);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(web.get_height(), split.get_height() - 8 - panel.get_height() - rows->get_height());
    EXPECT_EQ(web.get_width(), 1200);
}

TEST_F(WebWorkspaceContentTest, ADragMovesThePanelAtEveryStepAndIsStoredOnceAtItsEnd) {
    auto model = makeModel();
    patient(*model);
    ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto& panel = part(shown.content, Content::panelBoxName);
    auto* divider = dynamic_cast<PanelDivider*>(&part(shown.content, Content::dividerName));
    ASSERT_NE(divider, nullptr);
    ASSERT_TRUE(shown.settled([&] { return panel.get_width() == 320; }));
    // What the preferences file is at a moment: absent, or its inode (a
    // write replaces the file by a new one).
    const fs::path file = services->settings.root() / "preferences.json";
    auto fileNow = [&]() -> std::optional<ino_t> {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) return std::nullopt;
        return st.st_ino;
    };
    const auto untouched = fileNow();
    // Every value the settings publish from here on.
    std::vector<double> published;
    auto counting = services->settings.valueChanged().connect(
        [&](const AppPreferences& p) { published.push_back(p.rightPanelPreferredWidth); });

    const auto start = test::centreOf(*divider);
    auto shifted = [](test::WindowPoint p, int dx) {
        p.x += dx;
        return p;
    };
    ASSERT_TRUE(test::pointerPress(start));
    ASSERT_TRUE(spinUntil([&] { return divider->drag().dragging(); }));
    ASSERT_TRUE(test::pointerMove(shifted(start, -30)));
    ASSERT_TRUE(spinUntil([&] { return model->rightPanelPreferredWidth.get() == 350; }))
        << model->rightPanelPreferredWidth.get();
    ASSERT_TRUE(shown.settled([&] { return panel.get_width() == 350; }));
    EXPECT_EQ(fileNow(), untouched) << "a step of the drag is not stored";
    ASSERT_TRUE(test::pointerMove(shifted(start, -80)));
    ASSERT_TRUE(spinUntil([&] { return model->rightPanelPreferredWidth.get() == 400; }));
    EXPECT_EQ(fileNow(), untouched);
    EXPECT_TRUE(published.empty());
    ASSERT_TRUE(test::pointerRelease());
    ASSERT_TRUE(spinUntil([&] { return fileNow() != untouched; }));
    const auto written = fileNow();
    test::spinFor(200ms);
    EXPECT_EQ(fileNow(), written) << "nothing is written after the drag's end";
    // Only where the drag ended reached the preferences.
    ASSERT_FALSE(published.empty());
    for (double value : published) EXPECT_EQ(value, 400);
    EXPECT_EQ(services->settings.value().rightPanelPreferredWidth, 400);
    const auto stored = JSON::parse(test::readFile(file));
    EXPECT_EQ(stored.at("rightPanelPreferredWidth").get<double>(), 400);
    ASSERT_TRUE(shown.settled([&] { return panel.get_width() == 400; }));

    // During a save the divider stays where it is and nothing is written.
    load(*model, "/colours");
    auto tab = model->selectedTab();
    startHeldSave(*model, *tab, shownNamed(shown.content, CapturePanel::captureName));
    EXPECT_FALSE(divider->drag().enabled);
    EXPECT_EQ(divider->cursorName(), "default");
    const auto again = test::centreOf(*divider);
    ASSERT_TRUE(test::pointerPress(again));
    ASSERT_TRUE(test::pointerMove(shifted(again, -60)));
    test::spinFor(200ms);
    ASSERT_TRUE(test::pointerRelease());
    test::spinFor(200ms);
    EXPECT_EQ(model->rightPanelPreferredWidth.get(), 400);
    EXPECT_EQ(panel.get_width(), 400);
    // The save itself may store its own preferences, never a panel size.
    for (double value : published) EXPECT_EQ(value, 400);
    EXPECT_EQ(JSON::parse(test::readFile(file)).at("rightPanelPreferredWidth").get<double>(), 400);
    endHeldCapture(*tab);
    EXPECT_TRUE(divider->drag().enabled);
    counting.disconnect();
}

TEST_F(WebWorkspaceContentTest, EveryTabsViewIsLaidOutAtItsWidthRuleAndNeverLowerThan240) {
    auto model = makeModel();
    model->widthMode = "mobile";
    model->mobileWidth = 390;
    ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto* area = dynamic_cast<Gtk::ScrolledWindow*>(&part(shown.content, Content::webAreaName));
    ASSERT_NE(area, nullptr);
    auto first = model->selectedTab();
    Gtk::Widget* surface = shown.content.surface(first->id);
    ASSERT_NE(surface, nullptr);
    ASSERT_TRUE(shown.settled([&] { return surface->get_width() == 390; })) << surface->get_width();
    EXPECT_GT(area->get_width(), 700);
    EXPECT_EQ(surface->get_height(), area->get_height());
    EXPECT_EQ(first->browser->frame().get_width(), 390) << "the page itself is 390 wide";
    // Centred in the wider area.
    double x = 0, y = 0;
    ASSERT_TRUE(surface->translate_coordinates(*area, 0, 0, x, y));
    EXPECT_NEAR(x, (area->get_width() - 390) / 2.0, 1);

    // A custom width wider than the area scrolls sideways.
    model->widthMode = "custom";
    model->customWidth = 4096;
    ASSERT_TRUE(shown.settled([&] {
        auto h = area->get_hadjustment();
        return surface->get_width() == 4096 && h->get_upper() >= 4096 && h->get_page_size() < 4096;
    }));
    // The current width follows the area.
    model->widthMode = "current";
    ASSERT_TRUE(shown.settled([&] { return surface->get_width() == area->get_width(); }));

    // Every tab has its view in the area, in tab order; only the selected
    // one is seen and takes input.
    auto second = model->addTab(false);
    Gtk::Widget* secondSurface = shown.content.surface(second->id);
    ASSERT_NE(secondSurface, nullptr);
    EXPECT_EQ(secondSurface->get_prev_sibling(), surface);
    EXPECT_EQ(shown.content.shownSurface(), secondSurface);
    EXPECT_TRUE(secondSurface->get_can_target());
    EXPECT_FALSE(surface->get_can_target());
    EXPECT_FALSE(surface->get_can_focus());
    EXPECT_TRUE(surface->get_mapped()) << "a background tab's view stays mapped";
    model->closeTab(second->id);
    EXPECT_EQ(shown.content.surface(second->id), nullptr);
    EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(second->browser->frame().gobj())), nullptr)
        << "a closed tab's frame is given back";
    EXPECT_EQ(shown.content.shownSurface(), surface);

    // An area lower than 240 still lays the page out 240 high.
    model->widthMode = "mobile";
    model->panel = Panel::bottom;
    shown.window.set_default_size(1240, 440);
    ASSERT_TRUE(shown.settled([&] { return area->get_height() > 0 && area->get_height() < 240; }))
        << area->get_height();
    ASSERT_TRUE(shown.settled([&] { return surface->get_height() == 240; })) << surface->get_height();
}

TEST_F(WebWorkspaceContentTest, ABackgroundSaveKeepsItsLockedSizeAndItsPageIsStillDrawn) {
    auto model = makeModel();
    model->widthMode = "mobile";
    model->mobileWidth = 390;
    patient(*model);
    ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto tab = model->selectedTab();
    Gtk::Widget* capture = shownNamed(shown.content, CapturePanel::captureName);
    ASSERT_NE(capture, nullptr);
    // A small PNG the page waits for, held back by the server until the
    // test lets it through: the save succeeds then, with the image drawn.
    const std::string png = [] {
        const auto image = test::makeImage(10, 10, 3, [](int, int, uint8_t* p) { p[0] = 0x20, p[1] = 0x90, p[2] = 0x40; });
        const auto bytes = Raster::png(image);
        return std::string(bytes.begin(), bytes.end());
    }();
    // One save of the freshly loaded page, held by one image of its own,
    // released after `meanwhile`: the new PNG.
    auto save = [&](const std::string& image, const std::function<void()>& meanwhile) {
        const auto before = pngsIn(out);
        load(*model, "/colours");
        server.held(image, png, "image/png");
        run(*tab, "document.body.insertAdjacentHTML('beforeend','<img src=" + image + " width=10 height=10>');true");
        EXPECT_TRUE(spinUntil([&] { return server.requests(image) > 0; }));
        click(capture);
        EXPECT_TRUE(spinUntil([&] { return tab->browser->stage.get() == "下部の画像を読み込み中"; }, 60s))
            << tab->browser->stage.get() << " " << model->message.get();
        meanwhile();
        endHeldCapture(*tab, image);
        const auto after = pngsIn(out);
        std::vector<fs::path> added;
        std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(added));
        EXPECT_EQ(added.size(), 1u) << tab->browser->stage.get();
        return added.empty() ? fs::path() : added.front();
    };

    const fs::path selected = save("/first.png", [] {});
    Gtk::Widget* surface = shown.content.surface(tab->id);
    std::shared_ptr<BrowserTab> other;
    const fs::path background = save("/second.png", [&] {
        ASSERT_TRUE(model->lockedSize().has_value());
        const Size locked = *model->lockedSize();
        other = model->addTab(false);
        EXPECT_EQ(model->selectedTab(), other);
        // The window and the width rules change; without the lock the page
        // would follow them.
        model->widthMode = "current";
        shown.window.set_default_size(1000, 700);
        test::spinFor(300ms);
        EXPECT_EQ(surface->get_width(), static_cast<int>(locked.width));
        EXPECT_EQ(surface->get_height(), static_cast<int>(locked.height));
        EXPECT_NE(shown.content.shownSurface(), surface);
        EXPECT_FALSE(surface->get_can_target());
        EXPECT_TRUE(surface->get_mapped());
    });
    model->selectTab(tab->id, false);
    ASSERT_FALSE(selected.empty());
    ASSERT_FALSE(background.empty());
    auto a = RasterImage::adopt(gdk_pixbuf_new_from_file(selected.c_str(), nullptr));
    auto b = RasterImage::adopt(gdk_pixbuf_new_from_file(background.c_str(), nullptr));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a.width(), 390);
    ASSERT_EQ(a.width(), b.width());
    ASSERT_EQ(a.height(), b.height());
    ASSERT_EQ(a.channels(), b.channels());
    int differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        const size_t row = static_cast<size_t>(a.width()) * a.channels();
        if (!std::equal(a.pixels() + y * a.rowStride(), a.pixels() + y * a.rowStride() + row,
                        b.pixels() + y * b.rowStride())) {
            ++differing;
        }
    }
    EXPECT_EQ(differing, 0) << "the hidden tab's page was drawn as the shown one is";
}

TEST_F(WebWorkspaceContentTest, TheAddressBarFollowsTheSessionAndGivesWayToASave) {
    auto model = makeModel();
    patient(*model);
    ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    auto& bar = part(content, Content::addressBarName);
    auto* address = named<Gtk::Entry>(content, Content::addressName);
    auto* stop = named<Gtk::Button>(content, Content::stopName);
    auto* open = named<Gtk::Button>(content, Content::openName);
    auto* back = named<Gtk::Button>(content, Content::backName);
    ASSERT_TRUE(address && stop && open && back);
    EXPECT_EQ(address->get_placeholder_text(), "https://… を貼り付け");
    EXPECT_EQ(stop->get_tooltip_text(), "読み込みを停止");
    EXPECT_EQ(stop->get_icon_name(), "process-stop-symbolic");

    // Typing goes to the model; Return navigates.
    address->set_text(server.url("/page"));
    EXPECT_EQ(model->address(), server.url("/page"));
    pressReturn(*address);
    ASSERT_TRUE(spinUntil([&] { return test::publishedStateCaughtUp(model->browser()) && !model->browser().loading &&
                                       model->browser().pageTitle.get() == "ページ"; }));
    EXPECT_FALSE(stop->is_sensitive()) << "nothing loads";
    EXPECT_TRUE(bar.is_sensitive());
    EXPECT_FALSE(back->is_sensitive());
    load(*model, "/colours");
    ASSERT_TRUE(spinUntil([&] { return back->is_sensitive(); }));

    // A bad address: the model's sentence, nothing loaded.
    address->set_text("ftp://example.com/");
    pressReturn(*address);
    EXPECT_EQ(model->message.get(), TabActions::invalidAddress);

    // A model change shows in the field.
    model->setAddress("https://example.com/typed");
    EXPECT_EQ(address->get_text(), "https://example.com/typed");

    // During a save the whole row is off, even while the page loads.
    model->setAddress(server.url("/colours"));
    auto tab = model->selectedTab();
    startHeldSave(*model, *tab, shownNamed(content, CapturePanel::captureName));
    tab->browser->loading = true;
    EXPECT_FALSE(bar.is_sensitive());
    EXPECT_FALSE(stop->is_sensitive());
    EXPECT_FALSE(open->is_sensitive());
    EXPECT_FALSE(address->is_sensitive());
    tab->browser->loading = false;
    endHeldCapture(*tab);
    EXPECT_TRUE(open->is_sensitive());
    // And while the window closes.
    model->closing = true;
    EXPECT_FALSE(bar.is_sensitive());
    model->closing = false;
}

TEST_F(WebWorkspaceContentTest, EachFocusRequestFocusesTheFieldAndFocusMarksTheTabEdited) {
    auto model = makeModel();
    ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto* address = named<Gtk::Entry>(shown.content, Content::addressName);
    auto* open = named<Gtk::Button>(shown.content, Content::openName);
    ASSERT_TRUE(address && open);
    auto focusedInField = [&] {
        Gtk::Widget* focus = shown.window.get_focus();
        return focus && (focus == address || focus->is_ancestor(*address));
    };
    auto tab = model->selectedTab();
    EXPECT_FALSE(focusedInField()) << "the request present when the pane is shown is not acted on";

    for (int request = 0; request < 2; ++request) {
        open->grab_focus();
        ASSERT_TRUE(spinUntil([&] { return !focusedInField(); }));
        EXPECT_FALSE(tab->editingAddress.get());
        model->addressFocusRequest = UUID::random();
        ASSERT_TRUE(spinUntil(focusedInField)) << "request " << request;
        EXPECT_TRUE(tab->editingAddress.get());
    }
    // Another tab chosen while the field has the focus is the one edited.
    auto other = model->addTab(false);
    EXPECT_FALSE(tab->editingAddress.get());
    EXPECT_TRUE(other->editingAddress.get());
    open->grab_focus();
    ASSERT_TRUE(spinUntil([&] { return !other->editingAddress.get(); }));
}

TEST_F(WebWorkspaceContentTest, TheHintNoticeAndPDFButtonFollowTheSelectedTab) {
    const std::string url = server.url("/page");
    RestoredWindow restored{UUID::random(), {RestoredTab{UUID::random(), url, false}}, {}};
    restored.selected = restored.tabs[0].id;
    auto model = makeModel(restored);
    patient(*model);
    ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    auto* hint = named<Gtk::Label>(content, Content::hintName);
    auto* notice = named<Gtk::Label>(content, Content::noticeName);
    auto* pdf = named<Gtk::Button>(content, Content::downloadPDFName);
    ASSERT_TRUE(hint && notice && pdf);

    // A restored tab not loaded yet says how to load it, until it is.
    EXPECT_TRUE(hint->get_visible());
    EXPECT_EQ(hint->get_text(), "復元したタブです。「開く」かタブ名を押すと読み込みます。");
    EXPECT_FALSE(shownNow(notice));
    EXPECT_FALSE(pdf->get_visible());
    test::spinFor(100ms);
    EXPECT_EQ(server.requests("/page"), 0);
    click(named<Gtk::Button>(content, Content::openName));
    ASSERT_TRUE(spinUntil([&] { return model->browser().pageTitle.get() == "ページ"; }));
    EXPECT_FALSE(hint->get_visible());

    // The session's notice, as plain text: a stopped load.
    server.held("/slow", test::page("遅いページ"));
    model->setAddress(server.url("/slow"));
    model->navigate();
    auto* stop = named<Gtk::Button>(content, Content::stopName);
    ASSERT_TRUE(spinUntil([&] { return server.requests("/slow") > 0 && stop->is_sensitive(); }));
    click(stop);
    ASSERT_TRUE(spinUntil([&] { return shownNow(notice); }));
    EXPECT_EQ(notice->get_text(), "読み込みを停止しました。");
    model->browser().navigationNotice = "<b>太字ではない</b>";
    EXPECT_EQ(notice->get_text(), "<b>太字ではない</b>");
    EXPECT_FALSE(notice->get_use_markup());
    server.release("/slow");

    // A displayed PDF offers its download, which lands in the tab's list.
    const fs::path pdfFile = dir / "doc.pdf";
    test::writePDF(pdfFile, {{300, 300}}, [](cairo_t* cr, int, test::PageSize) {
        cairo_rectangle(cr, 50, 50, 200, 200);
        cairo_fill(cr);
    });
    server.bytes("/doc.pdf", "application/pdf", test::readFile(pdfFile));
    const fs::path downloads = dir / "downloads";
    fs::create_directories(downloads);
    chooser.answer = downloads;
    load(*model, "/doc.pdf");
    ASSERT_TRUE(spinUntil([&] { return pdf->get_visible(); }));
    EXPECT_EQ(pdf->get_label(), "表示中のPDFをダウンロード");
    click(pdf);
    auto tab = model->selectedTab();
    ASSERT_TRUE(spinUntil([&] { return tab->downloads->size() == 1 && !tab->active(); }, 60s));
    EXPECT_EQ(tab->downloads->front()->state(), BrowserDownload::State::completed);
    EXPECT_EQ(test::readFile(*tab->downloads->front()->output()), test::readFile(pdfFile));
    // Another tab shows its own state: no PDF, no notice.
    model->addTab(false);
    EXPECT_FALSE(pdf->get_visible());
    EXPECT_FALSE(shownNow(notice));
}

TEST_F(WebWorkspaceContentTest, AFramePlacedElsewhereJoinsThePaneOnceItIsFree) {
    auto model = makeModel();
    auto tab = model->selectedTab();
    // Another view of the window still holds the tab's frame.
    show(*tab);
    ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    EXPECT_EQ(shown.content.surface(tab->id), nullptr);
    frames.clear();
    model->message = "";
    Gtk::Widget* surface = shown.content.surface(tab->id);
    ASSERT_NE(surface, nullptr);
    EXPECT_EQ(gtk_widget_get_parent(GTK_WIDGET(tab->browser->frame().gobj())), surface->gobj());
    EXPECT_EQ(shown.content.shownSurface(), surface);
}

TEST_F(WebWorkspaceContentTest, BeforeItsFirstPageATabShowsACentredEmptyPageOverTheWebArea) {
    auto model = makeModel();
    ContentWindow shown(model, desktop, 1240, 860);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    auto* empty = named(content, Content::emptyPageName);
    auto* area = named(content, Content::webAreaName);
    ASSERT_TRUE(empty && area);

    // No page yet: the icon and the sentence stand in the middle of the
    // web area.
    ASSERT_TRUE(shown.settled([&] { return empty->get_mapped() && empty->get_width() > 0; }));
    Gtk::Label* sentence = nullptr;
    for (auto* child = empty->get_first_child(); child; child = child->get_next_sibling()) {
        if (auto* label = dynamic_cast<Gtk::Label*>(child)) sentence = label;
    }
    ASSERT_NE(sentence, nullptr);
    EXPECT_EQ(sentence->get_text(), "ページを選んでください");
    graphene_rect_t bounds{};
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(empty->gobj()), GTK_WIDGET(area->gobj()), &bounds));
    EXPECT_NEAR(bounds.origin.x + bounds.size.width / 2, area->get_width() / 2.0, 2);
    EXPECT_NEAR(bounds.origin.y + bounds.size.height / 2, area->get_height() / 2.0, 2);
    EXPECT_GE(bounds.origin.x, 0);
    EXPECT_LE(bounds.origin.x + bounds.size.width, area->get_width());
    EXPECT_GE(sentence->get_width(), sentence->get_layout()->get_pixel_logical_extents().get_width());

    // A page loaded: the page shows; a new tab has none again.
    load(*model, "/page");
    EXPECT_FALSE(empty->get_visible());
    model->addTab(false);
    EXPECT_TRUE(empty->get_visible());
    model->selectTab(model->tabs.get().front()->id, false);
    EXPECT_FALSE(empty->get_visible());
}

// Rows that come and go over the page never move the panel beside it: a
// refusal appearing under the pointer that asked for the save leaves the
// panel's button where it was. The refusal's row has no "中止する", which
// could not act.
TEST_F(WebWorkspaceContentTest, ARowComingOrGoingLeavesThePanelOnTheRightInItsPlace) {
    auto model = makeModel();
    ContentWindow shown(model, desktop, 1240, 850);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    load(*model, "/page");
    auto& panel = part(content, Content::panelBoxName);
    auto& area = part(content, Content::webAreaName);
    auto* status = named(content, CaptureStatusRow::rowName);
    ASSERT_NE(status, nullptr);
    const auto bounds = [&](Gtk::Widget& widget) {
        graphene_rect_t b{};
        EXPECT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(widget.gobj()), GTK_WIDGET(content.gobj()), &b));
        return b;
    };
    ASSERT_TRUE(shown.settled([&] { return panel.get_mapped() && panel.get_height() > 0 && !shownNow(status); }));
    const graphene_rect_t before = bounds(panel);
    const float pageTop = bounds(area).origin.y;

    model->setAddress("file:///home/user/メモ.txt");
    model->navigate();
    ASSERT_TRUE(shown.settled([&] { return shownNow(status) && status->get_height() > 0; }));
    ASSERT_TRUE(shown.settled([&] { return bounds(area).origin.y > pageTop; })) << "the row stands over the page";
    const graphene_rect_t refused = bounds(panel);
    EXPECT_EQ(refused.origin.y, before.origin.y);
    EXPECT_EQ(refused.size.height, before.size.height);
    EXPECT_FALSE(shownNow(named(content, CaptureStatusRow::cancelName))) << "nothing to stop";

    load(*model, "/page");
    ASSERT_TRUE(shown.settled([&] { return !shownNow(status); }));
    EXPECT_EQ(bounds(panel).origin.y, before.origin.y);
    EXPECT_TRUE(shown.settled([&] { return bounds(area).origin.y == pageTop; }));
}

// A load that fails is shown as a failure over the page area, in the error
// colours of every refusal, with the address that failed; a save asked for
// then says that the page could not be loaded. A page loaded afterwards is
// shown again.
TEST_F(WebWorkspaceContentTest, AFailedLoadIsShownAsAFailureWithItsAddress) {
    auto model = makeModel();
    ContentWindow shown(model, desktop, 1240, 850);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    auto& failedPage = part(content, Content::failedPageName);
    auto& emptyPage = part(content, Content::emptyPageName);
    auto* sentence = dynamic_cast<StatusPage*>(&part(content, Content::failedSentenceName));
    auto* address = named<Gtk::Label>(content, Content::failedAddressName);
    auto* notice = named<Gtk::Label>(content, Content::noticeName);
    ASSERT_TRUE(sentence && address && notice);
    EXPECT_FALSE(shownNow(&failedPage));
    EXPECT_TRUE(shownNow(&emptyPage));

    // On the new tab: not an empty tab, but this failure.
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(test::WebTestServer::closedPort()) + "/news";
    model->setAddress(unreachable);
    model->navigate();
    ASSERT_TRUE(shown.settled([&] { return shownNow(&failedPage); }));
    EXPECT_FALSE(shownNow(&emptyPage));
    EXPECT_EQ(sentence->label().get_text(), "ページを読み込めません。アドレスと接続を確認してください。");
    EXPECT_TRUE(sentence->label().has_css_class("error"));
    EXPECT_TRUE(sentence->icon().has_css_class("error"));
    EXPECT_EQ(address->get_text().raw(), unreachable);
    EXPECT_FALSE(shownNow(notice)) << "said once, on the failure's page";
    EXPECT_EQ(model->selectedTab()->title(), unreachable);
    // It covers the web area whole.
    ASSERT_TRUE(shown.settled([&] {
        return failedPage.get_width() == part(content, Content::webAreaName).get_width() &&
               failedPage.get_height() == part(content, Content::webAreaName).get_height();
    }));

    // A save of it: refused as a page that could not be loaded.
    click(named(part(content, Content::panelBoxName), CapturePanel::captureName));
    ASSERT_TRUE(spinUntil([&] { return !model->message->empty(); }));
    EXPECT_EQ(model->message.get(), SaveRequest::loadFailed);
    EXPECT_FALSE(model->browser().hasPendingOperation());

    // After a page that loaded, the same: the failure covers the page the
    // view kept, under the failed address.
    load(*model, "/page");
    EXPECT_FALSE(shownNow(&failedPage));
    model->setAddress(unreachable);
    model->navigate();
    ASSERT_TRUE(shown.settled([&] { return shownNow(&failedPage); }));
    EXPECT_EQ(model->selectedTab()->title(), unreachable);
    click(named(part(content, Content::panelBoxName), CapturePanel::captureName));
    ASSERT_TRUE(spinUntil([&] { return model->message.get() == SaveRequest::loadFailed; }));
    EXPECT_FALSE(model->browser().hasPendingOperation()) << "the page kept from before is not saved";
    load(*model, "/page");
    EXPECT_FALSE(shownNow(&failedPage));
}

// Ports the engine never connects to: it reports no failure but shows a
// blank page in the address's place. That is a failed load like any other,
// shown with its address and under it in the tab, and never saved; nor is
// a blank page a page moved to by itself.
TEST_F(WebWorkspaceContentTest, AnAddressTheEngineRefusesIsAFailedLoadAndNoBlankPageIsSaved) {
    auto model = makeModel();
    ContentWindow shown(model, desktop, 1240, 850);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    auto& failedPage = part(content, Content::failedPageName);
    auto* address = named<Gtk::Label>(content, Content::failedAddressName);
    ASSERT_NE(address, nullptr);
    Gtk::Widget* capture = named(part(content, Content::panelBoxName), CapturePanel::captureName);
    for (int port : {1, 6000, 10080}) {
        const std::string blocked = "http://127.0.0.1:" + std::to_string(port) + "/";
        model->setAddress(blocked);
        model->navigate();
        ASSERT_TRUE(shown.settled([&] {
            return model->browser().failedURL.get() == blocked && shownNow(&failedPage) && !model->browser().loading;
        })) << port;
        EXPECT_EQ(address->get_text().raw(), blocked);
        EXPECT_EQ(model->selectedTab()->title(), blocked);
        EXPECT_EQ(model->browser().currentURL.get(), blocked) << "the engine's blank takes no address";
        model->message = std::string();
        click(capture);
        ASSERT_TRUE(spinUntil([&] { return !model->message->empty(); }));
        EXPECT_EQ(model->message.get(), SaveRequest::loadFailed) << port;
        EXPECT_FALSE(model->browser().hasPendingOperation());
    }

    load(*model, "/page");
    EXPECT_FALSE(shownNow(&failedPage));
    test::runTask(test::evaluate(model->browser().webView(), "location.href='about:blank';true"));
    ASSERT_TRUE(spinUntil([&] {
        return model->browser().currentURL.get() == std::optional<std::string>("about:blank") &&
               !model->browser().loading;
    }));
    EXPECT_FALSE(model->browser().failedURL->has_value()) << "the page's own move is no failure";
    model->message = std::string();
    click(capture);
    ASSERT_TRUE(spinUntil([&] { return !model->message->empty(); }));
    EXPECT_EQ(model->message.get(), SaveRequest::notLoaded);
    EXPECT_TRUE(pngsIn(out).empty());
    EXPECT_TRUE(AppHistory::required()->entries().empty());
    EXPECT_TRUE(chooser.requests.empty());
}

// The page's process ends during a capture: the capture says so and that a
// reload may help, publishes nothing, and the page area shows the end with
// 再読み込み, which loads the page again; a save meanwhile is refused.
TEST_F(WebWorkspaceContentTest, APageProcessThatEndsDuringACaptureFailsItAndOffersAReload) {
    auto model = makeModel();
    patient(*model);
    ContentWindow shown(model, desktop, 1240, 850);
    ASSERT_TRUE(shown.shown());
    auto& content = shown.content;
    auto& failedPage = part(content, Content::failedPageName);
    auto* sentence = dynamic_cast<StatusPage*>(&part(content, Content::failedSentenceName));
    auto& reload = part(content, Content::endedReloadName);
    ASSERT_NE(sentence, nullptr);
    Gtk::Widget* capture = named(part(content, Content::panelBoxName), CapturePanel::captureName);
    const auto tab = model->selectedTab();
    load(*model, "/colours");
    startHeldSave(*model, *tab, capture);

    webkit_web_view_terminate_web_process(tab->browser->webView());
    ASSERT_TRUE(spinUntil([&] { return !tab->browser->hasPendingOperation(); }, 30s));
    const std::string stage = tab->browser->stage.get();
    EXPECT_EQ(stage.rfind(CaptureOutcome::pageEnded, 0), 0u) << stage;
    EXPECT_TRUE(pngsIn(out).empty());
    ASSERT_TRUE(shown.settled([&] { return shownNow(&failedPage) && shownNow(&reload); }));
    EXPECT_EQ(sentence->label().get_text(), WebPaneRules::endedPage);
    EXPECT_EQ(named<Gtk::Label>(content, Content::failedAddressName)->get_text().raw(), server.url("/colours"));
    EXPECT_EQ(tab->browser->currentURL.get(), server.url("/colours")) << "the save's outcome stays this page's";

    model->message = std::string();
    click(capture);
    ASSERT_TRUE(spinUntil([&] { return !model->message->empty(); }));
    EXPECT_EQ(model->message.get(), SaveRequest::pageEnded);

    server.release("/held.png");
    click(&reload);
    ASSERT_TRUE(shown.settled([&] { return !shownNow(&failedPage) && !tab->browser->loading; }));
    EXPECT_FALSE(tab->browser->endedURL->has_value());
    EXPECT_EQ(tab->browser->currentURL.get(), server.url("/colours"));
    EXPECT_EQ(test::runTask(test::evaluate(tab->browser->webView(), "document.title")), "色の帯");
}
