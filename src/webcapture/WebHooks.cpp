#include "webcapture/WebHooks.hpp"

namespace velmora {

WebHooks& WebHooks::shared() {
    static WebHooks hooks;
    return hooks;
}

}  // namespace velmora
