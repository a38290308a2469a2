#include "bench/RefreshFloors.hpp"

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf::bench {

namespace {

constexpr std::size_t claudeTail = 131072;
constexpr std::size_t claudeDeepTail = 8388608;
constexpr std::size_t codexTail = 98304;
constexpr std::size_t hermesLogTail = 524288;

uint64_t statPath(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 ? uint64_t(info.st_size) + 1 : 0;
}

// Reads the last `limit` bytes of a file into a reused buffer.
uint64_t readTail(const std::string& path, std::size_t limit) {
    static thread_local std::vector<char> buffer;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return 0;
    struct stat info;
    uint64_t total = 0;
    if (::fstat(fd, &info) == 0) {
        std::size_t size = std::size_t(info.st_size);
        std::size_t start = size > limit ? size - limit : 0;
        buffer.resize(size - start);
        std::size_t done = 0;
        while (done < buffer.size()) {
            ssize_t n = ::pread(fd, buffer.data() + done, buffer.size() - done, off_t(start + done));
            if (n <= 0) break;
            done += std::size_t(n);
        }
        total = done;
    }
    ::close(fd);
    return total;
}

template <typename Visit>
void listFolder(const std::string& path, Visit visit) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return;
    while (struct dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        visit(entry);
    }
    ::closedir(dir);
}

// The recursive listing of "projects" with a stat of every transcript.
uint64_t walkTranscripts(const std::string& root) {
    uint64_t count = 0;
    std::vector<std::string> stack{root};
    while (!stack.empty()) {
        std::string folder = std::move(stack.back());
        stack.pop_back();
        listFolder(folder, [&](struct dirent* entry) {
            std::string path = folder + "/" + entry->d_name;
            if (entry->d_type == DT_DIR) {
                stack.push_back(std::move(path));
            } else if (entry->d_type == DT_REG) {
                std::size_t length = std::strlen(entry->d_name);
                if (length > 6 && std::strcmp(entry->d_name + length - 6, ".jsonl") == 0) count += statPath(path);
            }
        });
    }
    return count;
}

uint64_t runQuery(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    uint64_t rows = 0;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            ++rows;
            for (int c = 0; c < sqlite3_column_count(statement); ++c) rows += uint64_t(sqlite3_column_bytes(statement, c));
        }
    }
    sqlite3_finalize(statement);
    return rows;
}

std::vector<std::string> queryTexts(sqlite3* db, const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            const unsigned char* text = sqlite3_column_text(statement, 0);
            if (text) out.emplace_back(reinterpret_cast<const char*>(text));
        }
    }
    sqlite3_finalize(statement);
    return out;
}

sqlite3* openReadOnly(const std::string& path) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

} // namespace

RefreshFloorPlan RefreshFloorPlan::forHome(const GeneratedHome& home, Date now) {
    RefreshFloorPlan plan;
    plan.claudeProjects = (home.claudeHome() / "projects").string();
    listFolder(plan.claudeProjects, [&](struct dirent* entry) {
        plan.claudeProjectFolders.push_back(plan.claudeProjects + "/" + entry->d_name);
    });
    struct Transcript {
        std::string path;
        double modifiedAt;
    };
    std::vector<Transcript> transcripts;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(plan.claudeProjects)) {
        if (!entry.is_regular_file() || entry.path().extension() != ".jsonl") continue;
        struct stat info;
        if (::stat(entry.path().c_str(), &info) != 0) continue;
        transcripts.push_back({entry.path().string(), double(info.st_mtim.tv_sec) + double(info.st_mtim.tv_nsec) / 1e9});
    }
    std::stable_sort(transcripts.begin(), transcripts.end(),
                     [](const Transcript& a, const Transcript& b) { return a.modifiedAt > b.modifiedAt; });
    for (std::size_t i = 0; i < transcripts.size() && i < 80; ++i) {
        plan.claudeNewest.push_back(transcripts[i].path);
        if (now - transcripts[i].modifiedAt <= 28800) plan.claudeDeepPass.push_back(transcripts[i].path);
    }
    plan.claudeSessions = (home.claudeHome() / "sessions").string();
    plan.claudeDesktop = home.claudeDesktopHome().string();

    plan.codexStateDatabase = (home.codexHome() / "state_5.sqlite").string();
    plan.codexLogDatabase = (home.codexHome() / "logs_2.sqlite").string();
    plan.codexDatabases = {plan.codexStateDatabase, plan.codexStateDatabase + "-wal", plan.codexLogDatabase,
                           plan.codexLogDatabase + "-wal"};
    plan.codexSessionIndex = (home.codexHome() / "session_index.jsonl").string();
    plan.codexManagedProcesses = (home.codexHome() / "process_manager" / "chat_processes.json").string();
    if (sqlite3* logs = openReadOnly(plan.codexLogDatabase)) {
        std::vector<std::string> active = queryTexts(
            logs, "select distinct thread_id from logs where ts >= " + std::to_string(int64_t(now - 20)) +
                      " and thread_id is not null limit 64");
        sqlite3_close(logs);
        if (sqlite3* state = openReadOnly(plan.codexStateDatabase)) {
            std::string ids;
            for (const auto& id : active) ids += (ids.empty() ? "'" : ", '") + id + "'";
            plan.codexRollouts = queryTexts(
                state,
                "select rollout_path from threads where archived = 0 and (id in (" + ids +
                    ") or id in (select child_thread_id from thread_spawn_edges where status = 'open') or id in "
                    "(select id from threads where archived = 0 order by coalesce(nullif(recency_at_ms, 0), "
                    "updated_at_ms) desc limit 40))");
            sqlite3_close(state);
        }
    }

    plan.hermesStateDatabase = (home.hermesHome() / "state.db").string();
    plan.hermesAgentLog = (home.hermesHome() / "logs" / "agent.log").string();
    plan.hermesStatFiles = {plan.hermesStateDatabase, plan.hermesStateDatabase + "-wal", plan.hermesAgentLog};
    plan.hermesSmallFiles = {(home.hermesHome() / "gateway_state.json").string(),
                             (home.hermesHome() / "processes.json").string()};
    return plan;
}

uint64_t processTableFloor() {
    uint64_t total = 0;
    char buffer[8192];
    listFolder("/proc", [&](struct dirent* entry) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') return;
        std::string base = std::string("/proc/") + entry->d_name;
        for (const char* file : {"/stat", "/cmdline"}) {
            int fd = ::open((base + file).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) continue;
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) total += uint64_t(n);
            ::close(fd);
        }
        ssize_t n = ::readlink((base + "/cwd").c_str(), buffer, sizeof buffer);
        if (n > 0) total += uint64_t(n);
    });
    return total;
}

uint64_t claudeWarmFloor(const RefreshFloorPlan& plan) {
    // The folder signature, a stat of each listed transcript, the registry's entries.
    uint64_t total = statPath(plan.claudeProjects);
    listFolder(plan.claudeProjects, [&](struct dirent* entry) { total += statPath(plan.claudeProjects + "/" + entry->d_name); });
    for (const auto& path : plan.claudeNewest) total += statPath(path);
    listFolder(plan.claudeSessions, [&](struct dirent* entry) { total += statPath(plan.claudeSessions + "/" + entry->d_name); });
    return total;
}

uint64_t claudeWalkFloor(const RefreshFloorPlan& plan) {
    uint64_t total = statPath(plan.claudeProjects);
    listFolder(plan.claudeProjects, [&](struct dirent* entry) { total += statPath(plan.claudeProjects + "/" + entry->d_name); });
    total += walkTranscripts(plan.claudeProjects);
    listFolder(plan.claudeSessions, [&](struct dirent* entry) { total += statPath(plan.claudeSessions + "/" + entry->d_name); });
    return total;
}

uint64_t claudeColdFloor(const RefreshFloorPlan& plan) {
    uint64_t total = walkTranscripts(plan.claudeProjects);
    for (const auto& path : plan.claudeNewest) total += readTail(path, claudeTail);
    for (const auto& path : plan.claudeDeepPass) total += readTail(path, claudeDeepTail);
    listFolder(plan.claudeSessions, [&](struct dirent* entry) { total += readTail(plan.claudeSessions + "/" + entry->d_name, 1 << 20); });
    // The desktop app's session files, two folder levels below each root.
    for (const char* name : {"/claude-code-sessions", "/local-agent-mode-sessions"}) {
        std::string base = plan.claudeDesktop + name;
        listFolder(base, [&](struct dirent* first) {
            std::string one = base + "/" + first->d_name;
            listFolder(one, [&](struct dirent* second) {
                std::string two = one + "/" + second->d_name;
                listFolder(two, [&](struct dirent* file) { total += readTail(two + "/" + file->d_name, 1 << 20); });
            });
        });
    }
    return total;
}

uint64_t codexWarmFloor(const RefreshFloorPlan& plan) {
    uint64_t total = 0;
    for (const auto& path : plan.codexDatabases) total += statPath(path);
    for (const auto& path : plan.codexRollouts) total += statPath(path);
    total += statPath(plan.codexSessionIndex) + statPath(plan.codexManagedProcesses);
    return total;
}

uint64_t codexColdFloor(const RefreshFloorPlan& plan, Date now) {
    uint64_t total = 0;
    for (const auto& path : plan.codexDatabases) total += statPath(path);
    // The three questions to the databases, in their plainest form.
    if (sqlite3* logs = openReadOnly(plan.codexLogDatabase)) {
        total += runQuery(logs, "select thread_id, max(ts) from (select thread_id, ts from logs indexed by idx_logs_ts "
                                "where ts >= " + std::to_string(int64_t(now - 20)) +
                                    " and thread_id is not null) group by thread_id");
        sqlite3_close(logs);
    }
    if (sqlite3* state = openReadOnly(plan.codexStateDatabase)) {
        total += runQuery(state, "select * from threads indexed by idx_threads_updated_at where archived = 0 order by updated_at desc limit 40");
        total += runQuery(state, "select * from thread_spawn_edges edge join threads child on child.id = "
                                 "edge.child_thread_id where edge.status = 'open'");
        sqlite3_close(state);
    }
    for (const auto& path : plan.codexRollouts) total += readTail(path, codexTail);
    total += readTail(plan.codexSessionIndex, 16u << 20) + readTail(plan.codexManagedProcesses, 4u << 20);
    return total;
}

uint64_t hermesWarmFloor(const RefreshFloorPlan& plan) {
    uint64_t total = 0;
    for (const auto& path : plan.hermesStatFiles) total += statPath(path);
    for (const auto& path : plan.hermesSmallFiles) total += statPath(path);
    return total;
}

uint64_t hermesColdFloor(const RefreshFloorPlan& plan) {
    uint64_t total = 0;
    for (const auto& path : plan.hermesStatFiles) total += statPath(path);
    for (const auto& path : plan.hermesSmallFiles) total += readTail(path, 1 << 20);
    total += readTail(plan.hermesAgentLog, hermesLogTail);
    if (sqlite3* state = openReadOnly(plan.hermesStateDatabase)) {
        // The 40 newest sessions and the last message of each.
        total += runQuery(state,
                          "select s.*, (select max(timestamp) from messages m where m.session_id = s.id) as last "
                          "from sessions s where s.archived = 0 order by s.started_at desc limit 40");
        sqlite3_close(state);
    }
    return total;
}

} // namespace brindleaf::bench
