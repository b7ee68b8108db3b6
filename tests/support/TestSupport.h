#pragma once

#include <filesystem>
#include <string>

namespace dmtest {

// A fresh folder under the system temporary folder, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // The folder as the system's folder texts are written: ending with "/".
    std::string Folder() const { return path_.string() + "/"; }

private:
    std::filesystem::path path_;
};

std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

} // namespace dmtest
