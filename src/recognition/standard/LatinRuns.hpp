#pragma once

#include <functional>
#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

namespace velmora::StandardPass {

// Latin words inside Japanese lines. The Japanese model reads the Latin of
// a mixed line well enough in the common upright faces, but in italics it
// may garble a word whole into letters and kana, and in typewriter faces it
// takes l for 1 or t. The English model reads those words right, yet read
// over whole mixed lines (or loaded beside the Japanese model for every
// line) it turns Japanese phrases into Latin letters. So only the Latin runs
// of a line are read again with it: stretches that begin and end with
// symbols the Japanese model read as Latin letters or digits, with two
// letters at least, whose glyphs are narrower than a Japanese character
// (a garbled italic letter read as kana is narrow too), bounded by the
// line's Japanese characters or its ends. Each run is read as one line of
// its own: its pieces of ink alone, on white, so that no stroke of the
// Japanese beside it is read as a letter. Its reading replaces the run's
// symbols when it is Latin, the English model is sure of it, it is about
// as long as the run and its letters differ from the run's (the Japanese
// model is sure of its misreadings too, so its confidence tells nothing
// here; its digits and marks are as good as the English model's).
//
// `english` is the English model's configuration (its engine reads each
// run on an image of its own); `skip` names lines not to look at (vertical
// columns).
void readLatinRuns(std::vector<Line>& ls, const GreyPage& page, const PageInk& ink,
                   const TesseractEngines::Configuration& english, const std::function<bool(const Line&)>& skip);

}  // namespace velmora::StandardPass
