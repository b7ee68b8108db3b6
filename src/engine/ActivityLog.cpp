#include "engine/ActivityLog.h"

#include "core/General.h"
#include "platform/DateTimeText.h"
#include "platform/System.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace dm {

TActivityLog::TActivityLog(std::string storageFolder, const bool& noLogs, Clock clock)
    : folder_(std::move(storageFolder)), noLogs_(noLogs), clock_(std::move(clock)) {}

TActivityLog::~TActivityLog() { Close(); }

std::string TActivityLog::Timestamp() const { return DateTimeText(clock_()); }

void TActivityLog::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void TActivityLog::Write(std::string_view bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throw std::system_error(errno, std::generic_category(), "write " + folder_ + "log.txt");
        }
        done += static_cast<size_t>(n);
    }
}

void TActivityLog::BeginLogSession(std::string_view billerId) {
    Close(); // a session left open is ended as failed (no end line)
    if (noLogs_) return;

    const std::string current = folder_ + "log.txt";
    if (FileSizeOf(current) >= LogRotationSize) {
        for (int n = 1;; ++n) {
            std::string rotated = folder_ + "log_" + std::to_string(n) + ".txt";
            if (::access(rotated.c_str(), F_OK) == 0) continue;
            // When the rename fails the old log is kept and appended to: it is never emptied.
            // Said once, not at every session, so that a stuck folder does not flood stderr.
            if (::rename(current.c_str(), rotated.c_str()) != 0 && !toldRotation_) {
                toldRotation_ = true;
                std::fprintf(stderr, "activity log: cannot rotate %s to %s (%s); appending to it\n", current.c_str(),
                             rotated.c_str(), std::strerror(errno));
            }
            break;
        }
    }
    fd_ = ::open(current.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "open " + current);

    Write(LogBeginLine(Timestamp(), billerId));
}

void TActivityLog::LogLine(std::string_view message, std::string_view details) {
    if (fd_ < 0) return;
    Write(LogEventLine(Timestamp(), message));
    // Details can be a whole message of many megabytes: written as they are, not copied.
    if (!details.empty()) {
        Write(details);
        Write("\r\n");
    }
}

void TActivityLog::EndLogSession(bool failed) {
    if (fd_ < 0) return;
    if (!failed) {
        try {
            Write(LogEndLine(Timestamp()));
        } catch (...) {
            Close();
            throw;
        }
    }
    Close();
}

void PruneLogs(const std::string& storageFolder) {
    std::vector<std::string> files;
    ListFiles(storageFolder, "log_*.txt", files);
    if (files.size() <= 10) return;
    std::vector<unsigned long long> numbers;
    for (const std::string& path : files) {
        std::string name = path.substr(path.rfind('/') + 1);
        std::string part = name.substr(4, name.size() - 8); // between "log_" and ".txt"
        unsigned long long n = 0;
        auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), n);
        // Only what rotation makes: a positive number without leading zeros.
        if (part.empty() || ec != std::errc() || end != part.data() + part.size() || n == 0 || part[0] == '0')
            continue;
        numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    if (numbers.size() <= 10) return;
    for (size_t i = 0; i + 10 < numbers.size(); ++i) {
        std::string victim = storageFolder + "log_" + std::to_string(numbers[i]) + ".txt";
        ::unlink(victim.c_str()); // a file that cannot be deleted stays
    }
}

} // namespace dm
