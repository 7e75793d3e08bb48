#pragma once

#include <functional>

#include "foundation/Confirmation.hpp"

namespace Gtk {
class Window;
}

namespace velmora {

// The confirmation of the desktop: a modal message dialog with the safe
// answer as its default button, so Return never confirms by accident. GTK
// runs no dialog modally on its own loop, so the task resumes when the user
// answers; closing the dialog (Escape, the window's close button) is the
// safe answer. A task discarded while the dialog is open takes it away.
// The one two-button question of the application: every confirmation, with
// whatever labels, is this dialog, its answers as DialogAnswers sets out: the
// safe answer on the left, plain and the default, the other on the right in
// the theme's destructive style, or in its suggested style when the request
// says that nothing is lost by it.
class GtkConfirmation final : public Confirmation {
public:
    // Widget names, for tests and the accessibility tree.
    static constexpr const char* dialogName = "confirmation";
    static constexpr const char* cancelName = "confirmation-cancel";
    static constexpr const char* confirmName = "confirmation-confirm";
    // The responses of the two buttons, in the desktop's numbering of alert
    // buttons: the safe one first.
    static constexpr int firstButton = 1000;
    static constexpr int secondButton = 1001;
    // The theme's style classes of an answer that goes ahead harmlessly and
    // of one that destroys or stops something (see DialogAnswers).
    static constexpr const char* suggestedStyle = "suggested-action";
    static constexpr const char* destructiveStyle = "destructive-action";

    // The dialog belongs to parent, or, without one, to the window the user
    // works in when it opens (activeToplevel).
    explicit GtkConfirmation(Gtk::Window* parent = nullptr) : parent_([parent] { return parent; }) {}
    // The parent is looked up when the dialog opens: the window may change
    // (or go) while the caller waits for its turn.
    explicit GtkConfirmation(std::function<Gtk::Window*()> parent) : parent_(std::move(parent)) {}

    Task<bool> confirm(const Request& request) override;

private:
    std::function<Gtk::Window*()> parent_;
};

}  // namespace velmora
