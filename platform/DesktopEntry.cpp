#include "platform/DesktopEntry.hpp"

namespace brindleaf::DesktopEntry {

namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::string unescaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        switch (text[++i]) {
        case 's':
            out.push_back(' ');
            break;
        case 'n':
            out.push_back('\n');
            break;
        case 't':
            out.push_back('\t');
            break;
        case 'r':
            out.push_back('\r');
            break;
        case '\\':
            out.push_back('\\');
            break;
        default:
            out.push_back('\\');
            out.push_back(text[i]);
        }
    }
    return out;
}

constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";

} // namespace

std::optional<std::string> value(std::string_view contents, std::string_view key) {
    bool inGroup = false;
    while (!contents.empty()) {
        auto end = contents.find('\n');
        std::string_view line = trimmed(contents.substr(0, end));
        contents.remove_prefix(end == std::string_view::npos ? contents.size() : end + 1);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() == '[') {
            inGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inGroup) continue;
        auto equals = line.find('=');
        if (equals == std::string_view::npos || trimmed(line.substr(0, equals)) != key) continue;
        return unescaped(trimmed(line.substr(equals + 1)));
    }
    return std::nullopt;
}

bool isTrue(const std::optional<std::string>& value) { return value && *value == "true"; }

bool isFalse(const std::optional<std::string>& value) { return value && *value == "false"; }

std::string escapeValue(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        switch (text[i]) {
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\r':
            out += "\\r";
            break;
        case ' ':
            out += i == 0 ? "\\s" : " ";
            break;
        default:
            out.push_back(text[i]);
        }
    }
    return out;
}

std::string execCommand(const std::vector<std::string>& arguments) {
    std::string command;
    for (const std::string& argument : arguments) {
        if (!command.empty()) command.push_back(' ');
        const bool quoted = argument.empty() || argument.find_first_of(kReserved) != std::string::npos;
        if (quoted) command.push_back('"');
        for (char c : argument) {
            if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) command.push_back('\\');
            command.push_back(c);
            if (c == '%') command.push_back('%');
        }
        if (quoted) command.push_back('"');
    }
    return command;
}

} // namespace brindleaf::DesktopEntry
