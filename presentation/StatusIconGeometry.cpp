#include "presentation/StatusIconGeometry.hpp"

#include <algorithm>
#include <cmath>

namespace brindleaf::StatusIconGeometry {

int pulseHeight(StatusIconSizeOption size) {
    switch (size) {
    case StatusIconSizeOption::small:
        return 14;
    case StatusIconSizeOption::medium:
        return 16;
    case StatusIconSizeOption::large:
        return 19;
    }
    return 16;
}

Size pulseSize(StatusIconSizeOption size) {
    const int h = pulseHeight(size);
    return {static_cast<int>(std::round(1.45 * h)), h};
}

Size cloudBox(StatusIconSizeOption size) {
    switch (size) {
    case StatusIconSizeOption::small:
        return {22, 18};
    case StatusIconSizeOption::medium:
        return {30, 24};
    case StatusIconSizeOption::large:
        return {36, 28};
    }
    return {30, 24};
}

Size trayCanvas(StatusIconStyle style) {
    return style == StatusIconStyle::cloud ? cloudBox(StatusIconSizeOption::large)
                                           : pulseSize(StatusIconSizeOption::large);
}

PixelRect trayPlacement(int imageWidth, int imageHeight, int canvasWidth, int canvasHeight) {
    const auto offset = [](int image, int canvas) { return static_cast<int>(std::round((canvas - image) / 2.0)); };
    return {offset(imageWidth, canvasWidth), offset(imageHeight, canvasHeight), imageWidth, imageHeight};
}

double pulseLineWidth(double rectHeight) { return std::max(0.12 * rectHeight, 1.5); }

Rect pulseClip(const Rect& rect) { return {rect.x + 0.5, rect.y, rect.width - 1, rect.height}; }

std::vector<Point> pulseTracePoints(const Rect& rect, double phase) {
    const double inset = pulseLineWidth(rect.height) / 2 + 0.5;
    const Rect p{rect.x, rect.y + inset, rect.width, rect.height - 2 * inset};
    const double w = p.width;
    const double baseline = p.y + p.height / 2 - 0.08 * p.height;
    const double amplitude = 0.5 * p.height;
    const double x0 = p.x - phase * w;
    std::vector<Point> points;
    points.reserve(2 * pulseTrace.size());
    for (int copy = 0; copy < 2; ++copy)
        for (const auto& point : pulseTrace)
            points.push_back({x0 + copy * w + point.x * w, baseline + point.y * amplitude});
    return points;
}

Rect pulseWaitingDot(const Rect& rect) {
    const double d = 0.42 * rect.height;
    return {rect.maxX() - d, rect.maxY() - d, d, d};
}

double pulseWaitingDotClearance(double rectHeight) { return 0.8 * pulseLineWidth(rectHeight); }

Rect cloudWaitingDot(const Rect& rect) {
    const double d = 0.38 * rect.height;
    return {rect.maxX() - d - 1, rect.maxY() - d - 1, d, d};
}

std::optional<PixelRect> opaqueBounds(const std::uint8_t* rgba, int width, int height, std::size_t bytesPerRow) {
    if (!rgba || width < 1 || height < 1) return std::nullopt;
    int minX = width, minY = height, maxX = -1, maxY = -1;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rgba + static_cast<std::size_t>(y) * bytesPerRow;
        for (int x = 0; x < width; ++x) {
            if (row[4 * x + 3] < 9) continue;
            minX = std::min(minX, x);
            maxX = std::max(maxX, x);
            minY = std::min(minY, y);
            maxY = std::max(maxY, y);
        }
    }
    if (maxX < 0) return std::nullopt;
    return PixelRect{minX, minY, maxX - minX + 1, maxY - minY + 1};
}

std::optional<PixelRect> sharedOpaqueBounds(const std::vector<FramePixels>& frames) {
    if (frames.empty()) return std::nullopt;
    const int referenceWidth = frames.front().width;
    const int referenceHeight = frames.front().height;
    std::optional<PixelRect> united;
    for (const auto& frame : frames) {
        if (frame.width != referenceWidth || frame.height != referenceHeight) return std::nullopt;
        auto bounds = opaqueBounds(frame.rgba, frame.width, frame.height, frame.bytesPerRow);
        if (!bounds || bounds->width <= 0 || bounds->height <= 0) continue;
        if (!united) {
            united = bounds;
            continue;
        }
        const int x0 = std::min(united->x, bounds->x);
        const int y0 = std::min(united->y, bounds->y);
        const int x1 = std::max(united->x + united->width, bounds->x + bounds->width);
        const int y1 = std::max(united->y + united->height, bounds->y + bounds->height);
        united = PixelRect{x0, y0, x1 - x0, y1 - y0};
    }
    if (!united) return std::nullopt;
    if (united->width < referenceWidth || united->height < referenceHeight) return united;
    return std::nullopt;
}

Rect fittedRect(int imageWidth, int imageHeight, double boxWidth, double boxHeight) {
    if (imageWidth < 1 || imageHeight < 1) return {0, 0, boxWidth, boxHeight};
    const double s = std::min(boxWidth / imageWidth, boxHeight / imageHeight);
    const double w = s * imageWidth;
    const double h = s * imageHeight;
    return {(boxWidth - w) / 2, (boxHeight - h) / 2, w, h};
}

} // namespace brindleaf::StatusIconGeometry
