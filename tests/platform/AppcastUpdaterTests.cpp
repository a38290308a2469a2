#include "platform/Appcast.hpp"
#include "platform/AppcastUpdater.hpp"
#include "platform/ManualMainQueue.hpp"
#include "platform/XmlParser.hpp"
#include "tests/support/AppcastFixture.hpp"
#include "tests/support/DrainUntil.hpp"
#include "tests/support/TestHttpServer.hpp"

#include <gtest/gtest.h>

using namespace brindleaf;
using brindleaf::testing::appcastDocument;
using brindleaf::testing::appcastItem;
using brindleaf::testing::drainUntil;
using brindleaf::testing::TestHttpServer;

namespace {

struct FakeDriver : AppcastUserDriver {
    bool inFocus = false;
    std::vector<std::string> shown; // display versions
    std::vector<bool> shownUserInitiated;
    std::function<void(Choice)> reply;
    int notFound = 0;
    std::vector<std::string> errors;
    int dismissed = 0;

    bool applicationIsInFocus() const override { return inFocus; }
    void showUpdateFound(const AppcastItem& item, bool userInitiated, std::function<void(Choice)> r) override {
        shown.push_back(item.displayVersion);
        shownUserInitiated.push_back(userInitiated);
        reply = std::move(r);
    }
    void showUpdateNotFound(const std::string&) override { ++notFound; }
    void showUpdaterError(const std::string& message) override { errors.push_back(message); }
    void dismissUpdate() override { ++dismissed; }
};

struct FakeDelegate : AppcastUpdaterDelegate {
    std::optional<std::string> feed;
    bool gentle = true;
    std::vector<std::string> events;

    std::optional<std::string> feedURLString() override { return feed; }
    bool supportsGentleScheduledUpdateReminders() override { return gentle; }
    bool shouldHandleShowingScheduledUpdate(const AppcastItem&, bool immediateFocus) override { return immediateFocus; }
    void willHandleShowingUpdate(bool handle, const AppcastItem& item, const AppcastUpdateState& state) override {
        events.push_back(std::string("willHandle ") + (handle ? "shown " : "unshown ") + item.displayVersion +
                         (state.userInitiated ? " user" : " scheduled"));
    }
    void didReceiveUserAttention(const AppcastItem& item) override { events.push_back("attention " + item.version); }
    void willFinishUpdateSession() override { events.push_back("finish"); }
};

class AppcastUpdaterTest : public ::testing::Test {
protected:
    AppcastUpdaterTest() : server({200, appcastDocument({appcastItem("1.2", "1.2"), appcastItem("1.10", "1.10")})}) {
        delegate.feed = server.url("/appcast.xml");
        AppcastUpdater::Options options;
        options.mainQueue = queue;
        options.defaults = defaults;
        options.runningVersion = "1.0.0";
        options.delegate = &delegate;
        options.userDriver = driver;
        updater = AppcastUpdater::make(options);
    }

    bool waitIdle() {
        return drainUntil(*queue, [&] { return !updater->isChecking(); });
    }

    TestHttpServer server;
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>();
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory("test");
    std::shared_ptr<FakeDriver> driver = std::make_shared<FakeDriver>();
    FakeDelegate delegate;
    std::shared_ptr<AppcastUpdater> updater;
};

} // namespace

TEST_F(AppcastUpdaterTest, ScheduledChecksStartAMinuteAfterStartThenDaily) {
    driver->inFocus = true;
    updater->startUpdater();
    queue->advance(59);
    EXPECT_EQ(server.requestCount(), 0u);
    queue->advance(1);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(driver->shown, std::vector<std::string>{"1.10"});
    EXPECT_EQ(driver->shownUserInitiated, std::vector<bool>{false});
    EXPECT_EQ(delegate.events, std::vector<std::string>{"willHandle shown 1.10 scheduled"});

    // While the update is on screen the daily check waits for the answer.
    queue->advance(86400);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(server.requestCount(), 1u);
    driver->reply(AppcastUserDriver::Choice::remindLater);
    EXPECT_EQ(delegate.events.back(), "finish");
    queue->advance(86400);
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(server.requestCount(), 2u);

    // Switched off, nothing more is fetched.
    driver->reply(AppcastUserDriver::Choice::remindLater);
    updater->setAutomaticallyChecksForUpdates(false);
    EXPECT_EQ(defaults->boolValue(AppcastUpdater::automaticChecksKey), false);
    queue->advance(3 * 86400);
    EXPECT_EQ(server.requestCount(), 2u);
}

TEST_F(AppcastUpdaterTest, ScheduledUpdateOutOfFocusStaysUnshownUntilTheUserAsks) {
    updater->startUpdater();
    queue->advance(60);
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(driver->shown.empty());
    ASSERT_TRUE(updater->sessionUpdate());
    EXPECT_FALSE(updater->isSessionShown());
    EXPECT_EQ(delegate.events, std::vector<std::string>{"willHandle unshown 1.10 scheduled"});

    updater->checkForUpdates();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(driver->shown, std::vector<std::string>{"1.10"});
    EXPECT_EQ(driver->shownUserInitiated, std::vector<bool>{true});
    EXPECT_EQ(delegate.events.back(), "attention 1.10");

    // Skipping stores the version; later scheduled checks leave it alone,
    // a check the user asks for still shows it.
    driver->reply(AppcastUserDriver::Choice::skip);
    EXPECT_EQ(defaults->string(AppcastUpdater::skippedVersionKey), "1.10");
    EXPECT_EQ(delegate.events.back(), "finish");
    delegate.events.clear();
    updater->checkForUpdatesInBackground();
    ASSERT_TRUE(waitIdle());
    EXPECT_TRUE(delegate.events.empty());
    EXPECT_FALSE(updater->sessionUpdate());
    updater->checkForUpdates();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(driver->shown.size(), 2u);

    // A stale answer from an ended session changes nothing.
    auto stale = driver->reply;
    stale(AppcastUserDriver::Choice::download);
    stale(AppcastUserDriver::Choice::skip);
    EXPECT_EQ(defaults->string(AppcastUpdater::skippedVersionKey), "1.10");
}

TEST_F(AppcastUpdaterTest, UserChecksSayWhenNothingIsNewOrTheCheckFailed) {
    server.setDefaultResponse({200, appcastDocument({appcastItem("1.0", "1.0"), appcastItem("0.9", "0.9")})});
    updater->checkForUpdates();
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(driver->notFound, 1);

    struct Case {
        const char* name;
        TestHttpServer::Response response;
    };
    std::string overElementCap = appcastItem("2.0", "2.0");
    for (std::size_t i = 0; i < XmlParser::Limits{}.maxElements; ++i) overElementCap += "<x/>";
    const Case cases[] = {
        {"status", {500, appcastDocument({appcastItem("2.0", "2.0")})}},
        {"over the element cap", {200, appcastDocument({overElementCap})}},
        {"not xml", {200, "{\"json\": true}"}},
        {"too large", {200, appcastDocument({appcastItem("2.0", "2.0")}) + std::string(Appcast::maxBytes, ' ')}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        driver->errors.clear();
        server.setDefaultResponse(c.response);
        updater->checkForUpdates();
        ASSERT_TRUE(waitIdle());
        EXPECT_EQ(driver->errors.size(), 1u);
        EXPECT_TRUE(driver->shown.empty());
    }

    // No usable feed address: nothing is fetched.
    const auto requests = server.requestCount();
    for (const char* feed : {"", "garbage", "ftp://quorvale.com/a.xml", "http://quorvale.com/appcast.xml"}) {
        SCOPED_TRACE(feed);
        driver->errors.clear();
        delegate.feed = feed;
        updater->checkForUpdates();
        EXPECT_EQ(driver->errors.size(), 1u);
    }
    EXPECT_EQ(server.requestCount(), requests);
}

TEST_F(AppcastUpdaterTest, AUserCheckDuringAScheduledOneShowsItsResult) {
    updater->checkForUpdatesInBackground();
    EXPECT_TRUE(updater->isChecking());
    updater->checkForUpdates(); // joins the check in flight
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(server.requestCount(), 1u);
    EXPECT_EQ(driver->shownUserInitiated, std::vector<bool>{true});
}
