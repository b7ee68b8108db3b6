// Any bytes handed to the stand-in's request processing must give either QuickBooks' parse
// error or a well-formed qbXML response: no crash, no hang, no malformed answer.

#include "qb/QbXmlResponder.h"
#include "qb/RequestProcessor.h"
#include "qb/SampleCompany.h"

#include <cstdint>
#include <cstdlib>
#include <pugixml.hpp>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::int64_t kNow = 1700000000;
    static const dm::TCompanyFile sample = dm::MakeSampleCompany("Demo Co", kNow);
    dm::TCompanyFile file = sample;
    dm::TQbXmlResponder responder;
    std::string_view request(reinterpret_cast<const char*>(data), size);
    bool changed = false;
    // The second round answers from what the first one added.
    for (int round = 0; round < 2; ++round) {
        std::string response;
        try {
            response = responder.Process(file, request, {}, kNow + round, changed);
        } catch (const dm::TQbError& e) {
            if (e.Code() != dm::qbhr::ParseError) std::abort();
            return 0;
        }
        pugi::xml_document doc;
        if (!doc.load_buffer(response.data(), response.size(), pugi::parse_default, pugi::encoding_utf8) ||
            !doc.child("QBXML").child("QBXMLMsgsRs"))
            std::abort();
    }
    return 0;
}
