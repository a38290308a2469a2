#include "platform/Appcast.hpp"

#include "platform/SoftwareVersion.hpp"
#include "platform/WebAddress.hpp"
#include "platform/XmlParser.hpp"

namespace brindleaf {

namespace {

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

std::string childText(const XmlElement& element, std::string_view ns, std::string_view local) {
    const XmlElement* child = element.child(ns, local);
    return child ? trimmed(child->text) : std::string();
}

std::string httpsOnly(const std::string& link) {
    const auto address = WebAddress::parse(link);
    return address && address->isHTTPS() ? link : std::string();
}

std::optional<AppcastItem> readItem(const XmlElement& item) {
    constexpr auto ns = Appcast::updateNamespace;
    const XmlElement* enclosure = item.child("", "enclosure");
    auto fromItemOrEnclosure = [&](std::string_view local) {
        std::string value = childText(item, ns, local);
        if (value.empty() && enclosure) value = trimmed(enclosure->attribute(ns, local).value_or(""));
        return value;
    };
    AppcastItem result;
    result.title = childText(item, "", "title");
    result.version = fromItemOrEnclosure("version");
    result.displayVersion = fromItemOrEnclosure("shortVersionString");
    if (result.version.empty()) result.version = result.displayVersion;
    if (result.displayVersion.empty()) result.displayVersion = result.version;
    if (!SoftwareVersion::parse(result.version)) return std::nullopt;
    if (const XmlElement* description = item.child("", "description")) result.releaseNotes = trimmed(description->text);
    result.releaseNotesLink = httpsOnly(childText(item, ns, "releaseNotesLink"));
    result.downloadLink = httpsOnly(childText(item, "", "link"));
    if (result.downloadLink.empty() && enclosure)
        result.downloadLink = httpsOnly(trimmed(enclosure->attribute("", "url").value_or("")));
    if (result.downloadLink.empty()) return std::nullopt;
    result.publicationDate = childText(item, "", "pubDate");
    return result;
}

} // namespace

std::optional<std::vector<AppcastItem>> Appcast::parse(std::string_view xml) {
    if (xml.size() > maxBytes) return std::nullopt;
    XmlParser::Limits limits;
    limits.maxBytes = maxBytes;
    const auto root = XmlParser::parse(xml, limits);
    if (!root || !root->is("", "rss")) return std::nullopt;
    const XmlElement* channel = root->child("", "channel");
    if (!channel) return std::nullopt;
    std::vector<AppcastItem> items;
    for (const auto& element : channel->children) {
        if (!element.is("", "item")) continue;
        if (auto item = readItem(element)) {
            items.push_back(std::move(*item));
            if (items.size() >= maxItems) break;
        }
    }
    return items;
}

std::optional<AppcastItem> Appcast::bestUpdate(const std::vector<AppcastItem>& items, std::string_view runningVersion,
                                               const std::optional<std::string>& skippedVersion) {
    const auto running = SoftwareVersion::parse(runningVersion);
    if (!running) return std::nullopt;
    const AppcastItem* best = nullptr;
    std::optional<SoftwareVersion> bestVersion;
    for (const auto& item : items) {
        const auto version = SoftwareVersion::parse(item.version);
        if (!version || !(*version > *running)) continue;
        if (!best || *version > *bestVersion) {
            best = &item;
            bestVersion = version;
        }
    }
    if (!best) return std::nullopt;
    if (skippedVersion) {
        const auto skipped = SoftwareVersion::parse(*skippedVersion);
        if (skipped && *skipped == *bestVersion) return std::nullopt;
    }
    return *best;
}

} // namespace brindleaf
