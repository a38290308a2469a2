#pragma once

#include "platform/AppcastItem.hpp"
#include "platform/AppcastUpdaterDelegate.hpp"
#include "platform/AppcastUserDriver.hpp"
#include "platform/HttpGet.hpp"
#include "platform/Logger.hpp"
#include "platform/MainQueue.hpp"
#include "platform/UserDefaults.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// The application's own update checker: it reads the appcast the delegate
// names, picks the newest release above the running version and offers it
// through the user driver. It never downloads or installs anything: the user
// downloads the release from its page in the browser.
//
// Once started it checks by itself a minute after the start and then once a
// day, while automatic checks are on. A scheduled check honours the skipped
// version and leaves an update unshown when the delegate says so; a check the
// user asked for always shows what it found, or says that there is nothing
// new or that the check failed. At most one check is in flight.
//
// Confined to the main queue; the appcast is fetched and read on a
// background worker, and only the items read come back to the main queue.
// Pending work holds the updater weakly.
class AppcastUpdater : public std::enable_shared_from_this<AppcastUpdater> {
public:
    static constexpr const char* skippedVersionKey = "Brindleaf.skippedUpdateVersion.v1";
    static constexpr const char* automaticChecksKey = "Brindleaf.automaticallyChecksForUpdates.v1";
    static constexpr double defaultFirstCheckDelay = 60;
    static constexpr double defaultCheckInterval = 86400;
    static constexpr double defaultFetchTimeout = 30;

    struct Options {
        std::shared_ptr<MainQueue> mainQueue;
        std::shared_ptr<UserDefaults> defaults;
        std::string runningVersion;
        // Not owned: it must outlive the updater (the delegate owns it).
        AppcastUpdaterDelegate* delegate = nullptr;
        std::shared_ptr<AppcastUserDriver> userDriver;
        double firstCheckDelay = defaultFirstCheckDelay;
        double checkInterval = defaultCheckInterval;
        double fetchTimeout = defaultFetchTimeout;
    };

    static std::shared_ptr<AppcastUpdater> make(Options options);
    AppcastUpdater(const AppcastUpdater&) = delete;
    AppcastUpdater& operator=(const AppcastUpdater&) = delete;

    // Starts the schedule; later calls do nothing.
    void startUpdater();
    bool isStarted() const { return started_; }

    // A check the user asked for. While a check is in flight, its result is
    // handled as asked for by the user.
    void checkForUpdates();
    // A check as the schedule makes it.
    void checkForUpdatesInBackground();

    // Stored under automaticChecksKey, on when absent. Switching it on
    // schedules a check a minute later; off cancels the schedule.
    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool on);

    std::optional<std::string> skippedVersion() const;

    bool isChecking() const { return checking_; }
    // The update of the current session, shown or not; none without a session.
    const std::optional<AppcastItem>& sessionUpdate() const { return sessionItem_; }
    bool isSessionShown() const { return sessionShown_; }

private:
    explicit AppcastUpdater(Options options);

    void schedule(double delay);
    void scheduledCheck(unsigned long long generation);
    void check(bool userInitiated);
    // A fetched appcast as read on the background worker: the answer (its
    // body dropped) and, for an answer with status 200, the items read.
    struct Fetched {
        HttpGetResult answer;
        std::optional<std::vector<AppcastItem>> items;
    };
    static Fetched read(HttpGetResult answer);
    void checkFinished(const Fetched& fetched);
    void failed(const std::string& logReason, const std::string& userMessage);
    void offer(const AppcastItem& item, bool userInitiated);
    void answered(unsigned long long session, AppcastUserDriver::Choice choice);
    void endSession();

    Options options_;
    Logger log_{"Update"};
    bool started_ = false;
    bool checking_ = false;
    bool checkUserInitiated_ = false;
    unsigned long long scheduleGeneration_ = 0;
    unsigned long long sessionGeneration_ = 0;
    std::optional<AppcastItem> sessionItem_;
    bool sessionShown_ = false;
};

} // namespace brindleaf
