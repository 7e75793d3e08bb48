#pragma once

// The history section of a workspace window: the widgets of the display-free
// HistoryViewModel. The view observes the model's signals and forwards the
// user's actions; it keeps only what belongs to widgets (the list store the
// list view shows, each row's thumbnail task).
//
// The list takes the height the heading, the status lines and the detail
// leave; the detail puts its actions side by side, and the several outputs
// of one type (a print's pages) on one line, so they all stay in sight. A
// refused open is told once, under the output it was asked for.
// An empty list, and a list that could not be read, show as a status page.
//
// Rows are recycled by the list view: binding a row starts its thumbnail
// task and unbinding cancels it, so a row scrolled away never receives a
// picture that is no longer its own.

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include <giomm/liststore.h>
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/image.h>
#include <gtkmm/label.h>
#include <gtkmm/listview.h>
#include <gtkmm/scrolledwindow.h>
#include <gtkmm/singleselection.h>
#include <gtkmm/stack.h>

#include "gui/GtkConfirmation.hpp"
#include "gui/GtkDesktopActions.hpp"
#include "gui/StatusPage.hpp"
#include "history/HistoryViewModel.hpp"

namespace velmora {

class HistoryView : public Gtk::Box {
public:
    // Widget names, for tests and the accessibility tree.
    struct Names {
        static constexpr const char* view = "history-view";
        static constexpr const char* reload = "history-reload";
        static constexpr const char* status = "history-status";
        static constexpr const char* notice = "history-notice";
        // The sentence of the status page that stands for an empty list or a
        // list that could not be read; the page itself is "history-state".
        static constexpr const char* empty = "history-empty";
        static constexpr const char* statePage = "history-state";
        // The row of the detail's actions on the entry as a whole.
        static constexpr const char* actions = "history-actions";
        static constexpr const char* list = "history-list";
        static constexpr const char* rowTitle = "history-row-title";
        static constexpr const char* rowCaption = "history-row-caption";
        static constexpr const char* rowState = "history-row-state";
        static constexpr const char* rowPicture = "history-row-picture";
        static constexpr const char* rowPlaceholder = "history-row-placeholder";
        static constexpr const char* detail = "history-detail";
        static constexpr const char* detailTitle = "history-detail-title";
        // Followed by the line's position in the detail, from 0: one line
        // per output, or one for the several outputs of one type.
        static constexpr const char* outputName = "history-output-";
        static constexpr const char* outputRange = "history-output-range-";
        static constexpr const char* open = "history-open-";
        static constexpr const char* reveal = "history-reveal-";
        static constexpr const char* unavailable = "history-unavailable-";
        // Under the line of the output whose open was refused.
        static constexpr const char* refusal = "history-refusal-";
        static constexpr const char* address = "history-address";
        static constexpr const char* copyURL = "history-copy-url";
        static constexpr const char* reopen = "history-reopen";
        static constexpr const char* deleteOnly = "history-delete-only";
        static constexpr const char* trash = "history-trash";
    };

    // Without a host the reopen button does nothing; the host must outlive
    // the view. Files open and show through the desktop unless another
    // desktop is given (it must outlive the view too).
    explicit HistoryView(RecaptureHost* host = nullptr, bool active = true, DesktopActions* desktop = nullptr);
    ~HistoryView() override;

    HistoryViewModel& model() noexcept { return *model_; }
    // Set by the window as its history section is shown and hidden.
    void setActive(bool active) { model_->setActive(active); }

private:
    class Row;
    class Item;

    void fillList();
    // The list's highlight follows the model's selection.
    void followSelection();
    void bringIntoSight(guint position);
    void showStatus();
    // The list, or the status page while it has nothing to show.
    void showListState();
    void showDetail();
    // The refusal line under the output line it concerns, the others hidden.
    void showRefusal();
    void selectFromList();

    // The detail's refusal lines, with the files of their output lines.
    struct RefusalLine {
        Gtk::Widget* widget;
        UUID entry;
        std::vector<std::filesystem::path> files;
    };
    std::vector<RefusalLine> refusals_;

    GtkConfirmation confirmation_;
    GtkDesktopActions desktop_;
    std::unique_ptr<HistoryViewModel> model_;

    Gtk::Label heading_;
    Gtk::Button reload_;
    Gtk::Image statusIcon_;
    Gtk::Label status_;
    Gtk::Label notice_;
    StatusPage empty_;
    Gtk::Stack listArea_;
    Glib::RefPtr<Gio::ListStore<Item>> store_;
    Glib::RefPtr<Gtk::SingleSelection> selection_;
    Gtk::ListView list_;
    Gtk::ScrolledWindow listScroller_;
    Gtk::ScrolledWindow detailScroller_;
    // Filling the list and following the model move the list's own
    // selection; that is not the user's.
    bool filling_ = false;
};

}  // namespace velmora
