#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/adjustment.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/dropdown.h>
#include <gtkmm/label.h>
#include <gtkmm/progressbar.h>
#include <gtkmm/stringlist.h>
#include <gtkmm/window.h>

#include <fstream>
#include <string>

#include "ocrqueue/ControllerFixtures.hpp"
#include "ocrqueue/PortFakes.hpp"
#include "ocrqueue/RunFixtures.hpp"
#include "ocrviews/GtkQueuePorts.hpp"
#include "ocrviews/ProgressColumns.hpp"
#include "ocrviews/QueueView.hpp"
#include "support/MainLoop.hpp"
#include "support/gui/GuiHelpers.hpp"

// The queue panel on a real queue controller: queues of PDF pages read by a
// fixed recogniser (held at a gate where a run must stay in progress), the
// file panels and confirmations answered by fakes, the panel in a presented
// window and driven through its widgets.

using namespace velmora;
using namespace velmora::test;

namespace {

// The panel in a presented window, refreshed as the main loop runs.
struct PanelWindow {
    Gtk::Window window;
    QueueView* view;

    explicit PanelWindow(std::shared_ptr<QueueController> controller, int width = 1000, int height = 600)
        : view(Gtk::make_managed<QueueView>(std::move(controller))) {
        window.set_default_size(width, height);
        auto& box = *Gtk::make_managed<Gtk::Box>(Gtk::Orientation::VERTICAL);
        box.append(*view);
        window.set_child(box);
        window.present();
        spinUntil([&] { return view->get_mapped(); });
        settle();
    }
    ~PanelWindow() { window.destroy(); }

    // Turns the main loop until the panel's refresh has run and a frame
    // has been laid out and painted after it.
    void settle() {
        spinUntil([] { return !g_main_context_pending(nullptr); }, 5s);
        long painted = 0;
        GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window.gobj()));
        const gulong handler = g_signal_connect(clock, "after-paint", G_CALLBACK(+[](GdkFrameClock*, gpointer count) {
                                                    ++*static_cast<long*>(count);
                                                }),
                                                &painted);
        window.queue_draw();
        spinUntil([&] { return painted > 0; }, 5s);
        g_signal_handler_disconnect(clock, handler);
        spinUntil([] { return !g_main_context_pending(nullptr); }, 5s);
    }

    Gtk::Widget* maybe(const std::string& name) { return findByName(window, name); }

    template <typename W>
    W& find(const std::string& name) {
        auto* widget = dynamic_cast<W*>(maybe(name));
        if (!widget) throw std::runtime_error("no widget named " + name);
        return *widget;
    }

    // The group of the input at a position from 1, and a widget inside it.
    Gtk::Widget& group(int position) { return find<Gtk::Widget>(QueueView::rowPrefix + std::to_string(position)); }
    template <typename W>
    W* in(int position, const char* name) {
        return dynamic_cast<W*>(findByName(group(position), name));
    }

    // The rows the list holds now.
    guint rows() { return g_list_model_get_n_items(G_LIST_MODEL(view->list().get_model()->gobj())); }
};

// A click, as the button reports it.
void press(Gtk::Button& button) {
    ASSERT_TRUE(button.get_sensitive()) << button.get_name();
    g_signal_emit_by_name(button.gobj(), "clicked");
}

bool shown(Gtk::Widget* widget) { return widget && widget->is_visible() && widget->get_mapped(); }

// A part of a row that an input shows, made or not; a row makes its move
// buttons and its error only when an input first shows them.
bool visible(Gtk::Widget* widget) { return widget && widget->is_visible(); }

// Every label text under a widget, depth first.
void texts(Gtk::Widget& root, std::vector<std::string>& out) {
    if (auto* label = dynamic_cast<Gtk::Label*>(&root); label && label->is_visible()) out.push_back(label->get_text());
    for (auto* child = root.get_first_child(); child; child = child->get_next_sibling()) texts(*child, out);
}

std::vector<std::string> failedTexts(PanelWindow& w, int position) {
    std::vector<std::string> found;
    std::vector<std::string> all;
    texts(w.group(position), all);
    for (const auto& text : all) {
        if (text.find("ページ：") != std::string::npos) found.push_back(text);
    }
    return found;
}

// The row of a page failed by the engine's `failPages`.
std::string injected(int64_t page) {
    return std::to_string(page) + "ページ：" + BrindlexError::message(ErrorCase::injectedFailure);
}

// The queue of the documents, opened unrun in the controller with the
// engine configured by the fixed recogniser (not the controller's ports).
std::shared_ptr<OCRQueueEngine> openFixed(QueueController& c,
                                          const std::vector<std::filesystem::path>& files,
                                          const std::map<std::size_t, std::set<int64_t>>& fail = {}) {
    std::vector<OCRQueueEngine::InputFile> inputs;
    for (const auto& file : files) inputs.push_back({file});
    std::shared_ptr<OCRQueueEngine> engine = OCRQueueEngine::create(inputs, OCRSettings{}, c.parent);
    fakeRecognition().configure(*engine);
    if (!fail.empty()) {
        std::map<UUID, std::set<int64_t>> failPages;
        for (const auto& [index, pages] : fail) failPages[engine->snapshot().inputs[index].id] = pages;
        JobControl control;
        engine->run(control, false, {}, failPages, [](const QueueSnapshot&) {});
    }
    c.engine = engine;
    c.snapshot = engine->snapshot();
    c.selectedID = c.snapshot->value().inputs.front().id;
    c.page = 1;
    return engine;
}

TEST(QueueView, WithoutAQueueOnlyTheAddRunAndExportRowsShow) {
    ControllerRoots roots;
    auto c = roots.controller();
    PanelWindow w(c);
    EXPECT_EQ(w.rows(), 3u);
    EXPECT_TRUE(shown(w.maybe(QueueView::chooseName)));
    EXPECT_TRUE(shown(w.maybe(QueueView::exportWholeName)));
    for (const char* absent : {QueueView::countsName, QueueView::noteName, QueueView::savedName,
                               QueueView::rejectionName, QueueView::candidatesTitleName, QueueView::retryFailedName}) {
        EXPECT_EQ(w.maybe(absent), nullptr) << absent;
    }
    EXPECT_FALSE(w.find<Gtk::Button>(QueueView::stopListingName).is_visible());
    for (const char* off : {QueueView::startName, QueueView::restartName, QueueView::pauseName,
                            QueueView::cancelName}) {
        EXPECT_FALSE(w.find<Gtk::Widget>(off).get_sensitive()) << off;
    }
    EXPECT_TRUE(w.find<Gtk::Widget>(QueueView::orderName).get_sensitive());
    // The status is the pane's line under the panel, said once.
    EXPECT_EQ(w.maybe("queue.status"), nullptr);
    EXPECT_EQ(w.find<Gtk::Button>(QueueView::chooseName).get_label(), "ファイルを追加");

    // The bound controls write their field on the user's change and follow
    // the field when the controller changes it.
    auto& order = w.find<Gtk::DropDown>(QueueView::orderName);
    order.set_selected(1);
    EXPECT_FALSE(c->automatic.get());
    c->automatic = true;
    w.settle();
    EXPECT_EQ(order.get_selected(), 0u);
    EXPECT_TRUE(c->automatic.get());
    auto& oneFile = w.find<Gtk::DropDown>(QueueView::exportOneFileName);
    EXPECT_EQ(oneFile.get_selected(), 0u);
    oneFile.set_selected(1);
    EXPECT_FALSE(c->exportOneFile.get());
    auto& whole = w.find<Gtk::CheckButton>(QueueView::exportWholeName);
    whole.set_active(true);
    EXPECT_TRUE(c->exportWholeQueue.get());
    c->exportWholeQueue = false;
    c->folderRecursive = true;
    w.settle();
    EXPECT_FALSE(whole.get_active());
    EXPECT_TRUE(w.find<Gtk::CheckButton>(QueueView::recursiveName).get_active());

    // "一覧を閉じる" closes the panel through the controller.
    c->processingList = true;
    press(w.find<Gtk::Button>(QueueView::closeName));
    EXPECT_FALSE(c->processingList.get());
}

TEST(QueueView, DuringARunOnlyStoppingSelectingAndMovingStayEnabled) {
    ControllerRoots roots;
    PageGate gate;
    gate.passOnStop = true;
    auto c = roots.controller(gate.ports());
    // The first input already ran with a failed page; two wait.
    auto engine = openFixed(*c, {writeDocument(roots.tmp / "a.pdf", 2)}, {{0, {2}}});
    engine->append({{writeDocument(roots.tmp / "b.pdf", 2)}, {writeDocument(roots.tmp / "c.pdf", 1)}},
                   OCRSettings{}, QueuePresentation{});
    c->ports().configure(*engine);
    c->snapshot = engine->snapshot();
    PanelWindow w(c);
    ASSERT_EQ(failedTexts(w, 1), std::vector<std::string>{injected(2)});
    EXPECT_TRUE(w.find<Gtk::Button>(QueueView::retryFailedName).get_sensitive());

    press(w.find<Gtk::Button>(QueueView::startName));
    EXPECT_TRUE(c->managedQueue.get());
    ASSERT_TRUE(spinUntil([&] { return c->busy.get(); }));
    ASSERT_TRUE(gate.held(1));
    w.settle();
    for (const char* off : {QueueView::orderName, QueueView::startName, QueueView::restartName,
                            QueueView::retryFailedName}) {
        EXPECT_FALSE(w.find<Gtk::Widget>(off).get_sensitive()) << off;
    }
    EXPECT_FALSE(w.in<Gtk::Button>(1, QueueView::retryPageName)->get_sensitive());
    EXPECT_TRUE(w.find<Gtk::Widget>(QueueView::pauseName).get_sensitive());
    EXPECT_TRUE(w.find<Gtk::Widget>(QueueView::cancelName).get_sensitive());
    // The second input is the one running.
    auto* running = w.in<ProgressColumns>(2, QueueView::progressName);
    ASSERT_NE(running, nullptr);
    EXPECT_EQ(running->pages(), "0 / 2");
    EXPECT_EQ(running->state(), "処理中");
    EXPECT_EQ(running->fraction(), 0.0);

    // Rows stay selectable and the move buttons follow; the controller
    // decides that a running input does not move.
    press(*w.in<Gtk::Button>(2, QueueView::inputName));
    w.settle();
    EXPECT_EQ(c->selectedID.get(), c->snapshot->value().inputs[1].id);
    auto* down = w.in<Gtk::Button>(2, QueueView::downName);
    ASSERT_TRUE(down && down->is_visible());
    EXPECT_FALSE(visible(w.in<Gtk::Widget>(1, QueueView::downName)));
    press(*down);
    EXPECT_EQ(c->snapshot->value().inputs[1].path, (roots.tmp / "b.pdf").string());
    EXPECT_EQ(c->status.get(), "未開始の待機項目だけ移動できます。");

    press(w.find<Gtk::Button>(QueueView::pauseName));
    EXPECT_EQ(c->status.get(), "一時停止を受付中。実行中ページの確定を待っています");
    w.settle();
    ASSERT_TRUE(spinUntil([&] { return !c->busy.get(); }, 20s));
    w.settle();
    EXPECT_EQ(c->snapshot->value().status, QueueStatus::paused);
    for (const char* on : {QueueView::orderName, QueueView::startName, QueueView::restartName,
                           QueueView::retryFailedName}) {
        EXPECT_TRUE(w.find<Gtk::Widget>(on).get_sensitive()) << on;
    }
    EXPECT_FALSE(w.find<Gtk::Widget>(QueueView::pauseName).get_sensitive());
    EXPECT_FALSE(w.find<Gtk::Widget>(QueueView::cancelName).get_sensitive());
    EXPECT_TRUE(w.in<Gtk::Button>(1, QueueView::retryPageName)->get_sensitive());
    gate.open();
}

TEST(QueueView, RowsNumberSelectMoveAndRetryTheirFailedPages) {
    ControllerRoots roots;
    auto c = roots.controller();
    roots.openRunQueue(*c, {3}, OCRSettings{}, {{0, {1, 3}}});
    auto engine = c->engine;
    engine->append({{roots.tmp / "later-1.png"}, {roots.tmp / "later-2.png"}}, OCRSettings{}, QueuePresentation{});
    c->snapshot = engine->snapshot();
    PanelWindow w(c);

    EXPECT_EQ(w.find<Gtk::Label>(QueueView::countsName).get_text(),
              "全体3ページ：成功1／失敗2／処理中0／未処理0／スキップ0・ページ数不明2ファイル");
    EXPECT_EQ(w.find<Gtk::Label>(QueueView::noteName).get_text(), "通常キュー：確定結果と編集を保存");
    EXPECT_EQ(w.in<Gtk::Button>(1, QueueView::inputName)->get_label(), "1. doc1.pdf");
    EXPECT_EQ(w.in<Gtk::Button>(3, QueueView::inputName)->get_label(), "3. later-2.png");
    EXPECT_EQ(w.in<ProgressColumns>(2, QueueView::progressName)->pages(), "0 / 不明");
    EXPECT_EQ(w.in<ProgressColumns>(2, QueueView::progressName)->state(), "未処理");
    // A count not yet known shows an empty bar.
    EXPECT_EQ(w.in<ProgressColumns>(2, QueueView::progressName)->fraction(), 0.0);
    EXPECT_EQ(w.in<ProgressColumns>(1, QueueView::progressName)->pages(), "1 / 3");
    EXPECT_EQ(w.in<ProgressColumns>(1, QueueView::progressName)->state(), "処理終了");
    // The first row is in sight: its bar is the toolkit's, showing the pages done.
    ASSERT_NE(w.in<Gtk::ProgressBar>(1, QueueView::progressBarName), nullptr);
    EXPECT_NEAR(w.in<Gtk::ProgressBar>(1, QueueView::progressBarName)->get_fraction(), 1.0 / 3, 1e-9);
    EXPECT_EQ(failedTexts(w, 1), (std::vector<std::string>{injected(1), injected(3)}));
    EXPECT_TRUE(failedTexts(w, 2).empty());

    // The columns line up from row to row whatever the names' lengths, and
    // a failed page's row stands indented under its input.
    w.settle();
    // The panel is 230 high: scrolled until the second input is in sight
    // below the first.
    auto v = w.view->get_vadjustment();
    for (int step = 0; step < 40 && w.group(2).get_width() == 0; ++step) {
        v->set_value(v->get_value() + 10);
        w.settle();
    }
    ASSERT_GT(w.group(1).get_width(), 0);
    ASSERT_GT(w.group(2).get_width(), 0);
    // The second row came into sight with its bar.
    ASSERT_NE(w.in<Gtk::ProgressBar>(2, QueueView::progressBarName), nullptr);
    EXPECT_EQ(w.in<Gtk::ProgressBar>(2, QueueView::progressBarName)->get_fraction(), 0.0);
    for (const char* column : {QueueView::progressName, QueueView::progressBarName}) {
        double x1 = 0, x2 = 0, y = 0;
        ASSERT_TRUE(w.in<Gtk::Widget>(1, column)->translate_coordinates(w.group(1), 0, 0, x1, y)) << column;
        ASSERT_TRUE(w.in<Gtk::Widget>(2, column)->translate_coordinates(w.group(2), 0, 0, x2, y)) << column;
        EXPECT_GT(x1, 0) << column;
        EXPECT_EQ(x1, x2) << column;
    }
    double inputX = 0, retryX = 0, inputY = 0, retryY = 0;
    ASSERT_TRUE(w.in<Gtk::Widget>(1, QueueView::inputName)->translate_coordinates(*w.view, 0, 0, inputX, inputY));
    ASSERT_TRUE(w.in<Gtk::Widget>(1, QueueView::failedPageName)->translate_coordinates(*w.view, 0, 0, retryX, retryY));
    EXPECT_GT(retryX, inputX);
    EXPECT_GT(retryY, inputY);

    // The first input is selected: it alone has the move buttons and the mark.
    auto* first = w.in<Gtk::Button>(1, QueueView::inputName);
    EXPECT_TRUE(first->has_css_class(QueueView::selectedClass));
    EXPECT_TRUE(visible(w.in<Gtk::Widget>(1, QueueView::upName)));
    EXPECT_FALSE(visible(w.in<Gtk::Widget>(2, QueueView::upName)));

    press(*w.in<Gtk::Button>(2, QueueView::inputName));
    w.settle();
    EXPECT_EQ(c->selectedID.get(), c->snapshot->value().inputs[1].id);
    EXPECT_FALSE(first->has_css_class(QueueView::selectedClass));
    EXPECT_TRUE(w.in<Gtk::Button>(2, QueueView::inputName)->has_css_class(QueueView::selectedClass));
    EXPECT_FALSE(visible(w.in<Gtk::Widget>(1, QueueView::upName)));
    EXPECT_TRUE(visible(w.in<Gtk::Widget>(2, QueueView::downName)));

    // "下へ" exchanges it with the waiting input below; the selection moves
    // with it to the third row.
    press(*w.in<Gtk::Button>(2, QueueView::downName));
    w.settle();
    EXPECT_EQ(w.in<Gtk::Button>(2, QueueView::inputName)->get_label(), "2. later-2.png");
    EXPECT_EQ(w.in<Gtk::Button>(3, QueueView::inputName)->get_label(), "3. later-1.png");
    EXPECT_TRUE(visible(w.in<Gtk::Widget>(3, QueueView::upName)));
    EXPECT_FALSE(visible(w.in<Gtk::Widget>(2, QueueView::upName)));

    // Retrying page 1 alone leaves page 3 failed.
    auto* retry = w.in<Gtk::Button>(1, QueueView::retryPageName);
    ASSERT_NE(retry, nullptr);
    press(*retry);
    ASSERT_TRUE(spinUntil([&] {
        return !c->busy.get() && c->snapshot->value().inputs[0].pages[0].state == PageState::completed;
    }, 20s));
    w.settle();
    EXPECT_EQ(c->snapshot->value().inputs[0].pages[2].state, PageState::failed);
    EXPECT_EQ(failedTexts(w, 1), std::vector<std::string>{injected(3)});

    // An input that fails shows its error in orange.
    c->snapshot = [&] {
        QueueSnapshot s = c->snapshot->value();
        s.inputs[1].error = ErrorCase::sourceMissing;
        return s;
    }();
    w.settle();
    auto* error = w.in<Gtk::Label>(2, QueueView::errorName);
    ASSERT_TRUE(error && error->is_visible());
    EXPECT_EQ(error->get_text().raw(), BrindlexError::message(ErrorCase::sourceMissing));
    EXPECT_TRUE(error->has_css_class(QueueView::errorClass));
    EXPECT_FALSE(visible(w.in<Gtk::Widget>(1, QueueView::errorName)));

    // Retrying every failed page runs the rest; none is left to retry.
    press(w.find<Gtk::Button>(QueueView::retryFailedName));
    ASSERT_TRUE(spinUntil([&] { return !c->busy.get() && c->snapshot->value().failedPages() == 0; }, 20s));
    w.settle();
    EXPECT_EQ(c->snapshot->value().failedPages(), 0);
    EXPECT_EQ(w.maybe(QueueView::retryFailedName), nullptr);
    EXPECT_TRUE(failedTexts(w, 1).empty());
}

TEST(QueueView, AQueueWithAPrivateInputSaysItLivesInMemory) {
    RunRoots roots;
    auto c = roots.controller();
    RunRoots::openInMemory(*c, {{writeDocument(roots.tmp / "secret.pdf", 1), InputOrigin::privateSession}});
    PanelWindow w(c);
    EXPECT_EQ(w.find<Gtk::Label>(QueueView::noteName).get_text(),
              "メモリ限定：終了後は再開できません。明示保存TXT・コピーは残ります。");
    EXPECT_TRUE(w.find<Gtk::Label>(QueueView::noteName).has_css_class("caption"));
}

TEST(QueueView, FolderListingsStopAddAndDrop) {
    ControllerRoots roots;
    auto picker = std::make_shared<FakeFilePicker>();
    QueuePorts ports = fakeRecognition();
    ports.filePicker = picker;
    auto c = roots.controller(ports);
    PanelWindow w(c);

    // While a listing walks: no second one, and the stop button between
    // the toggle and "一覧を閉じる".
    c->folderListing = true;
    w.settle();
    auto& stop = w.find<Gtk::Button>(QueueView::stopListingName);
    EXPECT_TRUE(stop.is_visible());
    EXPECT_FALSE(w.find<Gtk::Widget>(QueueView::folderName).get_sensitive());
    EXPECT_EQ(w.find<Gtk::Widget>(QueueView::recursiveName).get_next_sibling(), &stop);
    EXPECT_EQ(stop.get_next_sibling(), &w.find<Gtk::Widget>(QueueView::closeName));
    auto control = c->folderControl;
    press(stop);
    EXPECT_EQ(control->stop(), JobControl::Stop::cancel);
    c->folderListing = false;
    w.settle();
    EXPECT_FALSE(stop.is_visible());

    // A listing of one file.
    std::filesystem::create_directories(roots.tmp / "scans");
    writeDocument(roots.tmp / "scans" / "見積書.pdf", 1);
    std::ofstream(roots.tmp / "scans" / "notes.txt") << "not an original";
    picker->folder = roots.tmp / "scans";
    press(w.find<Gtk::Button>(QueueView::folderName));
    ASSERT_TRUE(spinUntil([&] { return c->folderCandidates->size() == 1 && !c->folderListing.get(); }));
    w.settle();
    EXPECT_EQ(w.find<Gtk::Label>(QueueView::candidatesTitleName).get_text(), "追加予定 1件（まだ処理していません）");
    EXPECT_EQ(w.find<Gtk::Label>(QueueView::candidateName).get_text(), "見積書.pdf");
    // The listing sits between the add row and the run row: its title, its
    // line, and its two answers side by side on one row.
    EXPECT_EQ(w.rows(), 3u + 3u);
    double addX = 0, addY = 0, dropX = 0, dropY = 0;
    ASSERT_TRUE(w.find<Gtk::Widget>(QueueView::addCandidatesName).translate_coordinates(*w.view, 0, 0, addX, addY));
    ASSERT_TRUE(w.find<Gtk::Widget>(QueueView::dropCandidatesName).translate_coordinates(*w.view, 0, 0, dropX, dropY));
    EXPECT_EQ(addY, dropY);
    EXPECT_GT(dropX, addX);

    // "追加を取消" drops it.
    press(w.find<Gtk::Button>(QueueView::dropCandidatesName));
    EXPECT_TRUE(c->folderCandidates->empty());
    EXPECT_EQ(c->engine, nullptr);
    w.settle();
    EXPECT_EQ(w.maybe(QueueView::candidatesTitleName), nullptr);
    EXPECT_EQ(w.rows(), 3u);

    // Added to a full queue: the list empties and the refusal shows.
    std::vector<OCRQueueEngine::InputFile> full;
    for (int i = 0; i < 5000; ++i) full.push_back({roots.tmp / "gone" / (std::to_string(i) + ".png")});
    roots.openQueue(*c, full, c->currentSettings(), false);
    press(w.find<Gtk::Button>(QueueView::folderName));
    ASSERT_TRUE(spinUntil([&] { return c->folderCandidates->size() == 1 && !c->folderListing.get(); }));
    w.settle();
    press(w.find<Gtk::Button>(QueueView::addCandidatesName));
    EXPECT_TRUE(c->folderCandidates->empty());
    ASSERT_TRUE(spinUntil([&] { return !c->importing.get() && c->status.get() != "1件の一覧を確認してから追加してください。"; }));
    w.settle();
    EXPECT_EQ(c->status.get(), BrindlexError::message(ErrorCase::budgetExceeded));
    // The status line ends the list.
    auto v = w.view->get_vadjustment();
    v->set_value(v->get_upper());
    w.settle();
    EXPECT_EQ(c->snapshot->value().inputs.size(), 5000u);
    EXPECT_EQ(w.maybe(QueueView::candidatesTitleName), nullptr);
}

TEST(QueueView, RestartAsksForAManagedQueueAndCancelLeavesEverything) {
    ControllerRoots roots;
    Gtk::Window* owner = nullptr;
    auto c = roots.controller(fakeRecognition(gtkQueuePorts([&] { return owner; })));
    roots.openRunQueue(*c, {1}, OCRSettings{});
    c->managedQueue = true;
    PanelWindow w(c);
    owner = &w.window;
    const auto engine = c->engine;
    const QueueSnapshot before = c->snapshot->value();
    const std::string status = c->status.get();

    press(w.find<Gtk::Button>(QueueView::restartName));
    const std::string question = "別の試行として最初から処理しますか？";
    auto asking = [&]() -> Gtk::MessageDialog* {
        for (auto* dialog : visibleWindowsOf<Gtk::MessageDialog>()) {
            if (dialog->property_text().get_value().raw() == question) return dialog;
        }
        return nullptr;
    };
    ASSERT_TRUE(spinUntil([&] { return asking() != nullptr; }));
    auto* cancel = dynamic_cast<Gtk::Button*>(findByName(*asking(), GtkQueueConfirmer::cancelName));
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->get_label(), "取消");
    press(*cancel);
    ASSERT_TRUE(spinUntil([&] { return asking() == nullptr; }));
    spinFor(50ms);
    EXPECT_EQ(c->engine, engine);
    EXPECT_EQ(c->snapshot->value(), before);
    EXPECT_EQ(c->status.get(), status);
    EXPECT_FALSE(c->busy.get());
}

TEST(QueueView, SavedQueuesAreListedChosenAndPutOff) {
    ControllerRoots roots;
    auto c = roots.controller();
    // Two queues kept on disk from earlier.
    for (const char* name : {"first.pdf", "second.pdf"}) {
        OCRQueueEngine::create({{writeDocument(roots.tmp / name, 1)}}, OCRSettings{}, c->parent);
    }
    c->refreshSaved();
    ASSERT_EQ(c->savedQueues->size(), 2u);
    PanelWindow w(c);
    auto& picker = w.find<Gtk::DropDown>(QueueView::savedName);
    auto model = std::dynamic_pointer_cast<Gtk::StringList>(picker.get_model());
    ASSERT_EQ(model->get_n_items(), 3u);
    EXPECT_EQ(model->get_string(0), "未選択");
    for (guint i = 1; i < 3; ++i) EXPECT_EQ(model->get_string(i).raw(), c->savedQueueLabel(c->savedQueues.get()[i - 1]));
    // The controller chose the newest; the user chooses none.
    EXPECT_EQ(picker.get_selected(), 1u);
    picker.set_selected(2);
    EXPECT_EQ(c->selectedSaved.get(), c->savedQueues.get()[1]);
    picker.set_selected(0);
    EXPECT_FALSE(c->selectedSaved->has_value());

    // With nothing chosen, loading is offered and does nothing.
    const std::string status = c->status.get();
    auto& load = w.find<Gtk::Button>(QueueView::loadSavedName);
    press(load);
    spinFor(50ms);
    EXPECT_EQ(c->engine, nullptr);
    EXPECT_EQ(c->status.get(), status);
    EXPECT_TRUE(w.find<Gtk::Widget>(QueueView::reselectName).get_sensitive());

    press(w.find<Gtk::Button>(QueueView::laterName));
    EXPECT_TRUE(c->recoveryDeferred.get());
    w.settle();
    EXPECT_EQ(c->status.get(), "再開候補を保持しました。処理は開始しません。");
    EXPECT_EQ(c->savedQueues->size(), 2u);
    EXPECT_NE(w.maybe(QueueView::savedName), nullptr);
}

TEST(QueueView, ARejectionIsAnsweredOnlyAsAllowed) {
    ControllerRoots roots;
    PageGate gate;
    gate.passOnStop = true;
    auto confirmer = std::make_shared<FakeConfirmer>();
    QueuePorts ports = gate.ports();
    ports.confirmer = confirmer;
    auto c = roots.controller(ports);
    PanelWindow w(c);

    // Without a candidate there is nothing to build a new trial of.
    c->rejection = QueueController::ResumeRejection{std::nullopt, c->parent / "gone", ErrorCase::damagedCheckpoint};
    w.settle();
    EXPECT_EQ(w.find<Gtk::Label>(QueueView::rejectionName).get_text(),
              BrindlexError::message(ErrorCase::damagedCheckpoint));
    EXPECT_TRUE(w.find<Gtk::Label>(QueueView::rejectionName).has_css_class(QueueView::errorClass));
    EXPECT_FALSE(w.find<Gtk::Widget>(QueueView::newTrialName).get_sensitive());

    // With one, declining the question keeps the rejection.
    auto engine = openFixed(*c, {writeDocument(roots.tmp / "a.pdf", 2)});
    c->ports().configure(*engine);
    c->rejection = QueueController::ResumeRejection{engine->snapshot(), c->parent / "old", ErrorCase::settingsChanged};
    w.settle();
    EXPECT_EQ(w.find<Gtk::Label>(QueueView::rejectionName).get_text(),
              BrindlexError::message(ErrorCase::settingsChanged));
    press(w.find<Gtk::Button>(QueueView::newTrialName));
    ASSERT_TRUE(spinUntil([&] { return confirmer->asked.size() == 1; }));
    EXPECT_EQ(confirmer->asked[0].message, "旧結果を保持して別の試行を作りますか？");
    spinFor(50ms);
    EXPECT_TRUE(c->rejection->has_value());
    EXPECT_EQ(c->engine, engine);

    // During a run, "再開を取消" changes nothing.
    c->managedQueue = true;
    spawn(c->start());
    ASSERT_TRUE(spinUntil([&] { return c->busy.get(); }));
    ASSERT_TRUE(gate.held(1));
    c->rejection = QueueController::ResumeRejection{engine->snapshot(), c->parent / "old", ErrorCase::settingsChanged};
    w.settle();
    EXPECT_FALSE(w.find<Gtk::Widget>(QueueView::newTrialName).get_sensitive());
    const std::string status = c->status.get();
    press(w.find<Gtk::Button>(QueueView::closeRejectionName));
    EXPECT_TRUE(c->rejection->has_value());
    EXPECT_EQ(c->engine, engine);
    EXPECT_EQ(c->status.get(), status);
    c->stop(JobControl::Stop::cancel);
    gate.open();
    ASSERT_TRUE(spinUntil([&] { return !c->busy.get(); }, 20s));

    // Idle, it lets the queue go.
    press(w.find<Gtk::Button>(QueueView::closeRejectionName));
    EXPECT_FALSE(c->rejection->has_value());
    EXPECT_EQ(c->engine, nullptr);
    EXPECT_EQ(c->status.get(), "再開を取消しました。新しい処理は開始していません。");
    w.settle();
    EXPECT_EQ(w.maybe(QueueView::rejectionName), nullptr);
    EXPECT_EQ(w.maybe(QueueView::countsName), nullptr);
}

// The list builds rows well beyond those in sight: a row makes its bar once
// it comes into sight, and only the selected input makes its move buttons.
TEST(QueueView, OnlyRowsInSightMakeTheirBars) {
    ControllerRoots roots;
    auto c = roots.controller();
    std::vector<OCRQueueEngine::InputFile> files;
    for (int i = 0; i < 40; ++i) files.push_back({roots.tmp / ("scan-" + std::to_string(i) + ".png")});
    roots.openQueue(*c, files, OCRSettings{}, false);
    c->selectedID = c->snapshot->value().inputs.front().id;
    PanelWindow w(c);

    // The rows in sight and those built out of sight, each checked; a row
    // that was in sight once keeps its bar.
    auto check = [&](int& inSight, int& outOfSight, bool seenBefore) {
        inSight = outOfSight = 0;
        for (int position = 1; position <= 40; ++position) {
            Gtk::Widget* group = w.maybe(QueueView::rowPrefix + std::to_string(position));
            if (!group) continue;
            auto* bar = dynamic_cast<Gtk::ProgressBar*>(findByName(*group, QueueView::progressBarName));
            if (group->get_mapped()) {
                ++inSight;
                ASSERT_NE(bar, nullptr) << position;
                EXPECT_TRUE(bar->get_mapped()) << position;
                EXPECT_EQ(bar->get_fraction(), 0.0) << position;
            } else {
                ++outOfSight;
                if (!seenBefore) {
                    EXPECT_EQ(bar, nullptr) << position;
                }
            }
            EXPECT_EQ(findByName(*group, QueueView::upName) != nullptr, position == 1) << position;
        }
    };
    int inSight = 0, outOfSight = 0;
    check(inSight, outOfSight, false);
    EXPECT_GT(inSight, 0);
    EXPECT_GT(outOfSight, 0);

    // Scrolled to the end, the rows that came into sight have theirs.
    auto v = w.view->get_vadjustment();
    v->set_value(v->get_upper() - v->get_page_size());
    w.settle();
    ASSERT_TRUE(shown(w.maybe(QueueView::rowPrefix + std::string("40"))));
    check(inSight, outOfSight, true);
    EXPECT_GT(inSight, 0);
}

TEST(QueueView, ATallQueueScrollsInsideTheMaximumHeightAndWideContentSideways) {
    ControllerRoots roots;
    auto c = roots.controller();
    PanelWindow w(c, 500, 700);
    const int shortHeight = w.view->get_height();
    EXPECT_LT(shortHeight, QueueView::maximumHeight);
    // At least the minimum width plus the margins: the window is narrower,
    // so the panel scrolls sideways.
    auto h = w.view->get_hadjustment();
    EXPECT_GE(h->get_upper(), QueueView::minimumContentWidth + 16);
    EXPECT_GT(h->get_upper(), h->get_page_size());

    std::vector<OCRQueueEngine::InputFile> files;
    for (int i = 0; i < 40; ++i) files.push_back({roots.tmp / ("scan-" + std::to_string(i) + ".png")});
    roots.openQueue(*c, files, OCRSettings{}, false);
    w.settle();
    EXPECT_LE(w.view->get_height(), QueueView::maximumHeight);
    EXPECT_GT(w.view->get_height(), shortHeight);
    auto v = w.view->get_vadjustment();
    EXPECT_GT(v->get_upper(), 3 * v->get_page_size());
    v->set_value(v->get_upper() - v->get_page_size());
    w.settle();
    // The end of the list is reachable: the export row is made and shown.
    EXPECT_TRUE(shown(w.maybe(QueueView::exportWholeName)));
    EXPECT_LE(w.view->get_height(), QueueView::maximumHeight);
    ASSERT_GT(v->get_value(), 0);
    // The focus on a control near the end, as after pressing it.
    w.find<Gtk::CheckButton>(QueueView::exportWholeName).grab_focus();
    w.settle();

    // Another queue opened: shown from the top, its toolbars in view.
    std::vector<OCRQueueEngine::InputFile> others;
    for (int i = 0; i < 40; ++i) others.push_back({roots.tmp / ("other-" + std::to_string(i) + ".png")});
    roots.openQueue(*c, others, OCRSettings{}, false);
    w.settle();
    EXPECT_EQ(v->get_value(), 0);
}

}  // namespace
