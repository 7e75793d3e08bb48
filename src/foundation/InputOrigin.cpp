#include "foundation/InputOrigin.hpp"

#include <string>

namespace velmora {

std::string_view rawValue(InputOrigin o) {
    switch (o) {
    case InputOrigin::normal: return "normal";
    case InputOrigin::privateSession: return "privateSession";
    }
    return "";
}

template <>
std::optional<InputOrigin> fromRaw<InputOrigin>(std::string_view raw) {
    for (InputOrigin o : {InputOrigin::normal, InputOrigin::privateSession}) {
        if (rawValue(o) == raw) return o;
    }
    return std::nullopt;
}

void to_json(Json& j, InputOrigin o) { j = std::string(rawValue(o)); }

void from_json(const Json& j, InputOrigin& o) {
    if (!j.is_string()) throw JSON::DecodeError("input origin: expected a string");
    auto parsed = fromRaw<InputOrigin>(j.get_ref<const std::string&>());
    if (!parsed) throw JSON::DecodeError("input origin: unknown value " + j.get<std::string>());
    o = *parsed;
}

}  // namespace velmora
