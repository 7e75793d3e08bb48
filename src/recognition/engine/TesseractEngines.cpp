#include "recognition/engine/TesseractEngines.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <list>
#include <memory>
#include <mutex>

#include <omp.h>
#include <tesseract/baseapi.h>

#include "recognition/engine/EngineIdentity.hpp"
#include "foundation/FileIO.hpp"
#include "foundation/Unicode.hpp"
#include "recognition/engine/TextRequest.hpp"

namespace velmora::TesseractEngines {

namespace {

std::atomic<uint64_t> loads{0};
thread_local uint64_t threadLoads = 0;

// Tesseract writes its progress and warnings to the standard error stream
// through one process-wide setting. It is set once, before the first engine
// exists, so no engine ever reads it while it changes; failures are seen in
// return values, not in messages.
void silenceOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        tesseract::TessBaseAPI api;
        api.SetVariable("debug_file", "/dev/null");
    });
}

// Tesseract's inner loops are OpenMP loops of a fixed width (four threads)
// that ignore the requested thread count. With two page workers recognising
// at once they would ask for eight threads on a machine that may have two
// cores, and measured on one page they save little time for about twice the
// processor time. Each recognising thread therefore runs them on itself:
// one page worker, one core. The OpenMP setting belongs to the calling
// thread only.
void keepToOneCore() { omp_set_max_active_levels(0); }

struct Loaded {
    Configuration configuration;
    std::unique_ptr<tesseract::TessBaseAPI> api;
};

struct ThreadEngines {
    ThreadEngines() { keepToOneCore(); }
    // Most recently used first.
    std::list<Loaded> engines;
};

ThreadEngines& threadEngines() {
    thread_local ThreadEngines engines;
    return engines;
}

std::vector<std::string> split(const std::string& languages) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= languages.size()) {
        const std::size_t plus = languages.find('+', start);
        const std::size_t end = plus == std::string::npos ? languages.size() : plus;
        if (end > start) out.push_back(languages.substr(start, end - start));
        if (plus == std::string::npos) break;
        start = plus + 1;
    }
    return out;
}

std::unique_ptr<tesseract::TessBaseAPI> load(const Configuration& configuration) {
    silenceOnce();
    std::vector<std::string> names;
    std::vector<std::string> values;
    std::unique_ptr<UserWordsFile> words;
    if (!configuration.dictionaries) {
        // The LSTM recogniser loads its dictionaries (and user words) only
        // when it decodes with them; without this it reads the plain network
        // output.
        names.emplace_back("lstm_use_matrix");
        values.emplace_back("0");
    } else if (!configuration.userWords.empty()) {
        words = std::make_unique<UserWordsFile>(configuration.userWords);
        names.emplace_back("user_words_file");
        values.push_back(words->path().string());
    }

    // Tesseract reads a line again in its negative, for white text on a dark
    // page or box, whenever the line's mean confidence is under this. Its
    // default of 0.7 sends nearly every Japanese line and vertical column
    // through the network twice, since their many-class outputs are rarely
    // that sure; a line in the wrong polarity reads far below 0.5, so the
    // lower bar keeps such text read at half the cost of a page.
    names.emplace_back("invert_threshold");
    values.emplace_back("0.5");
    auto api = std::make_unique<tesseract::TessBaseAPI>();
    const std::string data = EngineIdentity::languageDataDirectory().string();
    const int status = api->Init(data.c_str(), configuration.languages.c_str(), tesseract::OEM_LSTM_ONLY, nullptr, 0,
                                 &names, &values, false);
    // The words are in the engine's dictionary now; the file goes at once.
    words.reset();
    if (status != 0) {
        throw RecognizerError("Tesseract could not load the language data \"" + configuration.languages + "\"");
    }
    // A secondary language that fails to load is only reported in a message;
    // the engine must have every language it was asked for.
    std::vector<std::string> loaded;
    api->GetLoadedLanguagesAsVector(&loaded);
    if (loaded != split(configuration.languages)) {
        throw RecognizerError("Tesseract loaded only part of the language data \"" + configuration.languages + "\"");
    }
    api->SetPageSegMode(tesseract::PSM_AUTO);
    // Tesseract finds paragraphs once it has read the words, by default,
    // walking the page from its start again for every line: on a tall page
    // that lasts seconds (11 s on a 28,000-pixel capture), in which a stop
    // is not seen. Nothing here reads its paragraphs; found from the layout
    // before the words, they take a fraction of that, and every line and
    // word is read and ordered as before.
    api->SetVariable("paragraph_text_based", "false");
    loads.fetch_add(1, std::memory_order_relaxed);
    threadLoads += 1;
    return api;
}

bool acceptableWord(const std::string& word) {
    // Tesseract reads its word list in lines of at most 500 bytes.
    if (word.empty() || word.size() > 400) return false;
    for (char32_t c : Unicode::scalars(word)) {
        if (Unicode::isControlOrFormat(c) || c == 0x2028 || c == 0x2029 || c == 0x85) return false;
    }
    return true;
}

}  // namespace

tesseract::TessBaseAPI& engine(const Configuration& configuration) {
    auto& cache = threadEngines().engines;
    for (auto it = cache.begin(); it != cache.end(); ++it) {
        if (it->configuration == configuration) {
            cache.splice(cache.begin(), cache, it);
            return *cache.front().api;
        }
    }
    // Loaded before anything is dropped, so a failed load leaves the cache
    // as it was.
    Loaded fresh{configuration, load(configuration)};
    cache.push_front(std::move(fresh));
    while (cache.size() > enginesPerThread) cache.pop_back();
    return *cache.front().api;
}

uint64_t loadCount() { return loads.load(std::memory_order_relaxed); }

uint64_t threadLoadCount() { return threadLoads; }

void releaseThreadEngines() { threadEngines().engines.clear(); }

UserWordsFile::UserWordsFile(const std::vector<std::string>& words, const std::filesystem::path& parent) {
    std::string folderTemplate = (parent / "velmora-words-XXXXXX").string();
    if (!::mkdtemp(folderTemplate.data())) {
        throw RecognizerError("cannot make a folder for the custom words");
    }
    folder_ = folderTemplate;
    file_ = folder_ / "user-words";
    std::string content;
    for (const std::string& word : words) {
        if (acceptableWord(word)) content += word + "\n";
    }
    UniqueFD fd(::open(file_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd) {
        ::rmdir(folder_.c_str());
        throw RecognizerError("cannot write the custom words");
    }
    try {
        FileIO::writeAll(fd.get(), reinterpret_cast<const uint8_t*>(content.data()), content.size());
    } catch (...) {
        fd.reset();
        ::unlink(file_.c_str());
        ::rmdir(folder_.c_str());
        throw RecognizerError("cannot write the custom words");
    }
}

UserWordsFile::~UserWordsFile() {
    // Nothing else ever lives here; removal errors have nowhere to go from a
    // destructor, and a leftover private folder holds only the word list.
    ::unlink(file_.c_str());
    ::rmdir(folder_.c_str());
}

}  // namespace velmora::TesseractEngines
