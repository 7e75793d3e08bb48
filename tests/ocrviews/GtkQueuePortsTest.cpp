#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gdkmm/clipboard.h>
#include <gdkmm/display.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/window.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "ocrviews/GtkQueuePorts.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/gui/GuiHelpers.hpp"

// The queue controller's ports on real dialogs: answered through their own
// buttons and keys, the file chooser through the dialog GTK shows without a
// portal.

using namespace velmora;
namespace fs = std::filesystem;

namespace {

Gtk::MessageDialog* openQuestion() {
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->get_visible() && w->get_name() == GtkQueueConfirmer::dialogName) {
            return dynamic_cast<Gtk::MessageDialog*>(w);
        }
    }
    return nullptr;
}

void labelTexts(Gtk::Widget& root, std::vector<std::string>& out) {
    if (auto* label = dynamic_cast<Gtk::Label*>(&root); label && label->get_visible()) out.push_back(label->get_text());
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        labelTexts(*child, out);
    }
}

// Every button under root, in tree order.
void buttons(Gtk::Widget& root, std::vector<Gtk::Button*>& out) {
    if (auto* button = dynamic_cast<Gtk::Button*>(&root)) out.push_back(button);
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) buttons(*child, out);
}

// Counts the resumptions of the wait it forwards.
Task<bool> counted(Task<bool> question, int& resumed) {
    const bool answer = co_await question;
    ++resumed;
    co_return answer;
}

Gtk::Window* chooserWindow() {
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->get_visible() && GTK_IS_FILE_CHOOSER(w->gobj())) return w;
    }
    return nullptr;
}

GtkWidget* responseButton(Gtk::Window* window, int response) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    return gtk_dialog_get_widget_for_response(GTK_DIALOG(window->gobj()), response);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

}  // namespace

TEST(GtkQueueConfirmer, CancelIsFirstAndDefaultAndEveryAnswerResumesOnce) {
    Gtk::Window owner;
    owner.present();
    int looked = 0;
    GtkQueueConfirmer confirmer([&]() -> Gtk::Window* {
        ++looked;
        return &owner;
    });
    const std::string message = "別の原稿を開きますか？";
    const std::string informative = "未保存の編集があります。<b>太字ではない</b>";

    const std::vector<std::pair<std::string, bool>> answers{
        {"default", false}, {"confirm", true}, {"cancel", false}, {"escape", false}, {"close", false}, {"destroy", false}};
    for (const auto& [how, expected] : answers) {
        int resumed = 0;
        const AnswerAhead ahead = how == "confirm" ? AnswerAhead::destructive : AnswerAhead::suggested;
        test::Spawned<bool> asked(counted(confirmer.confirm(message, informative, "開く", ahead), resumed));
        Gtk::MessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (dialog = openQuestion()) != nullptr; })) << how;
        EXPECT_EQ(dialog->get_transient_for(), &owner);
        EXPECT_TRUE(dialog->get_modal());
        std::vector<std::string> texts;
        labelTexts(*dialog, texts);
        EXPECT_NE(std::find(texts.begin(), texts.end(), message), texts.end()) << how;
        // The informative text is shown as written, never as markup.
        EXPECT_NE(std::find(texts.begin(), texts.end(), informative), texts.end()) << how;
        std::vector<Gtk::Button*> all;
        buttons(*dialog, all);
        ASSERT_EQ(all.size(), 2u);
        EXPECT_EQ(all[0]->get_label(), "取消");
        EXPECT_EQ(all[1]->get_label(), "開く");
        EXPECT_EQ(all[0]->get_name(), GtkQueueConfirmer::cancelName);
        // The way back plain, the answer ahead styled as asked.
        EXPECT_FALSE(all[0]->has_css_class("suggested-action") || all[0]->has_css_class("destructive-action"));
        EXPECT_EQ(all[1]->has_css_class("suggested-action"), ahead == AnswerAhead::suggested) << how;
        EXPECT_EQ(all[1]->has_css_class("destructive-action"), ahead == AnswerAhead::destructive) << how;
        EXPECT_TRUE(test::spinUntil([&] { return all[0]->has_focus(); })) << how;

        if (how == "default") gtk_widget_activate_default(GTK_WIDGET(dialog->gobj()));
        if (how == "confirm") all[1]->activate();
        if (how == "cancel") all[0]->activate();
        // Escape is bound to the dialog's keybinding signal "close".
        if (how == "escape") g_signal_emit_by_name(dialog->gobj(), "close");
        if (how == "close") dialog->close();
        if (how == "destroy") dialog->destroy();
        ASSERT_TRUE(asked.finish()) << how;
        EXPECT_EQ(*asked.out->value, expected) << how;
        test::spinFor(std::chrono::milliseconds(50));
        EXPECT_EQ(resumed, 1) << how;
        EXPECT_TRUE(test::spinUntil([] { return openQuestion() == nullptr; })) << how;
    }
    EXPECT_EQ(looked, 6);

    // A question whose task goes away takes its dialog with it.
    {
        test::Spawned<bool> abandoned(confirmer.confirm(message, informative, "開く", AnswerAhead::suggested));
        ASSERT_TRUE(test::spinUntil([] { return openQuestion() != nullptr; }));
    }
    EXPECT_TRUE(test::spinUntil([] { return openQuestion() == nullptr; }));
    owner.destroy();
}

// Each chooser says what it is for, and opens with room for the places
// column and its Japanese names.
TEST(GtkQueueFilePicker, EachChooserHasItsTitleAndOpensWithRoomForThePlaces) {
    test::TempDir tmp;
    Gtk::Window owner;
    owner.set_default_size(1240, 850);
    owner.present();
    GtkQueueFilePicker picker([&] { return &owner; });
    auto check = [&](auto asked, const char* title) {
        Gtk::Window* window = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (window = chooserWindow()) != nullptr && window->get_mapped(); }));
        EXPECT_EQ(window->get_title(), title);
        ASSERT_TRUE(test::spinUntil([&] { return window->get_width() >= 900 && window->get_height() >= 600; }))
            << title << " " << window->get_width() << "x" << window->get_height();
        std::vector<GtkWidget*> panes;
        std::function<void(GtkWidget*)> walk = [&](GtkWidget* w) {
            if (GTK_IS_PANED(w)) panes.push_back(w);
            for (GtkWidget* c = gtk_widget_get_first_child(w); c; c = gtk_widget_get_next_sibling(c)) walk(c);
        };
        walk(GTK_WIDGET(window->gobj()));
        ASSERT_FALSE(panes.empty()) << title;
        EXPECT_GE(gtk_paned_get_position(GTK_PANED(panes.front())), 200) << title;
        gtk_widget_activate(responseButton(window, GTK_RESPONSE_CANCEL));
        ASSERT_TRUE(asked.finish());
        EXPECT_TRUE(test::spinUntil([] { return chooserWindow() == nullptr; }));
    };
    check(test::Spawned<std::vector<fs::path>>(picker.openFiles(true, {FileKind::png, FileKind::jpeg, FileKind::pdf})),
          "OCRする原稿を選ぶ");
    check(test::Spawned<std::optional<fs::path>>(picker.chooseFolder()), "原稿のフォルダを選ぶ");
    check(test::Spawned<std::optional<fs::path>>(picker.chooseSaveFolder(tmp.path(), "このフォルダに保存", true)),
          "TXTの保存先を選ぶ");
    owner.destroy();
}

TEST(GtkQueueFilePicker, TheChooserGivesTheSelectedFilesOnAcceptAndNothingOnCancel) {
    test::TempDir tmp;
    const fs::path scan = tmp / "SCAN.PDF";
    test::writeFile(scan, "%PDF-1.4\n");
    Gtk::Window owner;
    owner.present();
    GtkQueueFilePicker picker([&] { return &owner; });

    {
        test::Spawned<std::vector<fs::path>> asked(picker.openFiles(true, {FileKind::png, FileKind::pdf}));
        Gtk::Window* window = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (window = chooserWindow()) != nullptr; }));
        EXPECT_EQ(window->get_transient_for(), &owner);
        EXPECT_TRUE(window->get_modal());
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(window->gobj());
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_OPEN);
        EXPECT_TRUE(gtk_file_chooser_get_select_multiple(chooser));
        GtkFileFilter* filter = gtk_file_chooser_get_filter(chooser);
        ASSERT_NE(filter, nullptr);
        // The filter's entry names the kinds it offers.
        ASSERT_NE(gtk_file_filter_get_name(filter), nullptr);
        EXPECT_STREQ(gtk_file_filter_get_name(filter), "PNG・PDF");
        GFile* file = g_file_new_for_path(scan.c_str());
        ASSERT_TRUE(gtk_file_chooser_set_file(chooser, file, nullptr));
        g_object_unref(file);
        G_GNUC_END_IGNORE_DEPRECATIONS
        ASSERT_TRUE(test::spinUntil([&] {
            G_GNUC_BEGIN_IGNORE_DEPRECATIONS
            GListModel* files = gtk_file_chooser_get_files(chooser);
            G_GNUC_END_IGNORE_DEPRECATIONS
            const bool one = g_list_model_get_n_items(files) == 1;
            g_object_unref(files);
            return one;
        }));
        gtk_widget_activate(responseButton(window, GTK_RESPONSE_ACCEPT));
        ASSERT_TRUE(asked.finish());
        ASSERT_FALSE(asked.out->error);
        EXPECT_EQ(*asked.out->value, std::vector<fs::path>{scan});
        EXPECT_TRUE(test::spinUntil([] { return chooserWindow() == nullptr; }));
    }
    {
        test::Spawned<std::optional<fs::path>> asked(picker.chooseSaveFolder(tmp.path(), "このフォルダに保存", true));
        Gtk::Window* window = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (window = chooserWindow()) != nullptr; }));
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        GtkFileChooser* chooser = GTK_FILE_CHOOSER(window->gobj());
        EXPECT_EQ(gtk_file_chooser_get_action(chooser), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER);
        EXPECT_TRUE(gtk_file_chooser_get_create_folders(chooser));
        G_GNUC_END_IGNORE_DEPRECATIONS
        GtkWidget* accept = responseButton(window, GTK_RESPONSE_ACCEPT);
        ASSERT_NE(accept, nullptr);
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(accept)), "このフォルダに保存");
        gtk_widget_activate(responseButton(window, GTK_RESPONSE_CANCEL));
        ASSERT_TRUE(asked.finish());
        ASSERT_FALSE(asked.out->error);
        EXPECT_EQ(*asked.out->value, std::nullopt);
        EXPECT_TRUE(test::spinUntil([] { return chooserWindow() == nullptr; }));
    }
    owner.destroy();
}

TEST(GtkQueueClipboard, TextSetThroughThePortReadsBackFromTheDisplay) {
    GtkQueueClipboard port;
    port.setText("第1頁の本文\n二行目");
    auto clipboard = Gdk::Display::get_default()->get_clipboard();
    std::optional<std::string> read;
    clipboard->read_text_async([&](const Glib::RefPtr<Gio::AsyncResult>& result) {
        try {
            read = clipboard->read_text_finish(result);
        } catch (const Glib::Error&) {
            read = "";
        }
    });
    ASSERT_TRUE(test::spinUntil([&] { return read.has_value(); }));
    EXPECT_EQ(*read, "第1頁の本文\n二行目");
}
