#include <gtest/gtest.h>
#include <gdkmm/clipboard.h>
#include <gdkmm/display.h>
#include <glib.h>
#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/window.h>
#include <sys/stat.h>

#include "gui/GtkConfirmation.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"
#include "support/gui/RecordingFileManager.hpp"

// The confirmation dialog answered through its own buttons and keys, and the
// desktop's actions against a desktop of the test's own: a default handler
// and, where wanted, a file manager on the bus that record what they were
// given, so no real application starts.

using namespace velmora;
namespace fs = std::filesystem;

namespace {

Gtk::MessageDialog* openConfirmation() {
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->get_visible() && w->get_name() == GtkConfirmation::dialogName) {
            return dynamic_cast<Gtk::MessageDialog*>(w);
        }
    }
    return nullptr;
}

Gtk::Widget* findNamed(Gtk::Widget& root, const std::string& name) {
    if (std::string(root.get_name()) == name) return &root;
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        if (Gtk::Widget* found = findNamed(*child, name)) return found;
    }
    return nullptr;
}

// Every label text under root, in tree order.
void labelTexts(Gtk::Widget& root, std::vector<std::string>& out) {
    if (auto* label = dynamic_cast<Gtk::Label*>(&root); label && label->get_visible()) {
        out.push_back(label->get_text());
    }
    for (Gtk::Widget* child = root.get_first_child(); child; child = child->get_next_sibling()) {
        labelTexts(*child, out);
    }
}

Confirmation::Request question() {
    return {"この履歴の成果物をゴミ箱へ移しますか？", "a.png\nb.pdf", "取消", "ゴミ箱へ移す"};
}

}  // namespace

TEST(GtkConfirmation, TheSafeAnswerIsTheDefaultAndOnlyTheConfirmButtonConfirms) {
    Gtk::Window owner;
    owner.present();
    GtkConfirmation confirmation(&owner);
    const Confirmation::Request request = question();

    // How each answer is given, and what it means.
    const std::vector<std::pair<std::string, bool>> answers{
        {"cancel", false}, {"confirm", true}, {"return", false}, {"close", false}};
    for (const auto& [how, expected] : answers) {
        test::Spawned<bool> asked(confirmation.confirm(request));
        Gtk::MessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (dialog = openConfirmation()) != nullptr; })) << how;
        EXPECT_EQ(dialog->get_transient_for(), &owner);
        EXPECT_TRUE(dialog->get_modal());
        std::vector<std::string> texts;
        labelTexts(*dialog, texts);
        EXPECT_NE(std::find(texts.begin(), texts.end(), request.message), texts.end());
        EXPECT_NE(std::find(texts.begin(), texts.end(), request.informativeText), texts.end());
        auto* cancel = dynamic_cast<Gtk::Button*>(findNamed(*dialog, GtkConfirmation::cancelName));
        auto* confirm = dynamic_cast<Gtk::Button*>(findNamed(*dialog, GtkConfirmation::confirmName));
        ASSERT_TRUE(cancel && confirm);
        EXPECT_EQ(cancel->get_label(), "取消");
        EXPECT_EQ(confirm->get_label(), "ゴミ箱へ移す");
        EXPECT_TRUE(test::spinUntil([&] { return cancel->has_focus(); })) << "the safe answer has the focus";
        // The safe answer on the left, plain (it is the default, not a
        // suggestion); the other on the right, destructive.
        EXPECT_FALSE(cancel->has_css_class(GtkConfirmation::suggestedStyle));
        EXPECT_FALSE(cancel->has_css_class(GtkConfirmation::destructiveStyle));
        EXPECT_TRUE(confirm->has_css_class(GtkConfirmation::destructiveStyle));
        EXPECT_FALSE(confirm->has_css_class(GtkConfirmation::suggestedStyle));
        // Once the dialog is laid out.
        const auto safeOnTheLeft = [&] {
            graphene_rect_t safe{}, other{};
            return cancel->get_width() > 0 && confirm->get_width() > 0 &&
                   gtk_widget_compute_bounds(GTK_WIDGET(cancel->gobj()), GTK_WIDGET(dialog->gobj()), &safe) &&
                   gtk_widget_compute_bounds(GTK_WIDGET(confirm->gobj()), GTK_WIDGET(dialog->gobj()), &other) &&
                   safe.origin.x + safe.size.width <= other.origin.x;
        };
        EXPECT_TRUE(test::spinUntil(safeOnTheLeft)) << how;

        if (how == "cancel") cancel->activate();
        if (how == "confirm") confirm->activate();
        // Return activates the dialog's default widget.
        if (how == "return") gtk_widget_activate_default(GTK_WIDGET(dialog->gobj()));
        if (how == "close") dialog->close();
        ASSERT_TRUE(asked.finish()) << how;
        EXPECT_EQ(*asked.out->value, expected) << how;
        EXPECT_TRUE(test::spinUntil([] { return openConfirmation() == nullptr; })) << how;
    }

    // An answer that loses nothing is suggested, not destructive.
    {
        Confirmation::Request keeping = request;
        keeping.ahead = Confirmation::Ahead::suggested;
        test::Spawned<bool> asked(confirmation.confirm(keeping));
        Gtk::MessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (dialog = openConfirmation()) != nullptr; }));
        auto* cancel = dynamic_cast<Gtk::Button*>(findNamed(*dialog, GtkConfirmation::cancelName));
        auto* confirm = dynamic_cast<Gtk::Button*>(findNamed(*dialog, GtkConfirmation::confirmName));
        ASSERT_TRUE(cancel && confirm);
        EXPECT_TRUE(confirm->has_css_class(GtkConfirmation::suggestedStyle));
        EXPECT_FALSE(confirm->has_css_class(GtkConfirmation::destructiveStyle));
        EXPECT_FALSE(cancel->has_css_class(GtkConfirmation::suggestedStyle));
        cancel->activate();
        ASSERT_TRUE(asked.finish());
        EXPECT_FALSE(*asked.out->value);
        EXPECT_TRUE(test::spinUntil([] { return openConfirmation() == nullptr; }));
    }

    // A question whose task goes away takes its dialog with it.
    {
        test::Spawned<bool> abandoned(confirmation.confirm(request));
        ASSERT_TRUE(test::spinUntil([] { return openConfirmation() != nullptr; }));
    }
    EXPECT_TRUE(test::spinUntil([] { return openConfirmation() == nullptr; }));
}

TEST(GtkConfirmation, ItsWindowIsLookedUpWhenItOpensAndItsButtonsAre1000And1001) {
    Gtk::Window first, second;
    first.present();
    second.present();
    Gtk::Window* current = &first;
    GtkConfirmation confirmation([&current] { return current; });
    current = &second;
    const Confirmation::Request request = question();
    for (const auto& [response, expected] : std::vector<std::pair<int, bool>>{
             {GtkConfirmation::secondButton, true}, {GtkConfirmation::firstButton, false}}) {
        test::Spawned<bool> asked(confirmation.confirm(request));
        Gtk::MessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (dialog = openConfirmation()) != nullptr; }));
        EXPECT_EQ(dialog->get_transient_for(), &second);
        dialog->response(response);
        ASSERT_TRUE(asked.finish());
        EXPECT_EQ(*asked.out->value, expected) << response;
        EXPECT_TRUE(test::spinUntil([] { return openConfirmation() == nullptr; }));
    }
}

namespace {

// A desktop of the test's own: one entry that handles files and folders by
// recording its argument, so no real application starts. The entry and its
// script stay the same from test to test in the program's home, so the
// toolkit's cache of entries never names a script that is gone.
struct RecordingDesktop {
    test::TempDir tmp;
    fs::path recorder = fs::path(g_get_user_data_dir()) / "velmora-recorder";
    fs::path record = recorder / "record.txt";
    fs::path folder = tmp / "outputs";
    fs::path file = folder / "page.txt";

    RecordingDesktop() {
        fs::create_directories(recorder);
        fs::remove(record);
        const fs::path script = recorder / "record.sh";
        test::writeFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.string() + "'\n");
        fs::permissions(script, fs::perms::owner_all);
        const fs::path applications = fs::path(g_get_user_data_dir()) / "applications";
        fs::create_directories(applications);
        test::writeFile(applications / "velmora-recorder.desktop",
                        "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" + script.string() +
                            " %u\nMimeType=text/plain;image/png;inode/directory;application/octet-stream;\n"
                            "NoDisplay=true\n");
        fs::create_directories(g_get_user_config_dir());
        test::writeFile(fs::path(g_get_user_config_dir()) / "mimeapps.list",
                        "[Default Applications]\ntext/plain=velmora-recorder.desktop\n"
                        "image/png=velmora-recorder.desktop\ninode/directory=velmora-recorder.desktop\n"
                        "application/octet-stream=velmora-recorder.desktop\n");
        fs::create_directory(folder);
        test::writeFile(file, "saved");
    }

    std::vector<std::string> recorded() const {
        std::vector<std::string> lines;
        if (!fs::exists(record)) return lines;
        std::string text = test::readFile(record);
        for (std::size_t at = 0; at < text.size();) {
            const std::size_t end = text.find('\n', at);
            lines.push_back(text.substr(at, end - at));
            at = end == std::string::npos ? text.size() : end + 1;
        }
        return lines;
    }
};

std::string uri(const fs::path& p) {
    char* u = g_filename_to_uri(p.c_str(), nullptr, nullptr);
    std::string s = u;
    g_free(u);
    return s;
}

bool named(const std::string& line, const fs::path& p) { return line == uri(p) || line == p.string(); }

}  // namespace

TEST(GtkDesktopActions, OpenRevealAndCopyGoThroughTheDesktop) {
    RecordingDesktop desktopOfTheTest;
    const fs::path& file = desktopOfTheTest.file;
    auto recorded = [&] { return desktopOfTheTest.recorded(); };

    GtkDesktopActions desktop;
    EXPECT_TRUE(desktop.open(file));
    ASSERT_TRUE(test::spinUntil([&] { return recorded().size() == 1; }));
    EXPECT_TRUE(named(recorded()[0], file)) << recorded()[0];

    // No file manager on this bus (it offers none of the machine's
    // services): the folder is opened instead.
    desktop.reveal(file);
    ASSERT_TRUE(test::spinUntil([&] { return recorded().size() == 2; }));
    EXPECT_TRUE(named(recorded()[1], desktopOfTheTest.folder)) << recorded()[1];

    desktop.copyText("https://example.com/ページ");
    auto clipboard = Gdk::Display::get_default()->get_clipboard();
    std::optional<std::string> pasted;
    clipboard->read_text_async([&](const Glib::RefPtr<Gio::AsyncResult>& result) {
        pasted = clipboard->read_text_finish(result);
    });
    ASSERT_TRUE(test::spinUntil([&] { return pasted.has_value(); }));
    EXPECT_EQ(*pasted, "https://example.com/ページ");
}

TEST(GtkDesktopActions, RevealAsksTheFileManagerOnTheBusToSelectTheFile) {
    RecordingDesktop desktopOfTheTest;
    test::RecordingFileManager fileManager;
    ASSERT_TRUE(fileManager.awaitName());

    GtkDesktopActions desktop;
    desktop.reveal(desktopOfTheTest.file);
    ASSERT_TRUE(test::spinUntil([&] { return fileManager.shown().size() == 1; }));
    EXPECT_EQ(fileManager.shown()[0], std::vector<std::string>{uri(desktopOfTheTest.file)});

    // The file manager answered: the folder is not opened as well. An open
    // made afterwards is the first thing the desktop's handler is given.
    EXPECT_TRUE(desktop.open(desktopOfTheTest.file));
    ASSERT_TRUE(test::spinUntil([&] { return !desktopOfTheTest.recorded().empty(); }));
    EXPECT_TRUE(named(desktopOfTheTest.recorded()[0], desktopOfTheTest.file)) << desktopOfTheTest.recorded()[0];
}
