#pragma once
// What the GPX and KML writers share: the pugixml document with its UTF-8 declaration, text
// elements, and the serialised bytes.
#include <pugixml.hpp>

#include <string>
#include <string_view>

namespace mapexport {

// An empty document that starts with <?xml version="1.0" encoding="UTF-8"?>.
void StartDocument(pugi::xml_document& doc);

// Appends <name>text</name> under `parent`; the text is made fit for XML first.
pugi::xml_node AddText(pugi::xml_node parent, const char* name, std::string_view text);

// The document as UTF-8 bytes, indented by two blanks, ending with a line feed.
std::string Serialize(const pugi::xml_document& doc);

}  // namespace mapexport
