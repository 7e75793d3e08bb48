#pragma once

#include <vector>

#include "recognition/standard/StandardPassLine.hpp"

// Tables and forms: blocks standing side by side whose lines share rows, and
// cells set with tab stops in stacked lines.
namespace velmora::StandardPass {

// Automatic layout reads the columns of a table one after another, and
// drops short cells (row numbers, amounts) as noise. Blocks that stand
// side by side with lines on shared baselines are read again together
// as one block, which gives one line per visual row, cells left to
// right.
//
// `horizontalLinesOnly`: a "table" of vertical columns alone is left as read
// (see Models::horizontalLinesOnly).
// A table whose cells run over several lines (a browser's, its short cells
// centred on their rows) is laid out as lines across its columns, each
// mixing lines of neighbouring cells, or as blocks of columns or cells read
// one after another. Where the blocks standing together part into columns
// by blanks running down them, each column is read on its own; the rows
// are those of a column of short cells a line or more apart, each other
// column's lines cut into cells between them, and each row is read as one
// line, its cells left to right, each cell's lines whole, a tab before
// each cell after the first.
void readWrappedCells(std::vector<Line>& ls, Reader& reader, const PageInk& ink);

std::vector<Line> readTables(std::vector<Line> ls, Reader& reader, const PageInk& ink, bool horizontalLinesOnly);

// A table set with tab stops and no rules reads as lines of cells with
// wide gaps between them. Its cells stand in columns: across the stacked
// lines a gutter runs down the page between two columns, where (nearly)
// no line has ink. A gap of at least half a line's height within a line
// that crosses such a gutter separates two cells, and is written as a
// tab. The words of prose stand closer, and its lines leave no gutter
// inside them.
void markCells(std::vector<Line>& ls);

}  // namespace velmora::StandardPass
