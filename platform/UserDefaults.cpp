#include "platform/UserDefaults.hpp"

#include "platform/AtomicFile.hpp"
#include "platform/DefaultsJSON.hpp"
#include "platform/Logger.hpp"
#include "platform/XdgDirectories.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace brindleaf {

namespace {

constexpr std::string_view lockFileName = ".defaults.lock";
constexpr std::string_view unreadableSuffix = ".json.unreadable";
// The reader's cap; nothing larger is ever written.
constexpr std::size_t maximumSuiteFileSize = 16u << 20;

const Logger& log() {
    static const Logger logger("Defaults");
    return logger;
}

std::string errnoText(int code) { return std::string(std::strerror(code)); }

// Why the lock could not be taken; EWOULDBLOCK is what a lock that stayed
// held by another process for the whole wait reports.
std::string lockErrorText(int code) { return code == EWOULDBLOCK ? "held by another process" : errnoText(code); }

bool isUsableSuiteName(const std::string& name) {
    if (name.empty() || name.size() > 200 || name == "." || name == "..") return false;
    if (name.front() == '.') return false;
    for (char c : name) {
        if (c == '/' || c == '\0') return false;
    }
    return true;
}

std::int64_t nanoseconds(const struct timespec& ts) {
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The folder's lock file, made when missing; -1 and the reason in `error`
// when it can be neither made nor opened (a read-only folder without one).
int openLockFile(const std::filesystem::path& folder, int& error) {
    const auto lockPath = folder / lockFileName;
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) return fd;
    error = errno;
    fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    // A lock file that is not there says less than why it could not be made.
    if (fd < 0 && errno != ENOENT) error = errno;
    return fd;
}

// Lays changes kept as unsaved over `values`; an absent value is a removal.
void applyChanges(const std::map<std::string, std::optional<DefaultsValue>>& changes,
                  DefaultsValue::Dictionary& values) {
    for (const auto& [key, value] : changes) {
        if (value)
            values.insert_or_assign(key, *value);
        else
            values.erase(key);
    }
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path, int& error) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        error = errno;
        return std::nullopt;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::uint64_t>(info.st_size) > maximumSuiteFileSize) {
        error = EINVAL;
        ::close(fd);
        return std::nullopt;
    }
    std::string text;
    char buffer[16384];
    while (true) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > maximumSuiteFileSize) {
            error = EFBIG;
            ::close(fd);
            return std::nullopt;
        }
    }
    ::close(fd);
    return text;
}

} // namespace

std::filesystem::path UserDefaults::defaultFolder() {
    std::filesystem::path configHome = XdgDirectories::configHome();
    if (configHome.empty()) return {};
    return configHome / "brindleaf";
}

std::shared_ptr<UserDefaults> UserDefaults::standard() {
    // Never destroyed: the program's end writes it (the tray application's
    // Quit write) or leaves it unsaved on purpose (the headless modes), and no
    // exit-time destructor writes behind their backs.
    static const auto* const suite = new std::shared_ptr<UserDefaults>(openOrInMemory(std::string(standardSuiteName)));
    return *suite;
}

std::shared_ptr<UserDefaults> UserDefaults::openOrInMemory(const std::string& suiteName) {
    if (auto opened = open(suiteName)) return opened;
    log().error("defaults.open.failed suite=" + suiteName + " fallback=memory");
    return inMemory(suiteName);
}

std::shared_ptr<UserDefaults> UserDefaults::open(const std::string& suiteName) {
    return open(suiteName, defaultFolder());
}

std::shared_ptr<UserDefaults> UserDefaults::open(const std::string& suiteName, const std::filesystem::path& folder,
                                                 AtomicFile::WriteFunction write, LockFunction lock,
                                                 std::chrono::milliseconds wait) {
    if (!isUsableSuiteName(suiteName) || folder.empty()) return nullptr;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error)) {
        log().error("defaults.open.failed suite=" + suiteName + " error=" + (error ? error.message() : "not a folder"));
        return nullptr;
    }
    // Without a lock (a read-only folder that has no lock file) the suite
    // still reads its file; each change is kept unsaved until the lock can be
    // made and the file written.
    int lockError = 0;
    const int fd = openLockFile(folder, lockError);
    // The suite owns the descriptor from here on.
    std::shared_ptr<UserDefaults> suite(
        new UserDefaults(suiteName, folder, fd, std::move(write), std::move(lock), wait));
    std::size_t removed = 0;
    bool locked = false;
    if (fd >= 0) {
        std::unique_lock guard(suite->mutex_);
        // Opening runs on the calling thread (the start of the program): it
        // waits as briefly as a change does.
        lockError = suite->takeLockLocked(guard, std::min(wait, callerLockWait), Attempt::caller);
        if (lockError == 0) {
            locked = true;
            // Every writer holds the lock from its temporary file to the
            // rename, so what is left now was abandoned; the age spares
            // writers that ignore locks.
            const auto now = std::chrono::system_clock::now();
            for (const auto& written : {suiteName + ".json", suiteName + std::string(unreadableSuffix)})
                removed += AtomicFile::removeAbandonedTemporaries(folder / written, now, abandonedTemporaryAge);
            suite->releaseLockLocked();
        } else {
            // Held by another process past the wait (it may be stopped
            // between its temporary file and the rename) or refused: the
            // temporaries are left to a later opening, and the file is read
            // without the lock, as every reader does (writers replace it
            // whole). Not logged again while later changes fail the same way.
            suite->lockFailure_ = lockErrorText(lockError);
        }
    }
    if (!locked) {
        if (fd >= 0) ::close(fd);
        suite->lockDescriptor_ = -1;
        log().error("defaults.lock.failed suite=" + suiteName + " error=" + lockErrorText(lockError) +
                    " mode=read-only");
        return suite;
    }
    if (removed > 0) log().info("defaults.temporary.removed suite=" + suiteName + " count=" + std::to_string(removed));
    return suite;
}

std::shared_ptr<UserDefaults> UserDefaults::inMemory(const std::string& suiteName) {
    return std::shared_ptr<UserDefaults>(new UserDefaults(suiteName, {}, -1, {}, {}, lockWait));
}

UserDefaults::UserDefaults(std::string suiteName, std::filesystem::path folder, int lockDescriptor,
                           AtomicFile::WriteFunction write, LockFunction lock, std::chrono::milliseconds wait)
    : suiteName_(std::move(suiteName)),
      folder_(std::move(folder)),
      lockDescriptor_(lockDescriptor),
      write_(std::move(write)),
      lock_(std::move(lock)),
      lockWait_(wait) {
    if (!folder_.empty()) filePath_ = folder_ / (suiteName_ + ".json");
    // The logger is made before any suite, so it outlives a suite the program
    // keeps to its end (the standard one), whose retry may still log.
    log();
}

UserDefaults::~UserDefaults() {
    // A suite that ends with changes unsaved and without the writing at the
    // end (a headless run that returns) writes them as Quit does.
    bool unsaved = false;
    {
        std::lock_guard guard(mutex_);
        unsaved = !finished_ && !unsaved_.empty() && !filePath_.empty();
    }
    if (unsaved) saveUnsavedChangesBeforeExit(lockWait_);
    std::thread retry;
    {
        std::lock_guard guard(mutex_);
        retry = stopRetryLocked();
    }
    if (retry.joinable()) retry.join();
    if (lockDescriptor_ >= 0) ::close(lockDescriptor_);
}

bool UserDefaults::refreshLocked(bool force) const {
    if (filePath_.empty()) return true;
    FileSignature current;
    struct stat info {};
    if (::stat(filePath_.c_str(), &info) == 0) {
        current = FileSignature{
            info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim), nanoseconds(info.st_ctim), true};
    } else if (errno != ENOENT) {
        // The file cannot be examined now; keep what was read last.
        log().error("defaults.read.failed suite=" + suiteName_ + " error=" + errnoText(errno));
        return false;
    }
    if (!force && signature_ && *signature_ == current) return true;
    if (!current.exists) {
        signature_ = current;
        document_ = {};
        unreadableText_.reset();
        return true;
    }

    int error = 0;
    auto text = readWholeFile(filePath_, error);
    if (!text) {
        log().error("defaults.read.failed suite=" + suiteName_ + " error=" + errnoText(error));
        return false;
    }
    signature_ = current;
    if (auto document = DefaultsJSON::read(*text)) {
        document_ = std::move(*document);
        unreadableText_.reset();
    } else {
        // A hand-edited file that is not a JSON object holds no usable value;
        // its text is kept aside when the suite is next written.
        log().error("defaults.read.failed suite=" + suiteName_ + " error=malformed");
        document_ = {};
        unreadableText_ = std::move(*text);
    }
    return true;
}

std::chrono::milliseconds UserDefaults::lockWaitFor(Attempt attempt) const {
    const auto wait = lockHeldElsewhere_ ? std::min(lockWait_, lockWaitWhileHeld) : lockWait_;
    // The calling thread (the UI thread) tries once: retries are the background's.
    return attempt == Attempt::caller ? std::chrono::milliseconds{0} : wait;
}

int UserDefaults::takeLockLocked(std::unique_lock<std::mutex>& guard, std::chrono::milliseconds wait, Attempt attempt) {
    using Clock = std::chrono::steady_clock;
    constexpr std::chrono::milliseconds longestPause{20};
    const auto deadline = Clock::now() + wait;
    std::chrono::milliseconds pause{1};
    while (true) {
        // A try with mutex_ held: no other thread of this process holds the
        // lock (they share its descriptor) until it is released again.
        const int result =
            lock_ ? lock_(lockDescriptor_, LOCK_EX | LOCK_NB) : ::flock(lockDescriptor_, LOCK_EX | LOCK_NB);
        if (result == 0) return 0;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return errno;
        const auto now = Clock::now();
        if (attempt == Attempt::background && retryStopped_) return ECANCELED;
        if (now >= deadline) return EWOULDBLOCK;
        // Readers and other writers of this process go on meanwhile.
        wake_.wait_for(guard, std::min<Clock::duration>(pause, deadline - now));
        pause = std::min(pause * 2, longestPause);
    }
}

void UserDefaults::releaseLockLocked() {
    if (lock_)
        lock_(lockDescriptor_, LOCK_UN);
    else
        ::flock(lockDescriptor_, LOCK_UN);
}

void UserDefaults::logLockFailure(int error) {
    // A lock that cannot be taken (no lock support on a network home, a
    // holder that is stopped) stays so for every refresh's retry: logged
    // once, until it fails otherwise or is taken again.
    const std::string text = lockErrorText(error);
    if (lockFailure_ == text) return;
    lockFailure_ = text;
    log().error("defaults.lock.failed suite=" + suiteName_ + " error=" + text);
}

void UserDefaults::logWriteFailure(const std::string& error, bool retry) {
    // Unsaved changes may be retried often while a disk stays full: a retry
    // that fails as the one before it is not logged again.
    if (retry && writeFailure_ == error) return;
    writeFailure_ = error;
    log().error("defaults.write.failed suite=" + suiteName_ + " error=" + error + " unsaved=" + unsavedKeysLocked());
}

bool UserDefaults::writeLocked(const DefaultsValue::Dictionary& values, bool retry) {
    const std::string text = DefaultsJSON::write(values, &document_);
    if (text.size() > maximumSuiteFileSize) {
        // A change is refused when it does not fit (fitsLocked); this is
        // another writer's file grown since, and is retried as a full disk.
        logWriteFailure("too-large", retry);
        return false;
    }
    if (unreadableText_) {
        const auto aside = folder_ / (suiteName_ + std::string(unreadableSuffix));
        if (auto failure = AtomicFile::replaceContents(aside, *unreadableText_, write_)) {
            logWriteFailure(errnoText(failure->error), retry);
            return false;
        }
        log().info("defaults.unreadable.kept suite=" + suiteName_ + " path=" + aside.string());
    }
    if (auto failure = AtomicFile::replaceContents(filePath_, text, write_)) {
        logWriteFailure(errnoText(failure->error), retry);
        return false;
    }
    unreadableText_.reset();
    if (writeFailure_) {
        log().notice("defaults.write.recovered suite=" + suiteName_);
        writeFailure_.reset();
    }
    return true;
}

bool UserDefaults::saveLocked(std::unique_lock<std::mutex>& guard, Attempt attempt, std::chrono::milliseconds wait,
                              bool retry) {
    if (unsaved_.empty()) return true;
    if (filePath_.empty()) {
        applyChanges(unsaved_, document_.values);
        unsaved_.clear();
        return true;
    }
    int lockError = 0;
    if (lockDescriptor_ < 0) lockDescriptor_ = openLockFile(folder_, lockError);
    if (lockDescriptor_ < 0) {
        // A folder that refuses the lock file refuses the suite's file too.
        logWriteFailure(errnoText(lockError), retry);
        return false;
    }
    lockError = takeLockLocked(guard, wait, attempt);
    // Another thread may have written everything while this one paused.
    if (unsaved_.empty()) {
        if (lockError == 0) releaseLockLocked();
        return true;
    }
    if (lockError == ECANCELED) return false;
    if (lockError != 0) {
        // A lock held for less than lockWait is a peer at work, not yet worth
        // a line: the background retry waits longer.
        const bool heldLong =
            lockError == EWOULDBLOCK && (attempt != Attempt::caller || lockHeldElsewhere_ || wait >= lockWait_);
        if (lockError != EWOULDBLOCK || heldLong) {
            lockHeldElsewhere_ = heldLong;
            logLockFailure(lockError);
        }
        return false;
    }
    lockHeldElsewhere_ = false;
    lockFailure_.reset();
    bool saved = false;
    // Always read again under the lock: a signature can repeat across quick
    // replacements (inode reuse, coarse timestamps), a fresh read cannot.
    if (refreshLocked(true)) {
        DefaultsValue::Dictionary updated = document_.values;
        applyChanges(unsaved_, updated);
        saved = true;
        if (updated != document_.values) {
            saved = writeLocked(updated, retry);
            if (saved) {
                // The texts read stay valid for the values left as they were.
                for (auto it = document_.texts.begin(); it != document_.texts.end();) {
                    auto now = updated.find(it->first);
                    if (now == updated.end() || !(now->second == document_.values[it->first]))
                        it = document_.texts.erase(it);
                    else
                        ++it;
                }
                document_.values = std::move(updated);
                // What is now on disk is exactly document_.
                signature_.reset();
                struct stat info {};
                if (::stat(filePath_.c_str(), &info) == 0) {
                    signature_ = FileSignature{
                        info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim), nanoseconds(info.st_ctim),
                        true};
                }
            }
        }
    }
    releaseLockLocked();
    if (saved) unsaved_.clear();
    return saved;
}

bool UserDefaults::saveOnCallingThreadLocked(std::unique_lock<std::mutex>& guard, bool retry) {
    const bool saved = saveLocked(guard, Attempt::caller, lockWaitFor(Attempt::caller), retry);
    if (!saved && !unsaved_.empty()) scheduleRetryLocked();
    return saved;
}

void UserDefaults::scheduleRetryLocked() {
    if (retryStopped_ || retryUnavailable_ || filePath_.empty()) return;
    retryWanted_ = true;
    if (!retry_.joinable()) {
        try {
            retry_ = std::thread([this] { retryUnsavedChanges(); });
        } catch (const std::system_error& error) {
            // Left to later changes and saveUnsavedChanges(), as without it.
            retryUnavailable_ = true;
            log().error("defaults.retry.failed suite=" + suiteName_ + " error=" + error.code().message());
            return;
        }
    }
    wake_.notify_all();
}

void UserDefaults::retryUnsavedChanges() {
    std::unique_lock guard(mutex_);
    auto pause = firstRetryPause;
    while (!retryStopped_) {
        if (!retryWanted_ || unsaved_.empty()) {
            retryWanted_ = false;
            wake_.wait(guard, [this] { return retryStopped_ || (retryWanted_ && !unsaved_.empty()); });
            pause = firstRetryPause;
            continue;
        }
        if (saveLocked(guard, Attempt::background, lockWaitFor(Attempt::background), true)) continue;
        // Only the stop ends a pause early: a change meanwhile made its own
        // attempt already.
        wake_.wait_for(guard, pause, [this] { return retryStopped_; });
        pause = std::min(pause * 2, longestRetryPause);
    }
}

std::thread UserDefaults::stopRetryLocked() {
    retryStopped_ = true;
    wake_.notify_all();
    return std::move(retry_);
}

std::string UserDefaults::unsavedKeysLocked() const {
    std::string keys;
    for (const auto& [key, value] : unsaved_) keys += (keys.empty() ? "" : ",") + key;
    return keys;
}

bool UserDefaults::fitsLocked(const std::string& key, const DefaultsValue& value) const {
    refreshLocked();
    DefaultsValue::Dictionary values = document_.values;
    applyChanges(unsaved_, values);
    values.insert_or_assign(key, value);
    return DefaultsJSON::write(values, &document_).size() <= maximumSuiteFileSize;
}

bool UserDefaults::change(const std::string& key, std::optional<DefaultsValue> value) {
    std::unique_lock guard(mutex_);
    // Kept, a value the file can never hold would hold every later change back.
    if (value && !filePath_.empty() && !fitsLocked(key, *value)) {
        log().error("defaults.write.failed suite=" + suiteName_ + " error=too-large");
        return false;
    }
    unsaved_.insert_or_assign(key, std::move(value));
    return saveOnCallingThreadLocked(guard, false);
}

bool UserDefaults::hasUnsavedChanges() const {
    std::lock_guard guard(mutex_);
    return !unsaved_.empty();
}

bool UserDefaults::saveUnsavedChanges() {
    std::unique_lock guard(mutex_);
    return saveOnCallingThreadLocked(guard, true);
}

bool UserDefaults::saveUnsavedChangesBeforeExit(std::chrono::milliseconds bound) {
    std::thread retry;
    bool saved = false;
    {
        std::unique_lock guard(mutex_);
        // From here on nothing writes behind this attempt's back: what it
        // leaves unsaved is dropped, as the line says.
        retry = stopRetryLocked();
        finished_ = true;
        // The whole bound, even for a lock found held for long: its holder
        // may let go just now (the user quit to free it).
        saved = saveLocked(guard, Attempt::exit, bound, true);
        if (!saved) log().error("defaults.unsaved.dropped suite=" + suiteName_ + " keys=" + unsavedKeysLocked());
    }
    if (retry.joinable()) retry.join();
    return saved;
}

std::optional<DefaultsValue> UserDefaults::object(const std::string& key) const {
    std::lock_guard guard(mutex_);
    refreshLocked();
    if (auto unsaved = unsaved_.find(key); unsaved != unsaved_.end()) return unsaved->second;
    auto it = document_.values.find(key);
    // A value this program does not understand is kept, but reads as absent.
    if (it == document_.values.end() || it->second.isForeign()) return std::nullopt;
    return it->second;
}

std::optional<bool> UserDefaults::boolValue(const std::string& key) const {
    auto value = object(key);
    if (!value || !value->asBool()) return std::nullopt;
    return *value->asBool();
}

std::optional<std::int64_t> UserDefaults::integer(const std::string& key) const {
    auto value = object(key);
    if (!value || !value->asInteger()) return std::nullopt;
    return *value->asInteger();
}

std::optional<double> UserDefaults::doubleValue(const std::string& key) const {
    auto value = object(key);
    if (!value || !value->asDouble()) return std::nullopt;
    return *value->asDouble();
}

std::optional<std::string> UserDefaults::string(const std::string& key) const {
    auto value = object(key);
    if (!value || !value->asString()) return std::nullopt;
    return *value->asString();
}

std::optional<std::vector<std::string>> UserDefaults::stringArray(const std::string& key) const {
    auto value = object(key);
    if (!value) return std::nullopt;
    return value->asStringArray();
}

std::optional<DefaultsValue::Dictionary> UserDefaults::dictionary(const std::string& key) const {
    auto value = object(key);
    if (!value || !value->asDictionary()) return std::nullopt;
    return *value->asDictionary();
}

std::optional<std::string> UserDefaults::data(const std::string& key) const {
    auto value = object(key);
    if (!value) return std::nullopt;
    return value->dataBytes();
}

DefaultsValue::Dictionary UserDefaults::dictionaryRepresentation() const {
    std::lock_guard guard(mutex_);
    refreshLocked();
    DefaultsValue::Dictionary values;
    for (const auto& [key, value] : document_.values) {
        if (!value.isForeign()) values.emplace_hint(values.end(), key, value);
    }
    applyChanges(unsaved_, values);
    return values;
}

bool UserDefaults::set(const std::string& key, DefaultsValue value) {
    // The suite's object is the first level; a value nested past the reader's
    // limit would not read back.
    if (1 + DefaultsJSON::nestingDepth(value) > DefaultsJSON::maximumNestingDepth) {
        log().error("defaults.write.failed suite=" + suiteName_ + " error=too-deep");
        return false;
    }
    return change(key, std::move(value));
}

bool UserDefaults::remove(const std::string& key) { return change(key, std::nullopt); }

bool UserDefaults::removePersistentDomain() {
    std::unique_lock guard(mutex_);
    document_ = {};
    unreadableText_.reset();
    unsaved_.clear();
    if (filePath_.empty()) return true;
    // A lock file that opens only for reading still takes the lock.
    int lockError = 0;
    if (lockDescriptor_ < 0) lockDescriptor_ = openLockFile(folder_, lockError);
    if (lockDescriptor_ < 0) {
        logLockFailure(lockError);
        return false;
    }
    // Never retried, so it waits as long as the background retry does.
    lockError = takeLockLocked(guard, lockWaitFor(Attempt::background), Attempt::caller);
    if (lockError != 0) {
        lockHeldElsewhere_ = lockError == EWOULDBLOCK;
        logLockFailure(lockError);
        return false;
    }
    lockHeldElsewhere_ = false;
    lockFailure_.reset();
    const bool ok = ::unlink(filePath_.c_str()) == 0 || errno == ENOENT;
    const int error = errno;
    signature_ = FileSignature{};
    releaseLockLocked();
    if (!ok) log().error("defaults.remove.failed suite=" + suiteName_ + " error=" + errnoText(error));
    return ok;
}

} // namespace brindleaf
