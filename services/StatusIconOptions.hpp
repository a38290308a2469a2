#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace brindleaf {

// The look of the tray icon, as the user picks it. Raw values equal the case names.
enum class StatusIconStyle { pulse, cloud };
enum class StatusIconRenderingMode { monochrome, color };
enum class StatusIconSizeOption { small, medium, large };

inline constexpr std::array<StatusIconStyle, 2> allStatusIconStyles = {StatusIconStyle::pulse, StatusIconStyle::cloud};
inline constexpr std::array<StatusIconRenderingMode, 2> allStatusIconRenderingModes = {
    StatusIconRenderingMode::monochrome, StatusIconRenderingMode::color};
inline constexpr std::array<StatusIconSizeOption, 3> allStatusIconSizeOptions = {
    StatusIconSizeOption::small, StatusIconSizeOption::medium, StatusIconSizeOption::large};

std::string_view toString(StatusIconStyle style);
std::string_view toString(StatusIconRenderingMode mode);
std::string_view toString(StatusIconSizeOption size);

// Exact raw values.
std::optional<StatusIconStyle> statusIconStyleFromString(std::string_view raw);
std::optional<StatusIconRenderingMode> statusIconRenderingModeFromString(std::string_view raw);
std::optional<StatusIconSizeOption> statusIconSizeOptionFromString(std::string_view raw);

// The lenient reading of a stored rendering mode: "color" gives color,
// "monochrome" and the older "grayscale" give monochrome, anything else is absent.
std::optional<StatusIconRenderingMode> parseStatusIconRenderingMode(std::string_view raw);

} // namespace brindleaf
