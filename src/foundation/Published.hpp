#pragma once

#include <utility>

#include <sigc++/sigc++.h>

namespace velmora {

// An observable field: every assignment through set() notifies once, after
// the value is in place.
template <typename T>
class Published {
public:
    Published() = default;
    explicit Published(T initial) : value_(std::move(initial)) {}

    const T& get() const noexcept { return value_; }
    operator const T&() const noexcept { return value_; }

    void set(T v) {
        value_ = std::move(v);
        changed_.emit(value_);
    }

    sigc::signal<void(const T&)>& changed() noexcept { return changed_; }

private:
    T value_{};
    sigc::signal<void(const T&)> changed_;
};

}  // namespace velmora
