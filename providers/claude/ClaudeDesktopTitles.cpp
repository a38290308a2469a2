// Session titles from the Claude desktop app and sub-agent meta files.
#include "core/SafeFileReader.hpp"
#include "core/TolerantJSON.hpp"
#include "providers/claude/ClaudeJSON.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

namespace brindleaf {

namespace {

constexpr double desktopTitleReuseSeconds = 5;

} // namespace

std::optional<ClaudeStatusProvider::DesktopTitleEntry> ClaudeStatusProvider::parseDesktopTitle(
    const std::optional<std::string>& contents) {
    if (!contents) return std::nullopt;
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    if (TolerantJSON::parse(parser, *contents).get_object().get(root) != simdjson::SUCCESS) return std::nullopt;
    auto sessionID = claudejson::textField(root, "cliSessionId");
    auto title = claudejson::nonEmptyText(root, "title");
    if (!sessionID || !title) return std::nullopt;
    return DesktopTitleEntry{std::string(*sessionID), std::string(*title)};
}

std::optional<std::string> ClaudeStatusProvider::parseSubagentToolUseID(const std::optional<std::string>& contents) {
    if (!contents) return std::nullopt;
    simdjson::dom::parser parser;
    simdjson::dom::object root;
    if (TolerantJSON::parse(parser, *contents).get_object().get(root) != simdjson::SUCCESS) return std::nullopt;
    auto toolUseID = claudejson::nonEmptyText(root, "toolUseId");
    if (!toolUseID) return std::nullopt;
    return std::string(*toolUseID);
}

std::map<std::string, std::string> ClaudeStatusProvider::desktopTitles() {
    watched_.refresh();
    return *sharedDesktopTitles();
}

std::shared_ptr<const ClaudeStatusProvider::Titles> ClaudeStatusProvider::sharedDesktopTitles() {
    const double reuse = config_.transcriptRescanInterval <= 0 ? 0 : desktopTitleReuseSeconds;
    {
        std::lock_guard<std::mutex> guard(desktopTitlesLock_);
        if (cachedDesktopTitles_ && monotonicSeconds() - cachedDesktopTitles_->builtAt < reuse) {
            return cachedDesktopTitles_->titles;
        }
    }
    // The names in a folder, in listing order; an unreadable folder lists nothing.
    const auto names = [this](const std::string& folder) {
        auto entries = watched_.entries(folder);
        // Never destroyed: a scan still running while the process exits may hand it out.
        static const auto& none = *new std::shared_ptr<const std::vector<WatchedFileStat::Entry>>(
            std::make_shared<const std::vector<WatchedFileStat::Entry>>());
        return entries ? entries : none;
    };
    auto titles = std::make_shared<Titles>();
    for (const char* root : {"claude-code-sessions", "local-agent-mode-sessions"}) {
        const std::string base = config_.desktopSessionsHome + "/" + root;
        const auto firsts = names(base);
        for (const auto& first : *firsts) {
            const std::string firstPath = base + "/" + first.name;
            const auto seconds = names(firstPath);
            for (const auto& second : *seconds) {
                const std::string folder = firstPath + "/" + second.name;
                const auto files = names(folder);
                for (const auto& entry : *files) {
                    const std::string& file = entry.name;
                    if (file.rfind("local_", 0) != 0 || file.size() < 5 ||
                        file.compare(file.size() - 5, 5, ".json") != 0)
                        continue;
                    const std::string path = folder + "/" + file;
                    const auto info = watched_.info(path);
                    if (!info) continue; // gone: nothing to read
                    auto parsed = desktopTitleCache_.value(path, std::string(), info, [&] {
                        return parseDesktopTitle(SafeFileReader::readSmallFile(path, SafeFileReader::smallFileLimit));
                    });
                    if (parsed) titles->try_emplace(parsed->cliSessionID, parsed->title);
                }
            }
        }
    }
    std::shared_ptr<const Titles> result = std::move(titles);
    std::lock_guard<std::mutex> guard(desktopTitlesLock_);
    cachedDesktopTitles_ = CachedDesktopTitles{monotonicSeconds(), result};
    return result;
}

} // namespace brindleaf
