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

bool ShellOpen(const std::string& target) {
    if (Opener()) {
        Opener()(target);
        return true;
    }
    const QString t = QString::fromStdString(target);
    if (IsWebAddress(target)) return QProcess::startDetached(QStringLiteral("xdg-open"), {t});
    switch (ShellFileKind(target)) {
    case TFileKind::Missing: return false;
    case TFileKind::Program:
        // A .desktop entry is started the way the desktop starts one, anything else directly.
        if (t.endsWith(QLatin1String(".desktop"))) return QProcess::startDetached(QStringLiteral("gio"), {"launch", t});
        return QProcess::startDetached(QFileInfo(t).absoluteFilePath(), {});
    case TFileKind::Document:
        return QProcess::startDetached(QStringLiteral("xdg-open"), {QUrl::fromLocalFile(QFileInfo(t).absoluteFilePath()).toString()});
    }
    return false;
}

bool OpenWebAddress(const std::string& address) {
    if (!IsWebAddress(address)) return false;
    return ShellOpen(address);
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

void ReplaceFileAtomically(const std::string& path, const std::string& bytes) {
    static std::atomic<unsigned> counter{0};
    const std::string sibling =
        path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    auto fail = [&](const char* what) {
        int err = errno;
        ::unlink(sibling.c_str());
        throw std::system_error(err, std::generic_category(), std::string(what) + " " + path);
    };
    int fd = ::open(sibling.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) throw std::system_error(errno, std::generic_category(), "create " + path);
    // A file that already exists keeps the permissions its owner gave it.
    struct stat old;
    if (::stat(path.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
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
    if (::rename(sibling.c_str(), path.c_str()) != 0) fail("rename");
    std::string folder = path.substr(0, path.rfind('/') + 1);
    int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace dm
