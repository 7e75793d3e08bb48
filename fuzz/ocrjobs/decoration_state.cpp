// The saved highlights of one edited page, as the editor takes them up from
// the queue file: decoded, shown, edited, undone and reformatted.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ocrjobs/OCRDecorationState.hpp"
#include "support/FuzzSupport.hpp"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    OCRDecorationState state;
    if (fuzz::documented("OCRDecorationState", [&] { state = JSON::decode<OCRDecorationState>(bytes); }) !=
        fuzz::Outcome::read) {
        return 0;
    }
    // Every range handed to the editor lies inside the text, on whole code units.
    const std::size_t length = state.text16().size();
    for (const auto& ranges : {state.yellow(), state.green()}) {
        for (const auto& r : ranges) {
            if (r.location < 0 || r.length <= 0 || static_cast<std::size_t>(r.location + r.length) > length) {
                fuzz::fail("OCRDecorationState: a highlight outside the text");
            }
        }
    }
    // Reads back as stored.
    if (!(JSON::decode<OCRDecorationState>(JSON::encode(state)) == state)) {
        fuzz::fail("OCRDecorationState: does not read back as written");
    }
    // The edits the editor makes on a restored page.
    const std::string text = state.text();
    state.update(text + "あ");
    state.update(text, TextRange{static_cast<int64_t>(length), 1}, std::string_view());
    state.update("");
    state.update(text, std::nullopt, std::nullopt, true);
    state.reformat(state.baseline());
    state.yellow();
    state.green();
    return 0;
}
