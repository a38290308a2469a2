#include "providers/codex/CodexAppServerStatusProbe.hpp"

#include "providers/codex/CodexAppServerStatusParser.hpp"
#include "platform/HttpGet.hpp"

#include <curl/curl.h>

#include <cmath>
#include <mutex>

extern char** environ;

namespace brindleaf {

namespace {

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct URLHandle {
    CURLU* handle = curl_url();
    ~URLHandle() {
        if (handle) curl_url_cleanup(handle);
    }
};

} // namespace

CodexAppServerStatusProbe::ProbeError CodexAppServerStatusProbe::ProbeError::httpStatus(long code) {
    return ProbeError(Kind::httpStatus, code, "Codex app-server answered HTTP status " + std::to_string(code));
}

CodexAppServerStatusProbe::ProbeError CodexAppServerStatusProbe::ProbeError::timedOut() {
    return ProbeError(Kind::timedOut, 0, "Codex app-server status request timed out");
}

CodexAppServerStatusProbe::ProbeError CodexAppServerStatusProbe::ProbeError::noData() {
    return ProbeError(Kind::noData, 0, "Codex app-server status request returned no data");
}

CodexAppServerStatusProbe::CodexAppServerStatusProbe(std::string statusURL, double timeout)
    : statusURL_(std::move(statusURL)) {
    // A NaN timeout compares false everywhere; treat it like the shortest one.
    double clamped = (std::isnan(timeout) || timeout <= minimumTimeout) ? minimumTimeout : timeout;
    if (clamped > maximumTimeout) clamped = maximumTimeout;
    timeout_ = clamped;
    initializeCurlOnce();
}

std::shared_ptr<CodexAppServerStatusProbe> CodexAppServerStatusProbe::fromEnvironment(
    const std::map<std::string, std::string>& environment) {
    if (environment.empty()) return nullptr;
    auto found = environment.find("CODEX_APP_SERVER_STATUS_URL");
    if (found == environment.end()) found = environment.find("CODEX_APP_SERVER_URL");
    if (found == environment.end()) return nullptr;

    initializeCurlOnce();
    URLHandle url;
    if (!url.handle) return nullptr;
    if (curl_url_set(url.handle, CURLUPART_URL, found->second.c_str(), 0) != CURLUE_OK) return nullptr;
    char* path = nullptr;
    std::string pathText;
    if (curl_url_get(url.handle, CURLUPART_PATH, &path, 0) == CURLUE_OK && path) {
        pathText = path;
        curl_free(path);
    }
    if (pathText.empty() || pathText == "/") {
        if (curl_url_set(url.handle, CURLUPART_PATH, "/status", 0) != CURLUE_OK) return nullptr;
    }
    char* full = nullptr;
    if (curl_url_get(url.handle, CURLUPART_URL, &full, 0) != CURLUE_OK || !full) return nullptr;
    std::string text = full;
    curl_free(full);
    return std::make_shared<CodexAppServerStatusProbe>(std::move(text), maximumTimeout);
}

std::map<std::string, std::string> CodexAppServerStatusProbe::processEnvironment() {
    std::map<std::string, std::string> environment;
    for (char** entry = environ; entry && *entry; ++entry) {
        std::string_view text(*entry);
        const auto equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        environment.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
    }
    return environment;
}

std::vector<CodexOfficialThreadStatus> CodexAppServerStatusProbe::fetchSnapshot(Date scanTime) {
    HttpGetRequest request;
    request.url = statusURL_;
    request.timeoutSeconds = timeout_;
    request.maxBodyBytes = maxBodyBytes;
    request.maxRedirects = maxRedirects;
    request.redirectProtocols = "http,https";
    // A local app server is never reached through a proxy.
    request.noProxyHosts = "localhost,127.0.0.1,::1";
    const HttpGetResult result = httpGet(request);
    switch (result.outcome) {
    case HttpGetResult::Outcome::answered: break;
    case HttpGetResult::Outcome::timedOut: throw ProbeError::timedOut();
    case HttpGetResult::Outcome::noData: throw ProbeError::noData();
    case HttpGetResult::Outcome::tooLarge:
        throw TransportError(result.curlCode, "Codex app-server status answer exceeds the size limit");
    case HttpGetResult::Outcome::failed: throw TransportError(result.curlCode, result.message);
    }
    if (result.status < 200 || result.status > 299) throw ProbeError::httpStatus(result.status);
    return CodexAppServerStatusParser::parseSnapshot(result.body, scanTime);
}

} // namespace brindleaf
