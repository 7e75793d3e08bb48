#include "support/web/WebTestWindow.hpp"

#include "foundation/GLibError.hpp"
#include "support/MainLoop.hpp"

namespace velmora::test {

WebTestWindow::WebTestWindow(Gtk::Widget& content, int width, int height) : content_(content) {
    window_.set_default_size(width, height);
    window_.set_child(content_);
    window_.present();
}

WebTestWindow::~WebTestWindow() {
    window_.unset_child();
    window_.destroy();
}

bool WebTestWindow::waitUntilShown(std::chrono::milliseconds bound) {
    return spinUntil([&] { return window_.get_mapped() && content_.get_width() > 0; }, bound);
}

namespace {

std::string text(JSCValue* value) {
    char* chars = jsc_value_to_string(value);
    std::string out = chars ? chars : "";
    g_free(chars);
    g_object_unref(value);
    return out;
}

}  // namespace

Task<std::string> evaluate(WebKitWebView* view, std::string script) {
    auto keep = GObjectRef<WebKitWebView>::ref(view);
    auto result = co_await awaitAsync([&keep, &script](GAsyncReadyCallback callback, gpointer data) {
        webkit_web_view_evaluate_javascript(keep.get(), script.c_str(), static_cast<gssize>(script.size()), nullptr,
                                            nullptr, nullptr, callback, data);
    });
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_evaluate_javascript_finish(keep.get(), result.get(), &error);
    GLibError::check(error);
    co_return text(value);
}

Task<std::string> callAsync(WebKitWebView* view, std::string body) {
    auto keep = GObjectRef<WebKitWebView>::ref(view);
    auto result = co_await awaitAsync([&keep, &body](GAsyncReadyCallback callback, gpointer data) {
        webkit_web_view_call_async_javascript_function(keep.get(), body.c_str(), static_cast<gssize>(body.size()),
                                                       nullptr, nullptr, nullptr, nullptr, callback, data);
    });
    GError* error = nullptr;
    JSCValue* value = webkit_web_view_call_async_javascript_function_finish(keep.get(), result.get(), &error);
    GLibError::check(error);
    co_return text(value);
}

}  // namespace velmora::test
