#pragma once

#include "platform/AtomicFile.hpp"
#include "platform/DefaultsJSON.hpp"
#include "platform/DefaultsValue.hpp"

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace brindleaf {

// A named suite of user preferences, stored as one JSON file
// ($XDG_CONFIG_HOME/brindleaf/<suite>.json, ~/.config when the variable is
// unset). Every change is made under an exclusive lock on the folder's lock
// file: the file is read again, the change applied, and the whole suite
// written to a temporary file that then replaces the old one. So the tray
// application and a headless run never lose each other's changes, and readers
// never see a half-written file. Reads take the file again whenever it changed
// on disk since the last read.
//
// The lock is waited for only so long (lockWait): a copy of the program that
// is stopped or hung while it holds the lock must not stop every other one.
// A change that does not get the lock in time is kept unsaved, as below;
// until the lock is taken again, later changes and retries wait only
// lockWaitWhileHeld, so a held lock does not hold up every refresh.
//
// Nothing stored is lost by a change: values this program does not understand
// are written back exactly as they were (and read as absent), and a file that
// is not a JSON object at all is kept beside the suite as
// "<suite>.json.unreadable" before the suite is written anew.
//
// Nothing set is lost when the file cannot be written (a full disk, a
// read-only folder): the change is kept as unsaved, reads answer with it,
// re-reading the file does not drop it, and every unsaved change is written
// with the next write that succeeds (or saveUnsavedChanges()). Opening a
// suite removes the temporary files of its earlier writers that were killed
// between writing and renaming, once they are a minute old.
//
// Safe to use from several threads.
class UserDefaults {
public:
    // The suite named after the bundle identifier.
    static constexpr std::string_view standardSuiteName = "com.quorvale.Brindleaf";

    // The process's standard suite, opened once (openOrInMemory).
    static std::shared_ptr<UserDefaults> standard();
    // The suite opened in the default folder; when that cannot be created,
    // one that lives in memory only for this process.
    static std::shared_ptr<UserDefaults> openOrInMemory(const std::string& suiteName);

    // Opens a suite in the default folder; nullptr when the name is not a usable
    // file name or the folder cannot be created. A folder in which the lock
    // file cannot be made (read-only, without one) still gives the suite: it
    // reads the file, and every change is kept unsaved until the lock can be
    // made and the file written.
    static std::shared_ptr<UserDefaults> open(const std::string& suiteName);
    // Stands in for ::flock on the folder's lock file (tests make it fail as
    // on a home without lock support).
    using LockFunction = std::function<int(int fd, int operation)>;

    // How long a change, a removal or opening waits for another process to
    // let go of the lock.
    static constexpr std::chrono::milliseconds lockWait{2000};
    // The wait once the lock was found held that long, until it is taken again.
    static constexpr std::chrono::milliseconds lockWaitWhileHeld{50};

    // Opens a suite in the given folder (created when missing); `write` stands
    // in for ::write when the suite's file is written (tests run it out of
    // space), `lock` for ::flock on the lock file (always asked not to
    // block), `wait` for lockWait.
    static std::shared_ptr<UserDefaults> open(const std::string& suiteName, const std::filesystem::path& folder,
                                              AtomicFile::WriteFunction write = {}, LockFunction lock = {},
                                              std::chrono::milliseconds wait = lockWait);
    // A suite that is never written to disk.
    static std::shared_ptr<UserDefaults> inMemory(const std::string& suiteName);

    // $XDG_CONFIG_HOME/brindleaf when that is an absolute path, else
    // $HOME/.config/brindleaf (the user database's home when $HOME is unset);
    // empty when there is no home at all.
    static std::filesystem::path defaultFolder();

    ~UserDefaults();
    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    const std::string& suiteName() const { return suiteName_; }
    // The suite's file; empty for a suite that lives in memory only.
    const std::filesystem::path& filePath() const { return filePath_; }

    // The stored value, of whatever type; absent for a value this program does
    // not understand.
    std::optional<DefaultsValue> object(const std::string& key) const;
    // Each typed read answers only when the stored value has exactly that type.
    std::optional<bool> boolValue(const std::string& key) const;
    std::optional<std::int64_t> integer(const std::string& key) const;
    std::optional<double> doubleValue(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const;
    std::optional<DefaultsValue::Dictionary> dictionary(const std::string& key) const;
    std::optional<std::string> data(const std::string& key) const;
    // Every stored key and value that this program understands.
    DefaultsValue::Dictionary dictionaryRepresentation() const;

    // Stores a value; returns false when the suite's file could not be written
    // (the change is then kept as unsaved, see above), and refuses a value
    // nested deeper than the file format allows (nothing is kept then).
    bool set(const std::string& key, DefaultsValue value);
    bool remove(const std::string& key);
    // Forgets every value, unsaved ones included, and deletes the suite's file.
    bool removePersistentDomain();

    // Whether changes are waiting for the file to take them.
    bool hasUnsavedChanges() const;
    // Writes the unsaved changes, if any; true when none is left.
    bool saveUnsavedChanges();

    // Temporary files younger than this may belong to a writer at work.
    static constexpr std::chrono::seconds abandonedTemporaryAge{60};

private:
    struct FileSignature {
        dev_t device = 0;
        ino_t inode = 0;
        off_t size = 0;
        std::int64_t modifiedNanoseconds = 0;
        std::int64_t changedNanoseconds = 0;
        bool exists = false;
        bool operator==(const FileSignature&) const = default;
    };

    UserDefaults(std::string suiteName, std::filesystem::path folder, int lockDescriptor,
                 AtomicFile::WriteFunction write, LockFunction lock, std::chrono::milliseconds wait);

    // Brings document_ up to date with the file (mutex_ held); `force` reads the
    // file even when its signature is unchanged. False when the file exists
    // but cannot be read (document_ then keeps what was read last).
    bool refreshLocked(bool force = false) const;
    enum class SaveResult { saved, failed, tooLarge };
    SaveResult writeLocked(const DefaultsValue::Dictionary& values, bool retry);
    // Writes the file with the unsaved changes over what it holds now (mutex_
    // held); `retry` when no new change came with this attempt.
    SaveResult saveLocked(bool retry);
    bool change(const std::string& key, std::optional<DefaultsValue> value);
    void logWriteFailure(const std::string& error, bool retry);
    void logLockFailure(int error);
    // How long the next attempt waits for the lock.
    std::chrono::milliseconds currentLockWait() const;

    std::string suiteName_;
    std::filesystem::path folder_;
    std::filesystem::path filePath_;
    int lockDescriptor_ = -1; // -1 until the folder takes a lock file
    AtomicFile::WriteFunction write_;
    LockFunction lock_;
    std::chrono::milliseconds lockWait_;

    mutable std::mutex mutex_;
    mutable DefaultsJSON::Document document_;           // the file's values as last read or written
    mutable std::optional<std::string> unreadableText_; // the file's text when it was no JSON object
    mutable std::optional<FileSignature> signature_;
    // Changes the file has not taken yet, by key; absent for a removal.
    std::map<std::string, std::optional<DefaultsValue>> unsaved_;
    // The error of the failing writes since the last one that succeeded.
    std::optional<std::string> writeFailure_;
    // Why the lock could not be taken, since it last was.
    std::optional<std::string> lockFailure_;
    // Whether the last attempt found the lock held past its wait.
    bool lockHeldElsewhere_ = false;
};

} // namespace brindleaf
