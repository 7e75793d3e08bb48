#pragma once

// The place of one tab's web view in the window: the frame its session made
// (BrowserSession::frame(), which holds the view), given the surface's whole
// area. The surface makes no view, drives none, and never takes a frame from
// another parent: a frame can have one parent, so a tab has one surface for
// its whole life, and building the pane again gives that same surface the
// same session, which changes nothing: the page, its scroll position and its
// history stay as they were.
//
// The session owns the frame; the surface holds the session weakly. A
// session that goes first takes its frame out of the surface (WebFrame does
// that), and a surface that goes first gives the frame back unplaced.
// Main thread only.

#include <memory>

#include <gtkmm/widget.h>

#include "webcapture/BrowserSession.hpp"

namespace velmora {

class WebSurface : public Gtk::Widget {
public:
    // Places the session's frame. Throws std::logic_error when the frame
    // already has a parent.
    explicit WebSurface(const std::shared_ptr<BrowserSession>& session);
    ~WebSurface() override;
    WebSurface(const WebSurface&) = delete;
    WebSurface& operator=(const WebSurface&) = delete;

    // The pane built again: the same session keeps everything as it is;
    // another takes the place of the first (its frame unplaced), under the
    // same rule as the constructor.
    void show(const std::shared_ptr<BrowserSession>& session);

    // The session shown; null once it has gone.
    std::shared_ptr<BrowserSession> session() const { return session_.lock(); }
    // The frame in the surface; null once its session has gone.
    WebFrame* frame() const;

private:
    void place(BrowserSession& session);
    void unplace();

    std::weak_ptr<BrowserSession> session_;
};

}  // namespace velmora
