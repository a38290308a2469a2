#include "presentation/TextLineLayout.hpp"

#include <algorithm>
#include <cmath>

namespace brindleaf::TextLineLayout {

namespace {

int rowsFor(double extent) {
    if (!std::isfinite(extent) || extent <= 0) return 0;
    // A part of a row smaller than any antialiasing shows is not a row.
    return int(std::ceil(extent - 1.0 / 64));
}

} // namespace

Line line(double ascent, double descent) {
    const int above = rowsFor(ascent);
    return {above + rowsFor(descent), above};
}

int baselineIn(const Line& line, int boxHeight, VerticalPlace place) {
    const int free = std::max(0, boxHeight - line.height);
    switch (place) {
    case VerticalPlace::top:
        break;
    case VerticalPlace::centre:
        return free / 2 + line.baseline;
    case VerticalPlace::bottom:
        return free + line.baseline;
    }
    return line.baseline;
}

} // namespace brindleaf::TextLineLayout
