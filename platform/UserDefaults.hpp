#pragma once

#include "platform/AtomicFile.hpp"
#include "platform/DefaultsJSON.hpp"
#include "platform/DefaultsValue.hpp"

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
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
// The lock is waited for only so long: a copy of the program that is stopped
// or hung while it holds the lock must not stop every other one. A change and
// saveUnsavedChanges() try it once on the calling thread, without waiting,
// and opening waits at most callerLockWait, so the UI thread never stalls on
// another process; a change that does not get the lock is kept unsaved, as
// below, and left to the suite's background retry, which alone retries. That waits for the lock up to lockWait per
// attempt, then, once it found the lock held that long, lockWaitWhileHeld per attempt until the lock is taken again,
// pausing between attempts. While anyone waits for the lock the suite's values stay free to read: only a single try of
// the lock and the write itself exclude readers.
//
// Nothing stored is lost by a change: values this program does not understand
// are written back exactly as they were (and read as absent), and a file that
// is not a JSON object at all is kept beside the suite as
// "<suite>.json.unreadable" before the suite is written anew.
//
// Nothing set is lost when the file cannot be written (a full disk, a
// read-only folder, a lock held elsewhere): the change is kept as unsaved,
// reads answer with it, re-reading the file does not drop it, and every
// unsaved change is written with the next write that succeeds: the background
// retry's, a later change's, or saveUnsavedChanges(). At the end of the
// program saveUnsavedChangesBeforeExit() writes what is still unsaved, waiting
// up to lockWait, and logs the keys it could not save. Opening a suite removes
// the temporary files of its earlier writers that were killed between writing
// and renaming, once they are a minute old.
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

    // How long an attempt of the background retry, a removal or the writing
    // at the end of the program waits for another process to let go of the
    // lock.
    static constexpr std::chrono::milliseconds lockWait{2000};
    // The wait once the lock was found held that long, until it is taken again.
    static constexpr std::chrono::milliseconds lockWaitWhileHeld{50};
    // The longest opening waits for the lock on the calling thread (a change
    // and saveUnsavedChanges() try it once); the rest is left to the
    // background retry.
    static constexpr std::chrono::milliseconds callerLockWait{100};
    // The background retry's pause after an attempt that failed, doubling
    // after each one up to the longest.
    static constexpr std::chrono::milliseconds firstRetryPause{100};
    static constexpr std::chrono::milliseconds longestRetryPause{1000};

    // Opens a suite in the given folder (created when missing); `write` stands
    // in for ::write when the suite's file is written (tests run it out of
    // space), `lock` for ::flock on the lock file (always asked not to
    // block; called from the background retry's thread too), `wait` for
    // lockWait.
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
    // on the calling thread (the change is then kept as unsaved and retried
    // in the background, see above), and refuses a value nested deeper or
    // written larger than the file format allows (nothing is kept then).
    bool set(const std::string& key, DefaultsValue value);
    bool remove(const std::string& key);
    // Forgets every value, unsaved ones included, and deletes the suite's file.
    bool removePersistentDomain();

    // Whether changes are waiting for the file to take them.
    bool hasUnsavedChanges() const;
    // Writes the unsaved changes, if any, waiting for the lock as a change
    // does; true when none is left.
    bool saveUnsavedChanges();
    // For the end of the program: stops the background retry, then writes
    // the unsaved changes, if any, waiting at most `bound` for the lock.
    // What is still unsaved then is logged once by its keys
    // ("defaults.unsaved.dropped suite=... keys=a,b"); a change made later is
    // tried on the calling thread only. True when none is left. A suite
    // destroyed with changes unsaved does this first, unless it was done.
    bool saveUnsavedChangesBeforeExit(std::chrono::milliseconds bound = lockWait);

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

    // Who makes an attempt: how long it waits for the lock, and whether a
    // failure is handed to the background retry.
    enum class Attempt { caller, background, exit };

    // Brings document_ up to date with the file (mutex_ held); `force` reads the
    // file even when its signature is unchanged. False when the file exists
    // but cannot be read (document_ then keeps what was read last).
    bool refreshLocked(bool force = false) const;
    bool writeLocked(const DefaultsValue::Dictionary& values, bool retry);
    // Takes the folder's lock (`guard` holds mutex_): tries it without
    // blocking, and pauses with mutex_ released until `wait` has passed.
    // 0 once held, else why not (EWOULDBLOCK: held by another process all
    // along; ECANCELED: a background attempt whose retry was stopped).
    int takeLockLocked(std::unique_lock<std::mutex>& guard, std::chrono::milliseconds wait, Attempt attempt);
    void releaseLockLocked();
    // Writes the file with the unsaved changes over what it holds now,
    // waiting `wait` for the lock; `retry` when no new change came with this
    // attempt. True when nothing is left unsaved (another thread may have
    // written it meanwhile).
    bool saveLocked(std::unique_lock<std::mutex>& guard, Attempt attempt, std::chrono::milliseconds wait, bool retry);
    // An attempt on the calling thread; a failure wakes the background retry.
    bool saveOnCallingThreadLocked(std::unique_lock<std::mutex>& guard, bool retry);
    bool change(const std::string& key, std::optional<DefaultsValue> value);
    // Whether the suite with this change still fits the file (mutex_ held).
    bool fitsLocked(const std::string& key, const DefaultsValue& value) const;
    void logWriteFailure(const std::string& error, bool retry);
    void logLockFailure(int error);
    // How long the attempt waits for the lock.
    std::chrono::milliseconds lockWaitFor(Attempt attempt) const;
    // Wakes the background retry, started the first time (mutex_ held).
    void scheduleRetryLocked();
    // The background retry's thread: an attempt whenever a change was left
    // unsaved, then after growing pauses until none is left.
    void retryUnsavedChanges();
    // Stops the background retry; the thread to join, once mutex_ is released.
    std::thread stopRetryLocked();
    std::string unsavedKeysLocked() const;

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
    // Whether the last attempt found the lock held past lockWait, so that
    // the next waits only lockWaitWhileHeld.
    bool lockHeldElsewhere_ = false;

    // The background retry: wanted when an attempt left changes unsaved;
    // stopped for good by the destructor or the writing at the end.
    std::condition_variable wake_; // with mutex_
    std::thread retry_;
    bool retryWanted_ = false;
    bool retryStopped_ = false;
    bool retryUnavailable_ = false; // the thread could not be started (logged once)
    bool finished_ = false;         // saveUnsavedChangesBeforeExit() ran
};

} // namespace brindleaf
