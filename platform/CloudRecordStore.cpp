#include "platform/CloudRecordStore.hpp"

#include "platform/CloudRecordStoreDisk.hpp"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>
#include <utility>

namespace brindleaf {

CloudRecord::CloudRecord(std::string recordType, std::string recordName)
    : recordType_(std::move(recordType)), recordName_(std::move(recordName)) {}

const CloudValue* CloudRecord::value(const std::string& key) const {
    auto it = fields_.find(key);
    return it == fields_.end() ? nullptr : &it->second;
}

void CloudRecord::set(const std::string& key, CloudValue value) {
    fields_.insert_or_assign(key, std::move(value));
    changedKeys_.insert(key);
}

void CloudRecord::remove(const std::string& key) {
    fields_.erase(key);
    changedKeys_.insert(key);
}

std::string_view toString(CloudDatabaseScope scope) {
    switch (scope) {
    case CloudDatabaseScope::publicScope: return "public";
    case CloudDatabaseScope::sharedScope: return "shared";
    case CloudDatabaseScope::privateScope: return "private";
    }
    return "private";
}

std::filesystem::path CloudRecordStore::rootFolder() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    std::filesystem::path base;
    if (dataHome && *dataHome == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        std::string homePath = home && *home ? home : "";
        if (homePath.empty()) {
            if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) homePath = entry->pw_dir;
        }
        base = std::filesystem::path(homePath.empty() ? "/" : homePath) / ".local" / "share";
    }
    return base / "brindleaf" / "cloud";
}

std::shared_ptr<CloudRecordStore> CloudRecordStore::open(const std::string& containerIdentifier,
                                                         CloudDatabaseScope scope) {
    std::string container = containerIdentifier.empty() ? defaultContainerIdentifier : containerIdentifier;
    return std::make_shared<CloudRecordStoreDisk>(rootFolder() / CloudRecordStoreDisk::encodedName(container) /
                                                  std::string(toString(scope)));
}

} // namespace brindleaf
