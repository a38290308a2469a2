#include "app/InotifyFileWatching.hpp"
#include "tests/support/TempDir.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

using namespace brindleaf;
using namespace brindleaf::testing;

namespace {

struct Reports {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> paths;

    FileWatching::Callback callback() {
        return [this](const std::string& path) {
            std::lock_guard lock(mutex);
            paths.push_back(path);
            changed.notify_all();
        };
    }
    // Waits (generously) until `path` was reported; returns the reports so far.
    std::vector<std::string> waitFor(const std::string& path) {
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(30),
                         [&] { return std::find(paths.begin(), paths.end(), path) != paths.end(); });
        return paths;
    }
};

} // namespace

TEST(InotifyFileWatching, ReportsWritesAndAppearancesOfWatchedPathsOnly) {
    TempDir dir;
    auto file = dir.write("watched.jsonl", "{}\n");
    auto other = dir.write("other.txt", "x");
    auto missing = (dir / "later").string();
    InotifyFileWatching watcher;
    Reports reports;
    watcher.watch({file.string(), missing, file.string()}, reports.callback());

    std::ofstream(other, std::ios::app) << "not watched\n";
    std::ofstream(file, std::ios::app) << "{}\n";
    auto seen = reports.waitFor(file.string());
    EXPECT_EQ(seen, std::vector<std::string>{file.string()}) << "the unwatched write is not reported";

    std::filesystem::create_directory(missing); // appears, and nothing else happens to it
    seen = reports.waitFor(missing);
    EXPECT_EQ(std::count(seen.begin(), seen.end(), missing), 1);

    watcher.stop();
    auto before = reports.waitFor(missing).size();
    std::ofstream(file, std::ios::app) << "{}\n";
    EXPECT_EQ(watcher.watchedFolderCount(), 0u);
    EXPECT_EQ(reports.waitFor(missing).size(), before);
}
