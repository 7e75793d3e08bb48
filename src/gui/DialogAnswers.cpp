#include "gui/DialogAnswers.hpp"

#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>

namespace velmora::DialogAnswers {

void style(Gtk::Button& back, Gtk::Button& ahead, Ahead kind) {
    back.remove_css_class(suggestedStyle);
    back.remove_css_class(destructiveStyle);
    ahead.remove_css_class(kind == Ahead::suggested ? destructiveStyle : suggestedStyle);
    ahead.add_css_class(kind == Ahead::suggested ? suggestedStyle : destructiveStyle);
}

void headingAsTitle(Gtk::MessageDialog& dialog) {
    // The heading is the message area's first label.
    for (Gtk::Widget* child = dialog.get_message_area()->get_first_child(); child;
         child = child->get_next_sibling()) {
        if (auto* label = dynamic_cast<Gtk::Label*>(child)) {
            label->add_css_class("title");
            return;
        }
    }
}

}  // namespace velmora::DialogAnswers
