#include "ocrviews/GtkQueuePorts.hpp"

#include <gdkmm/clipboard.h>
#include <gdkmm/display.h>
#include <giomm/file.h>
#include <gtk/gtk.h>
#include <glibmm/main.h>
#include <gtkmm/button.h>
#include <gtkmm/filechoosernative.h>
#include <gtkmm/filefilter.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/window.h>

#include <memory>

#include "foundation/BrindlexError.hpp"
#include "gui/DialogAnswers.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "gui/GtkNativePanel.hpp"

namespace velmora {

namespace {

using Files = std::vector<std::filesystem::path>;

Gtk::Window* parentOf(const DialogParent& parent) { return parent ? parent() : nullptr; }

Task<bool> askWith(DialogParent parent, std::string message, std::string informative, std::string confirmLabel,
                   AnswerAhead ahead) {
    // Owned by this frame: a task discarded while the user thinks takes the
    // dialog with it.
    auto dialog = std::make_unique<Gtk::MessageDialog>(message, /*use_markup=*/false, Gtk::MessageType::QUESTION,
                                                       Gtk::ButtonsType::NONE, /*modal=*/true);
    dialog->set_name(GtkQueueConfirmer::dialogName);
    dialog->set_hide_on_close(true);
    if (Gtk::Window* owner = parentOf(parent)) dialog->set_transient_for(*owner);
    dialog->set_secondary_text(informative, /*use_markup=*/false);
    DialogAnswers::fitToText(*dialog);
    Gtk::Button* cancel = dialog->add_button("取消", Gtk::ResponseType::CANCEL);
    Gtk::Button* confirmButton = dialog->add_button(confirmLabel, Gtk::ResponseType::ACCEPT);
    cancel->set_name(GtkQueueConfirmer::cancelName);
    confirmButton->set_name(GtkQueueConfirmer::confirmName);
    dialog->set_default_response(Gtk::ResponseType::CANCEL);
    DialogAnswers::style(*cancel, *confirmButton,
                         ahead == AnswerAhead::suggested ? DialogAnswers::Ahead::suggested
                                                         : DialogAnswers::Ahead::destructive);

    Gtk::MessageDialog* shown = dialog.get();
    std::vector<sigc::connection> connections;
    std::function<void(Resumer<bool>)> start = [shown, cancel, &connections](Resumer<bool> resumer) {
        connections.push_back(shown->signal_response().connect(
            [resumer](int response) { resumer.resume(response == static_cast<int>(Gtk::ResponseType::ACCEPT)); }));
        // A dialog taken down without an answer (destroyed with its window)
        // is the safe answer; after an answer this changes nothing.
        connections.push_back(shown->signal_hide().connect([resumer] { resumer.resume(false); }));
        connections.push_back(shown->signal_unrealize().connect([resumer] { resumer.resume(false); }));
        shown->show();
        cancel->grab_focus();
    };
    auto answered = awaitCallback<bool>(std::move(start));
    const bool answer = co_await answered;
    for (auto& c : connections) c.disconnect();
    // A dialog destroyed with its window is no widget any more.
    if (dialog->gobj()) dialog->hide();
    // Destroyed on a later turn: a dialog closed by its window's close
    // button is still being unmapped by GTK at this point.
    Glib::signal_idle().connect_once([d = dialog.release()] { delete d; });
    co_return answer;
}

// Takes the chooser down with the task, also when the task is discarded
// before the user answers.
struct ChooserGuard {
    Glib::RefPtr<Gtk::FileChooserNative> dialog;
    sigc::connection response;
    ~ChooserGuard() {
        response.disconnect();
        dialog->hide();
    }
};

Glib::RefPtr<Gtk::FileChooserNative> makeChooser(const DialogParent& parent, const std::string& title,
                                                 Gtk::FileChooser::Action action, const std::string& acceptLabel) {
    auto dialog = Gtk::FileChooserNative::create(title, action);
    if (!acceptLabel.empty()) dialog->set_accept_label(acceptLabel);
    dialog->set_modal(true);
    if (Gtk::Window* owner = parentOf(parent)) dialog->set_transient_for(*owner);
    return dialog;
}

// The local paths chosen when the chooser is accepted; nothing otherwise.
Task<Files> answerOf(Glib::RefPtr<Gtk::FileChooserNative> chooser) {
    ChooserGuard guard{std::move(chooser), {}};
    Gtk::FileChooserNative* dialog = guard.dialog.get();
    std::function<void(Resumer<Files>)> start = [dialog, &guard](Resumer<Files> resumer) {
        guard.response = dialog->signal_response().connect([dialog, resumer](int response) {
            Files chosen;
            if (response == Gtk::ResponseType::ACCEPT) {
                // Read through GIO itself: the wrappers of the files' own
                // types are not registered in every process.
                G_GNUC_BEGIN_IGNORE_DEPRECATIONS
                GListModel* files = gtk_file_chooser_get_files(GTK_FILE_CHOOSER(dialog->gobj()));
                G_GNUC_END_IGNORE_DEPRECATIONS
                for (guint i = 0; files && i < g_list_model_get_n_items(files); ++i) {
                    GFile* file = G_FILE(g_list_model_get_item(files, i));
                    if (char* path = g_file_get_path(file)) {
                        chosen.emplace_back(path);
                        g_free(path);
                    }
                    g_object_unref(file);
                }
                if (files) g_object_unref(files);
            }
            resumer.resume(std::move(chosen));
        });
        showPanel(*dialog);
    };
    auto answered = awaitCallback<Files>(std::move(start));
    Files chosen = co_await answered;
    co_return chosen;
}

Task<Files> openWith(DialogParent parent, bool multiple, std::vector<FileKind> kinds) {
    auto chooser = makeChooser(parent, GtkQueueFilePicker::openTitle, Gtk::FileChooser::Action::OPEN, "");
    chooser->set_select_multiple(multiple);
    auto filter = Gtk::FileFilter::create();
    // The chooser's filter list shows this name: the kinds offered.
    std::string name;
    for (FileKind kind : kinds) {
        if (!name.empty()) name += "・";
        name += kind == FileKind::png ? "PNG" : kind == FileKind::jpeg ? "JPEG" : kind == FileKind::pdf ? "PDF" : "TIFF";
    }
    filter->set_name(name);
    // Suffix matches are case-insensitive, so "SCAN.PDF" is offered too.
    for (FileKind kind : kinds) {
        switch (kind) {
        case FileKind::png:
            filter->add_mime_type("image/png");
            filter->add_suffix("png");
            break;
        case FileKind::jpeg:
            filter->add_mime_type("image/jpeg");
            filter->add_suffix("jpg");
            filter->add_suffix("jpeg");
            break;
        case FileKind::pdf:
            filter->add_mime_type("application/pdf");
            filter->add_suffix("pdf");
            break;
        case FileKind::tiff:
            filter->add_mime_type("image/tiff");
            filter->add_suffix("tif");
            filter->add_suffix("tiff");
            break;
        }
    }
    chooser->add_filter(filter);
    chooser->set_filter(filter);
    auto answer = answerOf(chooser);
    Files chosen = co_await answer;
    if (!multiple && chosen.size() > 1) chosen.resize(1);
    co_return chosen;
}

Task<std::optional<std::filesystem::path>> folderWith(DialogParent parent, std::string title,
                                                      std::filesystem::path start, std::string acceptLabel,
                                                      bool createFolders) {
    auto chooser = makeChooser(parent, title, Gtk::FileChooser::Action::SELECT_FOLDER, acceptLabel);
    chooser->set_create_folders(createFolders);
    if (!start.empty()) {
        try {
            chooser->set_current_folder(Gio::File::create_for_path(start.string()));
        } catch (const Glib::Error&) {
            // A start folder not made yet (the output folder before the
            // first save): the chooser opens where GTK would open it.
        }
    }
    auto answer = answerOf(chooser);
    Files chosen = co_await answer;
    if (chosen.empty()) co_return std::nullopt;
    co_return chosen.front();
}

}  // namespace

Task<bool> GtkQueueConfirmer::confirm(std::string message, std::string informative, std::string confirmLabel,
                                      AnswerAhead ahead) {
    return askWith(parent_, std::move(message), std::move(informative), std::move(confirmLabel), ahead);
}

Task<std::vector<std::filesystem::path>> GtkQueueFilePicker::openFiles(bool multiple, std::vector<FileKind> kinds) {
    return openWith(parent_, multiple, std::move(kinds));
}

Task<std::optional<std::filesystem::path>> GtkQueueFilePicker::chooseFolder() {
    return folderWith(parent_, folderTitle, {}, "", true);
}

Task<std::optional<std::filesystem::path>> GtkQueueFilePicker::chooseSaveFolder(std::filesystem::path start,
                                                                                std::string acceptLabel,
                                                                                bool createFolders) {
    return folderWith(parent_, saveTitle, std::move(start), std::move(acceptLabel), createFolders);
}

void GtkQueueClipboard::setText(const std::string& text) {
    auto display = Gdk::Display::get_default();
    if (!display) raise(ErrorCase::saveFailed);
    display->get_clipboard()->set_text(text);
}

QueuePorts gtkQueuePorts(DialogParent parent) {
    QueuePorts ports;
    ports.confirmer = std::make_shared<GtkQueueConfirmer>(parent);
    ports.filePicker = std::make_shared<GtkQueueFilePicker>(parent);
    ports.clipboard = std::make_shared<GtkQueueClipboard>();
    ports.desktop = std::make_shared<GtkDesktopActions>();
    return ports;
}

}  // namespace velmora
