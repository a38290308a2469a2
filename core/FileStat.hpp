#pragma once

#include "core/Date.hpp"

#include <cstdint>
#include <optional>
#include <string>

namespace brindleaf {

// A path's size and last modification time, from one stat() call.
namespace FileStat {

struct Info {
    uint64_t size = 0;   // bytes; a negative size reported by stat is stored as 0
    Date modifiedAt = 0; // st_mtim seconds + nanoseconds / 1e9

    bool operator==(const Info&) const = default;
};

// One stat() of the path (symbolic links followed); absent on any failure.
std::optional<Info> info(const std::string& path);

// The modifiedAt of info(path), absent when that is absent.
std::optional<Date> modificationDate(const std::string& path);

} // namespace FileStat

} // namespace brindleaf
