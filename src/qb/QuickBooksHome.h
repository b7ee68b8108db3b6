#pragma once

// A QuickBooks installation of the stand-in: a folder whose state file says whether
// QuickBooks runs, which company file is open and how, whether a modal dialog blocks it and
// which integrated applications hold sessions. Every process that uses the folder (the agent's
// request processor, the command line, tests) reads and changes it under a lock.

#include "qb/CompanyFile.h"
#include "qb/QbFiles.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

struct TQbSessionRecord {
    std::string Ticket, AppName, File;
    long Pid = 0;
};

struct TQbState {
    bool Running = false;
    std::string CompanyFile; // the open company file, "" when none
    bool MultiUser = false;
    // Opened by an integrated application while QuickBooks was closed: it closes again with
    // the last session.
    bool Background = false;
    std::string Dialog; // the title of the modal dialog that blocks QuickBooks, "" when none
    std::vector<TQbSessionRecord> Sessions;

    static TQbState FromXml(std::string_view xml);
    std::string ToXml() const;
};

// One company file on disk, kept parsed between uses while no one else changes it.
class TCompanyFileStore {
public:
    explicit TCompanyFileStore(std::string path) : path_(std::move(path)) {}
    const std::string& Path() const { return path_; }

    // Runs use on the current content under the file's exclusive lock and writes the file
    // back when use returns true. Throws std::runtime_error when the file is missing or is
    // not a company file, and whatever use throws.
    void Use(const std::function<bool(TCompanyFile&)>& use);
    TCompanyFile Read();
    // Throws std::runtime_error when the file exists already.
    static void Create(const std::string& path, const TCompanyFile& file);

private:
    std::string path_;
    std::optional<TCompanyFile> cached_;
    TFileStamp stamp_;
};

class TQuickBooksHome {
public:
    // The folder is created when it does not exist.
    explicit TQuickBooksHome(std::string folder = DefaultQuickBooksHome());
    const std::string& Folder() const { return folder_; }
    std::string StatePath() const { return folder_ + "qbstate.xml"; }

    // Where a company file named on the command line lives: a bare name is a file in the
    // QuickBooks folder (".qbw" added when it has no extension); any other path is taken from
    // the current folder. Always absolute.
    std::string CompanyFilePath(std::string_view pathOrName) const;

    // Sessions of processes that have gone are dropped on the way.
    TQbState ReadState() const;
    void UpdateState(const std::function<void(TQbState&)>& change) const;

    // What the user does in QuickBooks. Each throws std::runtime_error with a message for the
    // user when it cannot be done.
    void Start() const;
    void Quit() const;
    void OpenCompanyFile(const std::string& path, bool multiUser) const;
    void CloseCompanyFile() const;
    void ShowDialog(const std::string& title) const;
    void ClearDialog() const;

private:
    std::string folder_;
};

// The same file however it is named; paths that do not exist are made absolute.
std::string CanonicalFilePath(std::string_view path);

} // namespace dm
