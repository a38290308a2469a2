#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace brindleaf::bench {

// A database the generator writes, in write-ahead-log mode as the agents keep
// theirs. Closing leaves the rows of the last transaction in the "-wal" file
// (no checkpoint on close), as a running agent does.
class SQLiteWriter {
public:
    explicit SQLiteWriter(const std::filesystem::path& path);
    ~SQLiteWriter();
    SQLiteWriter(const SQLiteWriter&) = delete;
    SQLiteWriter& operator=(const SQLiteWriter&) = delete;

    void exec(const std::string& sql);
    // Stops automatic checkpoints: what is written from now on stays in the "-wal" file.
    void keepInWriteAheadLog();

    class Statement {
    public:
        Statement(sqlite3* db, const std::string& sql);
        ~Statement();
        Statement(const Statement&) = delete;
        Statement& operator=(const Statement&) = delete;
        Statement& text(int index, const std::string& value);
        Statement& integer(int index, long long value);
        Statement& real(int index, double value);
        Statement& null(int index);
        void run();  // step and reset

    private:
        sqlite3_stmt* statement_ = nullptr;
    };
    Statement prepare(const std::string& sql) { return Statement(db_, sql); }

private:
    sqlite3* db_ = nullptr;
};

} // namespace brindleaf::bench
