#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// Times, model and effort, CPU and memory in words. Numbers never follow the
// user's locale: the decimal separator is always the point.
namespace StatusFormatting {

// "just now" when the date is less than 10 seconds from the reference (either
// way); otherwise English numeric relative time from ICU ("12 seconds ago",
// "in 3 minutes"). Empty when either date is not finite.
std::string relativeTime(Date date, Date reference);

// Both texts trimmed, empty meaning absent: "model · effort", "model",
// "Effort: effort", or absent.
std::optional<std::string> modelEffort(const std::optional<std::string>& model,
                                       const std::optional<std::string>& effort);

// Below 0.1 (negatives too) "<0.1%"; below 10 one decimal ("9.9%", and 9.96
// gives "10.0%"); otherwise no decimals ("10%"). Empty for a value that is not
// finite.
std::string cpuPercent(double percent);

// A memory size in 1024-based units: "512 bytes", "2 KB", "212 MB", "1.25 GB".
// A negative size keeps its sign.
std::string memory(std::int64_t bytes);

// "CPU 18.4% · 212 MB · 3 processes", leaving out what is absent, a CPU share
// that is not finite, a negative memory size, and a single process. Absent
// when nothing is left.
std::optional<std::string> resourceLine(std::optional<double> cpuPercent, std::optional<std::int64_t> memoryBytes,
                                        std::int64_t processCount);

// A number with exactly `fractionDigits` decimals and a point as separator,
// whatever the process's locale.
std::string fixedDecimal(double value, int fractionDigits);

} // namespace StatusFormatting

} // namespace brindleaf
