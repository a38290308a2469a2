#include "providers/codex/CodexFrontEndProcesses.hpp"

#include "core/ProcessResourceSampler.hpp"

#include <ctime>
#include <unistd.h>

namespace brindleaf {

namespace {

// The space-separated words of a command line, in order.
std::vector<std::string_view> wordsOf(std::string_view text) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t start = text.find_first_not_of(' ', at);
        if (start == std::string_view::npos) break;
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        words.push_back(text.substr(start, end - start));
        at = end;
    }
    return words;
}

bool hasWord(const std::vector<std::string_view>& words, std::string_view word) {
    for (std::string_view w : words)
        if (w == word) return true;
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

double seconds(const timespec& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9; }

} // namespace

CodexFrontEndProcesses CodexFrontEndProcesses::fromSamples(const std::vector<ProcessResourceSample>& samples,
                                                           const StartDateReader& startDate) {
    std::vector<Process> processes;
    for (const ProcessResourceSample& sample : samples) {
        if (!sample.cwd || sample.cwd->empty()) continue;
        std::string_view command = sample.command;
        // Argument 0 first: most processes end here without splitting the rest.
        const std::size_t start = command.find_first_not_of(' ');
        if (start == std::string_view::npos) continue;
        std::size_t end = command.find(' ', start);
        if (end == std::string_view::npos) end = command.size();
        const std::string_view program = command.substr(start, end - start);
        const std::size_t slash = program.rfind('/');
        const std::string_view name = slash == std::string_view::npos ? program : program.substr(slash + 1);
        // Helpers of the Codex app (its plugins, computer use) run no thread of their own.
        if (name != "codex") continue;
        // The daemon's own copy of the program (checked with `--version` when
        // a Codex starts) is never a terminal's.
        if (program.find("/app-server-daemon/") != std::string_view::npos) continue;
        const std::vector<std::string_view> words = wordsOf(command.substr(end));
        bool none = false;
        for (std::string_view word : words)
            if (word.find("updater") != std::string_view::npos || word == "--version") none = true;
        if (none) continue;
        Process process;
        process.pid = sample.pid;
        process.cwd = *sample.cwd;
        if (hasWord(words, "app-server")) {
            // The daemon the interactive Codex starts, and its updater, serve
            // every terminal's threads: they belong to none.
            if (hasWord(words, "--managed-daemon") || hasWord(words, "daemon")) continue;
            process.frontEnd = false;
            processes.push_back(std::move(process));
            continue;
        }
        process.startedAt = startDate(sample.pid);
        if (!process.startedAt) continue; // gone since the sampling
        for (std::size_t i = 0; i < words.size(); ++i) {
            if (words[i] != "resume") continue;
            for (std::size_t j = i + 1; j < words.size(); ++j) {
                if (!process.resumeArguments.empty()) process.resumeArguments += ' ';
                process.resumeArguments += words[j];
            }
            break;
        }
        processes.push_back(std::move(process));
    }
    return CodexFrontEndProcesses(std::move(processes));
}

std::optional<int64_t> CodexFrontEndProcesses::processOf(std::string_view threadID, std::string_view cwd) const {
    if (threadID.empty()) return std::nullopt;
    // `codex resume ID` names its thread.
    std::optional<int64_t> resumer;
    int resumers = 0;
    for (const Process& process : processes_) {
        if (!process.frontEnd || process.resumeArguments.empty()) continue;
        if (hasWord(wordsOf(process.resumeArguments), threadID)) {
            resumer = process.pid;
            ++resumers;
        }
    }
    if (resumers == 1) return resumer;
    if (resumers > 1) return std::nullopt;

    const std::optional<Date> createdAt = threadCreatedAt(threadID);
    if (!createdAt || cwd.empty()) return std::nullopt;
    const Process* only = nullptr;
    int contenders = 0;
    for (const Process& process : processes_) {
        if (process.cwd != cwd) continue;
        if (process.frontEnd && process.startedAt && *process.startedAt > *createdAt + startTolerance) continue;
        only = &process;
        ++contenders;
    }
    if (contenders == 1 && only->frontEnd) return only->pid;
    return std::nullopt;
}

std::optional<Date> CodexFrontEndProcesses::threadCreatedAt(std::string_view id) {
    // xxxxxxxx-xxxx-7xxx-Vxxx-xxxxxxxxxxxx, V one of 8, 9, a, b.
    if (id.size() != 36) return std::nullopt;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? id[i] != '-' : hexDigit(id[i]) < 0) return std::nullopt;
    }
    if (id[14] != '7') return std::nullopt;
    const int variant = hexDigit(id[19]);
    if (variant < 8 || variant > 11) return std::nullopt;
    uint64_t milliseconds = 0;
    for (std::size_t i = 0; i < 13; ++i) {
        if (i == 8) continue;
        milliseconds = milliseconds * 16 + static_cast<uint64_t>(hexDigit(id[i]));
    }
    if (milliseconds == 0) return std::nullopt;
    return static_cast<Date>(milliseconds) / 1000.0;
}

std::optional<Date> CodexFrontEndProcesses::systemStartDate(int64_t pid) {
    const std::optional<uint64_t> ticks = ProcessResourceSampler::startTicks(pid);
    if (!ticks) return std::nullopt;
    static const long ticksPerSecond = [] {
        const long value = ::sysconf(_SC_CLK_TCK);
        return value > 0 ? value : 100;
    }();
    // Start ticks count from boot on the boot-time clock (suspended time included).
    timespec now{};
    timespec sinceBoot{};
    if (::clock_gettime(CLOCK_REALTIME, &now) != 0 || ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0)
        return std::nullopt;
    const Date bootedAt = seconds(now) - seconds(sinceBoot);
    return bootedAt + static_cast<double>(*ticks) / static_cast<double>(ticksPerSecond);
}

} // namespace brindleaf
