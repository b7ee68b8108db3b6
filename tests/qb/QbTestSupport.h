#pragma once

#include "TestSupport.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>
#include <string>
#include <vector>

namespace dmtest {

// A qbXML request message set around the requests.
inline std::string QbRequest(const std::string& requests, const std::string& onError = "stopOnError") {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<?qbxml version=\"13.0\"?>\n<QBXML>\n<QBXMLMsgsRq onError=\"" +
           onError + "\">\n" + requests + "</QBXMLMsgsRq>\n</QBXML>\n";
}

// The response parsed by a real XML parser; the test fails when it is not well-formed.
inline pugi::xml_document ParseXml(const std::string& text) {
    pugi::xml_document doc;
    pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size());
    EXPECT_TRUE(result) << result.description() << "\n" << text;
    return doc;
}

// The responses of a parsed message set, in order.
inline std::vector<pugi::xml_node> Responses(const pugi::xml_document& doc) {
    std::vector<pugi::xml_node> responses;
    for (pugi::xml_node n : doc.child("QBXML").child("QBXMLMsgsRs").children()) responses.push_back(n);
    return responses;
}

inline std::string Fixture(const std::string& name) {
    return ReadFileBytes(std::string(DM_SOURCE_DIR) + "/tests/qb/fixtures/" + name);
}

} // namespace dmtest
