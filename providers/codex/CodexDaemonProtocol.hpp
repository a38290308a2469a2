#pragma once

#include "providers/codex/CodexOfficialThreadStatus.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// The JSON-RPC messages exchanged with the Codex daemon (one per WebSocket
// text frame, without "jsonrpc"). Only "initialize", "initialized",
// "thread/loaded/list" and "thread/read" are ever written: nothing that acts
// on a thread.
class CodexDaemonProtocol {
public:
    // A thread's run state and wait as a status object gives them
    // ({"type": "active", "activeFlags": ["waitingOnApproval"]}).
    struct Status {
        CodexOfficialThreadRunState state = CodexOfficialThreadRunState::idle;
        CodexThreadWait wait = CodexThreadWait::none;
        bool operator==(const Status&) const = default;
    };

    // A thread object of "thread/read" or "thread/started".
    struct Thread {
        CodexOfficialThreadStatus status; // live, with its state, wait, name, cwd and path
        bool ephemeral = false;           // not a session (no rollout, e.g. title generation)
    };

    // One message from the daemon, decoded as far as this client needs it.
    struct Incoming {
        enum class Kind { response, errorResponse, notification, request, unknown };
        Kind kind = Kind::unknown;
        std::optional<int64_t> id; // a response's id, when it is one of ours (a number)
        std::string rawID;         // a request's id as JSON text, to answer it
        std::string method;        // notifications and requests
        // A "thread/loaded/list" result.
        std::vector<std::string> threadIDs;
        std::optional<std::string> nextCursor;
        // A "thread/read" result or a "thread/started" notification.
        std::optional<Thread> thread;
        // Notifications about one thread.
        std::string threadID;
        std::optional<Status> status;
        bool hasName = false;
        std::optional<std::string> name;
    };

    static std::string initializeRequest(int64_t id, std::string_view clientVersion);
    static std::string initializedNotification();
    static std::string loadedListRequest(int64_t id, const std::optional<std::string>& cursor);
    static std::string threadReadRequest(int64_t id, std::string_view threadID);
    // The answer to a request of the daemon's: an error, whatever it asked.
    static std::string refusal(std::string_view rawID);

    static Incoming parse(std::string_view text);

    // The methods this client may send; every other is refused by the writer.
    static bool isAllowedMethod(std::string_view method);
    // Text as a JSON string literal, quotes included.
    static std::string quoted(std::string_view text);
};

} // namespace brindleaf
