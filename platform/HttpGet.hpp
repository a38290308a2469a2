#pragma once

#include "platform/MainQueue.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace brindleaf {

// One HTTP GET through libcurl. The answer's body is bounded: an answer that
// announces a larger size is refused before it is read, one that does not is
// cut off as it arrives. Only http and https are spoken, also on redirects.
struct HttpGetRequest {
    std::string url;
    // Extra request headers, "Name: value".
    std::vector<std::string> headers;
    // Limit for the whole request, connecting included.
    double timeoutSeconds = 20;
    std::size_t maxBodyBytes = 1u << 20;
    // 0: redirects are not followed (the redirect answer itself is returned).
    long maxRedirects = 0;
    // The protocols a redirect may lead to, in libcurl's list form.
    std::string redirectProtocols = "https";
    // Hosts reached without a proxy, in libcurl's list form.
    std::string noProxyHosts = "localhost,127.0.0.1,::1";
};

struct HttpGetResult {
    enum class Outcome {
        answered, // `status` and `body` hold the answer, whatever its status
        timedOut,
        tooLarge,
        noData, // the server closed the connection without answering
        failed, // any other transport failure
    };
    Outcome outcome = Outcome::failed;
    long status = 0;
    std::string body;
    // libcurl's result code and message for a failed request.
    int curlCode = 0;
    std::string message;

    bool isOK() const { return outcome == Outcome::answered && status == 200; }
};

// Blocks until the answer is in, the time-out is reached or the request failed.
// Never throws.
HttpGetResult httpGet(const HttpGetRequest& request);

// Runs httpGet on a background worker and hands the result to `done` on the
// main queue. The calling thread never waits: a request in flight does not
// keep anything alive but what `done` holds.
void httpGetInBackground(HttpGetRequest request, std::shared_ptr<MainQueue> mainQueue,
                         std::function<void(HttpGetResult)> done);

// As httpGetInBackground, but the answer is read on the background worker
// too: `read` gets the result there and returns the job that is then posted
// to the main queue, so parsing a large answer never holds up the main queue.
// `read` runs on the calling thread only when no worker could be started,
// with a failed result and no body.
void httpGetAndReadInBackground(HttpGetRequest request, std::shared_ptr<MainQueue> mainQueue,
                                std::function<MainQueue::Job(HttpGetResult)> read);

} // namespace brindleaf
