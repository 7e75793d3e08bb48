#pragma once

namespace velmora {

// What a tab asks of a download begun in it: whether it still runs (so the
// tab is busy and may not close) and how to stop it. The browser download
// implements it; the window appends each one to its tab.
class TabDownload {
public:
    virtual ~TabDownload() = default;
    // True from the choice of a destination until the file is published or
    // the download has ended.
    virtual bool active() const = 0;
    virtual void cancel() = 0;
};

}  // namespace velmora
