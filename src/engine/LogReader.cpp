#include "engine/LogReader.h"

#include "core/General.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace dm {

namespace {

constexpr size_t ReadBlock = 256 * 1024;

std::string_view WithoutEventPrefix(std::string_view line) {
    if (line.starts_with(LogEventPrefix)) line.remove_prefix(LogEventPrefix.size());
    return line;
}

bool IsWebResponse(std::string_view message) { return message.starts_with(WebResponsePrefix); }

// " at" before the first blank: "12/5/2023 10:15:00 AM" -> "12/5/2023 at 10:15:00 AM".
std::string WithAt(std::string_view dateTime) {
    std::string out(dateTime);
    size_t blank = out.find(' ');
    if (blank != std::string::npos) out.insert(blank, " at");
    return out;
}

} // namespace

std::string_view EventListText(std::string_view line) {
    std::string_view text = TrimBlanks(WithoutEventPrefix(line));
    size_t blank = text.find(' ');
    if (blank != std::string_view::npos) text.remove_prefix(blank + 1);
    return TrimBlanks(text);
}

std::string_view EventMessage(std::string_view line) {
    std::string_view text = WithoutEventPrefix(line);
    size_t hash = text.find('#');
    if (hash != std::string_view::npos) text.remove_prefix(hash + 1);
    return TrimBlanks(text);
}

std::string SessionLabel(std::string_view text) {
    size_t hash = text.find('#');
    std::string label;
    if (hash == std::string_view::npos) {
        label = WithAt(TrimBlanks(text));
    } else {
        label = std::string(TrimBlanks(text.substr(hash + 1))) + " on " + WithAt(TrimBlanks(text.substr(0, hash)));
    }
    return label;
}

TLogLineReader::~TLogLineReader() {
    if (fd_ >= 0) ::close(fd_);
}

bool TLogLineReader::Open(const std::string& path, std::int64_t offset, std::int64_t lineNumber) {
    if (fd_ >= 0) ::close(fd_);
    begin_ = end_ = 0;
    eof_ = false;
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st {};
    size_ = ::fstat(fd_, &st) == 0 ? st.st_size : 0;
    if (offset > 0 && ::lseek(fd_, offset, SEEK_SET) != offset) {
        ::close(fd_);
        fd_ = -1;
        return false;
    }
    position_ = lineOffset_ = offset;
    lineNumber_ = lineNumber;
    return true;
}

bool TLogLineReader::Fill() {
    if (fd_ < 0) return false;
    if (begin_ > 0) {
        std::memmove(buffer_.data(), buffer_.data() + begin_, end_ - begin_);
        end_ -= begin_;
        begin_ = 0;
    }
    // A line longer than the buffer makes it grow to the line's size, no further.
    if (buffer_.size() - end_ < ReadBlock / 2) buffer_.resize(std::max(ReadBlock, buffer_.size() * 2));
    for (;;) {
        ssize_t n = ::read(fd_, buffer_.data() + end_, buffer_.size() - end_);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        end_ += static_cast<size_t>(n);
        return true;
    }
}

bool TLogLineReader::Next(std::string_view& line) {
    size_t searched = 0; // bytes of the unread data already known to hold no LF
    for (;;) {
        const char* start = buffer_.data() + begin_;
        const size_t available = end_ - begin_;
        const void* lf = std::memchr(start + searched, '\n', available - searched);
        size_t length = 0, used = 0;
        if (lf) {
            length = static_cast<size_t>(static_cast<const char*>(lf) - start);
            used = length + 1;
            if (length > 0 && start[length - 1] == '\r') --length;
        } else if (eof_ || !Fill()) {
            eof_ = true;
            if (available == 0) return false;
            start = buffer_.data() + begin_;
            length = used = available;
        } else {
            searched = available;
            continue;
        }
        line = std::string_view(start, length);
        lineOffset_ = position_;
        position_ += static_cast<std::int64_t>(used);
        begin_ += used;
        ++lineNumber_;
        return true;
    }
}

TFileCopy::TFileCopy(const std::string& from, const std::string& to) {
    from_ = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (from_ < 0) return;
    struct stat st {};
    size_ = ::fstat(from_, &st) == 0 ? st.st_size : 0;
    to_ = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (to_ < 0) Close();
}

TFileCopy::~TFileCopy() { Close(); }

void TFileCopy::Close() {
    if (from_ >= 0) ::close(from_);
    if (to_ >= 0) ::close(to_);
    from_ = to_ = -1;
}

bool TFileCopy::Step(std::int64_t bytes) {
    if (from_ < 0) return true;
    std::int64_t done = 0;
    // The kernel copies without passing the bytes through here, where the file system lets it.
    while (kernelCopy_ && done < bytes) {
        ssize_t n = ::copy_file_range(from_, nullptr, to_, nullptr, static_cast<size_t>(bytes - done), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            kernelCopy_ = false;
            break;
        }
        if (n == 0) {
            Close();
            return true;
        }
        done += n;
        copied_ += n;
    }
    buffer_.resize(ReadBlock * 4);
    while (done < bytes) {
        ssize_t n = ::read(from_, buffer_.data(), buffer_.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            Close();
            return true;
        }
        for (ssize_t written = 0; written < n;) {
            ssize_t w = ::write(to_, buffer_.data() + written, static_cast<size_t>(n - written));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                Close();
                return true;
            }
            written += w;
        }
        done += n;
        copied_ += n;
    }
    return false;
}

int TFileCopy::Percent() const {
    if (from_ < 0 || size_ <= 0) return 100;
    return static_cast<int>(std::clamp<std::int64_t>(copied_ * 100 / size_, 0, 100));
}

void TLogScan::Begin(const std::string& path, std::int64_t offset, std::int64_t lineNumber) {
    from_ = offset;
    done_ = !reader_.Open(path, offset, lineNumber);
}

bool TLogScan::Step(std::int64_t bytes) {
    const std::int64_t until = reader_.Position() + bytes;
    std::string_view line;
    while (!done_) {
        if (!reader_.Next(line) || !Line(line, ClassifyLogLine(line))) {
            done_ = true;
            break;
        }
        if (reader_.Position() >= until) break;
    }
    return done_;
}

int TLogScan::Percent() const {
    const std::int64_t range = reader_.Size() - from_;
    if (done_ || range <= 0) return 100;
    return static_cast<int>(std::clamp<std::int64_t>((reader_.Position() - from_) * 100 / range, 0, 100));
}

bool TSessionScan::Line(std::string_view line, TLogLineKind kind) {
    if (kind == TLogLineKind::SessionStart) {
        Sessions.push_back({std::string(line.substr(std::strlen(LogSessionBeginMarker))), false,
                            reader_.LineNumber(), reader_.LineOffset()});
    } else if (kind == TLogLineKind::SessionEnd && !Sessions.empty()) {
        Sessions.back().Completed = true;
    }
    return true;
}

TEventScan::TEventScan(const std::string& path, const TLogSession& session) {
    Begin(path, session.Offset, session.Line);
}

bool TEventScan::Line(std::string_view line, TLogLineKind kind) {
    if (first_) {
        first_ = false;
        return kind == TLogLineKind::SessionStart; // anything else: the file is not the one listed
    }
    if (kind == TLogLineKind::SessionStart || kind == TLogLineKind::SessionEnd) return false;
    if (kind == TLogLineKind::Event) {
        const bool web = IsWebResponse(EventMessage(line));
        if (web && inRun_) return true;
        inRun_ = web;
        Events.push_back({std::string(EventListText(line)), reader_.LineNumber(), reader_.LineOffset()});
    }
    return true;
}

TEventDetailScan::TEventDetailScan(const std::string& path, const TLogEvent& event) {
    Begin(path, event.Offset, event.Line);
}

bool TEventDetailScan::Line(std::string_view line, TLogLineKind kind) {
    if (first_) {
        first_ = false;
        if (kind != TLogLineKind::Event) return false;
        std::string_view message = EventMessage(line);
        if (IsWebResponse(message)) {
            run_ = true;
            Detail.append(message.substr(WebResponsePrefix.size()));
            Detail.append(LogLineEnd);
        }
        return true;
    }
    if (kind == TLogLineKind::Detail) {
        Detail.append(line);
        Detail.append(LogLineEnd);
        return true;
    }
    if (kind != TLogLineKind::Event || !run_) return false;
    std::string_view message = EventMessage(line);
    if (!IsWebResponse(message)) return false;
    std::string_view text = message.substr(WebResponsePrefix.size());
    // The run's first text is not compared: only repeats within the rest are left out.
    if (!previous_ || *previous_ != text) {
        Detail.append(text);
        Detail.append(LogLineEnd);
        previous_ = std::string(text);
    }
    return true;
}

TSessionTextScan::TSessionTextScan(const std::string& path, const TLogSession& session) {
    Begin(path, session.Offset, session.Line);
}

bool TSessionTextScan::Line(std::string_view line, TLogLineKind kind) {
    if (first_) {
        first_ = false;
        if (kind != TLogLineKind::SessionStart) return false;
    } else if (kind == TLogLineKind::SessionStart) {
        return false;
    }
    AppendHex(Hex, line);
    AppendHex(Hex, LogLineEnd);
    return kind != TLogLineKind::SessionEnd;
}

} // namespace dm
