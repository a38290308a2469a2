#include "services/SoftwareUpdater.hpp"

#include "platform/WebAddress.hpp"
#include "services/BuildInfo.hpp"

#include <nlohmann/json.hpp>

#include <mutex>

namespace brindleaf {

namespace {

std::mutex sharedLock;
std::shared_ptr<SoftwareUpdater> sharedUpdater;

// Fault-tolerant reading of a stored address: anything but an absolute https
// address (or http to this machine) counts as absent.
std::optional<std::string> usableAddress(const std::optional<std::string>& text) {
    if (!text) return std::nullopt;
    const auto address = WebAddress::parse(*text);
    if (!address || !(address->isHTTPS() || address->isLoopbackHTTP())) return std::nullopt;
    return text;
}

} // namespace

std::shared_ptr<SoftwareUpdater> SoftwareUpdater::make(Options options) {
    return std::shared_ptr<SoftwareUpdater>(new SoftwareUpdater(std::move(options)));
}

std::shared_ptr<SoftwareUpdater> SoftwareUpdater::shared() {
    std::lock_guard guard(sharedLock);
    return sharedUpdater;
}

void SoftwareUpdater::setShared(std::shared_ptr<SoftwareUpdater> updater) {
    std::lock_guard guard(sharedLock);
    sharedUpdater = std::move(updater);
}

SoftwareUpdater::SoftwareUpdater(Options options) : options_(std::move(options)) {
    if (!options_.defaults) options_.defaults = UserDefaults::standard();
    host_ = options_.host.empty() ? std::string(BuildInfo::productHost()) : options_.host;
    if (options_.lookupOrigin.empty()) options_.lookupOrigin = "https://" + host_;
    if (options_.runningVersion.empty()) options_.runningVersion = std::string(BuildInfo::version());
}

std::optional<std::string> SoftwareUpdater::feedURL() const {
    if (auto override = usableAddress(options_.defaults->string(feedURLOverrideKey))) return override;
    return usableAddress(options_.defaults->string(cachedFeedURLKey));
}

AppcastUpdater& SoftwareUpdater::controller() {
    if (!controller_) {
        AppcastUpdater::Options options;
        options.mainQueue = options_.mainQueue;
        options.defaults = options_.defaults;
        options.runningVersion = options_.runningVersion;
        options.delegate = this;
        options.userDriver = options_.userDriver;
        controller_ = AppcastUpdater::make(std::move(options));
    }
    return *controller_;
}

void SoftwareUpdater::start() {
    startIfPossible();
    scheduleFeedRefresh();
    std::weak_ptr<SoftwareUpdater> weak = weak_from_this();
    options_.mainQueue->post([weak] {
        if (auto self = weak.lock()) self->refreshFeedURL();
    });
}

void SoftwareUpdater::scheduleFeedRefresh() {
    if (feedRefreshScheduled_) return;
    feedRefreshScheduled_ = true;
    // Re-posts itself every interval for as long as the updater exists. The
    // posted job holds the tick; the tick holds nothing strongly.
    auto tick = std::make_shared<std::function<void()>>();
    *tick = [weak = weak_from_this(), tickWeak = std::weak_ptr<std::function<void()>>(tick)] {
        auto self = weak.lock();
        auto next = tickWeak.lock();
        if (!self || !next) return;
        self->options_.mainQueue->postAfter(feedRefreshInterval, [next] { (*next)(); });
        self->refreshFeedURL();
    };
    options_.mainQueue->postAfter(feedRefreshInterval, [tick] { (*tick)(); });
}

void SoftwareUpdater::startIfPossible() {
    if (isStarted_ || !feedURL()) return;
    isStarted_ = true;
    controller().startUpdater();
}

void SoftwareUpdater::checkForUpdates() {
    if (pendingUpdateVersion_ && isStarted_) {
        setPendingUpdateVersion(std::nullopt);
        activate();
        controller().checkForUpdates();
        return;
    }
    std::weak_ptr<SoftwareUpdater> weak = weak_from_this();
    refreshFeedURL([weak] {
        if (auto self = weak.lock()) self->afterManualRefresh();
    });
}

void SoftwareUpdater::afterManualRefresh() {
    activate();
    if (isStarted_) {
        controller().checkForUpdates();
        return;
    }
    if (options_.alert) {
        options_.alert->showAlert("Can't Check for Updates", "Brindleaf couldn't reach " + host_ +
                                                                 ". Check your internet connection and try again.");
    }
}

void SoftwareUpdater::refreshFeedURL(std::function<void()> done) {
    if (done) refreshWaiters_.push_back(std::move(done));
    // A lookup in flight answers every caller that comes meanwhile.
    if (lookupInFlight_) return;
    if (usableAddress(options_.defaults->string(feedURLOverrideKey))) {
        finishRefresh();
        return;
    }
    lookupInFlight_ = true;
    std::weak_ptr<SoftwareUpdater> weak = weak_from_this();
    lookUpFeedURL([weak](std::optional<std::string> found) {
        if (auto self = weak.lock()) self->lookupFinished(std::move(found));
    });
}

void SoftwareUpdater::lookupFinished(std::optional<std::string> found) {
    lookupInFlight_ = false;
    if (found) {
        options_.defaults->set(cachedFeedURLKey, DefaultsValue(*found));
    } else {
        log_.notice("update feed lookup failed; using " + feedURL().value_or("none"));
    }
    finishRefresh();
}

void SoftwareUpdater::finishRefresh() {
    startIfPossible();
    std::vector<std::function<void()>> waiters;
    waiters.swap(refreshWaiters_);
    for (auto& waiter : waiters) waiter();
}

void SoftwareUpdater::lookUpFeedURL(std::function<void(std::optional<std::string>)> done) {
    HttpGetRequest request;
    request.url = options_.lookupOrigin + lookupPathAndQuery;
    request.headers = {"Accept: application/json", "Cache-Control: no-cache"};
    request.timeoutSeconds = options_.lookupTimeout;
    request.maxBodyBytes = maxLookupAnswerBytes;
    request.maxRedirects = 3;
    request.redirectProtocols = "https";
    // The answer is decoded on the background worker; only the address found goes to the main queue.
    httpGetAndReadInBackground(std::move(request), options_.mainQueue,
                               [host = host_, done = std::move(done)](HttpGetResult answer) -> MainQueue::Job {
                                   return [done, found = feedURLFromLookupAnswer(answer, host)] { done(found); };
                               });
}

std::optional<std::string> SoftwareUpdater::feedURLFromLookupAnswer(const HttpGetResult& answer,
                                                                    const std::string& host) {
    // Why an answer is refused goes to the log from wherever it is read (the
    // background worker), beside the main queue's line about the address kept.
    const Logger log("Update");
    auto refused = [&](const std::string& reason) -> std::optional<std::string> {
        log.info("update.lookup.refused reason=" + reason);
        return std::nullopt;
    };
    switch (answer.outcome) {
    case HttpGetResult::Outcome::answered:
        break;
    case HttpGetResult::Outcome::timedOut:
        return refused("timed-out");
    case HttpGetResult::Outcome::tooLarge:
        return refused("too-large");
    default:
        return refused("no-answer");
    }
    if (!answer.isOK()) return refused("status-" + std::to_string(answer.status));
    if (answer.body.size() > maxLookupAnswerBytes) return refused("too-large");
    const auto json = nlohmann::json::parse(answer.body, nullptr, /*allow_exceptions=*/false);
    if (json.is_discarded() || !json.is_array() || json.empty()) return refused("not-media-list");
    // Every item must decode, as a list of media items.
    for (const auto& item : json) {
        if (!item.is_object()) return refused("not-media-list");
        const auto found = item.find("source_url");
        if (found == item.end() || !found->is_string()) return refused("not-media-list");
    }
    const std::string source = json.front()["source_url"].get<std::string>();
    const std::string prefix = "https://" + host + "/wp-content/uploads/";
    if (source.size() <= prefix.size() || source.compare(0, prefix.size(), prefix) != 0 || !usableAddress(source)) {
        return refused("other-address");
    }
    return source;
}

bool SoftwareUpdater::automaticallyChecksForUpdates() { return controller().automaticallyChecksForUpdates(); }

void SoftwareUpdater::setAutomaticallyChecksForUpdates(bool on) {
    changed();
    controller().setAutomaticallyChecksForUpdates(on);
}

bool SoftwareUpdater::shouldHandleShowingScheduledUpdate(const AppcastItem&, bool immediateFocus) {
    return immediateFocus;
}

void SoftwareUpdater::willHandleShowingUpdate(bool handleShowingUpdate, const AppcastItem& item,
                                              const AppcastUpdateState&) {
    if (!handleShowingUpdate) setPendingUpdateVersion(item.displayVersion);
}

void SoftwareUpdater::didReceiveUserAttention(const AppcastItem&) { setPendingUpdateVersion(std::nullopt); }

void SoftwareUpdater::willFinishUpdateSession() { setPendingUpdateVersion(std::nullopt); }

void SoftwareUpdater::setPendingUpdateVersion(std::optional<std::string> version) {
    if (version == pendingUpdateVersion_) return;
    pendingUpdateVersion_ = std::move(version);
    changed();
}

void SoftwareUpdater::activate() {
    if (options_.activateApplication) options_.activateApplication();
}

SoftwareUpdater::ObserverID SoftwareUpdater::addObserver(std::function<void()> observer) {
    const ObserverID id = nextObserverID_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void SoftwareUpdater::removeObserver(ObserverID id) { observers_.erase(id); }

void SoftwareUpdater::changed() {
    // Observers may remove themselves while being told.
    const auto observers = observers_;
    for (const auto& [id, observer] : observers) observer();
}

} // namespace brindleaf
