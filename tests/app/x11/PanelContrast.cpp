#include "tests/app/x11/PanelContrast.hpp"

#include <algorithm>
#include <cmath>
#include <map>

namespace brindleaf::testing {

namespace {

double relativeLuminance(QRgb colour) {
    const auto channel = [](int value) {
        const double c = value / 255.0;
        return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(qRed(colour)) + 0.7152 * channel(qGreen(colour)) + 0.0722 * channel(qBlue(colour));
}

} // namespace

double contrastRatio(QRgb a, QRgb b) {
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

double mostContrast(const QImage& image, QRgb panel) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    double most = 1;
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x) {
            const QRgb pixel = argb.pixel(x, y);
            const double alpha = qAlpha(pixel) / 255.0;
            const auto over = [alpha](int ink, int behind) {
                return static_cast<int>(std::lround(alpha * ink + (1 - alpha) * behind));
            };
            const QRgb shown = qRgb(over(qRed(pixel), qRed(panel)), over(qGreen(pixel), qGreen(panel)),
                                    over(qBlue(pixel), qBlue(panel)));
            most = std::max(most, contrastRatio(shown, panel));
        }
    return most;
}

QRgb commonestColour(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    std::map<QRgb, int> counts;
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x) ++counts[rgb.pixel(x, y)];
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](const auto& a, const auto& b) { return a.second < b.second; });
    return most == counts.end() ? 0 : most->first;
}

} // namespace brindleaf::testing
