#include "ocrqueue/QueuePorts.hpp"

#include "foundation/BrindlexError.hpp"

namespace velmora {

namespace {

// The port is a parameter, copied into the waiting frame when the call is
// made: the answer may come after the ports' owner is gone.

Task<bool> confirmWith(std::shared_ptr<Confirmer> port, std::string message, std::string informative,
                       std::string confirmLabel, AnswerAhead ahead) {
    if (!port) co_return false;
    auto answer = port->confirm(std::move(message), std::move(informative), std::move(confirmLabel), ahead);
    co_return co_await answer;
}

Task<std::vector<std::filesystem::path>> openWith(std::shared_ptr<FilePicker> port, bool multiple,
                                                  std::vector<FileKind> kinds) {
    if (!port) co_return std::vector<std::filesystem::path>{};
    auto chosen = port->openFiles(multiple, std::move(kinds));
    co_return co_await chosen;
}

Task<std::optional<std::filesystem::path>> folderWith(std::shared_ptr<FilePicker> port) {
    if (!port) co_return std::nullopt;
    auto chosen = port->chooseFolder();
    co_return co_await chosen;
}

Task<std::optional<std::filesystem::path>> saveFolderWith(std::shared_ptr<FilePicker> port,
                                                          std::filesystem::path start, std::string acceptLabel,
                                                          bool createFolders) {
    if (!port) co_return std::nullopt;
    auto chosen = port->chooseSaveFolder(std::move(start), std::move(acceptLabel), createFolders);
    co_return co_await chosen;
}

}  // namespace

Task<bool> QueuePorts::confirm(std::string message, std::string informative, std::string confirmLabel,
                               AnswerAhead ahead) const {
    return confirmWith(confirmer, std::move(message), std::move(informative), std::move(confirmLabel), ahead);
}

Task<std::vector<std::filesystem::path>> QueuePorts::openFiles(bool multiple, std::vector<FileKind> kinds) const {
    return openWith(filePicker, multiple, std::move(kinds));
}

Task<std::optional<std::filesystem::path>> QueuePorts::chooseFolder() const { return folderWith(filePicker); }

Task<std::optional<std::filesystem::path>> QueuePorts::chooseSaveFolder(std::filesystem::path start,
                                                                        std::string acceptLabel,
                                                                        bool createFolders) const {
    return saveFolderWith(filePicker, std::move(start), std::move(acceptLabel), createFolders);
}

void QueuePorts::reveal(const std::filesystem::path& file) const {
    if (desktop) desktop->reveal(file);
}

void QueuePorts::setText(const std::string& text) const {
    if (!clipboard) raise(ErrorCase::saveFailed);
    clipboard->setText(text);
}

void QueuePorts::configure(OCRQueueEngine& engine) const {
    if (configureEngine) configureEngine(engine);
}

}  // namespace velmora
