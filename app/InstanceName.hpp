#pragma once

#include <filesystem>
#include <string>
#include <sys/types.h>

namespace brindleaf {

// The name every start of a user can find, whatever its environment (a start
// from cron or ssh has no XDG_RUNTIME_DIR, or another one): an abstract local
// socket, "brindleaf-instance-UID-HASH", where the running copy listens beside
// its instance socket. HASH stands for the user's home folder (the password
// database's, see UserHomeDirectory), so that a copy run with another home
// (a test's, a container's) is an instance of its own. Abstract names have no
// owner or permissions and anyone may take one first: who listens there is
// checked (SO_PEERCRED) before anything is sent, and the running copy checks
// who connects. A name vanishes with the process that held it, so none is
// ever left stale. One per network namespace.
namespace InstanceName {

// The name without the leading NUL of its address, as `ss -xl` shows it after '@'.
std::string forUser(uid_t user, const std::filesystem::path& home);

} // namespace InstanceName

} // namespace brindleaf
