#pragma once

#include "core/ProcessResourceSample.hpp"
#include "core/ProcessSampleList.hpp"
#include "providers/codex/CodexCandidate.hpp"
#include "providers/codex/CodexOfficialStatusProbe.hpp"
#include "providers/codex/CodexProviderConfig.hpp"
#include "tests/support/TempDir.hpp"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace brindleaf::testing {

// A real SQLite database the test writes with the sqlite3 C API.
class SQLiteFile {
public:
    explicit SQLiteFile(const std::filesystem::path& path);
    ~SQLiteFile();
    SQLiteFile(const SQLiteFile&) = delete;
    SQLiteFile& operator=(const SQLiteFile&) = delete;
    // Runs one or more statements; throws on failure.
    void exec(const std::string& sql);

private:
    sqlite3* db_ = nullptr;
};

// SQL text literal of a value, or NULL.
std::string sqlLiteral(const std::optional<std::string>& value);
std::string sqlLiteral(const std::optional<int64_t>& value);

struct ThreadRow {
    std::string id = {};
    std::optional<std::string> title = std::nullopt;
    std::optional<std::string> firstUserMessage = std::nullopt;
    std::optional<std::string> preview = std::nullopt;
    std::optional<std::string> cwd = std::nullopt;
    std::optional<std::string> rolloutPath = std::nullopt;
    std::optional<int64_t> updatedAt = std::nullopt;
    std::optional<int64_t> updatedAtMs = std::nullopt;
    int64_t archived = 0;
    std::optional<std::string> agentNickname = std::nullopt;
    std::optional<std::string> agentRole = std::nullopt;
    std::optional<std::string> threadSource = std::nullopt;
    std::optional<std::string> model = std::nullopt;
    std::optional<std::string> reasoningEffort = std::nullopt;
};

// A Codex home folder with a state database and a log database in the shapes
// Codex writes them.
class CodexHomeFixture {
public:
    CodexHomeFixture();

    const std::filesystem::path& home() const { return dir.path(); }
    std::filesystem::path statePath() const { return dir / "state_5.sqlite"; }
    std::filesystem::path logPath() const { return dir / "logs_2.sqlite"; }
    CodexProviderConfig config() const;

    // The full current schema: threads (with every optional column) and thread_spawn_edges.
    void createStateDatabase();
    void addThread(const ThreadRow& row);
    void addEdge(const std::string& parent, const std::string& child, const std::string& status);
    void createLogDatabase(bool withIndex = true, bool withBody = true);
    void addLog(const std::optional<std::string>& threadID, int64_t ts, const std::string& target,
                const std::optional<std::string>& body = std::nullopt);
    // Writes a rollout file of JSON lines and dates it; returns its path.
    std::string writeRollout(const std::string& name, const std::vector<std::string>& lines, double modifiedAt);

    TempDir dir;
};

// A probe that returns what the test sets, or throws.
class FakeOfficialProbe final : public CodexOfficialStatusProbe {
public:
    std::vector<CodexOfficialThreadStatus> statuses;
    bool fail = false;
    int calls = 0;
    std::vector<CodexOfficialThreadStatus> fetchSnapshot(Date) override {
        ++calls;
        if (fail) throw std::runtime_error("app server gone");
        return statuses;
    }
};

ProcessSnapshotReader noProcesses();

// A candidate thread named and titled `id`, found through `sources`.
CodexCandidate candidate(std::string id, std::set<std::string> sources, std::optional<Date> updatedAt);

// Rollout records.
namespace rollout {
std::string turnStarted();
std::string functionCall(const std::string& callID, const std::string& name = "shell");
std::string taskComplete();
} // namespace rollout

} // namespace brindleaf::testing
