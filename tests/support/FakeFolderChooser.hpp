#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <vector>

#include "foundation/FolderChooser.hpp"

namespace velmora::test {

// A folder chooser whose user always gives the same answer, on a later turn
// of the main context as a dialog would. It records every request.
class FakeFolderChooser final : public FolderChooser {
public:
    std::optional<std::filesystem::path> answer;
    std::vector<Request> requests;

    Task<std::optional<std::filesystem::path>> choose(const Request& request) override {
        requests.push_back(request);
        co_await sleepFor(std::chrono::milliseconds(1));
        co_return answer;
    }
};

}  // namespace velmora::test
