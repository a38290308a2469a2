#include "core/SQLiteReader.hpp"
#include "core/FileStat.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <stdexcept>

using namespace brindleaf;
using brindleaf::testing::readFile;
using brindleaf::testing::TempDir;
using brindleaf::testing::writeFile;

namespace {

// A read-write connection the test drives, like the agent that owns the database.
class Writer {
public:
    explicit Writer(const std::filesystem::path& path) {
        if (sqlite3_open(path.c_str(), &db_) != SQLITE_OK) throw std::runtime_error("open failed");
    }
    ~Writer() { sqlite3_close(db_); }
    void exec(const std::string& sql) {
        char* error = nullptr;
        if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
            std::string message = error ? error : "?";
            sqlite3_free(error);
            throw std::runtime_error(message + " in " + sql);
        }
    }

private:
    sqlite3* db_ = nullptr;
};

std::string errorText(const std::function<void()>& action) {
    try {
        action();
    } catch (const SQLiteReaderError& error) {
        return error.what();
    }
    return "(no error)";
}

SQLiteReaderError::Kind errorKind(const std::function<void()>& action) {
    try {
        action();
    } catch (const SQLiteReaderError& error) {
        return error.kind();
    }
    throw std::runtime_error("no error raised");
}

} // namespace

TEST(SQLiteReaderTests, returnsRowsAsTextDictionaries) {
    TempDir dir;
    auto path = dir / "state.sqlite";
    {
        Writer writer(path);
        writer.exec("create table threads(id text, title text, updated_at integer, score real, blob_col blob)");
        writer.exec("insert into threads values('a', 'First', 1700000000, 1.5, x'68690068')");
        writer.exec("insert into threads values('b', NULL, NULL, NULL, NULL)");
        writer.exec("create index threads_updated on threads(updated_at)");
    }
    SQLiteReader reader(path.string());
    auto rows = reader.query("select * from threads order by id");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].at("id"), "a");
    EXPECT_EQ(rows[0].at("title"), "First");
    EXPECT_EQ(rows[0].at("updated_at"), "1700000000");
    EXPECT_EQ(rows[0].at("score"), "1.5");
    EXPECT_EQ(rows[0].at("blob_col"), "hi"); // up to the first NUL byte
    // NULL is the empty text, never a missing key.
    EXPECT_EQ(rows[1].size(), 5u);
    EXPECT_EQ(rows[1].at("title"), "");
    EXPECT_EQ(rows[1].at("updated_at"), "");

    // Same column name twice: the later column wins.
    auto duplicate = reader.query("select 'first' as v, 'second' as v");
    ASSERT_EQ(duplicate.size(), 1u);
    EXPECT_EQ(duplicate[0].size(), 1u);
    EXPECT_EQ(duplicate[0].at("v"), "second");

    // Invalid UTF-8 is repaired.
    auto repaired = reader.query("select cast(x'61ff62' as text) as t");
    EXPECT_EQ(repaired[0].at("t"), "a\xEF\xBF\xBD" "b");

    EXPECT_TRUE(reader.query("select * from threads where id = 'zzz'").empty());
    EXPECT_EQ(reader.columnNames("threads"),
              (std::set<std::string>{"id", "title", "updated_at", "score", "blob_col"}));
    EXPECT_EQ(reader.indexNames("threads"), (std::set<std::string>{"threads_updated"}));
    EXPECT_TRUE(reader.columnNames("no_such_table").empty());
    EXPECT_TRUE(reader.indexNames("no_such_table").empty());
    // Only the first statement runs.
    auto first = reader.query("select 1 as one; select 2 as two");
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].at("one"), "1");
}

TEST(SQLiteReaderTests, neverChangesTheDatabase) {
    TempDir dir;
    auto path = dir / "state.sqlite";
    {
        Writer writer(path);
        writer.exec("create table t(x)");
        for (int i = 0; i < 50; ++i) writer.exec("insert into t values(" + std::to_string(i) + ")");
    }
    brindleaf::testing::setFileTime(path, 1700000000.5);
    const std::string before = readFile(path);
    const auto statBefore = FileStat::info(path.string());

    SQLiteReader reader(path.string());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(reader.query("select x from t").size(), 50u);
    reader.columnNames("t");
    // A writing statement is refused by the read-only connection.
    EXPECT_EQ(errorKind([&] { reader.query("insert into t values(99)"); }), SQLiteReaderError::Kind::stepFailed);
    EXPECT_EQ(errorText([&] { reader.query("delete from t"); }),
              "sqlite step failed: attempt to write a readonly database");

    EXPECT_EQ(readFile(path), before);
    EXPECT_EQ(FileStat::info(path.string()), statBefore);
    EXPECT_EQ(reader.query("select count(*) as n from t")[0].at("n"), "50");
}

TEST(SQLiteReaderTests, readsAWalDatabaseHeldOpenByItsWriterWithoutChangingIt) {
    TempDir dir;
    auto path = dir / "state_5.sqlite";
    Writer writer(path);
    writer.exec("pragma journal_mode=wal");
    writer.exec("pragma wal_autocheckpoint=0");
    writer.exec("create table threads(id text primary key, title text)");
    for (int i = 0; i < 20; ++i)
        writer.exec("insert into threads values('t" + std::to_string(i) + "', 'title " + std::to_string(i) + "')");
    const auto wal = dir / "state_5.sqlite-wal";
    ASSERT_TRUE(std::filesystem::exists(wal));
    ASSERT_GT(std::filesystem::file_size(wal), std::filesystem::file_size(path)); // the rows live in the WAL

    const std::string mainBefore = readFile(path);
    const std::string walBefore = readFile(wal);
    const auto mainStat = FileStat::info(path.string());
    const auto walStat = FileStat::info(wal.string());

    SQLiteReader reader(path.string());
    auto rows = reader.query("select id, title from threads order by id");
    ASSERT_EQ(rows.size(), 20u);
    EXPECT_EQ(rows[0].at("id"), "t0");
    EXPECT_EQ(rows[0].at("title"), "title 0");
    EXPECT_EQ(reader.columnNames("threads"), (std::set<std::string>{"id", "title"}));

    // The writer goes on; the next read sees the new row.
    writer.exec("insert into threads values('t99', 'late')");
    EXPECT_EQ(reader.query("select title from threads where id = 't99'").at(0).at("title"), "late");

    EXPECT_EQ(readFile(path), mainBefore);
    EXPECT_EQ(FileStat::info(path.string()), mainStat);
    // The WAL grew only by the writer's own insert, never by the reader.
    EXPECT_EQ(readFile(wal).substr(0, walBefore.size()), walBefore);
    EXPECT_NE(FileStat::info(wal.string()), walStat);
}

TEST(SQLiteReaderTests, retriesThroughTheImmutableURIOnlyWithoutAWalFile) {
    TempDir dir;
    auto path = dir / "logs 2#?%.sqlite";
    {
        Writer writer(path);
        writer.exec("pragma journal_mode=wal");
        writer.exec("create table logs(id integer, body text)");
        writer.exec("insert into logs values(1, 'hello')");
    } // the last close checkpoints and removes the WAL
    const auto walPath = path.string() + "-wal";
    ASSERT_FALSE(std::filesystem::exists(walPath));
    // The ordinary open cannot open the WAL (a link to nowhere: no "-wal" file
    // exists), so it fails with the cannot-open code; the immutable URI reads.
    std::filesystem::create_symlink(dir / "missing-folder" / "wal", walPath);
    const std::string before = readFile(path);
    EXPECT_EQ(errorKind([&] { SQLiteReader::execute("select * from logs", path.string(), SQLiteReader::readOnlyFlags); }),
              SQLiteReaderError::Kind::cannotOpen);
    SQLiteReader reader(path.string());
    auto rows = reader.query("select body from logs");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("body"), "hello");
    EXPECT_EQ(readFile(path), before);

    // With a "-wal" file present the cannot-open error is raised unchanged.
    std::filesystem::remove(walPath);
    std::filesystem::create_directory(walPath);
    EXPECT_EQ(errorText([&] { reader.query("select body from logs"); }), "sqlite cannot open: unable to open database file");
}

TEST(SQLiteReaderTests, reportsEveryFailureWithItsExactText) {
    TempDir dir;
    auto garbage = dir.write("garbage.sqlite", std::string(4096, 'g'));
    EXPECT_EQ(errorText([&] { SQLiteReader(garbage.string()).query("select * from t"); }),
              "sqlite prepare failed: file is not a database");

    EXPECT_EQ(errorText([&] { SQLiteReader((dir / "missing.sqlite").string()).query("select 1"); }),
              "sqlite cannot open: unable to open database file");
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.sqlite")); // nothing created

    auto path = dir / "ok.sqlite";
    {
        Writer writer(path);
        writer.exec("create table t(x integer)");
        writer.exec("insert into t values(1), (2), (-9223372036854775808), (4)");
    }
    SQLiteReader reader(path.string());
    EXPECT_EQ(errorText([&] { reader.query(""); }), "sqlite prepare failed: not an error");
    EXPECT_EQ(errorText([&] { reader.query("select nope from t"); }), "sqlite prepare failed: no such column: nope");
    // A step that fails after rows were read is an error, not a short result.
    EXPECT_EQ(errorText([&] { reader.query("select abs(x) as a from t order by rowid"); }),
              "sqlite step failed: integer overflow");

    EXPECT_EQ(errorText([&] { SQLiteReader::execute("select 1", path.string(), 0); }).rfind("sqlite open failed: ", 0), 0u);

    SQLiteReaderError error(SQLiteReaderError::Kind::openFailed, "unknown error");
    EXPECT_EQ(error.description(), "sqlite open failed: unknown error");
    EXPECT_EQ(error.message(), "unknown error");
}

TEST(SQLiteReaderTests, immutableURIEncodesReservedCharactersAndKeepsSlashes) {
    EXPECT_EQ(SQLiteReader::immutableURI("/Users/ann/.codex/state_5.sqlite"),
              "file:/Users/ann/.codex/state_5.sqlite?immutable=1");
    EXPECT_EQ(SQLiteReader::immutableURI("/a b/c?d#e%f.db"), "file:/a%20b/c%3Fd%23e%25f.db?immutable=1");
    EXPECT_EQ(SQLiteReader::immutableURI("/x/caf\xC3\xA9"), "file:/x/caf%C3%A9?immutable=1");
    EXPECT_EQ(SQLiteReader::immutableURI("/x/a+b=c&d@e"), "file:/x/a+b=c&d@e?immutable=1");
    EXPECT_FALSE(SQLiteReader::immutableURI(std::string("/x/a\0b", 6)));
}
