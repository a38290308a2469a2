#include "platform/HttpGet.hpp"
#include "platform/ManualMainQueue.hpp"
#include "tests/support/DrainUntil.hpp"
#include "tests/support/TestHttpServer.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace brindleaf;
using brindleaf::testing::drainUntil;
using brindleaf::testing::TestHttpServer;

namespace {

HttpGetRequest requestFor(const std::string& url) {
    HttpGetRequest request;
    request.url = url;
    request.timeoutSeconds = 15;
    return request;
}

} // namespace

TEST(HttpGet, ReturnsStatusBodyAndSendsHeaders) {
    TestHttpServer server({404, "missing"});
    server.setResponse("/feed", {200, "[1]"});
    auto request = requestFor(server.url("/feed?x=1"));
    request.headers = {"Accept: application/json"};
    const auto found = httpGet(request);
    EXPECT_TRUE(found.isOK());
    EXPECT_EQ(found.body, "[1]");
    ASSERT_EQ(server.requestHeads().size(), 1u);
    EXPECT_NE(server.requestHeads()[0].find("\r\nAccept: application/json"), std::string::npos);
    EXPECT_EQ(server.requestLines()[0], "GET /feed?x=1 HTTP/1.1");

    const auto missing = httpGet(requestFor(server.url("/other")));
    EXPECT_EQ(missing.outcome, HttpGetResult::Outcome::answered);
    EXPECT_EQ(missing.status, 404);
    EXPECT_FALSE(missing.isOK());
}

TEST(HttpGet, FailuresAreNamed) {
    TestHttpServer server({200, std::string(2048, 'x')});
    auto small = requestFor(server.url("/"));
    small.maxBodyBytes = 2047;
    EXPECT_EQ(httpGet(small).outcome, HttpGetResult::Outcome::tooLarge);
    small.maxBodyBytes = 2048;
    EXPECT_TRUE(httpGet(small).isOK());

    const auto refused =
        httpGet(requestFor("http://127.0.0.1:" + std::to_string(brindleaf::testing::closedLoopbackPort())));
    EXPECT_EQ(refused.outcome, HttpGetResult::Outcome::failed);
    EXPECT_FALSE(refused.message.empty());

    TestHttpServer silent({200, "{}"}, /*neverAnswer=*/true);
    auto slow = requestFor(silent.url("/"));
    slow.timeoutSeconds = 0.3;
    EXPECT_EQ(httpGet(slow).outcome, HttpGetResult::Outcome::timedOut);
}

TEST(HttpGet, BackgroundResultArrivesOnTheMainQueue) {
    TestHttpServer server({200, "done"});
    auto queue = std::make_shared<ManualMainQueue>();
    std::optional<HttpGetResult> result;
    const auto caller = std::this_thread::get_id();
    std::thread::id ranOn;
    httpGetInBackground(requestFor(server.url("/")), queue, [&](HttpGetResult r) {
        ranOn = std::this_thread::get_id();
        result = std::move(r);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!result && std::chrono::steady_clock::now() < deadline) {
        queue->drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(result);
    EXPECT_EQ(ranOn, caller);
    EXPECT_EQ(result->body, "done");
}

TEST(HttpGet, AnswerIsReadInTheBackgroundAndTheReadingHandedToTheMainQueue) {
    TestHttpServer server({200, "twelve bytes"});
    auto queue = std::make_shared<ManualMainQueue>();
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> readOnCaller{true};
    std::optional<std::size_t> handed;
    std::thread::id handedOn;
    httpGetAndReadInBackground(requestFor(server.url("/")), queue, [&](HttpGetResult answer) -> MainQueue::Job {
        readOnCaller = std::this_thread::get_id() == caller;
        const std::size_t size = answer.body.size();
        return [&, size] {
            handedOn = std::this_thread::get_id();
            handed = size;
        };
    });
    ASSERT_TRUE(drainUntil(*queue, [&] { return handed.has_value(); }));
    EXPECT_FALSE(readOnCaller);
    EXPECT_EQ(handedOn, caller);
    EXPECT_EQ(handed, 12u);
}
