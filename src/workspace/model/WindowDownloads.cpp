// The second half of the download-start handler: the download becomes a
// browser download of its tab, which answers the engine from then on. Its
// changes are announced first to the tab, then to the model, each only
// while it still exists, so a view of the window follows its progress.

#include "workspace/model/AppServices.hpp"
#include "workspace/model/WindowModel.hpp"

namespace velmora {

void WindowModel::listDownload(WindowModel& model, const std::shared_ptr<BrowserTab>& tab,
                               WebKitDownload* download) {
    auto made = BrowserDownload::make(download, tab->id, model.id, tab->isPrivate(), model.services.downloadServices());
    made->changed.connect([weakModel = model.weak_from_this(), weakTab = std::weak_ptr<BrowserTab>(tab)] {
        if (auto tab = weakTab.lock()) tab->changed.emit();
        if (auto model = weakModel.lock()) model->changed.emit();
    });
    std::vector<std::shared_ptr<BrowserDownload>> list = tab->downloads.get();
    list.push_back(std::move(made));
    tab->downloads = std::move(list);
}

}  // namespace velmora
