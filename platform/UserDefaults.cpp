#include "platform/UserDefaults.hpp"

#include "platform/AtomicFile.hpp"
#include "platform/Base64.hpp"
#include "platform/Logger.hpp"
#include "platform/XdgDirectories.hpp"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindleaf {

namespace {

using json = nlohmann::json;

constexpr std::string_view lockFileName = ".defaults.lock";
constexpr std::size_t maximumSuiteFileSize = 16u << 20;

// Tags of the values JSON cannot hold directly. A dictionary whose only key is
// one of these is itself wrapped in a "$dict" object, so every value round-trips.
constexpr const char* dataTag = "$data";
constexpr const char* dictionaryTag = "$dict";
constexpr const char* doubleTag = "$double";

const Logger& log() {
    static const Logger logger("Defaults");
    return logger;
}

std::string errnoText(int code) { return std::string(std::strerror(code)); }

std::string base64Encode(const std::vector<std::uint8_t>& bytes) {
    return Base64::encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
    auto bytes = Base64::decode(text);
    if (!bytes) return std::nullopt;
    return std::vector<std::uint8_t>(bytes->begin(), bytes->end());
}

json encode(const DefaultsValue& value);

json encodeDictionary(const DefaultsValue::Dictionary& dictionary) {
    json object = json::object();
    for (const auto& [key, element] : dictionary) object[key] = encode(element);
    const bool looksTagged = dictionary.size() == 1 &&
        (dictionary.count(dataTag) || dictionary.count(dictionaryTag) || dictionary.count(doubleTag));
    if (looksTagged) return json{{dictionaryTag, std::move(object)}};
    return object;
}

json encode(const DefaultsValue& value) {
    return std::visit(
        [](const auto& v) -> json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::int64_t> ||
                          std::is_same_v<T, std::string>) {
                return json(v);
            } else if constexpr (std::is_same_v<T, double>) {
                if (std::isfinite(v)) return json(v);
                return json{{doubleTag, std::isnan(v) ? "nan" : (v > 0 ? "inf" : "-inf")}};
            } else if constexpr (std::is_same_v<T, DefaultsValue::Array>) {
                json array = json::array();
                for (const auto& element : v) array.push_back(encode(element));
                return array;
            } else if constexpr (std::is_same_v<T, DefaultsValue::Dictionary>) {
                return encodeDictionary(v);
            } else {
                return json{{dataTag, base64Encode(v.bytes)}};
            }
        },
        value.storage());
}

std::optional<DefaultsValue> decode(const json& node);

std::optional<DefaultsValue::Dictionary> decodeDictionary(const json& object) {
    DefaultsValue::Dictionary dictionary;
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (auto element = decode(it.value())) dictionary.emplace(it.key(), std::move(*element));
    }
    return dictionary;
}

std::optional<DefaultsValue> decode(const json& node) {
    switch (node.type()) {
    case json::value_t::boolean:
        return DefaultsValue(node.get<bool>());
    case json::value_t::number_integer:
        return DefaultsValue(node.get<std::int64_t>());
    case json::value_t::number_unsigned: {
        auto n = node.get<std::uint64_t>();
        if (n <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return DefaultsValue(static_cast<std::int64_t>(n));
        return DefaultsValue(static_cast<double>(n));
    }
    case json::value_t::number_float:
        return DefaultsValue(node.get<double>());
    case json::value_t::string:
        return DefaultsValue(node.get<std::string>());
    case json::value_t::array: {
        DefaultsValue::Array array;
        array.reserve(node.size());
        for (const auto& element : node) {
            if (auto decoded = decode(element)) array.push_back(std::move(*decoded));
        }
        return DefaultsValue(std::move(array));
    }
    case json::value_t::object: {
        if (node.size() == 1) {
            auto it = node.begin();
            if (it.key() == dataTag && it.value().is_string()) {
                if (auto bytes = base64Decode(it.value().get_ref<const std::string&>()))
                    return DefaultsValue(DefaultsValue::Data{std::move(*bytes)});
                return std::nullopt;
            }
            if (it.key() == dictionaryTag && it.value().is_object()) {
                return DefaultsValue(*decodeDictionary(it.value()));
            }
            if (it.key() == doubleTag && it.value().is_string()) {
                const auto& text = it.value().get_ref<const std::string&>();
                if (text == "nan") return DefaultsValue(std::numeric_limits<double>::quiet_NaN());
                if (text == "inf") return DefaultsValue(std::numeric_limits<double>::infinity());
                if (text == "-inf") return DefaultsValue(-std::numeric_limits<double>::infinity());
                return std::nullopt;
            }
        }
        return DefaultsValue(*decodeDictionary(node));
    }
    default:
        return std::nullopt;
    }
}

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

bool lockExclusive(int fd) {
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

void unlock(int fd) { ::flock(fd, LOCK_UN); }

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
    static const std::shared_ptr<UserDefaults> suite = [] {
        auto opened = open(std::string(standardSuiteName));
        if (opened) return opened;
        log().error("defaults.open.failed suite=" + std::string(standardSuiteName) + " fallback=memory");
        return inMemory(std::string(standardSuiteName));
    }();
    return suite;
}

std::shared_ptr<UserDefaults> UserDefaults::open(const std::string& suiteName) {
    return open(suiteName, defaultFolder());
}

std::shared_ptr<UserDefaults> UserDefaults::open(const std::string& suiteName, const std::filesystem::path& folder) {
    if (!isUsableSuiteName(suiteName) || folder.empty()) return nullptr;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error)) {
        log().error("defaults.open.failed suite=" + suiteName + " error=" + (error ? error.message() : "not a folder"));
        return nullptr;
    }
    const auto lockPath = folder / lockFileName;
    int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) fd = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        log().error("defaults.open.failed suite=" + suiteName + " error=" + errnoText(errno));
        return nullptr;
    }
    if (!lockExclusive(fd)) {
        log().error("defaults.open.failed suite=" + suiteName + " error=" + errnoText(errno));
        ::close(fd);
        return nullptr;
    }
    unlock(fd);
    return std::shared_ptr<UserDefaults>(new UserDefaults(suiteName, folder, fd));
}

std::shared_ptr<UserDefaults> UserDefaults::inMemory(const std::string& suiteName) {
    return std::shared_ptr<UserDefaults>(new UserDefaults(suiteName, {}, -1));
}

UserDefaults::UserDefaults(std::string suiteName, std::filesystem::path folder, int lockDescriptor)
    : suiteName_(std::move(suiteName)), folder_(std::move(folder)), lockDescriptor_(lockDescriptor) {
    if (!folder_.empty()) filePath_ = folder_ / (suiteName_ + ".json");
}

UserDefaults::~UserDefaults() {
    if (lockDescriptor_ >= 0) ::close(lockDescriptor_);
}

bool UserDefaults::refreshLocked(bool force) const {
    if (filePath_.empty()) return true;
    FileSignature current;
    struct stat info {};
    if (::stat(filePath_.c_str(), &info) == 0) {
        current = FileSignature{info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim),
                                nanoseconds(info.st_ctim), true};
    } else if (errno != ENOENT) {
        // The file cannot be examined now; keep what was read last.
        log().error("defaults.read.failed suite=" + suiteName_ + " error=" + errnoText(errno));
        return false;
    }
    if (!force && signature_ && *signature_ == current) return true;
    if (!current.exists) {
        signature_ = current;
        values_.clear();
        return true;
    }

    int error = 0;
    auto text = readWholeFile(filePath_, error);
    if (!text) {
        log().error("defaults.read.failed suite=" + suiteName_ + " error=" + errnoText(error));
        return false;
    }
    signature_ = current;
    values_.clear();
    json document = json::parse(*text, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        // A hand-edited file that is not a JSON object holds no usable value.
        log().error("defaults.read.failed suite=" + suiteName_ + " error=malformed");
        return true;
    }
    if (auto decoded = decodeDictionary(document)) values_ = std::move(*decoded);
    return true;
}

bool UserDefaults::writeLocked(const DefaultsValue::Dictionary& values) {
    json document = json::object();
    for (const auto& [key, value] : values) document[key] = encode(value);
    std::string text = document.dump(2, ' ', false, json::error_handler_t::replace);
    text += '\n';

    if (auto failure = AtomicFile::replaceContents(filePath_, text)) {
        log().error("defaults.write.failed suite=" + suiteName_ + " error=" + errnoText(failure->error));
        return false;
    }
    return true;
}

template <typename Change>
bool UserDefaults::change(Change&& apply) {
    std::lock_guard guard(mutex_);
    if (filePath_.empty()) {
        apply(values_);
        return true;
    }
    if (!lockExclusive(lockDescriptor_)) {
        log().error("defaults.lock.failed suite=" + suiteName_ + " error=" + errnoText(errno));
        return false;
    }
    // Always read again under the lock: a signature can repeat across quick
    // replacements (inode reuse, coarse timestamps), a fresh read cannot.
    if (!refreshLocked(true)) {
        unlock(lockDescriptor_);
        return false;
    }
    DefaultsValue::Dictionary updated = values_;
    apply(updated);
    bool ok = true;
    if (updated != values_) {
        ok = writeLocked(updated);
        values_ = std::move(updated);
        if (ok) {
            // What is now on disk is exactly values_.
            signature_.reset();
            struct stat info {};
            if (::stat(filePath_.c_str(), &info) == 0) {
                signature_ = FileSignature{info.st_dev, info.st_ino, info.st_size, nanoseconds(info.st_mtim),
                                           nanoseconds(info.st_ctim), true};
            }
        }
    }
    unlock(lockDescriptor_);
    return ok;
}

std::optional<DefaultsValue> UserDefaults::object(const std::string& key) const {
    std::lock_guard guard(mutex_);
    refreshLocked();
    auto it = values_.find(key);
    if (it == values_.end()) return std::nullopt;
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
    return values_;
}

bool UserDefaults::set(const std::string& key, DefaultsValue value) {
    return change([&](DefaultsValue::Dictionary& values) { values[key] = std::move(value); });
}

bool UserDefaults::remove(const std::string& key) {
    return change([&](DefaultsValue::Dictionary& values) { values.erase(key); });
}

bool UserDefaults::removePersistentDomain() {
    std::lock_guard guard(mutex_);
    values_.clear();
    if (filePath_.empty()) return true;
    if (!lockExclusive(lockDescriptor_)) {
        log().error("defaults.lock.failed suite=" + suiteName_ + " error=" + errnoText(errno));
        return false;
    }
    bool ok = ::unlink(filePath_.c_str()) == 0 || errno == ENOENT;
    int error = errno;
    signature_ = FileSignature{};
    unlock(lockDescriptor_);
    if (!ok) log().error("defaults.remove.failed suite=" + suiteName_ + " error=" + errnoText(error));
    return ok;
}

} // namespace brindleaf
