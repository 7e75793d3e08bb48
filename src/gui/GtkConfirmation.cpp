#include "gui/GtkConfirmation.hpp"

#include "gui/DialogAnswers.hpp"
#include "gui/GtkNativePanel.hpp"

#include <glibmm/main.h>
#include <gtkmm/button.h>
#include <gtkmm/messagedialog.h>
#include <gtkmm/window.h>

#include <memory>

namespace velmora {

Task<bool> GtkConfirmation::confirm(const Request& request) {
    // Owned by this frame: a task discarded while the user thinks takes the
    // dialog with it.
    auto dialog = std::make_unique<Gtk::MessageDialog>(request.message, /*use_markup=*/false,
                                                       Gtk::MessageType::QUESTION, Gtk::ButtonsType::NONE,
                                                       /*modal=*/true);
    dialog->set_name(dialogName);
    // Closing hides the dialog and answers; the frame destroys it.
    dialog->set_hide_on_close(true);
    Gtk::Window* parent = parent_ ? parent_() : nullptr;
    if (!parent) parent = activeToplevel();
    if (parent) dialog->set_transient_for(*parent);
    // Plain text: a page title or a file name in the question is never
    // read as markup.
    if (!request.informativeText.empty()) dialog->set_secondary_text(request.informativeText, false);
    DialogAnswers::fitToText(*dialog);
    Gtk::Button* cancel = dialog->add_button(request.cancelLabel, firstButton);
    Gtk::Button* confirmButton = dialog->add_button(request.confirmLabel, secondButton);
    cancel->set_name(cancelName);
    confirmButton->set_name(confirmName);
    // Every question asks before something that cannot be taken back: the
    // safe answer is the default (Return gives it), the other one looks as
    // destructive as it is, and plainly suggested when it loses nothing.
    dialog->set_default_response(firstButton);
    DialogAnswers::style(*cancel, *confirmButton,
                         request.ahead == Ahead::suggested ? DialogAnswers::Ahead::suggested
                                                           : DialogAnswers::Ahead::destructive);

    Gtk::MessageDialog* shown = dialog.get();
    std::function<void(Resumer<int>)> start = [shown, cancel](Resumer<int> resumer) {
        shown->signal_response().connect([resumer](int response) { resumer.resume(response); });
        shown->show();
        cancel->grab_focus();
    };
    auto answered = awaitCallback<int>(std::move(start));
    const int response = co_await answered;
    dialog->hide();
    // Destroyed on a later turn: a dialog closed by its window's close
    // button is still being unmapped by GTK at this point.
    Glib::signal_idle().connect_once([d = dialog.release()] { delete d; });
    // Escape and the window's close button give a response of their own:
    // only the second button goes ahead.
    co_return response == secondButton;
}

}  // namespace velmora
