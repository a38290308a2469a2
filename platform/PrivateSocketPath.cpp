#include "platform/PrivateSocketPath.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace brindleaf {

namespace {

using Refusal = PrivateSocketPath::Refusal;

std::string octalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::optional<Refusal> checkOwner(const std::string& path, const struct stat& status, uid_t user) {
    if (status.st_uid != user) return Refusal{path, "owner", "it belongs to user " + std::to_string(status.st_uid)};
    return std::nullopt;
}

// A folder (not a link) owned by the user; `forbidden` are the mode bits
// group and others must not have.
std::optional<Refusal> checkFolder(const std::string& path, uid_t user, mode_t forbidden, bool& missing) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) {
            missing = true;
            return std::nullopt;
        }
        return Refusal{path, "unreadable", std::string("it cannot be looked at (") + std::strerror(errno) + ")"};
    }
    if (S_ISLNK(status.st_mode)) return Refusal{path, "link", "it is a symbolic link"};
    if (!S_ISDIR(status.st_mode)) return Refusal{path, "not-folder", "it is not a folder"};
    if (auto refusal = checkOwner(path, status, user)) return refusal;
    if (status.st_mode & forbidden)
        return Refusal{path, "mode", "others have access to it (mode " + octalMode(status.st_mode) + ")"};
    return std::nullopt;
}

} // namespace

PrivateSocketPath::Resolution PrivateSocketPath::resolve(const std::string& published, uid_t user) {
    Resolution resolution;
    bool missing = false;
    if (auto refusal = checkFolder(parentOf(published), user, S_IWGRP | S_IWOTH, missing)) {
        resolution.refusal = std::move(refusal);
        return resolution;
    }
    if (missing) return resolution;

    struct stat status {};
    if (::lstat(published.c_str(), &status) != 0) {
        if (errno != ENOENT)
            resolution.refusal =
                Refusal{published, "unreadable", std::string("it cannot be looked at (") + std::strerror(errno) + ")"};
        return resolution;
    }
    std::string socket = published;
    if (S_ISLNK(status.st_mode)) {
        if (auto refusal = checkOwner(published, status, user)) {
            resolution.refusal = std::move(refusal);
            return resolution;
        }
        char target[4096];
        const ssize_t length = ::readlink(published.c_str(), target, sizeof target - 1);
        if (length <= 0) {
            resolution.refusal = Refusal{published, "unreadable", "its target cannot be read"};
            return resolution;
        }
        socket.assign(target, static_cast<std::size_t>(length));
        if (socket.front() != '/') socket = parentOf(published) + "/" + socket;
        if (auto refusal = checkFolder(parentOf(socket), user, S_IRWXG | S_IRWXO, missing)) {
            resolution.refusal = std::move(refusal);
            return resolution;
        }
        if (missing) return resolution;
        if (::lstat(socket.c_str(), &status) != 0) {
            if (errno != ENOENT)
                resolution.refusal =
                    Refusal{socket, "unreadable", std::string("it cannot be looked at (") + std::strerror(errno) + ")"};
            return resolution;
        }
    }
    if (!S_ISSOCK(status.st_mode)) {
        resolution.refusal = Refusal{socket, "not-socket", "it is not a socket"};
        return resolution;
    }
    if (auto refusal = checkOwner(socket, status, user)) {
        resolution.refusal = std::move(refusal);
        return resolution;
    }
    if (status.st_mode & (S_IWGRP | S_IWOTH)) {
        resolution.refusal = Refusal{socket, "mode", "others may write to it (mode " + octalMode(status.st_mode) + ")"};
        return resolution;
    }
    if (socket.size() >= sizeof(sockaddr_un{}.sun_path)) {
        resolution.refusal = Refusal{socket, "too-long", "its path is too long for a socket address"};
        return resolution;
    }
    resolution.socket = std::move(socket);
    return resolution;
}

} // namespace brindleaf
