#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// Whether the application starts when the user logs in: an XDG autostart
// entry "com.quorvale.Brindleaf.desktop" in the user's autostart folder
// ($XDG_CONFIG_HOME/autostart, ~/.config/autostart when unset). The item is
// enabled when the user's entry is a file and is not hidden ("Hidden=true" or
// "X-GNOME-Autostart-enabled=false"); without a user entry, a same-named entry
// in a system autostart folder ($XDG_CONFIG_DIRS/autostart) counts, and
// switching it off writes a hidden user entry over it. The registration lives
// on disk and outlives the process; the controller only mirrors it.
//
// Main thread only.
class LaunchAtLoginController {
public:
    static constexpr std::string_view entryFileName = "com.quorvale.Brindleaf.desktop";
    static constexpr std::string_view addFailedMessage = "Brindleaf couldn’t be added to your login items.";
    static constexpr std::string_view removeFailedMessage = "Brindleaf couldn’t be removed from your login items.";

    struct Locations {
        std::filesystem::path userAutostartFolder;
        std::vector<std::filesystem::path> systemAutostartFolders; // first one first
        // The running executable as /proc/self/exe reads it; the entry runs
        // it, or the file that replaced it when it reads "<path> (deleted)".
        std::string executablePath;

        // From the XDG variables, and the running executable with links resolved.
        static Locations fromEnvironment();
    };

    using Observer = std::function<void()>;
    using ObserverID = std::uint64_t;

    // Starts disabled, without message, then refreshes.
    explicit LaunchAtLoginController(Locations locations = Locations::fromEnvironment());
    LaunchAtLoginController(const LaunchAtLoginController&) = delete;
    LaunchAtLoginController& operator=(const LaunchAtLoginController&) = delete;

    bool isEnabled() const { return isEnabled_; }
    // Never needed here: an autostart entry takes effect without approval.
    bool requiresApproval() const { return requiresApproval_; }
    // The message of the last failed change, absent after a successful one.
    const std::optional<std::string>& lastErrorMessage() const { return lastErrorMessage_; }

    // Reads the state from disk again.
    void refresh();
    // Writes or removes the entry. A failure sets lastErrorMessage and is
    // logged; the state afterwards is always what the disk holds.
    void setEnabled(bool enabled);

    std::filesystem::path userEntryPath() const;

    // Told after any of the three values changed.
    ObserverID addObserver(Observer observer);
    void removeObserver(ObserverID id);

private:
    std::optional<std::string> writeEntry(bool hidden) const;
    std::optional<std::string> removeEntry() const;
    bool registered() const;
    void publish(bool isEnabled, std::optional<std::string> lastErrorMessage);

    Locations locations_;
    bool isEnabled_ = false;
    const bool requiresApproval_ = false;
    std::optional<std::string> lastErrorMessage_;
    std::map<ObserverID, Observer> observers_;
    ObserverID nextObserverID_ = 1;
};

} // namespace brindleaf
