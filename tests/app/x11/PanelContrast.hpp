#pragma once

#include <QImage>
#include <QRgb>

namespace brindleaf::testing {

// The WCAG contrast ratio of two opaque colours, 1 to 21.
double contrastRatio(QRgb a, QRgb b);
// The contrast of the pixel that stands out most from the panel colour, the
// image composited over the panel first (an opaque screen grab stays as it is).
double mostContrast(const QImage& image, QRgb panel);
// The colour most pixels of the image have.
QRgb commonestColour(const QImage& image);

} // namespace brindleaf::testing
