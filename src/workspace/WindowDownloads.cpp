// The second half of the download-start handler: the download recorded on
// its tab. The record announces each change of its state first to the tab,
// then to the model, each only while it still exists, so a view of the
// window follows the download's progress.

#include "workspace/WindowModel.hpp"

namespace velmora {

WindowModel::DownloadMaker& WindowModel::downloadMaker() {
    static DownloadMaker maker;
    return maker;
}

void WindowModel::listDownload(WindowModel& model, const std::shared_ptr<BrowserTab>& tab,
                               WebKitDownload* download) {
    const DownloadMaker& maker = downloadMaker();
    if (!maker) {
        // Left alone, the engine would save it into the user's download
        // folder by itself.
        webkit_download_cancel(download);
        return;
    }
    std::function<void()> announce = [weakModel = model.weak_from_this(), weakTab = std::weak_ptr<BrowserTab>(tab)] {
        if (auto tab = weakTab.lock()) tab->changed.emit();
        if (auto model = weakModel.lock()) model->changed.emit();
    };
    std::shared_ptr<BrowserDownload> made = maker(download, *tab, model, std::move(announce));
    if (!made) return;
    std::vector<std::shared_ptr<BrowserDownload>> list = tab->downloads.get();
    list.push_back(std::move(made));
    tab->downloads = std::move(list);
}

}  // namespace velmora
