#include "qb/QbFiles.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace dm {

namespace {

[[noreturn]] void ThrowErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

void WriteAll(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            ThrowErrno("cannot write " + path);
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
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

std::optional<std::string> ReadWholeFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        ThrowErrno("cannot read " + path);
    }
    std::string bytes;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_size > 0) bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            ::close(fd);
            errno = saved;
            ThrowErrno("cannot read " + path);
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
    std::string temp = path + ".new";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) ThrowErrno("cannot write " + temp);
    try {
        WriteAll(fd, bytes, temp);
        if (::fsync(fd) != 0) ThrowErrno("cannot flush " + temp);
    } catch (...) {
        ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    ::close(fd);
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int saved = errno;
        ::unlink(temp.c_str());
        errno = saved;
        ThrowErrno("cannot replace " + path);
    }
    // The rename itself must survive a crash too.
    std::string dir = std::filesystem::path(path).parent_path().string();
    int dfd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
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
