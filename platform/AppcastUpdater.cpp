#include "platform/AppcastUpdater.hpp"

#include "platform/Appcast.hpp"
#include "platform/WebAddress.hpp"

namespace brindleaf {

namespace {

constexpr const char* checkFailedMessage = "The update information could not be loaded.";

} // namespace

std::shared_ptr<AppcastUpdater> AppcastUpdater::make(Options options) {
    return std::shared_ptr<AppcastUpdater>(new AppcastUpdater(std::move(options)));
}

AppcastUpdater::AppcastUpdater(Options options) : options_(std::move(options)) {
    if (!options_.defaults) options_.defaults = UserDefaults::inMemory("updates");
}

void AppcastUpdater::startUpdater() {
    if (started_) return;
    started_ = true;
    log_.info("updater.started version=" + options_.runningVersion);
    if (automaticallyChecksForUpdates()) schedule(options_.firstCheckDelay);
}

bool AppcastUpdater::automaticallyChecksForUpdates() const {
    return options_.defaults->boolValue(automaticChecksKey).value_or(true);
}

void AppcastUpdater::setAutomaticallyChecksForUpdates(bool on) {
    options_.defaults->set(automaticChecksKey, DefaultsValue(on));
    ++scheduleGeneration_;
    if (on && started_) schedule(options_.firstCheckDelay);
}

std::optional<std::string> AppcastUpdater::skippedVersion() const {
    return options_.defaults->string(skippedVersionKey);
}

void AppcastUpdater::schedule(double delay) {
    const auto generation = ++scheduleGeneration_;
    std::weak_ptr<AppcastUpdater> weak = weak_from_this();
    options_.mainQueue->postAfter(delay, [weak, generation] {
        if (auto self = weak.lock()) self->scheduledCheck(generation);
    });
}

void AppcastUpdater::scheduledCheck(unsigned long long generation) {
    if (generation != scheduleGeneration_ || !automaticallyChecksForUpdates()) return;
    schedule(options_.checkInterval);
    checkForUpdatesInBackground();
}

void AppcastUpdater::checkForUpdates() {
    if (checking_) {
        checkUserInitiated_ = true;
        return;
    }
    check(true);
}

void AppcastUpdater::checkForUpdatesInBackground() {
    // An update on screen waits for the user's answer first.
    if (checking_ || (sessionItem_ && sessionShown_)) return;
    check(false);
}

void AppcastUpdater::check(bool userInitiated) {
    checkUserInitiated_ = userInitiated;
    std::optional<std::string> feed = options_.delegate ? options_.delegate->feedURLString() : std::nullopt;
    const auto address = feed ? WebAddress::parse(*feed) : std::nullopt;
    if (!address || !(address->isHTTPS() || address->isLoopbackHTTP())) {
        failed("reason=noFeed", checkFailedMessage);
        return;
    }
    checking_ = true;
    HttpGetRequest request;
    request.url = *feed;
    request.timeoutSeconds = options_.fetchTimeout;
    request.maxBodyBytes = Appcast::maxBytes;
    request.maxRedirects = 3;
    request.redirectProtocols = "https";
    request.headers = {"Accept: application/rss+xml, application/xml;q=0.9, */*;q=0.1"};
    std::weak_ptr<AppcastUpdater> weak = weak_from_this();
    httpGetAndReadInBackground(std::move(request), options_.mainQueue, [weak](HttpGetResult answer) -> MainQueue::Job {
        auto fetched = std::make_shared<const Fetched>(read(std::move(answer)));
        return [weak, fetched] {
            if (auto self = weak.lock()) self->checkFinished(*fetched);
        };
    });
}

AppcastUpdater::Fetched AppcastUpdater::read(HttpGetResult answer) {
    Fetched fetched;
    if (answer.isOK()) fetched.items = Appcast::parse(answer.body);
    answer.body = std::string();
    fetched.answer = std::move(answer);
    return fetched;
}

void AppcastUpdater::checkFinished(const Fetched& fetched) {
    checking_ = false;
    const HttpGetResult& result = fetched.answer;
    if (!result.isOK()) {
        const std::string reason =
            result.outcome == HttpGetResult::Outcome::answered
                ? "status=" + std::to_string(result.status)
                : (result.outcome == HttpGetResult::Outcome::tooLarge ? "tooLarge" : result.message);
        failed("reason=" + reason, checkFailedMessage);
        return;
    }
    const auto& items = fetched.items;
    if (!items) {
        failed("reason=malformedAppcast", checkFailedMessage);
        return;
    }
    const bool userInitiated = checkUserInitiated_;
    const auto best =
        Appcast::bestUpdate(*items, options_.runningVersion, userInitiated ? std::nullopt : skippedVersion());
    log_.info("updater.checked items=" + std::to_string(items->size()) +
              " found=" + (best ? best->version : std::string("none")));
    if (!best) {
        if (sessionItem_) {
            if (sessionShown_ && options_.userDriver) options_.userDriver->dismissUpdate();
            endSession();
        }
        if (userInitiated && options_.userDriver) options_.userDriver->showUpdateNotFound(options_.runningVersion);
        return;
    }
    offer(*best, userInitiated);
}

void AppcastUpdater::failed(const std::string& logReason, const std::string& userMessage) {
    const bool userInitiated = checkUserInitiated_;
    log_.error("updater.check.failed " + logReason);
    if (userInitiated && options_.userDriver) options_.userDriver->showUpdaterError(userMessage);
}

void AppcastUpdater::offer(const AppcastItem& item, bool userInitiated) {
    AppcastUpdaterDelegate* delegate = options_.delegate;
    if (sessionItem_ && sessionShown_ && !(*sessionItem_ == item) && options_.userDriver)
        options_.userDriver->dismissUpdate();
    bool show = true;
    if (!userInitiated && delegate && delegate->supportsGentleScheduledUpdateReminders()) {
        const bool immediateFocus = options_.userDriver && options_.userDriver->applicationIsInFocus();
        show = delegate->shouldHandleShowingScheduledUpdate(item, immediateFocus);
    }
    const auto session = ++sessionGeneration_;
    sessionItem_ = item;
    sessionShown_ = show;
    if (delegate) delegate->willHandleShowingUpdate(show, item, AppcastUpdateState{userInitiated});
    if (!show) return;
    // The user asked: the update has their attention.
    if (userInitiated && delegate) delegate->didReceiveUserAttention(item);
    if (!options_.userDriver) return;
    std::weak_ptr<AppcastUpdater> weak = weak_from_this();
    options_.userDriver->showUpdateFound(item, userInitiated, [weak, session](AppcastUserDriver::Choice choice) {
        if (auto self = weak.lock()) self->answered(session, choice);
    });
}

void AppcastUpdater::answered(unsigned long long session, AppcastUserDriver::Choice choice) {
    if (session != sessionGeneration_ || !sessionItem_) return;
    const AppcastItem item = *sessionItem_;
    switch (choice) {
    case AppcastUserDriver::Choice::download:
        log_.info("updater.download version=" + item.version);
        break;
    case AppcastUserDriver::Choice::remindLater:
        log_.info("updater.remindLater version=" + item.version);
        break;
    case AppcastUserDriver::Choice::skip:
        options_.defaults->set(skippedVersionKey, DefaultsValue(item.version));
        log_.info("updater.skipped version=" + item.version);
        break;
    }
    endSession();
}

void AppcastUpdater::endSession() {
    sessionItem_.reset();
    sessionShown_ = false;
    ++sessionGeneration_;
    if (options_.delegate) options_.delegate->willFinishUpdateSession();
}

} // namespace brindleaf
