#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

namespace brindleaf {

// A Unix socket reached through a published path, as a program of this user
// leaves it for its clients: a link (or the socket itself) in a control
// folder, pointing at a socket in a folder of its own. The socket may be
// connected to only when the user owns every piece and nobody else can write
// any of them:
//   the control folder   a folder (not a link) owned by the user, not
//                        writable by group or others;
//   the link             owned by the user (when it is a link);
//   the socket's folder  a folder (not a link) owned by the user, closed to
//                        group and others;
//   the socket           a socket owned by the user, not writable by group
//                        or others.
// Only lstat and readlink are used: nothing is created, opened or changed.
class PrivateSocketPath {
public:
    struct Refusal {
        std::string path;   // the piece that failed
        std::string code;   // one word for the journal ("owner", "mode", ...)
        std::string reason; // in words
        bool operator==(const Refusal&) const = default;
    };

    struct Resolution {
        std::optional<std::string> socket; // the socket to connect to, when trusted
        std::optional<Refusal> refusal;    // why not, when something is there but is not trusted
        // Neither: nothing is published (no control folder, link or socket).
        bool absent() const { return !socket && !refusal; }
    };

    // `published` is the link's path; `user` the user who must own everything.
    static Resolution resolve(const std::string& published, uid_t user);
};

} // namespace brindleaf
