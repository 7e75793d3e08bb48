#include "workspace/windows/WorkspacePrivacyWindows.hpp"

#include "workspace/model/WindowModel.hpp"
#include "workspace/windows/WorkspaceWindows.hpp"

namespace velmora {

namespace {

class WindowTab final : public PrivacyTab {
public:
    WindowTab(const std::shared_ptr<WindowModel>& model, const std::shared_ptr<BrowserTab>& tab)
        : model_(model), tab_(tab), id_(tab->id), private_(tab->isPrivate()) {}

    UUID id() const override { return id_; }
    bool isPrivate() const override { return private_; }
    std::optional<std::string> currentURL() const override {
        auto tab = tab_.lock();
        if (!tab) return std::nullopt;
        return tab->browser->currentURL.get();
    }
    std::string address() const override {
        auto tab = tab_.lock();
        return tab ? tab->address.get() : std::string();
    }
    bool active() const override {
        auto tab = tab_.lock();
        return tab && !tab->closed() && tab->active();
    }
    void cancel() override {
        if (auto tab = tab_.lock()) tab->cancel();
    }
    void close() override {
        auto model = model_.lock();
        if (model) model->closeTab(id_);
    }

private:
    std::weak_ptr<WindowModel> model_;
    std::weak_ptr<BrowserTab> tab_;
    UUID id_;
    bool private_;
};

}  // namespace

WorkspaceWindows* WorkspacePrivacyWindows::set() const { return windows_ ? windows_ : WorkspaceWindows::shared(); }

std::vector<std::shared_ptr<PrivacyTab>> WorkspacePrivacyWindows::tabs() const {
    std::vector<std::shared_ptr<PrivacyTab>> out;
    WorkspaceWindows* windows = set();
    if (!windows) return out;
    for (const UUID& id : windows->order()) {
        auto found = windows->windows().find(id);
        if (found == windows->windows().end()) continue;
        const std::shared_ptr<WindowModel>& model = found->second->model();
        for (const auto& tab : model->tabs.get()) out.push_back(std::make_shared<WindowTab>(model, tab));
    }
    return out;
}

void WorkspacePrivacyWindows::saveSnapshot() {
    if (WorkspaceWindows* windows = set()) windows->saveSnapshot();
}

}  // namespace velmora
