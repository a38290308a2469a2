#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// A version made of decimal numbers joined by dots ("1.10.2"), compared
// number by number: "1.10" is above "1.9", and missing numbers count as 0
// ("1.2" equals "1.2.0").
class SoftwareVersion {
public:
    // None for anything else: empty parts, signs, letters, blanks, more than
    // 16 parts or a part of more than 18 digits.
    static std::optional<SoftwareVersion> parse(std::string_view text);

    // Negative, zero or positive as this version is below, equal to or above the other.
    int compare(const SoftwareVersion& other) const;
    bool operator==(const SoftwareVersion& other) const { return compare(other) == 0; }
    bool operator<(const SoftwareVersion& other) const { return compare(other) < 0; }
    bool operator>(const SoftwareVersion& other) const { return compare(other) > 0; }

private:
    std::vector<unsigned long long> parts_;
};

} // namespace brindleaf
