#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "foundation/FolderChooser.hpp"

namespace velmora::test {

// A folder chooser whose user always gives the same answer, on a later turn
// of the main context as a dialog would. It records every request.
class FakeFolderChooser final : public FolderChooser {
public:
    std::optional<std::filesystem::path> answer;
    std::vector<Request> requests;
    // Runs once the chooser is open, before it answers: what the user does
    // elsewhere meanwhile.
    std::function<void()> whileOpen;

    Task<std::optional<std::filesystem::path>> choose(const Request& request) override {
        requests.push_back(request);
        if (whileOpen) std::exchange(whileOpen, nullptr)();
        co_await sleepFor(std::chrono::milliseconds(1));
        co_return answer;
    }
};

}  // namespace velmora::test
