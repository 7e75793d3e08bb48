#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "foundation/FileStamp.hpp"
#include "foundation/ProductBrand.hpp"
#include "history/CaptureHistory.hpp"
#include "support/TempDir.hpp"

namespace velmora::test {

// Temporary storage and output roots for one test: the storage root holds
// "history" and "work", the output root "out" is the one approved folder.
class HistoryFixture : public ::testing::Test {
protected:
    TempDir tmp;
    std::filesystem::path storage = tmp / "storage";
    std::filesystem::path out = tmp / "out";
    std::filesystem::path historyDir = storage / "history";
    AppRuntime::ScopedOverride runtime{AppRuntime{storage, out}};

    HistoryFixture() {
        std::filesystem::create_directories(out);
        std::filesystem::create_directories(storage);
    }

    std::unique_ptr<CaptureHistory> history() const {
        return std::make_unique<CaptureHistory>(historyDir, std::vector<std::filesystem::path>{out});
    }

    std::filesystem::path output(const std::string& name, const std::string& content = "bytes") const {
        auto p = out / name;
        std::filesystem::create_directories(p.parent_path());
        writeFile(p, content);
        return p;
    }

    static SavedOutput savedOutput(const std::filesystem::path& p) {
        SavedOutput o;
        o.path = p.string();
        o.stamp = FileStamp::read(p);
        return o;
    }

    static CaptureHistoryEntry entry(std::vector<SavedOutput> outputs, std::string kind = "capture") {
        CaptureHistoryEntry e;
        e.kind = std::move(kind);
        e.state = "completed";
        e.outputs = std::move(outputs);
        return e;
    }

    std::string historyBytes() const { return readFile(historyDir / "history.json"); }

    static ino_t inodeOf(const std::filesystem::path& p) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0) return 0;
        return st.st_ino;
    }
};

}  // namespace velmora::test
