#pragma once

#include <filesystem>
#include <utility>
#include <vector>

namespace velmora {

// Where the folders the user approved for outputs come from. Only files inside
// them are recorded, checked or moved to the Trash, and only their work
// folders are cleaned up at launch.
class OutputRootsSource {
public:
    virtual ~OutputRootsSource() = default;
    virtual std::vector<std::filesystem::path> authorizedRoots() const = 0;
};

// A fixed list of approved folders.
class FixedOutputRoots final : public OutputRootsSource {
public:
    explicit FixedOutputRoots(std::vector<std::filesystem::path> roots) : roots_(std::move(roots)) {}
    std::vector<std::filesystem::path> authorizedRoots() const override { return roots_; }

private:
    std::vector<std::filesystem::path> roots_;
};

}  // namespace velmora
