#include "gui/StatusPage.hpp"

#include "gui/DisplayStyle.hpp"

namespace velmora {

namespace {

const char* toneClass(StatusPage::Tone tone) {
    switch (tone) {
    case StatusPage::Tone::warning:
        return "warning";
    case StatusPage::Tone::error:
        return "error";
    case StatusPage::Tone::plain:
        break;
    }
    return nullptr;
}

constexpr const char* stateColours =
        "label.warning, image.warning { color: @warning_color; }\n"
        "label.error, image.error { color: @error_color; }\n";

}  // namespace

void installStateColours() { installDisplayStyle(stateColours); }

StatusPage::StatusPage() : Gtk::Box(Gtk::Orientation::VERTICAL, 12) {
    installStateColours();
    add_css_class("status-page");
    set_halign(Gtk::Align::FILL);
    set_valign(Gtk::Align::CENTER);
    set_hexpand(true);
    set_vexpand(true);
    set_margin(12);
    icon_.set_pixel_size(iconSize);
    icon_.add_css_class("dim-label");
    icon_.set_halign(Gtk::Align::CENTER);
    text_.set_use_markup(false);
    text_.set_wrap(true);
    text_.set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    text_.set_justify(Gtk::Justification::CENTER);
    text_.set_halign(Gtk::Align::CENTER);
    text_.set_max_width_chars(40);
    text_.add_css_class("title-4");
    append(icon_);
    append(text_);
}

void StatusPage::show(const std::string& iconName, const std::string& text, Tone tone) {
    if (iconName != iconName_) {
        iconName_ = iconName;
        icon_.set_from_icon_name(iconName);
    }
    if (text_.get_text().raw() != text) text_.set_text(text);
    if (tone == tone_) return;
    for (Gtk::Widget* w : std::initializer_list<Gtk::Widget*>{&icon_, &text_}) {
        if (const char* old = toneClass(tone_)) w->remove_css_class(old);
        if (const char* now = toneClass(tone)) w->add_css_class(now);
    }
    // A coloured icon reads as the state itself, not as a faded ornament.
    if (tone == Tone::plain) {
        icon_.add_css_class("dim-label");
    } else {
        icon_.remove_css_class("dim-label");
    }
    tone_ = tone;
}

}  // namespace velmora
