#include "workspace/app/LaunchSequence.hpp"

#include "capture/DownloadStage.hpp"
#include "foundation/OwnedWorkspace.hpp"
#include "history/CaptureHistory.hpp"
#include "workspace/model/AppServices.hpp"

namespace velmora {

LaunchSequence::Steps LaunchSequence::real(AppServices& services) {
    Steps steps;
    const auto work = services.runtime.storage / "work";
    steps.cleanupWork = [](const std::filesystem::path& root) { OwnedWorkspace::cleanup(root); };
    steps.exports = work / "exports";
    steps.captures = work / "captures";
    steps.printing = work / "printing";
    steps.recoverHistory = [lifecycle = work / "lifecycle"] { return HistoryLaunch::run(lifecycle); };
    steps.roots = [&services] { return services.access.authorizedRoots(); };
    // Its counts tell the user nothing: what it could not empty stays for
    // the next launch.
    steps.cleanupStaging = [](const std::filesystem::path& root) { DownloadStage::cleanup(root); };
    return steps;
}

bool LaunchSequence::runChain() {
    try {
        steps_.cleanupWork(steps_.exports);
        if (!steps_.recoverHistory()) return false;
        steps_.cleanupWork(steps_.captures);
        steps_.cleanupWork(steps_.printing);
        return true;
    } catch (...) {
        // Whatever failed stays where it is for the next launch; the notice
        // tells the user, and the error itself adds nothing for them.
        return false;
    }
}

void LaunchSequence::run() {
    if (steps_.skip && steps_.skip()) return;
    if (!runChain()) AppHistory::startupNotice().set(AppHistory::recoveryFailedNotice);
    if (steps_.roots && steps_.cleanupStaging) {
        for (const auto& root : steps_.roots()) {
            try {
                steps_.cleanupStaging(root);
            } catch (...) {
                // One folder that cannot be cleaned (gone, unreadable) must
                // not keep the others from their clean-up.
            }
        }
    }
    if (steps_.openWindows) steps_.openWindows();
    if (steps_.fixCloseKey) steps_.fixCloseKey();
}

}  // namespace velmora
