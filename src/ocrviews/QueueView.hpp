#pragma once

#include <memory>

#include <gtkmm/listview.h>
#include <gtkmm/scrolledwindow.h>

#include "ocrqueue/QueueController.hpp"

namespace velmora {

class SettingsStore;

// The queue panel of the OCR pane: the add row, the folder candidates, the
// run row, the saved-queue row, the refused resume, the queue with its
// counts, inputs and failed pages, the export row and the status line, in a
// panel at most 230 high that scrolls both ways. It holds no state of its
// own: every control reads or writes a published field of the window's
// controller or calls one of its operations, and every outcome shows on the
// status line.
//
// The content is one list whose rows are made only near what can be seen
// (the toolkit builds about two hundred ahead), so a queue of thousands of
// inputs costs what is on screen and a row keeps few widgets. It observes the
// controller's `changed`, refreshes once per turn of the main loop, and
// touches only the rows whose content changed.
class QueueView : public Gtk::ScrolledWindow {
public:
    // Widget names, for tests and the accessibility tree.
    static constexpr const char* chooseName = "queue.choose";
    static constexpr const char* folderName = "queue.folder";
    static constexpr const char* recursiveName = "queue.recursive";
    static constexpr const char* stopListingName = "queue.folder.stop";
    static constexpr const char* closeName = "queue.close";
    static constexpr const char* candidatesTitleName = "queue.candidates";
    static constexpr const char* candidateName = "queue.candidate";
    static constexpr const char* addCandidatesName = "queue.candidates.add";
    static constexpr const char* dropCandidatesName = "queue.candidates.drop";
    static constexpr const char* orderName = "queue.order";
    static constexpr const char* startName = "queue.start";
    static constexpr const char* pauseName = "queue.pause";
    static constexpr const char* cancelName = "queue.cancel";
    static constexpr const char* restartName = "queue.restart";
    static constexpr const char* savedName = "queue.saved";
    static constexpr const char* loadSavedName = "queue.saved.load";
    static constexpr const char* laterName = "queue.saved.later";
    static constexpr const char* reselectName = "queue.saved.reselect";
    static constexpr const char* rejectionName = "queue.rejection";
    static constexpr const char* newTrialName = "queue.rejection.trial";
    static constexpr const char* closeRejectionName = "queue.rejection.cancel";
    static constexpr const char* countsName = "queue.counts";
    static constexpr const char* noteName = "queue.note";
    static constexpr const char* retryFailedName = "queue.retryFailed";
    static constexpr const char* exportWholeName = "queue.export.whole";
    static constexpr const char* exportOneFileName = "queue.export.oneFile";
    // One input's group is "queue.row.<position from 1>"; inside it:
    static constexpr const char* rowPrefix = "queue.row.";
    static constexpr const char* inputName = "queue.input";
    // The progress columns (a ProgressColumns: the pages done of all,
    // "2 / 5", and the state's name) and their bar inside.
    static constexpr const char* progressName = "queue.progress";
    static constexpr const char* progressBarName = "queue.progress.bar";
    static constexpr const char* upName = "queue.up";
    static constexpr const char* downName = "queue.down";
    static constexpr const char* errorName = "queue.error";
    static constexpr const char* failedPageName = "queue.failed";
    static constexpr const char* retryPageName = "queue.failed.retry";
    // The CSS classes of the selected input's button and of the orange texts.
    static constexpr const char* selectedClass = "queue-selected";
    static constexpr const char* errorClass = "queue-error";

    // The height it grows to when the pane has room, unless what it must
    // show needs more (`usableHeight`).
    static constexpr int maximumHeight = 230;
    // What it keeps before its rows have been measured.
    static constexpr int minimumHeight = 64;
    // How many inputs of the open queue it keeps in view.
    static constexpr int rowsInView = 3;
    // At most what the window's least width leaves the panel beside its
    // vertical scroll bar: the panel never scrolls sideways there.
    static constexpr int minimumContentWidth = 660;

    // settings may be null; the panel reads nothing from it.
    explicit QueueView(std::shared_ptr<QueueController> controller, SettingsStore* settings = nullptr);
    ~QueueView() override;

    // The list of the panel's rows.
    Gtk::ListView& list();
    // Whether a refresh waits for the next turn of the main loop.
    bool refreshPending() const;

    // The least height that shows, scrolled to the top, its toolbars, the
    // queue's summary and `rowsInView` inputs (or, with no queue open,
    // everything above the export row: the saved queues and a refused
    // resume), as the rows were last laid out; the panel asks for it where
    // the pane has room (it keeps `minimumHeight` as its least height) and
    // tells `usableChanged` when it changes.
    int usableHeight() const;
    sigc::signal<void()> usableChanged;

protected:
    void size_allocate_vfunc(int width, int height, int baseline) override;

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

}  // namespace velmora
