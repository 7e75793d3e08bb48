#pragma once

#include <deque>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/Task.hpp"
#include "ocrqueue/QueuePorts.hpp"

namespace velmora::test {

// Waits one turn of the main context, as a platform dialog answers at the
// earliest.
inline Task<void> oneTurn() {
    auto turn = awaitCallback<void>([](Resumer<void> resumer) { detail::onMainContext([resumer] { resumer.resume(); }); });
    co_await turn;
}

// Answers as the test says: the queued answers in order (false when none is
// left), at once or after a main-loop turn. Records every question.
class FakeConfirmer : public Confirmer {
public:
    struct Question {
        std::string message, informative, confirmLabel;
        AnswerAhead ahead = AnswerAhead::suggested;
    };
    std::deque<bool> answers;
    bool afterTurn = false;
    std::vector<Question> asked;

    Task<bool> confirm(std::string message, std::string informative, std::string confirmLabel,
                       AnswerAhead ahead) override {
        asked.push_back({std::move(message), std::move(informative), std::move(confirmLabel), ahead});
        if (afterTurn) co_await oneTurn();
        if (answers.empty()) co_return false;
        const bool answer = answers.front();
        answers.pop_front();
        co_return answer;
    }
};

class FakeFilePicker : public FilePicker {
public:
    struct SaveRequest {
        std::filesystem::path start;
        std::string acceptLabel;
        bool createFolders;
    };
    std::vector<std::filesystem::path> files;
    std::optional<std::filesystem::path> folder;
    std::optional<std::filesystem::path> saveFolder;
    bool afterTurn = false;
    std::vector<std::pair<bool, std::vector<FileKind>>> openRequests;
    std::vector<SaveRequest> saveRequests;
    int folderRequests = 0;

    Task<std::vector<std::filesystem::path>> openFiles(bool multiple, std::vector<FileKind> kinds) override {
        openRequests.emplace_back(multiple, std::move(kinds));
        if (afterTurn) co_await oneTurn();
        co_return files;
    }
    Task<std::optional<std::filesystem::path>> chooseFolder() override {
        ++folderRequests;
        if (afterTurn) co_await oneTurn();
        co_return folder;
    }
    Task<std::optional<std::filesystem::path>> chooseSaveFolder(std::filesystem::path start, std::string acceptLabel,
                                                                bool createFolders) override {
        saveRequests.push_back({std::move(start), std::move(acceptLabel), createFolders});
        if (afterTurn) co_await oneTurn();
        co_return saveFolder;
    }
};

class FakeClipboard : public Clipboard {
public:
    std::optional<std::string> text;
    bool fail = false;

    void setText(const std::string& value) override {
        if (fail) throw std::runtime_error("clipboard unavailable");
        text = value;
    }
};

}  // namespace velmora::test
