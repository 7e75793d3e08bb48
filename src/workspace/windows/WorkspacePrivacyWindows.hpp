#pragma once

// The windows of a window set as the privacy section (sections/) sees them,
// through its port: the section lives below the set and cannot name it.

#include <memory>
#include <vector>

#include "settingsui/PrivacyPorts.hpp"

namespace velmora {

class WorkspaceWindows;

// The tabs it hands out hold their window's model and the tab weakly, so a
// window or a tab closed while a deletion waits is skipped.
class WorkspacePrivacyWindows final : public PrivacyWindows {
public:
    // The set of the process (WorkspaceWindows::shared()), looked up at
    // each use: no windows while there is none.
    WorkspacePrivacyWindows() = default;
    // That set, which outlives this.
    explicit WorkspacePrivacyWindows(WorkspaceWindows& windows) : windows_(&windows) {}

    // In the set's window order.
    std::vector<std::shared_ptr<PrivacyTab>> tabs() const override;
    void saveSnapshot() override;

private:
    WorkspaceWindows* set() const;

    WorkspaceWindows* windows_ = nullptr;
};

}  // namespace velmora
