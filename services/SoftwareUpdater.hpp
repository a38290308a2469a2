#pragma once

#include "platform/AppcastUpdater.hpp"
#include "platform/AppcastUpdaterDelegate.hpp"
#include "platform/AppcastUserDriver.hpp"
#include "platform/HttpGet.hpp"
#include "platform/Logger.hpp"
#include "platform/MainQueue.hpp"
#include "platform/UserDefaults.hpp"
#include "services/SoftwareUpdaterAlert.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// Drives software updates. The appcast's address is not built in: it is looked
// up on the product web site (the newest uploaded media file named like the
// appcast), cached, and kept while a lookup fails; the override key replaces
// it. Once an address is known the appcast updater is started; the address is
// looked up again every six hours. An update that a scheduled check found
// while no Brindleaf window was active is not shown: its version waits in
// pendingUpdateVersion for the dashboard and the About pane to offer.
//
// Confined to the main queue; lookups run on a thread of their own and at
// most one is in flight. Pending work holds the updater weakly.
class SoftwareUpdater final : public AppcastUpdaterDelegate, public std::enable_shared_from_this<SoftwareUpdater> {
public:
    static constexpr const char* feedURLOverrideKey = "BrindleafUpdateFeedURL";
    static constexpr const char* cachedFeedURLKey = "Brindleaf.updateFeedURL.v1";
    static constexpr double feedRefreshInterval = 21600;
    static constexpr double defaultLookupTimeout = 20;
    static constexpr std::size_t maxLookupAnswerBytes = 64u << 10;
    static constexpr const char* lookupPathAndQuery =
        "/wp-json/wp/v2/media?search=brindleaf-appcast&orderby=date&order=desc&per_page=1&_fields=source_url";

    struct Options {
        std::shared_ptr<MainQueue> mainQueue;
        // The standard suite when absent.
        std::shared_ptr<UserDefaults> defaults;
        // The update server's host name; BuildInfo::productHost() when empty.
        std::string host;
        // Where the lookup is sent: "https://" + host when empty.
        std::string lookupOrigin;
        // BuildInfo::version() when empty.
        std::string runningVersion;
        std::shared_ptr<AppcastUserDriver> userDriver;
        std::shared_ptr<SoftwareUpdaterAlert> alert;
        // Brings the application to the front before an update check or alert.
        std::function<void()> activateApplication;
        double lookupTimeout = defaultLookupTimeout;
    };

    using ObserverID = std::uint64_t;

    static std::shared_ptr<SoftwareUpdater> make(Options options);
    // The process's one updater, installed by the launch routine; none before.
    static std::shared_ptr<SoftwareUpdater> shared();
    static void setShared(std::shared_ptr<SoftwareUpdater> updater);

    SoftwareUpdater(const SoftwareUpdater&) = delete;
    SoftwareUpdater& operator=(const SoftwareUpdater&) = delete;

    // Starts the updater when an address is known, schedules the six-hourly
    // lookup and runs one lookup now (on the main queue).
    void start();
    // The user's update check (dashboard, About pane, "--check-for-updates").
    void checkForUpdates();
    // Looks the address up (unless the override is set), caches what it found
    // and starts the updater when an address is known; then runs `done`.
    void refreshFeedURL(std::function<void()> done = {});

    // The override when it is a usable address, else the cached address when
    // usable, else none. Usable: absolute https, or http to this machine.
    std::optional<std::string> feedURL() const;
    const std::optional<std::string>& pendingUpdateVersion() const { return pendingUpdateVersion_; }
    bool isStarted() const { return isStarted_; }
    bool isLookupInFlight() const { return lookupInFlight_; }
    const std::string& host() const { return host_; }

    // The appcast updater, created on first use.
    AppcastUpdater& controller();
    // The About pane's switch: observers hear of the change, then it is stored.
    bool automaticallyChecksForUpdates();
    void setAutomaticallyChecksForUpdates(bool on);

    // Called on the main queue after pendingUpdateVersion or the automatic
    // checks changed.
    ObserverID addObserver(std::function<void()> observer);
    void removeObserver(ObserverID id);

    // The answers to the appcast updater.
    std::optional<std::string> feedURLString() override { return feedURL(); }
    bool supportsGentleScheduledUpdateReminders() override { return true; }
    bool shouldHandleShowingScheduledUpdate(const AppcastItem& item, bool immediateFocus) override;
    void willHandleShowingUpdate(bool handleShowingUpdate, const AppcastItem& item,
                                 const AppcastUpdateState& state) override;
    void didReceiveUserAttention(const AppcastItem& item) override;
    void willFinishUpdateSession() override;

    // The feed address in a lookup answer: a 200 answer holding a JSON array
    // of media items whose first "source_url" begins with "https://" + host +
    // "/wp-content/uploads/"; none for anything else, with a log line that
    // says why.
    static std::optional<std::string> feedURLFromLookupAnswer(const HttpGetResult& answer, const std::string& host);

private:
    explicit SoftwareUpdater(Options options);

    void lookUpFeedURL(std::function<void(std::optional<std::string>)> done);
    void lookupFinished(std::optional<std::string> found);
    void startIfPossible();
    void finishRefresh();
    void afterManualRefresh();
    void scheduleFeedRefresh();
    void setPendingUpdateVersion(std::optional<std::string> version);
    void activate();
    void changed();

    Options options_;
    std::string host_;
    Logger log_{"Update"};
    std::shared_ptr<AppcastUpdater> controller_;
    std::optional<std::string> pendingUpdateVersion_;
    bool isStarted_ = false;
    bool feedRefreshScheduled_ = false;
    bool lookupInFlight_ = false;
    std::vector<std::function<void()>> refreshWaiters_;
    std::map<ObserverID, std::function<void()>> observers_;
    ObserverID nextObserverID_ = 1;
};

} // namespace brindleaf
