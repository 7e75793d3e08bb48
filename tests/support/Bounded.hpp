#pragma once

#include <unistd.h>

#include <functional>
#include <iostream>
#include <stdexcept>
#include <string>

#include "support/TempDir.hpp"

namespace velmora::test {

// Runs body in a forked child that an alarm ends after `seconds`, so a call
// that blocks (a FIFO opened for reading waits for a writer) fails its test
// instead of hanging the suite. 0 when body returned, 1 when it threw (the
// reason is printed), 128 + SIGALRM when it hung.
inline int runBounded(unsigned seconds, const std::function<void()>& body) {
    return runInChild([&] {
        ::alarm(seconds);
        try {
            body();
        } catch (const std::exception& e) {
            std::cerr << "in the bounded child: " << e.what() << std::endl;
            throw;
        }
    });
}

// A check inside a forked child, where gtest's own assertions do not reach
// the parent.
inline void require(bool condition, const std::string& what) {
    if (!condition) throw std::runtime_error(what);
}

}  // namespace velmora::test
