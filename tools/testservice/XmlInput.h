#pragma once

// Strict reading of the XML the agent sends. pugixml on its own lets a bare "&" through as
// text; a real service's parser would refuse it, and so must we, or an escaping fault in the
// agent would pass unnoticed.

#include <pugixml.hpp>

#include <string>

namespace dm {

// False, with the reason, for text that is not a well-formed XML document.
bool ParseStrict(const std::string& text, pugi::xml_document& doc, std::string& error);

std::string LocalName(const pugi::xml_node& node);
// The namespace URI the element's prefix (or the default namespace) is bound to.
std::string NamespaceOf(const pugi::xml_node& node);
// The first element child with that local name and namespace.
pugi::xml_node ChildNs(const pugi::xml_node& node, const char* local, const std::string& ns);

} // namespace dm
