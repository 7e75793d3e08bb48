#include "gui/DialogAnswers.hpp"

#include <algorithm>

#include <gtkmm/button.h>
#include <gtkmm/label.h>
#include <gtkmm/messagedialog.h>

#include <vector>

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

void fitToText(Gtk::MessageDialog& dialog, int widest) {
    Gtk::Widget* area = dialog.get_message_area();
    std::vector<Gtk::Label*> labels;
    int width = 0;
    for (Gtk::Widget* child = area->get_first_child(); child; child = child->get_next_sibling()) {
        auto* label = dynamic_cast<Gtk::Label*>(child);
        if (!label || !label->get_visible() || label->get_text().empty()) continue;
        labels.push_back(label);
        // Measured in the label's own type (the heading's is larger).
        auto layout = label->create_pango_layout(label->get_text());
        int textWidth = 0, textHeight = 0;
        layout->get_pixel_size(textWidth, textHeight);
        // The heading stays on one line while it is not much wider than
        // the text: a question cut before its last "か？" reads badly.
        const bool heading = labels.size() == 1;
        if (heading && textWidth <= widest + widest / 4) {
            width = std::max(width, textWidth);
            continue;
        }
        const int lines = std::max(1, (textWidth + widest - 1) / widest);
        // A line breaks between characters and never before "。" or "、":
        // a line of even length gets about one character to spare.
        const int spare = lines > 1 ? textHeight : 0;
        width = std::max(width, std::min(widest, (textWidth + lines - 1) / lines + spare));
    }
    for (Gtk::Label* label : labels) {
        // The request sets the width; a wrapped label asks for no more.
        label->set_size_request(width, -1);
        label->set_max_width_chars(1);
        // Between words where it can: never "、" or "。" at a line's start.
        label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    }
    area->set_margin_top(std::max(area->get_margin_top(), 18));
    area->set_margin_bottom(std::max(area->get_margin_bottom(), 12));
}

}  // namespace velmora::DialogAnswers
