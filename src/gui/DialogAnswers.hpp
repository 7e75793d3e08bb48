#pragma once

namespace Gtk {
class Button;
class MessageDialog;
}  // namespace Gtk

namespace velmora {

// How every question of the application offers its two answers, so that a
// user finds them in the same place and reads them the same way: both in
// the message dialog's row at its foot, the way back ("取消") on the left,
// plain; the answer that goes ahead on the right, named for what it does,
// in the theme's suggested style when nothing is lost by it and in its
// destructive style when it deletes, discards, resets or stops. Escape is
// always the way back. (A page's own alert, confirm and prompt follow the
// same rule in their own layer: "OK" is suggested there.)
namespace DialogAnswers {

// The theme's style classes of the two kinds of answer ahead.
inline constexpr const char* suggestedStyle = "suggested-action";
inline constexpr const char* destructiveStyle = "destructive-action";

enum class Ahead { suggested, destructive };

// Styles the pair; the way back loses any style it had.
void style(Gtk::Button& back, Gtk::Button& ahead, Ahead kind);

// A message dialog shows its heading in the title's large bold type only
// when it has a secondary text; a question whose body is a widget of its
// own gets the same heading as every other.
void headingAsTitle(Gtk::MessageDialog& dialog);

// Gives a question the width of its text, as the desktop's own dialogs are:
// each line of text as wide as the widest needs when its lines are of even
// length (at most `widest` pixels; the heading a little more, to stay on
// one line), so no last line holds a character or two; and room above the
// heading, which the window's frame does not give. Call it with the texts
// set, before the dialog is shown.
void fitToText(Gtk::MessageDialog& dialog, int widest = 420);

}  // namespace DialogAnswers

}  // namespace velmora
