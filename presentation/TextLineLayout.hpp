#pragma once

namespace brindleaf {

// One line of text placed on whole pixels. A font gives its ascent and
// descent as fractions of a pixel; the ink of "_", "g", "j" and "y" reaches
// into the last, partly covered, pixel row of the descent. The line keeps a
// whole row for every part of a row above and below the baseline, so no
// label is cut short of that ink.
namespace TextLineLayout {

struct Line {
    int height = 0;   // rows of the line: the ascent's and the descent's, each rounded up
    int baseline = 0; // rows from the line's top to its baseline: the ascent rounded up
};

enum class VerticalPlace { top, centre, bottom };

// The line of a font with this ascent and descent (pixels, not negative).
Line line(double ascent, double descent);

// The baseline's row, from the top of a box of `boxHeight` rows, of a line
// set at the box's top, its centre (any odd row goes below the line) or its
// bottom. A box lower than the line keeps the line's top at the box's top.
int baselineIn(const Line& line, int boxHeight, VerticalPlace place);

} // namespace TextLineLayout

} // namespace brindleaf
