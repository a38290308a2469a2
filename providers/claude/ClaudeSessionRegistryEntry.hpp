#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace brindleaf {

// One engine's file in the Claude Code session registry
// ("<claude home>/sessions/<pid>.json"), as far as the scan reads it. The
// engine rewrites the file in place whenever its state changes.
struct ClaudeSessionRegistryEntry {
    // What the engine says it is doing; absent before the first prompt.
    enum class Status { busy, idle, waiting };

    int64_t pid = 0;
    std::string sessionID; // never empty
    std::optional<std::string> cwd;
    // The process's start time in clock ticks after boot, as the engine read it
    // from /proc at start; absent from files of older versions.
    std::optional<uint64_t> procStart;
    std::optional<Status> status;          // a value not listed above counts as absent
    std::optional<std::string> waitingFor; // while waiting: "permission prompt", "input needed", "dialog open"
    std::optional<Date> statusUpdatedAt;
    std::optional<Date> updatedAt;
    std::optional<std::string> entrypoint; // "cli" interactive, "sdk-cli" for a print-mode run
    std::optional<std::string> name;

    bool operator==(const ClaudeSessionRegistryEntry&) const = default;

    // The entry of a registry file's text: a JSON object with a "pid" number
    // and a non-empty "sessionId" text; absent for anything else (also for a
    // text that is cut short or followed by the rest of an earlier, longer one).
    static std::optional<ClaudeSessionRegistryEntry> parse(std::string_view contents);
};

} // namespace brindleaf
