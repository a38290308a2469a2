// The session index and the managed chat-process list, and the resource usage
// of a session's processes.
#include "providers/codex/CodexStatusProvider.hpp"

#include "core/FileStat.hpp"
#include "core/ProcessTree.hpp"
#include "core/SafeFileReader.hpp"
#include "core/TolerantJSON.hpp"
#include "providers/codex/CodexText.hpp"

#include <simdjson.h>

#include <tuple>
#include <utility>

namespace brindleaf {

namespace {

using simdjson::dom::element;
using simdjson::dom::element_type;

bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

} // namespace

namespace codex {

bool isCodexAppProcess(std::string_view command) {
    if (contains(command, "DurazEdo.app")) return false;
    if (contains(command, "/Applications/Codex.app/")) return true;
    if (contains(command, "/.vscode/extensions/openai.chatgpt-") && contains(command, "/codex app-server")) return true;
    if (contains(command, "/.codex/plugins/")) return true;
    if (contains(command, "/.codex/computer-use/")) return true;
    return false;
}

bool isCodexFrontEndProcess(std::string_view command) {
    // The program is the first word; node runs the npm launcher (bin/codex.js).
    const auto words = [&](std::size_t from) {
        const std::size_t start = command.find_first_not_of(' ', from);
        if (start == std::string_view::npos) return std::pair<std::string_view, std::size_t>{{}, command.size()};
        std::size_t end = command.find(' ', start);
        if (end == std::string_view::npos) end = command.size();
        return std::pair<std::string_view, std::size_t>{command.substr(start, end - start), end};
    };
    const auto baseName = [](std::string_view path) {
        const auto slash = path.rfind('/');
        return slash == std::string_view::npos ? path : path.substr(slash + 1);
    };
    auto [program, next] = words(0);
    std::string_view name = baseName(program);
    if (name == "node" || name == "nodejs") {
        std::tie(program, next) = words(next);
        name = baseName(program);
        if (name != "codex.js" && name != "codex") return false;
    } else if (name != "codex") {
        return false;
    }
    // The daemon ("codex app-server ...") and its updater show nothing.
    while (next < command.size()) {
        std::string_view word;
        std::tie(word, next) = words(next);
        if (word == "app-server" || contains(word, "updater")) return false;
    }
    return true;
}

} // namespace codex

CodexStatusProvider::SessionIndex CodexStatusProvider::parseSessionIndex(const std::string& path) {
    SessionIndex index;
    auto contents = SafeFileReader::readSmallFile(path, sessionIndexByteLimit);
    if (!contents) return index;
    // One padded copy: every line is parsed in place, the bytes after it serving as padding.
    const simdjson::padded_string text(*contents);
    simdjson::dom::parser parser;
    // Lines are checked one by one, so bytes that are not UTF-8 cost only their own line.
    for (std::string_view line : codex::splitLines(std::string_view(text.data(), text.size()))) {
        element root;
        if (TolerantJSON::parse(parser, line.data(), line.size(), true).get(root) != simdjson::SUCCESS) continue;
        if (root.type() != element_type::OBJECT) continue;
        element id;
        element name;
        if (root["id"].get(id) != simdjson::SUCCESS || id.type() != element_type::STRING) continue;
        if (root["thread_name"].get(name) != simdjson::SUCCESS || name.type() != element_type::STRING) continue;
        const std::string_view idText = id.get_string().value_unsafe();
        if (idText.empty()) continue;
        index.insert_or_assign(std::string(idText), std::string(name.get_string().value_unsafe()));
    }
    return index;
}

std::vector<CodexManagedProcess> CodexStatusProvider::loadManagedProcesses(const std::string& path) {
    auto contents = SafeFileReader::readSmallFile(path, managedProcessByteLimit);
    if (!contents) return {};
    simdjson::dom::parser parser;
    const simdjson::padded_string padded(*contents);
    element root;
    if (TolerantJSON::parse(parser, padded).get(root) != simdjson::SUCCESS) return {};
    if (root.type() != element_type::ARRAY) return {};
    simdjson::dom::array array;
    if (root.get_array().get(array) != simdjson::SUCCESS) return {};
    for (element entry : array)
        if (entry.type() != element_type::OBJECT) return {};
    std::vector<CodexManagedProcess> processes;
    for (element entry : array) {
        if (auto process = CodexManagedProcess::fromEntry(entry)) processes.push_back(std::move(*process));
    }
    return processes;
}

CodexStatusProvider::ManagedProcessesByConversation CodexStatusProvider::groupManagedProcesses(
    const std::vector<CodexManagedProcess>& processes) {
    ManagedProcessesByConversation grouped;
    for (const auto& process : processes) grouped[process.conversationID].push_back(process);
    return grouped;
}

std::shared_ptr<const CodexStatusProvider::SessionIndex> CodexStatusProvider::sessionIndex() {
    fileStat_.refresh();
    return sessionIndex(fileStat_.info(sessionIndexPath()));
}

std::shared_ptr<const CodexStatusProvider::SessionIndex> CodexStatusProvider::sessionIndex(
    std::optional<FileStat::Info> info) {
    // Never destroyed: a scan still running while the process exits may hand it out.
    static const auto& none = *new std::shared_ptr<const SessionIndex>(std::make_shared<const SessionIndex>());
    if (!info) return none;
    const std::string path = sessionIndexPath();
    // Shared, so that an unchanged index costs no copy.
    return sessionIndexCache_.value(path, std::string(), info,
                                    [&] { return std::make_shared<const SessionIndex>(parseSessionIndex(path)); });
}

CodexStatusProvider::ManagedProcessList CodexStatusProvider::managedProcessList(std::optional<FileStat::Info> info) {
    static const ManagedProcessList none = std::make_shared<const std::vector<CodexManagedProcess>>();
    if (!info) return none;
    const std::string path = managedProcessPath();
    return managedProcessCache_.value(path, std::string(), info, [&] {
        return std::make_shared<const std::vector<CodexManagedProcess>>(loadManagedProcesses(path));
    });
}

std::vector<CodexManagedProcess> CodexStatusProvider::managedProcesses() {
    fileStat_.refresh();
    return *managedProcessList(fileStat_.info(managedProcessPath()));
}

std::shared_ptr<const CodexStatusProvider::ProcessIndex> CodexStatusProvider::processIndex(ProcessSampleList samples) {
    ManagedProcessList managedList = managedProcessList(fileStat_.info(managedProcessPath()));
    {
        std::lock_guard<std::mutex> guard(processIndexLock_);
        // The cached list stays referenced, so an equal pointer is the same unchanged list.
        if (processIndex_ && processIndex_->managedList == managedList && processIndex_->samples.sameAs(samples))
            return processIndex_;
    }
    auto index = std::make_shared<ProcessIndex>();
    index->samples = std::move(samples);
    index->managed = groupManagedProcesses(*managedList);
    index->managedList = std::move(managedList);
    index->view.emplace(index->samples, index->managed);
    std::shared_ptr<const ProcessIndex> built = std::move(index);
    std::lock_guard<std::mutex> guard(processIndexLock_);
    processIndex_ = built;
    return built;
}

CodexStatusProvider::ProcessView::ProcessView(const std::vector<ProcessResourceSample>& samples,
                                              const ManagedProcessesByConversation& managed)
    : samples_(samples), managed_(managed) {
    if (samples.empty()) return;
    tree_ = ProcessTree(samples);
    live_.reserve(samples.size());
    std::set<int64_t> appRoots;
    for (const auto& sample : samples) {
        live_.insert(sample.pid);
        if (!codexFrontEndRunning_ && codex::isCodexFrontEndProcess(sample.command)) codexFrontEndRunning_ = true;
        if (codex::isCodexAppProcess(sample.command)) {
            appProcesses_.push_back(&sample);
            appRoots.insert(sample.pid);
        }
    }
    if (!appRoots.empty()) appUsage_ = tree_.resourceUsage(appRoots);
}

std::set<int64_t> CodexStatusProvider::sessionRootPIDs(const CodexCandidate& candidate, const ProcessView& processes) {
    std::set<int64_t> roots;
    if (auto found = processes.managed().find(candidate.id); found != processes.managed().end()) {
        for (const auto& process : found->second) {
            if (process.osPID && processes.isLive(*process.osPID)) roots.insert(*process.osPID);
        }
    }
    const bool hasRollout = candidate.rolloutPath && !candidate.rolloutPath->empty();
    for (const ProcessResourceSample* sample : processes.appProcesses()) {
        if (contains(sample->command, candidate.id) ||
            (hasRollout && contains(sample->command, *candidate.rolloutPath)))
            roots.insert(sample->pid);
    }
    // A thread of the interactive Codex: the terminal's process, when it can be told.
    if (roots.empty())
        if (auto pid = processes.frontEnds().processOf(candidate.id, candidate.cwd)) roots.insert(*pid);
    return roots;
}

std::set<int64_t> CodexStatusProvider::sessionRootPIDs(const CodexCandidate& candidate,
                                                       const std::vector<ProcessResourceSample>& samples,
                                                       const ManagedProcessesByConversation& managed) {
    return sessionRootPIDs(candidate, ProcessView(samples, managed));
}

std::optional<SessionResourceUsage> CodexStatusProvider::codexAppResourceUsage(
    const std::vector<ProcessResourceSample>& samples) {
    static const ManagedProcessesByConversation none;
    return ProcessView(samples, none).appUsage();
}

std::optional<SessionResourceUsage> CodexStatusProvider::sessionResourceUsage(const CodexCandidate& candidate,
                                                                              const ProcessView& processes) {
    if (processes.samples().empty()) return std::nullopt;
    return processes.usageOnce(candidate, [&] { return computeSessionResourceUsage(candidate, processes); });
}

std::optional<SessionResourceUsage> CodexStatusProvider::computeSessionResourceUsage(const CodexCandidate& candidate,
                                                                                     const ProcessView& processes) {
    const std::set<int64_t> roots = sessionRootPIDs(candidate, processes);
    if (!roots.empty()) {
        if (auto usage = processes.tree().resourceUsage(roots)) return usage;
    }
    return processes.appUsage();
}

std::optional<SessionResourceUsage> CodexStatusProvider::sessionResourceUsage(
    const CodexCandidate& candidate, const std::vector<ProcessResourceSample>& samples,
    const ManagedProcessesByConversation& managed) {
    return sessionResourceUsage(candidate, ProcessView(samples, managed));
}

} // namespace brindleaf
