#include <string>
#include <utility>

#include "foundation/ProductBrand.hpp"
#include "ocrjobs/OCRQueueEngine.hpp"
#include "recognition/page/OCRProduct.hpp"

namespace velmora {

namespace {

std::string statusLine(std::string_view name) { return "[途中結果：" + std::string(name) + "]"; }

std::string pageHeader(int64_t page) { return OCRProduct::pageSeparator(page) + "\n"; }

std::string documentHeader(std::size_t position, const std::string& fileName) {
    return "=== 文書 " + std::to_string(position) + ": " + fileName + " ===\n";
}

// The file's name as the queue shows it: the last component of its path.
std::filesystem::path fileName(const QueueInput& input) { return std::filesystem::path(input.path).filename(); }

void flattenLines(std::string& text) {
    for (char& c : text) {
        if (c == '\n') c = ' ';
    }
}

std::vector<uint8_t> bytesOf(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

}  // namespace

std::optional<PageResult> OCRQueueEngine::result(const UUID& inputID, int64_t page) {
    std::lock_guard lock(stateLock_);
    if (auto found = stores_.find(inputID); found != stores_.end()) return found->second->result(page);
    const QueueInput* input = state_.input(inputID);
    if (!input || !input->source || !input->attemptID || !directory_) return std::nullopt;
    // Reopened for reading only: the job folder stays exactly as it is.
    std::shared_ptr<JobStore> store = JobStore::resume(jobFolder(directory_->url(), *input->attemptID), *input->source,
                                                       input->settings.value_or(state_.settings), true);
    stores_[inputID] = store;
    return store->result(page);
}

std::string OCRQueueEngine::text(const UUID& inputID, const TXTOptions& options) {
    std::lock_guard lock(stateLock_);
    const QueueInput* found = state_.input(inputID);
    if (!found) raise(ErrorCase::invalidInput);
    // A copy: reading results may reopen jobs, which never touches the
    // snapshot, but the text must not depend on that.
    const QueueInput input = *found;
    if (!input.source) return statusLine(displayName(input.status));

    std::string out;
    bool first = true;
    for (const auto& record : input.pages) {
        if (!first) out += "\n\n";
        first = false;
        std::string body;
        if (record.state != PageState::completed) {
            body = statusLine(displayName(record.state));
        } else if (auto edited = input.editedPages.find(record.page); edited != input.editedPages.end()) {
            body = edited->second;
        } else if (auto recognised = result(inputID, record.page)) {
            body = recognised->text();
        }
        if (!options.preserveLines) flattenLines(body);
        if (options.pageSeparators) out += pageHeader(record.page);
        out += body;
    }
    return out;
}

std::vector<std::filesystem::path> OCRQueueEngine::exportTo(const std::filesystem::path& destination,
                                                            const TXTOptions& options) {
    std::lock_guard lock(stateLock_);
    // A run writes the pages this text is made of.
    if (active_ || state_.status == QueueStatus::running) raise(ErrorCase::navigationBusy);
    const SecureDirectory folder(destination, true);
    const std::vector<QueueInput> inputs = state_.inputs;

    if (options.combined) {
        std::string all;
        for (std::size_t i = 0; i < inputs.size(); ++i) {
            if (i > 0) all += "\n\n";
            all += documentHeader(i + 1, fileName(inputs[i]).string());
            all += text(inputs[i].id, options);
        }
        return {folder.exportData(bytesOf(all), "OCR-combined", "txt", std::nullopt, nullptr,
                                  AppRuntime::isIsolated)};
    }

    std::vector<std::filesystem::path> written;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string stem = "OCR-" + std::to_string(i + 1) + "-" + fileName(inputs[i]).stem().string();
        written.push_back(folder.exportData(bytesOf(text(inputs[i].id, options)), stem, "txt", std::nullopt, nullptr,
                                            AppRuntime::isIsolated));
    }
    return written;
}

}  // namespace velmora
