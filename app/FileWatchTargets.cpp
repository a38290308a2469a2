#include "app/FileWatchTargets.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <utility>

namespace brindleaf::FileWatchTargets {

namespace {

std::vector<std::string> distinctSorted(std::vector<std::string> paths) {
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
}

// The non-hidden entries of a folder that are (not links to) folders; empty
// when it cannot be listed.
std::vector<std::string> subfolders(const std::string& folder) {
    std::vector<std::string> out;
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return out;
    for (std::filesystem::directory_iterator end; it != end; it.increment(error)) {
        if (error) break;
        const auto& entry = *it;
        if (entry.path().filename().string().starts_with(".")) continue;
        std::error_code statusError;
        if (entry.symlink_status(statusError).type() == std::filesystem::file_type::directory)
            out.push_back(entry.path().string());
    }
    return out;
}

} // namespace

std::vector<std::string> codexRoots(const CodexRuntimeWatchConfiguration& configuration) {
    return distinctSorted({configuration.codexHome, configuration.defaultCodexHome});
}

std::vector<std::string> codexDatabasePaths(const CodexRuntimeWatchConfiguration& configuration,
                                            const std::string& fileName) {
    std::vector<std::string> folders;
    if (configuration.sqliteHome) folders.push_back(*configuration.sqliteHome);
    for (const auto& root : codexRoots(configuration)) {
        folders.push_back(root + "/sqlite");
        folders.push_back(root);
    }
    std::vector<std::string> paths;
    for (const auto& folder : folders) {
        std::string path = folder + "/" + fileName;
        paths.push_back(path);
        paths.push_back(path + "-wal");
        paths.push_back(path + "-shm");
    }
    return paths;
}

std::vector<std::string> codexAgentRootPaths(const CodexRuntimeWatchConfiguration& configuration) {
    auto paths = codexDatabasePaths(configuration, "state_5.sqlite");
    for (const auto& root : codexRoots(configuration)) {
        paths.push_back(root + "/session_index.jsonl");
        paths.push_back(root + "/process_manager/chat_processes.json");
        paths.push_back(root + "/sessions");
        paths.push_back(root + "/rollouts");
        paths.push_back(root + "/logs");
    }
    return distinctSorted(std::move(paths));
}

std::vector<std::string> codexRuntimeLogPaths(const CodexRuntimeWatchConfiguration& configuration) {
    return distinctSorted(codexDatabasePaths(configuration, "logs_2.sqlite"));
}

std::vector<std::string> claudeProjectFolders(const std::string& projectsFolder) { return subfolders(projectsFolder); }

std::vector<std::string> recentClaudeTranscriptFiles(const std::string& projectsFolder, Date now) {
    const Date cutoff = now - recentTranscriptWindow;
    std::vector<std::pair<Date, std::string>> found;
    for (const auto& folder : subfolders(projectsFolder)) {
        std::error_code error;
        std::filesystem::directory_iterator it(folder, error);
        if (error) continue;
        for (std::filesystem::directory_iterator end; it != end; it.increment(error)) {
            if (error) break;
            const auto& path = it->path();
            std::string name = path.filename().string();
            if (name.starts_with(".") || path.extension() != ".jsonl") continue;
            struct stat info {};
            if (::stat(path.c_str(), &info) != 0) continue;
            Date modified = static_cast<Date>(info.st_mtim.tv_sec) + info.st_mtim.tv_nsec / 1e9;
            if (modified >= cutoff) found.emplace_back(modified, path.string());
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    if (found.size() > recentTranscriptLimit) found.resize(recentTranscriptLimit);
    std::vector<std::string> paths;
    for (auto& entry : found) paths.push_back(std::move(entry.second));
    return paths;
}

std::vector<std::string> fileChangePaths(const std::string& home, const CodexRuntimeWatchConfiguration& configuration,
                                         Date now) {
    const std::string projects = home + "/.claude/projects";
    const std::string hermes = home + "/.hermes";
    auto paths = codexAgentRootPaths(configuration);
    for (auto path : {projects, hermes + "/gateway_state.json", hermes + "/processes.json", hermes + "/logs/agent.log",
                      hermes + "/state.db", hermes + "/state.db-wal"})
        paths.push_back(path);
    for (auto& folder : claudeProjectFolders(projects)) paths.push_back(std::move(folder));
    for (auto& transcript : recentClaudeTranscriptFiles(projects, now)) paths.push_back(std::move(transcript));
    return paths;
}

bool changeNeedsRebuild(const std::string& path, const std::string& projectsFolder) {
    if (path == projectsFolder) return true;
    if (path.ends_with(".jsonl")) return false;
    return path.size() > projectsFolder.size() + 1 && path.starts_with(projectsFolder) &&
           path[projectsFolder.size()] == '/';
}

std::string claudeSessionRegistryFolder(const std::string& home) { return home + "/.claude/sessions"; }

std::vector<std::string> sessionActivityPaths(const AgentStatusSnapshot& snapshot, const std::string& home) {
    std::vector<std::string> paths{claudeSessionRegistryFolder(home)};
    for (const auto& session : snapshot.activeSessions)
        if (session.rolloutPath && session.rolloutPath->starts_with("/")) paths.push_back(*session.rolloutPath);
    return distinctSorted(std::move(paths));
}

} // namespace brindleaf::FileWatchTargets
