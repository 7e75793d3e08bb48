#pragma once

#include <utility>

#include <sigc++/sigc++.h>

namespace velmora {

// An observable value with a signal of its own: every assignment through
// set() notifies once, after the value is in place. (Published fields of a
// model share their owner's one signal instead.)
template <typename T>
class ObservableValue {
public:
    ObservableValue() = default;
    explicit ObservableValue(T initial) : value_(std::move(initial)) {}

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
