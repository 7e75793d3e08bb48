#pragma once

// What the caller of a page's recognition learns of it while it runs, and
// how it gives the page up: the recogniser reports how far its reading of
// the page has come and asks, word by word, whether to stop. The watch
// belongs to the calling thread (recognition runs on the worker that
// installed it), so nothing is shared between pages read at once. Without a
// watch nothing is reported and nothing stops.
//
// Tesseract measures its word recognition only; its layout analysis, done
// first, reports nothing. The page's first reading (its layout and words)
// is the part that grows with the page: its progress is the page's, and the
// re-reads of parts that follow it report nothing more.

#include <functional>

namespace tesseract {
class TessBaseAPI;
}

namespace velmora::RecognitionProgress {

struct Watch {
    // How far the first reading of the page has come, 0 to 1, never going
    // back; called on the recognising thread.
    std::function<void(double fraction)> progress;
    // True once the page is to be given up: the reading stops at its next
    // word and the recognition throws CancellationError.
    std::function<bool()> stop;
};

// The watch of the calling thread while it lives; scopes nest.
class Scope {
public:
    explicit Scope(Watch watch);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

private:
    friend int recognize(tesseract::TessBaseAPI& api);
    friend void report(double fraction);
    friend void stopIfAsked();
    Watch watch_;
    Scope* outer_;
    // Readings of the page so far, and the furthest fraction reported.
    int readings_ = 0;
    double reached_ = 0;
};

// api.Recognize under the calling thread's watch: the first reading's
// progress reported, a stop honoured by throwing CancellationError. Returns
// what Recognize returns.
int recognize(tesseract::TessBaseAPI& api);

// Throws CancellationError once the calling thread's watch asks to stop;
// nothing without a watch. Tesseract looks word by word only while it reads
// words: the steps of a reading around and after that (the lines taken out of
// a reading, the re-reads of parts, the checks of the ink) look here, so that
// a page is given up soon at any point.
void stopIfAsked();

// Told on the calling thread each time the reading looks whether to stop
// (stopIfAsked, and Tesseract's check between words under a watch), so that
// a measurement can find the longest stretch in which nothing looks. Without
// one installed, a look costs a test of one pointer. Scopes nest.
class LookObserver {
public:
    explicit LookObserver(std::function<void()> looked);
    ~LookObserver();
    LookObserver(const LookObserver&) = delete;
    LookObserver& operator=(const LookObserver&) = delete;

private:
    friend void looked();
    std::function<void()> looked_;
    LookObserver* outer_;
};

// Tells the calling thread's look observer of a look; nothing without one.
void looked();

// For a recogniser that reads without Tesseract: tells the calling thread's
// watch how far the page has come (never back); nothing without a watch.
void report(double fraction);

}  // namespace velmora::RecognitionProgress
