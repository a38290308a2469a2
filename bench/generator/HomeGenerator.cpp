#include "bench/generator/HomeGenerator.hpp"

#include "bench/generator/AgentHomeWriters.hpp"

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

namespace brindleaf::bench {

using writing::jsonString;

std::string claudeProjectKey(std::string_view path) {
    // Per UTF-16 code unit: a character outside the basic plane (four UTF-8 bytes) becomes "--".
    std::string key;
    key.reserve(path.size());
    for (std::size_t i = 0; i < path.size();) {
        unsigned char c = static_cast<unsigned char>(path[i]);
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        std::size_t length = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xe ? 3 : (c >> 3) == 0x1e ? 4 : 1;
        key += keep ? std::string(1, char(c)) : std::string(length == 4 ? "--" : "-");
        i += std::min(length, path.size() - i);
    }
    return key;
}

std::string projectWorkingDirectory(const std::filesystem::path& root, std::string_view agent, std::size_t index,
                                    writing::Random& random) {
    static const char* const names[] = {"api-server", "web_app", "billing.service", "mobile-client", "infra",
                                        "data-pipeline", "docs", "ml_models", "cli-tool", "design-system"};
    auto path = root / "work" / std::string(agent) /
                (std::string(names[random.between(0, std::size(names) - 1)]) + "-" + std::to_string(index));
    std::filesystem::create_directories(path);
    return path.string();
}

HomeGenerator::HomeGenerator(HomeRecipe recipe, uint64_t seed) : spec_(recipe), seed_(seed) {}

GeneratedHome HomeGenerator::write(const std::filesystem::path& root, Date now) const {
    std::filesystem::create_directories(root);
    GeneratedHome home;
    home.root = std::filesystem::absolute(root).lexically_normal();
    home.size = spec_.size;
    home.generatedAt = now;
    for (const auto& folder : {home.claudeHome(), home.codexHome(), home.hermesHome(), home.root / ".config" / "Claude",
                               home.root / "work"}) {
        // A reader of the old home (a database connection) may still create files in it: retry.
        for (int attempt = 0;; ++attempt) {
            std::error_code error;
            std::filesystem::remove_all(folder, error);
            if (!error) break;
            if (attempt == 20) throw std::filesystem::filesystem_error("cannot remove", folder, error);
        }
    }

    writing::WriteCounter counter;
    writing::Random claudeRandom(seed_ * 3 + 1);
    writing::Random codexRandom(seed_ * 3 + 2);
    writing::Random hermesRandom(seed_ * 3 + 3);
    HomeWriteContext claude{spec_, claudeRandom, home.root, now, counter, home.processes};
    writeClaudeHome(claude);
    HomeWriteContext codex{spec_, codexRandom, home.root, now, counter, home.processes};
    writeCodexHome(codex);
    HomeWriteContext hermes{spec_, hermesRandom, home.root, now, counter, home.processes};
    writeHermesHome(hermes);
    home.bytesWritten = counter.bytes;
    home.filesWritten = counter.files;

    writeProcessFiles(home, std::vector<int>(home.processes.size(), 0), now);
    home.saveManifest();
    return home;
}

void writeProcessFiles(const GeneratedHome& home, const std::vector<int>& pids, Date now) {
    writing::WriteCounter counter;
    auto pidOf = [&](std::size_t i) { return (i < pids.size() && pids[i] > 0) ? pids[i] : 3990000 + int(i); };

    // Claude: one registry file per engine; those of engines no longer running are removed first.
    const auto sessions = home.claudeHome() / "sessions";
    std::error_code ignored;
    for (std::size_t i = 0; i < home.processes.size(); ++i) {
        std::filesystem::remove(sessions / (std::to_string(3990000 + int(i)) + ".json"), ignored);
    }
    std::string chatProcesses = "[";
    std::string hermesProcesses = "[";
    int gatewayPid = 0;
    std::size_t hermesActive = 0;
    for (std::size_t i = 0; i < home.processes.size(); ++i) {
        const LiveProcessPlan& plan = home.processes[i];
        int pid = pidOf(i);
        if (plan.kind == "claude-engine") {
            writing::writeFile(sessions / (std::to_string(pid) + ".json"),
                               "{\"pid\":" + std::to_string(pid) + ",\"sessionId\":\"" + plan.sessionId +
                                   "\",\"cwd\":" + jsonString(plan.cwd) + ",\"startedAt\":" +
                                   std::to_string(int64_t((now - 600) * 1000)) + "}",
                               now - 600, counter);
        } else if (plan.kind == "codex-app") {
            if (chatProcesses.size() > 1) chatProcesses += ",";
            chatProcesses += "{\"conversationId\":\"" + plan.sessionId + "\",\"osPid\":" + std::to_string(pid) +
                             ",\"startedAtMs\":" + std::to_string(int64_t((now - 900) * 1000)) + "}";
        } else if (plan.kind == "hermes-child") {
            if (hermesProcesses.size() > 1) hermesProcesses += ",";
            hermesProcesses += "{\"session_key\":\"" + plan.sessionId + "\",\"session_id\":\"" + plan.sessionId +
                               "\",\"pid\":" + std::to_string(pid) + ",\"command\":" + jsonString(plan.argv.back()) +
                               ",\"cwd\":" + jsonString(plan.cwd) + ",\"started_at\":" +
                               std::to_string(int64_t(now - 120)) + "}";
            ++hermesActive;
        } else if (plan.kind == "hermes-worker") {
            ++hermesActive;
        } else if (plan.kind == "hermes-gateway") {
            gatewayPid = pid;
        }
    }
    // A few long-finished entries, as the files keep them.
    for (int k = 0; k < 3; ++k) {
        if (chatProcesses.size() > 1) chatProcesses += ",";
        chatProcesses += "{\"conversationId\":\"019a0000-0000-7000-8000-00000000000" + std::to_string(k) +
                         "\",\"osPid\":" + std::to_string(3980000 + k) + "}";
    }
    chatProcesses += "]";
    hermesProcesses += "]";
    writing::writeFile(home.codexHome() / "process_manager" / "chat_processes.json", chatProcesses, now - 5, counter);
    writing::writeFile(home.hermesHome() / "processes.json", hermesProcesses, now - 5, counter);
    writing::writeFile(home.hermesHome() / "gateway_state.json",
                       "{\"gateway_state\": \"running\", \"pid\": " + std::to_string(gatewayPid) +
                           ", \"active_agents\": " + std::to_string(hermesActive) + ", \"updated_at\": \"" +
                           writing::isoTimestamp(now - 5) +
                           "\", \"platforms\": {\"telegram\": {\"state\": \"connected\"}, \"discord\": {\"state\": \"connected\"}}}",
                       now - 5, counter);
}

void GeneratedHome::saveManifest() const {
    nlohmann::json document;
    document["root"] = root.string();
    document["size"] = std::string(toString(size));
    document["generatedAt"] = generatedAt;
    document["bytesWritten"] = bytesWritten;
    document["filesWritten"] = filesWritten;
    auto& list = document["processes"] = nlohmann::json::array();
    for (const auto& plan : processes) {
        list.push_back({{"kind", plan.kind}, {"argv", plan.argv}, {"cwd", plan.cwd}, {"sessionId", plan.sessionId},
                        {"childArgv", plan.childArgv}});
    }
    std::ofstream(manifestPath()) << document.dump(1);
}

std::optional<GeneratedHome> GeneratedHome::loadManifest(const std::filesystem::path& root) {
    GeneratedHome home;
    home.root = std::filesystem::absolute(root).lexically_normal();
    std::ifstream in(home.manifestPath());
    if (!in) return std::nullopt;
    try {
        nlohmann::json document = nlohmann::json::parse(in);
        auto size = parseHomeSize(document.at("size").get<std::string>());
        if (!size || document.at("root").get<std::string>() != home.root.string()) return std::nullopt;
        home.size = *size;
        home.generatedAt = document.at("generatedAt").get<double>();
        home.bytesWritten = document.at("bytesWritten").get<uint64_t>();
        home.filesWritten = document.at("filesWritten").get<uint64_t>();
        for (const auto& item : document.at("processes")) {
            home.processes.push_back({item.at("kind").get<std::string>(), item.at("argv").get<std::vector<std::string>>(),
                                      item.at("cwd").get<std::string>(), item.at("sessionId").get<std::string>(),
                                      item.at("childArgv").get<std::vector<std::string>>()});
        }
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    }
    return home;
}

} // namespace brindleaf::bench
