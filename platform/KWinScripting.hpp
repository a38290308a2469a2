#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// Finds and activates the windows of native Wayland clients under KWin
// (Plasma's Wayland session) through KWin's scripting on the session bus: a
// short script, written to a private folder, is loaded with
// org.kde.kwin.Scripting.loadScript and run; it looks the window up by
// process id, activates it when asked (KWin then switches to its desktop and
// restores it when minimised) and calls back on our own bus connection with
// what it found. The script is unloaded and its file removed after.
//
// KWin is used only when org.kde.KWin is owned by a connection of this user,
// and the answer is taken only from that connection. Every bus call and the
// wait for the script's answer take at most a second each; a new connection
// is made per call. Calls block and are made off the UI thread.
class KWinScripting {
public:
    static constexpr const char* service = "org.kde.KWin";
    static constexpr const char* answerPath = "/org/brindleaf/KWinAnswer";
    static constexpr const char* answerInterface = "org.brindleaf.KWinAnswer";
    static constexpr const char* answerMember = "Window";

    struct Window {
        int64_t pid = 0;
        bool active = false; // KWin's active window
        bool operator==(const Window&) const = default;
    };

    // The bus at `busAddress` and script files under `runtimeFolder`; empty
    // for $DBUS_SESSION_BUS_ADDRESS and $XDG_RUNTIME_DIR.
    explicit KWinScripting(std::string busAddress = {}, std::string runtimeFolder = {});

    // True when KWin's scripting is on the bus, served by this user, and
    // there is a runtime folder of this user's for the script files.
    bool isAvailable() const;
    // The normal window of the first process of `pids` (nearest first) that
    // has one, the one highest in the stacking order when it has several;
    // nullopt when none has or KWin did not answer.
    std::optional<Window> windowOf(const std::vector<int64_t>& pids) const;
    // Activates the window windowOf({pid}) finds; true when it is then
    // KWin's active window.
    bool activate(int64_t pid) const;

    // The script that looks for `pids`' window, activates it when `activate`,
    // and calls `answerMember` on `replyTo`'s answerPath with the window's
    // pid (0 when none) and whether it is the active window.
    static std::string script(const std::vector<int64_t>& pids, bool activate, const std::string& replyTo);

private:
    std::optional<Window> run(const std::vector<int64_t>& pids, bool activate) const;

    std::string busAddress_;
    std::string runtimeFolder_;
};

} // namespace brindleaf
