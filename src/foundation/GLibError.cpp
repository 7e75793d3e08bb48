#include "foundation/GLibError.hpp"

namespace velmora {

GLibError::GLibError(GQuark domain, int code, std::string message, std::exception_ptr underlying)
    : domain_(domain), code_(code), message_(std::move(message)), underlying_(std::move(underlying)) {}

GLibError::GLibError(const GError* error, std::exception_ptr underlying)
    : GLibError(error ? error->domain : 0, error ? error->code : 0,
                error && error->message ? error->message : "", std::move(underlying)) {}

void GLibError::raise(GError* error) {
    GLibError copy(error);
    g_clear_error(&error);
    throw copy;
}

std::string GLibError::domainName() const {
    const char* name = domain_ ? g_quark_to_string(domain_) : nullptr;
    return name ? name : "";
}

}  // namespace velmora
