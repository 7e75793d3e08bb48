#include "webcapture/PageDialogs.hpp"

#include <cassert>

#include <glibmm/main.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/entry.h>
#include <gtkmm/label.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/messagedialog.h>
#include <pangomm/attrlist.h>
#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include "foundation/Unicode.hpp"
#include "webcapture/BrowserSession.hpp"

namespace velmora {

struct PageDialogs::Shown {
    // Null once the session's dialogs are gone.
    PageDialogs* owner = nullptr;
    PageDialogKind kind = PageDialogKind::alert;
    PageDialogCompletion completion;
    std::unique_ptr<Gtk::MessageDialog> dialog;
    Gtk::Entry* entry = nullptr;
    bool done = false;
};

namespace {

// The dialog may be answered from inside its own response signal: it is
// hidden at once and deleted on the next turn of the main loop.
void disposeLater(std::unique_ptr<Gtk::MessageDialog> dialog) {
    if (!dialog) return;
    dialog->hide();
    Glib::signal_idle().connect_once([d = dialog.release()] { delete d; });
}

// The page's message, as plain text, under the heading. Not the dialog's
// secondary text: GTK 4.8 lays out a long wrapped label in a message box in
// time that grows with the square of its length (seconds for a few thousand
// Japanese characters); a label of a fixed width in a scrolled area is laid
// out once, and a long message scrolls instead of growing the dialog.
Gtk::Widget& messageView(const std::string& text) {
    auto* label = Gtk::make_managed<Gtk::Label>();
    label->set_name(PageDialogs::messageName);
    label->set_use_markup(false);
    label->set_text(text);
    label->set_wrap(true);
    label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
    // A word broken across lines gets no hyphen: the dialog shows the
    // page's text as the page sent it, not a character more.
    Pango::AttrList attributes;
    pango_attr_list_insert(attributes.gobj(), pango_attr_insert_hyphens_new(FALSE));
    label->set_attributes(attributes);
    label->set_width_chars(60);
    label->set_max_width_chars(60);
    label->set_xalign(0);
    label->set_yalign(0);
    auto* scrolled = Gtk::make_managed<Gtk::ScrolledWindow>();
    scrolled->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
    scrolled->set_max_content_height(400);
    scrolled->set_propagate_natural_height(true);
    scrolled->set_child(*label);
    return *scrolled;
}

}  // namespace

PageDialogs::PageDialogs(BrowserSession& session) : session_(session) {}

PageDialogs::~PageDialogs() {
    if (auto shown = std::move(shown_)) {
        shown->owner = nullptr;
        resolve(shown, false);
    }
}

void PageDialogs::run(PageDialogRequest request, PageDialogCompletion completion) {
    WebKitWebView* view = session_.webView();
    GtkRoot* root = view ? gtk_widget_get_root(GTK_WIDGET(view)) : nullptr;
    // Refused at once: a closed session, a dialog already shown, a view that
    // no window shows.
    if (session_.closingWeb() || session_.dialogCancel || shown_ || !root || !GTK_IS_WINDOW(root)) {
        completion(PageDialogResult{});
        return;
    }

    auto shown = std::make_shared<Shown>();
    shown->owner = this;
    shown->kind = request.kind;
    shown->completion = std::move(completion);
    shown->dialog = std::make_unique<Gtk::MessageDialog>(heading(webkit_web_view_get_uri(view)), false,
                                                         Gtk::MessageType::INFO, Gtk::ButtonsType::NONE, true);
    Gtk::MessageDialog& dialog = *shown->dialog;
    dialog.set_name(dialogName);
    dialog.set_hide_on_close(true);
    gtk_window_set_transient_for(GTK_WINDOW(dialog.gobj()), GTK_WINDOW(root));
    dialog.get_message_area()->append(messageView(shownMessage(request.message)));
    // The heading in the title's type, as every question shows its own: a
    // message dialog gives it that type only with a secondary text, and the
    // page's message is a widget of its own here.
    for (Gtk::Widget* child = dialog.get_message_area()->get_first_child(); child;
         child = child->get_next_sibling()) {
        if (auto* heading = dynamic_cast<Gtk::Label*>(child)) {
            heading->add_css_class("title");
            break;
        }
    }
    if (request.kind == PageDialogKind::prompt) {
        auto* entry = Gtk::make_managed<Gtk::Entry>();
        entry->set_name(entryName);
        entry->set_text(request.defaultText);
        entry->set_size_request(320, 24);
        entry->set_activates_default(true);
        dialog.get_message_area()->append(*entry);
        shown->entry = entry;
    }
    // As in every dialog of the application: the way back on the left,
    // plain; the answer the page asks for on the right in the theme's
    // suggested style, and the default, since it loses nothing of the
    // user's.
    if (request.kind != PageDialogKind::alert)
        dialog.add_button(cancelLabel, Gtk::ResponseType::CANCEL)->set_name(cancelName);
    Gtk::Button* ok = dialog.add_button(okLabel, Gtk::ResponseType::OK);
    ok->set_name(okName);
    ok->add_css_class("suggested-action");
    dialog.set_default_response(Gtk::ResponseType::OK);

    std::weak_ptr<Shown> weak = shown;
    // "取消", Escape and closing the dialog are all the answer otherwise.
    dialog.signal_response().connect([weak](int response) {
        if (auto s = weak.lock()) resolve(s, response == Gtk::ResponseType::OK);
    });
    session_.dialogCancel = [weak] {
        // Everything is read from locals: answering clears this very
        // callback.
        if (auto s = weak.lock()) resolve(s, false);
    };
    shown_ = shown;
    dialog.present();
}

void PageDialogs::resolve(const std::shared_ptr<Shown>& shown, bool accepted) {
    if (shown->done) return;
    shown->done = true;
    PageDialogResult result;
    result.accepted = accepted;
    if (accepted && shown->kind == PageDialogKind::prompt && shown->entry)
        result.text = std::string(shown->entry->get_text());
    if (PageDialogs* owner = shown->owner; owner && owner->shown_ == shown) {
        owner->shown_.reset();
        owner->session_.dialogCancel = nullptr;
    }
    shown->owner = nullptr;
    shown->entry = nullptr;
    disposeLater(std::move(shown->dialog));
    auto completion = std::move(shown->completion);
    shown->completion = nullptr;
    if (completion) completion(std::move(result));
}

std::string PageDialogs::shownMessage(std::string_view message) {
    // Walks the clusters one by one from the start: a message of megabytes
    // costs only the part that is shown.
    UErrorCode status = U_ZERO_ERROR;
    UText* text = utext_openUTF8(nullptr, message.data(), static_cast<int64_t>(message.size()), &status);
    std::unique_ptr<icu::BreakIterator> clusters(
        icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
    if (U_SUCCESS(status)) clusters->setText(text, status);
    if (U_FAILURE(status)) {
        utext_close(text);
        std::string_view prefix = Unicode::prefixGraphemes(message, messageLimit);
        return prefix.size() < message.size() ? std::string(prefix) + "…" : std::string(message);
    }
    int64_t end = 0;
    std::size_t count = 0;
    while (count < messageLimit) {
        int32_t next = clusters->next();
        if (next == icu::BreakIterator::DONE) break;
        end = next;
        ++count;
    }
    clusters.reset();
    utext_close(text);
    if (end >= static_cast<int64_t>(message.size())) return std::string(message);
    return std::string(message.substr(0, static_cast<std::size_t>(end))) + "…";
}

std::string PageDialogs::heading(const char* address) {
    std::string out = title;
    if (!address) return out;
    GUri* uri = g_uri_parse(address, G_URI_FLAGS_NONE, nullptr);
    if (!uri) return out;
    const char* host = g_uri_get_host(uri);
    if (host && *host) out += std::string("（") + host + "）";
    g_uri_unref(uri);
    return out;
}

void BrowserSession::runPageDialog(PageDialogRequest request, PageDialogCompletion completion) {
    assert(completion);
    dialogs_->run(std::move(request), std::move(completion));
}

}  // namespace velmora
