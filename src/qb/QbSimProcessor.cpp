#include "qb/QbSimProcessor.h"

#include <cstdio>
#include <ctime>
#include <random>
#include <unistd.h>

namespace dm {

namespace {

std::string NewTicket() {
    static std::mt19937_64 random{std::random_device{}()};
    std::uint64_t a = random(), b = random();
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%04X-%012llX}", static_cast<unsigned>(a >> 32),
                  static_cast<unsigned>((a >> 16) & 0xFFFF), static_cast<unsigned>(a & 0xFFFF),
                  static_cast<unsigned>(b >> 48), static_cast<unsigned long long>(b & 0xFFFFFFFFFFFFull));
    return buffer;
}

constexpr const char* kModalDialog =
    "A modal dialog box is showing in the QuickBooks user interface. Your application cannot access "
    "QuickBooks until the user dismisses the dialog box.";
constexpr const char* kNeedFileName =
    "If QuickBooks is not running or has no company data file open, a call to the \"BeginSession\" method "
    "must include the name of the data file.";
constexpr const char* kOtherFileOpen =
    "A QuickBooks company data file is already open and it is different from the one requested.";
constexpr const char* kCouldNotOpen = "Could not open the specified QuickBooks company data file.";
constexpr const char* kWrongMode =
    "The QuickBooks company data file is currently open in a mode other than the one specified by your "
    "application.";
constexpr const char* kFirstAccess =
    "This application has not accessed this QuickBooks company data file before. Only the QuickBooks "
    "administrator can grant an application permission to access a QuickBooks company data file for the "
    "first time.";

} // namespace

TQbSimRequestProcessor::TQbSimRequestProcessor(std::string homeFolder) : home_(std::move(homeFolder)) {}

TQbSimRequestProcessor::~TQbSimRequestProcessor() {
    try {
        CloseConnection();
    } catch (...) {
        // A processor that goes away must not take its owner with it.
    }
}

void TQbSimRequestProcessor::OpenConnection(const std::string& appId, const std::string& appName) {
    connected_ = true;
    appName_ = appName;
}

std::string TQbSimRequestProcessor::BeginSession(const std::string& path, int mode) {
    if (!connected_)
        throw TQbError("Unexpected error. OpenConnection has not been called.", qbhr::Unexpected);
    std::string ticket = NewTicket();
    std::string file;
    TQbHostInfo host;
    home_.UpdateState([&](TQbState& s) {
        if (s.Running && !s.Dialog.empty()) throw TQbError(kModalDialog, qbhr::ModalDialog);
        bool openHere = s.Running && !s.CompanyFile.empty();
        if (path.empty()) {
            if (!openHere) throw TQbError(kNeedFileName, qbhr::NeedFileName);
            file = s.CompanyFile;
        } else {
            file = CanonicalFilePath(path);
            if (openHere && s.CompanyFile != file) throw TQbError(kOtherFileOpen, qbhr::OtherFileOpen);
        }
        TCompanyFile company;
        try {
            company = TCompanyFileStore(file).Read();
        } catch (const std::exception&) {
            throw TQbError(kCouldNotOpen, qbhr::CouldNotOpenFile);
        }
        if (openHere && ((mode == kQbFileOpenSingleUser && s.MultiUser) ||
                         (mode == kQbFileOpenMultiUser && !s.MultiUser)))
            throw TQbError(kWrongMode, qbhr::WrongFileMode);

        // Without QuickBooks open on the file nobody can log the application in but itself.
        bool unattended = !openHere || preferences_.UnattendedModePref() == 1;
        const TQbPermission* permission = company.Permission(appName_);
        if (!permission) throw TQbError(kFirstAccess, qbhr::FirstAccess);
        if (permission->Access == TQbAccess::Denied) throw TQbError(std::string(kQbMsgUserDenied), qbhr::UserDenied);
        if (permission->Access == TQbAccess::Revoked)
            throw TQbError(std::string(kQbMsgNoPermission), qbhr::NoPermission);
        if (unattended && !permission->AutoLogin) throw TQbError(std::string(kQbMsgNoAutoLogin), qbhr::NoAutoLogin);

        if (!openHere) {
            s.Running = true;
            s.CompanyFile = file;
            s.MultiUser = mode == kQbFileOpenMultiUser;
            s.Background = true;
        }
        host.AutomaticLogin = !openHere;
        host.MultiUser = s.MultiUser;
        s.Sessions.push_back({ticket, appName_, file, static_cast<long>(::getpid())});
    });
    TSession& session = sessions_[ticket];
    session.Store = std::make_unique<TCompanyFileStore>(file);
    session.Host = host;
    return ticket;
}

TQbSimRequestProcessor::TSession& TQbSimRequestProcessor::SessionOf(const std::string& ticket) {
    auto it = sessions_.find(ticket);
    if (it == sessions_.end()) throw TQbError("The ticket parameter is invalid.", qbhr::InvalidTicket);
    return it->second;
}

std::string TQbSimRequestProcessor::GetCurrentCompanyFileName(const std::string& ticket) {
    return SessionOf(ticket).Store->Path();
}

std::string TQbSimRequestProcessor::ProcessRequest(const std::string& ticket, const std::string& request) {
    TSession& session = SessionOf(ticket);
    // QuickBooks may have been closed under the session (the command line's close or quit).
    TQbState state = home_.ReadState();
    bool alive = false;
    for (const TQbSessionRecord& s : state.Sessions) alive = alive || s.Ticket == ticket;
    if (!alive) throw TQbError("Could not access QuickBooks.", qbhr::CouldNotAccess);

    std::string response;
    try {
        session.Store->Use([&](TCompanyFile& file) {
            bool changed = false;
            response = session.Responder.Process(file, request, session.Host, std::time(nullptr), changed);
            return changed;
        });
    } catch (const TQbError&) {
        throw;
    } catch (const std::exception&) {
        throw TQbError("Could not access QuickBooks.", qbhr::CouldNotAccess);
    }
    return response;
}

void TQbSimRequestProcessor::EndSession(const std::string& ticketArgument) {
    std::string ticket = ticketArgument; // the argument may be the key erased below
    SessionOf(ticket);
    sessions_.erase(ticket);
    home_.UpdateState([&](TQbState& s) {
        std::erase_if(s.Sessions, [&](const TQbSessionRecord& r) { return r.Ticket == ticket; });
        if (s.Background && s.Sessions.empty()) {
            s.Running = false;
            s.CompanyFile.clear();
            s.Background = false;
            s.MultiUser = false;
        }
    });
}

void TQbSimRequestProcessor::CloseConnection() {
    while (!sessions_.empty()) EndSession(sessions_.begin()->first);
    connected_ = false;
}

} // namespace dm
