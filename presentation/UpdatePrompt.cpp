#include "presentation/UpdatePrompt.hpp"

#include "platform/UTF8.hpp"
#include "platform/WebAddress.hpp"

#include <algorithm>
#include <cctype>
#include <vector>

namespace brindleaf {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

// Replaces one entity at `text[i]` ('&'); returns the characters consumed, 0
// when it is no entity (the '&' then stays as it is).
std::size_t decodeEntity(std::string_view text, std::size_t i, std::string& out) {
    // An entity is at most 11 characters long, "&" and ";" included: the ';'
    // is looked for only that far.
    const auto end = text.substr(0, i + 11).find(';', i + 1);
    if (end == std::string_view::npos) return 0;
    const std::string name = lowered(text.substr(i + 1, end - i - 1));
    static const std::pair<const char*, const char*> named[] = {
        {"amp", "&"},        {"lt", "<"},         {"gt", ">"},         {"quot", "\""},       {"apos", "'"},
        {"nbsp", " "},       {"mdash", "\u2014"}, {"ndash", "\u2013"}, {"hellip", "\u2026"}, {"bull", "\u2022"},
        {"rsquo", "\u2019"}, {"lsquo", "\u2018"}, {"rdquo", "\u201D"}, {"ldquo", "\u201C"},
    };
    for (const auto& [entity, replacement] : named) {
        if (name == entity) {
            out += replacement;
            return end - i + 1;
        }
    }
    if (name.size() < 2 || name[0] != '#') return 0;
    const bool hex = name[1] == 'x';
    const std::string digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 7) return 0;
    unsigned long code = 0;
    for (char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c)) || (!hex && !std::isdigit(static_cast<unsigned char>(c))))
            return 0;
        code = code * (hex ? 16 : 10) +
               static_cast<unsigned long>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10);
    }
    // Control characters, surrogates and values beyond Unicode become nothing.
    if ((code < 0x20 && code != '\n' && code != '\t') || (code >= 0x7F && code < 0xA0) ||
        (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
        return end - i + 1;
    appendUTF8(out, code);
    return end - i + 1;
}

// Where `needle` (lower case) starts in `text` at or after `from`, ignoring case.
std::size_t findIgnoringCase(std::string_view text, std::string_view needle, std::size_t from) {
    for (std::size_t at = text.find('<', from); at != std::string_view::npos; at = text.find('<', at + 1)) {
        if (text.size() - at < needle.size()) break;
        bool same = true;
        for (std::size_t k = 0; k < needle.size() && same; ++k)
            same = std::tolower(static_cast<unsigned char>(text[at + k])) == needle[k];
        if (same) return at;
    }
    return std::string_view::npos;
}

bool isBlockTag(const std::string& name) {
    static const char* blocks[] = {"br",    "p",       "div",     "li",     "ul",     "ol",  "tr",         "h1",
                                   "h2",    "h3",      "h4",      "h5",     "h6",     "pre", "blockquote", "hr",
                                   "table", "section", "article", "header", "footer", "dt",  "dd"};
    return std::find_if(std::begin(blocks), std::end(blocks), [&](const char* b) { return name == b; }) !=
           std::end(blocks);
}

} // namespace

std::string UpdatePrompt::plainText(std::string_view notes) {
    // First pass: drop markup; the tags that end a line leave a mark.
    constexpr char softBreak = '\x01';      // ends a line that has text
    constexpr char paragraphBreak = '\x02'; // ends it and leaves one empty line
    std::string raw;
    for (std::size_t i = 0; i < notes.size();) {
        const char c = notes[i];
        if (c == '&') {
            if (const auto used = decodeEntity(notes, i, raw)) {
                i += used;
                continue;
            }
            raw += c;
            ++i;
            continue;
        }
        const bool tagStart =
            c == '<' && i + 1 < notes.size() &&
            (std::isalpha(static_cast<unsigned char>(notes[i + 1])) || notes[i + 1] == '/' || notes[i + 1] == '!');
        if (!tagStart) {
            raw += (c == '\r' || c == '\t' || c == softBreak || c == paragraphBreak) ? ' ' : c;
            ++i;
            continue;
        }
        if (notes.substr(i, 4) == "<!--") {
            const auto end = notes.find("-->", i + 4);
            i = end == std::string_view::npos ? notes.size() : end + 3;
            continue;
        }
        const auto end = notes.find('>', i);
        if (end == std::string_view::npos) break; // an unfinished tag ends the notes
        std::string_view inner = notes.substr(i + 1, end - i - 1);
        const bool closing = !inner.empty() && inner[0] == '/';
        if (closing) inner.remove_prefix(1);
        std::size_t nameLength = 0;
        while (nameLength < inner.size() && std::isalnum(static_cast<unsigned char>(inner[nameLength]))) ++nameLength;
        const std::string name = lowered(inner.substr(0, nameLength));
        i = end + 1;
        if (!closing && (name == "script" || name == "style")) {
            const auto close = findIgnoringCase(notes, "</" + name, i);
            if (close == std::string_view::npos) break;
            const auto after = notes.find('>', close);
            i = after == std::string_view::npos ? notes.size() : after + 1;
            continue;
        }
        if (closing && name == "p")
            raw += paragraphBreak;
        else if (isBlockTag(name))
            raw += softBreak;
        if (!closing && name == "li") raw += "\u2022 ";
    }

    // Second pass: trim lines, collapse blanks and runs of empty lines.
    std::vector<std::string> lines;
    std::string line;
    bool lineHasText = false; // anything but blanks in `line`
    auto flush = [&] {
        const auto first = line.find_first_not_of(' ');
        const auto last = line.find_last_not_of(' ');
        std::string trimmed = first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
        std::string collapsed;
        for (char ch : trimmed) {
            if (ch == ' ' && !collapsed.empty() && collapsed.back() == ' ') continue;
            collapsed += ch;
        }
        if (!(collapsed.empty() && (lines.empty() || lines.back().empty()))) lines.push_back(collapsed);
        line.clear();
        lineHasText = false;
    };
    for (char ch : raw) {
        if (ch == '\n') {
            flush();
        } else if (ch == softBreak) {
            if (lineHasText) flush();
        } else if (ch == paragraphBreak) {
            if (lineHasText) flush();
            if (!lines.empty() && !lines.back().empty()) lines.emplace_back();
        } else {
            line += ch;
            lineHasText = lineHasText || ch != ' ';
        }
    }
    flush();
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    std::string text;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        if (k) text += '\n';
        text += lines[k];
    }
    if (text.size() > maxNotesCharacters) {
        std::size_t cut = maxNotesCharacters;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut; // keep whole characters
        text = text.substr(0, cut) + "\n\u2026 (release notes shortened)";
    }
    return text;
}

UpdatePrompt UpdatePrompt::make(const AppcastItem& item, std::string_view runningVersion) {
    UpdatePrompt prompt;
    prompt.headline = "A new version of Brindleaf is available!";
    prompt.versionLine = "Brindleaf " + item.displayVersion + " is now available\u2014you have " +
                         std::string(runningVersion) + ". Would you like to download it now?";
    prompt.releaseNotes = plainText(item.releaseNotes);
    const auto notesLink = WebAddress::parse(item.releaseNotesLink);
    if (prompt.releaseNotes.empty() && notesLink && notesLink->isHTTPS())
        prompt.releaseNotes = "The release notes are at " + item.releaseNotesLink;
    if (prompt.releaseNotes.empty()) prompt.releaseNotes = "No release notes were given.";
    const auto download = WebAddress::parse(item.downloadLink);
    if (download && download->isHTTPS()) prompt.downloadAddress = item.downloadLink;
    return prompt;
}

std::string UpdatePrompt::upToDateMessage(std::string_view runningVersion) {
    return "Brindleaf " + std::string(runningVersion) + " is the newest version available.";
}

std::string UpdatePrompt::checkFailedMessage(std::string_view detail) {
    return std::string(detail) + " Try again later.";
}

} // namespace brindleaf
