#pragma once

#include "platform/AppcastItem.hpp"

#include <optional>
#include <string>

namespace brindleaf {

// How a found update came to be shown.
struct AppcastUpdateState {
    // The user asked for the check (otherwise it was a scheduled one).
    bool userInitiated = false;
};

// The application's answers to the appcast updater. Called on the main queue.
class AppcastUpdaterDelegate {
public:
    virtual ~AppcastUpdaterDelegate() = default;

    // The appcast's address, asked before every check; none skips the check.
    virtual std::optional<std::string> feedURLString() = 0;
    // Whether the application offers scheduled updates gently itself, so that
    // the updater may leave a scheduled update unshown.
    virtual bool supportsGentleScheduledUpdateReminders() { return false; }
    // Whether the updater shows a scheduled update now; `immediateFocus` says
    // whether the application is in the user's focus.
    virtual bool shouldHandleShowingScheduledUpdate(const AppcastItem&, bool /*immediateFocus*/) { return true; }
    // Told before a found update is shown, or left unshown when
    // `handleShowingUpdate` is false.
    virtual void willHandleShowingUpdate(bool /*handleShowingUpdate*/, const AppcastItem&, const AppcastUpdateState&) {}
    // The user's attention went to the update (it was shown because they asked).
    virtual void didReceiveUserAttention(const AppcastItem&) {}
    // The update session ends: the user chose, or no update remains.
    virtual void willFinishUpdateSession() {}
};

} // namespace brindleaf
