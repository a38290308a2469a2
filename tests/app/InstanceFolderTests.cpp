// The choice of the instance folder, on real folders standing in for the
// runtime folder, /run/user/UID, /tmp and the cache folder.
#include "app/InstanceFolder.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace brindleaf;
using namespace brindleaf::testing;
namespace fs = std::filesystem;

namespace {

// Makes the folder (and those above it) and gives it the mode.
fs::path madeFolder(const fs::path& folder, fs::perms mode = fs::perms::owner_all) {
    fs::create_directories(folder);
    fs::permissions(folder, mode);
    return folder;
}

struct Folders {
    TempDir root;
    InstanceFolder::Roots roots;
    Folders() {
        roots.user = ::getuid();
        roots.userRuntime = root / "run-user";
        roots.temporary = root / "tmp";
        roots.cache = root / "home" / ".cache";
        fs::create_directories(roots.temporary);
    }
    fs::path runtimeFolder(const char* name, fs::perms mode = fs::perms::owner_all) const {
        return madeFolder(root / name, mode);
    }
    fs::path tmpFolder() const { return roots.temporary / ("brindleaf-" + std::to_string(roots.user)); }
    InstanceFolder::Choice choose(const InstanceFolder::Attempt& attempt = [](const fs::path&) {
        return std::nullopt;
    }) const {
        return InstanceFolder::choose(roots, attempt);
    }
};

std::string codes(const InstanceFolder::Choice& choice) {
    std::string text;
    for (const auto& refusal : choice.refused) text += (text.empty() ? "" : ",") + refusal.code;
    return text;
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status.st_mode & 07777;
}

// A runtime folder (made, 0700) whose instance socket's path has `length` bytes.
fs::path socketPathOfLength(Folders& f, std::size_t length) {
    const fs::path base = f.runtimeFolder("run");
    const std::size_t fixed = base.string().size() + std::string("/x/brindleaf/instance.socket").size() - 1;
    const fs::path runtime = madeFolder(base / std::string(length - fixed, 'd'));
    EXPECT_EQ((runtime / "brindleaf" / InstanceFolder::socketName).string().size(), length);
    return runtime;
}

} // namespace

// Each rule at its edge: which folder serves, and which were passed over.
TEST(InstanceFolderTests, FirstSafeFolderServes) {
    struct Case {
        const char* what;
        std::function<void(Folders&)> setUp;
        std::function<fs::path(const Folders&)> expected;
        const char* refused;
    };
    const auto runtime = [](const Folders& f) { return f.root / "run" / "brindleaf"; };
    const auto userRuntime = [](const Folders& f) { return f.roots.userRuntime / "brindleaf"; };
    const auto tmp = [](const Folders& f) { return f.tmpFolder(); };
    const auto cache = [](const Folders& f) { return f.roots.cache / "brindleaf"; };
    const auto runtime107 = [](const Folders& f) { return f.roots.runtime.value() / "brindleaf"; };
    const Case cases[] = {
        {"the runtime folder", [](Folders& f) { f.roots.runtime = f.runtimeFolder("run"); }, runtime, ""},
        {"no runtime folder, /run/user/UID", [](Folders& f) { f.runtimeFolder("run-user"); }, userRuntime, ""},
        {"the runtime folder is /run/user/UID", [](Folders& f) { f.roots.runtime = f.runtimeFolder("run-user") / "."; },
         userRuntime, ""},
        {"neither: /tmp, quietly", [](Folders&) {}, tmp, ""},
        {"runtime folder missing", [](Folders& f) { f.roots.runtime = f.root / "gone"; }, tmp, "missing"},
        {"runtime folder relative", [](Folders& f) { f.roots.runtime = "run"; }, tmp, "relative"},
        {"runtime folder open to the group",
         [](Folders& f) { f.roots.runtime = f.runtimeFolder("run", fs::perms(0750)); }, tmp, "mode"},
        {"runtime folder a link to a safe one",
         [](Folders& f) {
             fs::create_directory_symlink(f.runtimeFolder("run"), f.root / "link");
             f.roots.runtime = f.root / "link";
         },
         tmp, "link"},
        {"runtime folder a file",
         [](Folders& f) {
             f.root.write("file", "");
             f.roots.runtime = f.root / "file";
         },
         tmp, "not-folder"},
        {"bad runtime folder, good /run/user/UID",
         [](Folders& f) {
             f.roots.runtime = f.runtimeFolder("run", fs::perms(0755));
             f.runtimeFolder("run-user");
         },
         userRuntime, "mode"},
        {"brindleaf in the runtime folder a link",
         [](Folders& f) {
             f.roots.runtime = f.runtimeFolder("run");
             fs::create_directory_symlink(f.runtimeFolder("target"), f.root / "run" / "brindleaf");
         },
         tmp, "link"},
        {"/tmp's folder open to others", [](Folders& f) { madeFolder(f.tmpFolder(), fs::perms::all); }, cache, "mode"},
        {"/tmp's folder open to others only (0701)", [](Folders& f) { madeFolder(f.tmpFolder(), fs::perms(0701)); },
         cache, "mode"},
        {"/tmp's folder open to others only (0705)", [](Folders& f) { madeFolder(f.tmpFolder(), fs::perms(0705)); },
         cache, "mode"},
        {"/tmp's folder open to others only (0707)", [](Folders& f) { madeFolder(f.tmpFolder(), fs::perms(0707)); },
         cache, "mode"},
        {"/tmp's folder of ours without owner access, mended",
         [](Folders& f) { madeFolder(f.tmpFolder(), fs::perms::none); }, tmp, ""},
        {"/tmp's folder a link",
         [](Folders& f) { fs::create_directory_symlink(f.runtimeFolder("target"), f.tmpFolder()); }, cache, "link"},
        {"/tmp's folder cannot be made",
         [](Folders& f) {
             fs::remove(f.roots.temporary);
             f.root.write("tmp", "");
         },
         cache, "unmakeable"},
        {"a socket path too long",
         [](Folders& f) { f.roots.runtime = madeFolder(f.runtimeFolder("run") / std::string(100, 'd')); }, tmp,
         "too-long"},
        {"a socket path of exactly 108 bytes", [](Folders& f) { f.roots.runtime = socketPathOfLength(f, 108); }, tmp,
         "too-long"},
        {"a socket path of 107 bytes", [](Folders& f) { f.roots.runtime = socketPathOfLength(f, 107); }, runtime107,
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Folders f;
        c.setUp(f);
        const auto choice = f.choose();
        ASSERT_TRUE(choice.folder.has_value());
        EXPECT_EQ(*choice.folder, c.expected(f));
        EXPECT_EQ(codes(choice), c.refused);
        EXPECT_EQ(modeOf(*choice.folder), 0700u);
    }
}

// brindleaf's own folder is made 0700 whatever the umask; a link's target
// and a foreign folder are left as they are.
TEST(InstanceFolderTests, MadeFoldersAreClosedAndOthersUntouched) {
    // Umasks that would leave the owner without write and search, or without any access.
    for (const mode_t mask : {0277, 0577, 0777}) {
        SCOPED_TRACE(mask);
        Folders f;
        const mode_t old = ::umask(mask);
        const auto choice = f.choose();
        ::umask(old);
        EXPECT_EQ(choice.folder, std::optional<fs::path>(f.tmpFolder()));
        EXPECT_EQ(modeOf(f.tmpFolder()), 0700u);
    }

    Folders linked;
    const auto target = linked.runtimeFolder("target", fs::perms(0755));
    fs::create_directory_symlink(target, linked.tmpFolder());
    linked.choose();
    EXPECT_EQ(modeOf(target), 0755u);
    EXPECT_TRUE(fs::is_empty(target));
}

// A folder whose lock cannot be made is passed over for the next; when none
// serves there is no folder at all.
TEST(InstanceFolderTests, FolderTheAttemptRefusesIsPassedOver) {
    Folders f;
    f.roots.runtime = f.runtimeFolder("run");
    std::vector<fs::path> tried;
    const auto refuseRuntime = [&](const fs::path& folder) -> std::optional<InstanceFolder::Refusal> {
        tried.push_back(folder);
        if (folder == f.root / "run" / "brindleaf") return InstanceFolder::Refusal{folder, "no-lock", "no lock"};
        return std::nullopt;
    };
    const auto choice = f.choose(refuseRuntime);
    EXPECT_EQ(choice.folder, f.tmpFolder());
    EXPECT_EQ(codes(choice), "no-lock");
    EXPECT_EQ(tried.size(), 2u);

    const auto none = f.choose([](const fs::path& folder) {
        return std::optional(InstanceFolder::Refusal{folder, "no-lock", "no lock"});
    });
    EXPECT_FALSE(none.folder.has_value());
    EXPECT_EQ(codes(none), "no-lock,no-lock,no-lock");
}

// A folder of another user's is never used, whatever its mode.
TEST(InstanceFolderTests, FolderOfAnotherUserIsPassedOver) {
    if (::getuid() != 0) GTEST_SKIP() << "needs root, to give a folder to another user";
    Folders f;
    madeFolder(f.tmpFolder());
    ASSERT_EQ(::chown(f.tmpFolder().c_str(), 4242, 4242), 0);
    const auto choice = f.choose();
    EXPECT_EQ(choice.folder, f.roots.cache / "brindleaf");
    ASSERT_EQ(choice.refused.size(), 1u);
    EXPECT_EQ(choice.refused.front().reason, "it belongs to user 4242");
}

// The folders a running copy may be found in, whichever of them it took: each
// that exists and passes, in the order of the choice; nothing is made.
TEST(InstanceFolderTests, CandidatesAreEveryFolderThatPassesInOrder) {
    Folders f;
    f.roots.runtime = f.runtimeFolder("run");
    madeFolder(*f.roots.runtime / "brindleaf");
    f.runtimeFolder("run-user");
    madeFolder(f.roots.userRuntime / "brindleaf", fs::perms(0755)); // open to others: passed over
    madeFolder(f.tmpFolder());
    madeFolder(f.roots.cache / "brindleaf");
    EXPECT_EQ(InstanceFolder::candidates(f.roots),
              (std::vector<fs::path>{*f.roots.runtime / "brindleaf", f.tmpFolder(), f.roots.cache / "brindleaf"}));

    Folders empty;
    EXPECT_TRUE(InstanceFolder::candidates(empty.roots).empty());
    EXPECT_FALSE(fs::exists(empty.tmpFolder())) << "looking made a folder";
}
