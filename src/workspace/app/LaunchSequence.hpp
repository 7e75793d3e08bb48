#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "history/CaptureLifecycle.hpp"

namespace velmora {

class AppServices;

// What the application does once, before its first window: clean up the work
// folders an earlier run left, put interrupted captures into the history and
// held Trash files back, say so in the start-up notice, clean up download
// staging, then open the windows. Every step is a function given to it, so
// the order and the failure rule are tested without a display; the
// application gives it the real ones (real()).
//
// The chain of steps 2 to 6 (the exports clean-up, the history, the captures
// and printing clean-ups) ends at its first failure with the notice
// AppHistory::recoveryFailedNotice; the launch itself never fails and always
// opens its windows last. Runs on the main thread, synchronously.
class LaunchSequence {
public:
    struct Steps {
        // Step 1: true skips the whole launch (no clean-up, no window). The
        // application passes none: it reads no environment of its own.
        std::function<bool()> skip;
        // Steps 2 and 6: one group of owned work folders; throws on failure.
        std::function<void(const std::filesystem::path&)> cleanupWork;
        std::filesystem::path exports, captures, printing;
        // Steps 3 to 5: opens the history, recovers the journals, sets the
        // notice from the counts and puts held files back. None when the
        // history or the recovery failed.
        std::function<std::optional<CaptureLifecycle::Recovery>()> recoverHistory;
        // Step 8: the approved output folders, and the download staging
        // clean-up of one of them (throws on failure).
        std::function<std::vector<std::filesystem::path>()> roots;
        std::function<void(const std::filesystem::path&)> cleanupStaging;
        // Step 9.
        std::function<void()> openWindows;
        // Step 10: gives the desktop's own window close its key, so that
        // Ctrl+W stays with the close command of the menu.
        std::function<void()> fixCloseKey;
    };

    explicit LaunchSequence(Steps steps) : steps_(std::move(steps)) {}

    // The application's steps on the services' storage root; the caller adds
    // the window step.
    static Steps real(AppServices& services);

    // Runs every step once, in order.
    void run();

private:
    bool runChain();

    Steps steps_;
};

}  // namespace velmora
