#include "ocrqueue/QueuePorts.hpp"

#include "foundation/BrindlexError.hpp"

namespace velmora {

// Each forwarder holds its own reference to the port, so a port replaced
// while its panel is open lives until the answer comes.

Task<bool> QueuePorts::confirm(std::string message, std::string informative, std::string confirmLabel) const {
    const std::shared_ptr<Confirmer> port = confirmer;
    if (!port) co_return false;
    auto answer = port->confirm(std::move(message), std::move(informative), std::move(confirmLabel));
    co_return co_await answer;
}

Task<std::vector<std::filesystem::path>> QueuePorts::openFiles(bool multiple, std::vector<FileKind> kinds) const {
    const std::shared_ptr<FilePicker> port = filePicker;
    if (!port) co_return std::vector<std::filesystem::path>{};
    auto chosen = port->openFiles(multiple, std::move(kinds));
    co_return co_await chosen;
}

Task<std::optional<std::filesystem::path>> QueuePorts::chooseFolder() const {
    const std::shared_ptr<FilePicker> port = filePicker;
    if (!port) co_return std::nullopt;
    auto chosen = port->chooseFolder();
    co_return co_await chosen;
}

Task<std::optional<std::filesystem::path>> QueuePorts::chooseSaveFolder(std::filesystem::path start,
                                                                        std::string acceptLabel,
                                                                        bool createFolders) const {
    const std::shared_ptr<FilePicker> port = filePicker;
    if (!port) co_return std::nullopt;
    auto chosen = port->chooseSaveFolder(std::move(start), std::move(acceptLabel), createFolders);
    co_return co_await chosen;
}

void QueuePorts::setText(const std::string& text) const {
    if (!clipboard) raise(ErrorCase::saveFailed);
    clipboard->setText(text);
}

void QueuePorts::configure(OCRQueueEngine& engine) const {
    if (configureEngine) configureEngine(engine);
}

}  // namespace velmora
