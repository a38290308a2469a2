#include "platform/Entitlements.hpp"

#include "platform/RegularFile.hpp"

namespace brindleaf {

namespace {

constexpr std::size_t maximumEntitlementsSize = 1024 * 1024;

} // namespace

Entitlements Entitlements::current() {
    std::error_code ec;
    auto executable = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || executable.empty()) return Entitlements();
    return forExecutable(executable);
}

Entitlements Entitlements::forExecutable(const std::filesystem::path& executable) {
    const auto beside = executable.parent_path();
    std::error_code ec;
    if (std::filesystem::exists(beside / fileName, ec)) return loadFromFolder(beside);
    return loadFromFolder((beside / installedFolder).lexically_normal());
}

Entitlements Entitlements::loadFromFolder(const std::filesystem::path& folder) {
    Entitlements entitlements;
    auto text = readRegularFile((folder / fileName).string(), maximumEntitlementsSize);
    if (!text) return entitlements;
    auto document = nlohmann::json::parse(*text, nullptr, false);
    if (document.is_object()) entitlements.document_ = std::move(document);
    return entitlements;
}

std::optional<nlohmann::json> Entitlements::value(const std::string& key) const {
    if (!document_.is_object()) return std::nullopt;
    auto it = document_.find(key);
    if (it == document_.end() || it->is_null()) return std::nullopt;
    return *it;
}

} // namespace brindleaf
