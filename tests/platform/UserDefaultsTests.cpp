#include "platform/AtomicFileSpaceLimit.hpp"
#include "platform/UserDefaults.hpp"
#include "tests/support/CapturedLog.hpp"
#include "tests/support/ReadOnlyFolder.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace brindleaf;
using brindleaf::testing::CapturedLog;
using brindleaf::testing::TempDir;

namespace {

ino_t inodeOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return info.st_ino;
}

// Sets an environment variable for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace

TEST(UserDefaults, EveryValueTypeSurvivesTheFileUnchanged) {
    TempDir dir;
    auto writer = UserDefaults::open("suite.one", dir.path());
    ASSERT_TRUE(writer);
    const std::string binary("\x00\x01\xff\xfe\"\n", 6);
    DefaultsValue::Dictionary nested{{"list", DefaultsValue::strings({"a", "b"})}, {"n", DefaultsValue(7)}};
    // Dictionaries that look like the file's own type tags must come back as dictionaries.
    DefaultsValue::Dictionary lookalike{{"$data", DefaultsValue("not bytes")}};
    DefaultsValue::Dictionary lookalikeDict{{"$dict", DefaultsValue(DefaultsValue::Dictionary{})}};

    ASSERT_TRUE(writer->set("bool", true));
    ASSERT_TRUE(writer->set("int", DefaultsValue(std::int64_t{-9007199254740993})));
    ASSERT_TRUE(writer->set("wholeDouble", 2.0));
    ASSERT_TRUE(writer->set("double", 2.9));
    ASSERT_TRUE(writer->set("infinity", std::numeric_limits<double>::infinity()));
    ASSERT_TRUE(writer->set("text", "grüße\ttab"));
    ASSERT_TRUE(writer->set("mixed", DefaultsValue(DefaultsValue::Array{DefaultsValue(1), DefaultsValue("x")})));
    ASSERT_TRUE(writer->set("nested", DefaultsValue(nested)));
    ASSERT_TRUE(writer->set("data", DefaultsValue::data(binary)));
    ASSERT_TRUE(writer->set("emptyData", DefaultsValue::data("")));
    ASSERT_TRUE(writer->set("lookalike", DefaultsValue(lookalike)));
    ASSERT_TRUE(writer->set("lookalikeDict", DefaultsValue(lookalikeDict)));

    auto reader = UserDefaults::open("suite.one", dir.path());
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->boolValue("bool"), true);
    EXPECT_EQ(reader->integer("int"), -9007199254740993);
    EXPECT_EQ(reader->doubleValue("wholeDouble"), 2.0);
    EXPECT_FALSE(reader->integer("wholeDouble")) << "a float must not come back as an integer";
    EXPECT_FALSE(reader->doubleValue("int")) << "an integer must not come back as a float";
    EXPECT_EQ(reader->doubleValue("double"), 2.9);
    EXPECT_EQ(reader->doubleValue("infinity"), std::numeric_limits<double>::infinity());
    EXPECT_EQ(reader->string("text"), "grüße\ttab");
    EXPECT_EQ(reader->object("mixed"), DefaultsValue(DefaultsValue::Array{DefaultsValue(1), DefaultsValue("x")}));
    EXPECT_FALSE(reader->stringArray("mixed")) << "an array with a number is not a text array";
    EXPECT_EQ(reader->dictionary("nested"), nested);
    EXPECT_EQ(reader->data("data"), binary);
    EXPECT_FALSE(reader->string("data"));
    EXPECT_EQ(reader->data("emptyData"), "");
    EXPECT_EQ(reader->dictionary("lookalike"), lookalike);
    EXPECT_EQ(reader->dictionary("lookalikeDict"), lookalikeDict);
    EXPECT_FALSE(reader->object("missing"));
    EXPECT_EQ(reader->filePath(), dir.path() / "suite.one.json");
}

TEST(UserDefaults, HandWrittenFilesReadWithTheirJSONTypes) {
    TempDir dir;
    dir.write("hand.json", R"({"big": 18446744073709551615, "small": 42, "f": 1.5, "nothing": null,
                               "flag": false, "raw": {"$data": "aGVsbG8="}, "bad": {"$data": "!!"}})");
    auto suite = UserDefaults::open("hand", dir.path());
    ASSERT_TRUE(suite);
    EXPECT_EQ(suite->integer("small"), 42);
    EXPECT_FALSE(suite->integer("big")) << "beyond the 64-bit range a number is a float";
    EXPECT_EQ(suite->doubleValue("big"), 18446744073709551615.0);
    EXPECT_EQ(suite->boolValue("flag"), false);
    EXPECT_EQ(suite->data("raw"), "hello");
    EXPECT_FALSE(suite->object("nothing"));
    EXPECT_FALSE(suite->object("bad"));

    dir.write("broken.json", "{ not json");
    auto broken = UserDefaults::open("broken", dir.path());
    ASSERT_TRUE(broken);
    EXPECT_TRUE(broken->dictionaryRepresentation().empty());
    EXPECT_TRUE(broken->set("k", 1));
    EXPECT_EQ(UserDefaults::open("broken", dir.path())->integer("k"), 1);
}

TEST(UserDefaults, InstancesSeeAndKeepEachOthersChanges) {
    TempDir dir;
    auto first = UserDefaults::open("shared", dir.path());
    auto second = UserDefaults::open("shared", dir.path());
    ASSERT_TRUE(first && second);
    ASSERT_TRUE(first->set("a", 1));
    EXPECT_EQ(second->integer("a"), 1);
    ASSERT_TRUE(second->set("b", 2));
    ASSERT_TRUE(first->set("c", 3));
    auto fresh = UserDefaults::open("shared", dir.path());
    EXPECT_EQ(fresh->integer("a"), 1);
    EXPECT_EQ(fresh->integer("b"), 2);
    EXPECT_EQ(fresh->integer("c"), 3);

    ASSERT_TRUE(second->remove("a"));
    EXPECT_FALSE(first->object("a"));
    EXPECT_EQ(first->integer("b"), 2);

    // Another process's hand edit is picked up by the next read.
    brindleaf::testing::writeFile(dir / "shared.json", R"({"b": 20})");
    EXPECT_EQ(first->integer("b"), 20);
    EXPECT_FALSE(first->object("c"));
}

TEST(UserDefaults, WritersInSeparateProcessesLoseNoChange) {
    TempDir dir;
    ASSERT_TRUE(UserDefaults::open("race", dir.path()));
    constexpr int processes = 4;
    constexpr int keysEach = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto suite = UserDefaults::open("race", dir.path());
            if (!suite) ::_exit(1);
            // A change that finds the lock busy longer than the calling
            // thread waits is written by the background retry; the child
            // ends as the program does, writing what is left.
            for (int k = 0; k < keysEach; ++k) suite->set("p" + std::to_string(p) + "k" + std::to_string(k), k);
            ::_exit(suite->saveUnsavedChangesBeforeExit() ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto values = UserDefaults::open("race", dir.path())->dictionaryRepresentation();
    EXPECT_EQ(values.size(), static_cast<std::size_t>(processes * keysEach));
    for (int p = 0; p < processes; ++p) {
        for (int k = 0; k < keysEach; ++k) {
            auto it = values.find("p" + std::to_string(p) + "k" + std::to_string(k));
            ASSERT_NE(it, values.end());
            EXPECT_EQ(it->second, DefaultsValue(k));
        }
    }
    // No temporary file is left behind.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".defaults.lock", "race.json"}));
}

TEST(UserDefaults, StoringAnEqualValueLeavesTheFileAlone) {
    TempDir dir;
    auto suite = UserDefaults::open("quiet", dir.path());
    ASSERT_TRUE(suite->set("list", DefaultsValue::strings({"claude", "codex"})));
    const auto inode = inodeOf(suite->filePath());
    ASSERT_NE(inode, 0u);
    ASSERT_TRUE(suite->set("list", DefaultsValue::strings({"claude", "codex"})));
    EXPECT_EQ(inodeOf(suite->filePath()), inode);
    ASSERT_TRUE(suite->set("list", DefaultsValue::strings({"codex"})));
    EXPECT_NE(inodeOf(suite->filePath()), inode);
}

TEST(UserDefaults, RemovingThePersistentDomainDeletesTheFile) {
    TempDir dir;
    auto suite = UserDefaults::open("gone", dir.path());
    ASSERT_TRUE(suite->set("k", "v"));
    ASSERT_TRUE(std::filesystem::exists(suite->filePath()));
    ASSERT_TRUE(suite->removePersistentDomain());
    EXPECT_FALSE(std::filesystem::exists(suite->filePath()));
    EXPECT_FALSE(suite->object("k"));
    EXPECT_TRUE(suite->removePersistentDomain()) << "removing an absent domain is not a failure";
    ASSERT_TRUE(suite->set("again", true));
    EXPECT_EQ(UserDefaults::open("gone", dir.path())->boolValue("again"), true);
}

TEST(UserDefaults, OpeningFailsForUnusableNamesAndFolders) {
    TempDir dir;
    auto file = dir.write("plain-file", "x");
    EXPECT_FALSE(UserDefaults::open("suite", file / "sub"));
    EXPECT_FALSE(UserDefaults::open("suite", file));
    for (const char* name : {"", ".", "..", "a/b", ".hidden"}) {
        EXPECT_FALSE(UserDefaults::open(name, dir.path())) << name;
    }
    auto created = UserDefaults::open("ok", dir / "deep/er/folder");
    ASSERT_TRUE(created);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "deep/er/folder"));

    auto memory = UserDefaults::inMemory("volatile");
    EXPECT_TRUE(memory->set("k", 1));
    EXPECT_EQ(memory->integer("k"), 1);
    EXPECT_TRUE(memory->filePath().empty());
}

TEST(UserDefaults, DefaultFolderFollowsXDGConfigHome) {
    TempDir dir;
    {
        ScopedEnvironment config("XDG_CONFIG_HOME", dir.path().c_str());
        EXPECT_EQ(UserDefaults::defaultFolder(), dir.path() / "brindleaf");
        auto suite = UserDefaults::open("named");
        ASSERT_TRUE(suite);
        EXPECT_EQ(suite->filePath(), dir.path() / "brindleaf" / "named.json");
    }
    {
        ScopedEnvironment config("XDG_CONFIG_HOME", "relative/path");
        ScopedEnvironment home("HOME", dir.path().c_str());
        EXPECT_EQ(UserDefaults::defaultFolder(), dir.path() / ".config" / "brindleaf");
    }
    {
        ScopedEnvironment config("XDG_CONFIG_HOME", nullptr);
        ScopedEnvironment home("HOME", "/somewhere");
        EXPECT_EQ(UserDefaults::defaultFolder(), std::filesystem::path("/somewhere/.config/brindleaf"));
    }
}

TEST(UserDefaults, ChangesKeepEveryValueNotUnderstoodExactlyAsItWas) {
    TempDir dir;
    const std::string deep = std::string(3000, '[') + std::string(3000, ']');
    const std::vector<std::string> kept{
        R"("nothing": null)",          R"("bad": {"$data": "!!"})",
        R"("odd": {"$double":  "x"})", R"("huge": 1e400)",
        R"("lone": "\ud800")",         R"("list": ["codex",  null])",
        R"("spaced": { "a" : 1 })",    "\"deep\": {\"a\":" + deep + "}",
    };
    std::string file = "{";
    for (const auto& member : kept) file += member + (&member == &kept.back() ? "}" : ",\n");
    dir.write("keep.json", file);

    auto suite = UserDefaults::open("keep", dir.path());
    ASSERT_TRUE(suite);
    EXPECT_FALSE(suite->object("nothing"));
    EXPECT_FALSE(suite->object("bad"));
    EXPECT_FALSE(suite->doubleValue("huge"));
    EXPECT_FALSE(suite->stringArray("list")) << "a foreign element makes it no text array";
    EXPECT_EQ(suite->dictionary("spaced"), (DefaultsValue::Dictionary{{"a", DefaultsValue(1)}}));
    EXPECT_EQ(suite->dictionaryRepresentation().count("nothing"), 0u);

    ASSERT_TRUE(suite->set("new", 1));
    ASSERT_TRUE(suite->set("spaced", DefaultsValue(DefaultsValue::Dictionary{{"a", DefaultsValue(2)}})));
    ASSERT_TRUE(suite->remove("new"));
    const std::string written = brindleaf::testing::readFile(suite->filePath());
    for (const auto& member : kept) {
        if (member.rfind("\"spaced\"", 0) == 0) continue;
        EXPECT_NE(written.find(member.substr(member.find(':') + 1)), std::string::npos) << member;
    }
    EXPECT_LE(written.size(), file.size() + 64) << "a rewrite never inflates what it keeps";
    auto reread = UserDefaults::open("keep", dir.path());
    EXPECT_EQ(reread->dictionary("spaced"), (DefaultsValue::Dictionary{{"a", DefaultsValue(2)}}));
    EXPECT_FALSE(reread->object("nothing"));
    EXPECT_TRUE(reread->object("deep"));
}

TEST(UserDefaults, NoWriteLeavesAFileTheReaderRefuses) {
    TempDir dir;
    auto suite = UserDefaults::open("bounded", dir.path());
    ASSERT_TRUE(suite->set("k", 1));
    const std::string before = brindleaf::testing::readFile(suite->filePath());

    EXPECT_FALSE(suite->set("big", std::string(17u << 20, 'x'))) << "larger than the reader's cap";
    EXPECT_FALSE(suite->hasUnsavedChanges()) << "a value the file can never hold is not kept for later";
    DefaultsValue tooDeep(1);
    for (std::size_t level = 0; level < DefaultsJSON::maximumNestingDepth; ++level)
        tooDeep = DefaultsValue(DefaultsValue::Array{tooDeep});
    EXPECT_FALSE(suite->set("deep", tooDeep));
    EXPECT_EQ(brindleaf::testing::readFile(suite->filePath()), before);

    DefaultsValue deepest = tooDeep.asArray()->front();
    ASSERT_TRUE(suite->set("deep", deepest));
    EXPECT_EQ(UserDefaults::open("bounded", dir.path())->object("deep"), deepest);
}

TEST(UserDefaults, AFileThatIsNoJSONObjectIsKeptAsideBeforeTheFirstChange) {
    TempDir dir;
    dir.write("damaged.json", "{ \"k\": 1, oops");
    auto suite = UserDefaults::open("damaged", dir.path());
    EXPECT_TRUE(suite->dictionaryRepresentation().empty());
    ASSERT_TRUE(suite->set("k", 2));
    EXPECT_EQ(brindleaf::testing::readFile(dir / "damaged.json.unreadable"), "{ \"k\": 1, oops");
    EXPECT_EQ(UserDefaults::open("damaged", dir.path())->integer("k"), 2);
    ASSERT_TRUE(suite->set("k", 3));
    EXPECT_EQ(brindleaf::testing::readFile(dir / "damaged.json.unreadable"), "{ \"k\": 1, oops");
}

TEST(UserDefaults, ChangesAFullDiskRefusedHoldThroughRereadsAndAreWrittenWithTheNextWrite) {
    TempDir dir;
    AtomicFileSpaceLimit disk(dir.path(), 1 << 20);
    auto suite = UserDefaults::open("full", dir.path(), disk.writeFunction());
    ASSERT_TRUE(suite->set("statusIconStyle.v1", "pulse"));
    ASSERT_TRUE(suite->set("cloudSyncEnabled", true));
    ASSERT_TRUE(suite->set("gone", 1));
    const std::string before = brindleaf::testing::readFile(suite->filePath());
    disk.fillUp();

    EXPECT_FALSE(suite->set("statusIconStyle.v1", "cloud"));
    EXPECT_FALSE(suite->set("cloudSyncEnabled", false));
    EXPECT_FALSE(suite->remove("gone"));
    EXPECT_TRUE(suite->hasUnsavedChanges());
    EXPECT_EQ(brindleaf::testing::readFile(suite->filePath()), before);
    // Another writer changes the file: reading it again keeps what is unsaved here.
    ASSERT_TRUE(UserDefaults::open("full", dir.path())->set("other", 7));
    EXPECT_EQ(suite->integer("other"), 7);
    EXPECT_EQ(suite->string("statusIconStyle.v1"), "cloud");
    EXPECT_EQ(suite->boolValue("cloudSyncEnabled"), false);
    EXPECT_FALSE(suite->object("gone"));
    EXPECT_EQ(suite->dictionaryRepresentation().count("gone"), 0u);
    EXPECT_FALSE(suite->saveUnsavedChanges()) << "the disk is still full";

    // Room again: the next write takes every unsaved change along.
    disk.setCapacity(1 << 20);
    ASSERT_TRUE(suite->set("later", 1));
    EXPECT_FALSE(suite->hasUnsavedChanges());
    auto reread = UserDefaults::open("full", dir.path());
    EXPECT_EQ(reread->string("statusIconStyle.v1"), "cloud");
    EXPECT_EQ(reread->boolValue("cloudSyncEnabled"), false);
    EXPECT_FALSE(reread->object("gone"));
    EXPECT_EQ(reread->integer("other"), 7);
    EXPECT_EQ(reread->integer("later"), 1);
}

TEST(UserDefaults, OpeningRemovesTheSuitesAbandonedTemporaryFiles) {
    TempDir dir;
    const double hourAgo =
        double(std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
                   .count()) -
        3600;
    const std::vector<std::string> abandoned{".kept.json.tmp-a1B2c3", ".kept.json.unreadable.tmp-Zz9yX8"};
    const std::vector<std::string> others{".other.json.tmp-a1B2c3", ".kept.json.tmp-fresh1", "kept.json"};
    for (const auto& name : abandoned) brindleaf::testing::setFileTime(dir.write(name, "{}"), hourAgo);
    for (const auto& name : others) dir.write(name, "{}");
    brindleaf::testing::setFileTime(dir / ".other.json.tmp-a1B2c3", hourAgo);

    ASSERT_TRUE(UserDefaults::open("kept", dir.path()));
    for (const auto& name : abandoned) EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
    for (const auto& name : others) EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
}

// A read-only settings folder without a lock file: the suite still reads its
// file, and changes are kept unsaved (as on a full disk) until the folder takes
// the lock file and the suite's file again. The folder is made read-only by
// its mode, and for a root test run also by dropping the thread's capability
// to override file permissions.
TEST(UserDefaults, AReadOnlyFolderWithoutLockFileIsReadAndItsChangesKeptUnsaved) {
    CapturedLog log;
    TempDir dir;
    const std::string stored = "{\"cloudSyncEnabled\":false,\"enabledProviderIDs\":[\"claude\",\"hermes\"]}\n";
    dir.write("locked.json", stored);
    std::optional<brindleaf::testing::ReadOnlyFolder> readOnly(std::in_place, dir.path());
    ASSERT_TRUE(readOnly->holds()) << "the folder could not be made read-only";

    auto suite = UserDefaults::open("locked", dir.path());
    ASSERT_TRUE(suite) << "a readable file is read without the lock";
    EXPECT_EQ(suite->boolValue("cloudSyncEnabled"), false);
    EXPECT_EQ(suite->stringArray("enabledProviderIDs"), (std::vector<std::string>{"claude", "hermes"}));
    EXPECT_FALSE(suite->set("statusIconStyle.v1", "cloud"));
    EXPECT_TRUE(suite->hasUnsavedChanges());
    EXPECT_EQ(suite->string("statusIconStyle.v1"), "cloud");
    EXPECT_FALSE(suite->saveUnsavedChanges());
    EXPECT_EQ(log->messages(),
              (std::vector<std::string>{
                  "defaults.lock.failed suite=locked error=Permission denied mode=read-only",
                  "defaults.write.failed suite=locked error=Permission denied unsaved=statusIconStyle.v1",
              }))
        << "a retry that fails the same way is not logged again";
    EXPECT_EQ(brindleaf::testing::readFile(dir / "locked.json"), stored);
    EXPECT_FALSE(std::filesystem::exists(dir / ".defaults.lock"));

    readOnly.reset();
    EXPECT_TRUE(suite->saveUnsavedChanges()) << "the folder takes the lock file again";
    auto reread = UserDefaults::open("locked", dir.path());
    EXPECT_EQ(reread->string("statusIconStyle.v1"), "cloud");
    EXPECT_EQ(reread->boolValue("cloudSyncEnabled"), false);
}

namespace {

// Whether another process takes the folder's lock, trying without blocking
// for five seconds: nothing in this process holds it any more.
bool anotherProcessTakesTheLock(const std::filesystem::path& folder) {
    const std::string path = (folder / ".defaults.lock").string();
    const pid_t pid = ::fork();
    if (pid < 0) return false;
    if (pid == 0) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) ::_exit(2);
        const struct timespec pause { 0, 10'000'000 };
        for (int attempt = 0; attempt < 500; ++attempt) {
            if (::flock(fd, LOCK_EX | LOCK_NB) == 0) ::_exit(0);
            ::nanosleep(&pause, nullptr);
        }
        ::_exit(1);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

// A lock file that opens for reading only (its mode, and for a root test run
// the thread's capability to override it dropped) still takes the lock; a
// change that succeeds or fails and the suite's removal leave it to other
// processes, whether the suite opened that lock file when it was opened or
// only now (it was opened in a read-only folder without one).
TEST(UserDefaults, ALockFileReadableOnlyLocksAndIsLeftToOtherProcessesOnEveryPath) {
    enum class Step { change, changeOverAnUnreadableFile, removal };
    struct Case {
        const char* name;
        bool openedWithoutLockFile;
        Step step;
        bool succeeds;
    } cases[] = {
        {"a change", false, Step::change, true},
        {"a change whose file cannot be read again", false, Step::changeOverAnUnreadableFile, false},
        {"the removal", false, Step::removal, true},
        {"a change, first lock", true, Step::change, true},
        {"a change whose file cannot be read again, first lock", true, Step::changeOverAnUnreadableFile, false},
        {"the removal, first lock", true, Step::removal, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        dir.write("shared.json", "{\"k\": 1}");
        std::shared_ptr<UserDefaults> suite;
        if (c.openedWithoutLockFile) {
            brindleaf::testing::ReadOnlyFolder readOnlyFolder(dir.path());
            ASSERT_TRUE(readOnlyFolder.holds()) << "the folder could not be made read-only";
            suite = UserDefaults::open("shared", dir.path());
        }
        // Another writer made the lock file; here it opens for reading only.
        dir.write(".defaults.lock", "");
        brindleaf::testing::ReadOnlyFile readOnly(dir / ".defaults.lock");
        ASSERT_TRUE(readOnly.holds()) << "the lock file could not be made read-only";
        if (!suite) suite = UserDefaults::open("shared", dir.path());
        ASSERT_TRUE(suite);
        ASSERT_TRUE(anotherProcessTakesTheLock(dir.path())) << "after opening";

        bool done = false;
        switch (c.step) {
        case Step::change:
            done = suite->set("k", 2);
            break;
        case Step::changeOverAnUnreadableFile:
            std::filesystem::remove(suite->filePath());
            ASSERT_EQ(::mkfifo(suite->filePath().c_str(), 0600), 0);
            done = suite->set("k", 2);
            std::filesystem::remove(suite->filePath());
            break;
        case Step::removal:
            done = suite->removePersistentDomain();
            break;
        }
        EXPECT_EQ(done, c.succeeds);
        EXPECT_TRUE(anotherProcessTakesTheLock(dir.path()));
        if (c.step == Step::removal) {
            EXPECT_FALSE(std::filesystem::exists(suite->filePath()));
        }
        if (c.step == Step::change) {
            EXPECT_EQ(UserDefaults::open("shared", dir.path())->integer("k"), 2);
        }
    }
}

// flock refused, as on a network home without lock support: the failure is
// logged once over every retry and change, again only when it fails otherwise
// or once the lock was taken in between.
TEST(UserDefaults, ALockThatKeepsFailingIsLoggedOnceUntilItChanges) {
    CapturedLog log;
    auto refusal = std::make_shared<std::atomic<int>>(ENOLCK);
    const UserDefaults::LockFunction lock = [refusal](int fd, int operation) {
        if (const int error = refusal->load()) {
            errno = error;
            return -1;
        }
        return ::flock(fd, operation);
    };
    TempDir dir;
    auto suite = UserDefaults::open("nolock", dir.path(), {}, lock);
    ASSERT_TRUE(suite);
    EXPECT_FALSE(suite->set("a", 1));
    for (int retry = 0; retry < 50; ++retry) EXPECT_FALSE(suite->saveUnsavedChanges());
    EXPECT_FALSE(suite->set("b", 2));
    refusal->store(EIO);
    for (int retry = 0; retry < 5; ++retry) EXPECT_FALSE(suite->saveUnsavedChanges());
    refusal->store(0);
    EXPECT_TRUE(suite->saveUnsavedChanges());
    refusal->store(ENOLCK);
    EXPECT_FALSE(suite->set("c", 3));
    for (int retry = 0; retry < 5; ++retry) EXPECT_FALSE(suite->saveUnsavedChanges());
    EXPECT_FALSE(suite->removePersistentDomain());

    EXPECT_EQ(log->messages(), (std::vector<std::string>{
                                   "defaults.lock.failed suite=nolock error=No locks available mode=read-only",
                                   "defaults.lock.failed suite=nolock error=Input/output error",
                                   "defaults.lock.failed suite=nolock error=No locks available",
                               }));
    auto reread = UserDefaults::open("nolock", dir.path());
    EXPECT_EQ(reread->integer("a"), 1);
    EXPECT_EQ(reread->integer("b"), 2);
    EXPECT_FALSE(reread->object("c"));
}
