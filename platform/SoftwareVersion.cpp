#include "platform/SoftwareVersion.hpp"

#include <algorithm>

namespace brindleaf {

std::optional<SoftwareVersion> SoftwareVersion::parse(std::string_view text) {
    SoftwareVersion version;
    std::size_t start = 0;
    while (true) {
        const auto dot = text.find('.', start);
        const std::string_view part =
            text.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (part.empty() || part.size() > 18 || version.parts_.size() >= 16) return std::nullopt;
        unsigned long long value = 0;
        for (char c : part) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<unsigned long long>(c - '0');
        }
        version.parts_.push_back(value);
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return version;
}

int SoftwareVersion::compare(const SoftwareVersion& other) const {
    const std::size_t count = std::max(parts_.size(), other.parts_.size());
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned long long mine = i < parts_.size() ? parts_[i] : 0;
        const unsigned long long theirs = i < other.parts_.size() ? other.parts_[i] : 0;
        if (mine != theirs) return mine < theirs ? -1 : 1;
    }
    return 0;
}

} // namespace brindleaf
