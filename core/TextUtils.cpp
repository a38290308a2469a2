#include "core/TextUtils.hpp"

#include <unicode/ubrk.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unicode/utext.h>

#include <cstdint>
#include <memory>

namespace brindleaf {

namespace {

// Length of the line break starting at text[i], 0 when there is none there.
inline std::size_t lineBreakLength(std::string_view text, std::size_t i) {
    const auto c = static_cast<unsigned char>(text[i]);
    switch (c) {
    case '\n':
    case '\v':
    case '\f':
        return 1;
    case '\r':
        return i + 1 < text.size() && text[i + 1] == '\n' ? 2 : 1;
    case 0xC2:
        return i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x85 ? 2 : 0;
    case 0xE2:
        if (i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80) {
            const auto third = static_cast<unsigned char>(text[i + 2]);
            if (third == 0xA8 || third == 0xA9) return 3;
        }
        return 0;
    default:
        return 0;
    }
}

std::string_view firstNonEmptyLine(std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t breakLength = lineBreakLength(text, i);
        if (breakLength == 0) {
            ++i;
            continue;
        }
        if (i > start) return text.substr(start, i - start);
        i += breakLength;
        start = i;
    }
    if (start < text.size()) return text.substr(start);
    return text;
}

bool isASCII(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

struct BreakIteratorCloser {
    void operator()(UBreakIterator* iterator) const { ubrk_close(iterator); }
};

// One character break iterator per thread: opening one loads ICU's rules.
UBreakIterator* characterBreakIterator() {
    thread_local std::unique_ptr<UBreakIterator, BreakIteratorCloser> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        UBreakIterator* opened = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
        if (U_FAILURE(status)) opened = nullptr;
        return std::unique_ptr<UBreakIterator, BreakIteratorCloser>(opened);
    }();
    return iterator.get();
}

// Byte offset after the first `limit` grapheme clusters of well-formed UTF-8
// `text`, or absent when the text has at most `limit` clusters.
std::optional<std::size_t> clusterCut(std::string_view text, std::size_t limit) {
    UBreakIterator* iterator = characterBreakIterator();
    if (!iterator) return std::nullopt;
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return std::nullopt;
    ubrk_setUText(iterator, &utext, &status);
    std::optional<std::size_t> cut;
    if (U_SUCCESS(status)) {
        int32_t boundary = ubrk_first(iterator);
        std::size_t clusters = 0;
        while (boundary != UBRK_DONE) {
            boundary = ubrk_next(iterator);
            if (boundary == UBRK_DONE) break;
            ++clusters;
            if (clusters == limit) {
                if (static_cast<std::size_t>(boundary) < text.size()) cut = static_cast<std::size_t>(boundary);
                break;
            }
        }
        if (limit == 0 && !text.empty()) cut = 0;
    }
    // Detach the iterator from the stack UText before it goes.
    UErrorCode ignored = U_ZERO_ERROR;
    ubrk_setText(iterator, u"", 0, &ignored);
    utext_close(&utext);
    return cut;
}

// Length of the well-formed UTF-8 sequence at text[i], 0 when ill-formed.
// `consumed` receives the length of its maximal ill-formed subpart (at least 1).
inline std::size_t sequenceLength(std::string_view text, std::size_t i, std::size_t& consumed) {
    const auto* b = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    const unsigned char c = b[i];
    consumed = 1;
    if (c < 0x80) return 1;
    std::size_t length;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (i + k >= n) return 0;
        const unsigned char next = b[i + k];
        const unsigned char lo = k == 1 ? low : 0x80;
        const unsigned char hi = k == 1 ? high : 0xBF;
        if (next < lo || next > hi) return 0;
        consumed = k + 1;
    }
    return length;
}

} // namespace

std::string firstLineTruncated(std::size_t limit, std::string_view text) {
    std::string line;
    std::string_view segment = firstNonEmptyLine(text);
    if (!isValidUTF8(segment)) {
        line = repairUTF8(segment);
        segment = line;
    }
    if (isASCII(segment) && segment.find("\r\n") == std::string_view::npos) {
        // Outside CR LF (never inside one line) every ASCII byte is one cluster.
        if (segment.size() <= limit) return std::string(segment);
        std::string result(segment.substr(0, limit));
        result += "...";
        return result;
    }
    const std::optional<std::size_t> cut = clusterCut(segment, limit);
    if (!cut) return std::string(segment);
    std::string result(segment.substr(0, *cut));
    result += "...";
    return result;
}

std::size_t userPerceivedLength(std::string_view text) {
    if (isASCII(text)) {
        // Every ASCII byte is one cluster, but for CR LF, which is one.
        std::size_t count = text.size();
        for (std::size_t i = 0; i + 1 < text.size(); ++i)
            if (text[i] == '\r' && text[i + 1] == '\n') --count;
        return count;
    }
    std::string repaired;
    if (!isValidUTF8(text)) {
        repaired = repairUTF8(text);
        text = repaired;
    }
    UBreakIterator* iterator = characterBreakIterator();
    if (!iterator) return text.size();
    UErrorCode status = U_ZERO_ERROR;
    UText utext = UTEXT_INITIALIZER;
    utext_openUTF8(&utext, text.data(), static_cast<int64_t>(text.size()), &status);
    if (U_FAILURE(status)) return text.size();
    ubrk_setUText(iterator, &utext, &status);
    std::size_t count = 0;
    if (U_SUCCESS(status)) {
        ubrk_first(iterator);
        while (ubrk_next(iterator) != UBRK_DONE) ++count;
    } else {
        count = text.size();
    }
    // Detach the iterator from the stack UText before it goes.
    UErrorCode ignored = U_ZERO_ERROR;
    ubrk_setText(iterator, u"", 0, &ignored);
    utext_close(&utext);
    return count;
}

std::optional<std::string> nonEmptyString(std::optional<std::string_view> text) {
    if (!text || text->empty()) return std::nullopt;
    return std::string(*text);
}

bool isValidUTF8(std::string_view bytes) {
    std::size_t i = 0;
    const std::size_t n = bytes.size();
    while (i < n) {
        // Eight ASCII bytes at a time.
        while (i + 8 <= n) {
            uint64_t chunk;
            __builtin_memcpy(&chunk, bytes.data() + i, 8);
            if (chunk & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= n) break;
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        std::size_t consumed;
        const std::size_t length = sequenceLength(bytes, i, consumed);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string repairUTF8(std::string_view bytes) {
    std::string result;
    result.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t consumed;
        const std::size_t length = sequenceLength(bytes, i, consumed);
        if (length > 0) {
            result.append(bytes.data() + i, length);
            i += length;
        } else {
            result += "\xEF\xBF\xBD";
            i += consumed;
        }
    }
    return result;
}

std::string_view trimmedWhitespaceAndNewlines(std::string_view text) {
    auto isWhiteSpace = [](UChar32 c) { return c >= 0 && u_isUWhiteSpace(c); };
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    const auto length = static_cast<int32_t>(text.size());
    int32_t start = 0;
    while (start < length) {
        int32_t next = start;
        UChar32 c;
        U8_NEXT(bytes, next, length, c);
        if (!isWhiteSpace(c)) break;
        start = next;
    }
    int32_t end = length;
    while (end > start) {
        int32_t previous = end;
        UChar32 c;
        U8_PREV(bytes, start, previous, c);
        if (!isWhiteSpace(c)) break;
        end = previous;
    }
    return text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

} // namespace brindleaf
