#include "platform/KWinScripting.hpp"

#include "platform/SessionBus.hpp"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf {

namespace {

// A folder (not a link) of this user's that group and others cannot write
// to; with `closed`, that they cannot enter either.
bool isOwnFolder(const std::string& path, bool closed) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid() &&
           (info.st_mode & (closed ? 077 : 022)) == 0;
}

// The folder for our script files, made when missing: runtime/brindleaf-kwin.
std::optional<std::string> scriptFolder(const std::string& runtime) {
    if (runtime.empty() || runtime.front() != '/' || !isOwnFolder(runtime, false)) return std::nullopt;
    std::string folder = runtime + "/brindleaf-kwin";
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
    if (!isOwnFolder(folder, true)) return std::nullopt;
    return folder;
}

bool writeNewFile(const std::string& path, const std::string& text) {
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) return false;
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t wrote = ::write(file, text.data() + written, text.size() - written);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) break;
        written += static_cast<size_t>(wrote);
    }
    const bool complete = ::close(file) == 0 && written == text.size();
    if (!complete) ::unlink(path.c_str());
    return complete;
}

// A unique bus name as it may stand in the script's string literal.
bool isUniqueName(const std::string& name) {
    if (name.size() < 2 || name.front() != ':') return false;
    for (const char c : name)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '.' || c == '_' || c == '-'))
            return false;
    return true;
}

const std::string scriptingPath = "/Scripting";
const std::string scriptingInterface = "org.kde.kwin.Scripting";

} // namespace

KWinScripting::KWinScripting(std::string busAddress, std::string runtimeFolder)
    : busAddress_(std::move(busAddress)), runtimeFolder_(std::move(runtimeFolder)) {
    if (runtimeFolder_.empty())
        if (const char* runtime = std::getenv("XDG_RUNTIME_DIR")) runtimeFolder_ = runtime;
}

bool KWinScripting::isAvailable() const {
    SessionBus bus(busAddress_);
    const auto owner = bus.ownerOf(service);
    return owner && owner->user == ::getuid() && scriptFolder(runtimeFolder_);
}

std::optional<KWinScripting::Window> KWinScripting::windowOf(const std::vector<int64_t>& pids) const {
    return run(pids, false);
}

bool KWinScripting::activate(int64_t pid) const {
    const auto window = run({pid}, true);
    return window && window->active;
}

std::string KWinScripting::script(const std::vector<int64_t>& pids, bool activate, const std::string& replyTo) {
    std::string list;
    for (const int64_t pid : pids) {
        if (!list.empty()) list += ", ";
        list += std::to_string(pid);
    }
    // KWin 5.27's scripting: clientList() has every managed window; of a
    // process's windows the one highest in the stacking order was used last.
    std::string text = R"((function () {
    var pids = [PIDS];
    var windows = workspace.clientList();
    var found = null;
    for (var p = 0; p < pids.length && !found; ++p)
        for (var i = 0; i < windows.length; ++i) {
            var w = windows[i];
            if (w.pid === pids[p] && w.normalWindow && (!found || w.stackingOrder > found.stackingOrder))
                found = w;
        }
    if (ACTIVATE && found)
        workspace.activeClient = found;
    callDBus("REPLY_TO", "PATH", "INTERFACE", "MEMBER", found ? found.pid : 0,
             found !== null && workspace.activeClient === found);
})();
)";
    const auto put = [&text](std::string_view placeholder, const std::string& value) {
        text.replace(text.find(placeholder), placeholder.size(), value);
    };
    put("PIDS", list);
    put("ACTIVATE", activate ? "true" : "false");
    put("REPLY_TO", isUniqueName(replyTo) ? replyTo : std::string());
    put("PATH", answerPath);
    put("INTERFACE", answerInterface);
    put("MEMBER", answerMember);
    return text;
}

std::optional<KWinScripting::Window> KWinScripting::run(const std::vector<int64_t>& pids, bool activate) const {
    if (pids.empty()) return std::nullopt;
    SessionBus bus(busAddress_);
    const auto owner = bus.ownerOf(service);
    if (!owner || owner->user != ::getuid()) return std::nullopt;
    const auto kwin = bus.uniqueOwnerOf(service);
    const auto self = bus.uniqueName();
    const auto folder = scriptFolder(runtimeFolder_);
    if (!kwin || !self || !isUniqueName(*self) || !folder) return std::nullopt;

    static std::atomic<unsigned> made{0};
    const std::string plugin = "brindleaf-" + std::to_string(::getpid()) + "-" + std::to_string(++made);
    const std::string file = *folder + "/" + plugin + ".js";
    if (!writeNewFile(file, script(pids, activate, *self))) return std::nullopt;

    std::optional<std::vector<SessionBus::Value>> answer;
    const auto id =
        SessionBus::first<int64_t>(bus.call(*kwin, scriptingPath, scriptingInterface, "loadScript", {file, plugin}));
    if (id && *id >= 0 && bus.call(*kwin, "/" + std::to_string(*id), "org.kde.kwin.Script", "run"))
        answer = bus.awaitCall(*kwin, answerPath, answerInterface, answerMember);
    // Unloaded even when loading seemed to fail: an answer too late may hide a script that was loaded.
    bus.call(*kwin, scriptingPath, scriptingInterface, "unloadScript", {plugin});
    ::unlink(file.c_str());

    if (!answer || answer->size() != 2) return std::nullopt;
    const int64_t* pid = std::get_if<int64_t>(&(*answer)[0]);
    const bool* active = std::get_if<bool>(&(*answer)[1]);
    if (!pid || !active || *pid <= 0) return std::nullopt;
    return Window{*pid, *active};
}

} // namespace brindleaf
