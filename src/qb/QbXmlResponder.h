#pragma once

// QuickBooks' side of qbXML: one request message set in, its response message set out,
// answered from a company file. Requests are read with a real XML parser; what is not
// well-formed qbXML is refused the way QuickBooks refuses it (a COM error), while requests
// it does not know, bad values and missing records get error statuses in the response.

#include "qb/CompanyFile.h"

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace dm {

// How the session was opened, as HostQuery reports it.
struct TQbHostInfo {
    bool AutomaticLogin = false;
    bool MultiUser = false;
};

class TQbXmlResponder {
public:
    // Throws TQbError with qbhr::ParseError for text that is not a qbXML request. Sets
    // changed when an add request changed the file (even when a later request failed).
    std::string Process(TCompanyFile& file, std::string_view request, const TQbHostInfo& host,
                        std::int64_t now, bool& changed);

    // Iterators stay open until walked to the end or stopped.
    size_t OpenIterators() const { return iterators_.size(); }

    struct TQuery {
        std::vector<std::string> Ids, Names; // ListID or TxnID; FullName or RefNumber
        int MaxReturned = -1;
        std::int64_t FromModified = std::numeric_limits<std::int64_t>::min();
        std::int64_t ToModified = std::numeric_limits<std::int64_t>::max();
        std::string FromTxnDate, ToTxnDate;
        std::vector<std::string> EntityIds, EntityNames;
        std::string ActiveStatus = "ActiveOnly", PaidStatus = "All";
        std::string NameMatch, NameText;
        bool IncludeLineItems = false, IncludeLinkedTxns = false;
        std::vector<std::string> RetElements;
    };

private:
    struct TIterator {
        std::string Request;
        std::vector<size_t> Rows;
        size_t Next = 0;
        TQuery Query;
    };
    std::map<std::string, TIterator> iterators_;

    friend class TQbRequestRunner;
};

} // namespace dm
