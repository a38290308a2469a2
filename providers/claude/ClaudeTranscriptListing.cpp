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

bool ClaudeStatusProvider::ProjectFoldersState::operator==(const ProjectFoldersState& other) const {
    if (projectsModifiedAt != other.projectsModifiedAt || modifiedAt != other.modifiedAt) return false;
    if (entries == other.entries) return true;
    return entries && other.entries && *entries == *other.entries;
}

ClaudeStatusProvider::ProjectFoldersState ClaudeStatusProvider::projectFoldersState(const std::string& projectsPath) {
    ProjectFoldersState state;
    if (auto info = watched_.info(projectsPath)) state.projectsModifiedAt = info->modifiedAt;
    state.entries = watched_.entries(projectsPath);
    if (!state.entries) return state;
    state.modifiedAt.reserve(state.entries->size());
    std::string path;
    path.reserve(projectsPath.size() + 64);
    path.append(projectsPath).append(1, '/');
    const size_t nameOffset = path.size();
    for (const auto& entry : *state.entries) {
        if (entry.name.empty() || entry.name.front() == '.') continue;
        path.resize(nameOffset);
        path.append(entry.name);
        const auto info = watched_.info(path);
        state.modifiedAt.push_back(info ? std::optional<Date>(info->modifiedAt) : std::nullopt);
    }
    return state;
}

std::vector<ClaudeTranscriptFile> ClaudeStatusProvider::listTranscripts(const std::string& projectsPath) {
    watched_.refresh();
    return *listedTranscripts(projectsPath);
}

std::shared_ptr<const ClaudeStatusProvider::TranscriptList>
ClaudeStatusProvider::listedTranscripts(const std::string& projectsPath) {
    const size_t limit = listingLimit(config_.transcriptLimit);
    const double interval = config_.transcriptRescanInterval;
    if (interval <= 0) {
        return std::make_shared<const TranscriptList>(firstFiles(walkWithFolderListings(projectsPath), limit));
    }

    // While the projects folder and its entries look as they did at the last
    // walk, the files that walk found are examined again instead of walking.
    ProjectFoldersState folders = projectFoldersState(projectsPath);
    std::shared_ptr<const TranscriptList> reusable;
    std::shared_ptr<const TranscriptList> last;
    {
        std::lock_guard<std::mutex> guard(transcriptListLock_);
        if (cachedTranscriptList_ && cachedTranscriptList_->projectsPath == projectsPath &&
            cachedTranscriptList_->folders == folders &&
            monotonicSeconds() - cachedTranscriptList_->scannedAt < interval) {
            reusable = cachedTranscriptList_->files;
            last = lastListed_;
        }
    }
    if (reusable) {
        struct Present {
            size_t index;
            FileStat::Info info;
        };
        std::vector<Present> present;
        present.reserve(reusable->size());
        for (size_t i = 0; i < reusable->size(); ++i) {
            if (auto info = watched_.info((*reusable)[i].path)) present.push_back(Present{i, *info});
        }
        std::stable_sort(present.begin(), present.end(),
                         [](const Present& a, const Present& b) { return a.info.modifiedAt > b.info.modifiedAt; });
        if (present.size() > limit) present.resize(limit);
        // The same files in the same state as last time: the same list.
        bool same = last && last->size() == present.size();
        for (size_t i = 0; same && i < present.size(); ++i) {
            const ClaudeTranscriptFile& was = (*last)[i];
            same = was.info == present[i].info && was.modifiedAt == present[i].info.modifiedAt &&
                   was.path == (*reusable)[present[i].index].path;
        }
        if (same) return last;
        auto fresh = std::make_shared<TranscriptList>();
        fresh->reserve(present.size());
        for (const auto& file : present) {
            fresh->push_back(ClaudeTranscriptFile{(*reusable)[file.index].path, file.info.modifiedAt, file.info});
        }
        std::shared_ptr<const TranscriptList> result = std::move(fresh);
        std::lock_guard<std::mutex> guard(transcriptListLock_);
        lastListed_ = result;
        return result;
    }

    std::vector<ClaudeTranscriptFile> walked = walkWithFolderListings(projectsPath);
    auto kept = std::make_shared<const TranscriptList>(firstFiles(walked, limit + 40));
    auto result = std::make_shared<const TranscriptList>(firstFiles(std::move(walked), limit));
    std::lock_guard<std::mutex> guard(transcriptListLock_);
    cachedTranscriptList_ = CachedTranscriptList{projectsPath, monotonicSeconds(), std::move(folders), std::move(kept)};
    // A walk that finds what the last scan listed keeps that list, and with it
    // everything derived from it.
    if (lastListed_ && *lastListed_ == *result) return lastListed_;
    lastListed_ = result;
    return result;
}

std::shared_ptr<const ClaudeStatusProvider::EngineLivenessIndex>
ClaudeStatusProvider::engineIndexFor(const ProcessSampleList& samples, const std::shared_ptr<const Registry>& registry) {
    std::lock_guard<std::mutex> guard(engineIndexLock_);
    // A cached process table hands out the same samples until it is renewed;
    // a fresh sampling differs at least in its CPU figures.
    if (cachedEngineIndex_ &&
        (cachedEngineIndex_->registry == registry || *cachedEngineIndex_->registry == *registry) &&
        cachedEngineIndex_->samples.sameAs(samples)) {
        return cachedEngineIndex_->index;
    }
    auto index = std::make_shared<const EngineLivenessIndex>(EngineLivenessIndex::build(samples, *registry));
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

namespace {

// The path without the extension of its last component.
std::string withoutExtension(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash + 2)) return path;
    return path.substr(0, dot);
}

} // namespace

std::shared_ptr<const ClaudeStatusProvider::ScanItem> ClaudeStatusProvider::makeScanItem(const ClaudeTranscriptFile& file) {
    auto item = std::make_shared<ScanItem>();
    item->analyzed = analyzeTranscript(file);
    item->sessionID = sessionIDOf(item->analyzed);
    item->isSubagent = isSubagentTranscript(file.path);
    if (item->isSubagent) item->metaPath = withoutExtension(file.path) + ".meta.json";
    return item;
}

std::shared_ptr<const ClaudeStatusProvider::ScanItems>
ClaudeStatusProvider::analyzedItems(const std::shared_ptr<const TranscriptList>& files) {
    // An item stands while its file is listed with the same size and
    // modification time; only the items of the latest listing are kept.
    std::vector<std::shared_ptr<const ScanItem>> known(files->size());
    {
        std::lock_guard<std::mutex> guard(analysisLock_);
        if (analyzedFiles_ == files && analyzedItems_) return analyzedItems_;
        for (size_t i = 0; i < files->size(); ++i) {
            const ClaudeTranscriptFile& file = (*files)[i];
            if (!file.info) continue;
            if (auto it = itemsByPath_.find(file.path); it != itemsByPath_.end() && it->second->analyzed.transcript == file) {
                known[i] = it->second;
            }
        }
    }
    for (size_t i = 0; i < files->size(); ++i) {
        if (!known[i]) known[i] = makeScanItem((*files)[i]);
    }
    auto items = std::make_shared<const ScanItems>(std::move(known));
    std::lock_guard<std::mutex> guard(analysisLock_);
    std::unordered_map<std::string, std::shared_ptr<const ScanItem>> byPath;
    byPath.reserve(items->size());
    for (const auto& item : *items) {
        if (item->analyzed.transcript.info) byPath.insert_or_assign(item->analyzed.transcript.path, item);
    }
    itemsByPath_.swap(byPath);
    analyzedFiles_ = files;
    analyzedItems_ = items;
    return items;
}

std::vector<char> ClaudeStatusProvider::claimedItems(const ScanItems& items, const EngineLivenessIndex& index) {
    std::vector<char> claimed(items.size(), 0);
    if (index.snapshotEmpty || (index.sawEngineProcess && index.engineCwdCounts.empty())) return claimed;
    // Per project key with engines, in order of first appearance, its
    // transcripts; the engines there claim the ones with the latest activity.
    std::vector<std::pair<const std::string*, std::vector<size_t>>> groups;
    for (size_t i = 0; i < items.size(); ++i) {
        const ClaudeEngineKey& engineKey = items[i]->analyzed.engineKey;
        const std::string* key = nullptr;
        if (engineKey.projectDirectory && index.engineCount(*engineKey.projectDirectory) > 0) {
            key = &*engineKey.projectDirectory;
        } else if (engineKey.transcriptCwd && engineKey.transcriptCwd != engineKey.projectDirectory &&
                   index.engineCount(*engineKey.transcriptCwd) > 0) {
            key = &*engineKey.transcriptCwd;
        }
        if (!key) continue;
        auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return *g.first == *key; });
        if (group == groups.end()) group = groups.insert(groups.end(), {key, {}});
        group->second.push_back(i);
    }
    for (auto& [key, members] : groups) {
        std::stable_sort(members.begin(), members.end(), [&](size_t a, size_t b) {
            return items[a]->analyzed.lastActivity > items[b]->analyzed.lastActivity;
        });
        const size_t count = std::min(members.size(), static_cast<size_t>(index.engineCount(*key)));
        for (size_t i = 0; i < count; ++i) claimed[members[i]] = 1;
    }
    return claimed;
}

std::shared_ptr<const std::vector<size_t>>
ClaudeStatusProvider::mainTranscripts(const std::shared_ptr<const ScanItems>& items) {
    {
        std::lock_guard<std::mutex> guard(analysisLock_);
        if (cachedMainTranscripts_ && cachedMainTranscripts_->items == items) return cachedMainTranscripts_->mainOf;
    }
    // The main transcript of each session: the latest activity, the newer file on a tie.
    const ScanItems& list = *items;
    std::unordered_map<std::string_view, size_t> mainBySession;
    mainBySession.reserve(list.size());
    for (size_t i = 0; i < list.size(); ++i) {
        if (list[i]->isSubagent) continue;
        auto [it, inserted] = mainBySession.try_emplace(list[i]->sessionID, i);
        if (!inserted && list[it->second]->analyzed.lastActivity < list[i]->analyzed.lastActivity) it->second = i;
    }
    auto mainOf = std::make_shared<std::vector<size_t>>(list.size(), std::string::npos);
    for (size_t i = 0; i < list.size(); ++i) {
        if (auto it = mainBySession.find(list[i]->sessionID); it != mainBySession.end()) (*mainOf)[i] = it->second;
    }
    std::shared_ptr<const std::vector<size_t>> result = std::move(mainOf);
    std::lock_guard<std::mutex> guard(analysisLock_);
    cachedMainTranscripts_ = CachedMainTranscripts{items, result};
    return result;
}

std::shared_ptr<const std::vector<char>>
ClaudeStatusProvider::claims(const std::shared_ptr<const ScanItems>& items,
                             const std::shared_ptr<const EngineLivenessIndex>& index) {
    {
        std::lock_guard<std::mutex> guard(analysisLock_);
        if (cachedClaims_ && cachedClaims_->items == items && cachedClaims_->index == index) {
            return cachedClaims_->claimed;
        }
    }
    auto claimed = std::make_shared<const std::vector<char>>(claimedItems(*items, *index));
    std::lock_guard<std::mutex> guard(analysisLock_);
    cachedClaims_ = CachedClaims{items, index, claimed};
    return claimed;
}

ClaudeStatusProvider::ScanItems ClaudeStatusProvider::itemsOf(const std::vector<AnalyzedTranscript>& transcripts) const {
    ScanItems items;
    items.reserve(transcripts.size());
    for (const auto& transcript : transcripts) {
        auto item = std::make_shared<ScanItem>();
        item->analyzed = transcript;
        item->sessionID = sessionIDOf(transcript);
        item->isSubagent = isSubagentTranscript(transcript.transcript.path);
        items.push_back(std::move(item));
    }
    return items;
}

std::set<std::string> ClaudeStatusProvider::engineClaimedTranscripts(const std::vector<AnalyzedTranscript>& transcripts,
                                                                     const EngineLivenessIndex& index) {
    std::set<std::string> claimed;
    ScanItems items;
    items.reserve(transcripts.size());
    for (const auto& transcript : transcripts) {
        auto item = std::make_shared<ScanItem>();
        item->analyzed = transcript;
        items.push_back(std::move(item));
    }
    const std::vector<char> flags = claimedItems(items, index);
    for (size_t i = 0; i < transcripts.size(); ++i) {
        if (flags[i]) claimed.insert(transcripts[i].transcript.path);
    }
    return claimed;
}

} // namespace brindleaf
