#include <gtest/gtest.h>
#include <gtkmm/messagedialog.h>

#include <algorithm>
#include <map>

#include "gui/GtkConfirmation.hpp"
#include "support/gui/Pointer.hpp"
#include "workspace/model/TabActions.hpp"
#include "workspace/model/WebWorkspaceRules.hpp"
#include "workspace/tabbar/TabBarFixture.hpp"

// The tab bar over real tabs on loopback pages: what each item and the list
// say about a tab (private, busy, titles as pages give them, long ones cut),
// the clicks that select, load, add and close tabs (a busy one through the
// real question), both menus' moves chosen from their popovers, and a
// closing window whose bar takes nothing.

using namespace velmora;
using namespace std::chrono_literals;
using test::BarWindow;
using test::spinUntil;

namespace {

std::vector<UUID> ids(const WindowModel& model) {
    std::vector<UUID> out;
    for (const auto& tab : model.tabs.get()) out.push_back(tab->id);
    return out;
}

std::size_t closeQuestions() {
    std::size_t count = 0;
    for (auto* dialog : test::visibleWindowsOf<Gtk::MessageDialog>()) {
        if (dialog->property_text().get_value().raw() == TabActions::closeQuestion) ++count;
    }
    return count;
}

// Every widget name under root, with how often it occurs.
void names(Gtk::Widget& root, std::map<std::string, int>& found) {
    ++found[root.get_name()];
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling()) names(*child, found);
}

class TabBarTest : public test::TabBarFixture {
protected:
    // Loads a page into a tab of its own, shown in a window of its own, and
    // selects it.
    std::shared_ptr<BrowserTab> loadedTab(WindowModel& model, const std::string& path, bool privateMode = false) {
        auto tab = model.addTab(privateMode);
        show(*tab);
        loadTitled(model, path);
        return tab;
    }
    // Loads a page into the selected tab and waits for its title too, which
    // the engine may announce after the load has ended.
    void loadTitled(WindowModel& model, const std::string& path) {
        load(model, path);
        auto& session = model.browser();
        ASSERT_TRUE(spinUntil([&] { return !session.pageTitle->empty(); }));
    }
    // Brings the bar's window above the tabs' own windows, for the pointer.
    static void raise(Gtk::Window& window) {
        const std::string command = "xdotool windowraise " + std::to_string(test::centreOf(window).window);
        ASSERT_TRUE(g_spawn_command_line_sync(command.c_str(), nullptr, nullptr, nullptr, nullptr));
        test::spinFor(100ms);
    }
};

}  // namespace

TEST_F(TabBarTest, ItemsMarkPrivateAndBusyTabsAndTheListShowsTitlesAsThePagesGaveThem) {
    const std::string longTitle = "市民プールの冬季営業と屋内施設の利用案内についてのお知らせ（詳しい時間割と料金表）";
    server.html("/long", test::page(longTitle));
    server.html("/under", test::page("snake_case_title"));
    auto model = makeModel();
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto first = model->selectedTab();
    show(*first);
    loadTitled(*model, "/long");

    // "tab.private": a private tab, selected, loaded with the "_" page.
    click(named(pane.bar, BrowserTabBar::privateName));
    auto hidden = model->selectedTab();
    ASSERT_NE(hidden, first);
    ASSERT_TRUE(hidden->isPrivate());
    show(*hidden);
    loadTitled(*model, "/under");
    EXPECT_EQ(itemText(pane.bar, hidden->id), "私用：snake_case_title");

    // Busy: the bar says so; the list does not.
    startHeldCapture(*hidden);
    EXPECT_EQ(itemText(pane.bar, hidden->id), "私用：snake_case_title（処理中）");
    EXPECT_EQ(itemText(pane.bar, first->id), longTitle);
    GtkWidget* list = openList(pane.bar);
    const auto entries = texts(list);
    EXPECT_NE(std::find(entries.begin(), entries.end(), "私用：snake_case_title"), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), longTitle), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), BrowserTabBar::moveSelectedLeftLabel), entries.end());
    EXPECT_NE(std::find(entries.begin(), entries.end(), BrowserTabBar::moveSelectedRightLabel), entries.end());
    for (const auto& text : entries) EXPECT_EQ(text.find("（処理中）"), std::string::npos) << text;
    closePopover(list);

    // The long title: cut to one line, its label no wider than the bound; a
    // short one still as wide as the lower bound.
    ASSERT_TRUE(spinUntil([&] {
        return labelIn(*named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, first->id)))->get_width() > 0;
    }));
    Gtk::Label* cut = labelIn(*named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, first->id)));
    Gtk::Widget* cutClamp = labelArea(pane.bar, first->id);
    EXPECT_LE(cutClamp->get_width(), WebWorkspaceRules::tabMaximumWidth);
    EXPECT_GE(cutClamp->get_width(), WebWorkspaceRules::tabMaximumWidth - 10);
    EXPECT_TRUE(cut->get_layout()->is_ellipsized());
    EXPECT_EQ(cut->get_layout()->get_line_count(), 1);
    EXPECT_EQ(cut->get_text().raw(), longTitle);
    // Busy, the long title is cut as before and the busy mark stays whole.
    auto hold = std::make_shared<test::PrintHold>();
    hold->holdAt = PrintOptions::Stage::beforePrint;
    std::filesystem::create_directories(out / "Print");
    startHeldPrint(*first, hold, out / "Print");
    EXPECT_EQ(itemText(pane.bar, first->id), longTitle + "（処理中）");
    Gtk::Widget* area = labelArea(pane.bar, first->id);
    Gtk::Label* mark = nullptr;
    ASSERT_TRUE(spinUntil([&] {
        mark = nextShown(*cut);
        return mark && mark->get_mapped() && mark->get_width() > 0;
    }));
    graphene_rect_t bounds{};
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(mark->gobj()), GTK_WIDGET(area->gobj()), &bounds));
    EXPECT_LE(bounds.origin.x + bounds.size.width, area->get_width() + 0.5);
    EXPECT_FALSE(mark->get_layout()->is_ellipsized());
    // The mark widens the tab by its own width: the title keeps its room.
    EXPECT_LE(area->get_width(), WebWorkspaceRules::tabMaximumWidth + mark->get_width());
    EXPECT_GE(area->get_width(), WebWorkspaceRules::tabMaximumWidth + mark->get_width() - 1);
    EXPECT_TRUE(cut->get_layout()->is_ellipsized());
    hold->holdAt.reset();
    ASSERT_TRUE(spinUntil([&] { return !first->browser->hasPendingOperation(); }, 60s));
    EXPECT_EQ(itemText(pane.bar, first->id), longTitle);

    auto blank = model->addTab(false);
    ASSERT_TRUE(spinUntil([&] {
        return labelIn(*named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, blank->id)))->get_width() > 0;
    }));
    Gtk::Label* shortLabel = labelIn(*named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, blank->id)));
    EXPECT_EQ(shortLabel->get_text().raw(), BrowserTab::emptyTitle);
    EXPECT_GE(labelArea(pane.bar, blank->id)->get_width(), WebWorkspaceRules::tabMinimumWidth);
    EXPECT_FALSE(shortLabel->get_layout()->is_ellipsized());

    // The selection's background follows the model.
    auto* blankItem = named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::itemPrefix, blank->id));
    auto* hiddenItem = named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::itemPrefix, hidden->id));
    EXPECT_TRUE(blankItem->has_css_class("velmora-tab-selected"));
    EXPECT_FALSE(hiddenItem->has_css_class("velmora-tab-selected"));

    // Names never collide: each tab's item, select and close button once.
    std::map<std::string, int> found;
    names(pane.bar, found);
    for (const auto& [name, count] : found) {
        if (name.rfind("tab.", 0) == 0) {
            EXPECT_EQ(count, 1) << name;
        }
    }
    for (const auto& tab : model->tabs.get()) {
        for (const char* prefix : {BrowserTabBar::itemPrefix, BrowserTabBar::selectPrefix, BrowserTabBar::closePrefix}) {
            EXPECT_EQ(found[BrowserTabBar::nameFor(prefix, tab->id)], 1) << prefix;
        }
    }

    // The save's end takes the busy mark away.
    endHeldCapture(*hidden);
    EXPECT_EQ(itemText(pane.bar, hidden->id), "私用：snake_case_title");
}

TEST_F(TabBarTest, ClicksSelectAndLoadRestoredTabsAddTabsOfTheirKindAndCloseTheTabTheyBelongTo) {
    server.html("/second", test::page("二番目"));
    RestoredWindow restored{UUID::random(),
                            {RestoredTab{UUID::random(), server.url("/page"), false},
                             RestoredTab{UUID::random(), server.url("/second"), false}},
                            {}};
    restored.selected = restored.tabs[0].id;
    auto model = makeModel(restored);
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto second = model->tabs.get()[1];
    show(*second);
    EXPECT_EQ(itemText(pane.bar, second->id), "復元待ち：127.0.0.1:" + std::to_string(server.port()));

    // The restored tab's item: selected and loaded.
    click(named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, second->id)));
    EXPECT_EQ(model->selectedTab(), second);
    ASSERT_TRUE(spinUntil([&] { return itemText(pane.bar, second->id) == "二番目"; }));
    EXPECT_EQ(server.requests("/second"), 1);
    EXPECT_EQ(server.requests("/page"), 0);

    // "tab.add" and "tab.private": one tab each at the end, of that kind,
    // selected.
    click(named(pane.bar, BrowserTabBar::addName));
    ASSERT_EQ(model->tabs->size(), 3u);
    auto added = model->tabs->back();
    EXPECT_EQ(model->selectedTab(), added);
    EXPECT_FALSE(added->isPrivate());
    click(named(pane.bar, BrowserTabBar::privateName));
    ASSERT_EQ(model->tabs->size(), 4u);
    auto hidden = model->tabs->back();
    EXPECT_EQ(model->selectedTab(), hidden);
    EXPECT_TRUE(hidden->isPrivate());
    EXPECT_EQ(pane.bar.shownTabs(), ids(*model));

    // An idle tab's close button closes that tab at once.
    click(named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::closePrefix, added->id)));
    EXPECT_TRUE(added->closed());
    EXPECT_EQ(model->tabs->size(), 3u);
    EXPECT_EQ(named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, added->id)), nullptr);
    EXPECT_EQ(pane.bar.shownTabs(), ids(*model));

    // A busy tab's: the question once, however often it is pressed.
    model->selectTab(second->id, false);
    startHeldCapture(*second);
    auto* close = named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::closePrefix, second->id));
    click(close);
    ASSERT_TRUE(spinUntil([] { return closeQuestions() == 1; }));
    click(close);
    test::spinFor(200ms);
    EXPECT_EQ(closeQuestions(), 1u);
    ASSERT_TRUE(test::answerMessageDialog(TabActions::closeQuestion, GtkConfirmation::firstButton));
    ASSERT_TRUE(spinUntil([] { return closeQuestions() == 0; }));
    EXPECT_TRUE(second->browser->hasPendingOperation());
    EXPECT_FALSE(second->closed());
    // Asked again and agreed: the save stops and that tab goes.
    click(close);
    ASSERT_TRUE(test::answerMessageDialog(TabActions::closeQuestion, GtkConfirmation::secondButton));
    ASSERT_TRUE(spinUntil([&] { return second->closed(); }, 60s));
    EXPECT_EQ(model->tabs->size(), 2u);
    EXPECT_EQ(pane.bar.shownTabs(), ids(*model));
    EXPECT_FALSE(hidden->closed());
    server.release("/held.png");
}

// Restored tabs of one host in a bar too narrow for their titles: each is
// cut in its prefix and host, and its port, the one part that tells them
// apart, stays whole inside the tab.
TEST_F(TabBarTest, RestoredTabsOfOneHostKeepTheirPortsWholeInANarrowBar) {
    std::vector<std::unique_ptr<test::WebTestServer>> servers;
    RestoredWindow restored{UUID::random(), {}, {}};
    for (int i = 0; i < 4; ++i) {
        servers.push_back(std::make_unique<test::WebTestServer>());
        servers.back()->html("/page", test::page("ページ"));
        restored.tabs.push_back(RestoredTab{UUID::random(), servers.back()->url("/page"), false});
    }
    restored.selected = restored.tabs[0].id;
    auto model = makeModel(restored);
    BarWindow pane(model);
    pane.window.set_default_size(900, 400);
    ASSERT_TRUE(pane.shown());
    for (std::size_t i = 1; i < 4; ++i) {
        const auto& tab = model->tabs.get()[i];
        const std::string port = ":" + std::to_string(servers[i]->port());
        EXPECT_EQ(itemText(pane.bar, tab->id), "復元待ち：127.0.0.1" + port);
        auto* button = named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, tab->id));
        Gtk::Label* head = labelIn(*button);
        Gtk::Label* tail = head ? nextShown(*head) : nullptr;
        ASSERT_TRUE(tail && tail->get_text().raw() == port) << port;
        ASSERT_TRUE(spinUntil([&] { return tail->get_mapped() && tail->get_width() > 0; }));
        EXPECT_TRUE(head->get_layout()->is_ellipsized()) << "the bar is narrower than the titles";
        EXPECT_FALSE(tail->get_layout()->is_ellipsized());
        Gtk::Widget* area = labelArea(pane.bar, tab->id);
        graphene_rect_t bounds{};
        ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(tail->gobj()), GTK_WIDGET(area->gobj()), &bounds));
        EXPECT_LE(bounds.origin.x + bounds.size.width, area->get_width() + 0.5);
    }
}

TEST_F(TabBarTest, TheListMovesTheSelectedTabTheContextMenuItsOwnAndNeitherPastAnEnd) {
    server.html("/one", test::page("一"));
    server.html("/two", test::page("二"));
    server.html("/three", test::page("三"));
    auto model = makeModel();
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto one = model->selectedTab();
    show(*one);
    loadTitled(*model, "/one");
    auto two = loadedTab(*model, "/two");
    auto three = loadedTab(*model, "/three");
    using Order = std::vector<UUID>;
    ASSERT_EQ(ids(*model), (Order{one->id, two->id, three->id}));
    ASSERT_EQ(model->selectedTab(), three);

    // "タブ一覧": the selected tab, and nothing past the right end.
    GtkWidget* list = openList(pane.bar);
    ASSERT_TRUE(choose(list, BrowserTabBar::moveSelectedRightLabel));
    EXPECT_EQ(ids(*model), (Order{one->id, two->id, three->id}));
    list = openList(pane.bar);
    ASSERT_TRUE(choose(list, BrowserTabBar::moveSelectedLeftLabel));
    EXPECT_EQ(ids(*model), (Order{one->id, three->id, two->id}));
    EXPECT_EQ(pane.bar.shownTabs(), ids(*model));
    // And its entries select a tab, in the new order.
    list = openList(pane.bar);
    auto entries = texts(list);
    const auto at = [&](const std::string& text) { return std::find(entries.begin(), entries.end(), text); };
    EXPECT_LT(at("一"), at("三"));
    EXPECT_LT(at("三"), at("二"));
    ASSERT_TRUE(choose(list, "一"));
    EXPECT_EQ(model->selectedTab(), one);
    model->selectTab(three->id, false);

    // A right click on the first tab: its own menu moves it, not the
    // selected one, and not past the left end.
    raise(pane.window);
    auto* firstItem = named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::itemPrefix, one->id));
    int clicks = 0;
    auto rightClick = [&](Gtk::Widget& item) {
        GtkWidget* popover = contextPopover(pane.bar, one->id);
        // The menu closes once an entry is chosen.
        EXPECT_TRUE(spinUntil([&] { return !gtk_widget_get_mapped(popover); }));
        // Each click somewhere else on the item, so that two are never
        // taken for a double click.
        clicks += 1;
        raise(pane.window);
        EXPECT_TRUE(test::pointerClick(test::pointOf(item, item.get_width() * clicks / 4.0, item.get_height() / 2.0), 3));
        EXPECT_TRUE(spinUntil([&] { return gtk_widget_get_mapped(popover); }));
        return popover;
    };
    GtkWidget* menu = rightClick(*firstItem);
    EXPECT_NE(entry(menu, BrowserTabBar::moveLeftLabel), nullptr);
    ASSERT_TRUE(choose(menu, BrowserTabBar::moveLeftLabel));
    EXPECT_EQ(ids(*model), (Order{one->id, three->id, two->id}));
    menu = rightClick(*firstItem);
    ASSERT_TRUE(choose(menu, BrowserTabBar::moveRightLabel));
    EXPECT_EQ(ids(*model), (Order{three->id, one->id, two->id}));
    EXPECT_EQ(model->selectedTab(), three);
    EXPECT_EQ(pane.bar.shownTabs(), ids(*model));
    // The moved item stays the same widget.
    EXPECT_EQ(named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::itemPrefix, one->id)), firstItem);

    // Past the right end, from the last tab's own menu.
    const Glib::ustring last = two->id.text();
    pane.bar.actions()->activate_action(BrowserTabBar::moveRightAction, Glib::Variant<Glib::ustring>::create(last));
    EXPECT_EQ(ids(*model), (Order{three->id, one->id, two->id}));
}

TEST_F(TabBarTest, NoButtonOrMenuOfAClosingWindowsBarReacts) {
    auto model = makeModel();
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto first = model->selectedTab();
    auto second = model->addTab(false);
    model->selectTab(first->id, false);
    const auto before = ids(*model);
    const int snapshots = windows.snapshots;

    model->cancelForClose();
    ASSERT_TRUE(model->closing.get());
    EXPECT_FALSE(pane.bar.is_sensitive());
    // The buttons' own handlers, reached past the insensitive bar.
    for (const std::string& name :
         {std::string(BrowserTabBar::addName), std::string(BrowserTabBar::privateName),
          BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, second->id),
          BrowserTabBar::nameFor(BrowserTabBar::closePrefix, second->id)}) {
        auto* button = named(pane.bar, name);
        ASSERT_NE(button, nullptr) << name;
        g_signal_emit_by_name(button->gobj(), "clicked");
    }
    // Both menus' actions.
    const auto target = Glib::Variant<Glib::ustring>::create(second->id.text());
    for (const char* action : {BrowserTabBar::selectAction, BrowserTabBar::moveLeftAction,
                               BrowserTabBar::moveRightAction}) {
        EXPECT_FALSE(pane.bar.actions()->get_action_enabled(action)) << action;
        pane.bar.actions()->activate_action(action, target);
    }
    for (const char* action : {BrowserTabBar::moveSelectedLeftAction, BrowserTabBar::moveSelectedRightAction}) {
        EXPECT_FALSE(pane.bar.actions()->get_action_enabled(action)) << action;
        pane.bar.actions()->activate_action(action);
    }
    pane.bar.openContextMenu(second->id);
    test::spinFor(100ms);
    EXPECT_FALSE(gtk_widget_get_mapped(contextPopover(pane.bar, second->id)));
    EXPECT_EQ(ids(*model), before);
    EXPECT_EQ(model->selectedTab(), first);
    EXPECT_FALSE(second->closed());
    EXPECT_EQ(windows.snapshots, snapshots);

    // A close that failed gives the window back: the bar reacts again.
    model->closing = false;
    EXPECT_TRUE(pane.bar.is_sensitive());
    click(named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, second->id)));
    EXPECT_EQ(model->selectedTab(), second);
    pane.bar.actions()->activate_action(BrowserTabBar::moveSelectedLeftAction);
    EXPECT_EQ(ids(*model), (std::vector<UUID>{second->id, first->id}));
}

TEST_F(TabBarTest, TabsTakeTheWidthTheirTitlesNeedUpToABoundAndGiveItUpAlikeWhenTheBarIsFull) {
    const std::string longTitle = "市民プールの冬季営業と屋内施設の利用案内についてのお知らせ";
    server.html("/short", test::page("案内"));
    server.html("/middle", test::page("図書館の開館時間"));
    server.html("/long", test::page(longTitle));
    auto model = makeModel();
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto shortTab = model->selectedTab();
    show(*shortTab);
    loadTitled(*model, "/short");
    auto middle = loadedTab(*model, "/middle");
    auto longTab = loadedTab(*model, "/long");
    const auto width = [&](const UUID& id) { return labelArea(pane.bar, id)->get_width(); };
    // The width the icon and the whole title ask for.
    const auto natural = [&](const UUID& id) {
        int minimum = 0, wanted = 0, baseline = -1, naturalBaseline = -1;
        labelArea(pane.bar, id)->get_first_child()->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, wanted,
                                                            baseline, naturalBaseline);
        return wanted;
    };
    // The title's own label: after the private mark where there is one.
    const auto title = [&](const UUID& id) {
        Gtk::Label* first = labelIn(*named(pane.bar, BrowserTabBar::nameFor(BrowserTabBar::selectPrefix, id)));
        if (first && first->get_text().raw() == "私用：") return dynamic_cast<Gtk::Label*>(first->get_next_sibling());
        return first;
    };
    ASSERT_TRUE(spinUntil([&] { return width(longTab->id) == WebWorkspaceRules::tabMaximumWidth; }, 10s))
        << width(longTab->id);

    // Room enough: each as wide as its title needs, between the bounds.
    ASSERT_LT(natural(shortTab->id), WebWorkspaceRules::tabMinimumWidth);
    EXPECT_EQ(width(shortTab->id), WebWorkspaceRules::tabMinimumWidth);
    ASSERT_GT(natural(middle->id), WebWorkspaceRules::tabMinimumWidth);
    ASSERT_LT(natural(middle->id), WebWorkspaceRules::tabMaximumWidth);
    EXPECT_EQ(width(middle->id), natural(middle->id));
    EXPECT_FALSE(title(middle->id)->get_layout()->is_ellipsized());
    EXPECT_GT(natural(longTab->id), WebWorkspaceRules::tabMaximumWidth);
    EXPECT_TRUE(title(longTab->id)->get_layout()->is_ellipsized());

    // Long tabs until the bar is full, the last private and busy: every
    // long one gives up width alike.
    std::vector<std::shared_ptr<BrowserTab>> longTabs{longTab};
    while (longTabs.size() < 8 && width(longTab->id) == WebWorkspaceRules::tabMaximumWidth) {
        longTabs.push_back(loadedTab(*model, "/long", longTabs.size() == 3));
        // Laid out: the bar places every item in the pass that places the
        // new one.
        ASSERT_TRUE(spinUntil([&] { return width(longTabs.back()->id) > 0; }));
    }
    auto marked = loadedTab(*model, "/long", true);
    longTabs.push_back(marked);
    startHeldCapture(*marked);
    ASSERT_TRUE(spinUntil([&] {
        const int first = width(longTab->id);
        return first < WebWorkspaceRules::tabMaximumWidth &&
               std::all_of(longTabs.begin(), longTabs.end(), [&](const auto& tab) {
                   return tab->isPrivate() || std::abs(width(tab->id) - first) <= 1;
               });
    }, 10s)) << width(longTab->id);
    const int shared = width(longTab->id);
    EXPECT_GE(shared, WebWorkspaceRules::tabMinimumWidth);
    for (const auto& tab : longTabs) {
        if (!tab->isPrivate()) {
            EXPECT_NEAR(width(tab->id), shared, 1);
        }
    }
    // The shorter titles keep what they need while it is less than the
    // long ones' share.
    EXPECT_EQ(width(shortTab->id), WebWorkspaceRules::tabMinimumWidth);
    EXPECT_EQ(width(middle->id), std::max(std::min(natural(middle->id), shared), WebWorkspaceRules::tabMinimumWidth));

    // The private and the busy mark stand whole beside a title that still
    // shows its first characters.
    EXPECT_EQ(itemText(pane.bar, marked->id), "私用：" + longTitle + "（処理中）");
    Gtk::Label* cut = title(marked->id);
    auto* mark = dynamic_cast<Gtk::Label*>(cut->get_prev_sibling());
    auto* busy = nextShown(*cut);
    ASSERT_TRUE(mark && busy);
    ASSERT_TRUE(spinUntil([&] { return busy->get_mapped() && busy->get_width() > 0; }));
    EXPECT_FALSE(mark->get_layout()->is_ellipsized());
    EXPECT_FALSE(busy->get_layout()->is_ellipsized());
    int firstCharacters = 0, height = 0;
    cut->create_pango_layout("市民プ…")->get_pixel_size(firstCharacters, height);
    EXPECT_GE(cut->get_width(), firstCharacters);
    graphene_rect_t bounds{};
    Gtk::Widget* area = labelArea(pane.bar, marked->id);
    ASSERT_TRUE(gtk_widget_compute_bounds(GTK_WIDGET(busy->gobj()), GTK_WIDGET(area->gobj()), &bounds));
    EXPECT_LE(bounds.origin.x + bounds.size.width, area->get_width() + 0.5);
    endHeldCapture(*marked);
}

TEST_F(TabBarTest, TheListOpensOnTheSelectedTabsLineAndMarksIt) {
    // A line of the list drawn as the chosen one of its radio group.
    const auto marked = [](GtkWidget* line) {
        gboolean active = FALSE;
        g_object_get(line, "active", &active, nullptr);
        return active == TRUE;
    };
    server.html("/one", test::page("一"));
    server.html("/two", test::page("二"));
    server.html("/three", test::page("三"));
    auto model = makeModel();
    BarWindow pane(model);
    ASSERT_TRUE(pane.shown());
    auto one = model->selectedTab();
    show(*one);
    loadTitled(*model, "/one");
    auto two = loadedTab(*model, "/two");
    auto three = loadedTab(*model, "/three");
    for (const auto& [tab, text] : {std::pair{two, "二"}, std::pair{three, "三"}, std::pair{one, "一"}}) {
        model->selectTab(tab->id, false);
        GtkWidget* list = openList(pane.bar);
        GtkWidget* line = entry(list, text);
        ASSERT_NE(line, nullptr) << text;
        EXPECT_TRUE(spinUntil([&] { return gtk_root_get_focus(gtk_widget_get_root(line)) == line; })) << text;
        EXPECT_TRUE(marked(line)) << text;
        EXPECT_TRUE(gtk_widget_get_state_flags(line) & GTK_STATE_FLAG_SELECTED) << "drawn as the current line";
        for (const char* other : {"一", "二", "三"}) {
            if (std::string(other) == text) continue;
            EXPECT_FALSE(marked(entry(list, other))) << other;
        }
        closePopover(list);
    }
}
