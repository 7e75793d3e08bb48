#pragma once

#include <gtest/gtest.h>

#include <functional>

#include "foundation/BrindlexError.hpp"

namespace velmora::test {

// The case a call throws; a call that throws nothing, or something else, fails
// the test.
inline ErrorCase caseOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const BrindlexError& e) {
        return e.errorCase();
    } catch (const std::exception& e) {
        ADD_FAILURE() << "expected a BrindlexError, got: " << e.what();
        return ErrorCase::invalidInput;
    }
    ADD_FAILURE() << "expected a BrindlexError, nothing was thrown";
    return ErrorCase::invalidInput;
}

}  // namespace velmora::test
