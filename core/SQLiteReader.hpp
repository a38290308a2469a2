#pragma once

#include "core/SQLiteReaderError.hpp"

#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace brindleaf {

// Read-only access to another program's SQLite database: each statement opens
// the file read-only, returns every row as a dictionary of texts (NULL becomes
// the empty text) and closes it again. Never writes, keeps no connection.
// Every failure raises SQLiteReaderError.
class SQLiteReader {
public:
    using Row = std::unordered_map<std::string, std::string>;
    using Rows = std::vector<Row>;

    static constexpr int readOnlyFlags = 0x10001;  // SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX
    static constexpr int immutableFlags = 0x10041; // the same | SQLITE_OPEN_URI

    explicit SQLiteReader(std::string path) : path_(std::move(path)) {}

    const std::string& path() const { return path_; }

    // Runs the first statement of `sql` against the reader's path; when the
    // ordinary open cannot open the file and no "-wal" file is beside it, the
    // statement is retried once through the immutable URI. A database, or a
    // "-wal", "-shm" or "-journal" file beside it, that is a FIFO, a socket
    // or a device raises cannotOpen before anything is opened: opening it
    // could block for good.
    Rows query(const std::string& sql) const;

    // The column names of a table ("pragma table_info(TABLE)"); a missing
    // table gives the empty set. The table name is inserted unquoted.
    std::set<std::string> columnNames(const std::string& table) const;
    std::set<std::string> columns(const std::string& table) const { return columnNames(table); }

    // The index names of a table ("pragma index_list(TABLE)").
    std::set<std::string> indexNames(const std::string& table) const;

    // A column's text in a row, or null when the row has no such column.
    static const std::string* columnValue(const Row& row, const std::string& column) {
        auto found = row.find(column);
        return found == row.end() ? nullptr : &found->second;
    }
    // A column's text when the row has it and it is not empty (NULL reads as empty).
    static std::optional<std::string> nonEmptyColumn(const Row& row, const std::string& column) {
        const std::string* text = columnValue(row, column);
        if (!text || text->empty()) return std::nullopt;
        return *text;
    }

    // One open, prepare, step and close cycle.
    static Rows execute(const std::string& sql, const std::string& fileName, int flags);

    // "file:" + the percent-encoded path + "?immutable=1"; absent when the
    // path cannot be encoded.
    static std::optional<std::string> immutableURI(const std::string& path);

private:
    std::string path_;
};

} // namespace brindleaf
