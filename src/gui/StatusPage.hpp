#pragma once

#include <string>

#include <gtkmm/box.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>

namespace velmora {

// A state shown as a page of its own instead of a blank area: a large icon
// over one sentence, centred in whatever room the page is given, as the
// desktop's own applications show an empty list or a failed load. The
// sentence is shown verbatim, never as markup; a warning or an error tints
// the icon and the sentence with the theme's colours for them.
// The theme's colours of a warning and an error, for the style classes
// "warning" and "error" on labels and icons, once per display (the toolkit's
// own theme gives them to buttons only). Main thread only.
void installStateColours();

class StatusPage : public Gtk::Box {
public:
    enum class Tone { plain, warning, error };

    static constexpr int iconSize = 64;

    StatusPage();

    // Changes only what differs, so a refresh that repeats itself costs
    // no new layout.
    void show(const std::string& iconName, const std::string& text, Tone tone = Tone::plain);

    Gtk::Label& label() noexcept { return text_; }
    Gtk::Image& icon() noexcept { return icon_; }
    const std::string& iconName() const noexcept { return iconName_; }
    Tone tone() const noexcept { return tone_; }

private:
    Gtk::Image icon_;
    Gtk::Label text_;
    std::string iconName_;
    Tone tone_ = Tone::plain;
};

}  // namespace velmora
