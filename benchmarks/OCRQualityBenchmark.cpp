// How well the standard pass reads the evaluation set, before and after its
// re-reads: per page kind the character error rate with white space removed
// (order counted, and order ignored), pages that came back empty, and
// seconds per page. "before" is the automatic page layout alone, as the pass
// first read pages; "after" is the whole pass. For English and mixed pages it
// also compares the default languages with "en-US, ja-JP" on the English
// text and with "ja-JP" alone on the Japanese text.
//
// Arguments narrow the set: kind=table,form dpi=200 variant=clean.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/Unicode.hpp"
#include "recognition/OCREngine.hpp"
#include "recognition/engine/OCRSettings.hpp"
#include "support/EvaluationPages.hpp"
#include "support/TextPages.hpp"

using namespace velmora;

namespace {

std::vector<std::string> listOf(const std::string& value) {
    std::vector<std::string> out;
    std::stringstream in(value);
    std::string item;
    while (std::getline(in, item, ',')) out.push_back(item);
    return out;
}

struct Reading {
    std::string text;
    double seconds = 0;
};

Reading read(const test::EvaluationPage& page, const std::vector<std::string>& languages,
             OCREngine::Reading reading) {
    OCRSettings settings;
    settings.languages = languages;
    const TextRequest request = OCREngine::request(settings);
    const auto start = std::chrono::steady_clock::now();
    const auto observations = OCREngine::perform(request, page.image, 1, reading);
    Reading out;
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const auto& o : observations) {
        if (!out.text.empty()) out.text += '\n';
        out.text += o.text;
    }
    return out;
}

// Sums over pages, weighted by the length of their truth.
struct Tally {
    double length = 0;
    double errors = 0;
    double orderFreeErrors = 0;
    double seconds = 0;
    int pages = 0;
    int empty = 0;
    int exact = 0;

    void add(const std::string& truth, const Reading& r) {
        const std::string expected = test::withoutWhiteSpace(truth);
        const std::string actual = test::withoutWhiteSpace(r.text);
        const double n = static_cast<double>(Unicode::scalars(expected).size());
        length += n;
        errors += n * test::characterErrorRate(expected, actual);
        orderFreeErrors += n * test::orderFreeErrorRate(expected, actual);
        seconds += r.seconds;
        pages += 1;
        if (actual.empty() && !expected.empty()) empty += 1;
        if (actual == expected) exact += 1;
    }
    double rate() const { return length > 0 ? errors / length : 0; }
    double orderFreeRate() const { return length > 0 ? orderFreeErrors / length : 0; }
};

struct PartTally {
    double length = 0;
    double errors = 0;
    void add(const std::string& expected, const std::string& actual) {
        const double n = static_cast<double>(Unicode::scalars(expected).size());
        if (n == 0) return;
        length += n;
        errors += n * test::characterErrorRate(expected, actual);
    }
    double rate() const { return length > 0 ? errors / length : 0; }
};

}  // namespace

int main(int argc, char** argv) {
    test::EvaluationFilter filter;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("kind=", 0) == 0) filter.kinds = listOf(arg.substr(5));
        if (arg.rfind("variant=", 0) == 0) filter.variants = listOf(arg.substr(8));
        if (arg.rfind("dpi=", 0) == 0) {
            for (const std::string& d : listOf(arg.substr(4))) filter.dpis.push_back(std::stoi(d));
        }
        if (arg == "verbose") verbose = true;
    }
    const std::vector<test::EvaluationPage> pages = test::evaluationSet(filter);
    const std::vector<std::string> defaults = OCRSettings{}.languages;
    std::printf("%zu pages; default languages, one thread, engines loaded before timing\n", pages.size());

    // Engines are loaded once per thread; load them before any timing.
    {
        test::EvaluationPage warm = test::shortLines().front();
        read(warm, defaults, OCREngine::Reading::complete);
        read(warm, {"en-US", "ja-JP"}, OCREngine::Reading::complete);
        read(warm, {"ja-JP"}, OCREngine::Reading::complete);
    }

    std::vector<std::string> kinds;
    std::map<std::string, Tally> before, after;
    std::map<std::string, PartTally> englishDefault, englishEnglishFirst, japaneseDefault, japaneseAlone,
        japaneseEnglishFirst, englishEnglishFirstBefore, japaneseEnglishFirstBefore, englishDefaultBefore,
        japaneseDefaultBefore;
    std::map<std::string, double> englishFirstSeconds, japaneseAloneSeconds;
    for (const test::EvaluationPage& page : pages) {
        if (std::find(kinds.begin(), kinds.end(), page.kind) == kinds.end()) kinds.push_back(page.kind);
        const std::string truth = page.truth();
        const Reading b = read(page, defaults, OCREngine::Reading::layoutOnly);
        const Reading a = read(page, defaults, OCREngine::Reading::complete);
        before[page.kind].add(truth, b);
        after[page.kind].add(truth, a);
        if (verbose) {
            std::printf("%-24s before %.3f after %.3f  %.2fs %.2fs\n", page.name.c_str(),
                        test::characterErrorRate(test::withoutWhiteSpace(truth), test::withoutWhiteSpace(b.text)),
                        test::characterErrorRate(test::withoutWhiteSpace(truth), test::withoutWhiteSpace(a.text)),
                        b.seconds, a.seconds);
            std::printf("%s\n----\n", a.text.c_str());
        }
        if (page.kind == "english" || page.kind == "mixed" || page.kind == "prose") {
            const Reading englishFirst = read(page, {"en-US", "ja-JP"}, OCREngine::Reading::complete);
            const Reading japaneseOnly = read(page, {"ja-JP"}, OCREngine::Reading::complete);
            const Reading englishFirstBefore = read(page, {"en-US", "ja-JP"}, OCREngine::Reading::layoutOnly);
            // An English page is English throughout, punctuation too.
            auto english = [&](const std::string& text) {
                return page.kind == "english" ? test::withoutWhiteSpace(text) : test::latinPart(text);
            };
            englishDefault[page.kind].add(english(truth), english(a.text));
            englishEnglishFirst[page.kind].add(english(truth), english(englishFirst.text));
            japaneseDefault[page.kind].add(test::japanesePart(truth), test::japanesePart(a.text));
            japaneseAlone[page.kind].add(test::japanesePart(truth), test::japanesePart(japaneseOnly.text));
            japaneseEnglishFirst[page.kind].add(test::japanesePart(truth), test::japanesePart(englishFirst.text));
            englishEnglishFirstBefore[page.kind].add(english(truth), english(englishFirstBefore.text));
            englishDefaultBefore[page.kind].add(english(truth), english(b.text));
            japaneseDefaultBefore[page.kind].add(test::japanesePart(truth), test::japanesePart(b.text));
            japaneseEnglishFirstBefore[page.kind].add(test::japanesePart(truth),
                                                      test::japanesePart(englishFirstBefore.text));
            englishFirstSeconds[page.kind] += englishFirst.seconds;
            japaneseAloneSeconds[page.kind] += japaneseOnly.seconds;
        }
    }

    std::printf("\n%-11s %5s | %-27s | %-27s | %s\n", "kind", "pages", "before: CER  no-order  s/pg",
                "after: CER  no-order  s/pg", "empty before/after, exact before/after");
    for (const std::string& kind : kinds) {
        const Tally& b = before[kind];
        const Tally& a = after[kind];
        std::printf("%-11s %5d | %6.2f%% %8.2f%% %6.2f  | %6.2f%% %8.2f%% %6.2f  | %d/%d, %d/%d\n", kind.c_str(), b.pages,
                    100 * b.rate(), 100 * b.orderFreeRate(), b.seconds / b.pages, 100 * a.rate(),
                    100 * a.orderFreeRate(), a.seconds / a.pages, b.empty, a.empty, b.exact, a.exact);
    }
    Tally allBefore, allAfter;
    for (const std::string& kind : kinds) {
        allBefore.seconds += before[kind].seconds;
        allBefore.pages += before[kind].pages;
        allAfter.seconds += after[kind].seconds;
        allAfter.pages += after[kind].pages;
    }
    std::printf("all pages: %.2f pages/s before, %.2f pages/s after\n", allBefore.pages / allBefore.seconds,
                allAfter.pages / allAfter.seconds);
    // Tables, forms and receipts together, weighted by their length.
    auto tablesOf = [&](std::map<std::string, Tally>& tallies) {
        Tally sum;
        for (const char* kind : {"table", "form", "receipt"}) {
            if (!tallies.contains(kind)) continue;
            sum.length += tallies[kind].length;
            sum.errors += tallies[kind].errors;
            sum.orderFreeErrors += tallies[kind].orderFreeErrors;
        }
        return sum;
    };
    const Tally tablesBefore = tablesOf(before), tablesAfter = tablesOf(after);
    if (tablesAfter.length > 0) {
        std::printf("tables, forms and receipts: before %.2f%% (ignoring order %.2f%%), after %.2f%% (%.2f%%)\n",
                    100 * tablesBefore.rate(), 100 * tablesBefore.orderFreeRate(), 100 * tablesAfter.rate(),
                    100 * tablesAfter.orderFreeRate());
    }
    if (!englishDefault.empty()) {
        std::printf("\nlanguages          English CER (letters and digits on mixed pages)  Japanese CER (kana and kanji)"
                    "        seconds per page\n");
        std::printf("%-18s %-18s %-12s   %-10s %-12s %-10s   %-7s %-12s %s\n", "kind", "default", "en-US,ja-JP",
                    "default", "en-US,ja-JP", "ja-JP", "default", "en-US,ja-JP", "ja-JP");
        for (const auto& [kind, tally] : englishDefault) {
            const int n = after[kind].pages;
            std::printf("%-18s %6.2f%%            %6.2f%%        %6.2f%%    %6.2f%%\n", (kind + " before").c_str(),
                        100 * englishDefaultBefore[kind].rate(), 100 * englishEnglishFirstBefore[kind].rate(),
                        100 * japaneseDefaultBefore[kind].rate(), 100 * japaneseEnglishFirstBefore[kind].rate());
            std::printf("%-18s %6.2f%%            %6.2f%%        %6.2f%%    %6.2f%%      %6.2f%%     %5.2f   %5.2f        "
                        "%5.2f\n",
                        (kind + " after").c_str(), 100 * tally.rate(), 100 * englishEnglishFirst[kind].rate(),
                        100 * japaneseDefault[kind].rate(), 100 * japaneseEnglishFirst[kind].rate(),
                        100 * japaneseAlone[kind].rate(), after[kind].seconds / n, englishFirstSeconds[kind] / n,
                        japaneseAloneSeconds[kind] / n);
        }
    }
    return 0;
}
