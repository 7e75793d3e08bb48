#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "foundation/JSON.hpp"
#include "foundation/UUID.hpp"

namespace velmora {

// One normal tab as tab restoration keeps it.
struct RestoredTab {
    UUID id;
    // The eligible address as its canonical text; absent when none was kept.
    std::optional<std::string> url;
    // The tab had an address that was not kept, or was itself a restored tab
    // whose address had been withheld.
    bool unavailable = false;

    bool operator==(const RestoredTab&) const = default;
};

// One window's normal tabs in tab order, with the selected one.
struct RestoredWindow {
    UUID id;
    std::vector<RestoredTab> tabs;
    UUID selected;

    bool operator==(const RestoredWindow&) const = default;
};

// The content of "snapshot.json": every key is required except a tab's
// "url", and keys not listed are ignored.
struct TabSnapshot {
    int64_t schema = 1;
    // The restoration period the snapshot belongs to.
    UUID epoch;
    // The number of the write; read and written exactly over the whole
    // unsigned 64-bit range.
    uint64_t generation = 0;
    std::vector<RestoredWindow> windows;

    bool operator==(const TabSnapshot&) const = default;
};

void to_json(Json& j, const RestoredTab& t);
void from_json(const Json& j, RestoredTab& t);
void to_json(Json& j, const RestoredWindow& w);
void from_json(const Json& j, RestoredWindow& w);
void to_json(Json& j, const TabSnapshot& s);
void from_json(const Json& j, TabSnapshot& s);

}  // namespace velmora
