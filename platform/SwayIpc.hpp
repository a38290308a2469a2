#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brindleaf {

// A client of sway's IPC socket ($SWAYSOCK): finds the windows of native
// Wayland clients by process id and focuses one. A message is "i3-ipc", the
// payload's length and the message type (both 32-bit, native byte order) and
// the payload; the answer has the same frame.
//
// The socket is used only when it is a socket owned by this user. Every call
// connects anew and is bounded: connecting, writing and reading share one
// second. Calls block and are made off the UI thread.
class SwayIpc {
public:
    static constexpr uint32_t runCommand = 0;
    static constexpr uint32_t getTree = 4;

    struct Window {
        int64_t pid = 0;
        bool focused = false;
        bool operator==(const Window&) const = default;
    };

    // The socket at `socketPath`, or $SWAYSOCK when it is empty.
    explicit SwayIpc(std::string socketPath = {});

    // True when there is a socket path and it is a socket of this user.
    bool isAvailable() const;
    // The windows of the tree that belong to a client process; nullopt when
    // sway did not answer.
    std::optional<std::vector<Window>> windows() const;
    // Focuses the window of process `pid`; true when sway says it did.
    bool focus(int64_t pid) const;

    // One request and its answer's payload; nullopt on any failure.
    std::optional<std::string> request(uint32_t type, std::string_view payload) const;

    static std::string frame(uint32_t type, std::string_view payload);
    // The windows named in a GET_TREE answer; nullopt when it is not JSON.
    static std::optional<std::vector<Window>> parseTree(std::string_view json);
    // True when a RUN_COMMAND answer says every command succeeded.
    static bool parseCommandResult(std::string_view json);

private:
    std::string path_;
};

} // namespace brindleaf
