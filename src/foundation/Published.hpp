#pragma once

#include <sigc++/sigc++.h>

#include <utility>

namespace velmora {

// A field that views observe: every assignment, changed or not, stores the
// value and then emits the owner's one `changed` signal.
template <typename T>
class Published {
public:
    Published(sigc::signal<void()>& changed, T initial) : changed_(changed), value_(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    Published& operator=(T value) {
        value_ = std::move(value);
        changed_.emit();
        return *this;
    }

    // Stores without notifying: for an owner that changes several fields
    // as one step and then emits its signal once, so that no observer sees
    // the fields half-changed.
    void store(T value) { value_ = std::move(value); }
    // Changes the value in place and notifies: for a large value of which a
    // step changes a small part.
    template <typename Change>
    void update(Change&& change) {
        change(value_);
        changed_.emit();
    }

    const T& get() const noexcept { return value_; }
    operator const T&() const noexcept { return value_; }
    const T* operator->() const noexcept { return &value_; }

    friend bool operator==(const Published& a, const T& b) { return a.value_ == b; }

private:
    sigc::signal<void()>& changed_;
    T value_;
};

}  // namespace velmora
