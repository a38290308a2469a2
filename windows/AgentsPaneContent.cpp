#include "windows/AgentsPaneContent.hpp"

#include <algorithm>

namespace brindleaf::AgentsPaneContent {

std::vector<std::string_view> footerLines(bool isSandboxed, const std::vector<ProviderDescriptor>& catalog,
                                          const std::set<std::string>& enabledProviderIDs) {
    std::vector<std::string_view> lines;
    if (isSandboxed) lines.push_back(readOnlyFooter);
    const auto enabled = std::count_if(catalog.begin(), catalog.end(), [&](const ProviderDescriptor& provider) {
        return enabledProviderIDs.count(provider.id) > 0;
    });
    if (enabled == 1) lines.push_back(lastAgentFooter);
    return lines;
}

std::vector<FolderAccessController::Folder> rowFolders(const std::string& providerID) {
    std::vector<FolderAccessController::Folder> folders = FolderAccessController::folders(providerID);
    if (providerID == "claude") folders.push_back(FolderAccessController::Folder::claudeDesktop);
    return folders;
}

std::string displayPath(FolderAccessController::Folder folder) {
    return "~/" + std::string(FolderAccessController::relativePath(folder));
}

std::optional<std::string_view> note(FolderAccessController::Folder folder) {
    if (folder == FolderAccessController::Folder::claudeDesktop) return claudeDesktopNote;
    return std::nullopt;
}

FolderLineState folderLineState(bool isSandboxed, bool isGranted, bool exists) {
    if (!isSandboxed || isGranted) return FolderLineState::allowed;
    return exists ? FolderLineState::allowAccess : FolderLineState::notInstalled;
}

FolderLineState folderLineState(const FolderAccessController& folderAccess, FolderAccessController::Folder folder) {
    const bool granted = folderAccess.grantedFolders().count(folder) > 0;
    // The disk is asked only when the answer matters.
    if (!folderAccess.isSandboxed() || granted) return FolderLineState::allowed;
    return folderLineState(true, false, folderAccess.folderExists(folder));
}

} // namespace brindleaf::AgentsPaneContent
