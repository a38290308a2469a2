#pragma once

#include "presentation/Appearance.hpp"

#include <QIcon>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

namespace brindleaf {

// One finished tray icon image: its size in points and its bitmaps at device
// pixel ratio 1 and 2. Shared and never changed once made, so that two
// handles to the same image are the same object (the animator and the tray
// compare frames by identity).
struct StatusIconImage {
    QSize pointSize;
    QImage at1x; // devicePixelRatio 1
    QImage at2x; // devicePixelRatio 2
    // A template image is a shape the tray tints for the panel (see tinted()).
    bool isTemplate = false;
    QString accessibleDescription;

    // The bitmap for a device pixel ratio (2x above 1).
    const QImage& forRatio(qreal devicePixelRatio) const { return devicePixelRatio > 1 ? at2x : at1x; }
    QIcon toIcon() const;
};

using StatusIconImageRef = std::shared_ptr<const StatusIconImage>;

// The image in the middle of a canvas of `canvas` points, unscaled and on
// whole pixels at each ratio (StatusIconGeometry::trayPlacement); the same
// image when it already measures the canvas.
StatusIconImageRef placedOnCanvas(const StatusIconImageRef& image, QSize canvas);

// A template image as the panel shows it: black at 85 % opacity on a light
// panel, white at 85 % on a dark one (the colour replaces the image's colours
// inside its shape). Other images come back unchanged.
StatusIconImageRef tintedForPanel(const StatusIconImageRef& image, Appearance appearance);

} // namespace brindleaf
