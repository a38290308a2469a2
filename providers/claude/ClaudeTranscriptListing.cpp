// The transcript listing with its folder-signature cache, the analysis cache,
// the liveness index cache and the claim set of ClaudeStatusProvider.
#include "core/FileStat.hpp"
#include "providers/claude/ClaudeFolderStat.hpp"
#include "providers/claude/ClaudeStatusProvider.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
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
    return walkTranscriptFiles(root, nullptr, nullptr);
}

namespace {

// An open folder whose entries are examined relative to it; closed when the
// last folder below it that is still to be read has been opened.
struct OpenFolder {
    int fd = -1;
    explicit OpenFolder(int descriptor) : fd(descriptor) {}
    OpenFolder(const OpenFolder&) = delete;
    OpenFolder& operator=(const OpenFolder&) = delete;
    ~OpenFolder() {
        if (fd >= 0) ::close(fd);
    }
};

struct PendingFolder {
    std::string path;
    std::shared_ptr<OpenFolder> parent; // absent for the root
    size_t nameOffset = 0;              // where the folder's own name starts in `path`
};

double seconds(const timespec& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_nsec) / 1e9;
}

bool sameFolderState(const ClaudeStatusProvider::FolderListing& listing, const struct stat& st) {
    return listing.device == static_cast<uint64_t>(st.st_dev) && listing.inode == static_cast<uint64_t>(st.st_ino) &&
           listing.modifiedSeconds == st.st_mtim.tv_sec && listing.modifiedNanoseconds == st.st_mtim.tv_nsec &&
           listing.changedSeconds == st.st_ctim.tv_sec && listing.changedNanoseconds == st.st_ctim.tv_nsec;
}

} // namespace

std::vector<ClaudeTranscriptFile> ClaudeStatusProvider::walkTranscriptFiles(const std::string& root, FolderListings* previous,
                                                                            FolderListings* next) {
    constexpr int folderFlags = O_RDONLY | O_NONBLOCK | O_DIRECTORY | O_CLOEXEC;
    std::vector<ClaudeTranscriptFile> files;
    std::vector<PendingFolder> folders;
    folders.push_back(PendingFolder{root, nullptr, 0});
    std::vector<FolderListing::Entry> fresh;
    while (!folders.empty()) {
        PendingFolder pending = std::move(folders.back());
        folders.pop_back();
        const std::string& folder = pending.path;
        const int fd = pending.parent ? ::openat(pending.parent->fd, folder.c_str() + pending.nameOffset, folderFlags)
                                      : ::open(folder.c_str(), folderFlags);
        pending.parent.reset();
        if (fd < 0) continue;
        auto self = std::make_shared<OpenFolder>(fd);

        // A folder whose modification and change times (and identity) are
        // those of its last listing still has the same entries: adding,
        // removing or renaming an entry changes both.
        struct stat folderStat {};
        const bool statted = previous && next && ::fstat(fd, &folderStat) == 0;
        const std::vector<FolderListing::Entry>* entries = nullptr;
        if (statted) {
            if (auto it = previous->find(folder); it != previous->end() && sameFolderState(it->second, folderStat)) {
                auto stored = next->insert_or_assign(folder, std::move(it->second)).first;
                previous->erase(it);
                entries = &stored->second.entries;
            }
        }
        if (!entries) {
            const Date listedAt = currentDate();
            fresh.clear();
            const int listingFD = ::dup(fd);
            DIR* dir = listingFD < 0 ? nullptr : ::fdopendir(listingFD);
            if (!dir) {
                if (listingFD >= 0) ::close(listingFD);
                continue;
            }
            while (const dirent* entry = ::readdir(dir)) {
                const std::string_view name(entry->d_name);
                if (name.empty() || name.front() == '.') continue;
                unsigned char type = entry->d_type;
                if (type == DT_UNKNOWN) {
                    struct stat st;
                    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
                    type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
                }
                if (type == DT_DIR) {
                    fresh.push_back(FolderListing::Entry{std::string(name), true});
                } else if (type == DT_REG && endsWith(name, ".jsonl")) {
                    fresh.push_back(FolderListing::Entry{std::string(name), false});
                }
            }
            ::closedir(dir);
            // A listing taken within the timestamp tick of the folder's last
            // change could miss a change made in that same tick: not kept.
            if (statted && listedAt - std::max(seconds(folderStat.st_mtim), seconds(folderStat.st_ctim)) >=
                               folderListingSettleTime) {
                auto stored = next->insert_or_assign(
                    folder, FolderListing{static_cast<uint64_t>(folderStat.st_dev), static_cast<uint64_t>(folderStat.st_ino),
                                          static_cast<int64_t>(folderStat.st_mtim.tv_sec),
                                          static_cast<int64_t>(folderStat.st_mtim.tv_nsec),
                                          static_cast<int64_t>(folderStat.st_ctim.tv_sec),
                                          static_cast<int64_t>(folderStat.st_ctim.tv_nsec), std::move(fresh)});
                entries = &stored.first->second.entries;
                fresh = {};
            } else {
                entries = &fresh;
            }
        }

        for (const auto& entry : *entries) {
            std::string path;
            path.reserve(folder.size() + 1 + entry.name.size());
            path.append(folder).append(1, '/').append(entry.name);
            if (entry.isFolder) {
                folders.push_back(PendingFolder{std::move(path), self, folder.size() + 1});
            } else if (auto info = claudefolder::infoAt(fd, entry.name.c_str())) {
                files.push_back(ClaudeTranscriptFile{std::move(path), info->modifiedAt, info});
            }
        }
    }
    sortNewestFirst(files);
    return files;
}

std::map<std::string, Date> ClaudeStatusProvider::folderSignature(const std::string& projectsPath) {
    std::map<std::string, Date> signature;
    if (auto modified = FileStat::modificationDate(projectsPath)) signature.emplace(projectsPath, *modified);
    DIR* dir = ::opendir(projectsPath.c_str());
    if (!dir) return signature;
    const int folderFD = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.empty() || name.front() == '.') continue;
        if (auto info = claudefolder::infoAt(folderFD, entry->d_name)) {
            std::string path;
            path.reserve(projectsPath.size() + 1 + name.size());
            path.append(projectsPath).append(1, '/').append(name);
            signature.emplace(std::move(path), info->modifiedAt);
        }
    }
    ::closedir(dir);
    return signature;
}

std::vector<ClaudeTranscriptFile> ClaudeStatusProvider::walkWithFolderListings(const std::string& root) {
    // Folders unchanged since the last walk are not listed again; folders no
    // longer met are forgotten. A concurrent walk finds no listings and reads
    // every folder.
    FolderListings previous;
    {
        std::lock_guard<std::mutex> guard(folderListingsLock_);
        previous.swap(folderListings_);
    }
    FolderListings next;
    std::vector<ClaudeTranscriptFile> walked = walkTranscriptFiles(root, &previous, &next);
    {
        std::lock_guard<std::mutex> guard(folderListingsLock_);
        folderListings_.swap(next);
    }
    return walked;
}

std::vector<ClaudeTranscriptFile> ClaudeStatusProvider::listTranscripts(const std::string& projectsPath) {
    const size_t limit = listingLimit(config_.transcriptLimit);
    const double interval = config_.transcriptRescanInterval;
    if (interval <= 0) return firstFiles(walkWithFolderListings(projectsPath), limit);

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

    std::vector<ClaudeTranscriptFile> walked = walkWithFolderListings(projectsPath);
    {
        std::lock_guard<std::mutex> guard(transcriptListLock_);
        cachedTranscriptList_ = CachedTranscriptList{projectsPath, monotonicSeconds(), std::move(signature),
                                                     firstFiles(walked, limit + 40)};
    }
    return firstFiles(std::move(walked), limit);
}

std::shared_ptr<const ClaudeStatusProvider::EngineLivenessIndex>
ClaudeStatusProvider::engineIndex(const ProcessSampleList& samples,
                                  const std::map<int64_t, std::string>& registry) {
    std::lock_guard<std::mutex> guard(engineIndexLock_);
    // A cached process table hands out the same samples until it is renewed;
    // a fresh sampling differs at least in its CPU figures.
    if (cachedEngineIndex_ && cachedEngineIndex_->registry == registry && cachedEngineIndex_->samples.sameAs(samples)) {
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
