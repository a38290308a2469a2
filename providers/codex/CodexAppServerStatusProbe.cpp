#include "providers/codex/CodexAppServerStatusProbe.hpp"

#include "providers/codex/CodexAppServerStatusParser.hpp"

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

struct Body {
    std::string bytes;
    bool overflowed = false;
};

size_t appendBody(char* data, size_t size, size_t count, void* userData) {
    auto* body = static_cast<Body*>(userData);
    const size_t length = size * count;
    if (body->bytes.size() + length > CodexAppServerStatusProbe::maxBodyBytes) {
        body->overflowed = true;
        return 0; // makes curl stop with a write error
    }
    body->bytes.append(data, length);
    return length;
}

struct EasyHandle {
    CURL* handle = curl_easy_init();
    ~EasyHandle() {
        if (handle) curl_easy_cleanup(handle);
    }
};

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
    EasyHandle easy;
    if (!easy.handle) throw ProbeError::noData();
    CURL* curl = easy.handle;
    Body body;
    char errorText[CURL_ERROR_SIZE] = {0};
    const long timeoutMs = std::lround(timeout_ * 1000.0);

    curl_easy_setopt(curl, CURLOPT_URL, statusURL_.c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, maxRedirects);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    // A local app server is never reached through a proxy.
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(curl, CURLOPT_FORBID_REUSE, 1L);
    curl_easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L);
    // An answer that says it is too large is refused before it is read; one
    // that does not say is cut off as it arrives (appendBody).
    curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxBodyBytes));
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorText);

    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OPERATION_TIMEDOUT) throw ProbeError::timedOut();
    if (result == CURLE_GOT_NOTHING) throw ProbeError::noData();
    if (result != CURLE_OK) {
        std::string message = body.overflowed ? "Codex app-server status answer exceeds the size limit"
                                              : (errorText[0] ? errorText : curl_easy_strerror(result));
        throw TransportError(static_cast<int>(result), message);
    }
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299) throw ProbeError::httpStatus(status);
    return CodexAppServerStatusParser::parseSnapshot(body.bytes, scanTime);
}

} // namespace brindleaf
