#pragma once

#include <filesystem>

namespace brindleaf::testing {

// Makes a folder read-only for the life of the object: its mode becomes 0555,
// and for a test run as root, who writes anywhere, the calling thread's
// effective CAP_DAC_OVERRIDE capability is dropped, so that the mode holds for
// it too (threads it starts meanwhile inherit the drop). Both are undone when
// the object goes.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::filesystem::path folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

    // Whether the folder really refuses a new file now.
    bool holds() const;

private:
    std::filesystem::path folder_;
    std::filesystem::perms mode_;
    bool droppedOverride_ = false;
};

// Makes a file readable but not writable for the life of the object, in the
// same way: its mode becomes 0444, and for root the calling thread's effective
// CAP_DAC_OVERRIDE is dropped (processes it forks meanwhile inherit the drop).
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(std::filesystem::path file);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Whether the file really opens for reading only now.
    bool holds() const;

private:
    std::filesystem::path file_;
    std::filesystem::perms mode_;
    bool droppedOverride_ = false;
};

} // namespace brindleaf::testing
