#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace tesseract {
class TessBaseAPI;
}

namespace velmora {

// The initialised Tesseract engines of the calling thread. An engine is
// loaded once per thread and configuration and then reused page after page,
// so repeated passes (strips of a vertical page, a queue of pages) pay the
// loading cost once. Engines are never shared between threads, which is what
// makes concurrent recognition safe.
namespace TesseractEngines {

struct Configuration {
    // Language data names joined by "+", in priority order ("jpn+eng").
    std::string languages;
    bool dictionaries = true;
    // Only with dictionaries; one word per entry.
    std::vector<std::string> userWords;

    bool operator==(const Configuration&) const = default;
};

// How many configurations one thread keeps loaded; the least recently used
// one is dropped beyond that. The automatic mode reads a page of vertical
// text with three (the horizontal Japanese model, the English one and the
// vertical Japanese one); with fewer it would load two of them again for
// every page.
inline constexpr std::size_t enginesPerThread = 3;

// The calling thread's engine for the configuration, loaded on first use.
// Throws RecognizerError when the language data cannot be loaded.
tesseract::TessBaseAPI& engine(const Configuration& configuration);

// Engines loaded so far by the whole process.
uint64_t loadCount();
// Engines loaded so far by the calling thread.
uint64_t threadLoadCount();

// Drops the calling thread's engines.
void releaseThreadEngines();

// The user words handed to an engine while it loads: a file readable by the
// owner only, in a folder of its own, both removed when this goes away.
// Words that could not be one line of the file (empty, or holding a line
// break or another control character) are left out.
class UserWordsFile {
public:
    explicit UserWordsFile(const std::vector<std::string>& words,
                           const std::filesystem::path& parent = std::filesystem::temp_directory_path());
    ~UserWordsFile();
    UserWordsFile(const UserWordsFile&) = delete;
    UserWordsFile& operator=(const UserWordsFile&) = delete;

    const std::filesystem::path& path() const { return file_; }

private:
    std::filesystem::path folder_;
    std::filesystem::path file_;
};

}  // namespace TesseractEngines
}  // namespace velmora
