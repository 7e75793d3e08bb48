#include "capture/CaptureOptions.hpp"

namespace velmora {

std::string_view rawValue(CaptureOptions::Stage stage) {
    using Stage = CaptureOptions::Stage;
    switch (stage) {
    case Stage::waiting: return "waiting";
    case Stage::scrolling: return "scrolling";
    case Stage::tile: return "tile";
    case Stage::joining: return "joining";
    case Stage::saving: return "saving";
    }
    return "";
}

template <>
std::optional<CaptureOptions::Stage> fromRaw<CaptureOptions::Stage>(std::string_view raw) {
    using Stage = CaptureOptions::Stage;
    for (auto s : {Stage::waiting, Stage::scrolling, Stage::tile, Stage::joining, Stage::saving}) {
        if (rawValue(s) == raw) return s;
    }
    return std::nullopt;
}

}  // namespace velmora
