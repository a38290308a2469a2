#include "bench/generator/SQLiteWriter.hpp"

#include <sqlite3.h>
#include <stdexcept>

namespace brindleaf::bench {

namespace {
[[noreturn]] void fail(sqlite3* db, const std::string& what) {
    throw std::runtime_error(what + ": " + (db ? sqlite3_errmsg(db) : "no database"));
}
} // namespace

SQLiteWriter::SQLiteWriter(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        std::error_code ignored;
        std::filesystem::remove(path.string() + suffix, ignored);
    }
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        fail(db_, "open " + path.string());
    }
    int off = 0;
    sqlite3_db_config(db_, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, &off);
    exec("pragma journal_mode = wal");
    exec("pragma synchronous = off");
}

SQLiteWriter::~SQLiteWriter() { sqlite3_close_v2(db_); }

void SQLiteWriter::exec(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        std::string text = message ? message : "error";
        sqlite3_free(message);
        throw std::runtime_error("sqlite: " + text + " in: " + sql.substr(0, 200));
    }
}

void SQLiteWriter::keepInWriteAheadLog() {
    exec("pragma wal_checkpoint(truncate)");
    exec("pragma wal_autocheckpoint = 0");
}

SQLiteWriter::Statement::Statement(sqlite3* db, const std::string& sql) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr) != SQLITE_OK) fail(db, "prepare");
}

SQLiteWriter::Statement::~Statement() { sqlite3_finalize(statement_); }

SQLiteWriter::Statement& SQLiteWriter::Statement::text(int index, const std::string& value) {
    sqlite3_bind_text(statement_, index, value.data(), int(value.size()), SQLITE_TRANSIENT);
    return *this;
}
SQLiteWriter::Statement& SQLiteWriter::Statement::integer(int index, long long value) {
    sqlite3_bind_int64(statement_, index, value);
    return *this;
}
SQLiteWriter::Statement& SQLiteWriter::Statement::real(int index, double value) {
    sqlite3_bind_double(statement_, index, value);
    return *this;
}
SQLiteWriter::Statement& SQLiteWriter::Statement::null(int index) {
    sqlite3_bind_null(statement_, index);
    return *this;
}
void SQLiteWriter::Statement::run() {
    int rc = sqlite3_step(statement_);
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
    if (rc != SQLITE_DONE && rc != SQLITE_ROW) fail(sqlite3_db_handle(statement_), "step");
}

} // namespace brindleaf::bench
