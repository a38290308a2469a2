#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace brindleaf {

// The application's entitlements: a JSON object in the file
// "brindleaf.entitlements", for example
//   {"com.apple.developer.icloud-services": ["CloudKit"]}
// installed as data with the program (<prefix>/share/brindleaf/ for the
// program in <prefix>/bin/), or beside the executable in the build tree.
// A missing, unreadable or malformed file grants nothing.
class Entitlements {
public:
    static constexpr const char* fileName = "brindleaf.entitlements";
    // Where an installed program's file is, from the executable's folder.
    static constexpr const char* installedFolder = "../share/brindleaf";

    // The entitlements of the running executable (found through /proc/self/exe).
    static Entitlements current();
    // The entitlements of the program at `executable`: the file beside it
    // when there is one, else the installed one.
    static Entitlements forExecutable(const std::filesystem::path& executable);
    // The entitlements file in the given folder.
    static Entitlements loadFromFolder(const std::filesystem::path& folder);

    // The value of one entitlement, absent when not granted.
    std::optional<nlohmann::json> value(const std::string& key) const;
    bool isLoaded() const { return document_.is_object(); }

private:
    nlohmann::json document_;
};

} // namespace brindleaf
