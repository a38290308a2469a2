#pragma once

#include "platform/UserDefaults.hpp"
#include "services/FolderAccessAlertPresenter.hpp"
#include "services/FolderPicker.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// Read grants for the agents' folders. When the application runs confined it
// may read an agent's folder only after the user chose it (or a folder above
// it, such as the home folder) in a folder panel. A grant is stored as the
// chosen folder's canonical absolute path, as data, per folder kind under
// "folderAccessBookmarks", and restored at start-up while the path is still a
// readable folder. Unconfined, every question answers that access is granted
// and nothing is ever asked.
//
// Main thread only.
class FolderAccessController {
public:
    // Raw values equal to the names; in this order.
    enum class Folder { claude, claudeDesktop, codex, hermes };
    static constexpr std::array<Folder, 4> allFolders = {Folder::claude, Folder::claudeDesktop, Folder::codex,
                                                         Folder::hermes};
    static constexpr std::string_view bookmarksKey = "folderAccessBookmarks";

    static std::string_view rawValue(Folder folder);
    static std::optional<Folder> folderFromRawValue(std::string_view rawValue);
    // Below the home folder: ".claude", ".config/Claude", ".codex", ".hermes".
    static std::string_view relativePath(Folder folder);
    // The folder panel's message.
    static std::string_view explanation(Folder folder);

    // The folders an agent (by provider id) needs, and those offered when missing.
    static std::vector<Folder> folders(const std::string& providerID);
    static std::vector<Folder> offeredFolders(const std::string& providerID);

    using Observer = std::function<void()>;
    using ObserverID = std::uint64_t;

    // Restores the stored grants when confined. Without a picker, requests
    // for access are refused; without a presenter, wrong choices are refused
    // silently. `home` is the user's real home folder.
    FolderAccessController(std::shared_ptr<UserDefaults> defaults, bool isSandboxed,
                           std::shared_ptr<FolderPicker> picker = nullptr,
                           std::shared_ptr<FolderAccessAlertPresenter> alerts = nullptr, std::string home = {});
    FolderAccessController(const FolderAccessController&) = delete;
    FolderAccessController& operator=(const FolderAccessController&) = delete;

    bool isSandboxed() const { return isSandboxed_; }
    // The folder kinds open for reading in this run; only ever grows.
    const std::set<Folder>& grantedFolders() const { return grantedFolders_; }

    // Whether an agent's folders may be read: always unconfined, and for an
    // agent that needs no folder.
    bool hasAccess(const std::string& providerID) const;
    // The offered folders that exist and are not granted, while confined.
    std::vector<Folder> missingFolders(const std::string& providerID) const;
    // Whether any folder kind exists and is not granted, while confined.
    bool hasMissingFolderAccess() const;
    // Whether the folder exists below the home folder as a folder.
    bool folderExists(Folder folder) const;
    // The home folder followed by the relative path.
    std::string folderPath(Folder folder) const;

    // Asks the user for the folder; true when the choice was accepted (always
    // unconfined), false when cancelled or a wrong folder was chosen (then
    // with an alert). The chosen folder also opens every other kind below it,
    // for this run only: just the requested kind's grant is stored.
    bool requestAccess(Folder folder);
    // Opens the kind for this run through the given folder.
    void grant(const std::string& path, Folder folder);

    // Told after grantedFolders grew.
    ObserverID addObserver(Observer observer);
    void removeObserver(ObserverID id);

private:
    void restoreBookmarks();
    void storeBookmark(Folder folder, const std::string& path);

    std::shared_ptr<UserDefaults> defaults_;
    const bool isSandboxed_;
    std::shared_ptr<FolderPicker> picker_;
    std::shared_ptr<FolderAccessAlertPresenter> alerts_;
    std::string home_;
    std::set<Folder> grantedFolders_;
    std::map<Folder, std::string> accessedPaths_;
    std::map<ObserverID, Observer> observers_;
    ObserverID nextObserverID_ = 1;
};

} // namespace brindleaf
