#pragma once

// One connection to QuickBooks and at most one company-file session on it, with the calls in
// the order the request processor wants them: create, OpenConnection, the authorisation
// preferences, BeginSession, ..., EndSession, CloseConnection, release. Closing is safe in
// every state and never throws, so a session that fails half-way still leaves QuickBooks
// with nothing of ours open.

#include "qb/RequestProcessor.h"

#include <memory>
#include <string>

namespace dm {

class TQbSession {
public:
    TQbSession() = default;
    ~TQbSession() { Close(); }
    TQbSession(const TQbSession&) = delete;
    TQbSession& operator=(const TQbSession&) = delete;

    // Creates the processor unless one is kept, opens the connection under the agent's name and
    // sets the authorisation preferences. Throws TQbError (or what the processor throws).
    void Open();
    // Opens the company file (path "" for the one open in QuickBooks) in one of the
    // kQbFileOpen* modes. Throws; no ticket is kept then.
    void Begin(const std::string& path, int mode);

    bool Connected() const { return connected_; }
    const std::string& Ticket() const { return ticket_; }
    // The open processor; throws TQbError when there is none.
    TRequestProcessor& Processor();

    // Ends the company-file session and closes the connection, ignoring their failures: there
    // is nothing left to do with a connection that will not close. keepProcessor leaves the
    // object for the next Open (a redirected session reconnects with the same processor).
    void Close(bool keepProcessor = false) noexcept;

private:
    std::unique_ptr<TRequestProcessor> processor_;
    bool connected_ = false;
    std::string ticket_;
};

} // namespace dm
