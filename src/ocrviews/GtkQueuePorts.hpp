#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ocrqueue/QueuePorts.hpp"

namespace Gtk {
class Window;
}

namespace velmora {

// The window a dialog belongs to, looked up when the dialog opens: the
// window may be replaced or gone by then. Null gives a dialog of its own.
using DialogParent = std::function<Gtk::Window*()>;

// The queue's confirmation as a modal message dialog: the question, the
// informative text without markup, "取消" first and default, the confirming
// button second, suggested or destructive as asked (gui/DialogAnswers). Return, Escape and closing the dialog answer false, and so
// does a dialog destroyed before anyone answered; the waiting task resumes
// once. A task discarded while the dialog is open takes it away.
class GtkQueueConfirmer final : public Confirmer {
public:
    // Widget names, for tests and the accessibility tree.
    static constexpr const char* dialogName = "queue-confirmation";
    static constexpr const char* cancelName = "queue-confirmation-cancel";
    static constexpr const char* confirmName = "queue-confirmation-confirm";

    explicit GtkQueueConfirmer(DialogParent parent = nullptr) : parent_(std::move(parent)) {}

    Task<bool> confirm(std::string message, std::string informative, std::string confirmLabel,
                       AnswerAhead ahead) override;

private:
    DialogParent parent_;
};

// The file panels as native file choosers. A location without a local path
// (a remote share) is never chosen: the queue opens files by path.
class GtkQueueFilePicker final : public FilePicker {
public:
    // The choosers' titles: the originals to read (opened or added), a
    // folder of originals, the folder the TXT goes to.
    static constexpr const char* openTitle = "OCRする原稿を選ぶ";
    static constexpr const char* folderTitle = "原稿のフォルダを選ぶ";
    static constexpr const char* saveTitle = "TXTの保存先を選ぶ";

    explicit GtkQueueFilePicker(DialogParent parent = nullptr) : parent_(std::move(parent)) {}

    Task<std::vector<std::filesystem::path>> openFiles(bool multiple, std::vector<FileKind> kinds) override;
    Task<std::optional<std::filesystem::path>> chooseFolder() override;
    Task<std::optional<std::filesystem::path>> chooseSaveFolder(std::filesystem::path start, std::string acceptLabel,
                                                                bool createFolders) override;

private:
    DialogParent parent_;
};

// The display's clipboard; saveFailed without a display.
class GtkQueueClipboard final : public Clipboard {
public:
    void setText(const std::string& text) override;
};

// The three ports on the window's dialogs, for a controller of that window.
QueuePorts gtkQueuePorts(DialogParent parent);

}  // namespace velmora
