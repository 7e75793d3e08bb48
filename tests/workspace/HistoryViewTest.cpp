#include <gtest/gtest.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/listview.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/picture.h>
#include <gtkmm/singleselection.h>
#include <gtkmm/window.h>

#include <algorithm>

#include "foundation/JSON.hpp"
#include "foundation/ProductBrand.hpp"
#include "foundation/SecureDirectory.hpp"
#include "foundation/SettingsStore.hpp"
#include "gui/GtkConfirmation.hpp"
#include "history/CaptureHistory.hpp"
#include "support/MainLoop.hpp"
#include "support/FakeDesktopActions.hpp"
#include "support/ScopedEnvironment.hpp"
#include "support/gui/GuiHelpers.hpp"
#include "support/RasterFiles.hpp"
#include "support/TempDir.hpp"
#include "workspace/sections/HistoryView.hpp"

// The history section on real widgets: rows with their thumbnails, the
// detail of the selected entry, and both deletions, the one with the Trash
// answered on the real confirmation dialog.

using namespace velmora;
namespace fs = std::filesystem;
using Names = HistoryView::Names;

namespace {

Gtk::Widget* find(Gtk::Widget& root, const std::string& name) { return test::findByName(root, name); }

void findAll(Gtk::Widget& root, const std::string& name, std::vector<Gtk::Widget*>& out) {
    if (root.get_name().raw() == name) out.push_back(&root);
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        findAll(*child, name, out);
    }
}

// Shown on screen: it and every ancestor visible.
bool shown(Gtk::Widget* w) { return w && w->is_drawable(); }

template <typename T>
T* named(Gtk::Widget& root, const std::string& name) {
    return dynamic_cast<T*>(find(root, name));
}

Gtk::Window* toplevelNamed(const std::string& name) {
    for (Gtk::Window* w : test::visibleWindows()) {
        if (w->get_name().raw() == name) return w;
    }
    return nullptr;
}

// A window that takes every page it is asked to reopen.
struct RecordingHost : RecaptureHost {
    std::vector<std::string> urls;
    bool reopenForRecapture(const std::string& url) override {
        urls.push_back(url);
        return true;
    }
};

class HistoryViewTest : public ::testing::Test {
protected:
    test::TempDir tmp;
    fs::path storage = tmp / "storage";
    fs::path out = tmp / "out";
    AppRuntime::ScopedOverride runtime{AppRuntime{storage, out}};
    SettingsStore settings{storage / "settings"};
    FixedOutputRoots roots{{out}};
    AppHistory::ScopedEnvironment env{{storage, &settings, &roots}};
    test::ScopedEnvironment data{"XDG_DATA_HOME", (tmp / "data").string()};

    HistoryViewTest() { fs::create_directories(out); }

    SavedOutput output(const std::string& name, int width, int height) {
        const fs::path p = out / name;
        test::writePNG(p, width, height, 3, [width](int y, uint8_t* row) {
            for (int x = 0; x < width; ++x) row[x * 3] = static_cast<uint8_t>(x + y), row[x * 3 + 2] = 200;
        });
        SavedOutput o;
        o.path = p.string();
        o.stamp = FileStamp::read(p);
        return o;
    }

    CaptureHistoryEntry entry(std::vector<SavedOutput> outputs, int t, std::optional<std::string> url) {
        CaptureHistoryEntry e;
        e.kind = "capture";
        e.state = "completed";
        e.outputs = std::move(outputs);
        e.created = Date(std::chrono::seconds(1'800'000'000 + t));
        CaptureMetadata m;
        m.url = std::move(url);
        m.title = "ページ " + std::to_string(t);
        m.format = "PNG";
        e.metadata = m;
        return e;
    }

    void store(const std::vector<CaptureHistoryEntry>& entries) {
        for (const auto& e : entries) AppHistory::required()->reconcile(e);
    }
};

}  // namespace

TEST_F(HistoryViewTest, RowsDetailAndBothDeletionsOnRealWidgets) {
    auto page = entry({output("page.png", 300, 200)}, 2, "https://example.com/page");
    auto print = entry({output("print-1.png", 100, 140), output("print-2.png", 100, 140)}, 1, std::nullopt);
    store({print, page});

    Gtk::Window window;
    window.set_default_size(700, 800);
    RecordingHost host;
    auto* view = Gtk::make_managed<HistoryView>(&host);
    window.set_child(*view);
    window.present();

    // Newest first, each with its picture once the cache has made it.
    auto* list = named<Gtk::ListView>(*view, Names::list);
    ASSERT_TRUE(list);
    auto selection = std::dynamic_pointer_cast<Gtk::SingleSelection>(list->get_model());
    ASSERT_TRUE(test::spinUntil([&] { return selection->get_n_items() == 2; }));
    std::vector<Gtk::Widget*> pictures;
    ASSERT_TRUE(test::spinUntil([&] {
        pictures.clear();
        findAll(*view, Names::rowPicture, pictures);
        return pictures.size() == 2 &&
               std::all_of(pictures.begin(), pictures.end(), [](Gtk::Widget* p) { return shown(p); });
    }));
    for (Gtk::Widget* p : pictures) EXPECT_TRUE(dynamic_cast<Gtk::Picture*>(p)->get_paintable());
    std::vector<Gtk::Widget*> titles;
    findAll(*view, Names::rowTitle, titles);
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(dynamic_cast<Gtk::Label*>(titles[0])->get_text().raw(), "ページ 2");
    EXPECT_FALSE(shown(find(*view, Names::empty)));
    EXPECT_FALSE(shown(find(*view, Names::detail))) << "nothing selected, no detail";

    // Selecting a row shows its detail: the two PNGs as one line with their
    // count, its buttons for the file still there, the other one told.
    fs::remove(print.outputs[0].path);
    selection->set_selected(1);
    ASSERT_TRUE(test::spinUntil([&] { return shown(find(*view, Names::detail)); }));
    EXPECT_EQ(named<Gtk::Label>(*view, std::string(Names::outputName) + "0")->get_text().raw(), "PNG 2件");
    EXPECT_EQ(named<Gtk::Label>(*view, std::string(Names::outputRange) + "0")->get_text().raw(),
              "print-1.png 〜 2.png");
    EXPECT_FALSE(find(*view, std::string(Names::open) + "1")) << "one line";
    EXPECT_TRUE(named<Gtk::Button>(*view, std::string(Names::open) + "0")->get_sensitive());
    EXPECT_TRUE(named<Gtk::Button>(*view, std::string(Names::reveal) + "0")->get_sensitive());
    EXPECT_EQ(named<Gtk::Label>(*view, std::string(Names::unavailable) + "0")->get_text().raw(),
              "うち1件は見つかりません、または移動済みです。");
    named<Gtk::Button>(*view, std::string(Names::reveal) + "0")->activate();
    // Both gone: nothing to act on.
    fs::remove(print.outputs[1].path);
    view->model().reload();
    ASSERT_TRUE(test::spinUntil([&] {
        auto* open = named<Gtk::Button>(*view, std::string(Names::open) + "0");
        return open && !open->get_sensitive();
    }));
    EXPECT_FALSE(named<Gtk::Button>(*view, std::string(Names::reveal) + "0")->get_sensitive());
    EXPECT_EQ(named<Gtk::Label>(*view, std::string(Names::unavailable) + "0")->get_text().raw(),
              "ファイルが見つかりません、または移動済みです。");
    EXPECT_FALSE(find(*view, Names::copyURL)) << "no address recorded";

    selection->set_selected(0);
    ASSERT_TRUE(test::spinUntil([&] { return find(*view, Names::copyURL) != nullptr; }));
    EXPECT_EQ(named<Gtk::Label>(*view, Names::address)->get_text().raw(), "https://example.com/page");
    // A realized button's activation clicks after its pressed look has shown.
    named<Gtk::Button>(*view, Names::reopen)->activate();
    ASSERT_TRUE(test::spinUntil([&] { return !host.urls.empty(); }));
    EXPECT_EQ(host.urls, std::vector<std::string>{"https://example.com/page"});
    EXPECT_EQ(named<Gtk::Label>(*view, Names::status)->get_text().raw(),
              "通常タブに開きました。表示を確認して保存してください。");

    // History only: the row goes, the file stays, the detail hides.
    named<Gtk::Button>(*view, Names::deleteOnly)->activate();
    ASSERT_TRUE(test::spinUntil([&] { return selection->get_n_items() == 1; }));
    EXPECT_TRUE(fs::exists(page.outputs[0].path));
    EXPECT_EQ(named<Gtk::Label>(*view, Names::status)->get_text().raw(), "履歴だけ削除しました。成果物は残っています。");
    EXPECT_FALSE(shown(find(*view, Names::detail)));

    // With the files: "取消" on the real dialog changes nothing.
    auto reprint = entry({output("reprint-1.png", 100, 140), output("reprint-2.png", 100, 140)}, 3, std::nullopt);
    store({reprint});
    named<Gtk::Button>(*view, Names::reload)->activate();
    ASSERT_TRUE(test::spinUntil([&] { return selection->get_n_items() == 2; }));
    selection->set_selected(0);
    ASSERT_TRUE(test::spinUntil([&] { return shown(find(*view, Names::trash)); }));
    const std::string statusBefore = named<Gtk::Label>(*view, Names::status)->get_text().raw();

    auto answer = [&](const char* buttonName) {
        named<Gtk::Button>(*view, Names::trash)->activate();
        Gtk::Window* dialog = nullptr;
        if (!test::spinUntil([&] { return (dialog = toplevelNamed(GtkConfirmation::dialogName)) != nullptr; })) {
            return false;
        }
        EXPECT_EQ(dialog->get_transient_for(), &window);
        if (auto* message = dynamic_cast<Gtk::MessageDialog*>(dialog)) {
            EXPECT_EQ(message->property_text().get_value().raw(), "この履歴の成果物をゴミ箱へ移しますか？");
            EXPECT_EQ(message->property_secondary_text().get_value().raw(), "reprint-1.png\nreprint-2.png");
        } else {
            ADD_FAILURE() << "the confirmation is not a message dialog";
        }
        named<Gtk::Button>(*dialog, buttonName)->activate();
        return test::spinUntil([&] { return !view->model().trashing(); });
    };
    ASSERT_TRUE(answer(GtkConfirmation::cancelName));
    EXPECT_EQ(named<Gtk::Label>(*view, Names::status)->get_text().raw(), statusBefore);
    EXPECT_TRUE(fs::exists(reprint.outputs[0].path) && fs::exists(reprint.outputs[1].path));
    EXPECT_EQ(selection->get_n_items(), 2u);

    ASSERT_TRUE(answer(GtkConfirmation::confirmName));
    EXPECT_EQ(named<Gtk::Label>(*view, Names::status)->get_text().raw(), "2件をゴミ箱へ移しました。");
    EXPECT_FALSE(fs::exists(reprint.outputs[0].path) || fs::exists(reprint.outputs[1].path));
    auto trashed = test::listNames(tmp / "data" / "Trash" / "files");
    std::sort(trashed.begin(), trashed.end());
    EXPECT_EQ(trashed, (std::vector<std::string>{"reprint-1.png", "reprint-2.png"}));
    ASSERT_TRUE(test::spinUntil([&] { return selection->get_n_items() == 1; }));
}

TEST_F(HistoryViewTest, AnEmptyHistorySaysSoAndTheStartUpNoticeShowsUnderTheStatus) {
    auto& notice = AppHistory::startupNotice();
    const std::string previous = notice.get();
    notice.set(AppHistory::initialNotice);
    Gtk::Window window;
    auto* view = Gtk::make_managed<HistoryView>();
    window.set_child(*view);
    window.present();
    ASSERT_TRUE(test::spinUntil([&] { return shown(find(*view, Names::empty)); }));
    EXPECT_EQ(named<Gtk::Label>(*view, Names::empty)->get_text().raw(), "保存した成果物はまだありません。");
    EXPECT_EQ(named<Gtk::Label>(*view, Names::status)->get_text().raw(),
              "通常の明示保存結果だけを表示します。閲覧履歴・プライベートは登録しません。");
    EXPECT_FALSE(shown(find(*view, Names::notice)));
    notice.set(AppHistory::recoveredNotice);
    EXPECT_TRUE(shown(find(*view, Names::notice)));
    EXPECT_EQ(named<Gtk::Label>(*view, Names::notice)->get_text().raw(), AppHistory::recoveredNotice);
    notice.set(previous);
}

TEST_F(HistoryViewTest, TheListTakesMostOfTheHeightAndEveryActionOfTheDetailIsInSight) {
    std::vector<CaptureHistoryEntry> entries;
    for (int i = 0; i < 8; ++i) {
        entries.push_back(entry({output("page-" + std::to_string(i) + ".png", 120, 90)}, i,
                                "https://example.com/news/2026/12/07/" + std::to_string(i) + ".html"));
    }
    store(entries);
    // The history section of a window at its default size, less the window's
    // own bars above it.
    Gtk::Window window;
    window.set_default_size(1240, 700);
    auto* view = Gtk::make_managed<HistoryView>();
    window.set_child(*view);
    window.present();
    ASSERT_TRUE(test::spinUntil([&] { return view->model().entries().size() == 8; }));
    view->model().select(entries[3].id);
    ASSERT_TRUE(test::spinUntil([&] { return shown(find(*view, Names::trash)); }));
    test::spinFor(std::chrono::milliseconds(50));

    const auto bounds = [&](Gtk::Widget* w) {
        graphene_rect_t b{};
        EXPECT_TRUE(w && gtk_widget_compute_bounds(w->gobj(), GTK_WIDGET(window.gobj()), &b));
        return b;
    };
    auto* detail = find(*view, Names::detail);
    const graphene_rect_t area = bounds(detail);
    for (const std::string& name : {std::string(Names::open) + "0", std::string(Names::reveal) + "0",
                                    std::string(Names::copyURL), std::string(Names::reopen),
                                    std::string(Names::deleteOnly), std::string(Names::trash)}) {
        const graphene_rect_t b = bounds(find(*view, name));
        EXPECT_GT(b.size.height, 0) << name;
        EXPECT_GE(b.origin.y, area.origin.y) << name;
        EXPECT_LE(b.origin.y + b.size.height, area.origin.y + area.size.height + 0.5) << name;
        EXPECT_LE(b.origin.y + b.size.height, window.get_height()) << name;
    }
    // The entry's four actions stand side by side.
    EXPECT_EQ(bounds(find(*view, Names::copyURL)).origin.y, bounds(find(*view, Names::trash)).origin.y);
    // The list is the largest part of the section.
    const graphene_rect_t list = bounds(find(*view, Names::list));
    EXPECT_GT(list.size.height, area.size.height);
    EXPECT_GT(list.size.height, window.get_height() / 2.0);
}

TEST_F(HistoryViewTest, AnEmptyOrUnreadableListShowsAsAStatusPage) {
    Gtk::Window window;
    window.set_default_size(900, 700);
    auto* view = Gtk::make_managed<HistoryView>();
    window.set_child(*view);
    window.present();
    ASSERT_TRUE(test::spinUntil([&] { return shown(find(*view, Names::statePage)) && find(*view, Names::empty)->get_height() > 0; }));
    EXPECT_FALSE(shown(find(*view, Names::list)));
    // Centred in the room the list would have.
    graphene_rect_t b{};
    ASSERT_TRUE(gtk_widget_compute_bounds(find(*view, Names::empty)->gobj(), GTK_WIDGET(view->gobj()), &b));
    EXPECT_GT(b.origin.y, view->get_height() * 0.25);

    // Unreadable with nothing listed: the page says so, as a warning.
    SecureDirectory(storage / "history", true).replaceState(CaptureHistory::fileName, std::vector<uint8_t>{'{', '"'});
    view->model().reload();
    ASSERT_TRUE(test::spinUntil([&] {
        return named<Gtk::Label>(*view, Names::empty)->get_text().raw() == HistoryViewModel::loadFailed;
    }));
    EXPECT_TRUE(named<Gtk::Label>(*view, Names::empty)->has_css_class("warning"));
    EXPECT_TRUE(shown(find(*view, Names::statePage)));
}

TEST_F(HistoryViewTest, AnEntryNotFullySavedWarnsInItsRowAndAFailedLoadInTheStatusLine) {
    auto page = entry({output("page.png", 300, 200)}, 2, "https://example.com/page");
    auto partial = entry({output("partial.png", 300, 200)}, 1, std::nullopt);
    partial.state = "interrupted";
    store({page, partial});
    Gtk::Window window;
    window.set_default_size(900, 700);
    auto* view = Gtk::make_managed<HistoryView>();
    window.set_child(*view);
    window.present();
    std::vector<Gtk::Widget*> states;
    ASSERT_TRUE(test::spinUntil([&] {
        states.clear();
        findAll(*view, Names::rowState, states);
        return states.size() == 2;
    }));
    int warned = 0;
    for (Gtk::Widget* state : states) {
        const bool warns = state->has_css_class("warning");
        warned += warns;
        EXPECT_EQ(warns, dynamic_cast<Gtk::Label*>(state)->get_text().raw() != "保存完了");
    }
    EXPECT_EQ(warned, 1);

    // A reload that fails keeps the list and says so in the error colour.
    SecureDirectory(storage / "history", true).replaceState(CaptureHistory::fileName, std::vector<uint8_t>{'{', '"'});
    view->model().reload();
    auto* status = named<Gtk::Label>(*view, Names::status);
    EXPECT_EQ(status->get_text().raw(), HistoryViewModel::loadFailed);
    EXPECT_TRUE(status->has_css_class("error"));
    EXPECT_TRUE(shown(status));
    EXPECT_TRUE(shown(find(*view, Names::list)));
}

// A refused open is told once, under the output asked for: not in the
// status line, not on the entry's row. The detail is not rebuilt for it, so
// the button keeps the focus and no file name is left selected.
TEST_F(HistoryViewTest, ARefusedOpenIsToldOnceUnderItsOutput) {
    auto page = entry({output("page.png", 300, 200)}, 2, "https://example.com/page");
    auto print = entry({output("print-1.png", 100, 140), output("print-2.png", 100, 140)}, 1, std::nullopt);
    print.outputs.insert(print.outputs.begin(), output("print.pdf", 10, 10));
    store({print, page});
    test::FakeDesktopActions desktop;
    desktop.openSucceeds = false;
    Gtk::Window window;
    window.set_default_size(900, 700);
    auto* view = Gtk::make_managed<HistoryView>(nullptr, true, &desktop);
    window.set_child(*view);
    window.present();
    view->model().select(print.id);
    auto* open = named<Gtk::Button>(*view, Names::open + std::string("1"));
    ASSERT_TRUE(test::spinUntil([&] { return shown(open); }));
    EXPECT_FALSE(shown(find(*view, Names::refusal + std::string("0"))));
    EXPECT_FALSE(shown(find(*view, Names::refusal + std::string("1"))));
    const std::string statusBefore = named<Gtk::Label>(*view, Names::status)->get_text().raw();

    open->grab_focus();
    ASSERT_TRUE(test::spinUntil([&] { return open->has_focus(); }));
    g_signal_emit_by_name(open->gobj(), "clicked");
    EXPECT_EQ(desktop.opened, std::vector<fs::path>{print.outputs[1].path});
    // Under the line of the pages, beside its button, in the error colour;
    // not under the PDF's.
    ASSERT_TRUE(test::spinUntil([&] { return shown(find(*view, Names::refusal + std::string("1"))); }));
    EXPECT_FALSE(shown(find(*view, Names::refusal + std::string("0"))));
    Gtk::Widget* refusal = find(*view, Names::refusal + std::string("1"));
    std::vector<Gtk::Widget*> parts;
    for (Gtk::Widget* c = refusal->get_first_child(); c; c = c->get_next_sibling()) parts.push_back(c);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_TRUE(parts[0]->has_css_class("error"));
    EXPECT_EQ(dynamic_cast<Gtk::Label*>(parts[1])->get_text().raw(),
              HistoryViewModel::refusedText(print.outputs[1].path, true, true));
    // Nowhere else.
    EXPECT_EQ(named<Gtk::Label>(*view, Names::status)->get_text().raw(), statusBefore);
    EXPECT_FALSE(named<Gtk::Label>(*view, Names::status)->has_css_class("error"));
    // The same button, still focused; no file name selected.
    EXPECT_EQ(named<Gtk::Button>(*view, Names::open + std::string("1")), open);
    EXPECT_TRUE(open->has_focus());
    auto* name = named<Gtk::Label>(*view, Names::outputName + std::string("0"));
    int start = 0, end = 0;
    EXPECT_FALSE(name->get_selection_bounds(start, end));

    // Another outcome of the section ends it.
    view->model().deleteHistoryOnly();
    ASSERT_TRUE(test::spinUntil([&] { return !shown(find(*view, Names::detail)); }));
    EXPECT_FALSE(shown(find(*view, Names::refusal + std::string("1"))));
}

// A print of many pages: its PDF and one line for the pages, and every
// action of the detail in sight at the window's default size.
TEST_F(HistoryViewTest, APrintOfManyPagesKeepsEveryActionInSight) {
    std::vector<SavedOutput> outputs{output("manual.pdf", 10, 10)};
    for (int i = 1; i <= 19; ++i) {
        outputs.push_back(output("manual_" + std::string(i < 10 ? "000" : "00") + std::to_string(i) + ".png", 60, 85));
    }
    auto print = entry(std::move(outputs), 1, "https://example.com/manual.html");
    print.kind = "print";
    store({print});
    // The history section of a window at its default size, less the
    // window's own bars above it.
    Gtk::Window window;
    window.set_default_size(1040, 700);
    auto* view = Gtk::make_managed<HistoryView>();
    window.set_child(*view);
    window.present();
    ASSERT_TRUE(test::spinUntil([&] { return view->model().entries().size() == 1; }));
    view->model().select(print.id);
    ASSERT_TRUE(test::spinUntil([&] { return shown(find(*view, Names::trash)); }));
    test::spinFor(std::chrono::milliseconds(50));
    EXPECT_EQ(named<Gtk::Label>(*view, std::string(Names::outputName) + "0")->get_text().raw(), "manual.pdf");
    EXPECT_EQ(named<Gtk::Label>(*view, std::string(Names::outputName) + "1")->get_text().raw(), "PNG 19件");
    EXPECT_EQ(named<Gtk::Label>(*view, std::string(Names::outputRange) + "1")->get_text().raw(),
              "manual_0001.png 〜 0019.png");
    EXPECT_FALSE(find(*view, std::string(Names::open) + "2"));

    const auto bounds = [&](Gtk::Widget* w) {
        graphene_rect_t b{};
        EXPECT_TRUE(w && gtk_widget_compute_bounds(w->gobj(), GTK_WIDGET(window.gobj()), &b));
        return b;
    };
    const graphene_rect_t area = bounds(find(*view, Names::detail));
    for (const std::string& name : {std::string(Names::open) + "0", std::string(Names::open) + "1",
                                    std::string(Names::reveal) + "1", std::string(Names::copyURL),
                                    std::string(Names::reopen), std::string(Names::deleteOnly),
                                    std::string(Names::trash)}) {
        const graphene_rect_t b = bounds(find(*view, name));
        EXPECT_GT(b.size.height, 0) << name;
        EXPECT_GE(b.origin.y, area.origin.y) << name;
        EXPECT_LE(b.origin.y + b.size.height, area.origin.y + area.size.height + 0.5) << name;
    }
}
