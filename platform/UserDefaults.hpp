#pragma once

#include "platform/DefaultsJSON.hpp"
#include "platform/DefaultsValue.hpp"

#include <filesystem>
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
// Nothing stored is lost by a change: values this program does not understand
// are written back exactly as they were (and read as absent), and a file that
// is not a JSON object at all is kept beside the suite as
// "<suite>.json.unreadable" before the suite is written anew.
//
// Safe to use from several threads.
class UserDefaults {
public:
    // The suite named after the bundle identifier.
    static constexpr std::string_view standardSuiteName = "com.quorvale.Brindleaf";

    // The process's standard suite, opened once. When its folder cannot be
    // created or locked, the suite lives in memory only for this process.
    static std::shared_ptr<UserDefaults> standard();

    // Opens a suite in the default folder; nullptr when the name is not a usable
    // file name or the folder cannot be created or locked.
    static std::shared_ptr<UserDefaults> open(const std::string& suiteName);
    // Opens a suite in the given folder (created when missing).
    static std::shared_ptr<UserDefaults> open(const std::string& suiteName, const std::filesystem::path& folder);
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
    // (the change then holds in this object until the file changes on disk),
    // and refuses a value nested deeper than the file format allows.
    bool set(const std::string& key, DefaultsValue value);
    bool remove(const std::string& key);
    // Forgets every value and deletes the suite's file.
    bool removePersistentDomain();

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

    UserDefaults(std::string suiteName, std::filesystem::path folder, int lockDescriptor);

    // Brings document_ up to date with the file (mutex_ held); `force` reads the
    // file even when its signature is unchanged. False when the file exists
    // but cannot be read (document_ then keeps what was read last).
    bool refreshLocked(bool force = false) const;
    bool writeLocked(const DefaultsValue::Dictionary& values);
    template <typename Change> bool change(Change&& apply);

    std::string suiteName_;
    std::filesystem::path folder_;
    std::filesystem::path filePath_;
    int lockDescriptor_ = -1;

    mutable std::mutex mutex_;
    mutable DefaultsJSON::Document document_;           // the values as last read or written
    mutable std::optional<std::string> unreadableText_; // the file's text when it was no JSON object
    mutable std::optional<FileSignature> signature_;
};

} // namespace brindleaf
