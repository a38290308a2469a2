#include "services/StatusIconOptions.hpp"

namespace brindleaf {

std::string_view toString(StatusIconStyle style) {
    switch (style) {
    case StatusIconStyle::pulse: return "pulse";
    case StatusIconStyle::cloud: return "cloud";
    }
    return "pulse";
}

std::string_view toString(StatusIconRenderingMode mode) {
    switch (mode) {
    case StatusIconRenderingMode::monochrome: return "monochrome";
    case StatusIconRenderingMode::color: return "color";
    }
    return "monochrome";
}

std::string_view toString(StatusIconSizeOption size) {
    switch (size) {
    case StatusIconSizeOption::small: return "small";
    case StatusIconSizeOption::medium: return "medium";
    case StatusIconSizeOption::large: return "large";
    }
    return "medium";
}

std::optional<StatusIconStyle> statusIconStyleFromString(std::string_view raw) {
    for (auto style : allStatusIconStyles) {
        if (toString(style) == raw) return style;
    }
    return std::nullopt;
}

std::optional<StatusIconRenderingMode> statusIconRenderingModeFromString(std::string_view raw) {
    for (auto mode : allStatusIconRenderingModes) {
        if (toString(mode) == raw) return mode;
    }
    return std::nullopt;
}

std::optional<StatusIconSizeOption> statusIconSizeOptionFromString(std::string_view raw) {
    for (auto size : allStatusIconSizeOptions) {
        if (toString(size) == raw) return size;
    }
    return std::nullopt;
}

std::optional<StatusIconRenderingMode> parseStatusIconRenderingMode(std::string_view raw) {
    if (raw == "color") return StatusIconRenderingMode::color;
    if (raw == "monochrome" || raw == "grayscale") return StatusIconRenderingMode::monochrome;
    return std::nullopt;
}

} // namespace brindleaf
