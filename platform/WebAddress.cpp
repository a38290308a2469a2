#include "platform/WebAddress.hpp"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <mutex>

namespace brindleaf {

namespace {

struct URLHandle {
    CURLU* handle = curl_url();
    ~URLHandle() {
        if (handle) curl_url_cleanup(handle);
    }
};

std::optional<std::string> part(CURLU* url, CURLUPart which) {
    char* value = nullptr;
    if (curl_url_get(url, which, &value, 0) != CURLUE_OK || !value) return std::nullopt;
    std::string text = value;
    curl_free(value);
    return text;
}

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

std::optional<WebAddress> WebAddress::parse(std::string_view text) {
    if (text.empty() || text.size() > 8192) return std::nullopt;
    for (unsigned char c : text) {
        if (c <= 0x20 || c == 0x7f) return std::nullopt;
    }
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    URLHandle url;
    if (!url.handle) return std::nullopt;
    const std::string owned(text);
    if (curl_url_set(url.handle, CURLUPART_URL, owned.c_str(), 0) != CURLUE_OK) return std::nullopt;
    auto scheme = part(url.handle, CURLUPART_SCHEME);
    auto host = part(url.handle, CURLUPART_HOST);
    if (!scheme || !host || host->empty()) return std::nullopt;
    if (part(url.handle, CURLUPART_USER) || part(url.handle, CURLUPART_PASSWORD)) return std::nullopt;
    WebAddress address{owned, lowered(*scheme), lowered(*host)};
    if (address.scheme != "http" && address.scheme != "https") return std::nullopt;
    // The scheme must be spelt out: libcurl would otherwise guess one.
    if (lowered(owned.substr(0, address.scheme.size() + 3)) != address.scheme + "://") return std::nullopt;
    return address;
}

bool WebAddress::isLoopbackHTTP() const {
    if (scheme != "http") return false;
    if (host == "localhost" || host == "[::1]") return true;
    // 127.0.0.0/8 written as four decimal parts.
    int parts = 0;
    std::size_t start = 0;
    while (start <= host.size()) {
        const auto dot = host.find('.', start);
        const std::string piece = host.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (piece.empty() || piece.size() > 3 || !std::all_of(piece.begin(), piece.end(), ::isdigit)) return false;
        const int value = std::stoi(piece);
        if (value > 255 || (parts == 0 && value != 127)) return false;
        ++parts;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return parts == 4;
}

} // namespace brindleaf
