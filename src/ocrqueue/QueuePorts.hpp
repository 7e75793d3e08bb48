#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "foundation/DesktopActions.hpp"
#include "foundation/Task.hpp"

namespace velmora {

class OCRQueueEngine;

// How the answer that goes ahead reads: suggested when nothing is lost by
// it, destructive when it discards or replaces the user's work.
enum class AnswerAhead { suggested, destructive };

// Asks the user to confirm a step that puts something aside: "取消" comes
// first and is the default; only the confirming button, named for what it
// does, answers true.
class Confirmer {
public:
    virtual ~Confirmer() = default;
    virtual Task<bool> confirm(std::string message, std::string informative, std::string confirmLabel,
                               AnswerAhead ahead) = 0;
};

// The kinds of original a file panel offers.
enum class FileKind { png, jpeg, pdf, tiff };

// The platform's file and folder panels. Cancelling gives nothing chosen.
class FilePicker {
public:
    virtual ~FilePicker() = default;
    virtual Task<std::vector<std::filesystem::path>> openFiles(bool multiple, std::vector<FileKind> kinds) = 0;
    virtual Task<std::optional<std::filesystem::path>> chooseFolder() = 0;
    virtual Task<std::optional<std::filesystem::path>> chooseSaveFolder(std::filesystem::path start,
                                                                        std::string acceptLabel,
                                                                        bool createFolders) = 0;
};

// The general clipboard; throws when the text cannot be put there.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    virtual void setText(const std::string& text) = 0;
};

// Every platform seam the queue controller uses. A port left empty declines:
// no confirmation, nothing chosen, and the clipboard fails with saveFailed.
struct QueuePorts {
    std::shared_ptr<Confirmer> confirmer;
    std::shared_ptr<FilePicker> filePicker;
    std::shared_ptr<Clipboard> clipboard;
    // Shows saved files in the file manager; without it nothing is shown.
    std::shared_ptr<DesktopActions> desktop;
    // Applied to every engine the controller makes or reopens, before it is
    // used, possibly on a worker thread while no other thread knows the
    // engine; the application leaves it empty.
    std::function<void(OCRQueueEngine&)> configureEngine{};

    Task<bool> confirm(std::string message, std::string informative, std::string confirmLabel,
                       AnswerAhead ahead) const;
    Task<std::vector<std::filesystem::path>> openFiles(bool multiple, std::vector<FileKind> kinds) const;
    Task<std::optional<std::filesystem::path>> chooseFolder() const;
    Task<std::optional<std::filesystem::path>> chooseSaveFolder(std::filesystem::path start, std::string acceptLabel,
                                                                bool createFolders) const;
    void setText(const std::string& text) const;
    void reveal(const std::filesystem::path& file) const;
    void configure(OCRQueueEngine& engine) const;
};

}  // namespace velmora
