#include <gtest/gtest.h>

#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/MainLoop.hpp"
#include "support/web/WebTestServer.hpp"
#include "support/web/WebTestWindow.hpp"
#include "webcapture/BrowserSession.hpp"
#include "webcapture/PageDialogs.hpp"

using namespace velmora;
using namespace std::chrono_literals;
using test::runTask;
using test::spinFor;
using test::spinUntil;

namespace {

std::string page(const std::string& title, const std::string& body = "") {
    return "<!doctype html><html><head><meta charset=utf-8><title>" + title + "</title></head><body>" + body +
           "</body></html>";
}

std::vector<Gtk::Window*> shownWindows() {
    std::vector<Gtk::Window*> out;
    for (Gtk::Window* w : Gtk::Window::list_toplevels())
        if (w->get_visible()) out.push_back(w);
    return out;
}

// The page dialog on screen, if any.
Gtk::MessageDialog* shownDialog() {
    for (Gtk::Window* w : shownWindows())
        if (w->get_name() == PageDialogs::dialogName) return dynamic_cast<Gtk::MessageDialog*>(w);
    return nullptr;
}

Gtk::Widget* findNamed(Gtk::Widget* root, const std::string& name) {
    if (!root) return nullptr;
    if (std::string(root->get_name()) == name) return root;
    for (Gtk::Widget* child = root->get_first_child(); child; child = child->get_next_sibling())
        if (Gtk::Widget* found = findNamed(child, name)) return found;
    return nullptr;
}

void press(const char* name) {
    auto* button = dynamic_cast<Gtk::Button*>(findNamed(shownDialog(), name));
    ASSERT_NE(button, nullptr) << name;
    gtk_widget_activate(GTK_WIDGET(button->gobj()));
}

Gtk::Entry* field() { return dynamic_cast<Gtk::Entry*>(findNamed(shownDialog(), PageDialogs::entryName)); }

// A script the page runs until its dialogs are answered.
struct PageScript {
    test::Spawned<std::string> task;
    PageScript(WebKitWebView* view, std::string script) : task(test::evaluate(view, std::move(script))) {}
    std::string result() {
        EXPECT_TRUE(task.finish());
        if (task.out->error) std::rethrow_exception(task.out->error);
        return task.out->value.value_or("");
    }
};

Gtk::Label* messageLabel() { return dynamic_cast<Gtk::Label*>(findNamed(shownDialog(), PageDialogs::messageName)); }

// The page's message as the shown dialog has it.
std::string shownText() {
    Gtk::Label* label = messageLabel();
    return label ? std::string(label->get_text()) : std::string();
}

bool waitForDialog(const std::string& message) {
    return spinUntil([&] { return shownDialog() && shownText() == message; });
}

class PageDialogTest : public testing::Test {
protected:
    void SetUp() override {
        server_.html("/p", page("P"));
        session_ = std::make_unique<BrowserSession>(true);
        window_ = std::make_unique<test::WebTestWindow>(session_->frame());
        session_->navigate(server_.url("/p"));
        ASSERT_TRUE(spinUntil([&] { return session_->pageTitle == "P" && !session_->loading; }));
    }
    void TearDown() override {
        window_.reset();
        session_.reset();
        spinUntil([] { return !shownDialog(); }, 2s);
    }

    WebKitWebView* view() { return session_->webView(); }

    test::WebTestServer server_;
    std::unique_ptr<BrowserSession> session_;
    std::unique_ptr<test::WebTestWindow> window_;
};

}  // namespace

TEST_F(PageDialogTest, AlertConfirmAndPromptAnswerThroughOurDialog) {
    PageScript alert(view(), "alert('こんにちは'); 'after'");
    ASSERT_TRUE(waitForDialog("こんにちは"));
    Gtk::MessageDialog* dialog = shownDialog();
    EXPECT_EQ(dialog->property_text().get_value(), "Webページからのメッセージ（127.0.0.1）");
    EXPECT_TRUE(dialog->get_modal());
    EXPECT_EQ(dialog->get_transient_for(), &window_->window());
    EXPECT_NE(findNamed(dialog, PageDialogs::okName), nullptr);
    EXPECT_EQ(findNamed(dialog, PageDialogs::cancelName), nullptr) << "an alert has only OK";
    EXPECT_EQ(field(), nullptr);
    EXPECT_TRUE(session_->dialogCancel);
    press(PageDialogs::okName);
    EXPECT_EQ(alert.result(), "after");
    EXPECT_FALSE(session_->dialogCancel);
    ASSERT_TRUE(spinUntil([] { return !shownDialog(); }));

    // A confirm: OK is true; 取消, Escape and closing the dialog are false.
    {
        PageScript yes(view(), "String(confirm('続けますか'))");
        ASSERT_TRUE(waitForDialog("続けますか"));
        auto* cancel = dynamic_cast<Gtk::Button*>(findNamed(shownDialog(), PageDialogs::cancelName));
        ASSERT_NE(cancel, nullptr);
        EXPECT_EQ(cancel->get_label(), "取消");
        press(PageDialogs::okName);
        EXPECT_EQ(yes.result(), "true");
    }
    {
        PageScript no(view(), "String(confirm('取り消す'))");
        ASSERT_TRUE(waitForDialog("取り消す"));
        press(PageDialogs::cancelName);
        EXPECT_EQ(no.result(), "false");
    }
    {
        PageScript escape(view(), "String(confirm('エスケープ'))");
        ASSERT_TRUE(waitForDialog("エスケープ"));
        g_signal_emit_by_name(shownDialog()->gobj(), "close");  // what Escape does
        EXPECT_EQ(escape.result(), "false");
    }
    {
        PageScript closed(view(), "String(confirm('閉じる'))");
        ASSERT_TRUE(waitForDialog("閉じる"));
        gtk_window_close(GTK_WINDOW(shownDialog()->gobj()));
        EXPECT_EQ(closed.result(), "false");
    }

    // A prompt shows its default text; OK answers the field, even empty;
    // 取消 answers no text at all.
    {
        PageScript answer(view(), "JSON.stringify(prompt('名前は', '初期値'))");
        ASSERT_TRUE(waitForDialog("名前は"));
        ASSERT_NE(field(), nullptr);
        EXPECT_EQ(field()->get_text(), "初期値");
        int width = 0, height = 0;
        field()->get_size_request(width, height);
        EXPECT_EQ(width, 320);
        EXPECT_EQ(height, 24);
        field()->set_text("ベルモラ");
        press(PageDialogs::okName);
        EXPECT_EQ(answer.result(), "\"ベルモラ\"");
    }
    {
        PageScript empty(view(), "JSON.stringify(prompt('空'))");
        ASSERT_TRUE(waitForDialog("空"));
        EXPECT_EQ(field()->get_text(), "");
        press(PageDialogs::okName);
        EXPECT_EQ(empty.result(), "\"\"");
    }
    {
        PageScript cancelled(view(), "JSON.stringify(prompt('取消', 'x'))");
        ASSERT_TRUE(waitForDialog("取消"));
        press(PageDialogs::cancelName);
        EXPECT_EQ(cancelled.result(), "null");
    }
}

TEST_F(PageDialogTest, AnotherRequestAClosedSessionOrAViewInNoWindowIsAnsweredAtOnce) {
    PageScript first(view(), "String(confirm('最初'))");
    ASSERT_TRUE(waitForDialog("最初"));

    // The routine asked again while a dialog is shown answers at once.
    std::vector<PageDialogResult> answers;
    for (auto kind : {PageDialogKind::alert, PageDialogKind::confirm, PageDialogKind::prompt})
        session_->runPageDialog({kind, "二つ目", "既定"}, [&](PageDialogResult r) { answers.push_back(r); });
    ASSERT_EQ(answers.size(), 3u);
    for (const auto& a : answers) {
        EXPECT_FALSE(a.accepted);
        EXPECT_FALSE(a.text.has_value());
    }
    EXPECT_EQ(shownText(), "最初");

    // Shutdown answers the shown dialog "otherwise" and takes it away.
    session_->shutdown();
    EXPECT_EQ(first.result(), "false");
    EXPECT_FALSE(session_->dialogCancel);
    ASSERT_TRUE(spinUntil([] { return !shownDialog(); }));

    // A view no window shows gets its answer at once.
    BrowserSession loose(true);
    loose.navigate(server_.url("/p"));
    ASSERT_TRUE(spinUntil([&] { return loose.pageTitle == "P" && !loose.loading; }));
    EXPECT_EQ(runTask(test::evaluate(loose.webView(), "JSON.stringify([confirm('a'), prompt('b', 'c')])")),
              "[false,null]");
    EXPECT_FALSE(shownDialog());
}

TEST_F(PageDialogTest, AClosedPageKeptAliveGetsEveryAnswerAtOnce) {
    auto old = GObjectRef<WebKitWebView>::ref(view());
    session_->shutdown();
    // Without our closing rules the engine would hold the page in its own
    // dialog, and this would never return.
    EXPECT_EQ(runTask(test::evaluate(old.get(), "alert('x'); JSON.stringify([confirm('a'), prompt('b', 'c')])")),
              "[false,null]");
    EXPECT_FALSE(shownDialog());
}

TEST_F(PageDialogTest, HostilePagesCannotFloodFreezeOrStyleTheDialog) {
    // A thousand alerts come one at a time; shutting down at the third ends
    // them all, and the page runs on without any dialog.
    auto old = GObjectRef<WebKitWebView>::ref(view());
    PageScript flood(old.get(), "let i = 0; for (; i < 1000; i++) alert('n' + i); String(i)");
    for (int n = 0; n < 3; ++n) {
        ASSERT_TRUE(waitForDialog("n" + std::to_string(n)));
        int dialogs = 0;
        for (Gtk::Window* w : shownWindows()) dialogs += w->get_name() == PageDialogs::dialogName;
        EXPECT_EQ(dialogs, 1);
        if (n < 2) press(PageDialogs::okName);
    }
    session_->shutdown();
    EXPECT_EQ(flood.result(), "1000");
    ASSERT_TRUE(spinUntil([] { return !shownDialog(); }));
    spinFor(100ms);
    EXPECT_FALSE(shownDialog());
}

TEST_F(PageDialogTest, LongAndMarkedUpMessagesAreShownAsPlainCutText) {
    // About 5 MB: the dialog shows the first 10,000 characters and "…".
    PageScript huge(view(), "alert('あ'.repeat(1750000)); 'answered'");
    std::string expected;
    for (int i = 0; i < 10000; ++i) expected += "あ";
    expected += "…";
    ASSERT_TRUE(waitForDialog(expected));
    press(PageDialogs::okName);
    EXPECT_EQ(huge.result(), "answered");

    PageScript markup(view(), "alert('<b>x</b>')");
    ASSERT_TRUE(waitForDialog("<b>x</b>"));
    EXPECT_FALSE(messageLabel()->get_use_markup());
    EXPECT_FALSE(shownDialog()->property_use_markup().get_value());
    press(PageDialogs::okName);
    markup.result();

    // Clusters, not bytes or code points: a family emoji is one character.
    std::string family = "👨‍👩‍👧";
    std::string many;
    for (int i = 0; i < 10001; ++i) many += family;
    std::string cut = PageDialogs::shownMessage(many);
    EXPECT_EQ(cut.size(), family.size() * 10000 + std::string("…").size());
    EXPECT_EQ(PageDialogs::shownMessage(many.substr(0, family.size() * 10000)), many.substr(0, family.size() * 10000));
    EXPECT_EQ(PageDialogs::heading("about:blank"), "Webページからのメッセージ");
}

TEST_F(PageDialogTest, PrintPermissionsAndLeavingThePageAskNothing) {
    EXPECT_EQ(runTask(test::callAsync(view(), "return await new Promise(r => navigator.geolocation.getCurrentPosition("
                                              "() => r('granted'), e => r('denied ' + e.code)))")),
              "denied 1");
    EXPECT_EQ(runTask(test::callAsync(view(), "return await Notification.requestPermission()")), "denied");

    // The engine's own print dialog would hold the page (and this test)
    // until someone answered it.
    const std::size_t before = shownWindows().size();
    EXPECT_EQ(runTask(test::evaluate(view(), "window.print(); 'printed'")), "printed");
    spinFor(300ms);
    EXPECT_EQ(shownWindows().size(), before) << "no print dialog";

    // A page that asks before it is left: navigating away and shutting down
    // go on without asking.
    server_.html("/stay", page("stay", "<script>addEventListener('beforeunload', e => { e.preventDefault(); "
                                       "e.returnValue = 'stay'; return 'stay' })</script>"));
    server_.html("/next", page("next"));
    session_->navigate(server_.url("/stay"));
    ASSERT_TRUE(spinUntil([&] { return session_->pageTitle == "stay" && !session_->loading; }));
    runTask(test::evaluate(view(), "document.body.click()"));  // the user has touched the page
    session_->navigate(server_.url("/next"));
    ASSERT_TRUE(spinUntil([&] { return session_->pageTitle == "next" && !session_->loading; }));
    EXPECT_FALSE(shownDialog());
    session_->navigate(server_.url("/stay"));
    ASSERT_TRUE(spinUntil([&] { return session_->pageTitle == "stay" && !session_->loading; }));
    runTask(test::evaluate(view(), "document.body.click()"));
    session_->shutdown();
    spinFor(200ms);
    EXPECT_FALSE(shownDialog());
}

TEST_F(PageDialogTest, AWrappedMessageShowsThePagesTextWithoutACharacterAdded) {
    // One word of 3,000 letters: it is broken across many lines, and no
    // line ends in a hyphen the page never sent.
    PageScript longWord(view(), "alert('x'.repeat(3000)); 'answered'");
    const std::string expected(3000, 'x');
    ASSERT_TRUE(waitForDialog(expected));
    Gtk::Label* label = messageLabel();
    ASSERT_TRUE(spinUntil([&] { return label->get_mapped() && label->get_width() > 0; }));
    PangoLayout* layout = gtk_label_get_layout(GTK_LABEL(label->gobj()));
    EXPECT_GT(pango_layout_get_line_count(layout), 10);
    // Every glyph drawn stands for one character of the text: a hyphen
    // added at a break would be a glyph more.
    int glyphs = 0;
    PangoLayoutIter* lines = pango_layout_get_iter(layout);
    do {
        if (PangoLayoutRun* run = pango_layout_iter_get_run_readonly(lines)) glyphs += run->glyphs->num_glyphs;
    } while (pango_layout_iter_next_run(lines));
    pango_layout_iter_free(lines);
    EXPECT_EQ(glyphs, 3000);
    EXPECT_EQ(std::string(pango_layout_get_text(layout)), expected);
    press(PageDialogs::okName);
    EXPECT_EQ(longWord.result(), "answered");

    // A question: "取消" on the left, "OK" on the right, the default, in the
    // theme's suggested style.
    PageScript question(view(), "String(confirm('続けますか'))");
    ASSERT_TRUE(waitForDialog("続けますか"));
    auto* ok = dynamic_cast<Gtk::Button*>(findNamed(shownDialog(), PageDialogs::okName));
    auto* cancel = dynamic_cast<Gtk::Button*>(findNamed(shownDialog(), PageDialogs::cancelName));
    ASSERT_TRUE(ok && cancel);
    EXPECT_TRUE(ok->has_css_class("suggested-action"));
    EXPECT_FALSE(cancel->has_css_class("suggested-action"));
    // Once the dialog is laid out, the way back stands left of the answer.
    const auto leftOf = [&] {
        graphene_rect_t okBounds{}, cancelBounds{};
        GtkWidget* dialog = GTK_WIDGET(shownDialog()->gobj());
        return ok->get_width() > 0 && cancel->get_width() > 0 &&
               gtk_widget_compute_bounds(GTK_WIDGET(ok->gobj()), dialog, &okBounds) &&
               gtk_widget_compute_bounds(GTK_WIDGET(cancel->gobj()), dialog, &cancelBounds) &&
               cancelBounds.origin.x + cancelBounds.size.width <= okBounds.origin.x;
    };
    EXPECT_TRUE(spinUntil(leftOf));
    // Return gives the default: OK.
    gtk_widget_activate_default(GTK_WIDGET(shownDialog()->gobj()));
    EXPECT_EQ(question.result(), "true");
}
