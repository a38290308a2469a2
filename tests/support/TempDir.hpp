#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brindleaf::testing {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view relative) const { return path_ / relative; }

    // Writes a file (creating its folders) and returns its path.
    std::filesystem::path write(std::string_view relative, std::string_view contents) const;

private:
    std::filesystem::path path_;
};

// Writes a whole file, creating its folders.
void writeFile(const std::filesystem::path& path, std::string_view contents);
std::string readFile(const std::filesystem::path& path);
// Sets a file's access and modification times to a Date (seconds since 1970).
void setFileTime(const std::filesystem::path& path, double secondsSince1970);

} // namespace brindleaf::testing
