// The transcript listing with its folder-signature cache, the analysis cache,
// the liveness index cache and the claim set of ClaudeStatusProvider.
#include "core/FileStat.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <unordered_map>

namespace brindleaf {

namespace {

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void sortNewestFirst(std::vector<ClaudeTranscriptFile>& files) {
    std::stable_sort(files.begin(), files.end(),
                     [](const ClaudeTranscriptFile& a, const ClaudeTranscriptFile& b) { return a.modifiedAt > b.modifiedAt; });
}

size_t listingLimit(int64_t transcriptLimit) { return transcriptLimit < 1 ? 1 : static_cast<size_t>(transcriptLimit); }

std::vector<ClaudeTranscriptFile> firstFiles(std::vector<ClaudeTranscriptFile> files, size_t count) {
    if (files.size() > count) files.resize(count);
    return files;
}

} // namespace

std::vector<ClaudeTranscriptFile> ClaudeStatusProvider::findTranscriptFiles(const std::string& root) {
    std::vector<ClaudeTranscriptFile> files;
    std::vector<std::string> folders{root};
    while (!folders.empty()) {
        const std::string folder = std::move(folders.back());
        folders.pop_back();
        DIR* dir = ::opendir(folder.c_str());
        if (!dir) continue;
        while (const dirent* entry = ::readdir(dir)) {
            const std::string_view name(entry->d_name);
            if (name.empty() || name.front() == '.') continue;
            std::string path = folder + "/" + std::string(name);
            unsigned char type = entry->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::lstat(path.c_str(), &st) != 0) continue;
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR) {
                folders.push_back(std::move(path));
            } else if (type == DT_REG && endsWith(name, ".jsonl")) {
                if (auto info = FileStat::info(path)) {
                    files.push_back(ClaudeTranscriptFile{std::move(path), info->modifiedAt, info});
                }
            }
        }
        ::closedir(dir);
    }
    sortNewestFirst(files);
    return files;
}

std::map<std::string, Date> ClaudeStatusProvider::folderSignature(const std::string& projectsPath) {
    std::map<std::string, Date> signature;
    if (auto modified = FileStat::modificationDate(projectsPath)) signature.emplace(projectsPath, *modified);
    DIR* dir = ::opendir(projectsPath.c_str());
    if (!dir) return signature;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.') continue;
        std::string path = projectsPath + "/" + std::string(name);
        if (auto modified = FileStat::modificationDate(path)) signature.emplace(std::move(path), *modified);
    }
    ::closedir(dir);
    return signature;
}

std::vector<ClaudeTranscriptFile> ClaudeStatusProvider::listTranscripts(const std::string& projectsPath) {
    const size_t limit = listingLimit(config_.transcriptLimit);
    const double interval = config_.transcriptRescanInterval;
    if (interval <= 0) return firstFiles(findTranscriptFiles(projectsPath), limit);

    std::map<std::string, Date> signature = folderSignature(projectsPath);
    std::vector<ClaudeTranscriptFile> reusable;
    bool reuse = false;
    {
        std::lock_guard<std::mutex> guard(transcriptListLock_);
        if (cachedTranscriptList_ && cachedTranscriptList_->projectsPath == projectsPath &&
            cachedTranscriptList_->folderSignature == signature &&
            monotonicSeconds() - cachedTranscriptList_->scannedAt < interval) {
            reusable = cachedTranscriptList_->files;
            reuse = true;
        }
    }
    if (reuse) {
        std::vector<ClaudeTranscriptFile> fresh;
        fresh.reserve(reusable.size());
        for (auto& file : reusable) {
            if (auto info = FileStat::info(file.path)) {
                fresh.push_back(ClaudeTranscriptFile{std::move(file.path), info->modifiedAt, info});
            }
        }
        sortNewestFirst(fresh);
        return firstFiles(std::move(fresh), limit);
    }

    std::vector<ClaudeTranscriptFile> walked = findTranscriptFiles(projectsPath);
    {
        std::lock_guard<std::mutex> guard(transcriptListLock_);
        cachedTranscriptList_ = CachedTranscriptList{projectsPath, monotonicSeconds(), std::move(signature),
                                                     firstFiles(walked, limit + 40)};
    }
    return firstFiles(std::move(walked), limit);
}

std::shared_ptr<const ClaudeStatusProvider::EngineLivenessIndex>
ClaudeStatusProvider::engineIndex(const std::vector<ProcessResourceSample>& samples,
                                  const std::map<int64_t, std::string>& registry) {
    std::lock_guard<std::mutex> guard(engineIndexLock_);
    // A cached process table hands out the same samples until it is renewed;
    // a fresh sampling differs at least in its CPU figures.
    if (cachedEngineIndex_ && cachedEngineIndex_->registry == registry && cachedEngineIndex_->samples == samples) {
        return cachedEngineIndex_->index;
    }
    auto index = std::make_shared<const EngineLivenessIndex>(EngineLivenessIndex::build(samples, registry));
    cachedEngineIndex_ = CachedEngineIndex{samples, registry, index};
    return index;
}

ClaudeStatusProvider::AnalyzedTranscript ClaudeStatusProvider::analyzeTranscript(const ClaudeTranscriptFile& transcript) {
    const std::optional<FileStat::Info> info = transcript.info ? transcript.info : FileStat::info(transcript.path);
    ClaudeTranscriptState state = analyzer_.cache().value(transcript.path, std::string(), info,
                                                          [&] { return analyzer_.parse(transcript.path); });
    AnalyzedTranscript analyzed;
    analyzed.lastActivity = state.lastEventAt.value_or(transcript.modifiedAt);
    analyzed.engineKey.projectDirectory = projectDirectoryName(transcript.path);
    if (state.cwd && !state.cwd->empty()) {
        analyzed.engineKey.transcriptCwd = EngineLivenessIndex::projectKey(*state.cwd);
    }
    analyzed.transcript = transcript;
    analyzed.state = std::move(state);
    return analyzed;
}

std::optional<std::string> ClaudeStatusProvider::projectDirectoryName(const std::string& transcriptPath) {
    std::string_view folder(transcriptPath);
    auto parent = [](std::string_view path) -> std::string_view {
        while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
        const size_t slash = path.rfind('/');
        if (slash == std::string_view::npos) return std::string_view();
        return slash == 0 ? std::string_view("/") : path.substr(0, slash);
    };
    auto lastName = [](std::string_view path) -> std::string_view {
        if (path == "/") return path;
        const size_t slash = path.rfind('/');
        return slash == std::string_view::npos ? path : path.substr(slash + 1);
    };
    folder = parent(folder);
    if (lastName(folder) == "subagents") folder = parent(parent(folder));
    const std::string_view name = lastName(folder);
    if (name.empty() || name == "/") return std::nullopt;
    return std::string(name);
}

std::set<std::string> ClaudeStatusProvider::engineClaimedTranscripts(const std::vector<AnalyzedTranscript>& transcripts,
                                                                     const EngineLivenessIndex& index) {
    std::set<std::string> claimed;
    if (index.snapshotEmpty || (index.sawEngineProcess && index.engineCwdCounts.empty())) return claimed;
    std::vector<std::string> order;
    std::unordered_map<std::string, std::vector<const AnalyzedTranscript*>> groups;
    for (const auto& transcript : transcripts) {
        const auto key = index.resolvedEngineKey(transcript.engineKey);
        if (!key || index.engineCount(*key) <= 0) continue;
        auto [it, inserted] = groups.try_emplace(*key);
        if (inserted) order.push_back(*key);
        it->second.push_back(&transcript);
    }
    for (const auto& key : order) {
        auto& group = groups[key];
        std::stable_sort(group.begin(), group.end(), [](const AnalyzedTranscript* a, const AnalyzedTranscript* b) {
            return a->lastActivity > b->lastActivity;
        });
        const size_t count = std::min(group.size(), static_cast<size_t>(index.engineCount(key)));
        for (size_t i = 0; i < count; ++i) claimed.insert(group[i]->transcript.path);
    }
    return claimed;
}

} // namespace brindleaf
