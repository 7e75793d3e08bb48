#pragma once

#include <glib-object.h>

#include <utility>

namespace velmora {

// Holds one strong reference to a GObject and drops it exactly once.
template <typename T>
class GObjectRef {
public:
    GObjectRef() = default;
    GObjectRef(std::nullptr_t) {}
    ~GObjectRef() { reset(); }

    // Takes over a reference the caller owns (the result of a *_new or *_finish call).
    static GObjectRef adopt(T* object) {
        GObjectRef r;
        r.object_ = object;
        return r;
    }
    // Adds a reference of its own.
    static GObjectRef ref(T* object) {
        GObjectRef r;
        r.object_ = object ? static_cast<T*>(g_object_ref(object)) : nullptr;
        return r;
    }
    // Sinks a floating reference (a new widget) or adds one.
    static GObjectRef sink(T* object) {
        GObjectRef r;
        r.object_ = object ? static_cast<T*>(g_object_ref_sink(object)) : nullptr;
        return r;
    }

    GObjectRef(const GObjectRef& o) : object_(o.object_ ? static_cast<T*>(g_object_ref(o.object_)) : nullptr) {}
    GObjectRef(GObjectRef&& o) noexcept : object_(std::exchange(o.object_, nullptr)) {}
    GObjectRef& operator=(GObjectRef o) noexcept {
        std::swap(object_, o.object_);
        return *this;
    }

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }
    T* release() noexcept { return std::exchange(object_, nullptr); }
    void reset() noexcept {
        if (T* o = std::exchange(object_, nullptr)) g_object_unref(o);
    }

    friend bool operator==(const GObjectRef& a, const GObjectRef& b) { return a.object_ == b.object_; }

private:
    T* object_ = nullptr;
};

// One signal handler on one instance, disconnected exactly once (by
// disconnect() or when the holder goes away). The instance is referenced
// while the handler is connected.
class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id) : instance_(GObjectRef<GObject>::ref(G_OBJECT(instance))), id_(id) {}
    SignalConnection(SignalConnection&& o) noexcept : instance_(std::move(o.instance_)), id_(std::exchange(o.id_, 0)) {}
    SignalConnection& operator=(SignalConnection&& o) noexcept {
        if (this != &o) {
            disconnect();
            instance_ = std::move(o.instance_);
            id_ = std::exchange(o.id_, 0);
        }
        return *this;
    }
    ~SignalConnection() { disconnect(); }

    void disconnect() noexcept {
        if (id_ && instance_) g_signal_handler_disconnect(instance_.get(), id_);
        id_ = 0;
        instance_.reset();
    }
    bool connected() const noexcept { return id_ != 0; }

private:
    GObjectRef<GObject> instance_;
    gulong id_ = 0;
};

}  // namespace velmora
