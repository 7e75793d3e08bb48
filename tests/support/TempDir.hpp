#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace velmora::test {

// A fresh folder under the system temporary directory, resolved so that no
// component is a symbolic link, removed with everything in it afterwards.
class TempDir {
public:
    // inMemory puts the folder on /dev/shm where it exists: trees of tens of
    // thousands of entries are made and removed there in a second.
    explicit TempDir(bool inMemory = false);
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& leaf) const { return path_ / leaf; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& content);
std::string readFile(const std::filesystem::path& path);
std::vector<std::string> listNames(const std::filesystem::path& dir);

// Runs body in a forked child and returns its exit status (0 when body
// returned normally, 1 when it threw). The child never returns into the test.
int runInChild(const std::function<void()>& body);

// A child that holds something until told to go: start() returns once the
// child has run setup; stop() lets it exit and reaps it.
class HeldChild {
public:
    explicit HeldChild(std::function<void()> setup);
    ~HeldChild();
    HeldChild(const HeldChild&) = delete;
    HeldChild& operator=(const HeldChild&) = delete;
    bool setupSucceeded() const { return ok_; }
    void stop();
    int pid() const { return pid_; }

private:
    int pid_ = -1;
    int toChild_ = -1;
    bool ok_ = false;
};

}  // namespace velmora::test
