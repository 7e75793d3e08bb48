#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "foundation/DesktopActions.hpp"

namespace velmora::test {

// A desktop that records what it was asked to do; open succeeds as told.
class FakeDesktopActions final : public DesktopActions {
public:
    bool openSucceeds = true;
    bool revealShows = true;
    std::vector<std::filesystem::path> opened;
    std::vector<std::filesystem::path> revealed;
    std::vector<std::string> copied;

    bool open(const std::filesystem::path& file) override {
        opened.push_back(file);
        return openSucceeds;
    }
    void reveal(const std::filesystem::path& file) override { revealed.push_back(file); }
    void revealAnswered(const std::filesystem::path& file, std::function<void(bool)> answered) override {
        reveal(file);
        answered(revealShows);
    }
    void copyText(const std::string& text) override { copied.push_back(text); }
};

}  // namespace velmora::test
