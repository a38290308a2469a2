#include "services/FolderAccessController.hpp"

#include "core/UserHomeDirectory.hpp"
#include "platform/Logger.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace brindleaf {

namespace {

const Logger& folderAccessLog() {
    static const Logger logger("FolderAccess");
    return logger;
}

// The path's components with "." and ".." and the links of every part that
// exists resolved.
std::vector<std::string> resolvedComponents(const std::string& path) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path, error);
    if (error) resolved = std::filesystem::path(path).lexically_normal();
    std::vector<std::string> components;
    for (const auto& component : resolved) {
        if (!component.empty()) components.push_back(component.string());
    }
    return components;
}

// Whether `ancestor` is `path` itself or a folder above it, component by component.
bool coversPath(const std::vector<std::string>& ancestor, const std::vector<std::string>& path) {
    return ancestor.size() <= path.size() && std::equal(ancestor.begin(), ancestor.end(), path.begin());
}

// The canonical path of a readable folder, or the reason there is none.
struct ResolvedFolder {
    std::string path;
    std::string failure;
};

ResolvedFolder resolveFolder(const std::string& path) {
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return {{}, std::strerror(errno)};
    struct stat info {};
    if (::stat(buffer, &info) != 0) return {{}, std::strerror(errno)};
    if (!S_ISDIR(info.st_mode)) return {{}, std::strerror(ENOTDIR)};
    if (::access(buffer, R_OK | X_OK) != 0) return {{}, std::strerror(errno)};
    return {buffer, {}};
}

// A stored value that can never name a folder: not an absolute path, or with a NUL byte.
bool canBePath(const std::string& text) {
    return !text.empty() && text.front() == '/' && text.find('\0') == std::string::npos;
}

} // namespace

std::string_view FolderAccessController::rawValue(Folder folder) {
    switch (folder) {
    case Folder::claude:
        return "claude";
    case Folder::claudeDesktop:
        return "claudeDesktop";
    case Folder::codex:
        return "codex";
    case Folder::hermes:
        return "hermes";
    }
    return {};
}

std::optional<FolderAccessController::Folder> FolderAccessController::folderFromRawValue(std::string_view raw) {
    for (Folder folder : allFolders) {
        if (rawValue(folder) == raw) return folder;
    }
    return std::nullopt;
}

std::string_view FolderAccessController::relativePath(Folder folder) {
    switch (folder) {
    case Folder::claude:
        return ".claude";
    case Folder::claudeDesktop:
        return ".config/Claude";
    case Folder::codex:
        return ".codex";
    case Folder::hermes:
        return ".hermes";
    }
    return {};
}

std::string_view FolderAccessController::explanation(Folder folder) {
    switch (folder) {
    case Folder::claude:
        return "Brindleaf reads Claude Code’s session files in “.claude” to show which sessions are running. It never "
               "changes them.";
    case Folder::claudeDesktop:
        return "Brindleaf reads session names from the Claude app’s folder so they match the names you see in Claude. "
               "It never changes them.";
    case Folder::codex:
        return "Brindleaf reads Codex’s session files in “.codex” to show which sessions are running. It never changes "
               "them.";
    case Folder::hermes:
        return "Brindleaf reads Hermes’s session files in “.hermes” to show which sessions are running. It never "
               "changes them.";
    }
    return {};
}

std::vector<FolderAccessController::Folder> FolderAccessController::folders(const std::string& providerID) {
    if (providerID == "codex") return {Folder::codex};
    if (providerID == "claude") return {Folder::claude};
    if (providerID == "hermes") return {Folder::hermes};
    return {};
}

std::vector<FolderAccessController::Folder> FolderAccessController::offeredFolders(const std::string& providerID) {
    if (providerID == "claude") return {Folder::claude, Folder::claudeDesktop};
    return folders(providerID);
}

FolderAccessController::FolderAccessController(std::shared_ptr<UserDefaults> defaults, bool isSandboxed,
                                               std::shared_ptr<FolderPicker> picker,
                                               std::shared_ptr<FolderAccessAlertPresenter> alerts, std::string home)
    : defaults_(std::move(defaults)),
      isSandboxed_(isSandboxed),
      picker_(std::move(picker)),
      alerts_(std::move(alerts)),
      home_(home.empty() ? UserHomeDirectory::path() : std::move(home)) {
    restoreBookmarks();
}

std::string FolderAccessController::folderPath(Folder folder) const {
    return (std::filesystem::path(home_) / relativePath(folder)).string();
}

bool FolderAccessController::folderExists(Folder folder) const {
    struct stat info {};
    return ::stat(folderPath(folder).c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FolderAccessController::hasAccess(const std::string& providerID) const {
    if (!isSandboxed_) return true;
    for (Folder folder : folders(providerID)) {
        if (!grantedFolders_.count(folder)) return false;
    }
    return true;
}

std::vector<FolderAccessController::Folder> FolderAccessController::missingFolders(
    const std::string& providerID) const {
    std::vector<Folder> missing;
    if (!isSandboxed_) return missing;
    for (Folder folder : offeredFolders(providerID)) {
        if (folderExists(folder) && !grantedFolders_.count(folder)) missing.push_back(folder);
    }
    return missing;
}

bool FolderAccessController::hasMissingFolderAccess() const {
    if (!isSandboxed_) return false;
    return std::any_of(allFolders.begin(), allFolders.end(),
                       [&](Folder folder) { return folderExists(folder) && !grantedFolders_.count(folder); });
}

void FolderAccessController::grant(const std::string& path, Folder folder) {
    // Nothing needs starting here: the first path recorded for a kind is its access.
    accessedPaths_.try_emplace(folder, path);
    if (!grantedFolders_.insert(folder).second) return;
    auto observers = observers_;
    for (const auto& [id, observer] : observers) observer();
}

// Takes every stored grant whose folder is still a readable folder. A grant
// that cannot be taken now (the folder missing for a moment, say while an
// agent is reinstalled) stays stored for a later launch; only values that can
// never name a folder are dropped. A bad value spares the other grants.
void FolderAccessController::restoreBookmarks() {
    if (!isSandboxed_ || !defaults_) return;
    const std::string key(bookmarksKey);
    std::optional<DefaultsValue::Dictionary> stored = defaults_->dictionary(key);
    if (!stored) return;
    bool changed = false;
    for (Folder folder : allFolders) {
        auto entry = stored->find(std::string(rawValue(folder)));
        if (entry == stored->end()) continue;
        std::optional<std::string> path = entry->second.dataBytes();
        if (!path || !canBePath(*path)) {
            stored->erase(entry);
            changed = true;
            continue;
        }
        ResolvedFolder resolved = resolveFolder(*path);
        if (resolved.path.empty()) continue;
        grant(resolved.path, folder);
        if (resolved.path != *path) {
            // The folder is now known by another path (a link changed): keep the new one.
            entry->second = DefaultsValue::data(resolved.path);
            changed = true;
        }
    }
    if (changed) defaults_->set(key, std::move(*stored));
}

bool FolderAccessController::requestAccess(Folder folder) {
    if (!isSandboxed_) return true;
    if (!picker_) return false;
    const std::string expected = folderPath(folder);
    FolderPicker::Request request;
    request.message = std::string(explanation(folder));
    request.prompt = "Allow Access";
    request.startingFolder = expected;
    std::optional<std::string> chosen = picker_->chooseFolder(request);
    if (!chosen || chosen->empty()) return false;

    const std::vector<std::string> chosenComponents = resolvedComponents(*chosen);
    if (!coversPath(chosenComponents, resolvedComponents(expected))) {
        const std::string relative(relativePath(folder));
        const std::string lastComponent = std::filesystem::path(relative).filename().string();
        if (alerts_) {
            alerts_->showAlert("Choose the “" + lastComponent + "” Folder",
                               "Brindleaf needs access to ~/" + relative +
                                   ". Select that folder, or your home folder, and click Allow Access.");
        }
        return false;
    }

    ResolvedFolder resolved = resolveFolder(*chosen);
    if (resolved.path.empty()) {
        folderAccessLog().error("Brindleaf could not save folder access for ~/" + std::string(relativePath(folder)) +
                                ": " + resolved.failure);
    } else {
        storeBookmark(folder, resolved.path);
    }
    const std::string& granted = resolved.path.empty() ? *chosen : resolved.path;
    grant(granted, folder);
    for (Folder other : allFolders) {
        if (other != folder && coversPath(chosenComponents, resolvedComponents(folderPath(other)))) {
            grant(granted, other);
        }
    }
    return true;
}

// Sets one kind's grant, keeping every other stored value as it is.
void FolderAccessController::storeBookmark(Folder folder, const std::string& path) {
    if (!defaults_) return;
    const std::string key(bookmarksKey);
    DefaultsValue::Dictionary stored = defaults_->dictionary(key).value_or(DefaultsValue::Dictionary{});
    stored[std::string(rawValue(folder))] = DefaultsValue::data(path);
    defaults_->set(key, std::move(stored));
}

FolderAccessController::ObserverID FolderAccessController::addObserver(Observer observer) {
    ObserverID id = nextObserverID_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void FolderAccessController::removeObserver(ObserverID id) { observers_.erase(id); }

} // namespace brindleaf
