// Session titles from the Claude desktop app and sub-agent meta files.
#include "core/SafeFileReader.hpp"
#include "providers/claude/ClaudeJSON.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <dirent.h>

namespace brindleaf {

namespace {

// The names in a folder, in listing order; an unreadable folder lists nothing.
std::vector<std::string> listNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name == "." || name == "..") continue;
        names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

constexpr double desktopTitleReuseSeconds = 5;

} // namespace

std::optional<ClaudeStatusProvider::DesktopTitleEntry>
ClaudeStatusProvider::parseDesktopTitle(const std::optional<std::string>& contents) {
    if (!contents) return std::nullopt;
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    if (parser.parse(*contents).get_object().get(root) != simdjson::SUCCESS) return std::nullopt;
    auto sessionID = claudejson::textField(root, "cliSessionId");
    auto title = claudejson::nonEmptyText(root, "title");
    if (!sessionID || !title) return std::nullopt;
    return DesktopTitleEntry{std::string(*sessionID), std::string(*title)};
}

std::optional<std::string> ClaudeStatusProvider::parseSubagentToolUseID(const std::optional<std::string>& contents) {
    if (!contents) return std::nullopt;
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    if (parser.parse(*contents).get_object().get(root) != simdjson::SUCCESS) return std::nullopt;
    auto toolUseID = claudejson::nonEmptyText(root, "toolUseId");
    if (!toolUseID) return std::nullopt;
    return std::string(*toolUseID);
}

std::map<std::string, std::string> ClaudeStatusProvider::desktopTitles() {
    const double reuse = config_.transcriptRescanInterval <= 0 ? 0 : desktopTitleReuseSeconds;
    {
        std::lock_guard<std::mutex> guard(desktopTitlesLock_);
        if (cachedDesktopTitles_ && monotonicSeconds() - cachedDesktopTitles_->builtAt < reuse) {
            return cachedDesktopTitles_->titles;
        }
    }
    std::map<std::string, std::string> titles;
    for (const char* root : {"claude-code-sessions", "local-agent-mode-sessions"}) {
        const std::string base = config_.desktopSessionsHome + "/" + root;
        for (const auto& first : listNames(base)) {
            const std::string firstPath = base + "/" + first;
            for (const auto& second : listNames(firstPath)) {
                const std::string folder = firstPath + "/" + second;
                for (const auto& file : listNames(folder)) {
                    if (file.rfind("local_", 0) != 0 || file.size() < 5 || file.compare(file.size() - 5, 5, ".json") != 0)
                        continue;
                    const std::string path = folder + "/" + file;
                    auto entry = desktopTitleCache_.value(path, [&] {
                        return parseDesktopTitle(SafeFileReader::readSmallFile(path, SafeFileReader::smallFileLimit));
                    });
                    if (entry) titles.try_emplace(entry->cliSessionID, entry->title);
                }
            }
        }
    }
    std::lock_guard<std::mutex> guard(desktopTitlesLock_);
    cachedDesktopTitles_ = CachedDesktopTitles{monotonicSeconds(), titles};
    return titles;
}

} // namespace brindleaf
