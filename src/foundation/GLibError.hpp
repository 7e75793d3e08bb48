#pragma once

#include <glib.h>

#include <exception>
#include <string>

namespace velmora {

// A GError as a C++ exception. Errors of the platform libraries (the web
// engine, GIO, libsoup) pass through the task toolkit unchanged, with their
// domain and code, so reports can name them exactly.
class GLibError : public std::exception {
public:
    GLibError(GQuark domain, int code, std::string message, std::exception_ptr underlying = nullptr);
    // Copies the error; the caller keeps ownership of it.
    explicit GLibError(const GError* error, std::exception_ptr underlying = nullptr);

    // Takes ownership of a set error, frees it and throws it as a GLibError.
    [[noreturn]] static void raise(GError* error);
    // Throws when the out-parameter of a GLib call was set; frees it.
    static void check(GError* error) {
        if (error) raise(error);
    }

    GQuark domain() const noexcept { return domain_; }
    // The registered name of the domain ("g-io-error-quark"), empty for 0.
    std::string domainName() const;
    int code() const noexcept { return code_; }
    const std::string& message() const noexcept { return message_; }
    // The error behind this one, when a caller wrapped it.
    std::exception_ptr underlying() const noexcept { return underlying_; }
    bool matches(GQuark domain, int code) const noexcept { return domain_ == domain && code_ == code; }

    const char* what() const noexcept override { return message_.c_str(); }

private:
    GQuark domain_;
    int code_;
    std::string message_;
    std::exception_ptr underlying_;
};

}  // namespace velmora
