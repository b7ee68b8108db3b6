#include "qb/QbFiles.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace dm {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

} // namespace

std::string DefaultQuickBooksHome() {
    std::string folder;
    if (const char* home = std::getenv("INVARA_QB_HOME"); home && *home) {
        folder = home;
    } else {
        if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data) {
            folder = data;
        } else {
            const char* user = std::getenv("HOME");
            folder = std::string(user ? user : ".") + "/.local/share";
        }
        folder += "/invara-qbsim";
    }
    if (folder.back() != '/') folder += '/';
    return folder;
}

TFileLock::TFileLock(const std::string& path, TMode mode) {
    std::string lockPath = path + ".lck";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) ThrowErrno("cannot open " + lockPath);
    int op = mode == TMode::Shared ? LOCK_SH : LOCK_EX;
    while (::flock(fd_, op) != 0) {
        if (errno == EINTR) continue;
        int saved = errno;
        ::close(fd_);
        errno = saved;
        ThrowErrno("cannot lock " + lockPath);
    }
}

TFileLock::~TFileLock() {
    if (fd_ >= 0) ::close(fd_); // closing releases the lock
}

std::optional<TFileStamp> StampOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    TFileStamp stamp;
    stamp.Device = static_cast<std::uint64_t>(st.st_dev);
    stamp.Inode = static_cast<std::uint64_t>(st.st_ino);
    stamp.Size = static_cast<std::uint64_t>(st.st_size);
    stamp.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return stamp;
}

} // namespace dm
