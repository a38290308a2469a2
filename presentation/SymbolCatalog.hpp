#pragma once

#include <array>
#include <string_view>

namespace brindleaf {

// Every symbol the windows name, one SVG of our own each under
// resources/symbols/<name>.svg (compiled in as ":/symbols/<name>.svg").
inline constexpr std::array<std::string_view, 30> symbolNames = {
    "arrow.clockwise",
    "arrow.down.circle.fill",
    "arrow.turn.down.right",
    "bolt.horizontal.circle",
    "checkmark",
    "checkmark.circle.fill",
    "chevron.right",
    "clock",
    "clock.badge.exclamationmark",
    "cpu",
    "curlybraces",
    "exclamationmark.icloud",
    "exclamationmark.triangle.fill",
    "eye",
    "folder",
    "gauge.with.dots.needle.33percent",
    "gearshape",
    "hand.raised.fill",
    "icloud",
    "info.circle",
    "lock.circle",
    "macwindow",
    "moon.zzz",
    "moon.zzz.fill",
    "power",
    "questionmark",
    "stethoscope",
    "terminal",
    "waveform.path.ecg",
    "xmark",
};

} // namespace brindleaf
