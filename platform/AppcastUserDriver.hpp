#pragma once

#include "platform/AppcastItem.hpp"

#include <functional>
#include <string>

namespace brindleaf {

// The windows the appcast updater shows. Implemented by the application's
// update window; called on the main queue.
class AppcastUserDriver {
public:
    // What the user did with an offered update.
    enum class Choice {
        download, // the download page was opened in the browser
        remindLater,
        skip,
    };

    virtual ~AppcastUserDriver() = default;

    // Whether one of the application's windows is active.
    virtual bool applicationIsInFocus() const = 0;
    // Shows the update (or brings its window to the front) and answers
    // `reply` once, when the user chose.
    virtual void showUpdateFound(const AppcastItem& item, bool userInitiated, std::function<void(Choice)> reply) = 0;
    // A check the user asked for found nothing newer than `runningVersion`.
    virtual void showUpdateNotFound(const std::string& runningVersion) = 0;
    // A check the user asked for failed.
    virtual void showUpdaterError(const std::string& message) = 0;
    // The offered update is gone (a newer check replaced it): close its window.
    virtual void dismissUpdate() = 0;
};

} // namespace brindleaf
