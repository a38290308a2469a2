#include "platform/CloudRecordStoreDisk.hpp"

#include "platform/AtomicFile.hpp"
#include "platform/Base64.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf {

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

constexpr off_t maximumFileSize = 64 * 1024 * 1024;

CloudRecordStoreError errorFromErrno(int error, const std::string& what) {
    std::string text = what + ": " + std::strerror(error);
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS: return CloudRecordStoreError(CloudErrorCode::permissionFailure, text);
    case ENOSPC:
    case EDQUOT: return CloudRecordStoreError(CloudErrorCode::quotaExceeded, text);
    default: return CloudRecordStoreError(CloudErrorCode::internalError, text);
    }
}

CloudRecordStoreError damaged(const fs::path& path) {
    return CloudRecordStoreError(CloudErrorCode::internalError, "The stored item " + path.filename().string() +
                                                                    " is damaged");
}

// A file descriptor closed on scope exit.
class FileHandle {
public:
    explicit FileHandle(int fd = -1) : fd_(fd) {}
    ~FileHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// An flock on the database's lock file, held for the object's life.
class DatabaseLock {
public:
    // Exclusive locks create the folder and the lock file; shared locks take
    // nothing when the database does not exist yet (there is nothing to read).
    DatabaseLock(const fs::path& folder, bool exclusive) {
        fs::path lockPath = folder / ".lock";
        if (exclusive) {
            std::error_code ec;
            fs::create_directories(folder, ec);
            if (ec) throw errorFromErrno(ec.value(), "cannot create " + folder.string());
            fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            if (fd_ < 0) throw errorFromErrno(errno, "cannot open " + lockPath.string());
        } else {
            fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ < 0) return;
        }
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0) {
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd_);
            fd_ = -1;
            throw errorFromErrno(error, "cannot lock " + lockPath.string());
        }
    }
    ~DatabaseLock() {
        if (fd_ >= 0) ::close(fd_); // closing releases the lock
    }
    DatabaseLock(const DatabaseLock&) = delete;
    DatabaseLock& operator=(const DatabaseLock&) = delete;

private:
    int fd_ = -1;
};

// The whole file, or absent when it does not exist.
std::optional<std::string> readWholeFile(const fs::path& path) {
    FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return std::nullopt;
        throw errorFromErrno(errno, "cannot open " + path.string());
    }
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) throw errorFromErrno(errno, "cannot examine " + path.string());
    if (!S_ISREG(info.st_mode) || info.st_size > maximumFileSize) throw damaged(path);
    std::string contents;
    contents.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (true) {
        if (done == contents.size()) contents.resize(contents.size() + 4096);
        ssize_t got = ::read(file.get(), contents.data() + done, contents.size() - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            throw errorFromErrno(errno, "cannot read " + path.string());
        }
        if (got == 0) break;
        done += static_cast<size_t>(got);
        if (done > static_cast<size_t>(maximumFileSize)) throw damaged(path);
    }
    contents.resize(done);
    return contents;
}

// Writes the file through a temporary file renamed over it.
void writeFileAtomically(const fs::path& path, const std::string& contents, const AtomicFile::WriteFunction& write) {
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    if (ec) throw errorFromErrno(ec.value(), "cannot create " + path.parent_path().string());
    auto failure = AtomicFile::replaceContents(path, contents, write);
    if (!failure) return;
    switch (failure->step) {
    case AtomicFile::Failure::Step::createTemporary:
        throw errorFromErrno(failure->error, "cannot create a file in " + path.parent_path().string());
    case AtomicFile::Failure::Step::write: throw errorFromErrno(failure->error, "cannot write " + path.string());
    case AtomicFile::Failure::Step::replace: throw errorFromErrno(failure->error, "cannot replace " + path.string());
    }
}

// Removes the file; false when it did not exist.
bool removeFile(const fs::path& path) {
    if (::unlink(path.c_str()) == 0) return true;
    if (errno == ENOENT || errno == ENOTDIR) return false;
    throw errorFromErrno(errno, "cannot remove " + path.string());
}

json valueToJSON(const CloudValue& value) {
    return std::visit(
        [](const auto& v) -> json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) return {{"string", v}};
            else if constexpr (std::is_same_v<T, int64_t>) return {{"int", v}};
            else if constexpr (std::is_same_v<T, double>) return {{"double", std::isfinite(v) ? json(v) : json()}};
            else if constexpr (std::is_same_v<T, CloudDate>) return {{"date", v.secondsSince1970}};
            else return {{"bytes", Base64::encode(v.bytes)}};
        },
        value);
}

std::optional<CloudValue> valueFromJSON(const json& object) {
    if (!object.is_object() || object.size() != 1) return std::nullopt;
    auto entry = object.begin();
    const std::string& type = entry.key();
    const json& v = entry.value();
    if (type == "string" && v.is_string()) return CloudValue(v.get<std::string>());
    if (type == "int" && v.is_number_integer()) return CloudValue(v.get<int64_t>());
    if (type == "double" && v.is_number()) return CloudValue(v.get<double>());
    if (type == "date" && v.is_number()) return CloudValue(CloudDate{v.get<double>()});
    if (type == "bytes" && v.is_string()) {
        auto bytes = Base64::decode(v.get<std::string>());
        if (bytes) return CloudValue(CloudBytes{*bytes});
    }
    return std::nullopt;
}

json recordToJSON(const CloudRecord& record) {
    json fields = json::object();
    for (const auto& [key, value] : record.fields()) fields[key] = valueToJSON(value);
    json out = {{"recordType", record.recordType()}, {"recordName", record.recordName()}, {"fields", fields}};
    if (record.changeTag) out["changeTag"] = *record.changeTag;
    if (record.creationDate) out["creationDate"] = *record.creationDate;
    if (record.modificationDate) out["modificationDate"] = *record.modificationDate;
    return out;
}

CloudRecord recordFromJSON(const std::string& text, const fs::path& path) {
    json document = json::parse(text, nullptr, false);
    if (!document.is_object() || !document.contains("recordType") || !document["recordType"].is_string() ||
        !document.contains("recordName") || !document["recordName"].is_string())
        throw damaged(path);
    CloudRecord record(document["recordType"].get<std::string>(), document["recordName"].get<std::string>());
    if (auto it = document.find("fields"); it != document.end() && it->is_object()) {
        for (const auto& [key, value] : it->items()) {
            if (auto parsed = valueFromJSON(value)) record.set(key, std::move(*parsed));
        }
    }
    record.clearChangedKeys();
    if (auto it = document.find("changeTag"); it != document.end() && it->is_string())
        record.changeTag = it->get<std::string>();
    if (auto it = document.find("creationDate"); it != document.end() && it->is_number())
        record.creationDate = it->get<double>();
    if (auto it = document.find("modificationDate"); it != document.end() && it->is_number())
        record.modificationDate = it->get<double>();
    return record;
}

json subscriptionToJSON(const CloudQuerySubscription& s) {
    json info = {{"shouldSendContentAvailable", s.shouldSendContentAvailable}, {"shouldBadge", s.shouldBadge}};
    if (s.alertBody) info["alertBody"] = *s.alertBody;
    if (s.soundName) info["soundName"] = *s.soundName;
    return {{"subscriptionID", s.subscriptionID},
            {"type", "query"},
            {"recordType", s.recordType},
            {"predicate", s.predicate},
            {"firesOnRecordCreation", s.firesOnRecordCreation},
            {"firesOnRecordUpdate", s.firesOnRecordUpdate},
            {"firesOnRecordDeletion", s.firesOnRecordDeletion},
            {"notificationInfo", info}};
}

CloudQuerySubscription subscriptionFromJSON(const std::string& text, const fs::path& path) {
    json d = json::parse(text, nullptr, false);
    if (!d.is_object()) throw damaged(path);
    auto str = [&](const json& object, const char* key) -> std::optional<std::string> {
        auto it = object.find(key);
        if (it == object.end() || !it->is_string()) return std::nullopt;
        return it->get<std::string>();
    };
    auto flag = [&](const json& object, const char* key) {
        auto it = object.find(key);
        return it != object.end() && it->is_boolean() && it->get<bool>();
    };
    auto id = str(d, "subscriptionID");
    auto type = str(d, "recordType");
    if (!id || !type) throw damaged(path);
    CloudQuerySubscription s;
    s.subscriptionID = *id;
    s.recordType = *type;
    s.predicate = str(d, "predicate").value_or("TRUEPREDICATE");
    s.firesOnRecordCreation = flag(d, "firesOnRecordCreation");
    s.firesOnRecordUpdate = flag(d, "firesOnRecordUpdate");
    s.firesOnRecordDeletion = flag(d, "firesOnRecordDeletion");
    if (auto it = d.find("notificationInfo"); it != d.end() && it->is_object()) {
        s.shouldSendContentAvailable = flag(*it, "shouldSendContentAvailable");
        s.shouldBadge = flag(*it, "shouldBadge");
        s.alertBody = str(*it, "alertBody");
        s.soundName = str(*it, "soundName");
    }
    return s;
}

double nowSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

std::string nextChangeTag(const std::optional<std::string>& current) {
    long long number = 0;
    if (current) {
        try {
            number = std::stoll(*current);
        } catch (...) {
            number = 0;
        }
    }
    return std::to_string(number + 1);
}

void checkName(const std::string& name, const char* what) {
    if (name.empty()) throw CloudRecordStoreError(CloudErrorCode::invalidArguments, std::string("empty ") + what);
}

} // namespace

CloudRecordStoreDisk::CloudRecordStoreDisk(std::filesystem::path folder, AtomicFile::WriteFunction write)
    : folder_(std::move(folder)), write_(std::move(write)) {}

std::string CloudRecordStoreDisk::encodedName(const std::string& name) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                     c == '_' || (c == '.' && i > 0);
        if (plain) {
            out += char(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

CloudRecord CloudRecordStoreDisk::fetchRecord(const std::string& recordName) {
    checkName(recordName, "record name");
    DatabaseLock lock(folder_, false);
    fs::path path = folder_ / "records" / (encodedName(recordName) + ".json");
    auto text = readWholeFile(path);
    if (!text) throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Record not found");
    return recordFromJSON(*text, path);
}

CloudModifyResult CloudRecordStoreDisk::modifyRecords(const std::vector<CloudRecord>& saving,
                                                      const std::vector<std::string>& deleting,
                                                      CloudSavePolicy policy, bool atomically) {
    CloudModifyResult result;
    DatabaseLock lock(folder_, true);
    double now = nowSeconds();

    // Work out what each saved record becomes before writing anything.
    struct Planned {
        std::string name;
        fs::path path;
        std::optional<CloudRecord> merged;
        std::optional<CloudRecordStoreError> error;
    };
    std::vector<Planned> plan;
    bool anyFailed = false;
    for (const auto& record : saving) {
        Planned entry{record.recordName(), folder_ / "records" / (encodedName(record.recordName()) + ".json"),
                      std::nullopt, std::nullopt};
        try {
            checkName(record.recordName(), "record name");
            if (record.recordType().empty())
                throw CloudRecordStoreError(CloudErrorCode::invalidArguments, "empty record type");
            std::optional<CloudRecord> stored;
            if (auto text = readWholeFile(entry.path)) stored = recordFromJSON(*text, entry.path);
            if (stored && stored->recordType() != record.recordType())
                throw CloudRecordStoreError(CloudErrorCode::invalidArguments,
                                            "record type " + record.recordType() + " does not match the stored type " +
                                                stored->recordType());
            if (policy == CloudSavePolicy::ifServerRecordUnchanged && stored && stored->changeTag != record.changeTag)
                throw CloudRecordStoreError(CloudErrorCode::serverRecordChanged, "Record changed on the server");
            CloudRecord merged(record.recordType(), record.recordName());
            if (stored && policy == CloudSavePolicy::changedKeys) {
                for (const auto& [key, value] : stored->fields()) merged.set(key, value);
                for (const auto& key : record.changedKeys()) {
                    if (const CloudValue* value = record.value(key)) merged.set(key, *value);
                    else merged.remove(key);
                }
            } else {
                for (const auto& [key, value] : record.fields()) merged.set(key, value);
            }
            merged.clearChangedKeys();
            merged.changeTag = nextChangeTag(stored ? stored->changeTag : std::nullopt);
            merged.creationDate = stored && stored->creationDate ? stored->creationDate : std::optional<double>(now);
            merged.modificationDate = now;
            entry.merged = std::move(merged);
        } catch (const CloudRecordStoreError& error) {
            entry.error = error;
            anyFailed = true;
        }
        plan.push_back(std::move(entry));
    }
    for (const auto& name : deleting) {
        if (name.empty()) anyFailed = true;
    }

    if (atomically && anyFailed) {
        CloudRecordStoreError batch(CloudErrorCode::batchRequestFailed, "Another item of the request failed");
        for (const auto& entry : plan) result.saveResults.insert_or_assign(entry.name, entry.error ? *entry.error : batch);
        for (const auto& name : deleting)
            result.deleteResults.insert_or_assign(
                name, name.empty() ? CloudRecordStoreError(CloudErrorCode::invalidArguments, "empty record name")
                                   : batch);
        return result;
    }

    for (auto& entry : plan) {
        if (entry.error) {
            result.saveResults.insert_or_assign(entry.name, entry.error);
            continue;
        }
        try {
            writeFileAtomically(
                entry.path, recordToJSON(*entry.merged).dump(-1, ' ', false, json::error_handler_t::replace), write_);
            result.saveResults.insert_or_assign(entry.name, std::nullopt);
        } catch (const CloudRecordStoreError& error) {
            result.saveResults.insert_or_assign(entry.name, error);
        }
    }
    for (const auto& name : deleting) {
        try {
            checkName(name, "record name");
            removeFile(folder_ / "records" / (encodedName(name) + ".json"));
            result.deleteResults.insert_or_assign(name, std::nullopt);
        } catch (const CloudRecordStoreError& error) {
            result.deleteResults.insert_or_assign(name, error);
        }
    }
    return result;
}

void CloudRecordStoreDisk::deleteRecord(const std::string& recordName) {
    checkName(recordName, "record name");
    fs::path path = folder_ / "records" / (encodedName(recordName) + ".json");
    std::error_code ec;
    if (!fs::exists(folder_, ec)) throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Record not found");
    DatabaseLock lock(folder_, true);
    if (!removeFile(path)) throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Record not found");
}

CloudQuerySubscription CloudRecordStoreDisk::fetchSubscription(const std::string& subscriptionID) {
    checkName(subscriptionID, "subscription id");
    DatabaseLock lock(folder_, false);
    fs::path path = folder_ / "subscriptions" / (encodedName(subscriptionID) + ".json");
    auto text = readWholeFile(path);
    if (!text) throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Subscription not found");
    return subscriptionFromJSON(*text, path);
}

void CloudRecordStoreDisk::saveSubscription(const CloudQuerySubscription& subscription) {
    checkName(subscription.subscriptionID, "subscription id");
    if (subscription.recordType.empty())
        throw CloudRecordStoreError(CloudErrorCode::invalidArguments, "empty record type");
    DatabaseLock lock(folder_, true);
    writeFileAtomically(folder_ / "subscriptions" / (encodedName(subscription.subscriptionID) + ".json"),
                        subscriptionToJSON(subscription).dump(-1, ' ', false, json::error_handler_t::replace), write_);
}

void CloudRecordStoreDisk::deleteSubscription(const std::string& subscriptionID) {
    checkName(subscriptionID, "subscription id");
    std::error_code ec;
    if (!fs::exists(folder_, ec)) throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Subscription not found");
    DatabaseLock lock(folder_, true);
    if (!removeFile(folder_ / "subscriptions" / (encodedName(subscriptionID) + ".json")))
        throw CloudRecordStoreError(CloudErrorCode::unknownItem, "Subscription not found");
}

} // namespace brindleaf
