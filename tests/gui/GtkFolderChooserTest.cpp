#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <gtkmm/window.h>

#include <condition_variable>
#include <mutex>

#include "foundation/OutputAccess.hpp"
#include "foundation/SettingsStore.hpp"
#include "gui/GtkFolderChooser.hpp"
#include "support/MainLoop.hpp"
#include "support/TempDir.hpp"

// The real chooser, reached through the grants as the shell reaches it: the
// window is found by its title and answered through its own buttons.

using namespace velmora;
namespace fs = std::filesystem;

namespace {

Gtk::Window* chooserWindow() {
    for (Gtk::Window* w : Gtk::Window::list_toplevels()) {
        if (w->get_visible() && w->get_title() == "保存先を選んでください") return w;
    }
    return nullptr;
}

// The dialog's button for a response, as the user would press it.
GtkWidget* responseButton(Gtk::Window* window, int response) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    if (!GTK_IS_DIALOG(window->gobj())) return nullptr;
    return gtk_dialog_get_widget_for_response(GTK_DIALOG(window->gobj()), response);
    G_GNUC_END_IGNORE_DEPRECATIONS
}

fs::path currentFolder(Gtk::Window* window) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GFile* file = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(window->gobj()));
    G_GNUC_END_IGNORE_DEPRECATIONS
    if (!file) return {};
    char* path = g_file_get_path(file);
    g_object_unref(file);
    fs::path out = path ? fs::path(path) : fs::path();
    g_free(path);
    return out;
}

// Goes to a folder as the user would by typing it, and waits until the
// chooser shows it.
bool switchTo(Gtk::Window* window, const fs::path& folder) {
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    GFile* file = g_file_new_for_path(folder.c_str());
    const bool ok = gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(window->gobj()), file, nullptr);
    g_object_unref(file);
    G_GNUC_END_IGNORE_DEPRECATIONS
    return ok && test::spinUntil([&] { return currentFolder(window) == folder; });
}

// A button of the path bar naming the folder.
bool hasFolderButton(GtkWidget* widget, const std::string& name) {
    if (GTK_IS_TOGGLE_BUTTON(widget) && gtk_widget_get_child_visible(widget)) {
        GtkWidget* label = gtk_button_get_child(GTK_BUTTON(widget));
        if (label && GTK_IS_LABEL(label) && name == gtk_label_get_text(GTK_LABEL(label))) return true;
    }
    for (GtkWidget* child = gtk_widget_get_first_child(widget); child; child = gtk_widget_get_next_sibling(child)) {
        if (hasFolderButton(child, name)) return true;
    }
    return false;
}

// The request the shell makes for the output folder, opening in start.
FolderChooser::Request outputRequest(const fs::path& start) {
    FolderChooser::Request request;
    request.title = "保存先を選んでください";
    request.acceptLabel = "このフォルダに保存";
    request.startFolder = start;
    return request;
}

// Answers the open chooser with its cancel button and waits for it to go.
void cancelChooser(Gtk::Window* window, test::Spawned<std::optional<fs::path>>& asked) {
    GtkWidget* cancel = responseButton(window, GTK_RESPONSE_CANCEL);
    ASSERT_NE(cancel, nullptr);
    gtk_widget_activate(cancel);
    ASSERT_TRUE(asked.finish());
    EXPECT_TRUE(test::spinUntil([] { return chooserWindow() == nullptr; }));
}

// Every worker thread GIO has, and those it adds while they are taken, kept
// busy until released (at the latest when this goes), so that what GIO is
// asked meanwhile waits.
class HeldWorkers {
public:
    HeldWorkers() {
        for (int i = 0; i < count; ++i) {
            GTask* task = g_task_new(nullptr, nullptr, nullptr, nullptr);
            g_task_set_priority(task, G_PRIORITY_HIGH);
            g_task_set_task_data(task, this, nullptr);
            g_task_run_in_thread(task, [](GTask*, gpointer, gpointer data, GCancellable*) {
                auto* self = static_cast<HeldWorkers*>(data);
                std::unique_lock lock(self->mutex_);
                ++self->started_;
                self->changed_.wait(lock, [self] { return self->open_; });
                ++self->ended_;
                self->changed_.notify_all();
            });
            g_object_unref(task);
        }
    }
    ~HeldWorkers() {
        release();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return ended_ == count; });
    }
    bool anyStarted() {
        std::lock_guard lock(mutex_);
        return started_ > 0;
    }
    bool allStarted() {
        std::lock_guard lock(mutex_);
        return started_ == count;
    }
    void release() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    // More than GIO adds in minutes while its workers are taken.
    static constexpr int count = 128;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    int started_ = 0;
    int ended_ = 0;
};

}  // namespace

TEST(GtkFolderChooser, TheGrantsAskThroughTheRealChooserOnceAnsweredOnceCancelled) {
    test::TempDir tmp;
    const fs::path chosen = tmp / "captures";
    fs::create_directory(chosen);
    // The default output folder exists here, so the chooser can open in it.
    fs::create_directories(AppRuntime::defaultOutput());
    Gtk::Window owner;
    owner.set_title("ベルモラ");
    owner.present();
    GtkFolderChooser chooser(&owner);
    OutputAccess access(AppRuntime{tmp / "storage", tmp / "outputs"}, &chooser);
    SettingsStore settings(tmp / "storage" / "settings");

    {
        test::Spawned<std::optional<fs::path>> asked(access.destination(settings, true, false));
        Gtk::Window* window = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (window = chooserWindow()) != nullptr; }));
        ASSERT_TRUE(GTK_IS_FILE_CHOOSER(window->gobj()));
        EXPECT_EQ(window->get_transient_for(), &owner);
        EXPECT_TRUE(window->get_modal());
        // Room for the places and their Japanese names, not the toolkit's
        // low window.
        EXPECT_TRUE(test::spinUntil([&] { return window->get_width() >= 900 && window->get_height() >= 600; }))
            << window->get_width() << "x" << window->get_height();
        EXPECT_TRUE(test::spinUntil([&] { return currentFolder(window) == AppRuntime::defaultOutput(); }));
        GtkWidget* accept = responseButton(window, GTK_RESPONSE_ACCEPT);
        ASSERT_NE(accept, nullptr);
        EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(accept)), "このフォルダに保存");
        ASSERT_TRUE(switchTo(window, chosen));
        gtk_widget_activate(accept);
        ASSERT_TRUE(asked.finish());
        ASSERT_FALSE(asked.out->error);
        EXPECT_EQ(*asked.out->value, std::optional<fs::path>(chosen));
        EXPECT_TRUE(test::spinUntil([] { return chooserWindow() == nullptr; }));
    }
    const Json folders = JSON::parse(test::readFile(tmp / "storage" / "access" / "folders.json"));
    ASSERT_EQ(folders["folders"].size(), 1u);
    EXPECT_EQ(folders["folders"][0]["path"], chosen.string());
    const Json prefs = JSON::parse(test::readFile(tmp / "storage" / "settings" / "preferences.json"));
    EXPECT_EQ(prefs["destinationID"], folders["folders"][0]["id"]);

    const std::string foldersBefore = test::readFile(tmp / "storage" / "access" / "folders.json");
    const std::string prefsBefore = test::readFile(tmp / "storage" / "settings" / "preferences.json");
    {
        test::Spawned<std::optional<fs::path>> asked(access.destination(settings, true, false));
        Gtk::Window* window = nullptr;
        ASSERT_TRUE(test::spinUntil([&] { return (window = chooserWindow()) != nullptr; }));
        // Asked again, it opens in the folder chosen before.
        EXPECT_TRUE(test::spinUntil([&] { return currentFolder(window) == chosen; }));
        GtkWidget* cancel = responseButton(window, GTK_RESPONSE_CANCEL);
        ASSERT_NE(cancel, nullptr);
        gtk_widget_activate(cancel);
        ASSERT_TRUE(asked.finish());
        ASSERT_FALSE(asked.out->error);
        EXPECT_EQ(*asked.out->value, std::nullopt);
    }
    EXPECT_EQ(test::readFile(tmp / "storage" / "access" / "folders.json"), foldersBefore);
    EXPECT_EQ(test::readFile(tmp / "storage" / "settings" / "preferences.json"), prefsBefore);
    owner.destroy();
}

// Opened without a parent while no window is active (the focus left with a
// window that has gone, and no window manager gives it back), the chooser
// still belongs to the window on screen: GTK warns of a dialog without one.
TEST(GtkFolderChooser, WithoutAParentItBelongsToTheWindowOnScreen) {
    test::TempDir tmp;
    Gtk::Window owner;
    owner.set_title("ベルモラ");
    owner.present();
    {
        Gtk::Window passing;
        passing.set_transient_for(owner);
        passing.present();
        ASSERT_TRUE(test::spinUntil([&] { return passing.get_mapped(); }));
    }
    test::spinFor(std::chrono::milliseconds(100));
    ASSERT_FALSE(owner.is_active()) << "the case of no active window";
    GtkFolderChooser chooser;
    const FolderChooser::Request request = outputRequest(tmp.path());  // the task holds it by reference
    test::Spawned<std::optional<fs::path>> asked(chooser.choose(request));
    Gtk::Window* window = nullptr;
    ASSERT_TRUE(test::spinUntil([&] { return (window = chooserWindow()) != nullptr; }));
    EXPECT_EQ(window->get_transient_for(), &owner);
    cancelChooser(window, asked);
    owner.destroy();
}

// GIO reads the folder the chooser opens in on its worker threads; on a busy
// machine they answer after the dialog's first frame, and its path bar is
// drawn before it has a folder to show.
TEST(GtkFolderChooser, ItDrawsWithoutAWarningBeforeItsFolderIsRead) {
    test::TempDir tmp;
    Gtk::Window owner;
    owner.set_title("ベルモラ");
    owner.present();
    HeldWorkers held;
    ASSERT_TRUE(test::spinUntil([&] { return held.anyStarted(); }));
    GtkFolderChooser chooser(&owner);
    const FolderChooser::Request request = outputRequest(tmp.path());
    test::Spawned<std::optional<fs::path>> asked(chooser.choose(request));
    Gtk::Window* window = nullptr;
    ASSERT_TRUE(test::spinUntil([&] { return (window = chooserWindow()) != nullptr && window->get_mapped(); }));
    int painted = 0;
    GdkFrameClock* clock = gtk_widget_get_frame_clock(GTK_WIDGET(window->gobj()));
    const gulong paint = g_signal_connect_swapped(clock, "after-paint", G_CALLBACK(+[](int* n) { ++*n; }), &painted);
    gtk_widget_queue_draw(GTK_WIDGET(window->gobj()));
    EXPECT_TRUE(test::spinUntil([&] { return painted >= 2; }));
    g_signal_handler_disconnect(clock, paint);
    EXPECT_FALSE(held.allStarted()) << "the folder was read before the dialog drew";
    held.release();
    // Once read, the folder shows in the path bar as a button of its own.
    EXPECT_TRUE(test::spinUntil([&] {
        return hasFolderButton(GTK_WIDGET(window->gobj()), tmp.path().filename().string());
    }));
    cancelChooser(window, asked);
    owner.destroy();
}
