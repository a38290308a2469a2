#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace brindleaf {

// The application's entitlements: a JSON object installed beside the
// executable as "brindleaf.entitlements", for example
//   {"com.apple.developer.icloud-services": ["CloudKit"]}
// A missing, unreadable or malformed file grants nothing.
class Entitlements {
public:
    static constexpr const char* fileName = "brindleaf.entitlements";

    // The entitlements of the running executable (found through /proc/self/exe).
    static Entitlements current();
    // The entitlements file in the given folder.
    static Entitlements loadFromFolder(const std::filesystem::path& folder);

    // The value of one entitlement, absent when not granted.
    std::optional<nlohmann::json> value(const std::string& key) const;
    bool isLoaded() const { return document_.is_object(); }

private:
    nlohmann::json document_;
};

} // namespace brindleaf
