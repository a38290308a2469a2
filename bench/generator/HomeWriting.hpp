#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// Small helpers the home generator's writers share.
namespace brindleaf::bench::writing {

// A fast deterministic random source (splitmix64).
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next();
    // Uniform in [low, high] (high >= low).
    uint64_t between(uint64_t low, uint64_t high);
    double unit();  // [0, 1)
    bool chance(double probability) { return unit() < probability; }
    std::string hex(std::size_t digits);
    std::string uuid();  // 8-4-4-4-12 lower-case hex
    template <typename T, std::size_t N>
    const T& pick(const T (&items)[N]) { return items[between(0, N - 1)]; }

private:
    uint64_t state_;
};

// The text as the body of a JSON string (without the quotation marks).
std::string jsonEscape(std::string_view text);
// The text as a JSON string literal.
std::string jsonString(std::string_view text);

// "2026-12-09T04:40:01.123Z"
std::string isoTimestamp(Date date);
// "2026-12-09 04:40:01,123" in the local time zone (the Hermes log format).
std::string localLogTimestamp(Date date);

// Writes a whole file (creating its folders) and sets its modification time;
// counts what it wrote.
struct WriteCounter {
    uint64_t bytes = 0;
    uint64_t files = 0;
};
void writeFile(const std::filesystem::path& path, std::string_view contents, Date modifiedAt, WriteCounter& counter);
void setModificationTime(const std::filesystem::path& path, Date modifiedAt);

// Code-like tool output, already escaped for a JSON string, about `length` bytes.
std::string escapedFiller(Random& random, std::size_t length);
// The first `length` bytes of escaped JSON text, never ending inside an escape.
std::string cutEscaped(const std::string& escaped, std::size_t length);

// Words for titles, prompts and file names.
std::string sentence(Random& random, std::size_t words);

} // namespace brindleaf::bench::writing
