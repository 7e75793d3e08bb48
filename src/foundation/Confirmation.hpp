#pragma once

#include <string>

#include "foundation/Task.hpp"

namespace velmora {

// A yes-or-no question put to the user before something that cannot be taken
// back. The real one is a modal GTK dialog (gui); tests use a fake.
class Confirmation {
public:
    // How the answer that goes ahead is drawn: as destructive, or, when
    // nothing is lost by it, as suggested.
    enum class Ahead { destructive, suggested };

    struct Request {
        std::string message;
        // Shown under the message; may be empty.
        std::string informativeText;
        // The safe answer, which is also the default (Return chooses it).
        std::string cancelLabel;
        std::string confirmLabel;
        Ahead ahead = Ahead::destructive;
    };

    virtual ~Confirmation() = default;
    // Resumes exactly once, on the main context: true only when the user
    // chose confirmLabel; closing the question is the safe answer. The
    // request must stay alive until the task ends.
    virtual Task<bool> confirm(const Request& request) = 0;
};

}  // namespace velmora
