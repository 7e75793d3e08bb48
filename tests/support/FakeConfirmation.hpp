#pragma once

#include <chrono>
#include <functional>
#include <vector>

#include "foundation/Confirmation.hpp"

namespace velmora::test {

// A confirmation whose user always gives the same answer, on a later turn of
// the main context as a dialog would. It records every request; meanwhile
// runs while the question is open (another window changing things).
class FakeConfirmation final : public Confirmation {
public:
    bool answer = false;
    std::vector<Request> requests;
    std::function<void()> meanwhile;

    Task<bool> confirm(const Request& request) override {
        requests.push_back(request);
        co_await sleepFor(std::chrono::milliseconds(1));
        if (meanwhile) meanwhile();
        co_return answer;
    }
};

}  // namespace velmora::test
