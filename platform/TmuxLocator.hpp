#pragma once

#include "platform/ProcessLineage.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace brindleaf {

// The tmux pane a process runs in and the client that shows that server,
// asked of the tmux server itself (`tmux -S SOCKET ...`, each answer within a
// second). Only sockets of this user are used.
class TmuxLocator {
public:
    struct Pane {
        std::string socket;  // the server's socket
        std::string paneID;  // "%N"
        int64_t panePID = 0; // the pane's process: the given one or an ancestor
    };
    struct Client {
        std::string name; // the client's tty, as `switch-client -c` takes it
        int64_t pid = 0;
    };

    explicit TmuxLocator(const ProcessLineage& lineage);

    // The pane whose process is the given one or one of its ancestors: the
    // server from TMUX in the environment of the process (or an ancestor's),
    // else the sockets of this user in tmux's own folder; the pane from
    // TMUX_PANE when it holds one of those ancestors, else the pane whose
    // process does. Absent when the process runs in no tmux pane.
    std::optional<Pane> paneOf(int64_t pid) const;
    // The most recently active client of the pane's server; absent when none
    // is attached.
    std::optional<Client> latestClient(const std::string& socket) const;
    // Selects the pane's window and the pane, and switches the client to the pane's session.
    bool show(const Pane& pane, const Client& client) const;
    // The active pane of the client's session ("%N").
    std::optional<std::string> activePane(const std::string& socket, const Client& client) const;

private:
    std::optional<std::string> tmux(const std::string& socket, std::vector<std::string> arguments) const;
    std::optional<Pane> matchPane(const std::string& socket, const std::vector<int64_t>& chain,
                                  const std::string& preferred) const;

    const ProcessLineage& lineage_;
};

} // namespace brindleaf
