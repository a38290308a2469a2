// A FIFO (or any file that is not a regular one) where SQLite would open the
// database or a file beside it: the reader refuses at once instead of
// blocking, and reads again once the real file is back.
#include "core/SQLiteReader.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <stdexcept>

using namespace brindleaf;
using brindleaf::testing::TempDir;

namespace {

void makeDatabase(const std::filesystem::path& path, const char* journalMode) {
    sqlite3* db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) throw std::runtime_error("open failed");
    const std::string sql =
        std::string("pragma journal_mode=") + journalMode + "; create table t(x); insert into t values(1), (2);";
    const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    if (code != SQLITE_OK) throw std::runtime_error("create failed");
}

void makeFIFO(const std::filesystem::path& path) {
    std::filesystem::remove(path);
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
}

// Runs the query on another thread. Should it block in opening `fifo`, a
// writer opens the FIFO after a while to set the reader free, and the test fails.
std::string outcome(const SQLiteReader& reader, const std::filesystem::path& fifo) {
    auto result = std::async(std::launch::async, [&]() -> std::string {
        try {
            return std::to_string(reader.query("select x from t").size()) + " rows";
        } catch (const SQLiteReaderError& error) {
            return error.what();
        }
    });
    if (result.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
        ADD_FAILURE() << "the query blocked on " << fifo;
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
    }
    return result.get();
}

} // namespace

TEST(SQLiteReaderNonRegularFiles, AFifoInPlaceOfTheDatabaseOrACompanionIsRefusedAtOnce) {
    struct Case {
        const char* suffix;
        const char* journalMode;
    };
    for (const Case& c : {Case{"", "wal"}, Case{"-wal", "wal"}, Case{"-shm", "wal"}, Case{"-journal", "delete"}}) {
        TempDir dir;
        const auto database = dir / "state_5.sqlite";
        makeDatabase(database, c.journalMode);
        const std::filesystem::path fifo = database.string() + c.suffix;
        makeFIFO(fifo);
        const SQLiteReader reader(database.string());

        EXPECT_EQ(outcome(reader, fifo), "sqlite cannot open: " + fifo.string() + " is not a regular file") << c.suffix;
        // The real file back (a companion simply gone): the next query reads.
        std::filesystem::remove(fifo);
        if (*c.suffix == '\0') makeDatabase(database, c.journalMode);
        EXPECT_EQ(outcome(reader, fifo), "2 rows") << c.suffix;
    }
}

TEST(SQLiteReaderNonRegularFiles, ALinkToADatabaseIsReadAndALinkToAFifoIsNot) {
    TempDir dir;
    makeDatabase(dir / "real.sqlite", "delete");
    std::filesystem::create_symlink(dir / "real.sqlite", dir / "linked.sqlite");
    EXPECT_EQ(outcome(SQLiteReader((dir / "linked.sqlite").string()), dir / "real.sqlite"), "2 rows");

    makeFIFO(dir / "pipe");
    std::filesystem::create_symlink(dir / "pipe", dir / "piped.sqlite");
    EXPECT_EQ(outcome(SQLiteReader((dir / "piped.sqlite").string()), dir / "pipe"),
              "sqlite cannot open: " + (dir / "piped.sqlite").string() + " is not a regular file");
}
