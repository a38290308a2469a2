#include "core/SQLiteReader.hpp"

#include "core/TextUtils.hpp"

#include <sqlite3.h>

#include <cstring>
#include <sys/stat.h>

namespace brindleaf {

namespace {

constexpr int cannotOpenCode = SQLITE_CANTOPEN; // 14

// Closes the connection and finalizes the statement on every path.
struct Connection {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    ~Connection() {
        if (statement) sqlite3_finalize(statement);
        if (db) sqlite3_close(db);
    }
};

std::string messageOf(sqlite3* db) {
    const char* message = db ? sqlite3_errmsg(db) : nullptr;
    return message ? repairUTF8(message) : std::string("unknown error");
}

std::string decodedText(const unsigned char* text) {
    if (!text) return std::string();
    std::string_view bytes(reinterpret_cast<const char*>(text));
    if (isValidUTF8(bytes)) return std::string(bytes);
    return repairUTF8(bytes);
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

// SQLite opens the database and, to read it, the "-wal", "-shm" and "-journal"
// files beside it. Opening a FIFO, a socket or a device can block for good (a
// FIFO until some writer opens it), and the scan that asked would never
// return. stat() does not block: any such file there (after symbolic links)
// is refused before SQLite opens a thing. What is absent, and a folder (whose
// open fails at once), are left to SQLite.
void refuseNonRegularFiles(const std::string& path) {
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        const std::string name = path + suffix;
        struct stat st {};
        if (::stat(name.c_str(), &st) != 0 || S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) continue;
        throw SQLiteReaderError(SQLiteReaderError::Kind::cannotOpen, name + " is not a regular file");
    }
}

} // namespace

SQLiteReader::Rows SQLiteReader::execute(const std::string& sql, const std::string& fileName, int flags) {
    Connection connection;
    const int openCode = sqlite3_open_v2(fileName.c_str(), &connection.db, flags, nullptr);
    if (openCode != SQLITE_OK) {
        std::string message = connection.db ? messageOf(connection.db) : std::string("unknown error");
        throw SQLiteReaderError(openCode == cannotOpenCode ? SQLiteReaderError::Kind::cannotOpen
                                                           : SQLiteReaderError::Kind::openFailed,
                                std::move(message));
    }
    if (!connection.db) throw SQLiteReaderError(SQLiteReaderError::Kind::openFailed, "unknown error");

    const int prepareCode = sqlite3_prepare_v2(connection.db, sql.c_str(), -1, &connection.statement, nullptr);
    if (prepareCode != SQLITE_OK || !connection.statement) {
        const int extended = sqlite3_extended_errcode(connection.db);
        std::string message = messageOf(connection.db);
        const bool cannotOpen = (prepareCode & 0xFF) == cannotOpenCode || (extended & 0xFF) == cannotOpenCode;
        throw SQLiteReaderError(cannotOpen ? SQLiteReaderError::Kind::cannotOpen
                                           : SQLiteReaderError::Kind::prepareFailed,
                                std::move(message));
    }

    Rows rows;
    const int columnCount = sqlite3_column_count(connection.statement);
    int stepCode;
    while ((stepCode = sqlite3_step(connection.statement)) == SQLITE_ROW) {
        Row row;
        row.reserve(static_cast<std::size_t>(columnCount));
        for (int column = 0; column < columnCount; ++column) {
            const char* name = sqlite3_column_name(connection.statement, column);
            if (!name) continue;
            row.insert_or_assign(decodedText(reinterpret_cast<const unsigned char*>(name)),
                                 decodedText(sqlite3_column_text(connection.statement, column)));
        }
        rows.push_back(std::move(row));
    }
    // A failed step is an error, never a short result.
    if (stepCode != SQLITE_DONE)
        throw SQLiteReaderError(SQLiteReaderError::Kind::stepFailed, messageOf(connection.db));
    return rows;
}

SQLiteReader::Rows SQLiteReader::query(const std::string& sql) const {
    refuseNonRegularFiles(path_);
    try {
        return execute(sql, path_, readOnlyFlags);
    } catch (const SQLiteReaderError& error) {
        if (error.kind() != SQLiteReaderError::Kind::cannotOpen || fileExists(path_ + "-wal")) throw;
        auto uri = immutableURI(path_);
        if (!uri) throw;
        return execute(sql, *uri, immutableFlags);
    }
}

std::set<std::string> SQLiteReader::columnNames(const std::string& table) const {
    std::set<std::string> names;
    for (const auto& row : query("pragma table_info(" + table + ")")) {
        auto it = row.find("name");
        if (it != row.end() && !it->second.empty()) names.insert(it->second);
    }
    return names;
}

std::set<std::string> SQLiteReader::indexNames(const std::string& table) const {
    std::set<std::string> names;
    for (const auto& row : query("pragma index_list(" + table + ")")) {
        auto it = row.find("name");
        if (it != row.end() && !it->second.empty()) names.insert(it->second);
    }
    return names;
}

std::optional<std::string> SQLiteReader::immutableURI(const std::string& path) {
    if (path.find('\0') != std::string::npos) return std::nullopt;
    static constexpr char hex[] = "0123456789ABCDEF";
    static constexpr std::string_view allowedPunctuation = "!$&'()*+,-./:;=@_~";
    std::string result = "file:";
    result.reserve(path.size() + 20);
    for (unsigned char c : path) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                             (c != 0 && allowedPunctuation.find(static_cast<char>(c)) != std::string_view::npos);
        if (allowed) {
            result += static_cast<char>(c);
        } else {
            result += '%';
            result += hex[c >> 4];
            result += hex[c & 15];
        }
    }
    result += "?immutable=1";
    return result;
}

} // namespace brindleaf
