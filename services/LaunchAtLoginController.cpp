#include "services/LaunchAtLoginController.hpp"

#include "platform/AtomicFile.hpp"
#include "platform/DesktopEntry.hpp"
#include "platform/Logger.hpp"
#include "platform/XdgDirectories.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

namespace brindleaf {

namespace {

const Logger& loginItemLog() {
    static const Logger logger("LoginItem");
    return logger;
}

std::string describe(const std::filesystem::path& path, int error) {
    return path.string() + ": " + std::strerror(error);
}

enum class EntryState { missing, shown, hidden };

EntryState entryState(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return EntryState::missing;
    std::ostringstream contents;
    contents << in.rdbuf();
    const std::string text = contents.str();
    if (DesktopEntry::isTrue(DesktopEntry::value(text, "Hidden")) ||
        DesktopEntry::isFalse(DesktopEntry::value(text, "X-GNOME-Autostart-enabled"))) {
        return EntryState::hidden;
    }
    return EntryState::shown;
}

} // namespace

LaunchAtLoginController::Locations LaunchAtLoginController::Locations::fromEnvironment() {
    Locations locations;
    std::filesystem::path configHome = XdgDirectories::configHome();
    if (!configHome.empty()) locations.userAutostartFolder = configHome / "autostart";
    for (const auto& folder : XdgDirectories::configDirs())
        locations.systemAutostartFolders.push_back(folder / "autostart");
    std::error_code error;
    locations.executablePath = std::filesystem::read_symlink("/proc/self/exe", error).string();
    return locations;
}

LaunchAtLoginController::LaunchAtLoginController(Locations locations) : locations_(std::move(locations)) { refresh(); }

std::filesystem::path LaunchAtLoginController::userEntryPath() const {
    if (locations_.userAutostartFolder.empty()) return {};
    return locations_.userAutostartFolder / entryFileName;
}

void LaunchAtLoginController::refresh() { publish(registered(), lastErrorMessage_); }

bool LaunchAtLoginController::registered() const {
    EntryState state = EntryState::missing;
    if (auto path = userEntryPath(); !path.empty()) state = entryState(path);
    for (size_t i = 0; state == EntryState::missing && i < locations_.systemAutostartFolders.size(); ++i) {
        state = entryState(locations_.systemAutostartFolders[i] / entryFileName);
    }
    return state == EntryState::shown;
}

void LaunchAtLoginController::setEnabled(bool enabled) {
    std::optional<std::string> failure;
    if (enabled) {
        failure = writeEntry(false);
    } else {
        bool systemEntry = false;
        for (const auto& folder : locations_.systemAutostartFolders) {
            if (entryState(folder / entryFileName) != EntryState::missing) systemEntry = true;
        }
        // Removing ours would let the system's entry start the application: hide it instead.
        failure = systemEntry ? writeEntry(true) : removeEntry();
    }
    std::optional<std::string> message;
    if (failure) {
        message = std::string(enabled ? addFailedMessage : removeFailedMessage);
        loginItemLog().error("Brindleaf login item change failed: " + *failure);
    }
    // The switches show what the disk holds, not what was asked for.
    publish(registered(), std::move(message));
}

// Writes the user's entry, running this executable; a description of the
// failure when it could not be written.
std::optional<std::string> LaunchAtLoginController::writeEntry(bool hidden) const {
    const std::filesystem::path path = userEntryPath();
    if (path.empty()) return std::string("no home folder for the autostart entry");
    if (locations_.executablePath.empty()) return std::string("the running program's path is unknown");
    std::error_code error;
    std::filesystem::create_directories(locations_.userAutostartFolder, error);
    if (error) return locations_.userAutostartFolder.string() + ": " + error.message();

    std::string contents = "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Brindleaf\n"
                           "Exec=" +
                           DesktopEntry::escapeValue(DesktopEntry::execCommand({locations_.executablePath})) +
                           "\n"
                           "Terminal=false\n";
    contents += hidden ? "Hidden=true\n" : "X-GNOME-Autostart-enabled=true\n";
    if (auto failure = AtomicFile::replaceContents(path, contents)) return describe(path, failure->error);
    return std::nullopt;
}

std::optional<std::string> LaunchAtLoginController::removeEntry() const {
    const std::filesystem::path path = userEntryPath();
    if (path.empty()) return std::nullopt;
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) return path.string() + ": " + error.message();
    return std::nullopt;
}

void LaunchAtLoginController::publish(bool isEnabled, std::optional<std::string> lastErrorMessage) {
    if (isEnabled == isEnabled_ && lastErrorMessage == lastErrorMessage_) return;
    isEnabled_ = isEnabled;
    lastErrorMessage_ = std::move(lastErrorMessage);
    auto observers = observers_;
    for (const auto& [id, observer] : observers) observer();
}

LaunchAtLoginController::ObserverID LaunchAtLoginController::addObserver(Observer observer) {
    ObserverID id = nextObserverID_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void LaunchAtLoginController::removeObserver(ObserverID id) { observers_.erase(id); }

} // namespace brindleaf
