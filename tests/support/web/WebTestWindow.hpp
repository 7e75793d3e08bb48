#pragma once

#include <gtkmm/window.h>
#include <webkit/webkit.h>

#include <chrono>
#include <string>

#include "foundation/Task.hpp"

namespace velmora::test {

// A presented toplevel window holding one widget (a session's frame): a
// hidden view runs no animation frames and lays nothing out.
class WebTestWindow {
public:
    explicit WebTestWindow(Gtk::Widget& content, int width = 1024, int height = 768);
    ~WebTestWindow();
    WebTestWindow(const WebTestWindow&) = delete;
    WebTestWindow& operator=(const WebTestWindow&) = delete;

    Gtk::Window& window() noexcept { return window_; }
    // Waits until the window is mapped and its content has a size.
    bool waitUntilShown(std::chrono::milliseconds bound = std::chrono::seconds(10));

private:
    Gtk::Window window_;
    Gtk::Widget& content_;
};

// Runs a script in the view's main frame; its result as text (the script's
// value converted by JavaScript's String()). A script error is a GLibError.
Task<std::string> evaluate(WebKitWebView* view, std::string script);
// Runs a function body (with `return`, may await promises) in the main frame.
Task<std::string> callAsync(WebKitWebView* view, std::string body);

}  // namespace velmora::test
