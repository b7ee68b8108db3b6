#pragma once

// Files that several processes share: the QuickBooks folder's state and its company files
// are read and changed under an advisory lock on a sibling ".lck" file and replaced
// atomically (ReplaceFileAtomically), so that the command line can change a file while the agent holds a session.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dm {

// INVARA_QB_HOME when set, else "invara-qbsim/" in the user's data folder ($XDG_DATA_HOME or
// ~/.local/share). Ends with "/".
std::string DefaultQuickBooksHome();

// flock() on "<path>.lck", held for the object's lifetime. Locks of one process on the same
// file exclude each other too, so never nest two locks of one file.
class TFileLock {
public:
    enum class TMode { Shared, Exclusive };
    TFileLock(const std::string& path, TMode mode);
    ~TFileLock();
    TFileLock(const TFileLock&) = delete;
    TFileLock& operator=(const TFileLock&) = delete;

private:
    int fd_ = -1;
};


// Identifies one version of a file: an atomic replacement always changes the inode.
struct TFileStamp {
    std::uint64_t Device = 0, Inode = 0, Size = 0;
    std::int64_t ModifiedNs = 0;
    bool operator==(const TFileStamp&) const = default;
};
std::optional<TFileStamp> StampOf(const std::string& path);

} // namespace dm
