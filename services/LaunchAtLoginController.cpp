#include "services/LaunchAtLoginController.hpp"

#include "core/TextUtils.hpp"
#include "platform/AtomicFile.hpp"
#include "platform/DesktopEntry.hpp"
#include "platform/Logger.hpp"
#include "platform/XdgDirectories.hpp"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
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

// Only a file is an entry: a folder (or anything else) of that name is none.
EntryState entryState(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return EntryState::missing;
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

bool isFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

constexpr std::string_view kDeletedSuffix = " (deleted)";

// The program the entry runs, from the running executable's path as
// /proc/self/exe reads it. Once a package upgrade has replaced the running
// file, the link reads "<path> (deleted)" and the new file at <path> is the
// program to start. Absent, with `failure` set, when nothing is there to run,
// when the path is not UTF-8 (an entry is UTF-8 text and its launcher would not
// find a path written otherwise), or when it holds a "%" or a backslash: the
// entry carries them escaped, and the launchers in use do not read them back
// (GLib's and systemd's autostart generator look for "%%"; systemd's generator
// undoes the backslash escape twice), so they start nothing.
std::optional<std::string> programToRun(const std::string& executable, std::string& failure) {
    if (executable.empty()) {
        failure = "the running program's path is unknown";
        return std::nullopt;
    }
    std::string program = executable;
    if (program.ends_with(kDeletedSuffix) && !isFile(program)) {
        program.resize(program.size() - kDeletedSuffix.size());
        if (!isFile(program)) {
            failure = repairUTF8(program) + ": the running program was removed and nothing replaced it";
            return std::nullopt;
        }
    }
    if (!isValidUTF8(program)) {
        failure = repairUTF8(program) + ": the running program's path is not valid UTF-8";
        return std::nullopt;
    }
    if (const auto at = program.find_first_of("%\\"); at != std::string::npos) {
        failure = program + ": the running program's path holds a \"" + program[at] +
                  "\", which login launchers do not read back";
        return std::nullopt;
    }
    return program;
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
    std::string failure;
    std::optional<std::string> program = programToRun(locations_.executablePath, failure);
    if (!program) return failure;
    std::error_code error;
    std::filesystem::create_directories(locations_.userAutostartFolder, error);
    if (error) return locations_.userAutostartFolder.string() + ": " + error.message();

    std::string contents = "[Desktop Entry]\n"
                           "Type=Application\n"
                           "Name=Brindleaf\n"
                           "Exec=" +
                           DesktopEntry::escapeValue(DesktopEntry::execCommand({*program})) +
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
    // A folder of that name is no entry: there is nothing of ours to remove.
    if (std::filesystem::is_directory(std::filesystem::symlink_status(path, error))) return std::nullopt;
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
