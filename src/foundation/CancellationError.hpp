#pragma once

#include <exception>

namespace velmora {

// The one error a cancelled task ends with. It is not a BrindlexError: work
// that stops because it was asked to is no failure, and every caller that
// reports to a user maps it to the `cancelled` case itself.
class CancellationError : public std::exception {
public:
    const char* what() const noexcept override { return "the task was cancelled"; }
};

}  // namespace velmora
