#include "app/InstanceFolder.hpp"

#include "core/UserHomeDirectory.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace brindleaf {

namespace fs = std::filesystem;

namespace {

std::string octalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Makes brindleaf's own folder when missing, mode 0700 whatever the umask
// (a umask without owner access, 0577 or 0777, would leave a folder no lock
// can be made in), and mends a folder of the user's that no one else can
// reach but the owner cannot even enter (a folder the owner can only read
// stays as it is: no lock is made there); then checks it, either way.
std::optional<InstanceFolder::Refusal> make(const fs::path& folder, uid_t user) {
    const bool made = ::mkdir(folder.c_str(), 0700) == 0;
    if (!made && errno != EEXIST)
        return InstanceFolder::Refusal{folder, "unmakeable",
                                       std::string("it cannot be made (") + std::strerror(errno) + ")"};
    struct stat status {};
    if (::lstat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) && status.st_uid == user &&
        (status.st_mode & 077) == 0 && (made ? (status.st_mode & 0700) != 0700 : (status.st_mode & 0100) == 0)) {
        // By path, not through a descriptor: a folder without owner read
        // cannot be opened; it is looked at again below (a link put in its
        // place is refused there).
        if (::fchmodat(AT_FDCWD, folder.c_str(), 0700, AT_SYMLINK_NOFOLLOW) != 0)
            ::fchmodat(AT_FDCWD, folder.c_str(), 0700, 0); // without /proc: a folder a moment ago
    }
    if (auto refusal = InstanceFolder::check(folder, user)) return refusal;
    // The socket's whole path has to fit in its address.
    if ((folder / InstanceFolder::socketName).string().size() >= sizeof(sockaddr_un{}.sun_path))
        return InstanceFolder::Refusal{folder, "too-long", "its path is too long for a socket"};
    return std::nullopt;
}

} // namespace

InstanceFolder::Roots InstanceFolder::Roots::ofThisProcess() {
    Roots roots;
    roots.user = ::getuid();
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) roots.runtime = runtime;
    roots.userRuntime = "/run/user/" + std::to_string(roots.user);
    roots.temporary = "/tmp";
    const char* cache = std::getenv("XDG_CACHE_HOME");
    roots.cache = cache && *cache == '/' ? fs::path(cache) : fs::path(UserHomeDirectory::path()) / ".cache";
    return roots;
}

std::optional<InstanceFolder::Refusal> InstanceFolder::check(const fs::path& folder, uid_t user) {
    struct stat status {};
    if (::lstat(folder.c_str(), &status) != 0) {
        if (errno == ENOENT) return Refusal{folder, "missing", "it does not exist"};
        return Refusal{folder, "unreadable", std::string("it cannot be looked at (") + std::strerror(errno) + ")"};
    }
    if (S_ISLNK(status.st_mode)) return Refusal{folder, "link", "it is a symbolic link"};
    if (!S_ISDIR(status.st_mode)) return Refusal{folder, "not-folder", "it is not a folder"};
    if (status.st_uid != user) return Refusal{folder, "owner", "it belongs to user " + std::to_string(status.st_uid)};
    if (status.st_mode & 077)
        return Refusal{folder, "mode", "group or others have access to it (mode " + octalMode(status.st_mode) + ")"};
    return std::nullopt;
}

std::vector<fs::path> InstanceFolder::candidates(const Roots& roots, std::vector<Refusal>* refused) {
    std::vector<fs::path> folders;
    const auto fails = [&](const fs::path& folder) {
        auto refusal = check(folder, roots.user);
        if (refusal && refused && refusal->code != "missing") refused->push_back(*refusal);
        return refusal.has_value();
    };
    const auto add = [&](const fs::path& root, const fs::path& folder) {
        if (!root.is_absolute() || fails(root) || fails(folder)) return;
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) folders.push_back(folder);
    };
    if (roots.runtime) add(roots.runtime->lexically_normal(), roots.runtime->lexically_normal() / "brindleaf");
    add(roots.userRuntime.lexically_normal(), roots.userRuntime.lexically_normal() / "brindleaf");
    // /tmp and the cache folder belong to no one in particular: only the folder itself is checked.
    const fs::path tmp = roots.temporary / ("brindleaf-" + std::to_string(roots.user));
    if (!fails(tmp)) folders.push_back(tmp);
    const fs::path cache = roots.cache / "brindleaf";
    if (!fails(cache) && std::find(folders.begin(), folders.end(), cache) == folders.end()) folders.push_back(cache);
    return folders;
}

InstanceFolder::Choice InstanceFolder::choose(const Roots& roots, const Attempt& attempt) {
    Choice choice;
    // Makes and checks the folder, then tries its lock.
    const auto tryFolder = [&](const fs::path& folder) {
        if (auto refusal = make(folder, roots.user)) {
            choice.refused.push_back(std::move(*refusal));
            return false;
        }
        if (auto refusal = attempt(folder)) {
            choice.refused.push_back(std::move(*refusal));
            return false;
        }
        choice.folder = folder;
        return true;
    };
    std::vector<fs::path> runtimes;
    if (roots.runtime) {
        const fs::path runtime = roots.runtime->lexically_normal();
        if (!runtime.is_absolute())
            choice.refused.push_back({*roots.runtime, "relative", "it is not an absolute path"});
        else
            runtimes.push_back(runtime);
    }
    const fs::path userRuntime = roots.userRuntime.lexically_normal();
    struct stat status {};
    if ((runtimes.empty() || runtimes.front() != userRuntime) &&
        (::lstat(userRuntime.c_str(), &status) == 0 || errno != ENOENT))
        runtimes.push_back(userRuntime);
    for (const auto& runtime : runtimes) {
        if (auto refusal = check(runtime, roots.user)) {
            choice.refused.push_back(std::move(*refusal));
            continue;
        }
        if (tryFolder(runtime / "brindleaf")) return choice;
    }
    if (tryFolder(roots.temporary / ("brindleaf-" + std::to_string(roots.user)))) return choice;
    std::error_code ignored;
    fs::create_directories(roots.cache, ignored);
    tryFolder(roots.cache / "brindleaf");
    return choice;
}

} // namespace brindleaf
