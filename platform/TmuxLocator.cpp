#include "platform/TmuxLocator.hpp"

#include "platform/BoundedCommand.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf {

namespace {

constexpr double answerSeconds = 1.0;

// A socket of this user's that nobody else can replace.
bool isOwnSocket(const std::string& path) {
    struct stat info {};
    return !path.empty() && lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode) && info.st_uid == getuid();
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) result.push_back(line);
    return result;
}

// tmux's own folder of this user: $TMUX_TMPDIR (else /tmp), then "tmux-UID".
std::vector<std::string> defaultSockets() {
    const char* base = std::getenv("TMUX_TMPDIR");
    const std::filesystem::path folder =
        std::filesystem::path(base && *base ? base : "/tmp") / ("tmux-" + std::to_string(getuid()));
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid() ||
        (info.st_mode & 0077) != 0)
        return {};
    std::vector<std::string> sockets;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (isOwnSocket(entry.path())) sockets.push_back(entry.path());
    std::sort(sockets.begin(), sockets.end());
    return sockets;
}

} // namespace

TmuxLocator::TmuxLocator(const ProcessLineage& lineage) : lineage_(lineage) {}

std::optional<std::string> TmuxLocator::tmux(const std::string& socket, std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"tmux", "-S", socket});
    return BoundedCommand::run(arguments, answerSeconds);
}

std::optional<TmuxLocator::Pane> TmuxLocator::matchPane(const std::string& socket, const std::vector<int64_t>& chain,
                                                        const std::string& preferred) const {
    const auto listed = tmux(socket, {"list-panes", "-a", "-F", "#{pane_pid} #{pane_id}"});
    if (!listed) return std::nullopt;
    std::optional<Pane> found;
    std::size_t foundDepth = chain.size();
    for (const auto& line : lines(*listed)) {
        std::istringstream fields(line);
        int64_t panePID = 0;
        std::string paneID;
        if (!(fields >> panePID >> paneID)) continue;
        const auto at = std::find(chain.begin(), chain.end(), panePID);
        if (at == chain.end()) continue;
        if (paneID == preferred) return Pane{socket, paneID, panePID};
        // The nearest ancestor's pane: a tmux started inside another's pane.
        const auto depth = static_cast<std::size_t>(at - chain.begin());
        if (depth < foundDepth) {
            found = Pane{socket, paneID, panePID};
            foundDepth = depth;
        }
    }
    return found;
}

std::optional<TmuxLocator::Pane> TmuxLocator::paneOf(int64_t pid) const {
    const std::vector<int64_t> chain = lineage_.ancestry(pid);
    if (chain.empty()) return std::nullopt;
    std::vector<std::string> tried;
    for (int64_t process : chain) {
        const auto environment = lineage_.environmentOf(process);
        if (!environment) continue;
        const auto server = environment->find("TMUX");
        if (server == environment->end()) continue;
        const std::string socket = server->second.substr(0, server->second.find(','));
        if (!isOwnSocket(socket) || std::find(tried.begin(), tried.end(), socket) != tried.end()) continue;
        tried.push_back(socket);
        const auto pane = environment->find("TMUX_PANE");
        if (auto found = matchPane(socket, chain, pane == environment->end() ? "" : pane->second)) return found;
        break;
    }
    // Without TMUX in the environment: only when a tmux server is among the ancestors.
    const bool underTmux = std::any_of(chain.begin(), chain.end(),
                                       [&](int64_t process) { return lineage_.nameOf(process).starts_with("tmux"); });
    if (!underTmux) return std::nullopt;
    for (const auto& socket : defaultSockets()) {
        if (std::find(tried.begin(), tried.end(), socket) != tried.end()) continue;
        if (auto found = matchPane(socket, chain, "")) return found;
    }
    return std::nullopt;
}

std::optional<TmuxLocator::Client> TmuxLocator::latestClient(const std::string& socket) const {
    const auto listed = tmux(socket, {"list-clients", "-F", "#{client_activity} #{client_pid} #{client_name}"});
    if (!listed) return std::nullopt;
    std::optional<Client> latest;
    long long latestActivity = -1;
    for (const auto& line : lines(*listed)) {
        std::istringstream fields(line);
        long long activity = 0;
        Client client;
        if (!(fields >> activity >> client.pid >> client.name)) continue;
        if (activity > latestActivity) {
            latest = client;
            latestActivity = activity;
        }
    }
    return latest;
}

bool TmuxLocator::show(const Pane& pane, const Client& client) const {
    return tmux(pane.socket, {"select-window", "-t", pane.paneID, ";", "select-pane", "-t", pane.paneID, ";",
                              "switch-client", "-c", client.name, "-t", pane.paneID})
        .has_value();
}

std::optional<std::string> TmuxLocator::activePane(const std::string& socket, const Client& client) const {
    auto answer = tmux(socket, {"display-message", "-p", "-c", client.name, "#{pane_id}"});
    if (!answer) return std::nullopt;
    while (!answer->empty() && (answer->back() == '\n' || answer->back() == '\r')) answer->pop_back();
    return answer;
}

} // namespace brindleaf
