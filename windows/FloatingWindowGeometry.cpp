#include "windows/FloatingWindowGeometry.hpp"

#include "platform/DecimalText.hpp"

#include <algorithm>
#include <cmath>

namespace brindleaf::FloatingWindowGeometry {

bool Rect::intersects(const Rect& other) const {
    return width > 0 && height > 0 && other.width > 0 && other.height > 0 && x < other.right() && other.x < right() &&
           y < other.bottom() && other.y < bottom();
}

std::string frameString(const Rect& frame) {
    auto number = [](double value) { return DecimalText::general(value, 17); };
    return "{{" + number(frame.x) + ", " + number(frame.y) + "}, {" + number(frame.width) + ", " +
           number(frame.height) + "}}";
}

std::optional<Rect> parseFrameString(std::string_view text) {
    // Exactly "{{a, b}, {c, d}}" with blanks allowed around the numbers.
    std::string copy(text);
    const char* p = copy.c_str();
    double values[4];
    const char* separators[4] = {"{{", ",", "}, {", ","};
    auto skipBlanks = [&p] {
        while (*p == ' ' || *p == '\t') ++p;
    };
    auto expect = [&](const char* literal) {
        for (const char* l = literal; *l; ++l) {
            skipBlanks();
            if (*l == ' ') continue;
            if (*p != *l) return false;
            ++p;
        }
        return true;
    };
    for (int i = 0; i < 4; ++i) {
        if (!expect(separators[i])) return std::nullopt;
        skipBlanks();
        std::size_t used = 0;
        const auto value = DecimalText::read(std::string_view(p, copy.c_str() + copy.size() - p), used);
        if (!value) return std::nullopt;
        values[i] = *value;
        p += used;
    }
    if (!expect("}}")) return std::nullopt;
    skipBlanks();
    if (*p != '\0') return std::nullopt;
    return Rect{values[0], values[1], values[2], values[3]};
}

std::optional<Rect> usableSavedFrame(std::optional<std::string_view> saved, const std::vector<Screen>& screens) {
    if (!saved) return std::nullopt;
    auto frame = parseFrameString(*saved);
    if (!frame) return std::nullopt;
    if (!std::isfinite(frame->x) || !std::isfinite(frame->y) || !std::isfinite(frame->width) ||
        !std::isfinite(frame->height))
        return std::nullopt;
    if (frame->width < minimumSavedSide || frame->height < minimumSavedSide) return std::nullopt;
    double largestWidth = 0, largestHeight = 0;
    for (const auto& screen : screens) {
        largestWidth = std::max(largestWidth, screen.frame.width);
        largestHeight = std::max(largestHeight, screen.frame.height);
    }
    if (largestWidth <= 0 || largestHeight <= 0) return std::nullopt;
    frame->width = std::min(frame->width, largestWidth);
    frame->height = std::min(frame->height, largestHeight);
    for (const auto& screen : screens)
        if (frame->intersects(screen.available)) return frame;
    return std::nullopt;
}

std::optional<Screen> screenFor(std::optional<Rect> anchor, const std::vector<Screen>& screens) {
    if (screens.empty()) return std::nullopt;
    if (anchor)
        for (const auto& screen : screens)
            if (screen.frame.intersects(*anchor)) return screen;
    return screens.front();
}

Rect defaultPlacement(std::optional<Rect> anchor, const std::vector<Screen>& screens) {
    const auto screen = screenFor(anchor, screens);
    const Rect area = screen ? screen->available : fallbackArea;
    double x, y;
    if (anchor) {
        x = anchor->midX() - defaultWidth / 2;
        y = anchor->bottom() + anchorGap;
    } else {
        x = area.midX() - defaultWidth / 2;
        y = area.midY() - defaultHeight / 2;
    }
    // Each pair's winning limit last: the right one, then (below) the top one.
    x = std::max(x, area.x + screenMargin);
    x = std::min(x, area.right() - defaultWidth - screenMargin);
    y = std::min(y, area.bottom() - defaultHeight - screenMargin);
    y = std::max(y, area.y + screenMargin);
    return {x, y, defaultWidth, defaultHeight};
}

std::optional<Fit> fit(const Rect& window, double contentHeight, std::optional<Rect> available) {
    if (!std::isfinite(contentHeight) || contentHeight <= 1) return std::nullopt;
    const double limit = available ? fitScreenShare * available->height : fitLimitWithoutScreen;
    Fit result;
    result.targetHeight = std::min(limit, std::max(minimumHeight, std::ceil(contentHeight + chromeHeight)));
    if (std::abs(window.height - result.targetHeight) <= 0.5) return result;
    Rect frame{window.x, window.y, window.width, result.targetHeight};
    if (available) {
        frame.y = std::max(frame.y, available->y + fitMargin);
        if (frame.bottom() > available->bottom() - fitMargin) frame.y = available->bottom() - fitMargin - frame.height;
    }
    result.frame = frame;
    return result;
}

} // namespace brindleaf::FloatingWindowGeometry
