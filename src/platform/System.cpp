#include "platform/System.h"

#include "core/General.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>
#include <QUrl>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <filesystem>
#include <system_error>

namespace dm {

namespace {

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

// "*" matches any run of characters, "?" any one.
bool MatchesMask(std::string_view name, std::string_view mask) {
    size_t n = 0, m = 0, starMask = std::string_view::npos, starName = 0;
    while (n < name.size()) {
        if (m < mask.size() && (mask[m] == '?' || mask[m] == name[n])) {
            ++n;
            ++m;
        } else if (m < mask.size() && mask[m] == '*') {
            starMask = m++;
            starName = n;
        } else if (starMask != std::string_view::npos) {
            m = starMask + 1;
            n = ++starName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == '*') ++m;
    return m == mask.size();
}

ShellOpener& Opener() {
    static ShellOpener opener;
    return opener;
}

} // namespace

std::string AppDataFolder() {
    std::string folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).toStdString();
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

std::string TempFolder() { return WithSlash(QDir::tempPath().toStdString()); }

std::string ExecutablePath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

std::string ExecutableFolder() {
    std::string path = ExecutablePath();
    return path.empty() ? std::string("./") : path.substr(0, path.rfind('/') + 1);
}

std::string ComputerName() { return QSysInfo::machineHostName().toStdString(); }

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::string LocalIpAddress() {
    struct ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return "127.0.0.1";
    std::string address = "127.0.0.1";
    for (struct ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        char text[INET_ADDRSTRLEN] = {};
        auto* in = reinterpret_cast<struct sockaddr_in*>(i->ifa_addr);
        if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
            address = text;
            break;
        }
    }
    ::freeifaddrs(list);
    return address;
}

std::string WindowsUserName(const std::string& fallback) {
    struct passwd pw;
    struct passwd* result = nullptr;
    char buffer[4096];
    if (getpwuid_r(getuid(), &pw, buffer, sizeof buffer, &result) == 0 && result && pw.pw_name &&
        *pw.pw_name)
        return pw.pw_name;
    return fallback;
}

std::int64_t FileSizeOf(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool ListFiles(const std::string& folder, const std::string& mask, std::vector<std::string>& list) {
    QDir dir(QString::fromStdString(folder));
    if (!dir.exists() || !dir.isReadable()) return false;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec);
    if (ec) return false;
    const std::string prefix = WithSlash(folder);
    for (const auto& entry : it) {
        std::error_code typeError;
        if (entry.is_directory(typeError)) continue;
        std::string name = entry.path().filename().string();
        if (MatchesMask(name, mask)) list.push_back(prefix + name);
    }
    return true;
}

ShellOpener SetShellOpener(ShellOpener opener) {
    ShellOpener previous = std::move(Opener());
    Opener() = std::move(opener);
    return previous;
}

bool IsWebAddress(std::string_view address) {
    std::string_view rest;
    if (address.size() > 7 && EqualsNoCase(address.substr(0, 7), "http://")) rest = address.substr(7);
    else if (address.size() > 8 && EqualsNoCase(address.substr(0, 8), "https://")) rest = address.substr(8);
    else return false;
    for (char c : address) {
        auto b = static_cast<unsigned char>(c);
        // Control bytes and blanks: a URL has none, an argument smuggled into one has.
        if (b <= 32 || b == 127 || c == '"' || c == '\\' || c == '`') return false;
    }
    size_t hostEnd = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, hostEnd);
    if (authority.find('@') != std::string_view::npos) return false; // no user:password@ in front of the host
    return !authority.empty() && authority[0] != ':';
}

TFileKind ShellFileKind(const std::string& path) {
    const QString file = QString::fromStdString(path);
    QFileInfo info(file);
    if (!info.exists() || !info.isFile()) return TFileKind::Missing;
    static const QMimeDatabase mimes;
    const QMimeType type = mimes.mimeTypeForFile(info, QMimeDatabase::MatchDefault);
    for (const char* program : {"application/x-executable", "application/x-pie-executable", "application/x-sharedlib",
                                "application/x-desktop", "application/x-shellscript"})
        if (type.inherits(QString::fromLatin1(program))) return TFileKind::Program;
    QFile f(file);
    if (f.open(QIODevice::ReadOnly) && f.read(2) == "#!") return TFileKind::Program;
    return TFileKind::Document;
}

bool ShellOpen(const std::string& target, const std::string& workingFolder) {
    if (Opener()) {
        Opener()(target);
        return true;
    }
    const QString t = QString::fromStdString(target);
    const QString folder = QString::fromStdString(workingFolder);
    if (IsWebAddress(target)) return QProcess::startDetached(QStringLiteral("xdg-open"), {t});
    switch (ShellFileKind(target)) {
    case TFileKind::Missing: return false;
    case TFileKind::Program:
        // A .desktop entry is started the way the desktop starts one, anything else directly.
        if (t.endsWith(QLatin1String(".desktop")))
            return QProcess::startDetached(QStringLiteral("gio"), {"launch", t}, folder);
        return QProcess::startDetached(QFileInfo(t).absoluteFilePath(), {}, folder);
    case TFileKind::Document:
        return QProcess::startDetached(QStringLiteral("xdg-open"),
                                       {QUrl::fromLocalFile(QFileInfo(t).absoluteFilePath()).toString()}, folder);
    }
    return false;
}

bool OpenWebAddress(const std::string& address) {
    if (!IsWebAddress(address)) return false;
    return ShellOpen(address);
}

std::string CreatePrivateTempFolder(const std::string& prefix) {
    std::string pattern = TempFolder() + prefix + "XXXXXX";
    // mkdtemp makes it 0700 whatever the umask.
    if (!::mkdtemp(pattern.data())) return {};
    return pattern + "/";
}

std::FILE* CreatePrivateFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    if (::fchmod(fd, 0600) != 0) {
        int err = errno;
        ::close(fd);
        errno = err;
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        int err = errno;
        ::close(fd);
        errno = err;
    }
    return f;
}

namespace {
[[noreturn]] void ThrowErrnoAbout(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}
} // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return std::nullopt;
        ThrowErrnoAbout("cannot read " + path);
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
            ThrowErrnoAbout("cannot read " + path);
        }
        if (n == 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return bytes;
}

std::string FinalLinkTarget(const std::string& path) {
    std::string current = path;
    // As the kernel does: a chain longer than this is a loop.
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::error_code ec;
        std::filesystem::path target = std::filesystem::read_symlink(current, ec);
        if (ec) return current;
        if (target.is_relative()) target = std::filesystem::path(current).parent_path() / target;
        current = target.lexically_normal().string();
    }
    throw std::system_error(ELOOP, std::generic_category(), "resolve " + path);
}

namespace {

const char* const kReplacementMark = ".tmp-";

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

} // namespace

void ReplaceFileAtomically(const std::string& path, std::string_view bytes) {
    static std::atomic<unsigned> counter{0};
    // The sibling must lie beside the file that is replaced, or the rename would move the
    // link's target into the link's folder (or fail across file systems).
    const std::string target = FinalLinkTarget(path);
    struct stat old;
    if (::stat(target.c_str(), &old) == 0) {
        // The owner made it read-only; the folder's permission would let the rename through.
        if (::access(target.c_str(), W_OK) != 0 || (old.st_mode & 0222) == 0)
            throw std::system_error(EACCES, std::generic_category(), "replace " + target);
    }
    const std::string sibling =
        target + kReplacementMark + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    auto fail = [&](const char* what) {
        int err = errno;
        ::unlink(sibling.c_str());
        throw std::system_error(err, std::generic_category(), std::string(what) + " " + target);
    };
    int fd = ::open(sibling.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "create " + target);
    // The umask may have taken more; it never gives more than 0600 here.
    ::fchmod(fd, 0600);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            fail("write");
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0) {
        ::close(fd);
        fail("flush");
    }
    if (::close(fd) != 0) fail("close");
    if (::rename(sibling.c_str(), target.c_str()) != 0) fail("rename");
    // The rename itself must survive a crash too.
    int dirFd = ::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

int RemoveStaleReplacements(const std::string& path) {
    std::string target;
    try {
        target = FinalLinkTarget(path);
    } catch (const std::system_error&) {
        return 0;
    }
    const std::string folder = FolderOf(target);
    const std::string prefix = target.substr(target.rfind('/') + 1) + kReplacementMark;
    std::vector<std::string> found;
    if (!ListFiles(folder, prefix + "*", found)) return 0;
    int removed = 0;
    for (const std::string& file : found) {
        std::string_view rest = std::string_view(file).substr(file.rfind('/') + 1 + prefix.size());
        // "PID-N": only a sibling of a process that is gone (or of this one: its own saves
        // have ended, or they would not be here) is stale; a live writer may still rename its own.
        size_t dash = rest.find('-');
        std::optional<int> pid = ParseInteger(rest.substr(0, dash));
        if (dash == std::string_view::npos || !pid || *pid <= 0 || !ParseInteger(rest.substr(dash + 1))) continue;
        bool gone = *pid == ::getpid() || (::kill(*pid, 0) != 0 && errno == ESRCH);
        if (gone && ::unlink(file.c_str()) == 0) ++removed;
    }
    return removed;
}

} // namespace dm
