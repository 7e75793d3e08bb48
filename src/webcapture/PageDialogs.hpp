#pragma once

// A page's alert, confirm and prompt, shown as our own dialog.
//
// Guarantees:
// - At most one dialog per session is shown; a page asking while one is
//   shown, a closed session and a view in no window get the "otherwise"
//   answer at once. The page waits for its answer, so it cannot stack them.
// - Every request is answered exactly once: by its dialog's response, by the
//   session's dialogCancel (shutdown), or by the session going away. A shared
//   once-flag decides which comes first; the later ones do nothing.
// - The page's text is shown as plain text and cut after a fixed number of
//   user-perceived characters: a page cannot freeze the window with megabytes
//   of text or style the dialog with markup.
// Assumes the main thread; the dialog is modal and transient for the view's
// window, so the window cannot go away under it unnoticed.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

class BrowserSession;

enum class PageDialogKind { alert, confirm, prompt };

// What a page asks: its kind, its message and (for a prompt) the text the
// field starts with.
struct PageDialogRequest {
    PageDialogKind kind = PageDialogKind::alert;
    std::string message;
    std::string defaultText;
};

// The answer: accepted is the "OK" button (the default); text is the field's text
// for an accepted prompt and absent otherwise (an empty field is "", not
// absent).
struct PageDialogResult {
    bool accepted = false;
    std::optional<std::string> text;
};

using PageDialogCompletion = std::function<void(PageDialogResult)>;

class PageDialogs {
public:
    static constexpr const char* title = "Webページからのメッセージ";
    static constexpr const char* okLabel = "OK";
    static constexpr const char* cancelLabel = "取消";
    // User-perceived characters of the page's message that are shown.
    static constexpr std::size_t messageLimit = 10000;
    // Names of the widgets, for whoever drives the dialog.
    static constexpr const char* dialogName = "page-dialog";
    static constexpr const char* okName = "page-dialog-ok";
    static constexpr const char* cancelName = "page-dialog-cancel";
    static constexpr const char* entryName = "page-dialog-text";
    static constexpr const char* messageName = "page-dialog-message";

    explicit PageDialogs(BrowserSession& session);
    // A dialog still shown is answered "otherwise" and hidden.
    ~PageDialogs();
    PageDialogs(const PageDialogs&) = delete;
    PageDialogs& operator=(const PageDialogs&) = delete;

    // Shows the dialog, or answers at once when it may not be shown.
    void run(PageDialogRequest request, PageDialogCompletion completion);

    // The message as the dialog shows it: the first messageLimit grapheme
    // clusters, followed by "…" when there were more.
    static std::string shownMessage(std::string_view message);
    // "Webページからのメッセージ", with "（host）" when the address has a host.
    static std::string heading(const char* address);

private:
    struct Shown;
    static void resolve(const std::shared_ptr<Shown>& shown, bool accepted);

    BrowserSession& session_;
    std::shared_ptr<Shown> shown_;
};

}  // namespace velmora
