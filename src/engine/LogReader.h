#pragma once

// Reading the activity log back: its sessions, the events of one session, the detail of one
// event and the text of one session. A log can be far larger than anything a window may wait
// for, so each read is a scan that advances in steps of a given number of bytes; the caller
// decides how often to step. Memory stays with what a scan collects (a list of sessions, the
// events of one session, one event's detail) plus one line.

#include "engine/LogFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// "10:15:00 AM # message": an event line without "##" and its date.
std::string_view EventListText(std::string_view line);
// The trimmed text after the first "#" of an event line once "##" is removed.
std::string_view EventMessage(std::string_view line);
// From the text after the start marker, "12/5/2023 10:15:00 AM # 1234": "1234 on 12/5/2023 at
// 10:15:00 AM"; without a biller id just the date and time with " at" between them.
std::string SessionLabel(std::string_view text);

// The lines of a file from an offset on. A line ends at LF; a CR right before it is part of the
// line end. The last line may have no line end.
class TLogLineReader {
public:
    TLogLineReader() = default;
    ~TLogLineReader();
    TLogLineReader(const TLogLineReader&) = delete;
    TLogLineReader& operator=(const TLogLineReader&) = delete;

    // False when the file cannot be opened.
    bool Open(const std::string& path, std::int64_t offset = 0, std::int64_t lineNumber = 1);
    // The next line, valid until the next call; false at the end of the file or on a read error.
    bool Next(std::string_view& line);
    // Of the line Next gave last: its 1-based number and the offset where it begins.
    std::int64_t LineNumber() const { return lineNumber_ - 1; }
    std::int64_t LineOffset() const { return lineOffset_; }
    // Bytes consumed so far, and the file's size when it was opened.
    std::int64_t Position() const { return position_; }
    std::int64_t Size() const { return size_; }

private:
    bool Fill();

    int fd_ = -1;
    std::string buffer_;
    size_t begin_ = 0; // unread data is buffer_[begin_, end_)
    size_t end_ = 0;
    bool eof_ = false;
    std::int64_t position_ = 0;
    std::int64_t lineOffset_ = 0;
    std::int64_t lineNumber_ = 1;
    std::int64_t size_ = 0;
};

struct TLogSession {
    std::string Text;       // the start line after its marker
    bool Completed = false; // an end line followed
    std::int64_t Line = 0;  // 1-based number of the start line
    std::int64_t Offset = 0;
};

struct TLogEvent {
    std::string Text; // as EventListText gives it
    std::int64_t Line = 0;
    std::int64_t Offset = 0;
};

// Work on a file that advances in steps.
class TSlicedJob {
public:
    virtual ~TSlicedJob() = default;
    // Works through about `bytes` more bytes; true once the job has ended.
    virtual bool Step(std::int64_t bytes) = 0;
    // How far the job has come, 0 to 100.
    virtual int Percent() const = 0;
};

// A copy of a file as it is when the copy starts; a new file is readable by its owner only.
// A file that cannot be opened, read or written ends the copy where it stands.
class TFileCopy : public TSlicedJob {
public:
    TFileCopy(const std::string& from, const std::string& to);
    ~TFileCopy() override;
    TFileCopy(const TFileCopy&) = delete;
    TFileCopy& operator=(const TFileCopy&) = delete;
    bool Step(std::int64_t bytes) override;
    int Percent() const override;

private:
    void Close();
    int from_ = -1, to_ = -1;
    std::int64_t size_ = 0, copied_ = 0;
    bool kernelCopy_ = true;
    std::string buffer_;
};

// One pass over a log file.
class TLogScan : public TSlicedJob {
public:
    bool Step(std::int64_t bytes) override;
    bool Done() const { return done_; }
    // How far the scan has come through the part of the file it may read.
    int Percent() const override;

protected:
    // From the line that begins at offset (its number given); a file that cannot be read ends
    // the scan with nothing found.
    void Begin(const std::string& path, std::int64_t offset = 0, std::int64_t lineNumber = 1);
    // Each line in turn; false ends the scan.
    virtual bool Line(std::string_view line, TLogLineKind kind) = 0;
    TLogLineReader reader_;

private:
    bool done_ = false;
    std::int64_t from_ = 0;
};

// Every session of a file, in file order.
class TSessionScan : public TLogScan {
public:
    explicit TSessionScan(const std::string& path) { Begin(path); }
    std::vector<TLogSession> Sessions;

protected:
    bool Line(std::string_view line, TLogLineKind kind) override;
};

// The events of one session, a run of "Web response - " events listed once by its first.
class TEventScan : public TLogScan {
public:
    TEventScan(const std::string& path, const TLogSession& session);
    std::vector<TLogEvent> Events;

protected:
    bool Line(std::string_view line, TLogLineKind kind) override;

private:
    bool first_ = true;
    bool inRun_ = false;
};

// The detail of one event: its detail lines, and for the first of a "Web response - " run the
// texts of the whole run, an immediate repeat left out.
class TEventDetailScan : public TLogScan {
public:
    TEventDetailScan(const std::string& path, const TLogEvent& event);
    std::string Detail;

protected:
    bool Line(std::string_view line, TLogLineKind kind) override;

private:
    bool first_ = true;
    bool run_ = false;
    std::optional<std::string> previous_;
};

// The text of one session as support receives it: its lines, each with CR LF, up to and
// including an end line, as hexadecimal (two digits per byte).
class TSessionTextScan : public TLogScan {
public:
    TSessionTextScan(const std::string& path, const TLogSession& session);
    std::string Hex;

protected:
    bool Line(std::string_view line, TLogLineKind kind) override;

private:
    bool first_ = true;
};

} // namespace dm
