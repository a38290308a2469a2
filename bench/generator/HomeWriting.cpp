#include "bench/generator/HomeWriting.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf::bench::writing {

uint64_t Random::next() {
    uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

uint64_t Random::between(uint64_t low, uint64_t high) {
    if (high <= low) return low;
    return low + next() % (high - low + 1);
}

double Random::unit() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }

std::string Random::hex(std::size_t digits) {
    static const char* const alphabet = "0123456789abcdef";
    std::string out;
    out.reserve(digits);
    uint64_t bits = 0;
    for (std::size_t i = 0; i < digits; ++i) {
        if (i % 16 == 0) bits = next();
        out.push_back(alphabet[bits & 15]);
        bits >>= 4;
    }
    return out;
}

std::string Random::uuid() {
    return hex(8) + "-" + hex(4) + "-4" + hex(3) + "-a" + hex(3) + "-" + hex(12);
}

std::string jsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                out += buffer;
            } else {
                out.push_back(c);
            }
        }
    }
    return out;
}

std::string jsonString(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.push_back('"');
    out.append(jsonEscape(text));
    out.push_back('"');
    return out;
}

namespace {
void splitDate(Date date, time_t& seconds, int& millis) {
    double whole = std::floor(date);
    seconds = static_cast<time_t>(whole);
    millis = static_cast<int>((date - whole) * 1000.0);
    if (millis > 999) millis = 999;
}
} // namespace

std::string isoTimestamp(Date date) {
    time_t seconds;
    int millis;
    splitDate(date, seconds, millis);
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, millis);
    return buffer;
}

std::string localLogTimestamp(Date date) {
    time_t seconds;
    int millis;
    splitDate(date, seconds, millis);
    struct tm parts {};
    localtime_r(&seconds, &parts);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d,%03d", parts.tm_year + 1900, parts.tm_mon + 1,
                  parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, millis);
    return buffer;
}

void setModificationTime(const std::filesystem::path& path, Date modifiedAt) {
    struct timespec times[2];
    double whole = std::floor(modifiedAt);
    times[0].tv_sec = static_cast<time_t>(whole);
    times[0].tv_nsec = static_cast<long>((modifiedAt - whole) * 1e9);
    times[1] = times[0];
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void writeFile(const std::filesystem::path& path, std::string_view contents, Date modifiedAt, WriteCounter& counter) {
    std::filesystem::create_directories(path.parent_path());
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw std::runtime_error("cannot write " + path.string());
    std::size_t done = 0;
    while (done < contents.size()) {
        ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            throw std::runtime_error("cannot write " + path.string());
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    setModificationTime(path, modifiedAt);
    counter.bytes += contents.size();
    counter.files += 1;
}

// Pre-escaped filler for tool outputs: code-like lines joined by escaped line feeds.
const std::string& fillerPool() {
    static const std::string pool = [] {
        Random random(42);
        std::string text;
        static const char* const pieces[] = {
            "const result = await client.fetch(url, { retries: 3 });", "if (!response.ok) throw new Error(status);",
            "export function parseConfig(input: string): Config {", "  return items.filter((item) => item.enabled);",
            "src/components/Toolbar.tsx:42:  <Button onClick={save}>", "PASS tests/cache.test.ts (1.204 s)",
            "def handle_request(self, request):", "    self.logger.info('request %s', request.id)",
            "drwxr-xr-x  12 dev  staff   384 Dec  9 04:12 node_modules", "+ added retry with exponential back-off",
            "error[E0382]: borrow of moved value: `config`", "    at Object.<anonymous> (index.js:17:11)",
            "SELECT id, title FROM invoices WHERE paid = 0 ORDER BY due_at;", "}", "",
            "Compiling brindleaf v0.1.0 (/work/brindleaf)", "warning: unused variable: `count`"};
        while (text.size() < 256 * 1024) {
            text += pieces[random.between(0, std::size(pieces) - 1)];
            text += "\\n";
        }
        return text;
    }();
    return pool;
}

// The first `length` bytes of escaped JSON text, never ending inside an escape.
std::string cutEscaped(const std::string& escaped, std::size_t length) {
    std::size_t end = std::min(length, escaped.size());
    std::size_t backslashes = 0;
    while (backslashes < end && escaped[end - 1 - backslashes] == '\\') ++backslashes;
    if (backslashes % 2 == 1) --end;
    return escaped.substr(0, end);
}

std::string escapedFiller(Random& random, std::size_t length) {
    const std::string& pool = fillerPool();
    length = std::min(length, pool.size() / 2);
    std::size_t start = random.between(0, pool.size() - length - 1);
    std::size_t end = start + length;
    while (end > start && pool[end - 1] == '\\') --end;
    if (start < end && pool[start] == 'n' && start > 0 && pool[start - 1] == '\\') ++start;
    return pool.substr(start, end - start);
}

std::string sentence(Random& random, std::size_t words) {
    static const char* const vocabulary[] = {
        "fix", "the", "login", "flow", "refactor", "parser", "add", "tests", "for", "cache", "update", "docs",
        "migrate", "database", "schema", "handle", "timeout", "in", "sync", "client", "review", "pull", "request",
        "build", "pipeline", "config", "loader", "rename", "module", "speed", "up", "query", "render", "chart",
        "invoice", "export", "retry", "upload", "queue", "worker", "memory", "leak", "settings", "page", "API",
        "error", "message", "dark", "mode", "toolbar", "search", "index", "report", "feature", "flag"};
    std::string out;
    for (std::size_t i = 0; i < words; ++i) {
        if (i) out.push_back(' ');
        out += vocabulary[random.between(0, std::size(vocabulary) - 1)];
    }
    if (!out.empty()) out[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(out[0])));
    return out;
}

} // namespace brindleaf::bench::writing
