#include "platform/HttpGet.hpp"

#include "platform/BackgroundWorkers.hpp"

#include <curl/curl.h>

#include <cmath>
#include <mutex>

namespace brindleaf {

namespace {

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Body {
    std::string bytes;
    std::size_t limit = 0;
    bool overflowed = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* userData) {
    auto* body = static_cast<Body*>(userData);
    const size_t length = size * count;
    if (body->bytes.size() + length > body->limit) {
        body->overflowed = true;
        return 0; // makes curl stop with a write error
    }
    body->bytes.append(data, length);
    return length;
}

struct EasyHandle {
    CURL* handle = curl_easy_init();
    curl_slist* headers = nullptr;
    ~EasyHandle() {
        if (handle) curl_easy_cleanup(handle);
        if (headers) curl_slist_free_all(headers);
    }
};

} // namespace

HttpGetResult httpGet(const HttpGetRequest& request) {
    initializeCurlOnce();
    HttpGetResult result;
    EasyHandle easy;
    if (!easy.handle) {
        result.message = "could not create an HTTP request";
        return result;
    }
    CURL* curl = easy.handle;
    Body body;
    body.limit = request.maxBodyBytes;
    char errorText[CURL_ERROR_SIZE] = {0};
    const double seconds =
        std::isfinite(request.timeoutSeconds) && request.timeoutSeconds > 0.001 ? request.timeoutSeconds : 0.001;
    const long timeoutMs = std::lround(seconds * 1000.0);
    for (const auto& header : request.headers) {
        curl_slist* grown = curl_slist_append(easy.headers, header.c_str());
        if (!grown) {
            result.message = "could not build the request headers";
            return result;
        }
        easy.headers = grown;
    }

    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, request.maxRedirects > 0 ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, request.maxRedirects);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, request.redirectProtocols.c_str());
    curl_easy_setopt(curl, CURLOPT_NOPROXY, request.noProxyHosts.c_str());
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    if (easy.headers) curl_easy_setopt(curl, CURLOPT_HTTPHEADER, easy.headers);
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBodyBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode code = curl_easy_perform(curl);
    result.curlCode = static_cast<int>(code);
    if (code == CURLE_OK) {
        result.outcome = HttpGetResult::Outcome::answered;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &result.status);
        result.body = std::move(body.bytes);
        return result;
    }
    result.message = errorText[0] ? errorText : curl_easy_strerror(code);
    if (code == CURLE_OPERATION_TIMEDOUT) {
        result.outcome = HttpGetResult::Outcome::timedOut;
    } else if (code == CURLE_GOT_NOTHING) {
        result.outcome = HttpGetResult::Outcome::noData;
    } else if (body.overflowed || code == CURLE_FILESIZE_EXCEEDED) {
        result.outcome = HttpGetResult::Outcome::tooLarge;
    } else {
        result.outcome = HttpGetResult::Outcome::failed;
    }
    return result;
}

void httpGetInBackground(HttpGetRequest request, std::shared_ptr<MainQueue> mainQueue,
                         std::function<void(HttpGetResult)> done) {
    httpGetAndReadInBackground(std::move(request), std::move(mainQueue),
                               [done = std::move(done)](HttpGetResult result) -> MainQueue::Job {
                                   return [done, result = std::move(result)]() mutable { done(std::move(result)); };
                               });
}

void httpGetAndReadInBackground(HttpGetRequest request, std::shared_ptr<MainQueue> mainQueue,
                                std::function<MainQueue::Job(HttpGetResult)> read) {
    auto work = [request = std::move(request), mainQueue, read]() { mainQueue->post(read(httpGet(request))); };
    if (!BackgroundWorkers::run(std::move(work))) {
        HttpGetResult result;
        result.message = "could not start the request";
        mainQueue->post(read(std::move(result)));
    }
}

} // namespace brindleaf
