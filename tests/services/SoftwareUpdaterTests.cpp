#include "platform/ManualMainQueue.hpp"
#include "platform/MemoryLogSink.hpp"
#include "platform/SoftwareVersion.hpp"
#include "services/BuildInfo.hpp"
#include "services/SoftwareUpdater.hpp"
#include "tests/support/AppcastFixture.hpp"
#include "tests/support/DrainUntil.hpp"
#include "tests/support/TestHttpServer.hpp"

#include <gtest/gtest.h>

#include <mutex>
#include <thread>

using namespace brindleaf;
using brindleaf::testing::appcastDocument;
using brindleaf::testing::appcastItem;
using brindleaf::testing::drainUntil;
using brindleaf::testing::TestHttpServer;

namespace {

constexpr const char* host = "updates.example";
constexpr const char* mediaPath = "/wp-json/wp/v2/media";
const std::string cachedFeed = "https://updates.example/wp-content/uploads/2026/01/brindleaf-appcast.xml";

std::string mediaAnswer(const std::string& sourceURL) { return "[{\"source_url\":\"" + sourceURL + "\"}]"; }

struct RecordingAlert : SoftwareUpdaterAlert {
    std::vector<std::pair<std::string, std::string>> shown;
    void showAlert(const std::string& title, const std::string& message) override {
        shown.emplace_back(title, message);
    }
};

struct RecordingDriver : AppcastUserDriver {
    bool inFocus = false;
    std::vector<std::string> shown;
    std::function<void(Choice)> reply;
    bool applicationIsInFocus() const override { return inFocus; }
    void showUpdateFound(const AppcastItem& item, bool, std::function<void(Choice)> r) override {
        shown.push_back(item.displayVersion);
        reply = std::move(r);
    }
    void showUpdateNotFound(const std::string&) override {}
    void showUpdaterError(const std::string&) override {}
    void dismissUpdate() override {}
};

class SoftwareUpdaterTest : public ::testing::Test {
protected:
    SoftwareUpdaterTest() : server({404, "not found"}) { Logger::setSink(log); }
    ~SoftwareUpdaterTest() override { Logger::setSink(nullptr); }

    std::shared_ptr<SoftwareUpdater> make(double lookupTimeout = 15) {
        SoftwareUpdater::Options options;
        options.mainQueue = queue;
        options.defaults = defaults;
        options.host = host;
        options.lookupOrigin = server.url();
        options.runningVersion = "1.0";
        options.userDriver = driver;
        options.alert = alert;
        options.lookupTimeout = lookupTimeout;
        updater = SoftwareUpdater::make(options);
        return updater;
    }

    std::size_t lookups() const {
        std::size_t count = 0;
        for (const auto& line : server.requestLines()) count += line.find(mediaPath) != std::string::npos;
        return count;
    }

    bool settle() {
        return drainUntil(*queue, [&] { return !updater->isLookupInFlight() && !updater->controller().isChecking(); });
    }

    std::vector<std::string> updateLog() const {
        std::vector<std::string> lines;
        for (const auto& record : log->records()) {
            if (record.category == "Update" && record.level == LogLevel::notice) lines.push_back(record.message);
        }
        return lines;
    }

    TestHttpServer server;
    std::shared_ptr<MemoryLogSink> log = std::make_shared<MemoryLogSink>();
    std::shared_ptr<ManualMainQueue> queue = std::make_shared<ManualMainQueue>();
    std::shared_ptr<UserDefaults> defaults = UserDefaults::inMemory("test");
    std::shared_ptr<RecordingDriver> driver = std::make_shared<RecordingDriver>();
    std::shared_ptr<RecordingAlert> alert = std::make_shared<RecordingAlert>();
    std::shared_ptr<SoftwareUpdater> updater;
};

} // namespace

TEST_F(SoftwareUpdaterTest, TheOverrideStartsTheUpdaterWithoutALookup) {
    defaults->set(SoftwareUpdater::feedURLOverrideKey, server.url("/appcast.xml"));
    make()->start();
    EXPECT_TRUE(updater->isStarted());
    EXPECT_TRUE(updater->controller().isStarted());
    ASSERT_TRUE(settle());
    queue->advance(SoftwareUpdater::feedRefreshInterval);
    ASSERT_TRUE(settle());
    EXPECT_EQ(lookups(), 0u);
    EXPECT_EQ(updater->feedURL(), server.url("/appcast.xml"));
}

TEST_F(SoftwareUpdaterTest, AJunkOverrideCountsAsAbsent) {
    for (const char* junk : {"", "garbage", "ftp://x/a.xml", "http://quorvale.com/a.xml", "/wp-content/uploads/a"}) {
        SCOPED_TRACE(junk);
        defaults->set(SoftwareUpdater::feedURLOverrideKey, junk);
        make();
        EXPECT_FALSE(updater->feedURL());
        updater->refreshFeedURL();
        ASSERT_TRUE(settle());
        EXPECT_FALSE(updater->isStarted());
    }
    EXPECT_EQ(lookups(), 5u);
}

TEST_F(SoftwareUpdaterTest, AFoundAddressIsCachedAndStartsTheUpdater) {
    const std::string found = "https://updates.example/wp-content/uploads/2026/03/brindleaf-appcast.xml";
    server.setResponse(mediaPath, {200, mediaAnswer(found)});
    make()->start();
    EXPECT_FALSE(updater->isStarted());
    ASSERT_TRUE(settle());
    EXPECT_TRUE(updater->isStarted());
    EXPECT_EQ(defaults->string(SoftwareUpdater::cachedFeedURLKey), found);
    ASSERT_EQ(server.requestHeads().size(), 1u);
    const std::string head = server.requestHeads()[0];
    EXPECT_EQ(head.substr(0, head.find("\r\n")),
              "GET /wp-json/wp/v2/media?search=brindleaf-appcast&orderby=date&order=desc&per_page=1&_fields=source_url "
              "HTTP/1.1");
    EXPECT_NE(head.find("\r\nAccept: application/json"), std::string::npos);

    // Six hours later it is looked up again.
    queue->advance(SoftwareUpdater::feedRefreshInterval - 1);
    EXPECT_EQ(lookups(), 1u);
    queue->advance(1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(lookups(), 2u);
}

TEST_F(SoftwareUpdaterTest, AFailedLookupKeepsTheCache) {
    struct Case {
        const char* name;
        TestHttpServer::Response answer;
    };
    const Case cases[] = {
        {"status", {500, mediaAnswer(cachedFeed + "x")}},
        {"redirect", {302, "", "Location: /elsewhere\r\n"}},
        {"bad JSON", {200, "[{\"source_url\": "}},
        {"object", {200, "{\"source_url\":\"" + cachedFeed + "x\"}"}},
        {"not text", {200, "[{\"source_url\": 3}]"}},
        {"empty array", {200, "[]"}},
        {"other host", {200, mediaAnswer("https://elsewhere.example/wp-content/uploads/a.xml")}},
        {"other path", {200, mediaAnswer("https://updates.example/wp-content/themes/a.xml")}},
        {"host.evil", {200, mediaAnswer("https://updates.example.evil/wp-content/uploads/a.xml")}},
        {"plain http", {200, mediaAnswer("http://updates.example/wp-content/uploads/a.xml")}},
        {"blank", {200, mediaAnswer("https://updates.example/wp-content/uploads/a b.xml")}},
        {"too large",
         {200,
          "[" + std::string(SoftwareUpdater::maxLookupAnswerBytes, ' ') + mediaAnswer(cachedFeed + "x").substr(1)}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.setResponse(mediaPath, c.answer);
        for (bool cached : {false, true}) {
            log->clear();
            if (cached)
                defaults->set(SoftwareUpdater::cachedFeedURLKey, cachedFeed);
            else
                defaults->remove(SoftwareUpdater::cachedFeedURLKey);
            make()->refreshFeedURL();
            ASSERT_TRUE(settle());
            EXPECT_EQ(defaults->string(SoftwareUpdater::cachedFeedURLKey),
                      cached ? std::optional<std::string>(cachedFeed) : std::nullopt);
            EXPECT_EQ(updateLog(), std::vector<std::string>{"update feed lookup failed; using " +
                                                            (cached ? cachedFeed : std::string("none"))});
            EXPECT_EQ(updater->isStarted(), cached);
        }
    }
}

TEST_F(SoftwareUpdaterTest, TheLookupAnswerIsReadOffTheMainQueue) {
    // Each line written, and whether on the thread that runs the main queue.
    struct ThreadLogSink : LogSink {
        const std::thread::id main = std::this_thread::get_id();
        std::mutex mutex;
        std::vector<std::pair<std::string, bool>> lines;
        void write(const LogRecord& record) override {
            std::lock_guard lock(mutex);
            lines.emplace_back(record.message, std::this_thread::get_id() == main);
        }
    };
    auto sink = std::make_shared<ThreadLogSink>();
    Logger::setSink(sink);
    server.setResponse(mediaPath, {200, mediaAnswer("https://elsewhere.example/wp-content/uploads/a.xml")});
    make()->refreshFeedURL();
    ASSERT_TRUE(settle());
    std::lock_guard lock(sink->mutex);
    EXPECT_EQ(sink->lines, (std::vector<std::pair<std::string, bool>>{
                               {"update.lookup.refused reason=other-address", false},
                               {"update feed lookup failed; using none", true},
                           }));
}

TEST_F(SoftwareUpdaterTest, OfflineAManualCheckShowsTheAlert) {
    SoftwareUpdater::Options options;
    options.mainQueue = queue;
    options.defaults = defaults;
    options.host = host;
    options.lookupOrigin = "http://127.0.0.1:" + std::to_string(brindleaf::testing::closedLoopbackPort());
    options.alert = alert;
    int activations = 0;
    options.activateApplication = [&] { ++activations; };
    updater = SoftwareUpdater::make(options);
    updater->start();
    ASSERT_TRUE(settle());
    EXPECT_EQ(updateLog(), std::vector<std::string>{"update feed lookup failed; using none"});
    EXPECT_TRUE(alert->shown.empty());

    updater->checkForUpdates();
    ASSERT_TRUE(drainUntil(*queue, [&] { return !alert->shown.empty(); }));
    ASSERT_EQ(alert->shown.size(), 1u);
    EXPECT_EQ(alert->shown[0].first, "Can't Check for Updates");
    EXPECT_EQ(alert->shown[0].second,
              "Brindleaf couldn't reach updates.example. Check your internet connection and try again.");
    EXPECT_EQ(activations, 1);
}

TEST_F(SoftwareUpdaterTest, OverlappingLookupsShareOneRequest) {
    server.setResponse(mediaPath, {200, mediaAnswer(cachedFeed)});
    make();
    int answered = 0;
    updater->refreshFeedURL([&] { ++answered; });
    updater->refreshFeedURL([&] { ++answered; });
    updater->checkForUpdates();
    ASSERT_TRUE(settle());
    EXPECT_EQ(answered, 2);
    EXPECT_EQ(lookups(), 1u);
    EXPECT_TRUE(alert->shown.empty());
}

TEST_F(SoftwareUpdaterTest, ThePendingUpdateIsOfferedWithoutALookup) {
    defaults->set(SoftwareUpdater::cachedFeedURLKey, server.url("/appcast.xml"));
    server.setResponse("/appcast.xml", {200, appcastDocument({appcastItem("1.10", "1.10")})});
    server.setResponse(mediaPath, {500, ""});
    make()->start();
    ASSERT_TRUE(settle());
    EXPECT_EQ(lookups(), 1u);

    // The scheduled check finds 1.10 while no window is active: it waits.
    int changes = 0;
    updater->addObserver([&] { ++changes; });
    queue->advance(AppcastUpdater::defaultFirstCheckDelay);
    ASSERT_TRUE(settle());
    EXPECT_EQ(updater->pendingUpdateVersion(), "1.10");
    EXPECT_TRUE(driver->shown.empty());
    EXPECT_EQ(changes, 1);

    updater->checkForUpdates();
    EXPECT_FALSE(updater->pendingUpdateVersion());
    ASSERT_TRUE(settle());
    EXPECT_EQ(lookups(), 1u);
    EXPECT_EQ(driver->shown, std::vector<std::string>{"1.10"});
    driver->reply(AppcastUserDriver::Choice::remindLater);
    EXPECT_FALSE(updater->pendingUpdateVersion());

    // With a window active, the scheduled check shows the update itself.
    driver->inFocus = true;
    queue->advance(AppcastUpdater::defaultCheckInterval);
    ASSERT_TRUE(settle());
    EXPECT_EQ(driver->shown.size(), 2u);
    EXPECT_FALSE(updater->pendingUpdateVersion());
}

TEST_F(SoftwareUpdaterTest, TheLookupTimeOutHolds) {
    EXPECT_EQ(SoftwareUpdater::defaultLookupTimeout, 20);
    server.setNeverAnswer(true);
    defaults->set(SoftwareUpdater::cachedFeedURLKey, cachedFeed);
    make(/*lookupTimeout=*/0.3)->refreshFeedURL();
    ASSERT_TRUE(settle());
    EXPECT_EQ(updateLog(), std::vector<std::string>{"update feed lookup failed; using " + cachedFeed});
    EXPECT_EQ(defaults->string(SoftwareUpdater::cachedFeedURLKey), cachedFeed);
}

TEST(SoftwareUpdaterBuild, RunsAsTheProjectVersionAgainstTheProductHost) {
    EXPECT_TRUE(SoftwareVersion::parse(BuildInfo::version()));
    EXPECT_FALSE(BuildInfo::productHost().empty());
}
