#include "recognition/engine/RecognitionProgress.hpp"

#include <tesseract/baseapi.h>
#include <tesseract/ocrclass.h>

#include <algorithm>
#include <cmath>

#include "foundation/CancellationError.hpp"

namespace velmora::RecognitionProgress {

namespace {

thread_local Scope* current = nullptr;
thread_local LookObserver* observer = nullptr;

// Tesseract's monitor with the scope it reports to.
struct Monitor : tesseract::ETEXT_DESC {
    Scope* scope = nullptr;
    bool first = false;
    bool stopped = false;
};

}  // namespace

Scope::Scope(Watch watch) : watch_(std::move(watch)), outer_(current) { current = this; }

Scope::~Scope() { current = outer_; }

int recognize(tesseract::TessBaseAPI& api) {
    Scope* scope = current;
    if (!scope) return api.Recognize(nullptr);
    Monitor monitor;
    monitor.scope = scope;
    monitor.first = scope->readings_++ == 0;
    monitor.cancel_this = &monitor;
    monitor.cancel = [](void* data, int) {
        auto* m = static_cast<Monitor*>(data);
        looked();
        if (!m->stopped && m->scope->watch_.stop) m->stopped = m->scope->watch_.stop();
        return m->stopped;
    };
    // Called as each word is read; only a whole percent more is told.
    monitor.progress_callback2 = [](tesseract::ETEXT_DESC* base, int, int, int, int) {
        auto* m = static_cast<Monitor*>(base);
        Scope& s = *m->scope;
        const double fraction = std::clamp(m->progress / 100.0, 0.0, 1.0);
        if (m->first && s.watch_.progress && std::floor(fraction * 100) > std::floor(s.reached_ * 100)) {
            s.reached_ = fraction;
            s.watch_.progress(fraction);
        }
        return true;
    };
    const int result = api.Recognize(&monitor);
    if (monitor.stopped) throw CancellationError();
    if (monitor.first && scope->watch_.progress && scope->reached_ < 1) {
        scope->reached_ = 1;
        scope->watch_.progress(1);
    }
    return result;
}

LookObserver::LookObserver(std::function<void()> looked) : looked_(std::move(looked)), outer_(observer) {
    observer = this;
}

LookObserver::~LookObserver() { observer = outer_; }

void looked() {
    if (observer && observer->looked_) observer->looked_();
}

void stopIfAsked() {
    looked();
    const Scope* scope = current;
    if (scope && scope->watch_.stop && scope->watch_.stop()) throw CancellationError();
}

void report(double fraction) {
    Scope* scope = current;
    if (!scope || !scope->watch_.progress) return;
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction <= scope->reached_) return;
    scope->reached_ = fraction;
    scope->watch_.progress(fraction);
}

}  // namespace velmora::RecognitionProgress
