#pragma once

#include <functional>
#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// With Japanese and English both among the languages, a line that came out
// in the script the first model does not read as its own (or uncertain with
// some of it) is read again with the other language's model, and the
// reading whose characters are surer is kept.
//
// `other` is the other language's configuration (its engine is loaded over
// the page on first use); `firstIsJapanese` tells which script the first
// model reads as its own; `skip` names lines not to look at (vertical
// columns).
void readOtherLanguage(std::vector<Line>& ls, const GreyPage& page, const TesseractEngines::Configuration& other,
                       bool firstIsJapanese, const PageInk& ink, const std::function<bool(const Line&)>& skip);

}  // namespace velmora::StandardPass
