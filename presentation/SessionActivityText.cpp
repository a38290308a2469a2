#include "presentation/SessionActivityText.hpp"

#include <unicode/locid.h>
#include <unicode/unistr.h>

#include <initializer_list>

namespace brindleaf::SessionActivityText {

namespace {

std::string lowered(std::string_view text) {
    bool ascii = true;
    for (unsigned char c : text)
        if (c >= 0x80) ascii = false;
    std::string out(text);
    if (ascii) {
        for (char& c : out)
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        return out;
    }
    std::string result;
    icu::UnicodeString::fromUTF8(icu::StringPiece(text.data(), static_cast<int32_t>(text.size())))
        .toLower(icu::Locale::getRoot())
        .toUTF8String(result);
    return result;
}

bool containsAny(const std::string& text, std::initializer_list<std::string_view> needles) {
    for (auto needle : needles)
        if (text.find(needle) != std::string::npos) return true;
    return false;
}

} // namespace

std::string text(std::string_view activity, bool needsAttention) {
    if (needsAttention) return "Waiting for your choice";
    const std::string a = lowered(activity);
    if (containsAny(a, {"waiting for your choice", "awaiting user authorization"})) return "Waiting for your choice";
    if (containsAny(a, {"scheduled wakeup", "sleeping"})) return "Waiting to resume";
    if (containsAny(a, {"background task"})) return "Running a background task";
    if (containsAny(a, {"sub-agent", "subagent", "delegation", "handoff", "active child"})) return "Running a subagent";
    if (containsAny(a, {"context compression"})) return "Compacting context";
    if (containsAny(a, {"tool"})) return "Running a tool";
    if (containsAny(a, {"awaiting assistant response", "open turn", "backend response", "user turn"}))
        return "Thinking\u2026";
    return "Working";
}

} // namespace brindleaf::SessionActivityText
