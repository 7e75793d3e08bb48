#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>

#include "ControllerFixtures.hpp"
#include "foundation/OutputRoots.hpp"
#include "foundation/SettingsStore.hpp"
#include "history/CaptureHistory.hpp"
#include "support/MainLoop.hpp"

namespace velmora {

// Hands reports to the run's main-thread handlers as the run's thread would,
// and reads the passwords the controller keeps.
class QueueRunProbe {
public:
    static void deliver(QueueController& c, QueueSnapshot s, const UUID& generation) {
        c.deliverProgress(std::move(s), generation);
    }
    static void read(QueueController& c, const UUID& input, int64_t page, double fraction, const UUID& generation) {
        c.deliverReading(input, page, fraction, generation);
    }
    static const std::map<UUID, std::string>& unlocked(const QueueController& c) { return c.unlockedPasswords; }
};

namespace test {

// The recogniser of the fake pages, held at a gate: each page waits until
// the test lets it through (or opens the gate for good), and every page
// recognised is counted by number. Shared by the engines of a test, so it
// outlives each of them.
class PageGate {
public:
    // Lets n more pages through.
    void allow(int n) {
        std::lock_guard lock(m_);
        allowed_ += n;
        cv_.notify_all();
    }
    void open() {
        std::lock_guard lock(m_);
        open_ = true;
        cv_.notify_all();
    }
    // Waits (bounded) until n pages are held at the gate.
    bool held(int n, std::chrono::seconds bound = std::chrono::seconds(20)) {
        std::unique_lock lock(m_);
        return cv_.wait_for(lock, bound, [&] { return waiting_ >= n; });
    }
    std::map<int64_t, int> counts() const {
        std::lock_guard lock(m_);
        return counts_;
    }
    // Pages come back without text.
    bool blank = false;
    // Pages of these numbers fail with their reason, as the recogniser
    // raises it.
    std::map<int64_t, ErrorCase> failing;
    // A page held at the gate goes on once its run is asked to stop, as a
    // page in flight finishes.
    bool passOnStop = false;

    QueuePorts ports() {
        QueuePorts ports;
        ports.configureEngine = [this](OCRQueueEngine& engine) {
            engine.setRecognizer([this](const RasterImage& image, uint32_t, int64_t page, const OCRSettings&,
                                        const std::function<bool()>& cancelled) {
                {
                    std::unique_lock lock(m_);
                    waiting_ += 1;
                    cv_.notify_all();
                    // A stop request wakes nobody here: looked at now and then.
                    bool stopped = false;
                    while (!open_ && allowed_ == 0 && !stopped) {
                        cv_.wait_for(lock, std::chrono::milliseconds(2));
                        stopped = passOnStop && cancelled();
                    }
                    if (!open_ && !stopped) allowed_ -= 1;
                    waiting_ -= 1;
                    counts_[page] += 1;
                }
                if (const auto f = failing.find(page); f != failing.end()) raise(f->second);
                return PageResult(page, blank ? std::vector<TextRegion>{} : fixedRegions(page), 0.01, image.width(),
                                  image.height());
            });
        };
        return ports;
    }

private:
    mutable std::mutex m_;
    std::condition_variable cv_;
    int allowed_ = 0;
    int waiting_ = 0;
    bool open_ = false;
    std::map<int64_t, int> counts_;
};

// The window's destination for the automatic TXT, as the test answers it:
// queued answers in order (a folder, none, an error, or held until the test
// answers). Records how often it was asked.
class FakeDestination {
public:
    struct Hold {};
    struct Fail {};
    using Answer = std::variant<std::optional<std::filesystem::path>, Hold, Fail>;

    std::deque<Answer> answers;
    int asked = 0;
    std::vector<bool> askFlags;

    QueueController::DestinationProvider provider() {
        return [this](bool ask) { return answer(ask); };
    }
    // Answers the held question.
    void release(std::optional<std::filesystem::path> folder) {
        if (held_) std::exchange(held_, std::nullopt)->resume(std::move(folder));
    }
    bool holding() const { return held_.has_value(); }

private:
    Task<std::optional<std::filesystem::path>> answer(bool ask) {
        asked += 1;
        askFlags.push_back(ask);
        Answer next = answers.empty() ? Answer{std::optional<std::filesystem::path>()} : answers.front();
        if (!answers.empty()) answers.pop_front();
        if (std::holds_alternative<Fail>(next)) raise(ErrorCase::saveFailed);
        if (std::holds_alternative<Hold>(next)) {
            auto wait = awaitCallback<std::optional<std::filesystem::path>>(
                [this](Resumer<std::optional<std::filesystem::path>> r) { held_.emplace(std::move(r)); });
            co_return co_await wait;
        }
        co_return std::get<std::optional<std::filesystem::path>>(next);
    }
    std::optional<Resumer<std::optional<std::filesystem::path>>> held_;
};

// The document locked with qpdf.
inline std::filesystem::path lockPDF(const std::filesystem::path& plain, const std::filesystem::path& locked,
                                     const std::string& password) {
    if (runProgram({"qpdf", "--encrypt", password, "owner-secret", "256", "--", plain.string(), locked.string()}) !=
        0) {
        throw std::runtime_error("qpdf failed");
    }
    return locked;
}

// Roots, a capture history whose approved folder is the output root, and
// the controller's run helpers.
class RunRoots : public ControllerRoots {
public:
    SettingsStore settings{tmp / "storage" / "settings"};
    FixedOutputRoots approved{{tmp / "output"}};
    AppHistory::ScopedEnvironment history{{tmp / "storage", &settings, &approved}};

    RunRoots() { AppHistory::startupNotice().set(AppHistory::initialNotice); }
    ~RunRoots() { AppHistory::startupNotice().set(AppHistory::initialNotice); }

    // A queue without a folder of the files, opened in the controller.
    static std::shared_ptr<OCRQueueEngine> openInMemory(QueueController& c,
                                                        const std::vector<OCRQueueEngine::InputFile>& files) {
        std::shared_ptr<OCRQueueEngine> engine = OCRQueueEngine::create(files, c.currentSettings(), std::nullopt);
        c.ports().configure(*engine);
        c.engine = engine;
        c.snapshot = engine->snapshot();
        c.selectedID = engine->snapshot().inputs.front().id;
        c.page = 1;
        return engine;
    }

    // Starts the run and waits for its end.
    static void runToEnd(QueueController& c) {
        runTask(c.start());
        if (!spinUntil([&] { return !c.busy.get(); }, std::chrono::seconds(60))) {
            throw std::runtime_error("the run did not end within its bound");
        }
    }
};

}  // namespace test
}  // namespace velmora
